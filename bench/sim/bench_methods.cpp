// Latency of the PiT methods on a large array, through our own CIM client: 2,000
// volumes with one PiT group each and 4,000 PiTs. Taking a PiT, making a view,
// deleting the oldest PiT, and the reference walk hosts make from one PiT.
#include <benchmark/benchmark.h>

#include <cim/CIMClient.h>

#include "sim/server/TestServer.h"

namespace {

constexpr int kVolumes = 2000;
constexpr int kPiTsPerGroup = 2;

sim::Config largePiTArray() {
    nlohmann::json j = sim::Config::defaults().toJson();
    auto& a = j["arrays"][0];
    a["pools"][0]["capacityBytes"] = uint64_t(1) << 52;
    a["mappings"] = nlohmann::json::array();
    a["volumes"] = nlohmann::json::array();
    a["bulkVolumes"] = {{"count", kVolumes}, {"labelPrefix", "v"}, {"blocks", 2097152}};
    j["rules"] = {{"maxPiTsPerGroup", 0}};
    const std::string id = sim::Config::fromJson(j).arrays[0].id;
    for (int i = 0; i < kVolumes; ++i) {
        const std::string label = "v" + std::to_string(i);
        const std::string ref = sim::makeRef(id + ":bench-group:" + label);
        a["pitGroups"].push_back({{"label", label + "_SMIS_PG"},
                                  {"baseVolume", label},
                                  {"ref", ref},
                                  {"repositoryBytes", 1 << 30},
                                  {"nextSequence", kPiTsPerGroup + 1}});
        for (int k = 1; k <= kPiTsPerGroup; ++k)
            a["pits"].push_back({{"group", ref}, {"sequence", k}, {"whenMicros", i * 10 + k}});
    }
    return sim::Config::fromJson(j);
}

struct Bench {
    sim::TestServer server{largePiTArray(), [] {
                               sim::TestServerOptions o;
                               o.https = false;
                               return o;
                           }()};
    cim::CIMClient client;
    std::string ns = server.arrayNamespace();
    cim::CIMObjectPath service;
    std::vector<cim::CIMObjectPath> volumes;
    std::vector<cim::CIMObjectPath> defineStates;  // in PiT order: two per group

    Bench() {
        client.connect("127.0.0.1", server.httpPort(), server.user(), server.password());
        client.setTimeout(600000);
        service = client.enumerateInstanceNames(ns, "CIM_ReplicationService").front();
        volumes = client.enumerateInstanceNames(ns, "CIM_StorageVolume");
        for (const auto& pit :
             client.enumerateInstanceNames(ns, server.provider().config().classPrefix + "_PiT"))
            defineStates.push_back(
                client.referenceNames(ns, pit, "CIM_SettingsDefineState").front());
    }

    uint32_t invoke(const char* method, const std::vector<cim::CIMParamValue>& in) {
        cim::Array<cim::CIMParamValue> out;
        cim::Uint32 rc = 0;
        client.invokeMethod(ns, service, method, in, out).get(rc);
        return rc;
    }
};

void counters(benchmark::State& state, Bench& b) {
    state.counters["pitGroups"] =
        static_cast<double>(b.server.provider().currentState().arrays[0].pitGroups.size());
    state.counters["pits"] =
        static_cast<double>(b.server.provider().currentState().arrays[0].pits.size());
}

void BM_CreateSynchronizationAspect(benchmark::State& state) {
    Bench b;
    size_t i = 0;
    for (auto _ : state) {
        uint32_t rc = b.invoke(
            "CreateSynchronizationAspect",
            {cim::CIMParamValue("SyncType", cim::CIMValue(cim::Uint16(7))),
             cim::CIMParamValue("SourceElement", cim::CIMValue(b.volumes[i++ % kVolumes]))});
        if (rc != 0) state.SkipWithError("CreateSynchronizationAspect failed");
    }
    counters(state, b);
}
BENCHMARK(BM_CreateSynchronizationAspect)->Unit(benchmark::kMicrosecond)->Iterations(2000);

void BM_ModifySettingsDefineStateView(benchmark::State& state) {
    Bench b;
    size_t i = 0;
    for (auto _ : state) {
        uint32_t rc = b.invoke(
            "ModifySettingsDefineState",
            {cim::CIMParamValue("Operation", cim::CIMValue(cim::Uint16(5))),
             cim::CIMParamValue("SettingsState",
                                cim::CIMValue(b.defineStates[i++ % b.defineStates.size()]))});
        if (rc != 0) state.SkipWithError("ModifySettingsDefineState 5 failed");
    }
    counters(state, b);
}
BENCHMARK(BM_ModifySettingsDefineStateView)->Unit(benchmark::kMicrosecond)->Iterations(2000);

void BM_ModifySettingsDefineStateDelete(benchmark::State& state) {
    Bench b;
    size_t i = 0;
    for (auto _ : state) {
        // The oldest PiT of group i: the first of its two.
        uint32_t rc =
            b.invoke("ModifySettingsDefineState",
                     {cim::CIMParamValue("Operation", cim::CIMValue(cim::Uint16(4))),
                      cim::CIMParamValue("SettingsState",
                                         cim::CIMValue(b.defineStates[kPiTsPerGroup * i++]))});
        if (rc != 0) state.SkipWithError("ModifySettingsDefineState 4 failed");
    }
    counters(state, b);
}
BENCHMARK(BM_ModifySettingsDefineStateDelete)->Unit(benchmark::kMicrosecond)->Iterations(2000);

void BM_ReferenceNamesOfAPiT(benchmark::State& state) {
    Bench b;
    const std::string cls = b.server.provider().config().classPrefix + "_PiT";
    const cim::CIMObjectPath pit = b.client.enumerateInstanceNames(b.ns, cls)[kVolumes];
    for (auto _ : state) {
        auto refs = b.client.referenceNames(b.ns, pit, "CIM_SettingsDefineState");
        if (refs.size() != 1) state.SkipWithError("not exactly one CIM_SettingsDefineState");
    }
    counters(state, b);
}
BENCHMARK(BM_ReferenceNamesOfAPiT)->Unit(benchmark::kMicrosecond)->Iterations(2000);

}  // namespace

BENCHMARK_MAIN();
