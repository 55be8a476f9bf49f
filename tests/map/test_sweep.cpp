// Failing mid-way: the k-th request of each map and unmap step fails (CIM error,
// closed connection, truncated answer) for every k of a clean run. Each run ends in
// the clean result or the failure result, and afterwards the array holds no view or
// mapping that the snapshot object does not name, and no new host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/SimMapping.h"

namespace {

using testsupport::PiTId;
using testsupport::RoadStep;
using testsupport::SimSnapshot;

struct SweptStep {
    const RoadStep* step;
    bool unmap;  // the map road runs first
    size_t index;
    int failure;
};

std::vector<SweptStep> Steps() {
    const int mapFailures[] = {6, -1, -1, 1};
    const int unmapFailures[] = {1, 21};
    std::vector<SweptStep> steps;
    for (size_t i = 0; i < testsupport::MapRoad().size(); ++i)
        steps.push_back({&testsupport::MapRoad()[i], false, i, mapFailures[i]});
    for (size_t i = 0; i < testsupport::UnmapRoad().size(); ++i)
        steps.push_back({&testsupport::UnmapRoad()[i], true, i, unmapFailures[i]});
    return steps;
}

class Sweep : public ::testing::TestWithParam<size_t> {
  protected:
    sim::TestServer sim{testsupport::ViewConfig(), testsupport::PlainHttp()};

    // A device for PiT 2 of ora_data1 and the iSCSI host, with the steps before
    // this one run cleanly.
    void RunUpTo(SimSnapshot& dev, const SweptStep& s) {
        testsupport::ForMap(dev, "ora_data1", PiTId(dev.array.id, 2));
        dev.snap.m_InitiatorPorts = testsupport::HostPorts(dev.array, "iscsihost1");
        dev.snap.m_DeviceAccess = 2;
        const size_t mapSteps = s.unmap ? testsupport::MapRoad().size() : s.index;
        for (size_t i = 0; i < mapSteps; ++i)
            ASSERT_EQ(testsupport::MapRoad()[i].run(dev), testsupport::MapRoad()[i].clean);
        for (size_t i = 0; s.unmap && i < s.index; ++i)
            ASSERT_EQ(testsupport::UnmapRoad()[i].run(dev), testsupport::UnmapRoad()[i].clean);
    }
};

TEST_P(Sweep, EveryRequestFailsOnceAndNothingStrayIsLeft) {
    const SweptStep s = Steps()[GetParam()];
    std::vector<sim::RequestRecord> clean;
    {
        SimSnapshot dev(sim);
        RunUpTo(dev, s);
        sim.log().clear();
        ASSERT_EQ(s.step->run(dev), s.step->clean);
        clean = sim.requests();
    }
    ASSERT_FALSE(clean.empty());
    const sim::FaultKind kinds[] = {sim::FaultKind::CimError, sim::FaultKind::Close,
                                    sim::FaultKind::Truncated};
    for (sim::FaultKind kind : kinds) {
        for (size_t k = 0; k < clean.size(); ++k) {
            const sim::RequestRecord& hit = clean[k];
            const std::string row = std::string(s.step->name) + ", request " +
                                    std::to_string(k + 1) + " (" + hit.operation + " " +
                                    hit.method + hit.className + "), " + sim::faultKindName(kind);
            sim.reset();
            SimSnapshot dev(sim);
            RunUpTo(dev, s);
            const sim::Array before = sim.provider().currentState().arrays[0];
            sim::FaultRule rule;
            rule.kind = kind;
            rule.cimCode = cim::CIM_ERR_FAILED;
            rule.description = "sweep";
            rule.operation = hit.operation;
            rule.method = hit.method;
            rule.className = hit.className;
            for (size_t j = 0; j < k; ++j)
                rule.skip += clean[j].operation == hit.operation && clean[j].method == hit.method &&
                             clean[j].className == hit.className;
            sim.faults().add(rule);

            const int result = s.step->run(dev);
            sim.faults().clear();
            EXPECT_TRUE(result == s.step->clean || result == s.failure) << row << ": " << result;
            EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << row;

            const sim::Array after = sim.provider().currentState().arrays[0];
            const std::string& named = dev.snap.m_TargetDev;
            EXPECT_EQ(after.hosts.size(), before.hosts.size()) << row;
            EXPECT_EQ(after.hostGroups.size(), before.hostGroups.size()) << row;
            for (const sim::View& v : after.views)
                EXPECT_TRUE(v.pit != dev.snap.m_PiTName || v.volume == named) << row;
            for (const sim::Mapping& m : after.mappings)
                EXPECT_TRUE(before.findMapping(m.volume) || m.volume == named) << row;
            const bool mapStep = !s.unmap && s.index == 3;
            if (result == s.step->clean) {
                const bool viewKept = !(s.unmap && s.index == 1);
                EXPECT_EQ(after.findView(named) != nullptr, viewKept) << row;
                if (mapStep || s.unmap) {
                    EXPECT_EQ(after.findMapping(named) != nullptr, mapStep) << row;
                }
            } else if (mapStep && after.findMapping(named)) {
                EXPECT_EQ(dev.snap.IsSnapMapped(), 9) << row << ": a mapping whose answer was lost";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, Sweep, ::testing::Range<size_t>(0, 6),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             const SweptStep s = Steps()[info.param];
                             return std::string(s.unmap ? "Unmap" : "Map") + s.step->name;
                         });

}  // namespace
