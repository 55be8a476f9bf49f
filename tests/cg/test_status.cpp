// Whether a PiT still exists: 24 only when the provider says it is gone, 0 only when
// it answered; a failed read or a refused login is -1, neither gone nor there, and
// another array's PiT of the same name never counts as ours.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "testsupport/SimPiTs.h"
#include "testsupport/SimSnapshot.h"

namespace {

using testsupport::CountRequests;
using testsupport::SimSnapshot;

TEST(GetPiTStatus, GoneOnlyWhenTheProviderSaysSo) {
    sim::Config config = testsupport::SimConfig();
    const std::string pit =
        testsupport::AddPiTs(config, testsupport::AddPiTGroup(config, "ora_log"), {1, 2})[0];
    const std::string cgPit = testsupport::AddCgPiTs(
        config, testsupport::AddConsistencyGroup(config, "5C_1", {"ora_log", "ora_data1"}),
        {1000})[0];
    testsupport::AddSecondArray(config);
    const std::string elsewhere =
        testsupport::AddPiTs(config, testsupport::AddPiTGroup(config, "ora_log", 1), {1}, 1)[0];
    sim::TestServer sim(config, testsupport::PlainHttp());

    struct Row {
        const char* name;
        std::string pit;
        bool cg;
        std::function<void(SimSnapshot&)> arrange;
        int result;
        int hostError;
        bool requests;
    };
    auto removed = [&](const std::string& id) {
        return [&sim, id](SimSnapshot&) { sim.removeObject(sim::RemovableKind::PiT, id); };
    };
    const Row rows[] = {
        // clang-format off
        {"present", pit, false, nullptr, 0, 0, true},
        {"removed on the array", pit, false, removed(pit), 24, 0, true},
        {"named by a path that is gone", pit, false,
         [&](SimSnapshot& d) { d.snap.m_PiTName = "root/netapp/santricity:NETAPP_PiT.InstanceID=\"" + pit + "x\""; },
         24, 0, true},
        {"another array's PiT is not ours", elsewhere, false, nullptr, 24, 0, true},
        {"CG PiT present", cgPit, true, nullptr, 0, 0, true},
        {"CG PiT removed", cgPit, true, removed(cgPit), 24, 0, true},
        {"provider error", pit, false, [&](SimSnapshot&) { sim.failCim(cim::CIM_ERR_FAILED, "busy", 1, {"EnumerateInstances", "", ""}); }, -1, 0, true},
        {"login refused", pit, false, [](SimSnapshot& d) { d.wrongPassword(); }, -1, 60555, true},
        {"no CIMOM", pit, false, [](SimSnapshot& d) { d.unreachable(); }, -1, 60541, false},
        {"no PiT", "", false, nullptr, -1, 0, false},
        // clang-format on
    };
    for (const Row& r : rows) {
        sim.reset();
        SimSnapshot dev(sim);
        dev.forPiT("ora_log");
        ASSERT_EQ(dev.snap.PreparePiT(), 1) << r.name;
        dev.snap.m_PiTName = r.pit;
        dev.snap.m_UseConsistencyGroup = r.cg;
        dev.snap.m_SnapStatus = RKSO::SNAP_STATUS_CREATED;
        if (r.arrange) r.arrange(dev);
        sim.log().clear();
        EXPECT_EQ(dev.snap.GetPiTStatus(), r.result) << r.name;
        EXPECT_EQ(dev.snap.m_SnapStatus, RKSO::SNAP_STATUS_CREATED) << r.name;
        EXPECT_EQ(dev.info.errorCode(), r.hostError) << r.name;
        EXPECT_LE(dev.info.setErrorInfoCalls(), 1) << r.name;
        EXPECT_EQ(CountRequests(sim, "InvokeMethod"), 0u) << r.name;
        EXPECT_EQ(!sim.requests().empty(), r.requests) << r.name;
        if (r.result == 0) {
            EXPECT_NE(dev.snap.m_PiTPath.find(r.pit), std::string::npos) << r.name;
        }
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
    }
}

}  // namespace
