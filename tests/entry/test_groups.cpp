// Consistency groups through prepare and create: one group named for the request,
// made by the first device, one group PiT that the followers record.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "testsupport/EntryHost.h"

namespace {

using namespace testsupport;
using S = RKSO::SnapStatus;

// Three volumes, the first already in `groups` consistency groups of its own.
sim::Config withGroupsOfFirst(int groups) {
    sim::Config c = EntryConfig(Labels("v", 3));
    sim::Array& a = c.arrays.front();
    for (int i = 0; i < groups; ++i)
        a.consistencyGroups.push_back({sim::makeRef("entry-cg" + std::to_string(i)),
                                       "old" + std::to_string(i),
                                       {a.findVolumeByLabel("v01")->uuid},
                                       1});
    a.reindex();
    return c;
}

TEST(ConsistencyGroups, PrepareNamesTheGroupAndCreateMakesOnePiT) {
    struct Row {
        const char* name;
        int groupsOfFirst;
        bool refuseSecondMember, refuseGroupPiT;
        const char* wantName;  // "" when no group may be left
        int wantPrepare, wantSnap;
        std::string line;  // on the first device
    } rows[] = {
        // clang-format off
        {"new group", 0, false, false, "11A1_7", 0, 0, "Consistency Group name [11A1_7]"},
        {"volume in three groups", 3, false, false, "41A1_7", 0, 0, ""},
        {"volume in four groups", 4, false, false, "", 1, 1, "Few of the source volumes are already members of 4 Consistency Group."},
        // The group goes again: members prepared into it must not stay prepared.
        {"second member refused", 0, true, false, "", 1, 1, "Consistency Group [11A1_7] was deleted"},
        // Followers may not claim a group PiT that was never made.
        {"group PiT refused", 0, false, true, "11A1_7", 0, 1, ""},
        // clang-format on
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::TestServer sim(withGroupsOfFirst(row.groupsOfFirst), PlainHttp());
        EntryHost host(sim);
        const std::vector<std::string> labels = Labels("v", 3);
        auto devs = host.devices(labels);
        host.configureAll("SMCONFIG_NAME_USE_CONSISTENCY_GROUP", "1");
        if (row.refuseSecondMember) sim.failReturnValue(4, 1, {"", "AddMembers", ""}, 1);
        EXPECT_EQ(host.prepare(devs), row.wantPrepare);
        const bool made = *row.wantName != '\0';
        std::vector<std::vector<std::string>> prepared;
        for (const std::string& label : labels) {
            EXPECT_EQ(host.device(label).status(),
                      made ? S::SNAP_STATUS_PREPARED : S::SNAP_STATUS_PREPARE_FAILED)
                << label;
            prepared.push_back(IdentifierFields(host.device(label)));
        }
        sim::Array array = sim.provider().currentState().arrays[0];
        size_t members = 0;
        for (const sim::ConsistencyGroup& g : array.consistencyGroups)
            if (g.label == row.wantName) members = g.members.size();
        EXPECT_EQ(members, made ? 3u : 0u);
        EXPECT_EQ(array.consistencyGroups.size(), static_cast<size_t>(row.groupsOfFirst + made));
        EXPECT_TRUE(array.pitGroups.empty());
        EXPECT_TRUE(row.line.empty() || host.device("v01").logContains(row.line));
        if (!made) continue;

        sim.log().clear();
        if (row.refuseGroupPiT)
            sim.failReturnValue(4, 1, {"InvokeMethod", "CreateSynchronizationAspect", ""});
        EXPECT_EQ(host.snap(devs), row.wantSnap);
        const auto calls = Calls(sim, "CreateSynchronizationAspect");
        ASSERT_EQ(calls.size(), 1u) << "one group PiT for all";
        array = sim.provider().currentState().arrays[0];
        std::set<std::string> pitNames;
        for (size_t i = 0; i < labels.size(); ++i) {
            FakeSnapInfo& dev = host.device(labels[i]);
            const std::vector<std::string> f = IdentifierFields(dev);
            EXPECT_EQ(dev.status(),
                      row.refuseGroupPiT ? S::SNAP_STATUS_CREATE_FAILED : S::SNAP_STATUS_CREATED)
                << i;
            if (row.refuseGroupPiT) {
                EXPECT_EQ(f, prepared[i]) << "identifier unchanged, " << i;
                EXPECT_TRUE(dev.logContains(i == 0 ? "PiT/CGPiT Creation failed"
                                                   : "group PiT of the first device was not made"))
                    << i;
                continue;
            }
            ASSERT_EQ(f.size(), 10u);
            EXPECT_EQ(f[9], row.wantName);
            pitNames.insert(f[8]);
        }
        if (row.refuseGroupPiT) continue;
        ASSERT_EQ(pitNames.size(), 1u) << "followers record the group PiT";
        EXPECT_NE(array.findCgPiT(*pitNames.begin()), nullptr) << *pitNames.begin();
    }
}

}  // namespace
