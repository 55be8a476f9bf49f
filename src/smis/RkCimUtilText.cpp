// Text-to-list helpers, path texts and method parameter helpers of RkCimUtil.
#include <cstdio>
#include <cstdlib>

#include "RkCimUtilInternal.h"
#include "smis/RkCimUtil.h"

std::vector<std::string> RkCimUtil::Tokenize(std::string input, char separator) const {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find(separator, start);
        if (end == std::string::npos) end = input.size();
        if (end > start) pieces.push_back(input.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::vector<std::string> RkCimUtil::StringToVector(std::string input, char separator) const {
    return Tokenize(std::move(input), separator);
}

cim::Array<cim::String> RkCimUtil::InputToStringArray(std::string input, char separator) const {
    return Tokenize(std::move(input), separator);
}

cim::Array<cim::Uint16> RkCimUtil::InputToIntArray(std::string input, char separator) const {
    cim::Array<cim::Uint16> numbers;
    for (const std::string& piece : Tokenize(std::move(input), separator))
        numbers.push_back(static_cast<cim::Uint16>(std::atoi(piece.c_str())));
    return numbers;
}

cim::Array<cim::String> RkCimUtil::StrVectorToStrArray(std::vector<std::string>& values) const {
    return cim::Array<cim::String>(values.begin(), values.end());
}

cim::Array<cim::String> RkCimUtil::StrListToStrArray(std::list<std::string>& values) const {
    return cim::Array<cim::String>(values.begin(), values.end());
}

std::string RkCimUtil::GetPropByObjPath(const cim::CIMObjectPath& path, std::string keyName) const {
    return rkcimutil::KeyValue(path, keyName);
}

std::string RkCimUtil::GetObjectPathString(const cim::CIMObjectPath& path) const {
    return path.toString();
}

cim::CIMObjectPath RkCimUtil::GetTargetElementHandle(cim::Array<cim::CIMParamValue>& outParams) {
    for (const cim::CIMParamValue& p : outParams) {
        const std::string& name = p.getParameterName();
        if (name != "TargetElement" && name != "TheElement") continue;
        const cim::CIMValue& v = p.getValue();
        if (v.isNull() || v.isArray()) continue;
        if (v.getType() == cim::CIMTYPE_REFERENCE) {
            cim::CIMObjectPath path;
            v.get(path);
            return path;
        }
        // An untyped parameter arrives as text; take it when it reads as a path.
        if (!p.isTyped() && v.getType() == cim::CIMTYPE_STRING) {
            try {
                return cim::CIMObjectPath::parse(v.toString());
            } catch (const cim::Exception& e) {
                DEBUG_TRACE("SMIS::GetTargetElementHandle", "%s is not an object path: %s",
                            name.c_str(), e.getMessage().c_str());
            }
        }
    }
    return cim::CIMObjectPath();
}

unsigned int RkCimUtil::GetRetVal(const cim::CIMValue& value) {
    const unsigned int kUnknown = 99999;
    DEBUG_TRACE_NORMAL("SMIS::GetRetVal", "RetCimVal type = %s",
                       cim::cimTypeToString(value.getType()));
    // A missing return value is no success.
    if (value.isNull() || value.isArray()) return kUnknown;
    switch (value.getType()) {
        case cim::CIMTYPE_UINT32: {
            cim::Uint32 n = 0;
            value.get(n);
            return n;
        }
        case cim::CIMTYPE_SINT32: {
            cim::Sint32 n = 0;
            value.get(n);
            return static_cast<unsigned int>(n);
        }
        case cim::CIMTYPE_STRING: {
            int n = 0;
            std::string text = value.toString();
            if (std::sscanf(text.c_str(), "%d", &n) != 1) return kUnknown;
            return static_cast<unsigned int>(n);
        }
        default:
            return kUnknown;
    }
}

cim::CIMValue RkCimUtil::MakeCimNullVal(cim::CIMType type, bool isArray) const {
    return cim::CIMValue(type, isArray);
}

void RkCimUtil::PrintParamSet(cim::Array<cim::CIMParamValue>& params, bool detailed) {
    for (size_t i = 0; i < params.size(); ++i) {
        const cim::CIMParamValue& p = params[i];
        const cim::CIMValue& v = p.getValue();
        // A shared secret never reaches a log.
        std::string text = cim::equalNoCase(p.getParameterName(), "Secret") ? "****" : v.toString();
        const char* type = cim::cimTypeToString(v.getType());
        if (detailed)
            DEBUG_TRACE("SMIS::PrintParamSet", "Returned params[%d] <%s> <%s> = %s",
                        static_cast<int>(i), p.getParameterName().c_str(), type, text.c_str());
        else
            DEBUG_TRACE_NORMAL("SMIS::PrintParamSet", "Returned params[%d] <%s> <%s> = %s",
                               static_cast<int>(i), p.getParameterName().c_str(), type,
                               text.c_str());
    }
}
