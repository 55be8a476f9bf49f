// Throughput and memory of the simulator, measured through our own CIM client:
//  - small GetInstance requests over keep-alive connections, from 1 to 8 client threads;
//  - a new connection per request while 0 to 2,000 idle connections stay open;
//  - enumerating an array of 10,000 volumes, with the process's peak resident memory.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

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

// Idle TCP connections to `port`, each holding one of the server's workers.
std::vector<int> openIdle(int port, int count) {
    std::vector<int> fds;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < count; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) break;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
            ::close(fd);
            break;
        }
        fds.push_back(fd);
    }
    return fds;
}

void BM_NewConnectionPerRequestWithIdleOpen(benchmark::State& state) {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    sim::TestServerOptions options = httpOnly();
    options.maxThreads = 4096;  // every idle connection keeps its worker
    options.keepAliveTimeoutSec = 3600;
    sim::TestServer server(sim::Config::defaults(), options);
    std::vector<int> idle = openIdle(server.httpPort(), static_cast<int>(state.range(0)));
    if (idle.size() != static_cast<size_t>(state.range(0))) state.SkipWithError("too few sockets");
    cim::CIMObjectPath volume;
    {
        cim::CIMClient client;
        client.connect("127.0.0.1", server.httpPort(), server.user(), server.password());
        volume = client.enumerateInstanceNames(server.arrayNamespace(), "CIM_StorageVolume")[0];
    }
    for (auto _ : state) {
        cim::CIMClient client;
        client.connect("127.0.0.1", server.httpPort(), server.user(), server.password());
        auto inst = client.getInstance(server.arrayNamespace(), volume);
        benchmark::DoNotOptimize(inst);
        client.disconnect();
    }
    state.counters["idle_open"] = static_cast<double>(idle.size());
    state.counters["workers"] = static_cast<double>(server.server().workerThreads());
    state.SetItemsProcessed(state.iterations());
    for (int fd : idle) ::close(fd);
}
BENCHMARK(BM_NewConnectionPerRequestWithIdleOpen)
    ->Arg(0)
    ->Arg(500)
    ->Arg(2000)
    ->UseRealTime()
    ->MinTime(2.0);

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
