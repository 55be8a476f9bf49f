// The whole road through the exported entry points: prepare, snap, map (the new
// volume appears through the fabric and its path is recorded), check, unmap,
// revert, delete; for a PiT, a consistency group of two, a replica snapshot and a
// clone. Afterwards the array is as it was, apart from the PiT groups.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/EntryRoad.h"

namespace {

using namespace testsupport;

TEST(Road, EveryKindOfSnapshotGoesTheWholeWay) {
    struct Row {
        const char* name;
        int engine, capability;
        bool group;
        std::vector<std::string> labels;
        bool revertable;
    } rows[] = {
        {"PiT", 54, 3, false, {"src01"}, true},
        {"consistency group", 54, 3, true, {"src01", "src02"}, true},
        {"replica snapshot", 50, 1, false, {"src01"}, true},
        {"clone", 50, 2, false, {"src01"}, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        LocalMode local(true);
        EntryHostOptions o;
        o.engineId = r.engine;
        o.capability = r.capability;
        EntryRoad road(r.labels, o);
        auto devs = road.host.devices(r.labels);
        if (r.group) road.host.configureAll("SMCONFIG_NAME_USE_CONSISTENCY_GROUP", "1");
        road.host.prepareAndSnap(devs);
        const size_t n = devs.size();

        road.requestsSince();
        ASSERT_EQ(road.map(devs), 0);
        const size_t mapRequests = road.requestsSince();
        for (RKSO::SnapInfo* d : devs) {
            auto* dev = static_cast<FakeSnapInfo*>(d);
            EXPECT_NE(dev->snapDevicePath(), "") << dev->errorText();
            EXPECT_EQ(road.host.host().deviceOf(IdentifierFields(*dev).at(6)),
                      dev->snapDevicePath());
        }
        EXPECT_EQ(road.check(devs), 0);
        for (RKSO::SnapInfo* d : devs) EXPECT_EQ(d->getStatus(), RKSO::SNAP_STATUS_VISIBLE);
        road.requestsSince();
        EXPECT_EQ(road.unmap(devs), 0);
        const size_t unmapRequests = road.requestsSince();
        if (r.revertable) {
            EXPECT_EQ(road.revert(devs), 0);
            for (RKSO::SnapInfo* d : devs) EXPECT_EQ(d->getStatus(), RKSO::SNAP_STATUS_REVERTED);
        }
        road.requestsSince();
        EXPECT_EQ(road.remove(devs), 0);
        const size_t deleteRequests = road.requestsSince();
        for (RKSO::SnapInfo* d : devs) {
            auto* dev = static_cast<FakeSnapInfo*>(d);
            EXPECT_EQ(dev->status(), RKSO::SNAP_STATUS_DELETED) << dev->errorText();
        }
        EXPECT_TRUE(road.backToStart());
        ::testing::Test::RecordProperty(
            std::string(r.name) + " requests per device (map unmap delete)",
            std::to_string(mapRequests / n) + " " + std::to_string(unmapRequests / n) + " " +
                std::to_string(deleteRequests / n));
    }
}

}  // namespace
