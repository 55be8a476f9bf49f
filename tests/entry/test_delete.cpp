// Delete and reconcile through the exported entry points, with the host database
// saying which PiTs the host still keeps.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "rkso/RKMMSnapAPI.h"
#include "testsupport/EntryRoad.h"

namespace {

using namespace testsupport;

TEST(Delete, EachKindOfSnapshotEndsDeletedOrKept) {
    struct Row {
        const char* name;
        std::function<void(EntryRoad&, FakeSnapInfo&, std::vector<RKSO::SnapInfo*>&)> setup;
        RKSO::SnapStatus status;
        size_t pitsLeft, viewsLeft;
    } rows[] = {
        // clang-format off
        {"PiT with a view", [](EntryRoad& r, FakeSnapInfo&, auto& d) { r.map(d); r.util.setOperationType(132); }, RKSO::SNAP_STATUS_DELETED, 0, 0},
        // A kept snapshot loses the view its unmap left, and keeps its PiT.
        {"keep bit, unmapped view", [](EntryRoad& r, FakeSnapInfo& dev, auto& d) { dev.setSnapFlagsValue(RKSO::SNAP_FLAG_KEEP); r.map(d); r.unmap(d); },
         RKSO::SNAP_STATUS_UNMAPPED, 1, 0},
        {"PiT gone outside", [](EntryRoad& r, FakeSnapInfo& dev, auto&) { r.sim.removeObject(sim::RemovableKind::PiT, PiTOf(*dev.metaData(1))); },
         RKSO::SNAP_STATUS_DELETED, 0, 0},
        {"PiT gone during the call", [](EntryRoad& r, FakeSnapInfo& dev, auto&) {
             r.sim.removeBefore(sim::RemovableKind::PiT, PiTOf(*dev.metaData(1)), {"InvokeMethod", "ModifySettingsDefineState", ""}); },
         RKSO::SNAP_STATUS_DELETED, 0, 0},
        {"identifier without group field", [](EntryRoad&, FakeSnapInfo& dev, auto&) {
             std::string id = *dev.metaData(1); dev.setMetaDataText(1, id.substr(0, id.rfind('*'))); },
         RKSO::SNAP_STATUS_DELETED, 0, 0},
        {"empty identifier", [](EntryRoad&, FakeSnapInfo& dev, auto&) { dev.setMetaDataText(1, ""); }, RKSO::SNAP_STATUS_DELETED, 1, 0},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        LocalMode local(true);
        EntryRoad road({"src01"});
        auto devs = road.snapped({"src01"});
        FakeSnapInfo& dev = road.host.device("src01");
        r.setup(road, dev, devs);
        road.requestsSince();
        EXPECT_EQ(road.remove(devs), r.status == RKSO::SNAP_STATUS_DELETED ? 0 : 1);
        EXPECT_EQ(dev.status(), r.status) << dev.errorText();
        EXPECT_EQ(std::make_pair(road.count("pits"), road.count("views")),
                  std::make_pair(r.pitsLeft, r.viewsLeft));
        if (std::string(r.name) == "empty identifier") {
            EXPECT_EQ(road.requestsSince(), 0u);
        }
        if (r.pitsLeft == 0) {
            EXPECT_TRUE(road.backToStart());
        }
    }
}

// Two PiTs of one volume; the host keeps the newer. Deleting the older must leave
// the newer, whatever the call's first device is.
TEST(Delete, PiTsTheHostKeepsStayWhateverTheFirstDeviceIs) {
    struct Row {
        const char* name;
        const char* firstIdentifier;  // a device before the one deleted
        bool local;
        int result;
        size_t pitsLeft;
    } rows[] = {
        {"deleted device first", nullptr, false, 0, 1},
        {"empty identifier first", "", false, 0, 1},
        {"unparsable identifier first", "not-an-identifier", false, 2, 1},
        {"local mode: no database", nullptr, true, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        LocalMode local(r.local);
        EntryRoad road({"src01"});
        auto devs = road.snapped({"src01"});
        FakeSnapInfo& dev = road.host.device("src01");
        const std::string older = *dev.metaData(1);
        road.host.prepareAndSnap(devs);
        const std::string newer = *dev.metaData(1);
        RKMMSnapStore store(road.database());
        ASSERT_TRUE(store.recordSnap("/dev/kept", 54, 0, RKMM_REF_TYPE_SNAPSHOT, newer))
            << store.getLastError();
        dev.setMetaDataText(1, older);
        std::vector<RKSO::SnapInfo*> call;
        FakeSnapInfo first;
        if (r.firstIdentifier) {
            first.setEngineIdValue(54);
            first.setArrayInfoText(road.host.arrayRecord());
            first.setMetaDataText(1, r.firstIdentifier);
            call.push_back(&first);
        }
        call.push_back(&dev);
        EXPECT_EQ(road.remove(call), r.result);
        EXPECT_EQ(dev.status(), RKSO::SNAP_STATUS_DELETED) << dev.errorText();
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

TEST(Reconcile, GoneSnapshotsAreReportedAndLeaveTheActiveList) {
    // An unanswered check is a failed one, never "there" nor "gone".
    const sim::RequestKey pitRead{"EnumerateInstances", "", "NETAPP_PiT"};
    struct Row {
        const char* name;
        std::vector<bool> removed;  // per device
        std::function<void(sim::TestServer&)> fault;
        int result;
        std::vector<bool> unanswered;  // per device
    } rows[] = {
        // clang-format off
        {"all present", {false, false}, nullptr, 0, {false, false}},
        {"one gone", {true, false}, nullptr, 0, {false, false}},
        {"first check refused", {false, false}, [&](sim::TestServer& s) { s.failHttp(401, 1, pitRead); }, 2, {true, false}},
        {"provider gone for every check", {true, false}, [&](sim::TestServer& s) { s.addFault(sim::FaultKind::Close, -1, pitRead); }, 1, {true, true}},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        LocalMode local(false);
        EntryRoad road({"src01", "src02"});
        auto devs = road.snapped({"src01", "src02"});
        RKMMSnapStore store(road.database());
        for (size_t i = 0; i < devs.size(); ++i) {
            FakeSnapInfo& dev = *static_cast<FakeSnapInfo*>(devs[i]);
            ASSERT_TRUE(store.recordSnap("/dev/d" + std::to_string(i), 54, 0,
                                         RKMM_REF_TYPE_SNAPSHOT, *dev.metaData(1)));
            if (r.removed[i])
                road.sim.removeObject(sim::RemovableKind::PiT, PiTOf(*dev.metaData(1)));
            dev.setStatus(RKSO::SNAP_STATUS_CREATED);
        }
        if (r.fault) r.fault(road.sim);
        EXPECT_EQ(road.reconcile(devs), r.result);
        for (size_t i = 0; i < devs.size(); ++i) {
            FakeSnapInfo& dev = *static_cast<FakeSnapInfo*>(devs[i]);
            const bool gone = r.removed[i] && !r.unanswered[i];
            EXPECT_EQ(dev.status(),
                      gone ? RKSO::SNAP_STATUS_DELETED_OUTSIDE : RKSO::SNAP_STATUS_CREATED)
                << i;
            EXPECT_EQ(dev.logContains("Operation Failed"), r.unanswered[i]) << i;
        }
    }
    // A device with nothing stored is one that could not be checked.
    EntryRoad road({"src01"});
    FakeSnapInfo empty;
    std::vector<RKSO::SnapInfo*> one = {&empty};
    EXPECT_EQ(road.reconcile(one), 1);
}

}  // namespace
