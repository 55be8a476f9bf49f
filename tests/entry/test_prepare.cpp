// Prepare through rkso_prepareDevices: devices the host sees through the simulator's
// fabric, PiT groups and consistency groups made on the simulated array.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/UniqueId.h"
#include "testsupport/EntryHost.h"

namespace {

using namespace testsupport;

TEST(Prepare, OnePiTDeviceGetsItsGroupAndIdentifier) {
    sim::TestServer sim(EntryConfig({"src01"}), PlainHttp());
    EntryHost host(sim);
    auto devs = host.devices({"src01"});
    EXPECT_EQ(host.prepare(devs), 0);
    FakeSnapInfo& dev = host.device("src01");
    EXPECT_EQ(dev.status(), RKSO::SNAP_STATUS_PREPARED) << dev.errorText();
    ASSERT_TRUE(dev.metaData(1).has_value());
    EXPECT_EQ(CountRequests(sim, "InvokeMethod", "CreatePiTGroup"), 1u);
    for (const auto& l : dev.logLines())
        std::cerr << l.level << " " << l.tag << " " << l.text << "\n";
}

}  // namespace
