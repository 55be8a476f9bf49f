// Many devices at once against one provider, as the prepare and create workers run
// them: each thread prepares, groups and snaps its own volume.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "testsupport/SimSnapshot.h"
#include "testsupport/TalonConfig.h"

namespace {

using testsupport::SimSnapshot;

TEST(Threads, SixteenVolumesPreparedGroupedAndSnappedAtOnce) {
    for (const char* caching : {"0", "1"}) {
        testsupport::TalonConfig config(std::string("RK_SMIS_CACHE_VOLUME_INSTANCES=") + caching);
        RkCimUtil::ClearVolumeCache();
        sim::Config c = testsupport::SimConfig();
        std::vector<std::string> labels;
        for (int i = 0; i < 16; ++i) labels.push_back("tvol_" + std::to_string(i));
        testsupport::AddVolumes(c, labels);
        sim::TestServer sim(c, testsupport::PlainHttp());
        std::vector<int> results(16, -1);
        std::vector<std::string> pits(16);
        std::vector<std::thread> threads;
        for (int i = 0; i < 16; ++i) {
            threads.emplace_back([&, i] {
                SimSnapshot dev(sim);
                dev.forPiT(labels[i]);
                if (dev.snap.PreparePiT() != 1 || dev.snap.CreatePiTGroup() != 0) return;
                results[i] = dev.snap.CreatePiT();
                pits[i] = dev.snap.m_PiTName;
            });
        }
        for (std::thread& t : threads) t.join();
        const sim::Array after = sim.provider().currentState().arrays[0];
        EXPECT_EQ(after.pitGroups.size(), 16u) << "caching " << caching;
        EXPECT_EQ(after.pits.size(), 16u) << "caching " << caching;
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(results[i], 5) << labels[i] << ", caching " << caching;
            bool found = false;
            for (const sim::PiT& p : after.pits) found = found || p.id == pits[i];
            EXPECT_TRUE(found) << labels[i] << ", caching " << caching;
        }
        RkCimUtil::ClearVolumeCache();
    }
}

}  // namespace
