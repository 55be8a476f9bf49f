#include "testsupport/RandomCim.h"

#include <limits>
#include <optional>

namespace testsupport {

using namespace cim;

std::string RandomCim::name() {
    static const char* const kStarts[] = {"Name", "CIM_", "LSISSI_", "x", "_p", "Élan", "DeviceID"};
    std::string n = kStarts[below(7)];
    const std::uint32_t extra = below(6);
    static const char kTail[] = "abcXYZ019_";
    for (std::uint32_t i = 0; i < extra; ++i) n += kTail[below(sizeof kTail - 1)];
    return n;
}

std::string RandomCim::text() {
    // clang-format off
    static const char* const kPieces[] = {"volume", " ", "&", "<", ">", "\"", "'", "&amp;", "]]>",
        "\t", "\n", "\r\n", "\x1b[31m", "\x01", "é", "€", "\xF0\x9D\x84\x9E", "600A0B80002A1B3C",
        "a,b", "\\", "=", "  "};
    // clang-format on
    std::string s;
    const std::uint32_t n = below(8);
    for (std::uint32_t i = 0; i < n; ++i) s += kPieces[below(sizeof kPieces / sizeof kPieces[0])];
    return s;
}

namespace {

template <class T>
T randomInt(RandomCim& r) {
    const std::uint32_t k = r.below(4);
    using L = std::numeric_limits<T>;
    return k == 0 ? L::min() : k == 1 ? L::max() : k == 2 ? T(0) : static_cast<T>(r.below(100000));
}

CIMDateTime randomDateTime(RandomCim& r) {
    if (r.chance(30)) return CIMDateTime(Uint64(r.below(1000000)) * 86400ull, true);
    char text[32];
    std::snprintf(text, sizeof text, "%04u%02u%02u%02u%02u%02u.%06u%c%03u", 1990 + r.below(40),
                  1 + r.below(12), 1 + r.below(28), r.below(24), r.below(60), r.below(60),
                  r.below(1000000), r.chance(50) ? '+' : '-', r.below(720));
    return CIMDateTime(std::string_view(text));
}

Char16 randomChar16(RandomCim& r) {
    static const Char16 kChars[] = {u'a', u'Z', u'<', u'&', u'é', u'€', u'\t', u'"'};
    return kChars[r.below(8)];
}

}  // namespace

CIMValue RandomCim::value(CIMType type, bool isArray, int depth) {
    if (chance(8)) return CIMValue(type, isArray);
    const std::uint32_t n = below(4);
    switch (type) {
#define RKSO_RANDOM(T, TYPE, MAKE)                                  \
    case TYPE: {                                                    \
        if (!isArray) return CIMValue(T(MAKE));                     \
        Array<T> a;                                                 \
        for (std::uint32_t i = 0; i < n; ++i) a.push_back(T(MAKE)); \
        return CIMValue(a);                                         \
    }
        RKSO_RANDOM(Boolean, CIMTYPE_BOOLEAN, chance(50))
        RKSO_RANDOM(Uint8, CIMTYPE_UINT8, randomInt<Uint8>(*this))
        RKSO_RANDOM(Sint8, CIMTYPE_SINT8, randomInt<Sint8>(*this))
        RKSO_RANDOM(Uint16, CIMTYPE_UINT16, randomInt<Uint16>(*this))
        RKSO_RANDOM(Sint16, CIMTYPE_SINT16, randomInt<Sint16>(*this))
        RKSO_RANDOM(Uint32, CIMTYPE_UINT32, randomInt<Uint32>(*this))
        RKSO_RANDOM(Sint32, CIMTYPE_SINT32, randomInt<Sint32>(*this))
        RKSO_RANDOM(Uint64, CIMTYPE_UINT64, randomInt<Uint64>(*this))
        RKSO_RANDOM(Sint64, CIMTYPE_SINT64, randomInt<Sint64>(*this))
        RKSO_RANDOM(Real32, CIMTYPE_REAL32, Real32(below(100000)) / 64)
        RKSO_RANDOM(Real64, CIMTYPE_REAL64, Real64(below(1000000)) * 1e-7 - 0.05)
        RKSO_RANDOM(Char16, CIMTYPE_CHAR16, randomChar16(*this))
        RKSO_RANDOM(String, CIMTYPE_STRING, text())
        RKSO_RANDOM(CIMDateTime, CIMTYPE_DATETIME, randomDateTime(*this))
        RKSO_RANDOM(CIMObjectPath, CIMTYPE_REFERENCE, path(depth + 1, chance(50)))
#undef RKSO_RANDOM
        default:
            break;
    }
    // Embedded instances and objects.
    if (!isArray) {
        if (depth >= 2) return CIMValue(type, false);
        return CIMValue(instance(depth + 1)).convertTo(type);
    }
    Array<CIMInstance> a;
    for (std::uint32_t i = 0; i < n && depth < 2; ++i) a.push_back(instance(depth + 1));
    CIMValue v(a);
    if (type == CIMTYPE_OBJECT) v = CIMValue(a).convertTo(CIMTYPE_OBJECT);
    return v;
}

CIMValue RandomCim::anyValue(int depth) {
    return value(static_cast<CIMType>(below(CIMTYPE_INSTANCE + 1)), chance(30), depth);
}

CIMObjectPath RandomCim::path(int depth, bool withNamespace) {
    CIMObjectPath p;
    p.setClassName(name());
    if (withNamespace) {
        p.setNameSpace(chance(50) ? "root/cimv2" : "root/LsiArray13");
        if (chance(50)) p.setHost(chance(50) ? "array1.example" : "10.0.0.5");
    }
    std::vector<CIMKeyBinding> keys;
    const std::uint32_t n = 1 + below(4);
    for (std::uint32_t i = 0; i < n; ++i) {
        std::string key = "K" + std::to_string(i) + name();
        const std::uint32_t kind = below(depth < 2 ? 4 : 3);
        if (kind == 0) keys.emplace_back(key, text(), CIMKeyBinding::STRING);
        if (kind == 1)
            keys.emplace_back(key, std::to_string(below(100000)), CIMKeyBinding::NUMERIC);
        if (kind == 2)
            keys.emplace_back(key, chance(50) ? "TRUE" : "FALSE", CIMKeyBinding::BOOLEAN);
        if (kind == 3) keys.emplace_back(key, path(depth + 1, chance(50)));
    }
    p.setKeyBindings(std::move(keys));
    return p;
}

CIMInstance RandomCim::instance(int depth) {
    CIMInstance inst(name());
    const std::uint32_t n = below(depth ? 4 : 12);
    for (std::uint32_t i = 0; i < n; ++i) {
        CIMValue v = anyValue(depth);
        CIMName refClass, origin;
        if (v.getType() == CIMTYPE_REFERENCE && !v.isArray() && chance(50)) refClass = name();
        if (chance(20)) origin = name();
        CIMProperty p("P" + std::to_string(i) + name(), v, 0, refClass, origin, chance(10));
        if (chance(10)) p.addQualifier(CIMQualifier("Key", CIMValue(true)));
        inst.addProperty(p);
    }
    if (depth == 0 && chance(10)) inst.addQualifier(CIMQualifier("Description", CIMValue(text())));
    return inst;
}

CIMClass RandomCim::cimClass() {
    CIMClass c(name(), chance(50) ? CIMName("CIM_ManagedElement") : CIMName());
    const std::uint32_t n = below(5);
    for (std::uint32_t i = 0; i < n; ++i) {
        CIMProperty p("P" + std::to_string(i), anyValue(1));
        p.addQualifier(CIMQualifier("Description", CIMValue(text())));
        c.addProperty(p);
    }
    const std::uint32_t m = below(3);
    for (std::uint32_t i = 0; i < m; ++i) {
        CIMMethod method("M" + std::to_string(i), CIMTYPE_UINT32);
        method.addParameter(
            CIMParameter("In", static_cast<CIMType>(below(CIMTYPE_DATETIME + 1)), chance(30)));
        method.addParameter(CIMParameter("Job", CIMTYPE_REFERENCE, false, 0, "CIM_ConcreteJob"));
        c.addMethod(method);
    }
    return c;
}

xml::Response RandomCim::response() {
    xml::Response r;
    r.messageId = std::to_string(1000 + below(100000));
    const std::uint32_t kind = below(9);
    const std::uint32_t count = below(6) == 0 ? 0 : 1 + below(15);
    if (kind == 0 || kind == 2 || kind == 3) {  // instances: associations' with namespace
        r.methodName = kind == 0   ? xml::kEnumerateInstances
                       : kind == 2 ? xml::kAssociators
                                   : xml::kReferences;
        for (std::uint32_t i = 0; i < count; ++i) {
            CIMInstance inst = instance();
            inst.setPath(path(0, kind != 0));
            r.instances.push_back(inst);
        }
    } else if (kind == 1 || kind == 4) {  // paths: associations' mostly with namespace
        r.methodName = kind == 1    ? xml::kEnumerateInstanceNames
                       : chance(50) ? xml::kAssociatorNames
                                    : xml::kReferenceNames;
        for (std::uint32_t i = 0; i < count; ++i)
            r.instanceNames.push_back(path(0, kind == 4 && chance(70)));
    } else if (kind == 5) {
        r.methodName = xml::kGetInstance;
        r.instances.push_back(instance());
    } else if (kind == 6) {
        r.methodName = xml::kGetClass;
        r.cimClass = cimClass();
    } else if (kind == 7) {
        r.methodName = chance(50) ? xml::kGetInstance : xml::kEnumerateInstances;
        r.errorCode = static_cast<CIMStatusCode>(1 + below(27));
        r.errorDescription = text();
    } else {
        r.intrinsic = false;
        r.methodName = name();
        r.returnValue = chance(80) ? CIMValue(Uint32(below(5000))) : anyValue();
        for (std::uint32_t i = 0; i < below(4); ++i)
            r.outParameters.emplace_back("Out" + std::to_string(i), anyValue());
    }
    r.hasReturnValue = r.intrinsic && !r.isError() && chance(90);
    return r;
}

std::string RandomCim::respell(const std::string& xml) {
    std::string out;
    out.reserve(xml.size() + xml.size() / 4);
    bool inTag = false, inValue = false;
    char quote = 0;
    bool afterDeclaration = false;
    for (std::size_t i = 0; i < xml.size(); ++i) {
        const char c = xml[i];
        if (!inTag) {
            out += c;
            if (c == '<') inTag = true;
            continue;
        }
        if (inValue) {
            if (c == '"') {
                out += quote;
                inValue = false;
            } else if (xml.compare(i, 4, "&gt;") == 0 && chance(50)) {
                out += '>';  // legal inside an attribute value
                i += 3;
            } else if (c == '\'' || (xml.compare(i, 6, "&apos;") == 0 && quote == '"')) {
                out += quote == '\'' ? "&apos;" : "'";
                if (c != '\'') i += 5;
            } else {
                out += c;
            }
            continue;
        }
        if (c == '"') {
            quote = chance(50) ? '\'' : '"';
            out += quote;
            inValue = true;
            continue;
        }
        if (c == '>') {
            if (out.back() != '/' && out.back() != '?' && chance(10)) out += "  ";
            out += '>';
            inTag = false;
            if (out.size() >= 2 && out[out.size() - 2] == '?') afterDeclaration = true;
            if (afterDeclaration && i + 1 < xml.size() && chance(8))
                out += chance(50) ? "<!-- a > b -- c -->" : "<?cim note > x?>";
            continue;
        }
        out += c;
    }
    return out;
}

std::string RandomCim::damage(const std::string& xml) {
    if (xml.empty()) return xml;
    std::string out = xml;
    const std::size_t at = below(static_cast<std::uint32_t>(out.size()));
    const std::uint32_t kind = below(5);
    if (kind == 0) out.resize(at);
    if (kind == 1) out.erase(at, 1);
    if (kind == 2) out[at] = "<>\"'/&!?x\x00"[below(10)];
    if (kind == 3) out.insert(at, chance(50) ? "<" : "<!--");
    if (kind == 4) out.insert(at, "<!DOCTYPE x>");
    return out;
}

namespace {

void describeValue(std::string& out, const CIMValue& v) {
    out += cimTypeToString(v.getType());
    if (v.isArray()) out += "[" + std::to_string(v.getArraySize()) + "]";
    out += v.isNull() ? " null" : " =" + v.toString();
}

void describeQualifiers(std::string& out, const std::vector<CIMQualifier>& qs) {
    for (const auto& q : qs) {
        out += " {" + q.getName().getString() + (q.getPropagated() ? " propagated " : " ");
        describeValue(out, q.getValue());
        out += "}";
    }
}

void describeInstance(std::string& out, const CIMInstance& inst) {
    out += "instance " + inst.getClassName().getString() + " at " + inst.getPath().toString() +
           " host " + inst.getPath().getHost();
    describeQualifiers(out, inst.getQualifiers());
    out += "\n";
    for (const auto& p : inst.getProperties()) {
        out += "  " + p.getName().getString() + " ";
        describeValue(out, p.getValue());
        out += " ref " + p.getReferenceClassName().getString() + " origin " +
               p.getClassOrigin().getString() + " size " + std::to_string(p.getArraySize()) +
               (p.getPropagated() ? " propagated" : "");
        describeQualifiers(out, p.getQualifiers());
        out += "\n";
    }
}

}  // namespace

std::string describeResponse(const xml::Response& r) {
    std::string out = "message " + r.messageId + (r.intrinsic ? " intrinsic " : " extrinsic ") +
                      r.methodName + " error " + std::to_string(r.errorCode) + " " +
                      r.errorDescription + (r.hasReturnValue ? " with" : " without") +
                      " return value\n";
    for (const auto& p : r.instanceNames)
        out += "path " + p.toString() + " host " + p.getHost() + "\n";
    for (const auto& i : r.instances) describeInstance(out, i);
    if (r.cimClass) {
        xml::Response c;
        c.methodName = xml::kGetClass;
        c.cimClass = r.cimClass;
        out += "class " + xml::encodeResponse(c) + "\n";
    }
    out += "return ";
    describeValue(out, r.returnValue);
    out += "\n";
    for (const auto& p : r.outParameters) {
        out += "out " + p.getParameterName() + (p.isTyped() ? " typed " : " untyped ");
        describeValue(out, p.getValue());
        out += "\n";
    }
    return out;
}

std::string describeResults(std::vector<CIMInstance> instances, std::vector<CIMObjectPath> paths) {
    xml::Response r;
    r.instances = std::move(instances);
    r.instanceNames = std::move(paths);
    return describeResponse(r);
}

std::string describeRequest(const xml::Request& r) {
    auto flag = [](const std::optional<bool>& v) { return !v ? "-" : *v ? "true" : "false"; };
    auto name = [](const std::optional<CIMName>& v) { return v ? v->getString() : "-"; };
    auto path = [](const std::optional<CIMObjectPath>& v) { return v ? v->toString() : "-"; };
    std::string props = r.propertyList.isNull() ? "all" : "[";
    for (Uint32 i = 0; i < r.propertyList.size(); ++i) props += r.propertyList[i].getString() + ",";
    if (!r.propertyList.isNull()) props += "]";
    xml::Response parts;
    if (r.modifiedInstance) parts.instances.push_back(*r.modifiedInstance);
    if (r.newInstance) parts.instances.push_back(*r.newInstance);
    parts.outParameters.assign(r.inParameters.begin(), r.inParameters.end());
    std::string unknown;
    for (const auto& u : r.unknownParameters) unknown += u + ",";
    return std::string(r.intrinsic ? "intrinsic " : "extrinsic ") + r.messageId + " " +
           r.methodName + " ns " + r.nameSpace.getString() + " instance " + path(r.instanceName) +
           " object " + path(r.objectName) + " class " + name(r.className) + " flags " +
           flag(r.localOnly) + flag(r.deepInheritance) + flag(r.includeQualifiers) +
           flag(r.includeClassOrigin) + " properties " + props + " assoc " + name(r.assocClass) +
           " result " + name(r.resultClass) + " role " + r.role.value_or("-") + " resultRole " +
           r.resultRole.value_or("-") + " target " + r.target.toString() + " unknown " + unknown +
           "\n" + describeResponse(parts);
}

}  // namespace testsupport
