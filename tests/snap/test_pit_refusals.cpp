// PiT group and PiT requests refused before any provider method is called.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "testsupport/SimSnapshot.h"

namespace {

using testsupport::CountRequests;
using testsupport::SimSnapshot;

TEST(CreatePiTGroup, RefusedBeforeTheMethod) {
    const std::string name22 = "vol_22_characters_abcd";
    const std::string name23 = "vol_23_characters_abcde";
    sim::Config config = testsupport::SimConfig();
    testsupport::AddVolumes(config, {name22, name23});
    // ora_log has its group already.
    sim::PiTGroup existing;
    existing.ref = sim::makeRef("existing group");
    existing.label = "ora_log_SMIS_PG";
    for (const sim::Volume& v : config.arrays[0].volumes)
        if (v.label == "ora_log") existing.baseVolume = v.uuid;
    config.arrays[0].pitGroups.push_back(existing);
    sim::TestServer sim(config, testsupport::PlainHttp());

    struct Row {
        const char* name;
        std::string volume;
        std::function<void(SimSnapshot&)> arrange;
        int result;
        int hostError;
        const char* trace;
    };
    const Row rows[] = {
        {"no system", "ora_log", [](SimSnapshot& d) { d.snap.m_SystemName.clear(); }, -1, 0,
         "Insufficient Parameters."},
        {"no source", "ora_log", [](SimSnapshot& d) { d.snap.m_SourceDev.clear(); }, -1, 0,
         "Insufficient Parameters."},
        {"no CIMOM", "ora_log", [](SimSnapshot& d) { d.unreachable(); }, -1, 60541,
         "Connection to CIMOM failed"},
        {"label of 31 characters", name23, nullptr, 5, 60540,
         "PiTGroup Name[vol_23_characters_abcde_SMIS_PG] exceeds 30 characters. Rename the "
         "source volume with 22 or less characters."},
        {"group exists", "ora_log", nullptr, 0, 0, "PiT Group [ora_log_SMIS_PG] already exist."},
        // Without its own name a source would find another nameless source's group.
        {"source name unreadable", "ora_log",
         [](SimSnapshot& d) {
             d.snap.m_SourceDevFriendlyName.clear();
             d.snap.m_SourceDevPath = "6000A0B8";
         },
         650015, 0, "Can not get the name of source volume"},
    };
    for (const Row& r : rows) {
        sim.log().clear();
        SimSnapshot dev(sim);
        dev.forPiT(r.volume);
        ASSERT_EQ(dev.snap.PreparePiT(), 1) << r.name;
        if (r.arrange) r.arrange(dev);
        EXPECT_EQ(dev.snap.CreatePiTGroup(), r.result) << r.name;
        EXPECT_EQ(CountRequests(sim, "InvokeMethod"), 0u) << r.name;
        EXPECT_EQ(dev.info.errorCode(), r.hostError) << r.name;
        EXPECT_TRUE(dev.logged(r.trace)) << r.name;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
    }
    // 22 characters make a label of exactly 30: accepted.
    SimSnapshot dev(sim);
    dev.forPiT(name22);
    ASSERT_EQ(dev.snap.PreparePiT(), 1);
    EXPECT_EQ(dev.snap.CreatePiTGroup(), 0);
    EXPECT_EQ(sim.provider().currentState().arrays[0].pitGroups.size(), 2u);
}

TEST(CreatePiT, RefusedWithoutARequest) {
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    struct Row {
        const char* name;
        std::function<void(SimSnapshot&)> arrange;
        const char* trace;
    };
    const Row rows[] = {
        {"not prepared", [](SimSnapshot& d) { d.snap.m_SnapStatus = RKSO::SNAP_STATUS_RESET; },
         "Device not ready for snapshot"},
        {"prepare failed",
         [](SimSnapshot& d) { d.snap.m_SnapStatus = RKSO::SNAP_STATUS_PREPARE_FAILED; },
         "Device not ready for snapshot"},
        {"not a PiT operation", [](SimSnapshot& d) { d.snap.m_PiTOperation = 98; },
         "Dumping Parameters"},
        {"no service", [](SimSnapshot& d) { d.snap.m_ServicePath.clear(); }, "Invalid Parameters"},
        {"no source path", [](SimSnapshot& d) { d.snap.m_SourceDevPath.clear(); },
         "Invalid Parameters"},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        dev.forPiT("ora_log");
        ASSERT_EQ(dev.snap.PreparePiT(), 1) << r.name;
        sim.log().clear();
        r.arrange(dev);
        EXPECT_EQ(dev.snap.CreatePiT(), 6) << r.name;
        EXPECT_EQ(dev.snap.m_SnapStatus, 6) << r.name;
        EXPECT_TRUE(sim.requests().empty()) << r.name;
        EXPECT_TRUE(dev.logged(r.trace)) << r.name;
        EXPECT_EQ(dev.snap.m_PiTName, "") << r.name;
    }
}

}  // namespace
