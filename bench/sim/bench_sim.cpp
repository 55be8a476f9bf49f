// Throughput and memory of the simulator, measured through our own CIM client:
//  - small GetInstance requests over keep-alive connections, from 1 to 8 client threads;
//  - enumerating an array of 10,000 volumes, with the process's peak resident memory.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include <cim/CIMClient.h>

#include "sim/server/TestServer.h"

namespace {

// Resident memory figures of this process (server and client), in MiB.
double procStatusMiB(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    double kib = 0;
    size_t len = std::strlen(field);
    while (std::fgets(line, sizeof(line), f)) {
        if (std::strncmp(line, field, len) == 0) {
            kib = std::atof(line + len + 1);
            break;
        }
    }
    std::fclose(f);
    return kib / 1024.0;
}

sim::TestServerOptions httpOnly() {
    sim::TestServerOptions o;
    o.https = false;
    o.maxHoldMs = 1000;
    return o;
}

sim::TestServer& smallArray() {
    static sim::TestServer server(sim::Config::defaults(), httpOnly());
    return server;
}

sim::Config largeConfig(int volumes) {
    nlohmann::json j = sim::Config::defaults().toJson();
    auto& array = j["arrays"][0];
    array["pools"][0]["capacityBytes"] = uint64_t(1) << 50;
    array["mappings"] = nlohmann::json::array();
    array["volumes"] = nlohmann::json::array();
    for (int i = 0; i < volumes; ++i) {
        char label[32];
        std::snprintf(label, sizeof(label), "bench_%05d", i);
        array["volumes"].push_back(
            {{"label", label}, {"pool", array["pools"][0]["label"]}, {"sizeBytes", 1073741824}});
    }
    return sim::Config::fromJson(j);
}

void BM_GetInstanceKeepAlive(benchmark::State& state) {
    sim::TestServer& server = smallArray();
    cim::CIMClient client;
    client.connect("127.0.0.1", server.httpPort(), server.user(), server.password());
    auto volumes = client.enumerateInstanceNames(server.arrayNamespace(), "CIM_StorageVolume");
    size_t i = state.thread_index();
    for (auto _ : state) {
        auto inst = client.getInstance(server.arrayNamespace(), volumes[i++ % volumes.size()]);
        benchmark::DoNotOptimize(inst);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetInstanceKeepAlive)->ThreadRange(1, 8)->UseRealTime()->MinTime(2.0);

void BM_EnumerateTenThousandVolumes(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    double before = procStatusMiB("VmRSS:");
    sim::TestServer server(largeConfig(count), httpOnly());
    cim::CIMClient client;
    client.connect("127.0.0.1", server.httpPort(), server.user(), server.password());
    client.setTimeout(600000);
    double loaded = procStatusMiB("VmRSS:");
    size_t got = 0;
    for (auto _ : state) {
        auto all =
            client.enumerateInstances(server.arrayNamespace(), "CIM_StorageVolume", true, false);
        got = all.size();
        benchmark::DoNotOptimize(all);
    }
    if (got < static_cast<size_t>(count)) state.SkipWithError("not every volume came back");
    state.counters["volumes"] = static_cast<double>(got);
    state.counters["rss_before_MiB"] = before;
    state.counters["rss_loaded_MiB"] = loaded;
    state.counters["peak_rss_MiB"] = procStatusMiB("VmHWM:");
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(got));
}
BENCHMARK(BM_EnumerateTenThousandVolumes)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_EnumerateNamesTenThousandVolumes(benchmark::State& state) {
    sim::TestServer server(largeConfig(static_cast<int>(state.range(0))), httpOnly());
    cim::CIMClient client;
    client.connect("127.0.0.1", server.httpPort(), server.user(), server.password());
    client.setTimeout(600000);
    size_t got = 0;
    for (auto _ : state) {
        auto names = client.enumerateInstanceNames(server.arrayNamespace(), "CIM_StorageVolume");
        got = names.size();
        benchmark::DoNotOptimize(names);
    }
    state.counters["volumes"] = static_cast<double>(got);
    state.counters["peak_rss_MiB"] = procStatusMiB("VmHWM:");
}
BENCHMARK(BM_EnumerateNamesTenThousandVolumes)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
