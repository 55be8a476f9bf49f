// The CIM side of an HTTP request as the server sees it: header values and body from
// the input. The first line of the input is the CIMObject header, the second the
// CIMMethod header; the rest is the body.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/server/CimHttp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t first = input.find('\n');
    size_t second = first == std::string::npos ? std::string::npos : input.find('\n', first + 1);
    sim::CimHeaders headers;
    headers.operation = "MethodCall";
    headers.protocolVersion = "1.0";
    std::string body = input;
    if (second != std::string::npos) {
        headers.object = input.substr(0, first);
        headers.method = input.substr(first + 1, second - first - 1);
        body = input.substr(second + 1);
    } else {
        headers.object = "root%2Fcimv2";
        headers.method = "GetInstance";
    }
    cim::xml::Limits limits;
    limits.maxBytes = 1 << 20;
    sim::CimCall call = sim::acceptCimRequest(headers, body, limits);
    if (call.ok()) {
        sim::RequestKey key = sim::requestKey(*call.request);
        (void)key;
        sim::encodeCimError(*call.request, cim::CIM_ERR_NOT_FOUND, body.substr(0, 64));
        if (!call.request->intrinsic) sim::encodeReturnValue(*call.request, 4096);
        sim::malformedAnswer(*call.request);
    } else if (call.rejection.status != 400 && call.rejection.status != 501) {
        __builtin_trap();
    }
    return 0;
}
