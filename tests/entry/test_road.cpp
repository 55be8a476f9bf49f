// The whole road through the exported entry points leaves the array as it was.
#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "engine/UniqueId.h"
#include "rkso/RKMMSnapAPI.h"
#include "testsupport/EntryRoad.h"

namespace {

using namespace testsupport;
using S = RKSO::SnapStatus;
using Devices = std::vector<RKSO::SnapInfo*>;

FakeSnapInfo& Dev(RKSO::SnapInfo* d) {
    return *static_cast<FakeSnapInfo*>(d);
}

// The devices not in status want, each with its status and error text; "" when none.
std::string NotIn(const Devices& devs, S want) {
    std::string out;
    for (RKSO::SnapInfo* d : devs)
        if (Dev(d).status() != want)
            out += std::to_string(Dev(d).status()) + " " + Dev(d).errorText() + "; ";
    return out;
}

TEST(Road, EveryKindOfSnapshotGoesTheWholeWay) {
    // clang-format off
    struct Row { const char* name; int engine, capability; bool group, revertable; std::vector<std::string> labels; } rows[] = {
        {"PiT", 54, 3, false, true, {"src01"}},
        {"consistency group", 54, 3, true, true, {"src01", "src02"}},
        {"replica snapshot", 50, 1, false, true, {"src01"}},
        {"clone", 50, 2, false, false, {"src01"}},
    };
    // clang-format on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        LocalMode local(true);
        EntryRoad road(r.labels, {r.engine, r.capability, "", ""});
        auto devs = road.host.devices(r.labels);
        if (r.group) road.host.configureAll("SMCONFIG_NAME_USE_CONSISTENCY_GROUP", "1");
        road.host.prepareAndSnap(devs);
        const size_t n = devs.size();
        road.requestsSince();
        ASSERT_EQ(road.map(devs), 0);
        const size_t mapRequests = road.requestsSince();
        for (RKSO::SnapInfo* d : devs) {
            EXPECT_NE(Dev(d).snapDevicePath(), "") << Dev(d).errorText();
            EXPECT_EQ(road.host.host().deviceOf(IdentifierFields(Dev(d)).at(6)),
                      Dev(d).snapDevicePath());
        }
        EXPECT_EQ(road.check(devs), 0);
        EXPECT_EQ(NotIn(devs, S::SNAP_STATUS_VISIBLE), "");
        road.requestsSince();
        EXPECT_EQ(road.unmap(devs), 0);
        const size_t unmapRequests = road.requestsSince();
        if (r.revertable) {
            EXPECT_EQ(road.revert(devs), 0);
            EXPECT_EQ(NotIn(devs, S::SNAP_STATUS_REVERTED), "");
        }
        road.requestsSince();
        EXPECT_EQ(road.remove(devs), 0);
        const size_t deleteRequests = road.requestsSince();
        EXPECT_EQ(NotIn(devs, S::SNAP_STATUS_DELETED), "");
        EXPECT_TRUE(road.backToStart());
        ::testing::Test::RecordProperty(
            std::string(r.name) + " requests per device (map unmap delete)",
            std::to_string(mapRequests / n) + " " + std::to_string(unmapRequests / n) + " " +
                std::to_string(deleteRequests / n));
    }
}

// The rescan waits after the two waits of the view's creation.
std::vector<int64_t> rescanWaits(const HostClockScope& clock) {
    std::vector<int64_t> w = clock.waitSeconds();
    return w.size() > 2 ? std::vector<int64_t>(w.begin() + 2, w.end()) : std::vector<int64_t>();
}

TEST(Map, RescanWaitsUntilSeenOrTimeLimit) {
    // clang-format off
    struct Row { const char *name, *tuning; bool hidden; int result; std::vector<int64_t> waits; } rows[] = {
        {"seen at once", "", false, 0, {}},
        {"never seen, limit unset", "", true, 1, {10, 20, 30, 40, 50, 60, 70, 80}},
        {"never seen, 120 means 300", "nMountRetrySeconds = 120", true, 1, {10, 20, 30, 40, 50, 60, 70, 80}},
        {"never seen, 600", "nMountRetrySeconds = 600", true, 1, {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110}},
    };
    // clang-format on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EntryRoad road({"src01"}, {54, 3, "", r.tuning});
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
        EXPECT_FALSE(getSnapDeviceUUID(&dev).empty());
    }
}

// Each device counts once however often listed; some mapped gives 2, none mapped 1.
TEST(Map, CountsEachDeviceOnceAndFailsWhenNothingCouldBeMapped) {
    {
        EntryRoad two({"src01", "src02"});
        auto both = two.snapped({"src01", "src02"});
        two.util.listTwice = true;
        two.sim.removeObject(sim::RemovableKind::PiT, PiTOf(*two.host.device("src02").metaData(1)));
        EXPECT_EQ(two.map(both), 2);
        EXPECT_EQ(two.check(both), 2);
    }
    EntryRoad road({"src01"});
    auto devs = road.snapped({"src01"});
    road.sim.removeObject(sim::RemovableKind::PiT, PiTOf(*road.host.device("src01").metaData(1)));
    EXPECT_EQ(road.map(devs), 1);
    EXPECT_EQ(road.host.device("src01").status(), S::SNAP_STATUS_MAP_FAILED);
    EXPECT_EQ(road.count("views"), 0u);
}

TEST(Unmap, MappingAndViewGoUnlessKeptAndOnlyAnAnswerMeansNothingToDo) {
    // clang-format off
    struct Row { const char* name; bool mapFirst, wrongPassword; int flags; S status; size_t hidePaths, views; int error; } rows[] = {
        {"never mapped", false, false, 0, S::SNAP_STATUS_UNMAPPED, 0, 0, 0},
        {"mapped", true, false, 0, S::SNAP_STATUS_UNMAPPED, 1, 0, 0},
        {"mapped, keep bit", true, false, RKSO::SNAP_FLAG_KEEP, S::SNAP_STATUS_UNMAPPED, 1, 1, 0},
        {"mapped, login rejected", true, true, 0, S::SNAP_STATUS_UNMAP_FAILED, 0, 1, 60555},
    };
    // clang-format on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EntryRoad road({"src01"});
        auto devs = road.snapped({"src01"});
        FakeSnapInfo& dev = road.host.device("src01");
        ASSERT_EQ(r.mapFirst ? road.map(devs) : 0, 0);
        dev.setSnapFlagsValue(r.flags);
        if (r.wrongPassword)
            dev.setArrayInfoText("{hostName:127.0.0.1,hostUserName:" + road.sim.user() +
                                 ",hostPassword:wrong,engineId:54}");
        EXPECT_EQ(road.unmap(devs), r.status == S::SNAP_STATUS_UNMAPPED ? 0 : 1);
        EXPECT_EQ(dev.status(), r.status);
        EXPECT_EQ(CountRequests(road.sim, "InvokeMethod", "HidePaths"), r.hidePaths);
        EXPECT_EQ(road.count("views"), r.views);
        const size_t left = r.mapFirst && r.wrongPassword ? 1u : 0u;
        EXPECT_EQ(road.count("mappings"), road.start["arrays"][0]["mappings"].size() + left);
        EXPECT_EQ(dev.errorCode(), r.error) << dev.errorText();
    }
}

TEST(Revert, RestoresOnlyUnmappedSnapshots) {
    for (bool mapped : {false, true}) {
        SCOPED_TRACE(mapped ? "mapped PiT" : "PiT");
        EntryRoad road({"src01"});
        auto devs = road.snapped({"src01"});
        ASSERT_EQ(mapped ? road.map(devs) : 0, 0);
        FakeSnapInfo& dev = road.host.device("src01");
        EXPECT_EQ(road.revert(devs), mapped ? 1 : 0);
        EXPECT_EQ(dev.status(), mapped ? S::SNAP_STATUS_REVERT_FAILED : S::SNAP_STATUS_REVERTED);
        EXPECT_EQ(dev.errorCode(), mapped ? 60551 : 0) << dev.errorText();
        size_t restores = 0;
        for (const auto& c : Calls(road.sim, "ModifySettingsDefineState"))
            restores += Param(c, "Operation").value == "32768";
        EXPECT_EQ(restores, mapped ? 0u : 1u);
    }
}

TEST(Delete, EachKindOfSnapshotEndsDeletedOrKept) {
    using K = sim::RemovableKind;
    // clang-format off
    struct Row {
        const char* name; std::function<void(EntryRoad&, FakeSnapInfo&, Devices&)> setup; S status;
        size_t pitsLeft, viewsLeft;
    } rows[] = {
        {"PiT with a view", [](EntryRoad& r, FakeSnapInfo&, auto& d) { r.map(d); r.util.setOperationType(132); }, S::SNAP_STATUS_DELETED, 0, 0},
        // A kept snapshot loses the view its unmap left, and keeps its PiT.
        {"keep bit, unmapped view", [](EntryRoad& r, FakeSnapInfo& dev, auto& d) { dev.setSnapFlagsValue(RKSO::SNAP_FLAG_KEEP); r.map(d); r.unmap(d); }, S::SNAP_STATUS_UNMAPPED, 1, 0},
        {"PiT gone outside", [](EntryRoad& r, FakeSnapInfo& dev, auto&) { r.sim.removeObject(K::PiT, PiTOf(*dev.metaData(1))); }, S::SNAP_STATUS_DELETED, 0, 0},
        {"PiT gone during the call", [](EntryRoad& r, FakeSnapInfo& dev, auto&) { r.sim.removeBefore(K::PiT, PiTOf(*dev.metaData(1)), {"InvokeMethod", "ModifySettingsDefineState", ""}); }, S::SNAP_STATUS_DELETED, 0, 0},
        {"identifier without group field", [](EntryRoad&, FakeSnapInfo& dev, auto&) { std::string id = *dev.metaData(1); dev.setMetaDataText(1, id.substr(0, id.rfind('*'))); }, S::SNAP_STATUS_DELETED, 0, 0},
        {"empty identifier", [](EntryRoad&, FakeSnapInfo& dev, auto&) { dev.setMetaDataText(1, ""); }, S::SNAP_STATUS_DELETED, 1, 0},
    };
    // clang-format on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        LocalMode local(true);
        EntryRoad road({"src01"});
        auto devs = road.snapped({"src01"});
        FakeSnapInfo& dev = road.host.device("src01");
        r.setup(road, dev, devs);
        road.requestsSince();
        EXPECT_EQ(road.remove(devs), r.status == S::SNAP_STATUS_DELETED ? 0 : 1);
        EXPECT_EQ(dev.status(), r.status) << dev.errorText();
        EXPECT_EQ(std::make_pair(road.count("pits"), road.count("views")),
                  std::make_pair(r.pitsLeft, r.viewsLeft));
        // An empty identifier names nothing to ask the provider about.
        EXPECT_TRUE(std::string(r.name) != "empty identifier" || road.requestsSince() == 0);
        EXPECT_TRUE(r.pitsLeft != 0 || road.backToStart());
    }
}

// Two PiTs of one volume, the host keeps the newer: deleting the older leaves it.
TEST(Delete, PiTsTheHostKeepsStayWhateverTheFirstDeviceIs) {
    // firstIdentifier: a device before the one deleted
    // clang-format off
    struct Row { const char *name, *firstIdentifier; bool local; int result; size_t pitsLeft; } rows[] = {
        {"deleted device first", nullptr, false, 0, 1},
        {"empty identifier first", "", false, 0, 1},
        {"unparsable identifier first", "not-an-identifier", false, 2, 1},
        {"local mode: no database", nullptr, true, 0, 0},
    };
    // clang-format on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        LocalMode local(r.local);
        EntryRoad road({"src01"});
        auto devs = road.snapped({"src01"});
        FakeSnapInfo& dev = road.host.device("src01");
        const std::string older = *dev.metaData(1);
        road.host.prepareAndSnap(devs);
        RKMMSnapStore store(road.database());
        ASSERT_TRUE(store.recordSnap("/dev/kept", 54, 0, RKMM_REF_TYPE_SNAPSHOT, *dev.metaData(1)))
            << store.getLastError();
        dev.setMetaDataText(1, older);
        Devices call;
        FakeSnapInfo first;
        first.setEngineIdValue(54);
        first.setArrayInfoText(road.host.arrayRecord());
        if (r.firstIdentifier) first.setMetaDataText(1, r.firstIdentifier);
        if (r.firstIdentifier) call.push_back(&first);
        call.push_back(&dev);
        EXPECT_EQ(road.remove(call), r.result);
        EXPECT_EQ(dev.status(), S::SNAP_STATUS_DELETED) << dev.errorText();
        EXPECT_EQ(road.count("pits"), r.pitsLeft);
    }
}

TEST(Delete, UnreadableDatabaseEndsTheCall) {
    LocalMode local(false);
    EntryRoad road({"src01"});
    auto devs = road.snapped({"src01"});
    road.dir.mkdir("snaps.db");  // a directory where the database file should be
    EXPECT_EQ(road.remove(devs), 1);
    EXPECT_EQ(road.count("pits"), 1u);
    EXPECT_TRUE(road.host.device("src01").logContains("Failed to get the list of Active Snaps"));
}

// An unanswered check is a failed one, never "there" nor "gone".
TEST(Reconcile, GoneSnapshotsAreReportedAndLeaveTheActiveList) {
    const sim::RequestKey pitRead{"EnumerateInstances", "", "NETAPP_PiT"};
    // removed, unanswered: per device
    // clang-format off
    struct Row {
        const char* name; std::vector<bool> removed; std::function<void(sim::TestServer&)> fault;
        int result; std::vector<bool> unanswered;
    } rows[] = {
        {"all present", {false, false}, nullptr, 0, {false, false}},
        {"one gone", {true, false}, nullptr, 0, {false, false}},
        {"first check refused", {false, false}, [&](sim::TestServer& s) { s.failHttp(401, 1, pitRead); }, 2, {true, false}},
        {"provider gone for every check", {true, false}, [&](sim::TestServer& s) { s.addFault(sim::FaultKind::Close, -1, pitRead); }, 1, {true, true}},
    };
    // clang-format on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        LocalMode local(false);
        EntryRoad road({"src01", "src02"});
        auto devs = road.snapped({"src01", "src02"});
        RKMMSnapStore store(road.database());
        for (size_t i = 0; i < devs.size(); ++i) {
            const std::string id = *Dev(devs[i]).metaData(1);
            ASSERT_TRUE(
                store.recordSnap("/dev/d" + std::to_string(i), 54, 0, RKMM_REF_TYPE_SNAPSHOT, id));
            if (r.removed[i]) road.sim.removeObject(sim::RemovableKind::PiT, PiTOf(id));
            Dev(devs[i]).setStatus(S::SNAP_STATUS_CREATED);
        }
        if (r.fault) r.fault(road.sim);
        EXPECT_EQ(road.reconcile(devs), r.result);
        for (size_t i = 0; i < devs.size(); ++i) {
            const bool gone = r.removed[i] && !r.unanswered[i];
            EXPECT_EQ(Dev(devs[i]).status(),
                      gone ? S::SNAP_STATUS_DELETED_OUTSIDE : S::SNAP_STATUS_CREATED)
                << i;
            EXPECT_EQ(Dev(devs[i]).logContains("Operation Failed"), r.unanswered[i]) << i;
        }
    }
    // A device with nothing stored is one that could not be checked.
    EntryRoad road({"src01"});
    FakeSnapInfo empty;
    Devices one = {&empty};
    EXPECT_EQ(road.reconcile(one), 1);
}

}  // namespace
