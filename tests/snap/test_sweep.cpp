// Failing mid-way: the k-th request of PreparePiT, CreatePiTGroup and CreatePiT fails
// (CIM error, closed connection, truncated answer) for every k of a clean run. Each
// run ends in the clean result or the failure result, and the array holds nothing
// new except what a carried-out call whose answer was lost made: one group per label,
// and PiTs only in the source's own group.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "testsupport/SimSnapshot.h"

namespace {

using testsupport::SimSnapshot;

const char* const kVolume = "exch_log";
const std::string kLabel = std::string(kVolume) + "_SMIS_PG";

struct Stage {
    const char* name;
    std::function<int(SimSnapshot&)> run;
    int clean;
};

const std::vector<Stage>& Stages() {
    static const std::vector<Stage> stages = {
        {"PreparePiT", [](SimSnapshot& d) { return d.snap.PreparePiT(); }, 1},
        {"CreatePiTGroup", [](SimSnapshot& d) { return d.snap.CreatePiTGroup(); }, 0},
        {"CreatePiT", [](SimSnapshot& d) { return d.snap.CreatePiT(); }, 5},
    };
    return stages;
}

size_t GroupsLabelled(const sim::Array& a, const std::string& label) {
    size_t n = 0;
    for (const sim::PiTGroup& g : a.pitGroups) n += g.label == label;
    return n;
}

const sim::PiTGroup* GroupOf(const sim::Array& a, const sim::PiT& pit) {
    for (const sim::PiTGroup& g : a.pitGroups)
        if (g.ref == pit.group) return &g;
    return nullptr;
}

bool HasPiT(const sim::Array& a, const std::string& id) {
    for (const sim::PiT& p : a.pits)
        if (p.id == id) return true;
    return false;
}

// Runs the stages before `upTo` cleanly on a fresh device.
void RunCleanly(SimSnapshot& dev, size_t upTo) {
    dev.forPiT(kVolume);
    for (size_t i = 0; i < upTo; ++i)
        ASSERT_EQ(Stages()[i].run(dev), Stages()[i].clean) << Stages()[i].name << " (clean)";
}

class Sweep : public ::testing::TestWithParam<size_t> {};

TEST_P(Sweep, EveryRequestFailsOnceAndNothingStrayIsLeft) {
    const Stage& stage = Stages()[GetParam()];
    sim::Config config = testsupport::SimConfig();
    sim::TestServer sim(config, testsupport::PlainHttp());

    // The clean run gives the requests to fail, one at a time.
    std::vector<sim::RequestRecord> clean;
    {
        SimSnapshot dev(sim);
        RunCleanly(dev, GetParam());
        sim.log().clear();
        ASSERT_EQ(stage.run(dev), stage.clean) << stage.name;
        clean = sim.requests();
    }
    ASSERT_FALSE(clean.empty());
    const sim::FaultKind kinds[] = {sim::FaultKind::CimError, sim::FaultKind::Close,
                                    sim::FaultKind::Truncated};
    for (sim::FaultKind kind : kinds) {
        for (size_t k = 0; k < clean.size(); ++k) {
            const std::string row = std::string(stage.name) + ", request " + std::to_string(k + 1) +
                                    " (" + clean[k].operation + " " + clean[k].method +
                                    clean[k].className + "), " + sim::faultKindName(kind);
            sim.reset();
            SimSnapshot dev(sim);
            RunCleanly(dev, GetParam());
            const sim::Array before = sim.provider().currentState().arrays[0];
            // Requests before k with the same key pass.
            int skip = 0;
            for (size_t j = 0; j < k; ++j)
                skip += clean[j].operation == clean[k].operation &&
                        clean[j].method == clean[k].method &&
                        clean[j].className == clean[k].className;
            sim::FaultRule rule;
            rule.kind = kind;
            rule.cimCode = cim::CIM_ERR_FAILED;
            rule.description = "sweep";
            rule.operation = clean[k].operation;
            rule.method = clean[k].method;
            rule.className = clean[k].className;
            rule.skip = skip;
            sim.faults().add(rule);

            const int result = stage.run(dev);
            const sim::Array after = sim.provider().currentState().arrays[0];
            EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << row;
            EXPECT_LE(after.pitGroups.size(), before.pitGroups.size() + 1) << row;
            EXPECT_LE(GroupsLabelled(after, kLabel), 1u) << row << ": never a second group";
            EXPECT_LE(after.pits.size(), before.pits.size() + 1) << row;
            for (const sim::PiT& p : after.pits) {
                const sim::PiTGroup* g = GroupOf(after, p);
                ASSERT_NE(g, nullptr) << row << ": a PiT outside a group";
                EXPECT_EQ(g->label, kLabel) << row;
            }
            if (result == stage.clean) {
                if (GetParam() == 1) {
                    EXPECT_EQ(GroupsLabelled(after, kLabel), 1u) << row;
                }
                if (GetParam() == 2) {
                    EXPECT_TRUE(HasPiT(after, dev.snap.m_PiTName)) << row;
                }
                continue;
            }
            switch (GetParam()) {
                case 0:
                    EXPECT_EQ(result, 2) << row;
                    EXPECT_EQ(dev.snap.m_SnapStatus, 2) << row;
                    break;
                case 1:
                    EXPECT_NE(result, 0) << row;
                    // A group made by a lost answer is found and reused.
                    EXPECT_EQ(dev.snap.CreatePiTGroup(), 0) << row << " (again)";
                    EXPECT_EQ(GroupsLabelled(sim.provider().currentState().arrays[0], kLabel), 1u)
                        << row;
                    break;
                case 2:
                    EXPECT_EQ(result, 6) << row;
                    EXPECT_EQ(dev.snap.m_SnapStatus, 6) << row;
                    break;
            }
            if (GetParam() == 0) {
                EXPECT_EQ(after.pitGroups.size(), before.pitGroups.size()) << row;
                EXPECT_EQ(after.pits.size(), before.pits.size()) << row;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Stages, Sweep, ::testing::Values(0u, 1u, 2u),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::string(Stages()[info.param].name);
                         });

}  // namespace
