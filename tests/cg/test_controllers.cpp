// Which controller owns a volume now (it follows a failover) and which one should.
#include "testsupport/SimMapping.h"

namespace {

using testsupport::SimSnapshot;

// The text path of volume label, as the provider names it.
std::string PathOf(SimSnapshot& dev, const std::string& label) {
    return testsupport::OpenConnection(dev).volumePath(dev.volume(label).uuid);
}

TEST(Controllers, CurrentAndPreferredOwners) {
    sim::Config config = testsupport::SimConfig();
    config.arrays[0].volumes[1].hasSetting = false;  // ora_data2
    const sim::Array& second = testsupport::AddSecondArray(config);
    const std::string elsewhere = testsupport::VolumeOf(second, "ora_log").uuid;
    sim::TestServer sim(config, testsupport::PlainHttp());
    const std::string controllerA = config.arrays[0].controllers[0].name;
    const std::string controllerB = config.arrays[0].controllers[1].name;
    using Lookup = std::function<int(LSISnapshot&, std::string&)>;
    const Lookup current = [](LSISnapshot& s, std::string& c) {
        return s.GetLSICurrentControllerPath(c);
    };
    const Lookup preferred = [](LSISnapshot& s, std::string& c) {
        return s.GetLSIPreferredControllerPath(c);
    };
    struct Row {
        const char* name;
        Lookup lookup;
        std::function<void(SimSnapshot&)> arrange;
        int result;
        std::string controller;
        bool requests;
        const char* trace;
    };
    // clang-format off
    const Row rows[] = {
        {"current, by UUID", current, [](SimSnapshot& d) { d.snap.m_SourceDev = d.volume("exch_db").uuid; }, 1, controllerB, true, "CurrentManager ["},
        {"current, by path", current, [](SimSnapshot& d) { d.snap.m_SourceDev = PathOf(d, "ora_log"); }, 1, controllerA, true, "CurrentManager ["},
        {"current after a failover", current, [&](SimSnapshot& d) { sim.provider().control({{"action", "failover"}, {"volume", "ora_log"}}); d.snap.m_SourceDev = d.volume("ora_log").uuid; }, 1, controllerB, true, "CurrentManager ["},
        {"current, volume of another array", current, [&](SimSnapshot& d) { d.snap.m_SourceDev = elsewhere; }, 0, "", true, " LUN UUID "},
        {"current, no source", current, [](SimSnapshot& d) { d.snap.m_SourceDev.clear(); }, 0, "", false, "systemName = "},
        {"current, login refused", current, [](SimSnapshot& d) { d.snap.m_SourceDev = d.volume("ora_log").uuid; d.wrongPassword(); }, 0, "", true, ""},
        {"preferred", preferred, [](SimSnapshot& d) { d.snap.m_SourceDevPath = PathOf(d, "exch_db"); }, 1, controllerB, true, "The prefered controller path is ["},
        {"preferred after a failover", preferred, [&](SimSnapshot& d) { sim.provider().control({{"action", "failover"}, {"volume", "ora_log"}}); d.snap.m_SourceDevPath = PathOf(d, "ora_log"); }, 1, controllerA, true, "The prefered controller path is ["},
        {"preferred, no volume setting", preferred, [](SimSnapshot& d) { d.snap.m_SourceDevPath = PathOf(d, "ora_data2"); }, 0, "", true, " Can not get LSI StorageVolumeSetting of source volume"},
        {"preferred, not an E-Series path", preferred, [](SimSnapshot& d) { d.snap.m_SourceDevPath = "root/cimv2:CIM_StorageVolume.DeviceID=\"60\""; }, 0, "", false, ""},
        {"preferred, no path", preferred, [](SimSnapshot& d) { d.snap.m_SourceDevPath.clear(); }, 0, "", false, "Dumping Parameters"},
        // clang-format on
    };
    for (const Row& r : rows) {
        sim.reset();
        SimSnapshot dev(sim);
        r.arrange(dev);
        sim.log().clear();
        std::string controller = "unset";
        EXPECT_EQ(r.lookup(dev.snap, controller), r.result) << r.name;
        EXPECT_EQ(controller, r.result ? r.controller : "unset") << r.name;
        EXPECT_EQ(!sim.requests().empty(), r.requests) << r.name;
        EXPECT_TRUE(dev.logged(r.trace)) << r.name;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
    }
}

}  // namespace
