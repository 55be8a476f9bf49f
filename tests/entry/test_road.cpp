// The whole road through the exported entry points: prepare, snap, map (the view
// appears through the fabric), check, unmap, delete; against the simulator over
// real HTTP, round trips counted in its request log.
#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "rkso/rkso.h"
#include "testsupport/EntryHost.h"
#include "testsupport/FabricOSUtil.h"
#include "testsupport/HostClockScope.h"

namespace {

using namespace testsupport;

int call(rkso_devices_fn fn, std::vector<RKSO::SnapInfo*>& devs, RKSO::RKOSUtil* util) {
    return fn(devs.data(), static_cast<short>(devs.size()), util);
}

void dump(const FakeSnapInfo& d) {
    for (const auto& l : d.logLines()) std::cerr << l.level << " " << l.tag << " " << l.text << "\n";
}

TEST(Road, OnePiT) {
    HostClockScope clock;
    sim::TestServer sim(EntryConfig({"src01"}), PlainHttp());
    EntryHost host(sim);
    FabricOSUtil util;
    auto devs = host.devices({"src01"});
    host.prepareAndSnap(devs);
    FakeSnapInfo& dev = host.device("src01");
    const auto before = sim.requests().size();
    EXPECT_EQ(call(rkso_mapSnaps, devs, &util), 0);
    std::cerr << "map requests " << sim.requests().size() - before << "\n";
    EXPECT_FALSE(dev.snapDevicePath().empty());
    EXPECT_EQ(call(rkso_isMapped, devs, &util), 0);
    EXPECT_EQ(dev.status(), RKSO::SNAP_STATUS_VISIBLE);
    EXPECT_EQ(call(rkso_unmapSnaps, devs, &util), 0);
    EXPECT_EQ(call(rkso_deleteSnaps, devs, &util), 0);
    dump(dev);
}

}  // namespace
