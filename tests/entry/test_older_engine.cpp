// Prepare and create on the older snapshot engine: replicas and clones made through
// the generic replication services of the simulated array.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/EntryHost.h"

namespace {

using namespace testsupport;

TEST(OlderEngine, TheRecordedOperationIsTheOneBuilt) {
    struct Row {
        const char* name;
        int capability;
        const char* failMethod;     // answers 4 once; "" none
        const char* wantOperation;  // "" when nothing may be left
        int wantError;
        std::string line;
    } rows[] = {
        {"snapshot engine", 1, "", "4", 0, ""},
        // Where the engine can do both, a clone is built and must be recorded as one.
        {"both kinds", 3, "", "5", 0, ""},
        {"clone not attached", 2, "AttachOrModifyReplica", "", 60554,
         "Attach of clone volume failed, going to delete clone volume"},
        {"no room for the replica", 1, "CreateReplica", "", 60549,
         " Prepare snapshot failed for the source device"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::TestServer sim(EntryConfig({"src01"}), PlainHttp());
        EntryHost host(sim, {12, row.capability, "", ""});
        auto devs = host.devices({"src01"});
        const size_t volumesBefore = sim.provider().currentState().arrays[0].volumes.size();
        if (*row.failMethod) sim.failReturnValue(4, 1, {"InvokeMethod", row.failMethod, ""});
        FakeSnapInfo& dev = host.device("src01");
        const bool built = *row.wantOperation != '\0';
        EXPECT_EQ(host.prepare(devs), built ? 0 : 1) << dev.errorText();
        const sim::Array array = sim.provider().currentState().arrays[0];
        EXPECT_EQ(array.volumes.size(), volumesBefore + (built ? 1 : 0));
        if (!built) {
            EXPECT_EQ(dev.status(), RKSO::SNAP_STATUS_PREPARE_FAILED);
            EXPECT_TRUE(dev.logContains(row.line));
            EXPECT_EQ(dev.errorCode(), row.wantError) << dev.errorText();
            continue;
        }
        std::vector<std::string> f = IdentifierFields(dev);
        ASSERT_EQ(f.size(), 8u);
        EXPECT_EQ(f[1], row.wantOperation);
        EXPECT_NE(array.findVolume(f[6]), nullptr) << ": target " << f[6];
        sim.log().clear();
        EXPECT_EQ(host.snap(devs), 0) << dev.errorText();
        EXPECT_EQ(dev.status(), RKSO::SNAP_STATUS_CREATED);
        EXPECT_EQ(dev.snapFlagsSet(), std::vector<int>{1});
        EXPECT_EQ(CountRequests(sim, "InvokeMethod", "ModifySynchronization"), 1u);
        f = IdentifierFields(dev);
        ASSERT_EQ(f.size(), 8u);
        EXPECT_EQ(f[1], row.wantOperation);
    }
}

}  // namespace
