// Decoding an EnumerateInstances response of 10,000 storage volumes, against pugixml's
// own parse of the same bytes. Run: bench_cim [--benchmark_filter=...]
#include <sys/resource.h>

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <cim/CIMInstance.h>
#include <cim/xml/Codec.h>

#include "VolumeData.h"

using namespace cim;

namespace {

constexpr int kVolumes = 10000;

const std::string& responseBody() {
    static const std::string body = [] {
        std::string b = benchdata::enumerateInstancesBody(kVolumes);
        b.replace(b.find(benchdata::kIdPlaceholder), 6, "1000");
        return b;
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

// The whole-document decoder the streaming one replaced.
void BM_DecodeEnumerateInstancesDom(benchmark::State& state) {
    const std::string& body = responseBody();
    for (auto _ : state) {
        xml::Response r = xml::decodeResponseDom(body);
        if (r.instances.size() != kVolumes) state.SkipWithError("wrong instance count");
        benchmark::DoNotOptimize(r);
    }
    report(state, body.size());
}
BENCHMARK(BM_DecodeEnumerateInstancesDom)->Unit(benchmark::kMillisecond);

// Fed in 16 KiB pieces, as the transport delivers it, to a handler that keeps nothing.
void BM_DecodeStreamedToHandler(benchmark::State& state) {
    const std::string& body = responseBody();
    struct Count : xml::ResponseHandler {
        std::size_t n = 0;
        void instance(CIMInstance&&) override { ++n; }
        void instanceName(CIMObjectPath&&) override { ++n; }
    };
    for (auto _ : state) {
        Count count;
        xml::ResponseDecoder d(xml::Limits(), &count);
        for (std::size_t at = 0; at < body.size(); at += 16384)
            d.feed(body.data() + at, std::min<std::size_t>(16384, body.size() - at));
        d.finish();
        if (count.n != kVolumes) state.SkipWithError("wrong instance count");
    }
    report(state, body.size());
}
BENCHMARK(BM_DecodeStreamedToHandler)->Unit(benchmark::kMillisecond);

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
