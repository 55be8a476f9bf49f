#include "sim/server/CimHttp.h"

#include <cctype>
#include <type_traits>

#include <cim/CIMInstance.h>
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

constexpr const char* kMasked = "****";

bool secretName(const std::string& name) {
    std::string lower;
    for (char c : name)
        lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return lower == "secret" || lower.find("password") != std::string::npos;
}

// An embedded instance's text with the values of its secret properties masked.
std::string instanceText(const cim::CIMInstance& in) {
    cim::CIMInstance copy = in;
    for (cim::Uint32 i = 0; i < copy.getPropertyCount(); ++i) {
        cim::CIMProperty& p = copy.getProperty(i);
        if (secretName(p.getName().getString()) && !p.getValue().isNull())
            p.setValue(cim::CIMValue(kMasked));
    }
    return cim::CIMValue(copy).toString();
}

template <class T>
void appendElements(const cim::CIMValue& v, std::vector<std::string>& out) {
    cim::Array<T> a;
    v.get(a);
    for (const T& e : a) {
        if constexpr (std::is_same_v<T, cim::CIMInstance>) {
            out.push_back(instanceText(e));
        } else {
            out.push_back(cim::CIMValue(e).toString());
        }
    }
}

std::vector<std::string> elementTexts(const cim::CIMValue& v) {
    std::vector<std::string> out;
    switch (v.getType()) {
        case cim::CIMTYPE_BOOLEAN:
            appendElements<cim::Boolean>(v, out);
            break;
        case cim::CIMTYPE_UINT8:
            appendElements<cim::Uint8>(v, out);
            break;
        case cim::CIMTYPE_SINT8:
            appendElements<cim::Sint8>(v, out);
            break;
        case cim::CIMTYPE_UINT16:
            appendElements<cim::Uint16>(v, out);
            break;
        case cim::CIMTYPE_SINT16:
            appendElements<cim::Sint16>(v, out);
            break;
        case cim::CIMTYPE_UINT32:
            appendElements<cim::Uint32>(v, out);
            break;
        case cim::CIMTYPE_SINT32:
            appendElements<cim::Sint32>(v, out);
            break;
        case cim::CIMTYPE_UINT64:
            appendElements<cim::Uint64>(v, out);
            break;
        case cim::CIMTYPE_SINT64:
            appendElements<cim::Sint64>(v, out);
            break;
        case cim::CIMTYPE_REAL32:
            appendElements<cim::Real32>(v, out);
            break;
        case cim::CIMTYPE_REAL64:
            appendElements<cim::Real64>(v, out);
            break;
        case cim::CIMTYPE_CHAR16:
            appendElements<cim::Char16>(v, out);
            break;
        case cim::CIMTYPE_STRING:
            appendElements<cim::String>(v, out);
            break;
        case cim::CIMTYPE_DATETIME:
            appendElements<cim::CIMDateTime>(v, out);
            break;
        case cim::CIMTYPE_REFERENCE:
            appendElements<cim::CIMObjectPath>(v, out);
            break;
        case cim::CIMTYPE_OBJECT:
        case cim::CIMTYPE_INSTANCE:
            appendElements<cim::CIMInstance>(v, out);
            break;
    }
    return out;
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

std::vector<ParamRecord> loggedParameters(const cim::xml::Request& request) {
    std::vector<ParamRecord> out;
    if (request.intrinsic) return out;
    out.reserve(request.inParameters.size());
    for (const cim::CIMParamValue& p : request.inParameters) {
        const cim::CIMValue& v = p.getValue();
        ParamRecord r;
        r.name = p.getParameterName();
        r.type = p.isTyped() ? cim::cimTypeToString(v.getType()) : "untyped";
        if (v.isArray()) r.type += "[]";
        r.null = v.isNull();
        const bool secret = secretName(r.name);
        if (r.null) {
        } else if (v.isArray()) {
            r.elements = elementTexts(v);
            if (secret)
                for (auto& e : r.elements) e = kMasked;
        } else if (secret) {
            r.value = kMasked;
        } else if (v.getType() == cim::CIMTYPE_INSTANCE || v.getType() == cim::CIMTYPE_OBJECT) {
            cim::CIMInstance inst;
            v.get(inst);
            r.value = instanceText(inst);
        } else {
            r.value = v.toString();
        }
        out.push_back(std::move(r));
    }
    return out;
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
