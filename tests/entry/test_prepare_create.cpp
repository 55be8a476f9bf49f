// Prepare and create on the simulated array, devices seen through its fabric.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

#include "testsupport/EntryHost.h"

namespace {

using namespace testsupport;
using S = RKSO::SnapStatus;

TEST(PrepareCreate, EveryPiTDeviceGetsItsGroupOnceAndItsOwnPiT) {
    // keys: "v01#2" is a second record of v01; refusePiT: the nth PiT request is refused, 0 none
    // clang-format off
    struct Row { const char* name; std::vector<std::string> keys; std::string tuning; int refusePiT; size_t groups; } rows[] = {
        {"one volume three times", {"v01", "v01#2", "v01#3"}, "", 0, 1},
        {"eight, one PiT refused", Labels("v", 8), "", 5, 8},
        {"eight in turn, one refused", Labels("v", 8), "LSI_SNAP_NO_PARALLEL = 1", 3, 8},
        // Also the ThreadSanitizer run: 64 workers at once.
        {"sixty-four in parallel", Labels("v", 64), "", 0, 64},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<std::string> labels = Labels("v", std::max<int>(8, row.keys.size()));
        // Threads enough that no kept connection is closed: a method call is never resent.
        sim::TestServerOptions options = PlainHttp();
        options.maxThreads = 256;
        sim::TestServer sim(EntryConfig(labels), options);
        EntryHost host(sim, {54, 3, "", row.tuning});
        auto devs = host.devices(row.keys);
        EXPECT_EQ(host.prepare(devs), 0);
        EXPECT_TRUE(
            host.device(row.keys[0])
                .logContains(
                    "Array info received from DB [{hostName:127.0.0.1,hostUserName:snapuser,"
                    "hostPassword:****,engineId:54}"));
        sim::Array array = sim.provider().currentState().arrays[0];
        EXPECT_EQ(array.pitGroups.size(), row.groups);
        EXPECT_EQ(CountRequests(sim, "InvokeMethod", "CreatePiTGroup"), row.groups);
        for (const std::string& key : row.keys) {
            const std::vector<std::string> f = IdentifierFields(host.device(key));
            ASSERT_EQ(f.size(), 10u) << key;
            const std::string uuid = array.findVolumeByLabel(key.substr(0, 3))->uuid;
            EXPECT_EQ(f[0] + f[1] + f[3] + f[6] + f[7] + f[9],
                      array.id + "7" + uuid + "nullnullnull")
                << key;
        }
        sim.log().clear();
        if (row.refusePiT)
            sim.failReturnValue(4, 1, {"InvokeMethod", "CreateSynchronizationAspect", ""},
                                row.refusePiT - 1);
        EXPECT_EQ(host.snap(devs), row.refusePiT ? 2 : 0);
        EXPECT_EQ(sim.requests().size(), 2 * row.keys.size()) << ": round trips";
        array = sim.provider().currentState().arrays[0];
        std::set<std::string> pits;
        for (const std::string& key : row.keys) {
            FakeSnapInfo& dev = host.device(key);
            const std::vector<std::string> f = IdentifierFields(dev);
            ASSERT_EQ(f.size(), 10u);
            if (dev.status() == S::SNAP_STATUS_CREATE_FAILED) {
                EXPECT_TRUE(dev.logContains("rkso_snapDevices: PiT/CGPiT Creation failed"));
                EXPECT_EQ(f[8], "") << ": the prepared identifier stays";
                continue;
            }
            EXPECT_EQ(dev.status(), S::SNAP_STATUS_CREATED) << key;
            EXPECT_NE(array.findPiT(f[8]), nullptr) << f[8];
            pits.insert(f[8]);
        }
        EXPECT_EQ(pits.size(), row.keys.size() - (row.refusePiT ? 1 : 0));
        EXPECT_EQ(array.pits.size(), pits.size());
    }
}

// A failure before the worker ends the loop; in the worker, it fails one device only.
TEST(PrepareCreate, FailuresEndTheLoopBeforeTheWorkerAndFailOneDeviceAfter) {
    using Break = std::function<void(FakeSnapInfo&)>;
    // clang-format off
    struct Row { const char* name; bool inSnap; Break breakSecond; int wantError; std::string line; S third; } rows[] = {
        {"not seen by the host", false, [](FakeSnapInfo& d) { d.setDevicePathValue("/dev/sdzz"); }, 60557, "Failed to get LSI Array name from host device name[/dev/sdzz]", S::SNAP_STATUS_UNPREPARED},
        {"array record unreadable", false, [](FakeSnapInfo& d) { d.failCall("getArrayInfo"); }, 62005, "Failed to initialize the Array parameters", S::SNAP_STATUS_UNPREPARED},
        {"host throws in set-up", false, [](FakeSnapInfo& d) { d.throwWhenLogged("belongs to Array"); }, 0, "Unexpected failure: host log refused a line", S::SNAP_STATUS_UNPREPARED},
        {"wrong password", false, [](FakeSnapInfo& d) { d.setArrayInfoText("{hostName:127.0.0.1,hostUserName:snapuser,hostPassword:x,engineId:54}"); },
         60555, "Prepare snapshot failed for the source device", S::SNAP_STATUS_PREPARED},
        {"host throws in the worker", false, [](FakeSnapInfo& d) { d.throwWhenLogged("Prepare snapshot success"); }, 0, " Prepare snapshot failed: host log refused a line", S::SNAP_STATUS_PREPARED},
        {"metadata unreadable", true, [](FakeSnapInfo& d) { d.failCall("getMetaData"); }, 0, "Failed to get metadata [id : 1]", S::SNAP_STATUS_PREPARED},
        {"identifier too short", true, [](FakeSnapInfo& d) { d.setMetaDataText(1, "A*7*svc"); }, 0, "Failed to parse unique  identifier [A*7*svc]", S::SNAP_STATUS_PREPARED},
        {"host throws in snap set-up", true, [](FakeSnapInfo& d) { d.throwWhenLogged("Snap Name"); }, 0, "Unexpected failure: host log refused a line", S::SNAP_STATUS_PREPARED},
        {"host throws in the snap worker", true, [](FakeSnapInfo& d) { d.throwWhenLogged("Created PIT"); }, 0, "Snap creation failed: host log refused a line", S::SNAP_STATUS_CREATED},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<std::string> labels = Labels("v", 3);
        sim::TestServer sim(EntryConfig(labels), PlainHttp());
        EntryHost host(sim);
        auto devs = host.devices(labels);
        if (row.inSnap) {
            ASSERT_EQ(host.prepare(devs), 0);
        } else {
            host.device("v03").setStatus(S::SNAP_STATUS_UNPREPARED);
        }
        FakeSnapInfo& second = host.device("v02");
        row.breakSecond(second);
        EXPECT_EQ(row.inSnap ? host.snap(devs) : host.prepare(devs), 2);
        const std::vector<S> want = {
            row.inSnap ? S::SNAP_STATUS_CREATED : S::SNAP_STATUS_PREPARED,
            row.inSnap ? S::SNAP_STATUS_CREATE_FAILED : S::SNAP_STATUS_PREPARE_FAILED, row.third};
        EXPECT_EQ(std::vector<S>(
                      {host.device("v01").status(), second.status(), host.device("v03").status()}),
                  want);
        EXPECT_EQ(second.errorCode(), row.wantError) << second.errorText();
        EXPECT_TRUE(second.logContains(row.line));
    }
}

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

// One group named for the request, made by the first device; one group PiT for all.
TEST(ConsistencyGroups, PrepareNamesTheGroupAndCreateMakesOnePiT) {
    // wantName: "" when no group may be left; line: on the first device
    // clang-format off
    struct Row {
        const char* name; int groupsOfFirst; bool refuseSecondMember, refuseGroupPiT;
        const char* wantName; int wantPrepare, wantSnap; std::string line;
    } rows[] = {
        {"new group", 0, false, false, "11A1_7", 0, 0, "Consistency Group name [11A1_7]"},
        {"volume in three groups", 3, false, false, "41A1_7", 0, 0, ""},
        {"volume in four groups", 4, false, false, "", 1, 1, "Few of the source volumes are already members of 4 Consistency Group."},
        // The group goes again: members prepared into it must not stay prepared.
        {"second member refused", 0, true, false, "", 1, 1, "Consistency Group [11A1_7] was deleted"},
        // Followers may not claim a group PiT that was never made.
        {"group PiT refused", 0, false, true, "11A1_7", 0, 1, ""},
    };
    // clang-format on
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
        ASSERT_EQ(Calls(sim, "CreateSynchronizationAspect").size(), 1u) << "one group PiT for all";
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

// The older engine's replicas and clones, made through the generic replication services.
TEST(OlderEngine, TheRecordedOperationIsTheOneBuilt) {
    // failMethod: answers 4 once, "" none; wantOperation: "" when nothing may be left
    // clang-format off
    struct Row {
        const char* name; int capability; const char* failMethod; const char* wantOperation;
        int wantError; std::string line;
    } rows[] = {
        {"snapshot engine", 1, "", "4", 0, ""},
        // Where the engine can do both, a clone is built and must be recorded as one.
        {"both kinds", 3, "", "5", 0, ""},
        {"clone not attached", 2, "AttachOrModifyReplica", "", 60554, "Attach of clone volume failed, going to delete clone volume"},
        {"no room for the replica", 1, "CreateReplica", "", 60549, " Prepare snapshot failed for the source device"},
    };
    // clang-format on
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
