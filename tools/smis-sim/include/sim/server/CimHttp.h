// The CIM side of one HTTP request (DSP0200): the CIM headers are checked, the body
// is decoded, and answers that the server makes up itself (errors, injected faults)
// are encoded. No sockets here, so everything can be tested and fuzzed directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <cim/xml/Codec.h>

#include "sim/server/Faults.h"
#include "sim/server/RequestLog.h"

namespace sim {

// The CIM-specific request headers, as received (absent headers are empty optionals).
struct CimHeaders {
    std::optional<std::string> operation;        // CIMOperation
    std::optional<std::string> method;           // CIMMethod
    std::optional<std::string> object;           // CIMObject, percent-encoded or raw
    std::optional<std::string> protocolVersion;  // CIMProtocolVersion
};

// A request refused at the HTTP level: 400 or 501 with an optional CIMError header.
struct CimRejection {
    int status = 400;
    std::string cimError;  // empty: no CIMError header
    std::string detail;    // human-readable reason
};

// Either a decoded request or the reason it was refused.
struct CimCall {
    std::optional<cim::xml::Request> request;
    CimRejection rejection;
    bool ok() const { return request.has_value(); }
};

CimCall acceptCimRequest(const CimHeaders& headers, std::string_view body,
                         const cim::xml::Limits& limits = cim::xml::Limits());

// Operation, extrinsic method and target class of a request, for faults and the log.
RequestKey requestKey(const cim::xml::Request& request);

// The input parameters of an extrinsic call as the request log shows them, secrets
// masked; empty for intrinsic calls.
std::vector<ParamRecord> loggedParameters(const cim::xml::Request& request);

// An answer with an ERROR element.
std::string encodeCimError(const cim::xml::Request& request, cim::CIMStatusCode code,
                           const std::string& description);
// An extrinsic answer carrying only a uint32 return value.
std::string encodeReturnValue(const cim::xml::Request& request, uint32_t value);
// A body that starts like an answer but is not well-formed XML.
std::string malformedAnswer(const cim::xml::Request& request);

}  // namespace sim
