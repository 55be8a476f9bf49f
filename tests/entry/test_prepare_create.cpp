// Prepare and create of PiT devices through rkso_prepareDevices and rkso_snapDevices:
// devices the host sees through the simulator's fabric, PiT groups and PiTs made on
// the simulated array, round trips read from its request log.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "testsupport/EntryHost.h"
#include "testsupport/TalonConfig.h"

namespace {

using namespace testsupport;
using S = RKSO::SnapStatus;

TEST(PrepareCreate, EveryPiTDeviceGetsItsGroupOnceAndItsOwnPiT) {
    struct Row {
        const char* name;
        std::vector<std::string> keys;  // "v01#2": a second record of volume v01
        std::string tuning;
        int refusePiT;  // the nth PiT request is refused; 0 none
        size_t groups;
    } rows[] = {
        // clang-format off
        {"one volume three times", {"v01", "v01#2", "v01#3"}, "", 0, 1},
        {"eight, one PiT refused", Labels("v", 8), "", 5, 8},
        {"eight in turn, one refused", Labels("v", 8), "LSI_SNAP_NO_PARALLEL = 1", 3, 8},
        // Also the ThreadSanitizer run: 64 workers at once.
        {"sixty-four in parallel", Labels("v", 64), "", 0, 64},
        // clang-format on
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<std::string> labels = Labels("v", std::max<int>(8, row.keys.size()));
        // Enough server threads that no kept connection is closed for a queued one: a
        // method call on a connection the server closed is never sent again.
        sim::TestServerOptions options = PlainHttp();
        options.maxThreads = 256;
        sim::TestServer sim(EntryConfig(labels), options);
        EntryHost host(sim, {54, 3, "", row.tuning});
        auto devs = host.devices(row.keys);
        EXPECT_EQ(host.prepare(devs), 0);
        const std::string record =
            "{hostName:127.0.0.1,hostUserName:snapuser,hostPassword:****,"
            "engineId:54}";
        EXPECT_TRUE(host.device(row.keys[0]).logContains("Array info received from DB [" + record));
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

// Before a worker starts, the first failure ends the loop and later devices keep
// their status; a worker's failure fails its device only. A host callback that
// throws counts as a failure at that step.
TEST(PrepareCreate, FailuresEndTheLoopBeforeTheWorkerAndFailOneDeviceAfter) {
    using Break = std::function<void(FakeSnapInfo&)>;
    struct Row {
        const char* name;
        bool inSnap;
        Break breakSecond;
        int wantError;
        std::string line;
        S third;
    } rows[] = {
        // clang-format off
        {"not seen by the host", false, [](FakeSnapInfo& d) { d.setDevicePathValue("/dev/sdzz"); }, 60557,
         "Failed to get LSI Array name from host device name[/dev/sdzz]", S::SNAP_STATUS_UNPREPARED},
        {"array record unreadable", false, [](FakeSnapInfo& d) { d.failCall("getArrayInfo"); }, 62005,
         "Failed to initialize the Array parameters", S::SNAP_STATUS_UNPREPARED},
        {"host throws in set-up", false, [](FakeSnapInfo& d) { d.throwWhenLogged("belongs to Array"); }, 0,
         "Unexpected failure: host log refused a line", S::SNAP_STATUS_UNPREPARED},
        {"wrong password", false, [](FakeSnapInfo& d) { d.setArrayInfoText("{hostName:127.0.0.1,hostUserName:snapuser,hostPassword:x,engineId:54}"); },
         60555, "Prepare snapshot failed for the source device", S::SNAP_STATUS_PREPARED},
        {"host throws in the worker", false, [](FakeSnapInfo& d) { d.throwWhenLogged("Prepare snapshot success"); }, 0,
         " Prepare snapshot failed: host log refused a line", S::SNAP_STATUS_PREPARED},
        {"metadata unreadable", true, [](FakeSnapInfo& d) { d.failCall("getMetaData"); }, 0, "Failed to get metadata [id : 1]", S::SNAP_STATUS_PREPARED},
        {"identifier too short", true, [](FakeSnapInfo& d) { d.setMetaDataText(1, "A*7*svc"); }, 0,
         "Failed to parse unique  identifier [A*7*svc]", S::SNAP_STATUS_PREPARED},
        {"host throws in snap set-up", true, [](FakeSnapInfo& d) { d.throwWhenLogged("Snap Name"); }, 0,
         "Unexpected failure: host log refused a line", S::SNAP_STATUS_PREPARED},
        {"host throws in the snap worker", true, [](FakeSnapInfo& d) { d.throwWhenLogged("Created PIT"); }, 0,
         "Snap creation failed: host log refused a line", S::SNAP_STATUS_CREATED},
        // clang-format on
    };
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

// The capability stored at prepare saves the engine lookup at create; without it an
// unreadable engine record fails the call at its first device.
TEST(PrepareCreate, CreateTakesTheCapabilityFromPrepareOrTheEngineRecord) {
    struct Row {
        const char* name;
        bool stored, engineRecord;
        int want;
    } rows[] = {{"stored by prepare", true, false, 0},
                {"looked up", false, true, 0},
                {"neither", false, false, 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::TestServer sim(EntryConfig(Labels("v", 2)), PlainHttp());
        EntryHost host(sim);
        auto devs = host.devices(Labels("v", 2));
        ASSERT_EQ(host.prepare(devs), 0);
        FakeSnapInfo& first = host.device("v01");
        if (!row.stored) first.setMetaDataText(102, "not a number");
        TalonConfig engines(
            "", row.engineRecord ? "[Engines]\n54 = {SnapVendorName:LSI,Capabilities:1}\n" : "");
        const size_t before = first.logLines().size();
        EXPECT_EQ(host.snap(devs), row.want);
        const auto lines = first.logLines();
        EXPECT_EQ(std::any_of(lines.begin() + before, lines.end(),
                              [](const LogLine& l) {
                                  return l.text.find("SnapVendorName") != std::string::npos ||
                                         l.text.find("Failed to get engine info") !=
                                             std::string::npos;
                              }),
                  !row.stored)
            << ": engine looked up";
        EXPECT_EQ(first.status(), row.want ? S::SNAP_STATUS_CREATE_FAILED : S::SNAP_STATUS_CREATED);
        EXPECT_EQ(host.device("v02").status(),
                  row.want ? S::SNAP_STATUS_PREPARED : S::SNAP_STATUS_CREATED);
        EXPECT_EQ(first.logContains("Failed to get capabilities for snap engine id-[54]"),
                  row.want != 0);
    }
}

// Devices of two arrays, each behind its own provider with its own password, in one
// create call: each device uses the record of its own array.
TEST(PrepareCreate, EachArrayUsesItsOwnRecord) {
    sim::Config second = EntryConfig({"far01"});
    second.password = "0ther-Pw!77";
    second.arrays[0].id = sim::makeArrayId("entry-far");
    sim::TestServer farSim(second, PlainHttp());
    FakeSnapInfo far;
    {
        EntryHost farHost(farSim);
        auto devs = farHost.devices({"far01"});
        ASSERT_EQ(farHost.prepare(devs), 0);
        far.setMetaDataText(1, *farHost.device("far01").metaData(1));
        far.setMetaDataText(102, "3");
        far.setStatus(S::SNAP_STATUS_PREPARED);
        far.setArrayInfoText(farHost.arrayRecord());
        far.setConfig("SMCONFIG_NAME_SMIS_SERVER_PORT", std::to_string(farSim.httpPort()));
    }
    sim::TestServer sim(EntryConfig({"v01"}), PlainHttp());
    EntryHost host(sim);
    auto devs = host.devices({"v01"});
    ASSERT_EQ(host.prepare(devs), 0);
    devs.push_back(&far);
    EXPECT_EQ(host.snap(devs), 0);
    EXPECT_EQ(far.errorCode(), 0) << far.errorText();
    EXPECT_EQ(farSim.provider().currentState().arrays[0].pits.size(), 1u);
    EXPECT_EQ(sim.provider().currentState().arrays[0].pits.size(), 1u);
    SimJournal::add(far);
}

// Job waits go through the host clock: nothing here waits real seconds.
TEST(PrepareCreate, GroupJobsAreWaitedForOnTheHostClock) {
    for (uint16_t finalState : {0, 8, 10}) {
        ManualClock clock;
        sim::TestServerOptions options = PlainHttp();
        options.clock = clock.clock();
        sim::Config config = EntryConfig({"v01"});
        config.jobs.durationMs = 25000;
        sim::TestServer sim(config, options);
        sim.setJobMode("CreatePiTGroup", true);
        if (finalState) sim.failNextJobs(1, finalState);
        SimHostClock hostClock(clock);
        EntryHost host(sim);
        auto devs = host.devices({"v01"});
        EXPECT_EQ(host.prepare(devs), finalState ? 1 : 0) << "job ending in " << finalState;
        EXPECT_EQ(hostClock.waits(), std::vector<int64_t>(3, 10000)) << finalState;
    }
}

}  // namespace
