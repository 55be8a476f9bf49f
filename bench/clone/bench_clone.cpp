// Requests and wall time of the older engine's clone road on a large array: a clone
// made and attached (CreateCloneVolume + AttachCloneVolume), then deleted (SnapDelete),
// with the volume cache off and on. A timed tool, not a test:
//
//   bench_clone [volumes=10000] [rounds=5]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "eseries/LSISnapshot.h"
#include "rkso/EvDebug.h"
#include "rkso/RKPlatformInfo.h"
#include "sim/server/TestServer.h"

namespace {

sim::Config LargeArray(int volumes) {
    nlohmann::json j = sim::Config::defaults().toJson();
    j["jobs"]["durationMs"] = 0;  // jobs are done at the first poll: no waits in the figures
    j["arrays"][0]["bulkVolumes"] = {
        {"count", volumes}, {"pool", "DG1"}, {"sizeBytes", 1073741824}};
    return sim::Config::fromJson(j);
}

struct Figures {
    double ms = 0;
    std::map<std::string, int> requests;
};

// Runs step and reports its wall time and the requests it made, by operation.
template <class Step>
Figures Measure(sim::TestServer& server, Step step) {
    server.log().clear();
    const auto start = std::chrono::steady_clock::now();
    step();
    const auto end = std::chrono::steady_clock::now();
    Figures f;
    f.ms = std::chrono::duration<double, std::milli>(end - start).count();
    for (const sim::RequestRecord& r : server.requests())
        ++f.requests[r.operation == "InvokeMethod" ? r.method : r.operation];
    return f;
}

void Print(const char* cache, int round, const char* step, const Figures& f) {
    int total = 0;
    std::string detail;
    for (const auto& [name, n] : f.requests) {
        total += n;
        detail += " " + name + "=" + std::to_string(n);
    }
    std::printf("%-4s %5d  %-14s %9.1f ms %4d requests:%s\n", cache, round, step, f.ms, total,
                detail.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const int volumes = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    EvDebug::setLogFile("off");
    sim::TestServerOptions options;
    options.https = false;
    sim::TestServer server(LargeArray(volumes), options);
    const sim::Array array = server.provider().currentState().arrays.at(0);
    std::string source;
    for (const sim::Volume& v : array.volumes)
        if (v.label == "small_lun") source = v.uuid;
    std::printf("%zu volumes on the array, clone of small_lun\n", array.volumes.size());

    for (const char* cache : {"off", "on"}) {
        RKPlatformInfo::loadConfigText(std::string("[Talon]\nRK_SMIS_CACHE_VOLUME_INSTANCES = ") +
                                       (cache[1] == 'n' ? "1" : "0") + "\n");
        RkCimUtil::ClearVolumeCache();
        for (int round = 1; round <= rounds; ++round) {
            LSISnapshot snap;
            RK_SMIS_SNAP::RkArrayParams p;
            p.address = "127.0.0.1";
            p.port = static_cast<decltype(p.port)>(server.httpPort());
            p.nameSpace = server.arrayNamespace();
            p.userName = server.user();
            p.password = server.password();
            p.m_SystemName = array.id;
            snap.SetArrayInfo(p);
            snap.m_SnapName = std::string("bench_clone_") + cache + std::to_string(round);
            snap.m_SourceDev = source;
            snap.m_SnapOperation = 5;
            int made = 0;
            Print(cache, round, "create+attach", Measure(server, [&] {
                      made = snap.CreateCloneVolume() == 1 && snap.AttachCloneVolume("4") == 1;
                  }));
            int deleted = 0;
            Print(cache, round, "delete", Measure(server, [&] { deleted = snap.SnapDelete(); }));
            if (!made || deleted != 20) {
                std::fprintf(stderr, "round %d failed (made %d, delete %d)\n", round, made,
                             deleted);
                return 1;
            }
        }
    }
    RKPlatformInfo::reset();
    return 0;
}
