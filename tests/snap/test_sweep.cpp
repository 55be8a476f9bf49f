// Failing mid-way: the k-th request of PreparePiT and of CreatePiTGroup fails (CIM
// error, closed connection, truncated answer) for every k of a clean run. Prepare
// fails and makes nothing; a group whose answer was lost is found again by the next
// call, never made twice. CreatePiT under faults is swept through the entry points.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/SimSnapshot.h"

namespace {

using testsupport::SimSnapshot;

size_t GroupsOfTheSource(sim::TestServer& sim) {
    const sim::Config state = sim.provider().currentState();
    size_t n = 0;
    for (const sim::PiTGroup& g : state.arrays[0].pitGroups) n += g.label == "exch_log_SMIS_PG";
    return n;
}

TEST(Sweep, EveryRequestOfPrepareAndGroupFailsOnceAndNoSecondGroupIsMade) {
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    for (const bool group : {false, true}) {
        const std::string stage = group ? "CreatePiTGroup" : "PreparePiT";
        // A fresh device, prepared when the group is swept; the log cleared.
        auto ready = [&](SimSnapshot& dev) {
            dev.forPiT("exch_log");
            if (group) {
                EXPECT_EQ(dev.snap.PreparePiT(), 1) << stage << " (clean prepare)";
            }
            sim.log().clear();
        };
        auto run = [&](SimSnapshot& dev) {
            return group ? dev.snap.CreatePiTGroup() : dev.snap.PreparePiT();
        };
        std::vector<sim::RequestRecord> clean;
        {
            sim.reset();
            SimSnapshot dev(sim);
            ready(dev);
            ASSERT_EQ(run(dev), group ? 0 : 1) << stage;
            clean = sim.requests();
        }
        for (sim::FaultKind kind :
             {sim::FaultKind::CimError, sim::FaultKind::Close, sim::FaultKind::Truncated}) {
            for (size_t k = 0; k < clean.size(); ++k) {
                const sim::RequestRecord& hit = clean[k];
                SCOPED_TRACE(stage + ", request " + std::to_string(k + 1) + " (" + hit.operation +
                             " " + hit.method + hit.className + "), " + sim::faultKindName(kind));
                sim.reset();
                SimSnapshot dev(sim);
                ready(dev);
                sim::FaultRule rule;
                rule.kind = kind;
                rule.cimCode = cim::CIM_ERR_FAILED;
                rule.description = "sweep";
                rule.operation = hit.operation;
                rule.method = hit.method;
                rule.className = hit.className;
                for (size_t j = 0; j < k; ++j)  // earlier requests of the same kind pass
                    rule.skip += clean[j].operation == hit.operation &&
                                 clean[j].method == hit.method &&
                                 clean[j].className == hit.className;
                sim.faults().add(rule);
                const int result = run(dev);
                sim.faults().clear();
                EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected());
                if (!group) {
                    EXPECT_TRUE(result == 1 || result == 2) << result;
                    EXPECT_EQ(dev.snap.m_SnapStatus, result);
                    EXPECT_EQ(GroupsOfTheSource(sim), 0u);
                    continue;
                }
                EXPECT_LE(GroupsOfTheSource(sim), 1u);
                if (result != 0) {
                    EXPECT_EQ(dev.snap.CreatePiTGroup(), 0) << "again";
                }
                EXPECT_EQ(GroupsOfTheSource(sim), 1u);
                EXPECT_TRUE(sim.provider().currentState().arrays[0].pits.empty());
            }
        }
    }
}

}  // namespace
