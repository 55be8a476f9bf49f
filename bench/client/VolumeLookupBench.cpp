// The plug-in's volume lookup by UUID (RkCimUtil::GetVolObjPathByUUID) with the volume cache
// off, against the simulator holding 10,000 volumes on loopback: one lookup after another,
// and 16 devices looking up at once (each with its own connection, as worker threads do).
// Server and client share this process, so CPU figures include both.
//
//   bench_volume_lookup [--benchmark_filter=...]
//   bench_volume_lookup --lookups N
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "sim/server/TestServer.h"
#include "smis/RkCimConnection.h"
#include "smis/RkCimUtil.h"

namespace {

constexpr int kVolumes = 10000;

sim::Config tenThousandVolumes() {
    nlohmann::json j = sim::Config::defaults().toJson();
    auto& array = j["arrays"][0];
    array["pools"][0]["capacityBytes"] = uint64_t(1) << 50;
    array["mappings"] = nlohmann::json::array();
    array["volumes"] = nlohmann::json::array();
    for (int i = 0; i < kVolumes; ++i) {
        char label[32];
        std::snprintf(label, sizeof label, "bench_%05d", i);
        array["volumes"].push_back(
            {{"label", label}, {"pool", array["pools"][0]["label"]}, {"sizeBytes", 1073741824}});
    }
    return sim::Config::fromJson(j);
}

sim::TestServer& server() {
    static sim::TestServer s(tenThousandVolumes(), [] {
        sim::TestServerOptions o;
        o.https = false;
        return o;
    }());
    return s;
}

struct Device {
    RkCimConnection conn;
    RkCimUtil util;
    Device() {
        sim::TestServer& s = server();
        RkCimomParams p;
        p.name = "array1";
        p.address = "127.0.0.1";
        p.port = s.httpPort();
        p.nameSpace = s.arrayNamespace();
        p.userName = s.user();
        p.password = s.password();
        conn.GetCimom().SetCimom(p);
        if (conn.ConnectCimom() != 0) std::abort();
    }
};

// A volume in the middle of the list.
const std::string& wanted() {
    static const std::string uuid = [] {
        const sim::Config state = server().provider().currentState();
        return state.arrays.front().volumes[kVolumes / 2].uuid;
    }();
    return uuid;
}

double cpuMs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// "CPU" is the client thread's; process_cpu_ms adds the simulator's threads and sim_cpu_ms
// is the difference, all per lookup.
void BM_VolumeLookupCachingOff(benchmark::State& state) {
    Device d;
    const double process = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
    const double client = cpuMs(CLOCK_THREAD_CPUTIME_ID);
    for (auto _ : state) {
        if (d.util.GetVolObjPathByUUID(d.conn, wanted(), "").empty())
            state.SkipWithError("volume not found");
    }
    const double n = static_cast<double>(state.iterations());
    const double processMs = (cpuMs(CLOCK_PROCESS_CPUTIME_ID) - process) / n;
    state.counters["process_cpu_ms"] = processMs;
    state.counters["sim_cpu_ms"] = processMs - (cpuMs(CLOCK_THREAD_CPUTIME_ID) - client) / n;
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VolumeLookupCachingOff)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

// Lookups hold the process-wide lock for their whole length, so parallel ones queue; this
// shows what that costs, and runs under ThreadSanitizer too.
void BM_VolumeLookupCachingOffParallel(benchmark::State& state) {
    Device d;
    for (auto _ : state) {
        if (d.util.GetVolObjPathByUUID(d.conn, wanted(), "").empty())
            state.SkipWithError("volume not found");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VolumeLookupCachingOffParallel)
    ->Threads(16)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("RKHOST_DEBUG_LOG", "off", 0);
    // --lookups N: just that many lookups, for counting instructions under a profiler.
    if (argc == 3 && std::string(argv[1]) == "--lookups") {
        server();
        Device d;
        for (int i = std::atoi(argv[2]); i > 0; --i)
            if (d.util.GetVolObjPathByUUID(d.conn, wanted(), "").empty()) return 1;
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    server();
    wanted();
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
