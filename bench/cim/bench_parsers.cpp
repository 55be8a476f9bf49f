// Which parser to decode answers with while they arrive: the designs measured on the same
// answer of 10,000 storage volumes (about 20 MB), fed in 16 KiB pieces as the network
// delivers it.
//  - expat (stream parser) with element and text callbacks that only count: what decoding
//    through expat would cost before building a single object;
//  - libxml2's text reader (pull parser), likewise;
//  - pugixml on the whole document in place: the floor of any pugixml design;
//  - ours: the scanner cutting complete results out of the stream, pugixml on each run of
//    them, and the objects decoded and handed to a handler that drops them.
//
//   bench_parsers [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <expat.h>
#include <libxml/xmlreader.h>
#include <pugixml.hpp>

#include <cim/xml/Codec.h>

#include "VolumeData.h"

namespace {

constexpr int kVolumes = 10000;
constexpr std::size_t kPiece = 16384;

const std::string& body() {
    static const std::string b = [] {
        std::string s = benchdata::enumerateInstancesBody(kVolumes);
        s.replace(s.find(benchdata::kIdPlaceholder), 6, "1000");
        return s;
    }();
    return b;
}

void report(benchmark::State& state, long elements) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body().size()));
    state.counters["elements"] = static_cast<double>(elements);
}

void BM_Expat(benchmark::State& state) {
    long elements = 0;
    for (auto _ : state) {
        struct Counts {
            long elements = 0;
            long textBytes = 0;
        } counts;
        XML_Parser p = XML_ParserCreate("UTF-8");
        XML_SetUserData(p, &counts);
        XML_SetElementHandler(
            p,
            [](void* u, const XML_Char*, const XML_Char**) { ++static_cast<Counts*>(u)->elements; },
            [](void*, const XML_Char*) {});
        XML_SetCharacterDataHandler(
            p, [](void* u, const XML_Char*, int n) { static_cast<Counts*>(u)->textBytes += n; });
        const std::string& b = body();
        for (std::size_t at = 0; at < b.size(); at += kPiece) {
            const std::size_t n = std::min(kPiece, b.size() - at);
            if (XML_Parse(p, b.data() + at, static_cast<int>(n), at + n == b.size()) !=
                XML_STATUS_OK)
                state.SkipWithError("expat refused the answer");
        }
        XML_ParserFree(p);
        elements = counts.elements;
    }
    report(state, elements);
}
BENCHMARK(BM_Expat)->Unit(benchmark::kMillisecond);

void BM_Libxml2Reader(benchmark::State& state) {
    long elements = 0;
    for (auto _ : state) {
        const std::string& b = body();
        xmlTextReaderPtr r = xmlReaderForMemory(b.data(), static_cast<int>(b.size()), nullptr,
                                                "UTF-8", XML_PARSE_NONET);
        long n = 0;
        int rc;
        while ((rc = xmlTextReaderRead(r)) == 1)
            if (xmlTextReaderNodeType(r) == XML_READER_TYPE_ELEMENT) ++n;
        if (rc != 0) state.SkipWithError("libxml2 refused the answer");
        xmlFreeTextReader(r);
        elements = n;
    }
    report(state, elements);
}
BENCHMARK(BM_Libxml2Reader)->Unit(benchmark::kMillisecond);

void BM_PugixmlWholeDocumentInPlace(benchmark::State& state) {
    std::vector<char> copy;
    for (auto _ : state) {
        state.PauseTiming();
        copy.assign(body().begin(), body().end());
        state.ResumeTiming();
        pugi::xml_document doc;
        if (!doc.load_buffer_inplace(copy.data(), copy.size()))
            state.SkipWithError("pugixml refused the answer");
    }
    report(state, 0);
}
BENCHMARK(BM_PugixmlWholeDocumentInPlace)->Unit(benchmark::kMillisecond);

void BM_OursScannerPugixmlAndObjects(benchmark::State& state) {
    struct Drop : cim::xml::ResponseHandler {
        long n = 0;
        void instance(cim::CIMInstance&&) override { ++n; }
        void instanceName(cim::CIMObjectPath&&) override { ++n; }
    };
    long results = 0;
    for (auto _ : state) {
        Drop drop;
        cim::xml::ResponseDecoder d(cim::xml::Limits(), &drop);
        const std::string& b = body();
        for (std::size_t at = 0; at < b.size(); at += kPiece)
            d.feed(b.data() + at, std::min(kPiece, b.size() - at));
        d.finish();
        results = drop.n;
    }
    report(state, results);
}
BENCHMARK(BM_OursScannerPugixmlAndObjects)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
