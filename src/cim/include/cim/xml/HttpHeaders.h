// The CIM-specific HTTP header values of DSP0200 that client and server share.
#pragma once

#include <string>
#include <string_view>

#include <cim/CIMName.h>
#include <cim/CIMObjectPath.h>

namespace cim::xml {

struct Request;

// Percent-encodes every byte except the RFC 3986 unreserved characters
// (A-Z a-z 0-9 - . _ ~), as DSP0200 asks for CIMObject and as trailers such as
// CIMStatusCodeDescription carry texts.
std::string percentEncode(std::string_view text);
// Decodes %XX escapes; text without escapes comes back as it is. A '%' not followed
// by two hex digits is kept literally.
std::string percentDecode(std::string_view text);

// CIMObject value for an intrinsic call: the namespace, percent-encoded ("root%2Fcimv2").
std::string cimObjectHeader(const CIMNamespaceName& nameSpace);
// CIMObject value for an extrinsic call: "namespace:Class.keys" (no host),
// percent-encoded.
std::string cimObjectHeader(const CIMObjectPath& target);
// The CIMObject value that belongs to a request (either of the two above).
std::string cimObjectHeader(const Request& request);
// CIMMethod value: the method name.
std::string cimMethodHeader(const Request& request);

// Whether a received CIMObject value (percent-encoded or raw) names the request's
// namespace (intrinsic) or target path (extrinsic); used to answer "header-mismatch".
bool cimObjectHeaderMatches(const Request& request, std::string_view headerValue);

}  // namespace cim::xml
