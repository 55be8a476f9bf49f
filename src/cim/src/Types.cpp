#include <cim/Exception.h>
#include <cim/Types.h>

namespace cim {

namespace {
const char* const kTypeNames[] = {"boolean", "uint8",    "sint8",     "uint16", "sint16",  "uint32",
                                  "sint32",  "uint64",   "sint64",    "real32", "real64",  "char16",
                                  "string",  "datetime", "reference", "object", "instance"};
constexpr int kTypeCount = sizeof(kTypeNames) / sizeof(kTypeNames[0]);
}  // namespace

const char* cimTypeToString(CIMType type) {
    int i = static_cast<int>(type);
    return (i >= 0 && i < kTypeCount) ? kTypeNames[i] : "unknown";
}

bool cimTypeFromString(std::string_view text, CIMType& type) {
    // Decoders call this for every property: look only at the names that could match.
    auto match = [&](std::string_view name, CIMType t) {
        if (text != name) return false;
        type = t;
        return true;
    };
    if (text.empty()) return false;
    switch (text[0]) {
        case 'b':
            return match("boolean", CIMTYPE_BOOLEAN);
        case 'u':
            return match("uint16", CIMTYPE_UINT16) || match("uint32", CIMTYPE_UINT32) ||
                   match("uint64", CIMTYPE_UINT64) || match("uint8", CIMTYPE_UINT8);
        case 's':
            return match("string", CIMTYPE_STRING) || match("sint32", CIMTYPE_SINT32) ||
                   match("sint16", CIMTYPE_SINT16) || match("sint64", CIMTYPE_SINT64) ||
                   match("sint8", CIMTYPE_SINT8);
        case 'r':
            return match("reference", CIMTYPE_REFERENCE) || match("real64", CIMTYPE_REAL64) ||
                   match("real32", CIMTYPE_REAL32);
        case 'c':
            return match("char16", CIMTYPE_CHAR16);
        case 'd':
            return match("datetime", CIMTYPE_DATETIME);
        case 'o':
            return match("object", CIMTYPE_OBJECT);
        case 'i':
            return match("instance", CIMTYPE_INSTANCE);
        default:
            return false;
    }
}

bool isIntegerType(CIMType type) {
    return type >= CIMTYPE_UINT8 && type <= CIMTYPE_SINT64;
}

const char* cimStatusCodeToString(CIMStatusCode code) {
    switch (code) {
        case CIM_ERR_SUCCESS:
            return "CIM_ERR_SUCCESS";
        case CIM_ERR_FAILED:
            return "CIM_ERR_FAILED";
        case CIM_ERR_ACCESS_DENIED:
            return "CIM_ERR_ACCESS_DENIED";
        case CIM_ERR_INVALID_NAMESPACE:
            return "CIM_ERR_INVALID_NAMESPACE";
        case CIM_ERR_INVALID_PARAMETER:
            return "CIM_ERR_INVALID_PARAMETER";
        case CIM_ERR_INVALID_CLASS:
            return "CIM_ERR_INVALID_CLASS";
        case CIM_ERR_NOT_FOUND:
            return "CIM_ERR_NOT_FOUND";
        case CIM_ERR_NOT_SUPPORTED:
            return "CIM_ERR_NOT_SUPPORTED";
        case CIM_ERR_CLASS_HAS_CHILDREN:
            return "CIM_ERR_CLASS_HAS_CHILDREN";
        case CIM_ERR_CLASS_HAS_INSTANCES:
            return "CIM_ERR_CLASS_HAS_INSTANCES";
        case CIM_ERR_INVALID_SUPERCLASS:
            return "CIM_ERR_INVALID_SUPERCLASS";
        case CIM_ERR_ALREADY_EXISTS:
            return "CIM_ERR_ALREADY_EXISTS";
        case CIM_ERR_NO_SUCH_PROPERTY:
            return "CIM_ERR_NO_SUCH_PROPERTY";
        case CIM_ERR_TYPE_MISMATCH:
            return "CIM_ERR_TYPE_MISMATCH";
        case CIM_ERR_QUERY_LANGUAGE_NOT_SUPPORTED:
            return "CIM_ERR_QUERY_LANGUAGE_NOT_SUPPORTED";
        case CIM_ERR_INVALID_QUERY:
            return "CIM_ERR_INVALID_QUERY";
        case CIM_ERR_METHOD_NOT_AVAILABLE:
            return "CIM_ERR_METHOD_NOT_AVAILABLE";
        case CIM_ERR_METHOD_NOT_FOUND:
            return "CIM_ERR_METHOD_NOT_FOUND";
        case CIM_ERR_NAMESPACE_NOT_EMPTY:
            return "CIM_ERR_NAMESPACE_NOT_EMPTY";
        case CIM_ERR_INVALID_ENUMERATION_CONTEXT:
            return "CIM_ERR_INVALID_ENUMERATION_CONTEXT";
        case CIM_ERR_INVALID_OPERATION_TIMEOUT:
            return "CIM_ERR_INVALID_OPERATION_TIMEOUT";
        case CIM_ERR_PULL_HAS_BEEN_ABANDONED:
            return "CIM_ERR_PULL_HAS_BEEN_ABANDONED";
        case CIM_ERR_PULL_CANNOT_BE_ABANDONED:
            return "CIM_ERR_PULL_CANNOT_BE_ABANDONED";
        case CIM_ERR_FILTERED_ENUMERATION_NOT_SUPPORTED:
            return "CIM_ERR_FILTERED_ENUMERATION_NOT_SUPPORTED";
        case CIM_ERR_CONTINUATION_ON_ERROR_NOT_SUPPORTED:
            return "CIM_ERR_CONTINUATION_ON_ERROR_NOT_SUPPORTED";
        case CIM_ERR_SERVER_LIMITS_EXCEEDED:
            return "CIM_ERR_SERVER_LIMITS_EXCEEDED";
        case CIM_ERR_SERVER_IS_SHUTTING_DOWN:
            return "CIM_ERR_SERVER_IS_SHUTTING_DOWN";
    }
    return "Unrecognized CIM status code";
}

}  // namespace cim
