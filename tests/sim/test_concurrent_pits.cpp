// Sixteen hosts take four PiTs each of one volume at once: the group's limit lets
// exactly 32 through, each with its own "SequenceNumber" and "WhenPointInTime".
// Run under ThreadSanitizer with the tsan preset.
#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>

#include "SimArrays.h"
#include "testsupport/SimArray.h"

TEST(ConcurrentPiTs, SixteenHostsTakeFourEachAndExactly32Succeed) {
    testsupport::SimArray s(simtest::richArray([](nlohmann::json& j) {
        j["arrays"][0]["pitGroups"].push_back(
            {{"label", "small_lun_SMIS_PG"}, {"baseVolume", "small_lun"}});
    }));
    const cim::CIMObjectPath volume = s.volume("small_lun");
    const cim::CIMObjectPath service = s.first(s.prefix() + "_ReplicationService");
    std::mutex mutex;
    std::vector<cim::CIMObjectPath> taken;
    std::vector<uint32_t> refused;
    std::vector<std::thread> hosts;
    for (int h = 0; h < 16; ++h)
        hosts.emplace_back([&] {
            cim::CIMClient client;
            client.connect("127.0.0.1", s.server().httpPort(), s.server().user(),
                           s.server().password());
            for (int i = 0; i < 4; ++i) {
                cim::Array<cim::CIMParamValue> out;
                cim::Uint32 rc = 0;
                client
                    .invokeMethod(s.ns(), service, "CreateSynchronizationAspect",
                                  {testsupport::param("SyncType", testsupport::u16(7)),
                                   testsupport::param("SourceElement", cim::CIMValue(volume))},
                                  out)
                    .get(rc);
                std::lock_guard<std::mutex> lock(mutex);
                if (rc != 0) {
                    refused.push_back(rc);
                    continue;
                }
                cim::CIMObjectPath state;
                out.at(0).getValue().get(state);
                taken.push_back(testsupport::settingData(state));
            }
        });
    for (auto& h : hosts) h.join();
    ASSERT_EQ(taken.size(), 32u);
    EXPECT_EQ(refused, std::vector<uint32_t>(32, 640004u));
    std::set<std::string> sequences, times;
    for (const auto& pit : taken) {
        sequences.insert(s.property(pit, "SequenceNumber"));
        times.insert(s.property(pit, "WhenPointInTime"));
    }
    EXPECT_EQ(sequences.size(), 32u);
    EXPECT_EQ(times.size(), 32u);
}
