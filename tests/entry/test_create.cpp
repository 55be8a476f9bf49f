// Create through rkso_snapDevices, after a prepare through rkso_prepareDevices.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "testsupport/EntryHost.h"
#include "testsupport/LogCapture.h"
#include "testsupport/TalonConfig.h"

namespace {

using namespace testsupport;

TEST(Create, EveryPreparedPiTDeviceGetsItsOwnPiT) {
    struct Row {
        const char* name;
        int devices;
        std::string tuning;
        int failNth;  // 0: none; else the nth PiT request fails
    } rows[] = {
        {"one device", 1, "", 0},
        {"eight in parallel", 8, "", 0},
        {"eight in turn", 8, "LSI_SNAP_NO_PARALLEL = 1", 0},
        {"eight in parallel, one fails", 8, "", 5},
        {"eight in turn, one fails", 8, "LSI_SNAP_NO_PARALLEL = 1", 3},
    };
    for (const Row& row : rows) {
        const std::vector<std::string> labels = Labels("src", row.devices);
        sim::TestServer sim(EntryConfig(labels), PlainHttp());
        EntryHost host(sim, {54, 3, "", row.tuning});
        auto devs = host.devices(labels);
        ASSERT_EQ(host.prepare(devs), 0) << row.name;
        sim.log().clear();
        if (row.failNth)
            sim.failReturnValue(4, 1, {"InvokeMethod", "CreateSynchronizationAspect", ""},
                                row.failNth - 1);
        EXPECT_EQ(host.snap(devs), row.failNth ? 2 : 0) << row.name;
        EXPECT_EQ(CountRequests(sim, "InvokeMethod", "CreateSynchronizationAspect"), labels.size())
            << row.name;
        const sim::Array array = sim.provider().currentState().arrays[0];
        EXPECT_EQ(array.pits.size(), labels.size() - (row.failNth ? 1 : 0)) << row.name;
        std::set<std::string> pits;
        int failed = 0;
        for (const std::string& label : labels) {
            FakeSnapInfo& dev = host.device(label);
            const std::vector<std::string> f = IdentifierFields(dev);
            ASSERT_EQ(f.size(), 10u) << row.name;
            if (dev.status() == RKSO::SNAP_STATUS_CREATE_FAILED) {
                ++failed;
                EXPECT_TRUE(dev.logContains("rkso_snapDevices: PiT/CGPiT Creation failed"));
                EXPECT_TRUE(f[8].empty()) << row.name << ": the prepared identifier stays";
                continue;
            }
            EXPECT_EQ(dev.status(), RKSO::SNAP_STATUS_CREATED) << row.name << ": " << label;
            EXPECT_NE(array.findPiT(f[8]), nullptr) << row.name << ": " << f[8];
            EXPECT_EQ(f[1], "7") << row.name;
            EXPECT_EQ(f[6], "null") << row.name;
            EXPECT_EQ(f[9], "null") << row.name;
            pits.insert(f[8]);
        }
        EXPECT_EQ(failed, row.failNth ? 1 : 0) << row.name;
        EXPECT_EQ(pits.size(), labels.size() - failed) << row.name << ": one PiT each";
    }
}

// The capability stored at prepare saves the engine lookup; without it an unreadable
// engine record fails the call at the first device.
TEST(Create, CapabilityComesFromPrepareOrTheEngineRecord) {
    struct Row {
        const char* name;
        bool keepCapability;
        bool engineRecord;
        int wantResult;
    } rows[] = {
        {"stored by prepare", true, false, 0},
        {"looked up", false, true, 0},
        {"neither", false, false, 1},
    };
    for (const Row& row : rows) {
        sim::TestServer sim(EntryConfig(Labels("src", 2)), PlainHttp());
        EntryHost host(sim);
        auto devs = host.devices(Labels("src", 2));
        ASSERT_EQ(host.prepare(devs), 0) << row.name;
        for (const std::string& label : Labels("src", 2)) {
            FakeSnapInfo& dev = host.device(label);
            if (!row.keepCapability)
                dev.setMetaDataText(RKSO::METADATA_ENGINE_CAPABILITY, "not a number");
        }
        // The host configuration without (or with) the engine record from here on.
        TalonConfig engines("", row.engineRecord ? "[Engines]\n54 = {SnapVendorName:LSI,"
                                                   "Capabilities:1}\n"
                                                 : "");
        FakeSnapInfo& first = host.device("src01");
        const size_t linesBefore = first.logLines().size();
        EXPECT_EQ(host.snap(devs), row.wantResult) << row.name;
        bool lookedUp = false;
        const std::vector<LogLine> lines = first.logLines();
        for (size_t i = linesBefore; i < lines.size(); ++i)
            if (lines[i].text.find("SnapVendorName") != std::string::npos ||
                lines[i].text.find("Failed to get engine info") != std::string::npos)
                lookedUp = true;
        EXPECT_EQ(lookedUp, !row.keepCapability) << row.name;
        EXPECT_EQ(first.status(),
                  row.wantResult == 0 ? RKSO::SNAP_STATUS_CREATED : RKSO::SNAP_STATUS_CREATE_FAILED)
            << row.name;
        EXPECT_EQ(host.device("src02").status(),
                  row.wantResult == 0 ? RKSO::SNAP_STATUS_CREATED : RKSO::SNAP_STATUS_PREPARED)
            << row.name;
        EXPECT_EQ(first.logContains("Failed to get capabilities for snap engine id-[54]"),
                  row.wantResult != 0)
            << row.name;
    }
}

// One group PiT for the whole consistency group; a follower succeeds only when the
// first device made it.
TEST(Create, ConsistencyGroupGetsOnePiTForAllMembers) {
    struct Row {
        const char* name;
        bool groupPiTFails;
    } rows[] = {
        {"group PiT made", false},
        {"group PiT refused", true},
    };
    for (const Row& row : rows) {
        const std::vector<std::string> labels = Labels("src", 3);
        sim::TestServer sim(EntryConfig(labels), PlainHttp());
        EntryHost host(sim);
        auto devs = host.devices(labels);
        host.configureAll("SMCONFIG_NAME_USE_CONSISTENCY_GROUP", "1");
        ASSERT_EQ(host.prepare(devs), 0) << row.name;
        std::vector<std::vector<std::string>> prepared;
        for (const std::string& label : labels)
            prepared.push_back(IdentifierFields(host.device(label)));
        sim.log().clear();
        if (row.groupPiTFails)
            sim.failReturnValue(4, 1, {"InvokeMethod", "CreateSynchronizationAspect", ""});
        EXPECT_EQ(host.snap(devs), row.groupPiTFails ? 1 : 0) << row.name;
        const std::vector<sim::RequestRecord> calls = Calls(sim, "CreateSynchronizationAspect");
        ASSERT_EQ(calls.size(), 1u) << row.name;
        EXPECT_NO_THROW(Param(calls[0], "SourceGroup")) << row.name;
        const sim::Array array = sim.provider().currentState().arrays[0];
        EXPECT_EQ(array.cgPits.size(), row.groupPiTFails ? 0u : 1u) << row.name;
        std::set<std::string> pitNames;
        for (size_t i = 0; i < labels.size(); ++i) {
            FakeSnapInfo& dev = host.device(labels[i]);
            const std::vector<std::string> f = IdentifierFields(dev);
            if (row.groupPiTFails) {
                EXPECT_EQ(dev.status(), RKSO::SNAP_STATUS_CREATE_FAILED) << row.name << i;
                EXPECT_EQ(f, prepared[i]) << row.name << ": identifier unchanged, " << i;
                continue;
            }
            EXPECT_EQ(dev.status(), RKSO::SNAP_STATUS_CREATED) << row.name << ": " << i;
            ASSERT_EQ(f.size(), 10u) << row.name;
            EXPECT_EQ(f[9], prepared[0][9]) << row.name;
            pitNames.insert(f[8]);
        }
        if (!row.groupPiTFails) {
            EXPECT_EQ(pitNames.size(), 1u) << row.name << ": followers record the group PiT";
            EXPECT_NE(array.findCgPiT(*pitNames.begin()), nullptr) << *pitNames.begin();
        }
    }
}

TEST(Create, ADeviceWithoutAUsableIdentifierEndsTheLoop) {
    struct Row {
        const char* name;
        std::string identifier;  // "": metadata unreadable
        std::string line;
    } rows[] = {
        {"metadata unreadable", "", "Failed to get metadata [id : 1]"},
        {"too few fields", "A*7*svc", "Failed to parse unique  identifier [A*7*svc]"},
        {"no array id", "*7*svc*src*path*dg*null*null**null",
         "Failed to initialize the Array parameters"},
    };
    for (const Row& row : rows) {
        const std::vector<std::string> labels = Labels("src", 3);
        sim::TestServer sim(EntryConfig(labels), PlainHttp());
        EntryHost host(sim);
        auto devs = host.devices(labels);
        ASSERT_EQ(host.prepare(devs), 0) << row.name;
        FakeSnapInfo& second = host.device("src02");
        if (row.identifier.empty())
            second.failCall("getMetaData");
        else
            second.setMetaDataText(RKSO::METADATA_SNAP_UNIQUE_ID, row.identifier);
        EXPECT_EQ(host.snap(devs), 2) << row.name;
        EXPECT_EQ(host.device("src01").status(), RKSO::SNAP_STATUS_CREATED) << row.name;
        EXPECT_EQ(second.status(), RKSO::SNAP_STATUS_CREATE_FAILED) << row.name;
        EXPECT_TRUE(second.logContains(row.line)) << row.name;
        EXPECT_EQ(host.device("src03").status(), RKSO::SNAP_STATUS_PREPARED) << row.name;
    }
}

}  // namespace
