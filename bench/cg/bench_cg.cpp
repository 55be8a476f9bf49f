// Requests and wall time of the E-Series group operations against the in-process
// simulator over loopback HTTP (jobs end at once, no added latency):
//  - a DeletePiT run over 32 PiTs of one PiT group, none viewed;
//  - a DeletePiT run over 32 CG PiTs of one consistency group, the youngest with a
//    CG view (31 go, the run stops at the viewed one);
//  - GetConsistencyGroup over 16 groups of 4 volumes, the exact group listed last.
// "requests" is the number of CIM requests one call made, from the simulator's log.
#include <benchmark/benchmark.h>

#include <list>
#include <string>
#include <vector>

#include "eseries/LSISnapshot.h"
#include "rkso/EvDebug.h"
#include "sim/server/TestServer.h"
#include "testsupport/SimPiTs.h"

namespace {

constexpr int kPiTs = 32;
constexpr int kGroups = 16;
constexpr int kGroupSize = 4;

void DropLine(void*, const char*, int, const char*) {}

sim::TestServerOptions HttpOnly() {
    sim::TestServerOptions o;
    o.https = false;
    return o;
}

sim::Config BaseConfig() {
    sim::Config c = sim::Config::defaults();
    c.jobs.durationMs = 0;
    sim::Array& a = c.arrays.front();
    for (int i = 0; i < kGroups * kGroupSize; ++i) {
        sim::Volume v;
        v.label = "cgvol" + std::to_string(i);
        v.uuid = sim::makeVolumeUuid("bench:" + v.label);
        v.pool = a.pools.front().ref;
        v.blocks = 2097152;
        a.volumes.push_back(v);
    }
    return c;
}

// A device on the simulator's first array, prepared for the volume ora_log.
void Prepare(sim::TestServer& sim, LSISnapshot& snap) {
    const sim::Array a = sim.provider().currentState().arrays.front();
    RK_SMIS_SNAP::RkArrayParams p;
    p.address = "127.0.0.1";
    p.port = sim.httpPort();
    p.nameSpace = sim.arrayNamespace();
    p.userName = sim.user();
    p.password = sim.password();
    p.m_SystemName = a.id;
    snap.SetArrayInfo(p);
    snap.m_SnapName = "bench";
    snap.m_SourceDev = testsupport::VolumeOf(a, "ora_log").uuid;
    snap.m_PiTOperation = 7;
    if (snap.PreparePiT() != 1) throw std::runtime_error("prepare failed");
    snap.m_PiTOperation = 98;
}

void RunDeletes(benchmark::State& state, bool cg) {
    EvDebug::setSink(DropLine, nullptr);
    sim::Config c = BaseConfig();
    std::vector<std::string> pits;
    std::vector<uint64_t> ages;
    for (int i = 1; i <= kPiTs; ++i) ages.push_back(static_cast<uint64_t>(i));
    if (cg) {
        std::vector<int64_t> whens(ages.begin(), ages.end());
        pits = testsupport::AddCgPiTs(
            c, testsupport::AddConsistencyGroup(c, "5C_1", {"ora_log", "ora_data1"}), whens);
        testsupport::AddCgPiTView(c, pits.back());
    } else {
        pits = testsupport::AddPiTs(c, testsupport::AddPiTGroup(c, "ora_log"), ages);
    }
    sim::TestServer sim(c, HttpOnly());
    LSISnapshot base;
    Prepare(sim, base);
    base.m_UseConsistencyGroup = cg;
    base.m_ConsistencyGroupName = cg ? "5C_1" : "null";
    base.m_PiTName = pits.front();
    size_t requests = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sim.reset();
        LSISnapshot snap = base;
        std::list<std::string> active;
        state.ResumeTiming();
        if (snap.DeletePiT(active, false) != RKSO::SNAP_STATUS_DELETED)
            state.SkipWithError("DeletePiT failed");
        state.PauseTiming();
        requests = sim.requests().size();
        state.ResumeTiming();
    }
    state.counters["requests"] = static_cast<double>(requests);
    EvDebug::setSink(nullptr, nullptr);
}

void BM_DeletePiT32(benchmark::State& state) {
    RunDeletes(state, false);
}

void BM_DeleteCgPiT32WithView(benchmark::State& state) {
    RunDeletes(state, true);
}

void BM_GetConsistencyGroup16x4(benchmark::State& state) {
    EvDebug::setSink(DropLine, nullptr);
    sim::Config c = BaseConfig();
    std::list<std::string> wanted;
    for (int g = 0; g < kGroups; ++g) {
        std::vector<std::string> labels;
        for (int m = 0; m < kGroupSize; ++m)
            labels.push_back("cgvol" + std::to_string(g * kGroupSize + m));
        testsupport::AddConsistencyGroup(c, std::to_string(g % 10) + "G_" + std::to_string(g),
                                         labels);
        if (g == kGroups - 1)
            for (const std::string& l : labels)
                wanted.push_back(testsupport::VolumeOf(c.arrays.front(), l).uuid);
    }
    sim::TestServer sim(c, HttpOnly());
    LSISnapshot snap;
    Prepare(sim, snap);
    size_t requests = 0;
    for (auto _ : state) {
        sim.log().clear();
        int index = 0;
        if (!snap.GetConsistencyGroup(wanted, kGroupSize, index))
            state.SkipWithError("group not found");
        state.PauseTiming();
        requests = sim.requests().size();
        state.ResumeTiming();
    }
    state.counters["requests"] = static_cast<double>(requests);
    EvDebug::setSink(nullptr, nullptr);
}

}  // namespace

BENCHMARK(BM_DeletePiT32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeleteCgPiT32WithView)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetConsistencyGroup16x4)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
