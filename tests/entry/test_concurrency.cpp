// Prepare and create of many devices at once, one worker thread each: run under
// ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "testsupport/EntryHost.h"

namespace {

using namespace testsupport;

TEST(Concurrency, SixtyFourDevicesArePreparedAndSnappedInParallel) {
    const std::vector<std::string> labels = Labels("v", 64);
    sim::TestServer sim(EntryConfig(labels), PlainHttp());
    EntryHost host(sim);
    // Two records of one volume as well: their group is made once.
    std::vector<std::string> keys = labels;
    keys.push_back("v01#2");
    auto devs = host.devices(keys);
    EXPECT_EQ(host.prepare(devs), 0);
    EXPECT_EQ(host.snap(devs), 0);
    const sim::Array array = sim.provider().currentState().arrays[0];
    EXPECT_EQ(array.pitGroups.size(), labels.size());
    EXPECT_EQ(array.pits.size(), keys.size());
    std::set<std::string> pits;
    for (const std::string& key : keys) {
        FakeSnapInfo& dev = host.device(key);
        EXPECT_EQ(dev.status(), RKSO::SNAP_STATUS_CREATED) << key << ": " << dev.errorText();
        const std::vector<std::string> f = IdentifierFields(dev);
        ASSERT_EQ(f.size(), 10u) << key;
        pits.insert(f[8]);
    }
    EXPECT_EQ(pits.size(), keys.size()) << "every device recorded its own PiT";
}

}  // namespace
