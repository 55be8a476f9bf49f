// Prepare plus create of N PiT devices on one array through rkso_prepareDevices and
// rkso_snapDevices, against the in-process simulator over loopback HTTP with 20 ms
// added to every request and jobs that end at once; with worker threads and with
// "LSI_SNAP_NO_PARALLEL". Counters: provider requests per device of each call, from
// the simulator's log.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "rkso/EvDebug.h"
#include "testsupport/EntryHost.h"

namespace {

using namespace testsupport;

void DropLine(void*, const char*, int, const char*) {}

void PrepareAndSnap(benchmark::State& state) {
    const int devices = static_cast<int>(state.range(0));
    const bool sequential = state.range(1) != 0;
    const std::vector<std::string> labels = Labels("v", devices);
    double prepareRequests = 0, snapRequests = 0;
    int64_t runs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto sim = std::make_unique<sim::TestServer>(EntryConfig(labels), PlainHttp());
        auto host = std::make_unique<EntryHost>(
            *sim, EntryHostOptions{54, 3, "", sequential ? "LSI_SNAP_NO_PARALLEL = 1" : ""});
        auto devs = host->devices(labels);
        sim->setLatency(std::chrono::milliseconds(20));
        sim->log().clear();
        state.ResumeTiming();
        const int prepared = host->prepare(devs);
        state.PauseTiming();
        prepareRequests += static_cast<double>(sim->requests().size()) / devices;
        sim->log().clear();
        state.ResumeTiming();
        const int snapped = host->snap(devs);
        state.PauseTiming();
        snapRequests += static_cast<double>(sim->requests().size()) / devices;
        if (prepared != 0 || snapped != 0) state.SkipWithError("a device failed");
        ++runs;
        host.reset();
        sim.reset();
        state.ResumeTiming();
    }
    state.counters["prepare_req_per_dev"] = prepareRequests / static_cast<double>(runs);
    state.counters["snap_req_per_dev"] = snapRequests / static_cast<double>(runs);
}

BENCHMARK(PrepareAndSnap)
    ->ArgNames({"devices", "no_parallel"})
    ->Args({1, 0})
    ->Args({32, 0})
    ->Args({32, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    EvDebug::setSink(DropLine, nullptr);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
