// CIM-XML encoding of requests and responses.
#include <emmintrin.h>

#include <array>

#include <cim/CIMInstance.h>
#include <cim/xml/Codec.h>

#include "../TextUtil.h"
#include "../ValueAccess.h"

namespace cim::xml {

namespace {

const std::array<bool, 256> kPlain = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 256; ++c) plain[static_cast<std::size_t>(c)] = true;
    for (unsigned char c : {'&', '<', '>', '"', '\''}) plain[c] = false;
    return plain;
}();

// Where the first character that needs escaping is at or after `from` (the size if none):
// sixteen bytes at a time, since most texts need nothing.
std::size_t nextSpecial(std::string_view text, std::size_t from) {
    const __m128i amp = _mm_set1_epi8('&'), lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>'),
                  dq = _mm_set1_epi8('"'), sq = _mm_set1_epi8('\''), ctl = _mm_set1_epi8(0x1F);
    std::size_t i = from;
    for (; i + 16 <= text.size(); i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        const __m128i quote = _mm_or_si128(_mm_cmpeq_epi8(v, dq), _mm_cmpeq_epi8(v, sq));
        const __m128i markup = _mm_or_si128(
            _mm_cmpeq_epi8(v, amp), _mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, gt)));
        const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, ctl), v);  // v <= 0x1F
        const int hits = _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(quote, markup), control));
        if (hits != 0)
            return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
    }
    while (i < text.size() && kPlain[static_cast<unsigned char>(text[i])]) ++i;
    return i;
}

}  // namespace

void appendEscaped(std::string& out, std::string_view text) {
    // Runs of characters that need nothing are copied whole; most texts are one run.
    std::size_t start = 0;
    for (std::size_t i = nextSpecial(text, 0); i < text.size(); i = nextSpecial(text, start)) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out.append(text.data() + start, i - start);
        start = i + 1;
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default: {
                // Control characters (including tab, CR and LF, which XML parsers would
                // normalise) travel as character references.
                static const char kHex[] = "0123456789ABCDEF";
                const char ref[] = {'&', '#', 'x', kHex[c >> 4], kHex[c & 15], ';'};
                out.append(ref, sizeof ref);
            }
        }
    }
    out.append(text.data() + start, text.size() - start);
}

namespace {

class Writer {
  public:
    explicit Writer(std::string& out) : o(out) {}

    void header(const std::string& messageId) {
        o += "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<CIM CIMVERSION=\"2.0\" "
             "DTDVERSION=\"2.0\">\n<MESSAGE ID=\"";
        appendEscaped(o, messageId);
        o += "\" PROTOCOLVERSION=\"1.0\">\n";
    }
    void footer() { o += "</MESSAGE>\n</CIM>\n"; }

    void attr(const char* name, std::string_view value) {
        o += ' ';
        o += name;
        o += "=\"";
        appendEscaped(o, value);
        o += '"';
    }

    void localNamespacePath(const CIMNamespaceName& ns) {
        o += "<LOCALNAMESPACEPATH>\n";
        const std::string& s = ns.getString();
        std::size_t start = 0;
        while (start <= s.size() && !s.empty()) {
            std::size_t slash = s.find('/', start);
            std::size_t end = slash == std::string::npos ? s.size() : slash;
            o += "<NAMESPACE";
            attr("NAME", std::string_view(s).substr(start, end - start));
            o += "/>\n";
            if (slash == std::string::npos) break;
            start = slash + 1;
        }
        o += "</LOCALNAMESPACEPATH>\n";
    }

    void namespacePath(const std::string& host, const CIMNamespaceName& ns) {
        o += "<NAMESPACEPATH>\n<HOST>";
        appendEscaped(o, host.empty() ? std::string_view("localhost") : std::string_view(host));
        o += "</HOST>\n";
        localNamespacePath(ns);
        o += "</NAMESPACEPATH>\n";
    }

    void className(const CIMName& name) {
        o += "<CLASSNAME";
        attr("NAME", name.getString());
        o += "/>\n";
    }

    // Large enumerations write thousands of these: the fixed text goes in whole pieces.
    void instanceName(const CIMObjectPath& path) {
        o += "<INSTANCENAME CLASSNAME=\"";
        appendEscaped(o, path.getClassName().getString());
        o += "\">\n";
        for (const auto& k : path.getKeyBindings()) {
            o += "<KEYBINDING NAME=\"";
            appendEscaped(o, k.getName().getString());
            o += "\">\n";
            if (k.getType() == CIMKeyBinding::REFERENCE) {
                CIMObjectPath ref;
                bool ok = true;
                try {
                    ref = CIMObjectPath::parse(k.getValue());
                } catch (const Exception&) {
                    ok = false;
                }
                if (ok) {
                    valueReference(ref);
                    o += "</KEYBINDING>\n";
                    continue;
                }
            }
            switch (k.getType()) {
                case CIMKeyBinding::BOOLEAN:
                    o += "<KEYVALUE VALUETYPE=\"boolean\">";
                    break;
                case CIMKeyBinding::NUMERIC:
                    o += "<KEYVALUE VALUETYPE=\"numeric\">";
                    break;
                default:
                    o += "<KEYVALUE VALUETYPE=\"string\">";
                    break;
            }
            appendEscaped(o, k.getValue());
            o += "</KEYVALUE>\n</KEYBINDING>\n";
        }
        o += "</INSTANCENAME>\n";
    }

    void instancePath(const CIMObjectPath& path) {
        o += "<INSTANCEPATH>\n";
        namespacePath(path.getHost(), path.getNameSpace());
        instanceName(path);
        o += "</INSTANCEPATH>\n";
    }

    void valueReference(const CIMObjectPath& path) {
        o += "<VALUE.REFERENCE>\n";
        bool isClass = path.getKeyBindings().empty();
        bool hasNs = !path.getNameSpace().isNull();
        if (!path.getHost().empty() && hasNs) {
            if (isClass) {
                o += "<CLASSPATH>\n";
                namespacePath(path.getHost(), path.getNameSpace());
                className(path.getClassName());
                o += "</CLASSPATH>\n";
            } else {
                instancePath(path);
            }
        } else if (hasNs) {
            o += isClass ? "<LOCALCLASSPATH>\n" : "<LOCALINSTANCEPATH>\n";
            localNamespacePath(path.getNameSpace());
            if (isClass)
                className(path.getClassName());
            else
                instanceName(path);
            o += isClass ? "</LOCALCLASSPATH>\n" : "</LOCALINSTANCEPATH>\n";
        } else if (isClass) {
            className(path.getClassName());
        } else {
            instanceName(path);
        }
        o += "</VALUE.REFERENCE>\n";
    }

    template <class T>
    void scalarText(const T& v) {
        o += "<VALUE>";
        appendEscaped(o, CIMValue(v).toString());
        o += "</VALUE>\n";
    }

    // VALUE, VALUE.ARRAY, VALUE.REFERENCE or VALUE.REFARRAY; nothing for null.
    void value(const CIMValue& v) {
        if (v.isNull()) return;
        CIMType t = v.getType();
        if (t == CIMTYPE_REFERENCE) {
            if (!v.isArray()) {
                CIMObjectPath p;
                v.get(p);
                valueReference(p);
            } else {
                Array<CIMObjectPath> a;
                v.get(a);
                o += "<VALUE.REFARRAY>\n";
                for (const auto& p : a) valueReference(p);
                o += "</VALUE.REFARRAY>\n";
            }
            return;
        }
        if (t == CIMTYPE_INSTANCE || t == CIMTYPE_OBJECT) {
            Array<CIMInstance> a;
            if (v.isArray()) {
                v.get(a);
            } else {
                a.emplace_back();
                v.get(a.back());
            }
            if (v.isArray()) o += "<VALUE.ARRAY>\n";
            for (const auto& inst : a) {
                o += "<VALUE>";
                appendEscaped(o, encodeInstance(inst));
                o += "</VALUE>\n";
            }
            if (v.isArray()) o += "</VALUE.ARRAY>\n";
            return;
        }
        if (!v.isArray()) {
            o += "<VALUE>";
            if (t == CIMTYPE_STRING) {
                appendEscaped(o, cim::detail::ValueAccess::stringOf(v));
            } else {
                m_text.clear();
                v.appendText(m_text);
                appendEscaped(o, m_text);
            }
            o += "</VALUE>\n";
            return;
        }
        o += "<VALUE.ARRAY>\n";
        switch (t) {
#define RKSO_CIM_ARRAY_CASE(T, TYPE)              \
    case TYPE: {                                  \
        Array<T> a;                               \
        v.get(a);                                 \
        for (const auto& x : a) scalarText(T(x)); \
        break;                                    \
    }
            RKSO_CIM_ARRAY_CASE(Boolean, CIMTYPE_BOOLEAN)
            RKSO_CIM_ARRAY_CASE(Uint8, CIMTYPE_UINT8)
            RKSO_CIM_ARRAY_CASE(Sint8, CIMTYPE_SINT8)
            RKSO_CIM_ARRAY_CASE(Uint16, CIMTYPE_UINT16)
            RKSO_CIM_ARRAY_CASE(Sint16, CIMTYPE_SINT16)
            RKSO_CIM_ARRAY_CASE(Uint32, CIMTYPE_UINT32)
            RKSO_CIM_ARRAY_CASE(Sint32, CIMTYPE_SINT32)
            RKSO_CIM_ARRAY_CASE(Uint64, CIMTYPE_UINT64)
            RKSO_CIM_ARRAY_CASE(Sint64, CIMTYPE_SINT64)
            RKSO_CIM_ARRAY_CASE(Real32, CIMTYPE_REAL32)
            RKSO_CIM_ARRAY_CASE(Real64, CIMTYPE_REAL64)
            RKSO_CIM_ARRAY_CASE(Char16, CIMTYPE_CHAR16)
            RKSO_CIM_ARRAY_CASE(String, CIMTYPE_STRING)
            RKSO_CIM_ARRAY_CASE(CIMDateTime, CIMTYPE_DATETIME)
#undef RKSO_CIM_ARRAY_CASE
            default:
                break;
        }
        o += "</VALUE.ARRAY>\n";
    }

    // TYPE (and EmbeddedObject for embedded instances) attributes of a typed element.
    void typeAttrs(const char* typeAttr, CIMType t) {
        if (t == CIMTYPE_INSTANCE || t == CIMTYPE_OBJECT) {
            attr(typeAttr, "string");
            attr("EmbeddedObject", t == CIMTYPE_INSTANCE ? "instance" : "object");
        } else {
            // Type names need no escaping.
            o += ' ';
            o += typeAttr;
            o += "=\"";
            o += cimTypeToString(t);
            o += '"';
        }
    }

    void qualifiers(const std::vector<CIMQualifier>& qs) {
        for (const auto& q : qs) {
            o += "<QUALIFIER";
            attr("NAME", q.getName().getString());
            typeAttrs("TYPE", q.getType());
            if (q.getPropagated()) attr("PROPAGATED", "true");
            o += ">\n";
            value(q.getValue());
            o += "</QUALIFIER>\n";
        }
    }

    void property(const CIMProperty& p) {
        const CIMValue& v = p.getValue();
        const char* tag = v.getType() == CIMTYPE_REFERENCE && !v.isArray() ? "PROPERTY.REFERENCE"
                          : v.isArray()                                    ? "PROPERTY.ARRAY"
                                                                           : "PROPERTY";
        o += '<';
        o += tag;
        o += " NAME=\"";
        appendEscaped(o, p.getName().getString());
        o += '"';
        if (v.getType() == CIMTYPE_REFERENCE && !v.isArray()) {
            if (!p.getReferenceClassName().isNull())
                attr("REFERENCECLASS", p.getReferenceClassName().getString());
        } else {
            typeAttrs("TYPE", v.getType());
        }
        if (v.isArray() && p.getArraySize() != 0)
            attr("ARRAYSIZE", std::to_string(p.getArraySize()));
        if (!p.getClassOrigin().isNull()) attr("CLASSORIGIN", p.getClassOrigin().getString());
        if (p.getPropagated()) attr("PROPAGATED", "true");
        o += ">\n";
        qualifiers(p.getQualifiers());
        value(v);
        o += "</";
        o += tag;
        o += ">\n";
    }

    void instance(const CIMInstance& inst) {
        o += "<INSTANCE CLASSNAME=\"";
        appendEscaped(o, inst.getClassName().getString());
        o += "\">\n";
        qualifiers(inst.getQualifiers());
        for (const auto& p : inst.getProperties()) property(p);
        o += "</INSTANCE>\n";
    }

    void cimClass(const CIMClass& c) {
        o += "<CLASS";
        attr("NAME", c.getClassName().getString());
        if (!c.getSuperClassName().isNull()) attr("SUPERCLASS", c.getSuperClassName().getString());
        o += ">\n";
        qualifiers(c.getQualifiers());
        for (const auto& p : c.getProperties()) property(p);
        for (const auto& m : c.getMethods()) {
            o += "<METHOD";
            attr("NAME", m.getName().getString());
            attr("TYPE", cimTypeToString(m.getType()));
            if (!m.getClassOrigin().isNull()) attr("CLASSORIGIN", m.getClassOrigin().getString());
            if (m.getPropagated()) attr("PROPAGATED", "true");
            o += ">\n";
            qualifiers(m.getQualifiers());
            for (const auto& prm : m.getParameters()) {
                bool ref = prm.getType() == CIMTYPE_REFERENCE;
                const char* tag =
                    ref ? (prm.isArray() ? "PARAMETER.REFARRAY" : "PARAMETER.REFERENCE")
                        : (prm.isArray() ? "PARAMETER.ARRAY" : "PARAMETER");
                o += '<';
                o += tag;
                attr("NAME", prm.getName().getString());
                if (ref) {
                    if (!prm.getReferenceClassName().isNull())
                        attr("REFERENCECLASS", prm.getReferenceClassName().getString());
                } else {
                    typeAttrs("TYPE", prm.getType());
                }
                if (prm.isArray() && prm.getArraySize() != 0)
                    attr("ARRAYSIZE", std::to_string(prm.getArraySize()));
                o += ">\n";
                qualifiers(prm.getQualifiers());
                o += "</";
                o += tag;
                o += ">\n";
            }
            o += "</METHOD>\n";
        }
        o += "</CLASS>\n";
    }

    void paramValue(const CIMParamValue& pv, const char* tag = "PARAMVALUE") {
        const CIMValue& v = pv.getValue();
        o += '<';
        o += tag;
        attr("NAME", pv.getParameterName());
        if (pv.isTyped()) typeAttrs("PARAMTYPE", v.getType());
        o += ">\n";
        value(v);
        o += "</";
        o += tag;
        o += ">\n";
    }

    void iparamBool(const char* name, const std::optional<bool>& v) {
        if (!v) return;
        o += "<IPARAMVALUE NAME=\"";
        o += name;
        o += *v ? "\">\n<VALUE>TRUE</VALUE>\n</IPARAMVALUE>\n"
                : "\">\n<VALUE>FALSE</VALUE>\n</IPARAMVALUE>\n";
    }
    void iparamOpen(const char* name) {
        o += "<IPARAMVALUE NAME=\"";
        o += name;
        o += "\">\n";
    }
    void iparamClose() {
        o += "</IPARAMVALUE>\n";
    }

    // INSTANCENAME for instance paths, CLASSNAME for class paths.
    void objectName(const CIMObjectPath& p) {
        if (p.getKeyBindings().empty())
            className(p.getClassName());
        else
            instanceName(p);
    }

    std::string& o;
    std::string m_text;  // the text form of the value being written
};

bool sameName(const std::string& a, const char* b) {
    return equalNoCase(a, b);
}

}  // namespace

std::string encodeInstance(const CIMInstance& instance) {
    std::string out;
    Writer(out).instance(instance);
    return out;
}

std::string encodeRequest(const Request& r) {
    std::string out;
    out.reserve(2048);
    Writer w(out);
    w.header(r.messageId);
    out += "<SIMPLEREQ>\n";
    if (r.intrinsic) {
        out += "<IMETHODCALL";
        w.attr("NAME", r.methodName);
        out += ">\n";
        w.localNamespacePath(r.nameSpace);
        if (r.instanceName) {
            w.iparamOpen("InstanceName");
            w.instanceName(*r.instanceName);
            w.iparamClose();
        }
        if (r.className) {
            w.iparamOpen("ClassName");
            w.className(*r.className);
            w.iparamClose();
        }
        if (r.objectName) {
            w.iparamOpen("ObjectName");
            w.objectName(*r.objectName);
            w.iparamClose();
        }
        if (r.modifiedInstance) {
            w.iparamOpen("ModifiedInstance");
            out += "<VALUE.NAMEDINSTANCE>\n";
            w.instanceName(r.modifiedInstance->getPath());
            w.instance(*r.modifiedInstance);
            out += "</VALUE.NAMEDINSTANCE>\n";
            w.iparamClose();
        }
        if (r.newInstance) {
            w.iparamOpen("NewInstance");
            w.instance(*r.newInstance);
            w.iparamClose();
        }
        if (r.assocClass) {
            w.iparamOpen("AssocClass");
            w.className(*r.assocClass);
            w.iparamClose();
        }
        if (r.resultClass) {
            w.iparamOpen("ResultClass");
            w.className(*r.resultClass);
            w.iparamClose();
        }
        if (r.role) {
            w.iparamOpen("Role");
            w.scalarText(*r.role);
            w.iparamClose();
        }
        if (r.resultRole) {
            w.iparamOpen("ResultRole");
            w.scalarText(*r.resultRole);
            w.iparamClose();
        }
        w.iparamBool("LocalOnly", r.localOnly);
        w.iparamBool("DeepInheritance", r.deepInheritance);
        w.iparamBool("IncludeQualifiers", r.includeQualifiers);
        w.iparamBool("IncludeClassOrigin", r.includeClassOrigin);
        if (!r.propertyList.isNull()) {
            w.iparamOpen("PropertyList");
            out += "<VALUE.ARRAY>\n";
            for (const auto& n : r.propertyList.getPropertyNameArray()) w.scalarText(n.getString());
            out += "</VALUE.ARRAY>\n";
            w.iparamClose();
        }
        out += "</IMETHODCALL>\n";
    } else {
        out += "<METHODCALL";
        w.attr("NAME", r.methodName);
        out += ">\n";
        const CIMNamespaceName& ns =
            r.target.getNameSpace().isNull() ? r.nameSpace : r.target.getNameSpace();
        bool isClass = r.target.getKeyBindings().empty();
        out += isClass ? "<LOCALCLASSPATH>\n" : "<LOCALINSTANCEPATH>\n";
        w.localNamespacePath(ns);
        w.objectName(r.target);
        out += isClass ? "</LOCALCLASSPATH>\n" : "</LOCALINSTANCEPATH>\n";
        for (const auto& p : r.inParameters) w.paramValue(p);
        out += "</METHODCALL>\n";
    }
    out += "</SIMPLEREQ>\n";
    w.footer();
    return out;
}

std::string encodeResponse(const Response& r) {
    std::string out;
    std::size_t guess = 1024 + r.instances.size() * 2048 + r.instanceNames.size() * 512;
    out.reserve(guess);
    Writer w(out);
    w.header(r.messageId);
    out += "<SIMPLERSP>\n";
    out += r.intrinsic ? "<IMETHODRESPONSE" : "<METHODRESPONSE";
    w.attr("NAME", r.methodName);
    out += ">\n";
    if (r.isError()) {
        out += "<ERROR";
        w.attr("CODE", std::to_string(static_cast<int>(r.errorCode)));
        if (!r.errorDescription.empty()) w.attr("DESCRIPTION", r.errorDescription);
        out += "/>\n";
    } else if (r.intrinsic) {
        const std::string& m = r.methodName;
        bool any = r.hasReturnValue || !r.instanceNames.empty() || !r.instances.empty() ||
                   r.cimClass.has_value();
        if (any) {
            out += "<IRETURNVALUE>\n";
            bool objectPaths = sameName(m, kAssociatorNames) || sameName(m, kReferenceNames);
            for (const auto& p : r.instanceNames) {
                if (objectPaths && !p.getNameSpace().isNull()) {
                    out += "<OBJECTPATH>\n";
                    if (p.getKeyBindings().empty()) {
                        out += "<CLASSPATH>\n";
                        w.namespacePath(p.getHost(), p.getNameSpace());
                        w.className(p.getClassName());
                        out += "</CLASSPATH>\n";
                    } else {
                        w.instancePath(p);
                    }
                    out += "</OBJECTPATH>\n";
                } else {
                    w.instanceName(p);
                }
            }
            bool withPath = sameName(m, kAssociators) || sameName(m, kReferences);
            bool plain = sameName(m, kGetInstance);
            for (const auto& inst : r.instances) {
                if (plain || inst.getPath().getClassName().isNull()) {
                    w.instance(inst);
                } else if (withPath && !inst.getPath().getNameSpace().isNull()) {
                    out += "<VALUE.OBJECTWITHPATH>\n";
                    w.instancePath(inst.getPath());
                    w.instance(inst);
                    out += "</VALUE.OBJECTWITHPATH>\n";
                } else {
                    out += "<VALUE.NAMEDINSTANCE>\n";
                    w.instanceName(inst.getPath());
                    w.instance(inst);
                    out += "</VALUE.NAMEDINSTANCE>\n";
                }
            }
            if (r.cimClass) w.cimClass(*r.cimClass);
            out += "</IRETURNVALUE>\n";
        }
    } else {
        if (!r.returnValue.isNull()) {
            out += "<RETURNVALUE";
            w.typeAttrs("PARAMTYPE", r.returnValue.getType());
            out += ">\n";
            w.value(r.returnValue);
            out += "</RETURNVALUE>\n";
        }
        for (const auto& p : r.outParameters) w.paramValue(p);
    }
    out += r.intrinsic ? "</IMETHODRESPONSE>\n" : "</METHODRESPONSE>\n";
    out += "</SIMPLERSP>\n";
    w.footer();
    return out;
}

}  // namespace cim::xml
