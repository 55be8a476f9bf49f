// End-to-end enumerate of 10,000 storage volumes (ten properties each) through CIMClient
// against a local HTTP server on loopback, and the same bytes through the transport alone.
#include <benchmark/benchmark.h>
#include <cim/CIMClient.h>
#include <cim/HttpTransport.h>
#include <cim/xml/Codec.h>
#include <httplib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kVolumes = 10000;

cim::CIMInstance volume(int n) {
    char id[40];
    std::snprintf(id, sizeof id, "600A0B80002A1B3C%016X", n);
    cim::CIMInstance i("LSISSI_StorageVolume");
    auto s = [](const char* text) { return cim::CIMValue(std::string(text)); };
    i.addProperty(cim::CIMProperty("CreationClassName", s("LSISSI_StorageVolume")));
    i.addProperty(cim::CIMProperty("DeviceID", s(id)));
    i.addProperty(cim::CIMProperty("SystemCreationClassName", s("LSISSI_StorageSystem")));
    i.addProperty(cim::CIMProperty("SystemName", s("600A0B80002A1B3C0000000050A1B2C3")));
    i.addProperty(cim::CIMProperty("Name", cim::CIMValue(std::string(id))));
    i.addProperty(cim::CIMProperty("ElementName", cim::CIMValue("volume_" + std::to_string(n))));
    i.addProperty(cim::CIMProperty("BlockSize", cim::CIMValue(cim::Uint64(512))));
    i.addProperty(cim::CIMProperty("NumberOfBlocks", cim::CIMValue(cim::Uint64(2097152 + n))));
    i.addProperty(cim::CIMProperty("OperationalStatus", cim::CIMValue(cim::Array<cim::Uint16>{2})));
    i.addProperty(cim::CIMProperty("Primordial", cim::CIMValue(false)));
    cim::CIMObjectPath path("", cim::CIMNamespaceName(), "LSISSI_StorageVolume",
                            {cim::CIMKeyBinding("CreationClassName", "LSISSI_StorageVolume",
                                                cim::CIMKeyBinding::STRING),
                             cim::CIMKeyBinding("DeviceID", id, cim::CIMKeyBinding::STRING),
                             cim::CIMKeyBinding("SystemCreationClassName", "LSISSI_StorageSystem",
                                                cim::CIMKeyBinding::STRING),
                             cim::CIMKeyBinding("SystemName", "600A0B80002A1B3C0000000050A1B2C3",
                                                cim::CIMKeyBinding::STRING)});
    i.setPath(path);
    return i;
}

// The answer to any EnumerateInstances, its message ID patched to the request's. The server
// runs in a child process so that CPU time and peak memory measured here are the client's.
class Server {
  public:
    Server() {
        int fds[2];
        if (::pipe(fds) != 0) std::abort();
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            serve(fds[1]);
            std::_Exit(0);
        }
        ::close(fds[1]);
        unsigned long long info[2] = {0, 0};
        if (::read(fds[0], info, sizeof info) != static_cast<ssize_t>(sizeof info)) std::abort();
        ::close(fds[0]);
        m_port = static_cast<unsigned>(info[0]);
        m_bodySize = static_cast<std::size_t>(info[1]);
    }
    ~Server() {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    unsigned port() const { return m_port; }
    std::size_t bodySize() const { return m_bodySize; }

  private:
    static void serve(int reportFd) {
        cim::xml::Response r;
        r.methodName = cim::xml::kEnumerateInstances;
        r.messageId = "@@ID@@";
        r.hasReturnValue = true;
        for (int n = 0; n < kVolumes; ++n) r.instances.push_back(volume(n));
        const std::string templ = cim::xml::encodeResponse(r);
        r = cim::xml::Response();
        const std::size_t idAt = templ.find("@@ID@@");
        httplib::Server server;
        server.Post("/cimom", [&](const httplib::Request& req, httplib::Response& res) {
            std::size_t p = req.body.find("MESSAGE ID=\"");
            std::string id = req.body.substr(p + 12, req.body.find('"', p + 12) - p - 12);
            std::string body = templ;
            body.replace(idAt, 6, id);
            res.set_header("CIMOperation", "MethodResponse");
            res.set_content(std::move(body), "application/xml; charset=utf-8");
        });
        unsigned long long info[2] = {
            static_cast<unsigned long long>(server.bind_to_any_port("127.0.0.1")),
            static_cast<unsigned long long>(templ.size() - 6 + 4)};  // IDs have four digits
        if (::write(reportFd, info, sizeof info) != static_cast<ssize_t>(sizeof info)) return;
        ::close(reportFd);
        server.listen_after_bind();
    }

    pid_t m_pid = -1;
    unsigned m_port = 0;
    std::size_t m_bodySize = 0;
};

Server& server() {
    static Server s;
    return s;
}

double peakRssMiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

void BM_EnumerateInstancesEndToEnd(benchmark::State& state) {
    Server& s = server();
    cim::CIMClient client;
    client.setTimeout(120000);
    client.connect("127.0.0.1", s.port(), "bench", "bench");
    std::size_t got = 0;
    for (auto _ : state) {
        auto instances = client.enumerateInstances("root/LsiArray13", "CIM_StorageVolume", true,
                                                   false, false, false);
        got = instances.size();
        benchmark::DoNotOptimize(instances.data());
    }
    if (got != kVolumes) state.SkipWithError("wrong number of instances");
    state.SetItemsProcessed(state.iterations() * kVolumes);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.bodySize()));
    state.counters["body_MB"] = static_cast<double>(s.bodySize()) / 1e6;
    state.counters["peak_rss_MiB"] = peakRssMiB();
}
BENCHMARK(BM_EnumerateInstancesEndToEnd)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same exchange without decoding: what HTTP on loopback costs.
void BM_EnumerateInstancesTransportOnly(benchmark::State& state) {
    Server& s = server();
    cim::xml::Request request;
    request.methodName = cim::xml::kEnumerateInstances;
    request.nameSpace = "root/LsiArray13";
    request.className = cim::CIMName("CIM_StorageVolume");
    request.localOnly = false;
    const std::string body = cim::xml::encodeRequest(request);
    cim::HttpTransport t;
    t.setTimeout(120000);
    t.connect("127.0.0.1", s.port(), "bench", "bench");
    for (auto _ : state) {
        cim::HttpResponse r = t.post("EnumerateInstances", "root%2FLsiArray13", body);
        benchmark::DoNotOptimize(r.body.data());
    }
    state.SetItemsProcessed(state.iterations() * kVolumes);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.bodySize()));
    state.counters["peak_rss_MiB"] = peakRssMiB();
}
BENCHMARK(BM_EnumerateInstancesTransportOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
