// The DOM side of CIM-XML decoding: pugixml parses a document (or one element cut from an
// answer) and these functions turn its elements into objects.
#pragma once

#include <cstring>
#include <limits>
#include <type_traits>
#include <unordered_set>

#include <pugixml.hpp>

#include <cim/xml/Codec.h>

#include "../TextUtil.h"
#include "TextPool.h"
#include "XmlUtil.h"

namespace cim::xml::detail {

using pugi::xml_node;

[[noreturn]] inline void fail(const std::string& what) {
    throw ParseException("CIM-XML: " + what);
}

// Whether s is the literal, compared up to the first difference (never past the end of s).
template <std::size_t N>
inline bool same(const char* s, const char (&literal)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        if (s[i] != literal[i]) return false;
    return true;
}

template <std::size_t N>
inline bool is(const xml_node& n, const char (&name)[N]) {
    return same(n.name(), name);
}

inline std::string_view text(const xml_node& n) {
    return n.child_value();
}

inline std::string clip(std::string_view s) {
    if (s.size() > 80) return std::string(s.substr(0, 80)) + "...";
    return std::string(s);
}

// The first child element, or an empty node.
inline xml_node firstElement(const xml_node& n) {
    for (xml_node c = n.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element) return c;
    return xml_node();
}

template <class F>
inline void forElements(const xml_node& n, F&& f) {
    for (xml_node c = n.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element) f(c);
}

inline xml_node requireChild(const xml_node& n, const char* name) {
    xml_node c = n.child(name);
    if (!c) fail(std::string("missing <") + name + "> element in <" + n.name() + ">");
    return c;
}

inline const char* requireAttr(const xml_node& n, const char* attr) {
    pugi::xml_attribute a = n.attribute(attr);
    if (!a) fail(std::string("<") + n.name() + "> without the " + attr + " attribute");
    return a.value();
}

inline bool boolAttr(const xml_node& n, const char* attr) {
    pugi::xml_attribute a = n.attribute(attr);
    return a && equalNoCase(a.value(), "true");
}

// Where the objects of an IRETURNVALUE go.
class ResultSink {
  public:
    virtual void instance(CIMInstance&& instance) = 0;
    virtual void instanceName(CIMObjectPath&& path) = 0;
    virtual void cimClass(CIMClass&& cls) = 0;

  protected:
    ~ResultSink() = default;
};

// Collects the results into a Response.
class ResponseSink final : public ResultSink {
  public:
    explicit ResponseSink(Response& r) : m_r(r) {}
    void instance(CIMInstance&& i) override { m_r.instances.push_back(std::move(i)); }
    void instanceName(CIMObjectPath&& p) override { m_r.instanceNames.push_back(std::move(p)); }
    void cimClass(CIMClass&& c) override { m_r.cimClass = std::move(c); }

  private:
    Response& m_r;
};

class DomDecoder {
  public:
    // pool: where the texts of one answer are shared; null for none.
    explicit DomDecoder(const Limits& limits, TextPool* pool = nullptr)
        : m_limits(limits), m_pool(pool) {}

    CIMName legalName(const xml_node& n, const char* attr) {
        const char* v = requireAttr(n, attr);
        CIMName name = m_pool              ? m_pool->name(v)
                       : CIMName::legal(v) ? CIMName(std::string(v))
                                           : CIMName();
        if (name.isNull())
            fail(std::string("illegal name \"") + clip(v) + "\" in " + attr + " of <" + n.name() +
                 ">");
        return name;
    }

    // A name already known to be legal.
    CIMName makeName(std::string_view v) {
        return m_pool ? m_pool->name(v) : CIMName(std::string(v));
    }

    // Parses the document; returns the <CIM> root. Throws for malformed XML, a
    // document type declaration or another root.
    xml_node load(std::string_view body) {
        if (body.size() > m_limits.maxBytes)
            fail("document of " + std::to_string(body.size()) + " bytes exceeds the limit of " +
                 std::to_string(m_limits.maxBytes) + " bytes");
        unsigned flags = pugi::parse_default | pugi::parse_doctype | pugi::parse_ws_pcdata_single;
        pugi::xml_parse_result res =
            m_doc.load_buffer(body.data(), body.size(), flags, pugi::encoding_utf8);
        if (!res)
            throw NotWellFormed("CIM-XML: malformed XML: " + std::string(res.description()) +
                                " at offset " + std::to_string(res.offset));
        for (xml_node c = m_doc.first_child(); c; c = c.next_sibling())
            if (c.type() == pugi::node_doctype) fail("document type declarations are not accepted");
        xml_node root = m_doc.document_element();
        if (!root) fail("empty document");
        return root;
    }

    // Parses a run of complete elements (and what lies between them) cut from the inside of
    // a larger document, in place: the bytes are changed and must outlive the nodes.
    // Returns the node whose children they are.
    xml_node loadFragments(char* data, std::size_t size) {
        unsigned flags = pugi::parse_default | pugi::parse_ws_pcdata_single;
        pugi::xml_parse_result res =
            m_doc.load_buffer_inplace(data, size, flags, pugi::encoding_utf8);
        // Text alone between the elements is fine here.
        if (!res && res.status != pugi::status_no_document_element)
            throw NotWellFormed("CIM-XML: malformed XML: " + std::string(res.description()));
        return m_doc;
    }

    // A ParseException for bodies that are not XML at all.
    class NotWellFormed : public ParseException {
      public:
        using ParseException::ParseException;
    };

    CIMNamespaceName localNamespacePath(const xml_node& n) {
        std::string ns;
        forElements(n, [&](const xml_node& c) {
            if (!is(c, "NAMESPACE")) return;
            const char* part = requireAttr(c, "NAME");
            if (!ns.empty()) ns += '/';
            ns += part;
        });
        if (ns.empty()) fail("<LOCALNAMESPACEPATH> without <NAMESPACE>");
        if (!CIMNamespaceName::legal(ns)) fail("illegal namespace \"" + clip(ns) + "\"");
        if (m_pool) return CIMNamespaceName(m_pool->shared(ns));
        return CIMNamespaceName(ns);
    }

    void namespacePath(const xml_node& n, std::string& host, CIMNamespaceName& ns) {
        xml_node h = requireChild(n, "HOST");
        std::string_view hv = text(h);
        if (!hv.empty() && !legalHost(hv)) fail("illegal host \"" + clip(hv) + "\"");
        host.assign(hv);
        ns = localNamespacePath(requireChild(n, "LOCALNAMESPACEPATH"));
    }

    CIMKeyBinding keyValue(const CIMName& name, const xml_node& kv, std::size_t slot) {
        const char* vt = kv.attribute("VALUETYPE").as_string("string");
        std::string_view v = text(kv);
        if (same(vt, "string")) {
            if (m_pool)
                return CIMKeyBinding(name, m_pool->keyValue(slot, v), CIMKeyBinding::STRING);
            return CIMKeyBinding(name, std::string(v), CIMKeyBinding::STRING);
        }
        std::string_view t = v;
        while (!t.empty() && (t.front() == ' ' || t.front() == '\n' || t.front() == '\t'))
            t.remove_prefix(1);
        while (!t.empty() && (t.back() == ' ' || t.back() == '\n' || t.back() == '\t'))
            t.remove_suffix(1);
        if (same(vt, "boolean")) {
            if (equalNoCase(t, "true")) return CIMKeyBinding(name, "TRUE", CIMKeyBinding::BOOLEAN);
            if (equalNoCase(t, "false"))
                return CIMKeyBinding(name, "FALSE", CIMKeyBinding::BOOLEAN);
            fail("invalid boolean key value \"" + clip(v) + "\"");
        }
        if (same(vt, "numeric")) {
            if (!cim::detail::isNumericText(t))
                fail("invalid numeric key value \"" + clip(v) + "\"");
            return CIMKeyBinding(name, std::string(t), CIMKeyBinding::NUMERIC);
        }
        fail(std::string("unknown key VALUETYPE \"") + clip(vt) + "\"");
    }

    CIMObjectPath instanceName(const xml_node& n, unsigned depth) {
        CIMName cls = legalName(n, "CLASSNAME");
        std::vector<CIMKeyBinding> keys;
        keys.reserve(4);
        forElements(n, [&](const xml_node& kb) {
            if (is(kb, "KEYBINDING")) {
                CIMName name = legalName(kb, "NAME");
                for (const auto& k : keys)
                    if (k.getName().equal(name))
                        fail("duplicate key \"" + name.getString() + "\" in <INSTANCENAME>");
                xml_node v = firstElement(kb);
                if (!v) fail("<KEYBINDING> without a value");
                if (is(v, "KEYVALUE"))
                    keys.push_back(keyValue(name, v, keys.size()));
                else if (is(v, "VALUE.REFERENCE"))
                    keys.emplace_back(name, valueReference(v, depth + 1));
                else
                    fail(std::string("unexpected <") + v.name() + "> in <KEYBINDING>");
            } else if (is(kb, "KEYVALUE") || is(kb, "VALUE.REFERENCE")) {
                fail("key values without a key name are not supported");
            }
        });
        CIMObjectPath path;
        path.setClassName(std::move(cls));
        path.setKeyBindings(std::move(keys));
        return path;
    }

    CIMObjectPath instancePath(const xml_node& n, unsigned depth) {
        std::string host;
        CIMNamespaceName ns;
        namespacePath(requireChild(n, "NAMESPACEPATH"), host, ns);
        CIMObjectPath p = instanceName(requireChild(n, "INSTANCENAME"), depth);
        p.setHost(host);
        p.setNameSpace(ns);
        return p;
    }

    CIMObjectPath localInstancePath(const xml_node& n, unsigned depth) {
        CIMNamespaceName ns = localNamespacePath(requireChild(n, "LOCALNAMESPACEPATH"));
        CIMObjectPath p = instanceName(requireChild(n, "INSTANCENAME"), depth);
        p.setNameSpace(ns);
        return p;
    }

    CIMObjectPath className(const xml_node& n) {
        return CIMObjectPath(std::string(), CIMNamespaceName(), legalName(n, "NAME"));
    }

    // Any of the six path elements.
    bool anyPath(const xml_node& c, unsigned depth, CIMObjectPath& out) {
        if (is(c, "INSTANCENAME")) {
            out = instanceName(c, depth);
        } else if (is(c, "LOCALINSTANCEPATH")) {
            out = localInstancePath(c, depth);
        } else if (is(c, "INSTANCEPATH")) {
            out = instancePath(c, depth);
        } else if (is(c, "CLASSNAME")) {
            out = className(c);
        } else if (is(c, "LOCALCLASSPATH")) {
            CIMNamespaceName ns = localNamespacePath(requireChild(c, "LOCALNAMESPACEPATH"));
            out = className(requireChild(c, "CLASSNAME"));
            out.setNameSpace(ns);
        } else if (is(c, "CLASSPATH")) {
            std::string host;
            CIMNamespaceName ns;
            namespacePath(requireChild(c, "NAMESPACEPATH"), host, ns);
            out = className(requireChild(c, "CLASSNAME"));
            out.setHost(host);
            out.setNameSpace(ns);
        } else {
            return false;
        }
        return true;
    }

    CIMObjectPath valueReference(const xml_node& n, unsigned depth) {
        if (depth > m_limits.maxReferenceDepth) fail("references nested too deeply");
        xml_node c = firstElement(n);
        CIMObjectPath p;
        if (!c || !anyPath(c, depth, p)) fail("<VALUE.REFERENCE> without an object path");
        return p;
    }

    // The TYPE/PARAMTYPE attribute, with EmbeddedObject turning strings into instances.
    bool typeOf(const xml_node& n, const char* attr, CIMType& type) {
        pugi::xml_attribute a = n.attribute(attr);
        if (!a) return false;
        if (!cimTypeFromString(a.value(), type))
            fail(std::string("unknown value type \"") + clip(a.value()) + "\" in <" + n.name() +
                 ">");
        pugi::xml_attribute eo = n.attribute("EmbeddedObject");
        if (!eo) eo = n.attribute("EMBEDDEDOBJECT");
        if (eo && type == CIMTYPE_STRING) {
            if (equalNoCase(eo.value(), "instance"))
                type = CIMTYPE_INSTANCE;
            else if (equalNoCase(eo.value(), "object"))
                type = CIMTYPE_OBJECT;
            else
                fail(std::string("unknown EmbeddedObject \"") + clip(eo.value()) + "\"");
        }
        return true;
    }

    // slot: the property's place in its instance, where the pool remembers the last text.
    CIMValue scalar(CIMType type, std::string_view t, unsigned depth,
                    std::size_t slot = TextPool::kNoSlot) {
        if (type == CIMTYPE_STRING) {
            if (m_pool) return m_pool->stringValue(slot, t);
            return CIMValue(std::string(t));
        }
        // Embedded objects are only taken as instances.
        if (type == CIMTYPE_INSTANCE || type == CIMTYPE_OBJECT)
            return CIMValue(embeddedInstance(t, depth + 1));
        return CIMValue::fromText(type, t);
    }

    CIMValue array(CIMType type, const xml_node& va, unsigned depth) {
        std::vector<std::string_view> texts;
        forElements(va, [&](const xml_node& v) {
            if (is(v, "VALUE"))
                texts.push_back(text(v));
            else if (is(v, "VALUE.NULL"))
                texts.push_back(nullText(type));
        });
        switch (type) {
            case CIMTYPE_UINT8:
                return integers<Uint8>(texts, type);
            case CIMTYPE_SINT8:
                return integers<Sint8>(texts, type);
            case CIMTYPE_UINT16:
                return integers<Uint16>(texts, type);
            case CIMTYPE_SINT16:
                return integers<Sint16>(texts, type);
            case CIMTYPE_UINT32:
                return integers<Uint32>(texts, type);
            case CIMTYPE_SINT32:
                return integers<Sint32>(texts, type);
            case CIMTYPE_UINT64:
                return integers<Uint64>(texts, type);
            case CIMTYPE_SINT64:
                return integers<Sint64>(texts, type);
            case CIMTYPE_STRING:
                return CIMValue(Array<String>(texts.begin(), texts.end()));
            case CIMTYPE_INSTANCE:
            case CIMTYPE_OBJECT: {
                Array<CIMInstance> a;
                for (const auto& t : texts) a.push_back(embeddedInstance(t, depth + 1));
                return CIMValue(a);
            }
            default:
                return CIMValue::fromTexts(type, {texts.begin(), texts.end()});
        }
    }

    template <class T>
    static CIMValue integers(const std::vector<std::string_view>& texts, CIMType type) {
        Array<T> a;
        a.reserve(texts.size());
        for (std::string_view t : texts) {
            while (!t.empty() && (t.front() == ' ' || t.front() == '\n' || t.front() == '\t' ||
                                  t.front() == '\r'))
                t.remove_prefix(1);
            while (!t.empty() &&
                   (t.back() == ' ' || t.back() == '\n' || t.back() == '\t' || t.back() == '\r'))
                t.remove_suffix(1);
            bool ok;
            if constexpr (std::is_signed_v<T>) {
                std::int64_t v = 0;
                ok = cim::detail::parseSigned(t, v) && v >= std::numeric_limits<T>::min() &&
                     v <= std::numeric_limits<T>::max();
                a.push_back(static_cast<T>(v));
            } else {
                std::uint64_t v = 0;
                ok = cim::detail::parseUnsigned(t, v) && v <= std::numeric_limits<T>::max();
                a.push_back(static_cast<T>(v));
            }
            if (!ok)
                fail(std::string("invalid ") + cimTypeToString(type) + " value \"" + clip(t) +
                     "\"");
        }
        return CIMValue(a);
    }

    static const char* nullText(CIMType type) {
        switch (type) {
            case CIMTYPE_BOOLEAN:
                return "FALSE";
            case CIMTYPE_REAL32:
            case CIMTYPE_REAL64:
                return "0";
            case CIMTYPE_DATETIME:
                return "00000000000000.000000:000";
            case CIMTYPE_STRING:
            case CIMTYPE_CHAR16:
                return "";
            default:
                return isIntegerType(type) ? "0" : "";
        }
    }

    CIMValue refArray(const xml_node& n, unsigned depth) {
        Array<CIMObjectPath> refs;
        forElements(n, [&](const xml_node& r) {
            if (is(r, "VALUE.REFERENCE")) refs.push_back(valueReference(r, depth + 1));
        });
        return CIMValue(std::move(refs));
    }

    // The value inside a PARAMVALUE, RETURNVALUE or IPARAMVALUE-like element. typed
    // false: no type attribute, strings are kept as strings.
    CIMValue anyValue(const xml_node& n, bool typed, CIMType type, unsigned depth) {
        xml_node c = firstElement(n);
        if (!c) {
            if (!typed) return CIMValue(CIMTYPE_STRING, false);
            return CIMValue(type, false);
        }
        if (is(c, "VALUE.REFERENCE")) {
            if (typed && type != CIMTYPE_REFERENCE)
                fail(std::string("<VALUE.REFERENCE> in a ") + cimTypeToString(type) + " <" +
                     n.name() + ">");
            return CIMValue(valueReference(c, depth + 1));
        }
        if (is(c, "VALUE.REFARRAY")) {
            if (typed && type != CIMTYPE_REFERENCE)
                fail(std::string("<VALUE.REFARRAY> in a ") + cimTypeToString(type) + " <" +
                     n.name() + ">");
            return refArray(c, depth);
        }
        if (is(c, "VALUE"))
            return typed ? scalar(type, text(c), depth) : CIMValue(std::string(text(c)));
        if (is(c, "VALUE.ARRAY")) return array(typed ? type : CIMTYPE_STRING, c, depth);
        if (is(c, "VALUE.NULL")) return CIMValue(typed ? type : CIMTYPE_STRING, false);
        if (is(c, "INSTANCE")) return CIMValue(instance(c, depth + 1));
        if (is(c, "CLASSNAME")) return CIMValue(className(c));
        if (is(c, "QUALIFIER")) return CIMValue(typed ? type : CIMTYPE_STRING, false);
        fail(std::string("unexpected <") + c.name() + "> in <" + n.name() + ">");
    }

    CIMQualifier qualifier(const xml_node& q, unsigned depth) {
        CIMName name = legalName(q, "NAME");
        CIMType type = CIMTYPE_STRING;
        if (!typeOf(q, "TYPE", type)) fail("<QUALIFIER> without the TYPE attribute");
        return CIMQualifier(name, anyValue(q, true, type, depth), boolAttr(q, "PROPAGATED"));
    }

    enum PropertyKind { kScalar, kArray, kReference, kNotAProperty };

    static PropertyKind propertyKind(const xml_node& n) {
        const char* nm = n.name();
        static const char kProperty[] = "PROPERTY";
        for (std::size_t i = 0; i < 8; ++i)
            if (nm[i] != kProperty[i]) return kNotAProperty;
        if (nm[8] == 0) return kScalar;
        if (same(nm + 8, ".ARRAY")) return kArray;
        if (same(nm + 8, ".REFERENCE")) return kReference;
        return kNotAProperty;
    }

    CIMName optionalName(const pugi::xml_attribute& a) {
        CIMName name = m_pool                      ? m_pool->name(a.value())
                       : CIMName::legal(a.value()) ? CIMName(std::string(a.value()))
                                                   : CIMName();
        if (name.isNull())
            fail(std::string("illegal name \"") + clip(a.value()) + "\" in " + a.name());
        return name;
    }

    // One pass over the attributes: this is the hot path of large enumerations.
    CIMProperty property(const xml_node& p, PropertyKind kind, unsigned depth,
                         std::size_t slot = TextPool::kNoSlot) {
        const bool isRef = kind == kReference;
        const bool isArray = kind == kArray;
        const char* nameText = nullptr;
        const char* typeText = nullptr;
        const char* embedded = nullptr;
        CIMName refClass, origin;
        Uint32 arraySize = 0;
        bool propagated = false;
        for (pugi::xml_attribute a = p.first_attribute(); a; a = a.next_attribute()) {
            const char* an = a.name();
            switch (an[0]) {
                case 'N':
                    if (same(an, "NAME")) nameText = a.value();
                    break;
                case 'T':
                    if (same(an, "TYPE")) typeText = a.value();
                    break;
                case 'C':
                    if (same(an, "CLASSORIGIN")) origin = optionalName(a);
                    break;
                case 'P':
                    if (same(an, "PROPAGATED")) propagated = equalNoCase(a.value(), "true");
                    break;
                case 'A':
                    if (same(an, "ARRAYSIZE")) arraySize = a.as_uint();
                    break;
                case 'R':
                    if (isRef && same(an, "REFERENCECLASS")) refClass = optionalName(a);
                    break;
                case 'E':
                    if (same(an, "EmbeddedObject") || same(an, "EMBEDDEDOBJECT"))
                        embedded = a.value();
                    break;
                default:
                    break;
            }
        }
        if (!nameText) fail(std::string("<") + p.name() + "> without the NAME attribute");
        CIMName name;
        m_nameHit = false;
        if (m_pool && slot != TextPool::kNoSlot)
            name = m_pool->propertyName(slot, nameText, m_nameHit);
        else
            name = m_pool                     ? m_pool->name(nameText)
                   : CIMName::legal(nameText) ? CIMName(std::string(nameText))
                                              : CIMName();
        if (name.isNull())
            fail(std::string("illegal name \"") + clip(nameText) + "\" in NAME of <" + p.name() +
                 ">");
        CIMType type = CIMTYPE_REFERENCE;
        if (!isRef) {
            if (!typeText)
                fail("<" + std::string(p.name()) + " NAME=\"" + clip(nameText) +
                     "\"> without the TYPE attribute");
            if (!cimTypeFromString(typeText, type))
                fail(std::string("unknown value type \"") + clip(typeText) + "\" in <" + p.name() +
                     ">");
            if (embedded && type == CIMTYPE_STRING) {
                if (equalNoCase(embedded, "instance"))
                    type = CIMTYPE_INSTANCE;
                else if (equalNoCase(embedded, "object"))
                    type = CIMTYPE_OBJECT;
                else
                    fail(std::string("unknown EmbeddedObject \"") + clip(embedded) + "\"");
            }
        }
        CIMValue value(type, isArray);
        std::vector<CIMQualifier> quals;
        forElements(p, [&](const xml_node& c) {
            const char* cn = c.name();
            if (same(cn, "VALUE")) {
                if (isArray || isRef) fail("<VALUE> in <" + std::string(p.name()) + ">");
                value = scalar(type, text(c), depth, slot);
            } else if (same(cn, "VALUE.ARRAY")) {
                if (!isArray) fail("<VALUE.ARRAY> in <" + std::string(p.name()) + ">");
                value = array(type, c, depth);
            } else if (same(cn, "VALUE.REFERENCE")) {
                if (!isRef) fail("<VALUE.REFERENCE> in <" + std::string(p.name()) + ">");
                value = CIMValue(valueReference(c, depth + 1));
            } else if (same(cn, "VALUE.REFARRAY")) {
                if (!isArray || type != CIMTYPE_REFERENCE)
                    fail("<VALUE.REFARRAY> in <" + std::string(p.name()) + ">");
                value = refArray(c, depth);
            } else if (same(cn, "QUALIFIER")) {
                quals.push_back(qualifier(c, depth));
            }
        });
        CIMProperty prop(std::move(name), std::move(value));
        if (arraySize) prop = CIMProperty(prop.getName(), prop.getValue(), arraySize);
        if (!refClass.isNull()) prop.setReferenceClassName(refClass);
        if (!origin.isNull()) prop.setClassOrigin(origin);
        if (propagated) prop.setPropagated(true);
        for (auto& q : quals) prop.addQualifier(q);
        return prop;
    }

    CIMInstance instance(const xml_node& n, unsigned depth) {
        if (depth > m_limits.maxReferenceDepth) fail("embedded instances nested too deeply");
        CIMInstance inst(legalName(n, "CLASSNAME"));
        if (m_pool && m_pool->distinctNames > 0) {
            inst.reserveProperties(m_pool->distinctNames);  // as many as the last one
        } else {
            std::size_t count = 0;
            for (xml_node c = n.first_child(); c; c = c.next_sibling()) ++count;
            inst.reserveProperties(count);
        }
        // Instances with many properties switch to a set so the duplicate check stays
        // linear overall. Names that all repeat those of the last instance, which were
        // distinct, need no check.
        std::unordered_set<std::string> seen;
        bool repeating = m_pool != nullptr;
        forElements(n, [&](const xml_node& c) {
            PropertyKind kind = propertyKind(c);
            if (kind != kNotAProperty) {
                const std::size_t index = inst.getPropertyCount();
                CIMProperty p = property(c, kind, depth, index);
                repeating = repeating && m_nameHit && index < m_pool->distinctNames;
                if (repeating) {
                    // No check needed.
                } else if (index < 64) {
                    if (inst.findProperty(p.getName()) != PEG_NOT_FOUND)
                        fail("duplicate property \"" + p.getName().getString() + "\"");
                } else {
                    if (seen.empty())
                        for (const auto& q : inst.getProperties())
                            seen.insert(lower(q.getName().getString()));
                    if (!seen.insert(lower(p.getName().getString())).second)
                        fail("duplicate property \"" + p.getName().getString() + "\"");
                }
                inst.appendPropertyUnchecked(std::move(p));
            } else if (is(c, "QUALIFIER")) {
                inst.addQualifier(qualifier(c, depth));
            }
        });
        if (m_pool) m_pool->distinctNames = inst.getPropertyCount();
        return inst;
    }

    static std::string lower(const std::string& s) {
        std::string r(s);
        for (char& c : r)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        return r;
    }

    CIMInstance embeddedInstance(std::string_view xmlText, unsigned depth) {
        if (depth > m_limits.maxReferenceDepth) fail("embedded instances nested too deeply");
        Limits inner = m_limits;
        // Without the pool: its places belong to the instances of the answer.
        DomDecoder d(inner);
        xml_node root = d.load(xmlText);
        if (!is(root, "INSTANCE"))
            fail(std::string("embedded object <") + root.name() + "> is not an <INSTANCE>");
        return d.instance(root, depth);
    }

    CIMClass cimClass(const xml_node& n) {
        CIMClass cls(legalName(n, "NAME"));
        if (pugi::xml_attribute sc = n.attribute("SUPERCLASS")) {
            if (!CIMName::legal(sc.value())) fail("illegal SUPERCLASS");
            cls.setSuperClassName(makeName(sc.value()));
        }
        forElements(n, [&](const xml_node& c) {
            if (PropertyKind kind = propertyKind(c); kind != kNotAProperty) {
                try {
                    cls.addProperty(property(c, kind, 0));
                } catch (const AlreadyExistsException& e) {
                    fail(e.getMessage());
                }
            } else if (is(c, "QUALIFIER")) {
                cls.addQualifier(qualifier(c, 0));
            } else if (is(c, "METHOD")) {
                CIMType rt = CIMTYPE_UINT32;
                if (!typeOf(c, "TYPE", rt)) fail("<METHOD> without the TYPE attribute");
                CIMName origin;
                if (pugi::xml_attribute co = c.attribute("CLASSORIGIN")) {
                    if (!CIMName::legal(co.value())) fail("illegal CLASSORIGIN");
                    origin = makeName(co.value());
                }
                CIMMethod m(legalName(c, "NAME"), rt, origin, boolAttr(c, "PROPAGATED"));
                forElements(c, [&](const xml_node& pn) {
                    if (is(pn, "QUALIFIER")) {
                        m.addQualifier(qualifier(pn, 0));
                        return;
                    }
                    bool ref = is(pn, "PARAMETER.REFERENCE") || is(pn, "PARAMETER.REFARRAY");
                    bool arr = is(pn, "PARAMETER.ARRAY") || is(pn, "PARAMETER.REFARRAY");
                    if (!ref && !arr && !is(pn, "PARAMETER")) return;
                    CIMType t = CIMTYPE_REFERENCE;
                    CIMName refClass;
                    if (ref) {
                        if (pugi::xml_attribute rc = pn.attribute("REFERENCECLASS")) {
                            if (!CIMName::legal(rc.value())) fail("illegal REFERENCECLASS");
                            refClass = makeName(rc.value());
                        }
                    } else if (!typeOf(pn, "TYPE", t)) {
                        fail("<" + std::string(pn.name()) + "> without the TYPE attribute");
                    }
                    CIMParameter prm(legalName(pn, "NAME"), t, arr,
                                     pn.attribute("ARRAYSIZE").as_uint(), refClass);
                    forElements(pn, [&](const xml_node& q) {
                        if (is(q, "QUALIFIER")) prm.addQualifier(qualifier(q, 0));
                    });
                    try {
                        m.addParameter(prm);
                    } catch (const AlreadyExistsException& e) {
                        fail(e.getMessage());
                    }
                });
                try {
                    cls.addMethod(m);
                } catch (const AlreadyExistsException& e) {
                    fail(e.getMessage());
                }
            }
        });
        return cls;
    }

    CIMParamValue paramValue(const xml_node& n) {
        const char* name = requireAttr(n, "NAME");
        if (!*name) fail("<" + std::string(n.name()) + "> with an empty NAME");
        CIMType type = CIMTYPE_STRING;
        bool typed = typeOf(n, "PARAMTYPE", type);
        CIMValue v = anyValue(n, typed, type, 0);
        // A reference element types its value even without PARAMTYPE.
        bool nowTyped = typed || v.getType() != CIMTYPE_STRING;
        return CIMParamValue(name, v, nowTyped);
    }

    // <MESSAGE> of a document whose root is <CIM>.
    xml_node message(const xml_node& root) {
        if (!is(root, "CIM"))
            fail(std::string("wrong root element <") + root.name() + ">, expected <CIM>");
        return requireChild(root, "MESSAGE");
    }

    void responseBody(const xml_node& rsp, Response& r, ResultSink& out) {
        r.methodName = requireAttr(rsp, "NAME");
        forElements(rsp, [&](const xml_node& c) {
            if (is(c, "ERROR")) {
                const char* code = requireAttr(c, "CODE");
                std::int64_t v = 0;
                if (!cim::detail::parseSigned(code, v) || v <= 0 || v > 0xFFFF)
                    fail("<ERROR> with an invalid CODE \"" + clip(code) + "\"");
                r.errorCode = static_cast<CIMStatusCode>(v);
                r.errorDescription = c.attribute("DESCRIPTION").value();
            } else if (is(c, "IRETURNVALUE")) {
                r.hasReturnValue = true;
                iReturnValue(c, out);
            } else if (is(c, "RETURNVALUE")) {
                r.hasReturnValue = true;
                CIMType type = CIMTYPE_STRING;
                bool typed = typeOf(c, "PARAMTYPE", type);
                r.returnValue = anyValue(c, typed, type, 0);
            } else if (is(c, "PARAMVALUE")) {
                r.outParameters.push_back(paramValue(c));
            }
        });
    }

    // One element of an IRETURNVALUE: an instance, a path or a class. Other elements are
    // ignored.
    void iReturnChild(const xml_node& c, ResultSink& out) {
        CIMObjectPath p;
        if (is(c, "INSTANCE")) {
            out.instance(instance(c, 0));
        } else if (is(c, "VALUE.NAMEDINSTANCE") || is(c, "VALUE.OBJECTWITHPATH") ||
                   is(c, "VALUE.OBJECTWITHLOCALPATH") || is(c, "VALUE.INSTANCEWITHPATH")) {
            xml_node pathNode, objNode;
            forElements(c, [&](const xml_node& x) {
                if (is(x, "INSTANCE") || is(x, "CLASS"))
                    objNode = x;
                else if (!pathNode)
                    pathNode = x;
            });
            if (!objNode) fail(std::string("<") + c.name() + "> without <INSTANCE>");
            if (is(objNode, "CLASS")) {
                out.cimClass(cimClass(objNode));
                return;
            }
            if (!pathNode || !anyPath(pathNode, 0, p))
                fail(std::string("<") + c.name() + "> without an object path");
            CIMInstance inst = instance(objNode, 0);
            inst.setPath(std::move(p));
            out.instance(std::move(inst));
        } else if (is(c, "OBJECTPATH")) {
            xml_node x = firstElement(c);
            if (!x || !anyPath(x, 0, p)) fail("<OBJECTPATH> without an object path");
            out.instanceName(std::move(p));
        } else if (anyPath(c, 0, p)) {
            out.instanceName(std::move(p));
        } else if (is(c, "CLASS")) {
            out.cimClass(cimClass(c));
        } else if (is(c, "VALUE.OBJECT")) {
            xml_node x = firstElement(c);
            if (x && is(x, "INSTANCE")) out.instance(instance(x, 0));
            if (x && is(x, "CLASS")) out.cimClass(cimClass(x));
        }
    }

    void iReturnValue(const xml_node& n, ResultSink& out) {
        forElements(n, [&](const xml_node& c) { iReturnChild(c, out); });
    }

    std::optional<bool> iparamBool(const xml_node& p) {
        xml_node v = firstElement(p);
        if (!v) return std::nullopt;
        if (!is(v, "VALUE"))
            fail(std::string("unexpected <") + v.name() + "> in a boolean parameter");
        std::string_view t = text(v);
        while (!t.empty() && (t.front() == ' ' || t.front() == '\n')) t.remove_prefix(1);
        while (!t.empty() && (t.back() == ' ' || t.back() == '\n')) t.remove_suffix(1);
        if (equalNoCase(t, "true")) return true;
        if (equalNoCase(t, "false")) return false;
        fail("invalid boolean \"" + clip(t) + "\" in IPARAMVALUE " + p.attribute("NAME").value());
    }

    std::optional<CIMName> iparamClass(const xml_node& p) {
        xml_node v = firstElement(p);
        if (!v) return std::nullopt;
        if (!is(v, "CLASSNAME"))
            fail(std::string("unexpected <") + v.name() + "> in IPARAMVALUE " +
                 p.attribute("NAME").value());
        return legalName(v, "NAME");
    }

    std::optional<std::string> iparamString(const xml_node& p) {
        xml_node v = firstElement(p);
        if (!v) return std::nullopt;
        if (!is(v, "VALUE"))
            fail(std::string("unexpected <") + v.name() + "> in IPARAMVALUE " +
                 p.attribute("NAME").value());
        return std::string(text(v));
    }

    CIMObjectPath iparamPath(const xml_node& p) {
        xml_node v = firstElement(p);
        CIMObjectPath path;
        if (!v || !anyPath(v, 0, path))
            fail(std::string("IPARAMVALUE ") + p.attribute("NAME").value() +
                 " without an object name");
        return path;
    }

    void iparam(const xml_node& p, Request& r) {
        std::string_view name = requireAttr(p, "NAME");
        auto eq = [&](const char* n) { return equalNoCase(name, n); };
        if (eq("InstanceName")) {
            r.instanceName = iparamPath(p);
        } else if (eq("ObjectName")) {
            r.objectName = iparamPath(p);
        } else if (eq("ClassName")) {
            r.className = iparamClass(p);
        } else if (eq("AssocClass")) {
            r.assocClass = iparamClass(p);
        } else if (eq("ResultClass")) {
            r.resultClass = iparamClass(p);
        } else if (eq("Role")) {
            r.role = iparamString(p);
        } else if (eq("ResultRole")) {
            r.resultRole = iparamString(p);
        } else if (eq("LocalOnly")) {
            r.localOnly = iparamBool(p);
        } else if (eq("DeepInheritance")) {
            r.deepInheritance = iparamBool(p);
        } else if (eq("IncludeQualifiers")) {
            r.includeQualifiers = iparamBool(p);
        } else if (eq("IncludeClassOrigin")) {
            r.includeClassOrigin = iparamBool(p);
        } else if (eq("PropertyList")) {
            xml_node v = firstElement(p);
            if (!v) {
                r.propertyList.clear();
            } else if (is(v, "VALUE.ARRAY")) {
                std::vector<CIMName> names;
                forElements(v, [&](const xml_node& e) {
                    if (!is(e, "VALUE")) return;
                    std::string_view t = text(e);
                    if (!CIMName::legal(t))
                        fail("illegal property name \"" + clip(t) + "\" in PropertyList");
                    names.emplace_back(std::string(t));
                });
                r.propertyList.set(names);
            } else {
                fail(std::string("unexpected <") + v.name() + "> in IPARAMVALUE PropertyList");
            }
        } else if (eq("ModifiedInstance")) {
            xml_node v = firstElement(p);
            if (!v || !is(v, "VALUE.NAMEDINSTANCE"))
                fail("IPARAMVALUE ModifiedInstance without <VALUE.NAMEDINSTANCE>");
            CIMObjectPath path = instanceName(requireChild(v, "INSTANCENAME"), 0);
            CIMInstance inst = instance(requireChild(v, "INSTANCE"), 0);
            inst.setPath(std::move(path));
            r.modifiedInstance = std::move(inst);
        } else if (eq("NewInstance")) {
            xml_node v = firstElement(p);
            if (!v || !is(v, "INSTANCE")) fail("IPARAMVALUE NewInstance without <INSTANCE>");
            r.newInstance = instance(v, 0);
        } else {
            r.unknownParameters.emplace_back(name);
        }
    }

  private:
    const Limits& m_limits;
    TextPool* m_pool;
    bool m_nameHit = false;  // the last property's name repeated the last instance's
    pugi::xml_document m_doc;
};

// The response in a parsed document: envelope fields into r, results into out.
void responseFromDocument(DomDecoder& d, const xml_node& root, Response& r, ResultSink& out);

}  // namespace cim::xml::detail
