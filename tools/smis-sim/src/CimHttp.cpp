#include "sim/server/CimHttp.h"

#include <cim/xml/HttpHeaders.h>

namespace sim {

namespace {

std::string trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return std::string(s);
}

CimCall reject(int status, std::string cimError, std::string detail) {
    CimCall call;
    call.rejection = CimRejection{status, std::move(cimError), std::move(detail)};
    return call;
}

cim::xml::Response answerFor(const cim::xml::Request& request) {
    cim::xml::Response response;
    response.messageId = request.messageId;
    response.intrinsic = request.intrinsic;
    response.methodName = request.methodName;
    return response;
}

}  // namespace

CimCall acceptCimRequest(const CimHeaders& headers, std::string_view body,
                         const cim::xml::Limits& limits) {
    if (!headers.operation) return reject(400, "", "no CIMOperation header");
    if (!cim::equalNoCase(trim(*headers.operation), "MethodCall")) {
        return reject(400, "unsupported-operation",
                      "CIMOperation \"" + *headers.operation + "\" is not MethodCall");
    }
    if (headers.protocolVersion) {
        std::string v = trim(*headers.protocolVersion);
        if (v.size() < 2 || v[0] != '1' || v[1] != '.') {
            return reject(501, "unsupported-protocol-version",
                          "CIM protocol version \"" + v + "\" is not supported");
        }
    }
    if (!headers.method) return reject(400, "header-mismatch", "no CIMMethod header");
    if (!headers.object) return reject(400, "header-mismatch", "no CIMObject header");

    cim::xml::Request request;
    try {
        request = cim::xml::decodeRequest(body, limits);
    } catch (const cim::xml::RequestException& e) {
        return reject(e.httpStatus(), e.cimError(), e.getMessage());
    } catch (const cim::Exception& e) {
        return reject(400, "request-not-valid", e.getMessage());
    }

    std::string method = trim(*headers.method);
    if (!cim::equalNoCase(method, request.methodName)) {
        return reject(400, "header-mismatch",
                      "CIMMethod value \"" + method + "\" does not match CIM request method \"" +
                          request.methodName + "\"");
    }
    if (!cim::xml::cimObjectHeaderMatches(request, trim(*headers.object))) {
        return reject(400, "header-mismatch",
                      "CIMObject value \"" + trim(*headers.object) +
                          "\" does not match the request's target");
    }
    CimCall call;
    call.request = std::move(request);
    return call;
}

RequestKey requestKey(const cim::xml::Request& request) {
    RequestKey key;
    if (!request.intrinsic) {
        key.operation = "InvokeMethod";
        key.method = request.methodName;
        key.className = request.target.getClassName().getString();
        return key;
    }
    key.operation = request.methodName;
    if (request.className) {
        key.className = request.className->getString();
    } else if (request.instanceName) {
        key.className = request.instanceName->getClassName().getString();
    } else if (request.objectName) {
        key.className = request.objectName->getClassName().getString();
    } else if (request.modifiedInstance) {
        key.className = request.modifiedInstance->getClassName().getString();
    } else if (request.newInstance) {
        key.className = request.newInstance->getClassName().getString();
    }
    return key;
}

std::string encodeCimError(const cim::xml::Request& request, cim::CIMStatusCode code,
                           const std::string& description) {
    auto response = answerFor(request);
    response.errorCode = code;
    response.errorDescription = description;
    return cim::xml::encodeResponse(response);
}

std::string encodeReturnValue(const cim::xml::Request& request, uint32_t value) {
    auto response = answerFor(request);
    response.returnValue = cim::CIMValue(static_cast<cim::Uint32>(value));
    return cim::xml::encodeResponse(response);
}

std::string malformedAnswer(const cim::xml::Request& request) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
        "<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">\n<MESSAGE ID=\"";
    cim::xml::appendEscaped(out, request.messageId);
    out += "\" PROTOCOLVERSION=\"1.0\">\n<SIMPLERSP>\n<";
    out += request.intrinsic ? "IMETHODRESPONSE" : "METHODRESPONSE";
    out += " NAME=\"";
    cim::xml::appendEscaped(out, request.methodName);
    out += "\">\n<IRETURNVALUE>\n<INSTANCE CLASSNAME=\"Broken\n</SIMPLERSP>\n";
    return out;
}

}  // namespace sim
