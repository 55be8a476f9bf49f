#include "CimqSupport.h"

#include <cim/Exception.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>

namespace cimq {

using cim::CIMValue;
using nlohmann::json;

Endpoint parseUrl(const std::string& url) {
    Endpoint e;
    std::string rest;
    if (url.rfind("http://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("https://", 0) == 0) {
        e.https = true;
        rest = url.substr(8);
    } else {
        throw UsageError("the URL must start with http:// or https://: " + url);
    }
    std::size_t slash = rest.find('/');
    if (slash != std::string::npos) {
        std::string path = rest.substr(slash);
        if (path != "/" && path != "/cimom") {
            throw UsageError("the URL path must be empty or /cimom: " + url);
        }
        rest.erase(slash);
    }
    std::string portText;
    if (!rest.empty() && rest[0] == '[') {
        std::size_t close = rest.find(']');
        if (close == std::string::npos) throw UsageError("unbalanced '[' in the URL: " + url);
        e.host = rest.substr(1, close - 1);
        std::string after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') throw UsageError("bad text after ']' in the URL: " + url);
            portText = after.substr(1);
        }
    } else {
        std::size_t colon = rest.find(':');
        e.host = rest.substr(0, colon);
        if (colon != std::string::npos) portText = rest.substr(colon + 1);
    }
    if (e.host.empty()) throw UsageError("the URL names no host: " + url);
    if (rest.find('@') != std::string::npos) {
        throw UsageError("credentials do not belong in the URL; use -u and a password source");
    }
    if (portText.empty()) {
        e.port = e.https ? 5989 : 5988;
    } else {
        if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
            throw UsageError("bad port in the URL: " + url);
        unsigned long port = std::stoul(portText);
        if (port == 0 || port > 65535) throw UsageError("port out of range in the URL: " + url);
        e.port = static_cast<unsigned>(port);
    }
    return e;
}

std::vector<cim::CIMParamValue> parseParameters(const std::vector<std::string>& args) {
    struct Pending {
        cim::CIMType type;
        bool isArray;
        bool isNull;
        std::vector<std::string> texts;
    };
    std::vector<std::string> order;
    std::map<std::string, Pending> byName;
    for (const std::string& arg : args) {
        std::size_t eq = arg.find('=');
        if (eq == std::string::npos || eq == 0) {
            throw UsageError("a parameter is NAME=TYPE:VALUE, not '" + arg + "'");
        }
        std::string name = arg.substr(0, eq);
        if (!cim::CIMName::legal(name)) throw UsageError("illegal parameter name '" + name + "'");
        std::string rest = arg.substr(eq + 1);
        std::size_t colon = rest.find(':');
        std::string typeText = rest.substr(0, colon);
        bool isArray = false;
        if (typeText.size() > 2 && typeText.compare(typeText.size() - 2, 2, "[]") == 0) {
            isArray = true;
            typeText.resize(typeText.size() - 2);
        }
        cim::CIMType type;
        if (!cim::cimTypeFromString(typeText, type) || type == cim::CIMTYPE_OBJECT ||
            type == cim::CIMTYPE_INSTANCE) {
            throw UsageError("unknown parameter type '" + typeText + "' in '" + arg + "'");
        }
        auto it = byName.find(name);
        if (it == byName.end()) {
            order.push_back(name);
            it = byName.emplace(name, Pending{type, isArray, true, {}}).first;
        } else if (!isArray || !it->second.isArray || it->second.type != type) {
            throw UsageError("parameter " + name + " given twice; only TYPE[] may repeat");
        }
        if (colon != std::string::npos) {
            it->second.isNull = false;
            it->second.texts.push_back(rest.substr(colon + 1));
        }
    }
    std::vector<cim::CIMParamValue> out;
    for (const std::string& name : order) {
        const Pending& p = byName.at(name);
        CIMValue value;
        try {
            if (p.isNull) {
                value = CIMValue(p.type, p.isArray);
            } else if (p.isArray) {
                value = CIMValue::fromTexts(p.type, p.texts);
            } else {
                value = CIMValue::fromText(p.type, p.texts.front());
            }
        } catch (const cim::Exception& e) {
            throw UsageError("bad value for parameter " + name + ": " + e.getMessage());
        }
        out.emplace_back(name, value);
    }
    return out;
}

cim::CIMValue parsePropertyValue(cim::CIMType type, bool isArray, const std::string& text) {
    try {
        if (!isArray) return CIMValue::fromText(type, text);
        std::vector<std::string> parts;
        if (!text.empty()) {
            std::size_t start = 0;
            for (;;) {
                std::size_t comma = text.find(',', start);
                parts.push_back(text.substr(start, comma - start));
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        }
        return CIMValue::fromTexts(type, parts);
    } catch (const cim::Exception& e) {
        throw UsageError("bad value '" + text + "' for a property of type " +
                         cim::cimTypeToString(type) + ": " + e.getMessage());
    }
}

namespace {

template <class T>
json arrayOf(const CIMValue& v) {
    cim::Array<T> a;
    v.get(a);
    json j = json::array();
    for (const T& e : a) j.push_back(e);
    return j;
}

template <class T>
json textArrayOf(const CIMValue& v) {
    cim::Array<T> a;
    v.get(a);
    json j = json::array();
    for (const T& e : a) j.push_back(CIMValue(e).toString());
    return j;
}

template <class T>
json scalarOf(const CIMValue& v) {
    T x{};
    v.get(x);
    return json(x);
}

}  // namespace

json toJson(const CIMValue& v) {
    if (v.isNull()) return nullptr;
    using namespace cim;
    if (v.isArray()) {
        switch (v.getType()) {
            case CIMTYPE_BOOLEAN:
                return arrayOf<Boolean>(v);
            case CIMTYPE_UINT8:
                return arrayOf<Uint8>(v);
            case CIMTYPE_SINT8:
                return arrayOf<Sint8>(v);
            case CIMTYPE_UINT16:
                return arrayOf<Uint16>(v);
            case CIMTYPE_SINT16:
                return arrayOf<Sint16>(v);
            case CIMTYPE_UINT32:
                return arrayOf<Uint32>(v);
            case CIMTYPE_SINT32:
                return arrayOf<Sint32>(v);
            case CIMTYPE_UINT64:
                return arrayOf<Uint64>(v);
            case CIMTYPE_SINT64:
                return arrayOf<Sint64>(v);
            case CIMTYPE_REAL32:
                return arrayOf<Real32>(v);
            case CIMTYPE_REAL64:
                return arrayOf<Real64>(v);
            case CIMTYPE_STRING:
                return arrayOf<String>(v);
            case CIMTYPE_CHAR16:
                return textArrayOf<Char16>(v);
            case CIMTYPE_DATETIME:
                return textArrayOf<CIMDateTime>(v);
            case CIMTYPE_REFERENCE:
                return textArrayOf<CIMObjectPath>(v);
            default:
                return textArrayOf<CIMInstance>(v);
        }
    }
    switch (v.getType()) {
        case CIMTYPE_BOOLEAN:
            return scalarOf<Boolean>(v);
        case CIMTYPE_UINT8:
            return scalarOf<Uint8>(v);
        case CIMTYPE_SINT8:
            return scalarOf<Sint8>(v);
        case CIMTYPE_UINT16:
            return scalarOf<Uint16>(v);
        case CIMTYPE_SINT16:
            return scalarOf<Sint16>(v);
        case CIMTYPE_UINT32:
            return scalarOf<Uint32>(v);
        case CIMTYPE_SINT32:
            return scalarOf<Sint32>(v);
        case CIMTYPE_UINT64:
            return scalarOf<Uint64>(v);
        case CIMTYPE_SINT64:
            return scalarOf<Sint64>(v);
        case CIMTYPE_REAL32:
            return scalarOf<Real32>(v);
        case CIMTYPE_REAL64:
            return scalarOf<Real64>(v);
        default:
            return v.toString();
    }
}

json toJson(const cim::CIMInstance& instance) {
    json properties = json::object();
    for (const auto& p : instance.getProperties()) {
        properties[p.getName().getString()] = toJson(p.getValue());
    }
    json j;
    j["className"] = instance.getClassName().getString();
    j["path"] = instance.getPath().toString();
    j["properties"] = std::move(properties);
    return j;
}

void appendPrintable(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c >= 0x20 && c < 0x7F) {  // the common case: a run of printable ASCII
            const unsigned char* run = p;
            while (p < end && *p >= 0x20 && *p < 0x7F) ++p;
            out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
            continue;
        }
        if (c < 0x80) {
            if (c == '\n')
                out += "\\n";
            else if (c == '\r')
                out += "\\r";
            else if (c == '\t')
                out += "\\t";
            else
                out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
            ++p;
            continue;
        }
        // A UTF-8 sequence: its length from the lead byte, then continuation bytes, no
        // overlong forms, no surrogates, nothing above U+10FFFF.
        std::size_t n = c >= 0xC2 && c <= 0xDF   ? 2
                        : c >= 0xE0 && c <= 0xEF ? 3
                        : c >= 0xF0 && c <= 0xF4 ? 4
                                                 : 0;
        bool ok = n != 0 && static_cast<std::size_t>(end - p) >= n;
        for (std::size_t i = 1; ok && i < n; ++i) ok = (p[i] & 0xC0) == 0x80;
        if (ok && n == 3) {
            if (c == 0xE0 && p[1] < 0xA0) ok = false;
            if (c == 0xED && p[1] >= 0xA0) ok = false;
        }
        if (ok && n == 4) {
            if (c == 0xF0 && p[1] < 0x90) ok = false;
            if (c == 0xF4 && p[1] >= 0x90) ok = false;
        }
        if (!ok) {
            out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
            ++p;
            continue;
        }
        if (n == 2 && c == 0xC2 && p[1] < 0xA0) {  // C1 controls U+0080..U+009F
            out += {'\\', 'u', '0', '0', kHex[p[1] >> 4], kHex[p[1] & 15]};
        } else {
            out.append(reinterpret_cast<const char*>(p), n);
        }
        p += n;
    }
}

void describe(std::string& out, const cim::CIMInstance& instance) {
    if (instance.getPath().getClassName().isNull())
        appendPrintable(out, instance.getClassName().getString());
    else
        appendPrintable(out, instance.getPath().toString());
    out += '\n';
    std::string text;
    for (const auto& p : instance.getProperties()) {
        out += "  ";
        out += p.getName().getString();
        out += " = ";
        if (p.getValue().isNull()) {
            out += "NULL";
        } else {
            text.clear();
            p.getValue().appendText(text);
            appendPrintable(out, text);
        }
        out += '\n';
    }
}

std::string describe(const cim::CIMInstance& instance) {
    std::string out;
    describe(out, instance);
    return out;
}

std::string jsonText(const nlohmann::json& value, int indent) {
    return value.dump(indent, ' ', false, json::error_handler_t::replace);
}

std::string readPasswordFile(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        throw UsageError("cannot read the password file " + file + ": " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
        throw UsageError("the password file " + file + " is a folder");
    std::string data;
    char buf[1024];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0)
            throw UsageError("cannot read the password file " + file + ": " + std::strerror(errno));
        if (n == 0) break;
        data.append(buf, static_cast<std::size_t>(n));
        if (data.size() > kMaxPasswordFileBytes) {
            std::fill(data.begin(), data.end(), '\0');
            throw UsageError("the password file " + file + " is longer than " +
                             std::to_string(kMaxPasswordFileBytes) + " bytes");
        }
    }
    std::string line = data.substr(0, data.find('\n'));
    std::fill(data.begin(), data.end(), '\0');
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

unsigned timeoutMilliseconds(double seconds) {
    // Written so that NaN fails too.
    if (!(seconds >= 0.001 && seconds <= 86400))
        throw UsageError("--timeout must be between 0.001 (1 ms) and 86400 seconds");
    return static_cast<unsigned>(std::lround(seconds * 1000));
}

}  // namespace cimq
