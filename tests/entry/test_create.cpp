// Create through rkso_snapDevices.
#include <gtest/gtest.h>

#include "testsupport/EntryHost.h"

namespace {

using namespace testsupport;

TEST(Create, OnePiTDeviceIsSnapped) {
    sim::TestServer sim(EntryConfig({"src01"}), PlainHttp());
    EntryHost host(sim);
    auto devs = host.devices({"src01"});
    host.prepareAndSnap(devs);
    EXPECT_EQ(host.device("src01").status(), RKSO::SNAP_STATUS_CREATED);
    EXPECT_EQ(CountRequests(sim, "InvokeMethod", "CreateSynchronizationAspect"), 1u);
}

}  // namespace
