// Decoding an EnumerateInstances response of 10,000 storage volumes, against pugixml's
// own parse of the same bytes. Run: bench_cim [--benchmark_filter=...]
#include <sys/resource.h>

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <cim/CIMInstance.h>
#include <cim/xml/Codec.h>

using namespace cim;

namespace {

constexpr int kVolumes = 10000;

std::string uuid(int i) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "600A0B80002A1B3C%016X", i);
    return buf;
}

const std::string& responseBody() {
    static const std::string body = [] {
        xml::Response r;
        r.methodName = xml::kEnumerateInstances;
        r.hasReturnValue = true;
        r.instances.reserve(kVolumes);
        for (int i = 0; i < kVolumes; ++i) {
            std::string id = uuid(i);
            CIMInstance v("LSISSI_StorageVolume");
            v.addProperty(CIMProperty("CreationClassName", CIMValue("LSISSI_StorageVolume")));
            v.addProperty(CIMProperty("DeviceID", CIMValue(id)));
            v.addProperty(CIMProperty("SystemCreationClassName", CIMValue("LSISSI_StorageSystem")));
            v.addProperty(CIMProperty("SystemName", CIMValue("600A0B80002A1B3C0000000050000001")));
            v.addProperty(CIMProperty("ElementName", CIMValue("volume_" + std::to_string(i))));
            v.addProperty(CIMProperty("Name", CIMValue(id)));
            v.addProperty(CIMProperty("BlockSize", CIMValue(Uint64(512))));
            v.addProperty(CIMProperty("NumberOfBlocks", CIMValue(Uint64(2097152 + i))));
            v.addProperty(CIMProperty("OperationalStatus", CIMValue(Array<Uint16>{2})));
            v.addProperty(CIMProperty("Primordial", CIMValue(false)));
            v.addProperty(CIMProperty("NameFormat", CIMValue(Uint16(2))));
            v.setPath(CIMObjectPath(
                "", CIMNamespaceName(), "LSISSI_StorageVolume",
                {CIMKeyBinding("CreationClassName", "LSISSI_StorageVolume", CIMKeyBinding::STRING),
                 CIMKeyBinding("DeviceID", id, CIMKeyBinding::STRING),
                 CIMKeyBinding("SystemCreationClassName", "LSISSI_StorageSystem",
                               CIMKeyBinding::STRING),
                 CIMKeyBinding("SystemName", "600A0B80002A1B3C0000000050000001",
                               CIMKeyBinding::STRING)}));
            r.instances.push_back(std::move(v));
        }
        return xml::encodeResponse(r);
    }();
    return body;
}

double maxRssMb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

void report(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kVolumes));
    state.counters["body_MB"] = static_cast<double>(bytes) / (1024.0 * 1024.0);
    state.counters["maxrss_MB"] = maxRssMb();
}

// Parser alone, with the flags the decoder uses.
void BM_PugixmlParseOnly(benchmark::State& state) {
    const std::string& body = responseBody();
    for (auto _ : state) {
        pugi::xml_document doc;
        auto res = doc.load_buffer(
            body.data(), body.size(),
            pugi::parse_default | pugi::parse_doctype | pugi::parse_ws_pcdata_single,
            pugi::encoding_utf8);
        benchmark::DoNotOptimize(res);
    }
    report(state, body.size());
}
BENCHMARK(BM_PugixmlParseOnly)->Unit(benchmark::kMillisecond);

void BM_DecodeEnumerateInstances(benchmark::State& state) {
    const std::string& body = responseBody();
    for (auto _ : state) {
        xml::Response r = xml::decodeResponse(body);
        if (r.instances.size() != kVolumes) state.SkipWithError("wrong instance count");
        benchmark::DoNotOptimize(r);
    }
    report(state, body.size());
}
BENCHMARK(BM_DecodeEnumerateInstances)->Unit(benchmark::kMillisecond);

void BM_EncodeEnumerateInstances(benchmark::State& state) {
    xml::Response r = xml::decodeResponse(responseBody());
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string out = xml::encodeResponse(r);
        bytes = out.size();
        benchmark::DoNotOptimize(out);
    }
    report(state, bytes);
}
BENCHMARK(BM_EncodeEnumerateInstances)->Unit(benchmark::kMillisecond);

void BM_PathTextRoundTrip(benchmark::State& state) {
    xml::Response r = xml::decodeResponse(responseBody());
    std::size_t i = 0;
    for (auto _ : state) {
        const CIMObjectPath& p = r.instances[i++ % r.instances.size()].getPath();
        CIMObjectPath q = CIMObjectPath::parse(p.toString());
        benchmark::DoNotOptimize(q);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_PathTextRoundTrip);

}  // namespace

BENCHMARK_MAIN();
