#include <cim/xml/Codec.h>
#include <cim/xml/HttpHeaders.h>

namespace cim::xml {

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::string percentEncode(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = hexValue(text[i + 1]), lo = hexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string cimObjectHeader(const CIMNamespaceName& nameSpace) {
    return percentEncode(nameSpace.getString());
}

std::string cimObjectHeader(const CIMObjectPath& target) {
    CIMObjectPath p(target);
    p.setHost(std::string());
    return percentEncode(p.toString());
}

std::string cimObjectHeader(const Request& request) {
    if (request.intrinsic) return cimObjectHeader(request.nameSpace);
    CIMObjectPath p(request.target);
    if (p.getNameSpace().isNull()) p.setNameSpace(request.nameSpace);
    return cimObjectHeader(p);
}

std::string cimMethodHeader(const Request& request) {
    return request.methodName;
}

bool cimObjectHeaderMatches(const Request& request, std::string_view headerValue) {
    std::string v = percentDecode(headerValue);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.pop_back();
    std::size_t b = 0;
    while (b < v.size() && (v[b] == ' ' || v[b] == '\t')) ++b;
    v.erase(0, b);
    if (request.intrinsic) return CIMNamespaceName(v) == request.nameSpace;
    try {
        CIMObjectPath got = CIMObjectPath::parse(v);
        CIMObjectPath want(request.target);
        if (want.getNameSpace().isNull()) want.setNameSpace(request.nameSpace);
        got.setHost(std::string());
        want.setHost(std::string());
        return got == want;
    } catch (const Exception&) {
        return false;
    }
}

}  // namespace cim::xml
