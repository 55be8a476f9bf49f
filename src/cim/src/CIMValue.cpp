#include <cim/CIMValue.h>

#include <cmath>
#include <limits>
#include <utility>

#include <cim/CIMInstance.h>
#include <cim/Exception.h>
#include <cim/xml/Codec.h>

#include "TextUtil.h"

namespace cim {

namespace {

constexpr std::size_t kInstancesIndex = 15;

std::size_t storageIndex(CIMType type, bool isArray) {
    if (type == CIMTYPE_INSTANCE || type == CIMTYPE_OBJECT) return kInstancesIndex;
    return isArray ? 16 + static_cast<std::size_t>(type) : static_cast<std::size_t>(type);
}

template <class V, std::size_t... I>
void emplaceByIndex(V& v, std::size_t idx, std::index_sequence<I...>) {
    ((idx == I ? (void)v.template emplace<I>() : (void)0), ...);
}

std::string typeText(CIMType t, bool isArray) {
    std::string s = cimTypeToString(t);
    if (isArray) s += "[]";
    return s;
}

void appendText(std::string& out, Boolean v) {
    out += v ? "TRUE" : "FALSE";
}
void appendText(std::string& out, Uint8 v) {
    detail::appendInt(out, static_cast<unsigned>(v));
}
void appendText(std::string& out, Sint8 v) {
    detail::appendInt(out, static_cast<int>(v));
}
void appendText(std::string& out, Uint16 v) {
    detail::appendInt(out, v);
}
void appendText(std::string& out, Sint16 v) {
    detail::appendInt(out, v);
}
void appendText(std::string& out, Uint32 v) {
    detail::appendInt(out, v);
}
void appendText(std::string& out, Sint32 v) {
    detail::appendInt(out, v);
}
void appendText(std::string& out, Uint64 v) {
    detail::appendInt(out, v);
}
void appendText(std::string& out, Sint64 v) {
    detail::appendInt(out, v);
}
void appendText(std::string& out, Real32 v) {
    detail::appendReal(out, v);
}
void appendText(std::string& out, Real64 v) {
    detail::appendReal(out, v);
}
void appendText(std::string& out, Char16 v) {
    detail::appendUtf8(out, v);
}
void appendText(std::string& out, const String& v) {
    out += v;
}
void appendText(std::string& out, const CIMDateTime& v) {
    out += v.toString();
}
void appendText(std::string& out, const CIMObjectPath& v) {
    out += v.toString();
}
void appendText(std::string& out, const std::shared_ptr<const CIMObjectPath>& v) {
    if (v) out += v->toString();
}
void appendText(std::string& out, const CIMInstance& v) {
    out += xml::encodeInstance(v);
}

template <class T>
void appendText(std::string& out, const std::vector<T>& v) {
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (i) out += ',';
        if constexpr (std::is_same_v<T, bool>)
            appendText(out, static_cast<bool>(v[i]));
        else
            appendText(out, v[i]);
    }
}

template <class T>
void appendTexts(std::vector<std::string>& out, const std::vector<T>& v) {
    for (std::size_t i = 0; i < v.size(); ++i) {
        std::string s;
        if constexpr (std::is_same_v<T, bool>)
            appendText(s, static_cast<bool>(v[i]));
        else
            appendText(s, v[i]);
        out.push_back(std::move(s));
    }
}

std::string_view trim(std::string_view s) {
    while (!s.empty() &&
           (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

[[noreturn]] void badText(CIMType type, std::string_view text) {
    if (text.size() > 80) text = text.substr(0, 80);
    throw ParseException(std::string("invalid ") + cimTypeToString(type) + " value \"" +
                         std::string(text) + "\"");
}

template <class T>
T readSigned(CIMType type, std::string_view text) {
    std::int64_t v;
    if (!detail::parseSigned(text, v) || v < std::numeric_limits<T>::min() ||
        v > std::numeric_limits<T>::max())
        badText(type, text);
    return static_cast<T>(v);
}

template <class T>
T readUnsigned(CIMType type, std::string_view text) {
    std::uint64_t v;
    if (!detail::parseUnsigned(text, v) || v > std::numeric_limits<T>::max()) badText(type, text);
    return static_cast<T>(v);
}

template <class T>
void pushText(std::vector<T>& out, CIMType type, std::string_view text) {
    CIMValue v = CIMValue::fromText(type, text);
    T x{};
    v.get(x);
    out.push_back(std::move(x));
}

}  // namespace

CIMValue::CIMValue() = default;

CIMValue::CIMValue(CIMType type, bool isArray, Uint32) {
    setNullValue(type, isArray);
}

#define RKSO_CIM_SCALAR_CTOR(T, TYPE)                      \
    CIMValue::CIMValue(T x)                                \
        : m_value(std::in_place_type<std::decay_t<T>>, x), \
          m_type(TYPE),                                    \
          m_isArray(false),                                \
          m_null(false) {}
#define RKSO_CIM_ARRAY_CTOR(T, TYPE)                \
    CIMValue::CIMValue(const Array<T>& x)           \
        : m_value(std::in_place_type<Array<T>>, x), \
          m_type(TYPE),                             \
          m_isArray(true),                          \
          m_null(false) {}

RKSO_CIM_SCALAR_CTOR(Boolean, CIMTYPE_BOOLEAN)
RKSO_CIM_SCALAR_CTOR(Uint8, CIMTYPE_UINT8)
RKSO_CIM_SCALAR_CTOR(Sint8, CIMTYPE_SINT8)
RKSO_CIM_SCALAR_CTOR(Uint16, CIMTYPE_UINT16)
RKSO_CIM_SCALAR_CTOR(Sint16, CIMTYPE_SINT16)
RKSO_CIM_SCALAR_CTOR(Uint32, CIMTYPE_UINT32)
RKSO_CIM_SCALAR_CTOR(Sint32, CIMTYPE_SINT32)
RKSO_CIM_SCALAR_CTOR(Uint64, CIMTYPE_UINT64)
RKSO_CIM_SCALAR_CTOR(Sint64, CIMTYPE_SINT64)
RKSO_CIM_SCALAR_CTOR(Real32, CIMTYPE_REAL32)
RKSO_CIM_SCALAR_CTOR(Real64, CIMTYPE_REAL64)
RKSO_CIM_SCALAR_CTOR(Char16, CIMTYPE_CHAR16)
RKSO_CIM_SCALAR_CTOR(const String&, CIMTYPE_STRING)
RKSO_CIM_SCALAR_CTOR(const CIMDateTime&, CIMTYPE_DATETIME)
RKSO_CIM_ARRAY_CTOR(Boolean, CIMTYPE_BOOLEAN)
RKSO_CIM_ARRAY_CTOR(Uint8, CIMTYPE_UINT8)
RKSO_CIM_ARRAY_CTOR(Sint8, CIMTYPE_SINT8)
RKSO_CIM_ARRAY_CTOR(Uint16, CIMTYPE_UINT16)
RKSO_CIM_ARRAY_CTOR(Sint16, CIMTYPE_SINT16)
RKSO_CIM_ARRAY_CTOR(Uint32, CIMTYPE_UINT32)
RKSO_CIM_ARRAY_CTOR(Sint32, CIMTYPE_SINT32)
RKSO_CIM_ARRAY_CTOR(Uint64, CIMTYPE_UINT64)
RKSO_CIM_ARRAY_CTOR(Sint64, CIMTYPE_SINT64)
RKSO_CIM_ARRAY_CTOR(Real32, CIMTYPE_REAL32)
RKSO_CIM_ARRAY_CTOR(Real64, CIMTYPE_REAL64)
RKSO_CIM_ARRAY_CTOR(Char16, CIMTYPE_CHAR16)
RKSO_CIM_ARRAY_CTOR(String, CIMTYPE_STRING)
RKSO_CIM_ARRAY_CTOR(CIMDateTime, CIMTYPE_DATETIME)
RKSO_CIM_ARRAY_CTOR(CIMObjectPath, CIMTYPE_REFERENCE)
#undef RKSO_CIM_SCALAR_CTOR
#undef RKSO_CIM_ARRAY_CTOR

CIMValue::CIMValue(const char* x)
    : m_value(std::string(x ? x : "")), m_type(CIMTYPE_STRING), m_null(false) {}
CIMValue::CIMValue(String&& x) : m_value(std::move(x)), m_type(CIMTYPE_STRING), m_null(false) {}
CIMValue::CIMValue(Array<String>&& x)
    : m_value(std::move(x)), m_type(CIMTYPE_STRING), m_isArray(true), m_null(false) {}
CIMValue::CIMValue(Array<CIMObjectPath>&& x)
    : m_value(std::move(x)), m_type(CIMTYPE_REFERENCE), m_isArray(true), m_null(false) {}
CIMValue::CIMValue(const CIMObjectPath& x)
    : m_value(std::make_shared<const CIMObjectPath>(x)), m_type(CIMTYPE_REFERENCE), m_null(false) {}
CIMValue::CIMValue(const CIMInstance& x)
    : m_value(std::make_shared<const std::vector<CIMInstance>>(1, x)),
      m_type(CIMTYPE_INSTANCE),
      m_null(false) {}
CIMValue::CIMValue(const Array<CIMInstance>& x)
    : m_value(std::make_shared<const std::vector<CIMInstance>>(x)),
      m_type(CIMTYPE_INSTANCE),
      m_isArray(true),
      m_null(false) {}

Uint32 CIMValue::getArraySize() const {
    if (m_null || !m_isArray) return 0;
    if (m_value.index() == kInstancesIndex) {
        const auto& p = std::get<Instances>(m_value);
        return p ? static_cast<Uint32>(p->size()) : 0;
    }
    return std::visit(
        [](const auto& v) -> Uint32 {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, Instances>) {
                return 0;
            } else if constexpr (std::is_class_v<V> && !std::is_same_v<V, String> &&
                                 !std::is_same_v<V, CIMDateTime> && !std::is_same_v<V, PathPtr>) {
                return static_cast<Uint32>(v.size());
            } else {
                return 0;
            }
        },
        m_value);
}

void CIMValue::resetStorage() {
    emplaceByIndex(m_value, storageIndex(m_type, m_isArray),
                   std::make_index_sequence<std::variant_size_v<Storage>>());
}

void CIMValue::setNullValue(CIMType type, bool isArray, Uint32) {
    m_type = type;
    m_isArray = isArray;
    m_null = true;
    resetStorage();
}

void CIMValue::clear() {
    setNullValue(CIMTYPE_BOOLEAN, false);
}

template <class T>
void CIMValue::getImpl(T& x, CIMType type, bool isArray) const {
    bool typeOk = m_type == type || (type == CIMTYPE_INSTANCE && m_type == CIMTYPE_OBJECT);
    if (!typeOk || m_isArray != isArray) {
        throw TypeMismatchException("a " + typeText(m_type, m_isArray) + " value read as " +
                                    typeText(type, isArray));
    }
    if (m_null) return;
    x = std::get<T>(m_value);
}

#define RKSO_CIM_GET(T, TYPE)               \
    void CIMValue::get(T& x) const {        \
        getImpl(x, TYPE, false);            \
    }                                       \
    void CIMValue::get(Array<T>& x) const { \
        getImpl(x, TYPE, true);             \
    }

RKSO_CIM_GET(Boolean, CIMTYPE_BOOLEAN)
RKSO_CIM_GET(Uint8, CIMTYPE_UINT8)
RKSO_CIM_GET(Sint8, CIMTYPE_SINT8)
RKSO_CIM_GET(Uint16, CIMTYPE_UINT16)
RKSO_CIM_GET(Sint16, CIMTYPE_SINT16)
RKSO_CIM_GET(Uint32, CIMTYPE_UINT32)
RKSO_CIM_GET(Sint32, CIMTYPE_SINT32)
RKSO_CIM_GET(Uint64, CIMTYPE_UINT64)
RKSO_CIM_GET(Sint64, CIMTYPE_SINT64)
RKSO_CIM_GET(Real32, CIMTYPE_REAL32)
RKSO_CIM_GET(Real64, CIMTYPE_REAL64)
RKSO_CIM_GET(Char16, CIMTYPE_CHAR16)
RKSO_CIM_GET(String, CIMTYPE_STRING)
RKSO_CIM_GET(CIMDateTime, CIMTYPE_DATETIME)
#undef RKSO_CIM_GET

void CIMValue::get(CIMObjectPath& x) const {
    PathPtr p;
    getImpl(p, CIMTYPE_REFERENCE, false);
    if (p) x = *p;
}

void CIMValue::get(Array<CIMObjectPath>& x) const {
    getImpl(x, CIMTYPE_REFERENCE, true);
}

void CIMValue::get(CIMInstance& x) const {
    Instances p;
    getImpl(p, CIMTYPE_INSTANCE, false);
    if (p && !p->empty()) x = p->front();
}

void CIMValue::get(Array<CIMInstance>& x) const {
    Instances p;
    getImpl(p, CIMTYPE_INSTANCE, true);
    if (p) x = *p;
}

std::string CIMValue::toString() const {
    std::string out;
    if (m_null) return out;
    if (m_value.index() == kInstancesIndex) {
        const auto& p = std::get<Instances>(m_value);
        if (p) appendText(out, *p);
        return out;
    }
    std::visit(
        [&out](const auto& v) {
            using V = std::decay_t<decltype(v)>;
            if constexpr (!std::is_same_v<V, Instances>) appendText(out, v);
        },
        m_value);
    return out;
}

bool CIMValue::equal(const CIMValue& other) const {
    if (m_type != other.m_type || m_isArray != other.m_isArray || m_null != other.m_null)
        return false;
    if (m_null) return true;
    if (m_value.index() == kInstancesIndex) {
        const auto& a = std::get<Instances>(m_value);
        const auto& b = std::get<Instances>(other.m_value);
        std::size_t na = a ? a->size() : 0, nb = b ? b->size() : 0;
        if (na != nb) return false;
        for (std::size_t i = 0; i < na; ++i)
            if (!(*a)[i].identical((*b)[i])) return false;
        return true;
    }
    if (m_value.index() == storageIndex(CIMTYPE_REFERENCE, false)) {
        const auto& a = std::get<PathPtr>(m_value);
        const auto& b = std::get<PathPtr>(other.m_value);
        if (!a || !b) return a == b;
        return *a == *b;
    }
    return m_value == other.m_value;
}

CIMValue CIMValue::fromText(CIMType type, std::string_view raw) {
    std::string_view text = type == CIMTYPE_STRING ? raw : trim(raw);
    switch (type) {
        case CIMTYPE_BOOLEAN:
            if (equalNoCase(text, "true")) return CIMValue(true);
            if (equalNoCase(text, "false")) return CIMValue(false);
            badText(type, raw);
        case CIMTYPE_UINT8:
            return CIMValue(readUnsigned<Uint8>(type, text));
        case CIMTYPE_SINT8:
            return CIMValue(readSigned<Sint8>(type, text));
        case CIMTYPE_UINT16:
            return CIMValue(readUnsigned<Uint16>(type, text));
        case CIMTYPE_SINT16:
            return CIMValue(readSigned<Sint16>(type, text));
        case CIMTYPE_UINT32:
            return CIMValue(readUnsigned<Uint32>(type, text));
        case CIMTYPE_SINT32:
            return CIMValue(readSigned<Sint32>(type, text));
        case CIMTYPE_UINT64:
            return CIMValue(readUnsigned<Uint64>(type, text));
        case CIMTYPE_SINT64:
            return CIMValue(readSigned<Sint64>(type, text));
        case CIMTYPE_REAL32: {
            double d;
            if (!detail::parseReal(text, d)) badText(type, raw);
            return CIMValue(static_cast<Real32>(d));
        }
        case CIMTYPE_REAL64: {
            double d;
            if (!detail::parseReal(text, d)) badText(type, raw);
            return CIMValue(d);
        }
        case CIMTYPE_CHAR16: {
            char16_t c;
            // An empty VALUE of a char16 means the NUL character.
            if (raw.empty()) return CIMValue(Char16(0));
            if (!detail::utf8ToChar16(raw, c)) badText(type, raw);
            return CIMValue(c);
        }
        case CIMTYPE_STRING:
            return CIMValue(std::string(raw));
        case CIMTYPE_DATETIME: {
            CIMDateTime dt;
            if (!CIMDateTime::parse(text, dt)) badText(type, raw);
            return CIMValue(dt);
        }
        case CIMTYPE_REFERENCE:
            try {
                return CIMValue(CIMObjectPath::parse(text));
            } catch (const MalformedObjectNameException& e) {
                throw ParseException("invalid reference value: " + e.getMessage());
            }
        case CIMTYPE_OBJECT:
        case CIMTYPE_INSTANCE: {
            CIMValue v(xml::decodeInstance(raw));
            v.m_type = type;
            return v;
        }
    }
    throw ParseException("unknown CIM type");
}

CIMValue CIMValue::fromTexts(CIMType type, const std::vector<std::string>& texts) {
    switch (type) {
#define RKSO_CIM_CASE(T, TYPE)                            \
    case TYPE: {                                          \
        Array<T> a;                                       \
        a.reserve(texts.size());                          \
        for (const auto& t : texts) pushText(a, type, t); \
        return CIMValue(std::move(a));                    \
    }
        RKSO_CIM_CASE(Boolean, CIMTYPE_BOOLEAN)
        RKSO_CIM_CASE(Uint8, CIMTYPE_UINT8)
        RKSO_CIM_CASE(Sint8, CIMTYPE_SINT8)
        RKSO_CIM_CASE(Uint16, CIMTYPE_UINT16)
        RKSO_CIM_CASE(Sint16, CIMTYPE_SINT16)
        RKSO_CIM_CASE(Uint32, CIMTYPE_UINT32)
        RKSO_CIM_CASE(Sint32, CIMTYPE_SINT32)
        RKSO_CIM_CASE(Uint64, CIMTYPE_UINT64)
        RKSO_CIM_CASE(Sint64, CIMTYPE_SINT64)
        RKSO_CIM_CASE(Real32, CIMTYPE_REAL32)
        RKSO_CIM_CASE(Real64, CIMTYPE_REAL64)
        RKSO_CIM_CASE(Char16, CIMTYPE_CHAR16)
        RKSO_CIM_CASE(CIMDateTime, CIMTYPE_DATETIME)
        RKSO_CIM_CASE(CIMObjectPath, CIMTYPE_REFERENCE)
        RKSO_CIM_CASE(CIMInstance, CIMTYPE_INSTANCE)
#undef RKSO_CIM_CASE
        case CIMTYPE_STRING:
            return CIMValue(Array<String>(texts));
        case CIMTYPE_OBJECT: {
            CIMValue v = fromTexts(CIMTYPE_INSTANCE, texts);
            v.m_type = CIMTYPE_OBJECT;
            return v;
        }
    }
    throw ParseException("unknown CIM type");
}

CIMValue CIMValue::convertTo(CIMType type) const {
    if (m_null) return CIMValue(type, m_isArray);
    if (type == m_type) return *this;
    if (!m_isArray) return fromText(type, toString());
    std::vector<std::string> texts;
    if (m_value.index() == kInstancesIndex) {
        const auto& p = std::get<Instances>(m_value);
        if (p) appendTexts(texts, *p);
    } else {
        std::visit(
            [&texts](const auto& v) {
                using V = std::decay_t<decltype(v)>;
                if constexpr (std::is_class_v<V> && !std::is_same_v<V, String> &&
                              !std::is_same_v<V, CIMDateTime> && !std::is_same_v<V, PathPtr> &&
                              !std::is_same_v<V, Instances>)
                    appendTexts(texts, v);
            },
            m_value);
    }
    return fromTexts(type, texts);
}

}  // namespace cim
