// Map, unmap and the mapping check through the exported entry points.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/UniqueId.h"
#include "testsupport/EntryRoad.h"

namespace {

using namespace testsupport;

// The rescan waits after the two waits of the view's creation.
std::vector<int64_t> rescanWaits(const HostClockScope& clock) {
    std::vector<int64_t> w = clock.waitSeconds();
    return w.size() > 2 ? std::vector<int64_t>(w.begin() + 2, w.end()) : std::vector<int64_t>();
}

TEST(Map, RescanWaitsUntilSeenOrTimeLimit) {
    struct Row {
        const char* name;
        const char* tuning;
        bool hidden;
        int result;
        std::vector<int64_t> waits;
    } rows[] = {
        // clang-format off
        {"seen at once", "", false, 0, {}},
        {"never seen, limit unset", "", true, 1, {10, 20, 30, 40, 50, 60, 70, 80}},
        {"never seen, 120 means 300", "nMountRetrySeconds = 120", true, 1, {10, 20, 30, 40, 50, 60, 70, 80}},
        {"never seen, 600", "nMountRetrySeconds = 600", true, 1, {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110}},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EntryHostOptions o;
        o.tuning = r.tuning;
        EntryRoad road({"src01"}, o);
        auto devs = road.snapped({"src01"});
        road.util.hideDevices = r.hidden;
        road.clock.clear();
        EXPECT_EQ(road.map(devs), r.result);
        EXPECT_EQ(rescanWaits(road.clock), r.waits);
        // One rescan before each wait; the last finds the device or gives up.
        EXPECT_EQ(road.util.rescans(), r.waits.empty() ? 1 : static_cast<int>(r.waits.size()));
        FakeSnapInfo& dev = road.host.device("src01");
        EXPECT_EQ(dev.errorCode(), r.hidden ? 60509 : 0) << dev.errorText();
        EXPECT_EQ(dev.snapDevicePath().empty(), r.hidden);
        // The view is named by the identifier either way, so delete can remove it.
        EXPECT_EQ(road.count("views"), 1u);
        EXPECT_EQ(getSnapDeviceUUID(&dev).empty(), false);
    }
}

TEST(Map, CountsEachDeviceOnceAndFailsWhenNothingCouldBeMapped) {
    struct Row {
        const char* name;
        bool listTwice;
        bool removePiT;  // the second device's PiT went outside the system
        int mapResult, checkResult;
    } rows[] = {
        {"one path each", false, false, 0, 0},
        {"two paths each", true, false, 0, 0},
        {"second PiT gone, two paths", true, true, 2, 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EntryRoad road({"src01", "src02"});
        auto devs = road.snapped({"src01", "src02"});
        road.util.listTwice = r.listTwice;
        if (r.removePiT)
            road.sim.removeObject(sim::RemovableKind::PiT,
                                  PiTOf(*road.host.device("src02").metaData(1)));
        EXPECT_EQ(road.map(devs), r.mapResult);
        EXPECT_EQ(road.check(devs), r.checkResult);
    }
    // A call in which no device could be mapped at all failed.
    EntryRoad road({"src01"});
    auto devs = road.snapped({"src01"});
    road.sim.removeObject(sim::RemovableKind::PiT, PiTOf(*road.host.device("src01").metaData(1)));
    EXPECT_EQ(road.map(devs), 1);
    EXPECT_EQ(road.host.device("src01").status(), RKSO::SNAP_STATUS_MAP_FAILED);
    EXPECT_EQ(road.count("views"), 0u);
}

TEST(Unmap, MappingAndViewGoUnlessKeptAndOnlyAnAnswerMeansNothingToDo) {
    struct Row {
        const char* name;
        bool mapFirst;
        int flags;
        bool wrongPassword;
        RKSO::SnapStatus status;
        size_t hidePaths, views;
        int error;
    } rows[] = {
        // clang-format off
        {"never mapped", false, 0, false, RKSO::SNAP_STATUS_UNMAPPED, 0, 0, 0},
        {"mapped", true, 0, false, RKSO::SNAP_STATUS_UNMAPPED, 1, 0, 0},
        {"mapped, keep bit", true, RKSO::SNAP_FLAG_KEEP, false, RKSO::SNAP_STATUS_UNMAPPED, 1, 1, 0},
        {"mapped, login rejected", true, 0, true, RKSO::SNAP_STATUS_UNMAP_FAILED, 0, 1, 60555},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EntryRoad road({"src01"});
        auto devs = road.snapped({"src01"});
        FakeSnapInfo& dev = road.host.device("src01");
        if (r.mapFirst) {
            ASSERT_EQ(road.map(devs), 0);
        }
        dev.setSnapFlagsValue(r.flags);
        if (r.wrongPassword)
            dev.setArrayInfoText("{hostName:127.0.0.1,hostUserName:" + road.sim.user() +
                                 ",hostPassword:wrong,engineId:54}");
        const int result = road.unmap(devs);
        EXPECT_EQ(result, r.status == RKSO::SNAP_STATUS_UNMAPPED ? 0 : 1);
        EXPECT_EQ(dev.status(), r.status);
        EXPECT_EQ(CountRequests(road.sim, "InvokeMethod", "HidePaths"), r.hidePaths);
        EXPECT_EQ(road.count("views"), r.views);
        const size_t left = r.mapFirst && r.wrongPassword ? 1u : 0u;
        EXPECT_EQ(road.count("mappings"), road.start["arrays"][0]["mappings"].size() + left);
        EXPECT_EQ(dev.errorCode(), r.error) << dev.errorText();
    }
}

TEST(Revert, RestoresOnlyUnmappedSnapshots) {
    struct Row {
        const char* name;
        bool mapped;
        int engine;
        RKSO::SnapStatus status;
        int error;
        size_t restores;
    } rows[] = {
        {"PiT", false, 54, RKSO::SNAP_STATUS_REVERTED, 0, 1},
        {"mapped PiT", true, 54, RKSO::SNAP_STATUS_REVERT_FAILED, 60551, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EntryRoad road({"src01"});
        auto devs = road.snapped({"src01"});
        if (r.mapped) {
            ASSERT_EQ(road.map(devs), 0);
        }
        road.requestsSince();
        FakeSnapInfo& dev = road.host.device("src01");
        EXPECT_EQ(road.revert(devs), r.status == RKSO::SNAP_STATUS_REVERTED ? 0 : 1);
        EXPECT_EQ(dev.status(), r.status);
        EXPECT_EQ(dev.errorCode(), r.error) << dev.errorText();
        size_t restores = 0;
        for (const auto& c : Calls(road.sim, "ModifySettingsDefineState"))
            if (Param(c, "Operation").value == "32768") ++restores;
        EXPECT_EQ(restores, r.restores);
    }
}

}  // namespace
