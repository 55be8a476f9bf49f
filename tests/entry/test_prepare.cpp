// Prepare through rkso_prepareDevices: devices the host sees through the simulator's
// fabric, PiT groups and consistency groups made on the simulated array.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "testsupport/EntryHost.h"
#include "testsupport/LogCapture.h"

namespace {

using namespace testsupport;

size_t groupsLabelled(sim::TestServer& sim, const std::string& label) {
    size_t n = 0;
    for (const sim::PiTGroup& g : sim.provider().currentState().arrays[0].pitGroups)
        if (g.label == label) ++n;
    return n;
}

TEST(Prepare, PiTDevicesGetOneGroupEachAndTheirIdentifier) {
    struct Row {
        const char* name;
        std::vector<std::string> devices;
        std::string tuning;
        size_t groups;
    } rows[] = {
        {"one device", {"src01"}, "", 1},
        {"three in parallel", {"src01", "src02", "src03"}, "", 3},
        {"three in turn", {"src01", "src02", "src03"}, "LSI_SNAP_NO_PARALLEL = 1", 3},
        // Two records of one volume race for one group; the second must reuse it.
        {"one volume twice", {"src01", "src01#2", "src01#3"}, "", 1},
    };
    for (const Row& row : rows) {
        sim::TestServer sim(EntryConfig({"src01", "src02", "src03"}), PlainHttp());
        EntryHost host(sim, {54, 3, "", row.tuning});
        auto devs = host.devices(row.devices);
        EXPECT_EQ(host.prepare(devs), 0) << row.name;
        const sim::Array array = sim.provider().currentState().arrays[0];
        EXPECT_EQ(array.pitGroups.size(), row.groups) << row.name;
        EXPECT_EQ(CountRequests(sim, "InvokeMethod", "CreatePiTGroup"), row.groups) << row.name;
        for (const std::string& key : row.devices) {
            FakeSnapInfo& dev = host.device(key);
            const std::string label = key.substr(0, key.find('#'));
            EXPECT_EQ(dev.status(), RKSO::SNAP_STATUS_PREPARED) << row.name << ": " << key;
            EXPECT_EQ(dev.metaData(RKSO::METADATA_ENGINE_CAPABILITY), "3") << row.name;
            const std::vector<std::string> f = IdentifierFields(dev);
            ASSERT_EQ(f.size(), 10u) << row.name << ": " << key;
            EXPECT_EQ(f[0], array.id) << row.name;
            EXPECT_EQ(f[1], "7") << row.name;
            EXPECT_NE(f[2].find("ReplicationService"), std::string::npos) << row.name;
            EXPECT_EQ(f[3], array.findVolumeByLabel(label)->uuid) << row.name;
            EXPECT_NE(f[4].find(f[3]), std::string::npos) << row.name << ": source path";
            EXPECT_EQ(f[6], "null") << row.name;
            EXPECT_EQ(f[7], "null") << row.name;
            EXPECT_EQ(f[9], "null") << row.name;
            EXPECT_EQ(groupsLabelled(sim, label + "_SMIS_PG"), 1u) << row.name;
        }
    }
}

// Steps before the worker starts end the loop at the first failure: the later
// devices keep the status they had.
TEST(Prepare, AFailedDeviceEndsTheLoopAndLeavesLaterDevicesAlone) {
    using Break = std::function<void(FakeSnapInfo&)>;
    struct Row {
        const char* name;
        Break breakSecond;
        int wantError;
        std::string line;
    } rows[] = {
        {"not seen by the host", [](FakeSnapInfo& d) { d.setDevicePathValue("/dev/sdzz"); }, 60557,
         "Failed to get LSI Array name from host device name[/dev/sdzz]"},
        {"array record unreadable", [](FakeSnapInfo& d) { d.failCall("getArrayInfo"); }, 62005,
         "Failed to initialize the Array parameters"},
        {"array not selectable", [](FakeSnapInfo& d) { d.failCall("setArrayName"); }, 0,
         "Failed to initialize the Array parameters"},
        {"wrong password",
         [](FakeSnapInfo& d) {
             d.setArrayInfoText(
                 "{hostName:127.0.0.1,hostUserName:snapuser,hostPassword:bad,"
                 "engineId:54}");
         },
         60555, "Prepare snapshot failed for the source device"},
    };
    for (const Row& row : rows) {
        sim::TestServer sim(EntryConfig({"src01", "src02", "src03"}), PlainHttp());
        EntryHost host(sim);
        auto devs = host.devices({"src01", "src02", "src03"});
        host.device("src03").setStatus(RKSO::SNAP_STATUS_UNPREPARED);
        row.breakSecond(host.device("src02"));
        EXPECT_EQ(host.prepare(devs), 2) << row.name;
        EXPECT_EQ(host.device("src01").status(), RKSO::SNAP_STATUS_PREPARED) << row.name;
        FakeSnapInfo& second = host.device("src02");
        EXPECT_EQ(second.status(), RKSO::SNAP_STATUS_PREPARE_FAILED) << row.name;
        EXPECT_EQ(second.errorCode(), row.wantError) << row.name << ": " << second.errorText();
        EXPECT_TRUE(second.logContains(row.line)) << row.name;
        EXPECT_FALSE(second.metaData(RKSO::METADATA_SNAP_UNIQUE_ID)) << row.name;
        const bool workerFailure = row.wantError == 60555;  // the loop goes on past a worker
        EXPECT_EQ(host.device("src03").status(),
                  workerFailure ? RKSO::SNAP_STATUS_PREPARED : RKSO::SNAP_STATUS_UNPREPARED)
            << row.name;
    }
}

sim::Config withGroupsOf(const std::string& label, int groups) {
    sim::Config c = EntryConfig(Labels("src", 4));
    sim::Array& a = c.arrays.front();
    for (int i = 0; i < groups; ++i) {
        sim::ConsistencyGroup g;
        g.ref = sim::makeRef("cg-test:" + std::to_string(i));
        g.label = "old" + std::to_string(i);
        g.members = {a.findVolumeByLabel(label)->uuid};
        a.consistencyGroups.push_back(g);
    }
    a.reindex();
    return c;
}

TEST(Prepare, ConsistencyGroupIsMadeOnceAndNamedForTheRequest) {
    struct Row {
        const char* name;
        int existingGroups;  // groups src01 is already in
        int wantResult;
        std::string wantName;  // "" when no group may be made
    } rows[] = {
        {"first group of the volumes", 0, 0, "11A1_7"},
        {"volume in three groups", 3, 0, "41A1_7"},
        {"volume in four groups", 4, 1, ""},
    };
    for (const Row& row : rows) {
        sim::TestServer sim(withGroupsOf("src01", row.existingGroups), PlainHttp());
        EntryHost host(sim);
        auto devs = host.devices({"src01", "src02", "src03"});
        host.configureAll("SMCONFIG_NAME_USE_CONSISTENCY_GROUP", "1");
        EXPECT_EQ(host.prepare(devs), row.wantResult) << row.name;
        const sim::Array array = sim.provider().currentState().arrays[0];
        EXPECT_EQ(CountRequests(sim, "InvokeMethod", "CreateGroup"), row.wantName.empty() ? 0u : 1u)
            << row.name;
        EXPECT_TRUE(array.pitGroups.empty()) << row.name;
        for (const char* label : {"src01", "src02", "src03"}) {
            FakeSnapInfo& dev = host.device(label);
            if (row.wantName.empty()) {
                EXPECT_EQ(dev.status(), RKSO::SNAP_STATUS_PREPARE_FAILED) << row.name;
                continue;
            }
            EXPECT_EQ(dev.status(), RKSO::SNAP_STATUS_PREPARED) << row.name << ": " << label;
            const std::vector<std::string> f = IdentifierFields(dev);
            ASSERT_EQ(f.size(), 10u) << row.name;
            EXPECT_EQ(f[9], row.wantName) << row.name << ": " << label;
            EXPECT_NE(f[8].find("ConsistencyGroup"), std::string::npos)
                << row.name << ": the group's path, for create: " << f[8];
        }
        EXPECT_EQ(host.device("src01").logContains("Few of the source volumes are already "
                                                   "members of 4 Consistency Group."),
                  row.wantName.empty())
            << row.name;
        if (row.wantName.empty()) continue;
        size_t members = 0;
        for (const sim::ConsistencyGroup& g : array.consistencyGroups)
            if (g.label == row.wantName) members = g.members.size();
        EXPECT_EQ(members, 3u) << row.name;
    }
}

// A member that cannot join deletes the group: the devices already prepared into it
// in this call must not keep status 1 with a group that is gone.
TEST(Prepare, AGroupDeletedAfterAFailedMemberFailsEveryMember) {
    sim::TestServer sim(EntryConfig(Labels("src", 3)), PlainHttp());
    EntryHost host(sim);
    auto devs = host.devices({"src01", "src02", "src03"});
    host.configureAll("SMCONFIG_NAME_USE_CONSISTENCY_GROUP", "1");
    sim.failReturnValue(4, 1, {"InvokeMethod", "AddMembers", ""}, 1);
    EXPECT_EQ(host.prepare(devs), 1);
    for (const char* label : {"src01", "src02", "src03"})
        EXPECT_EQ(host.device(label).status(), RKSO::SNAP_STATUS_PREPARE_FAILED) << label;
    EXPECT_TRUE(host.device("src01").logContains("Consistency Group [11A1_7] was deleted"));
    EXPECT_TRUE(sim.provider().currentState().arrays[0].consistencyGroups.empty());
    EXPECT_EQ(CountRequests(sim, "InvokeMethod", "DeleteGroup"), 1u);
}

// The array record may be logged for diagnosis, never with its password.
TEST(Prepare, ArrayRecordIsLoggedWithoutItsPassword) {
    LogCapture module;
    sim::TestServer sim(EntryConfig({"src01"}), PlainHttp());
    EntryHost host(sim, {54, 3, "", "PRINT_LSI_INFO_FROM_DB = 1"});
    auto devs = host.devices({"src01"});
    EXPECT_EQ(host.prepare(devs), 0);
    FakeSnapInfo& dev = host.device("src01");
    EXPECT_TRUE(
        dev.logContains("Array info received from DB [{hostName:127.0.0.1,hostUserName:"
                        "snapuser,hostPassword:****,engineId:54}]"));
    ExpectNoPassword(dev, module, "PRINT_LSI_INFO_FROM_DB");
}

}  // namespace
