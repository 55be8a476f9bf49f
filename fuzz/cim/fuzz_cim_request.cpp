// Request decoder (the server side): no crash on any input; whatever decodes re-encodes
// to a request that decodes again, and its CIMObject header matches it.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <cim/xml/Codec.h>
#include <cim/xml/HttpHeaders.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view body(reinterpret_cast<const char*>(data), size);
    cim::xml::Limits limits;
    limits.maxBytes = 1 << 20;
    cim::xml::Request r;
    try {
        r = cim::xml::decodeRequest(body, limits);
    } catch (const cim::Exception&) {
        return 0;
    }
    if (!cim::xml::cimObjectHeaderMatches(r, cim::xml::cimObjectHeader(r))) std::abort();
    for (const auto& p : r.inParameters) (void)p.getValue().toString();
    std::string again = cim::xml::encodeRequest(r);
    try {
        cim::xml::decodeRequest(again);
    } catch (const cim::Exception&) {
        std::abort();
    }
    return 0;
}
