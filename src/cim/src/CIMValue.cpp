#include <cim/CIMValue.h>

#include <cmath>
#include <limits>
#include <utility>

#include <cim/CIMInstance.h>
#include <cim/Exception.h>
#include <cim/xml/Codec.h>

#include "TextUtil.h"
#include "ValueAccess.h"

namespace cim {

using detail::ValueAccess;
using Text = ValueAccess::Text;
template <class T>
using Typed = ValueAccess::Typed<T>;
using Instances = std::vector<CIMInstance>;

namespace {

template <class T>
struct Tag {
    using type = T;
};

// Calls f(Tag<E>()) with the element type E of a scalar or array type.
template <class F>
decltype(auto) byElementType(CIMType type, F&& f) {
    switch (type) {
        case CIMTYPE_BOOLEAN:
            return f(Tag<Boolean>());
        case CIMTYPE_UINT8:
            return f(Tag<Uint8>());
        case CIMTYPE_SINT8:
            return f(Tag<Sint8>());
        case CIMTYPE_UINT16:
            return f(Tag<Uint16>());
        case CIMTYPE_SINT16:
            return f(Tag<Sint16>());
        case CIMTYPE_UINT32:
            return f(Tag<Uint32>());
        case CIMTYPE_SINT32:
            return f(Tag<Sint32>());
        case CIMTYPE_UINT64:
            return f(Tag<Uint64>());
        case CIMTYPE_SINT64:
            return f(Tag<Sint64>());
        case CIMTYPE_REAL32:
            return f(Tag<Real32>());
        case CIMTYPE_REAL64:
            return f(Tag<Real64>());
        case CIMTYPE_CHAR16:
            return f(Tag<Char16>());
        case CIMTYPE_STRING:
            return f(Tag<String>());
        case CIMTYPE_DATETIME:
            return f(Tag<CIMDateTime>());
        case CIMTYPE_REFERENCE:
            return f(Tag<CIMObjectPath>());
        default:
            return f(Tag<CIMInstance>());
    }
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

// ---- storage -------------------------------------------------------------------------------

void ValueAccess::destroy(CIMValue::Box* box, CIMType type, bool isArray) {
    if (!isArray && type == CIMTYPE_STRING) {
        Text::destroy(static_cast<Text*>(box));
        return;
    }
    if (type == CIMTYPE_INSTANCE || type == CIMTYPE_OBJECT) {
        delete static_cast<Typed<Instances>*>(box);
        return;
    }
    byElementType(type, [&](auto tag) {
        using E = typename decltype(tag)::type;
        if (isArray)
            delete static_cast<Typed<std::vector<E>>*>(box);
        else
            delete static_cast<Typed<E>*>(box);
    });
}

void CIMValue::release() noexcept {
    if (isBoxed() && m_bits.box != nullptr &&
        m_bits.box->refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
        ValueAccess::destroy(m_bits.box, m_type, m_isArray);
    m_bits.box = nullptr;
}

template <class T>
void CIMValue::box(CIMType type, bool isArray, T&& value) {
    using V = std::decay_t<T>;
    m_bits.box = new Typed<V>(std::forward<T>(value));
    m_type = type;
    m_isArray = isArray;
    m_null = false;
}

template <class T>
const T* CIMValue::unbox() const {
    if (m_bits.box == nullptr) return nullptr;
    return &static_cast<const Typed<T>*>(m_bits.box)->value;
}

void CIMValue::setString(std::string_view text) {
    release();
    m_type = CIMTYPE_STRING;
    m_isArray = false;
    m_null = false;
    m_bits.box = text.empty() ? nullptr : Text::make(text);
}

std::string_view CIMValue::stringView() const {
    if (m_bits.box == nullptr) return {};
    return static_cast<const Text*>(m_bits.box)->view();
}

CIMValue::CIMValue(const CIMValue& other) noexcept
    : m_bits(other.m_bits), m_type(other.m_type), m_isArray(other.m_isArray), m_null(other.m_null) {
    if (isBoxed() && m_bits.box != nullptr)
        m_bits.box->refs.fetch_add(1, std::memory_order_relaxed);
}

CIMValue::CIMValue(CIMValue&& other) noexcept
    : m_bits(other.m_bits), m_type(other.m_type), m_isArray(other.m_isArray), m_null(other.m_null) {
    other.m_bits.box = nullptr;
    other.m_null = true;
    other.m_type = CIMTYPE_BOOLEAN;
    other.m_isArray = false;
}

CIMValue& CIMValue::operator=(const CIMValue& other) noexcept {
    if (this != &other) {
        CIMValue copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CIMValue& CIMValue::operator=(CIMValue&& other) noexcept {
    if (this != &other) {
        release();
        m_bits = other.m_bits;
        m_type = other.m_type;
        m_isArray = other.m_isArray;
        m_null = other.m_null;
        other.m_bits.box = nullptr;
        other.m_null = true;
        other.m_type = CIMTYPE_BOOLEAN;
        other.m_isArray = false;
    }
    return *this;
}

CIMValue::~CIMValue() {
    release();
}

// ---- construction --------------------------------------------------------------------------

CIMValue::CIMValue() = default;

CIMValue::CIMValue(CIMType type, bool isArray, Uint32) {
    setNullValue(type, isArray);
}

#define RKSO_CIM_SCALAR_CTOR(T, TYPE, FIELD)                \
    CIMValue::CIMValue(T x) : m_type(TYPE), m_null(false) { \
        m_bits.FIELD = x;                                   \
    }
RKSO_CIM_SCALAR_CTOR(Boolean, CIMTYPE_BOOLEAN, b)
RKSO_CIM_SCALAR_CTOR(Uint8, CIMTYPE_UINT8, u8)
RKSO_CIM_SCALAR_CTOR(Sint8, CIMTYPE_SINT8, s8)
RKSO_CIM_SCALAR_CTOR(Uint16, CIMTYPE_UINT16, u16)
RKSO_CIM_SCALAR_CTOR(Sint16, CIMTYPE_SINT16, s16)
RKSO_CIM_SCALAR_CTOR(Uint32, CIMTYPE_UINT32, u32)
RKSO_CIM_SCALAR_CTOR(Sint32, CIMTYPE_SINT32, s32)
RKSO_CIM_SCALAR_CTOR(Uint64, CIMTYPE_UINT64, u64)
RKSO_CIM_SCALAR_CTOR(Sint64, CIMTYPE_SINT64, s64)
RKSO_CIM_SCALAR_CTOR(Real32, CIMTYPE_REAL32, r32)
RKSO_CIM_SCALAR_CTOR(Real64, CIMTYPE_REAL64, r64)
RKSO_CIM_SCALAR_CTOR(Char16, CIMTYPE_CHAR16, c16)
#undef RKSO_CIM_SCALAR_CTOR

#define RKSO_CIM_ARRAY_CTOR(T, TYPE)        \
    CIMValue::CIMValue(const Array<T>& x) { \
        box(TYPE, true, x);                 \
    }
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
#undef RKSO_CIM_ARRAY_CTOR

CIMValue::CIMValue(const char* x) {
    setString(x ? std::string_view(x) : std::string_view());
}
CIMValue::CIMValue(const String& x) {
    setString(x);
}
CIMValue::CIMValue(String&& x) {
    setString(x);
}
CIMValue::CIMValue(const CIMDateTime& x) {
    box(CIMTYPE_DATETIME, false, x);
}
CIMValue::CIMValue(Array<String>&& x) {
    box(CIMTYPE_STRING, true, std::move(x));
}
CIMValue::CIMValue(Array<CIMObjectPath>&& x) {
    box(CIMTYPE_REFERENCE, true, std::move(x));
}
CIMValue::CIMValue(const CIMObjectPath& x) {
    box(CIMTYPE_REFERENCE, false, x);
}
CIMValue::CIMValue(const CIMInstance& x) {
    box(CIMTYPE_INSTANCE, false, Instances(1, x));
}
CIMValue::CIMValue(const Array<CIMInstance>& x) {
    box(CIMTYPE_INSTANCE, true, x);
}

Uint32 CIMValue::getArraySize() const {
    if (m_null || !m_isArray || m_bits.box == nullptr) return 0;
    if (m_type == CIMTYPE_INSTANCE || m_type == CIMTYPE_OBJECT)
        return static_cast<Uint32>(unbox<Instances>()->size());
    return byElementType(m_type, [&](auto tag) {
        using E = typename decltype(tag)::type;
        return static_cast<Uint32>(unbox<std::vector<E>>()->size());
    });
}

void CIMValue::setNullValue(CIMType type, bool isArray, Uint32) {
    release();
    m_type = type;
    m_isArray = isArray;
    m_null = true;
}

void CIMValue::clear() {
    setNullValue(CIMTYPE_BOOLEAN, false);
}

// ---- reading -------------------------------------------------------------------------------

void CIMValue::checkType(CIMType type, bool isArray) const {
    bool typeOk = m_type == type || (type == CIMTYPE_INSTANCE && m_type == CIMTYPE_OBJECT);
    if (!typeOk || m_isArray != isArray) {
        throw TypeMismatchException("a " + typeText(m_type, m_isArray) + " value read as " +
                                    typeText(type, isArray));
    }
}

#define RKSO_CIM_GET_SCALAR(T, TYPE, FIELD) \
    void CIMValue::get(T& x) const {        \
        checkType(TYPE, false);             \
        if (!m_null) x = m_bits.FIELD;      \
    }
RKSO_CIM_GET_SCALAR(Boolean, CIMTYPE_BOOLEAN, b)
RKSO_CIM_GET_SCALAR(Uint8, CIMTYPE_UINT8, u8)
RKSO_CIM_GET_SCALAR(Sint8, CIMTYPE_SINT8, s8)
RKSO_CIM_GET_SCALAR(Uint16, CIMTYPE_UINT16, u16)
RKSO_CIM_GET_SCALAR(Sint16, CIMTYPE_SINT16, s16)
RKSO_CIM_GET_SCALAR(Uint32, CIMTYPE_UINT32, u32)
RKSO_CIM_GET_SCALAR(Sint32, CIMTYPE_SINT32, s32)
RKSO_CIM_GET_SCALAR(Uint64, CIMTYPE_UINT64, u64)
RKSO_CIM_GET_SCALAR(Sint64, CIMTYPE_SINT64, s64)
RKSO_CIM_GET_SCALAR(Real32, CIMTYPE_REAL32, r32)
RKSO_CIM_GET_SCALAR(Real64, CIMTYPE_REAL64, r64)
RKSO_CIM_GET_SCALAR(Char16, CIMTYPE_CHAR16, c16)
#undef RKSO_CIM_GET_SCALAR

#define RKSO_CIM_GET_ARRAY(T, TYPE)            \
    void CIMValue::get(Array<T>& x) const {    \
        checkType(TYPE, true);                 \
        if (m_null) return;                    \
        const Array<T>* a = unbox<Array<T>>(); \
        if (a)                                 \
            x = *a;                            \
        else                                   \
            x.clear();                         \
    }
RKSO_CIM_GET_ARRAY(Boolean, CIMTYPE_BOOLEAN)
RKSO_CIM_GET_ARRAY(Uint8, CIMTYPE_UINT8)
RKSO_CIM_GET_ARRAY(Sint8, CIMTYPE_SINT8)
RKSO_CIM_GET_ARRAY(Uint16, CIMTYPE_UINT16)
RKSO_CIM_GET_ARRAY(Sint16, CIMTYPE_SINT16)
RKSO_CIM_GET_ARRAY(Uint32, CIMTYPE_UINT32)
RKSO_CIM_GET_ARRAY(Sint32, CIMTYPE_SINT32)
RKSO_CIM_GET_ARRAY(Uint64, CIMTYPE_UINT64)
RKSO_CIM_GET_ARRAY(Sint64, CIMTYPE_SINT64)
RKSO_CIM_GET_ARRAY(Real32, CIMTYPE_REAL32)
RKSO_CIM_GET_ARRAY(Real64, CIMTYPE_REAL64)
RKSO_CIM_GET_ARRAY(Char16, CIMTYPE_CHAR16)
RKSO_CIM_GET_ARRAY(String, CIMTYPE_STRING)
RKSO_CIM_GET_ARRAY(CIMDateTime, CIMTYPE_DATETIME)
RKSO_CIM_GET_ARRAY(CIMObjectPath, CIMTYPE_REFERENCE)
#undef RKSO_CIM_GET_ARRAY

void CIMValue::get(String& x) const {
    checkType(CIMTYPE_STRING, false);
    if (!m_null) x.assign(stringView());
}

void CIMValue::get(CIMDateTime& x) const {
    checkType(CIMTYPE_DATETIME, false);
    if (!m_null) x = *unbox<CIMDateTime>();
}

void CIMValue::get(CIMObjectPath& x) const {
    checkType(CIMTYPE_REFERENCE, false);
    if (!m_null) x = *unbox<CIMObjectPath>();
}

void CIMValue::get(CIMInstance& x) const {
    checkType(CIMTYPE_INSTANCE, false);
    if (m_null) return;
    const Instances* p = unbox<Instances>();
    if (p && !p->empty()) x = p->front();
}

void CIMValue::get(Array<CIMInstance>& x) const {
    checkType(CIMTYPE_INSTANCE, true);
    if (m_null) return;
    const Instances* p = unbox<Instances>();
    if (p)
        x = *p;
    else
        x.clear();
}

std::string CIMValue::toString() const {
    std::string out;
    appendText(out);
    return out;
}

void CIMValue::appendText(std::string& out) const {
    if (m_null) return;
    if (m_type == CIMTYPE_INSTANCE || m_type == CIMTYPE_OBJECT) {
        if (const Instances* p = unbox<Instances>()) cim::appendText(out, *p);
        return;
    }
    if (!m_isArray && m_type == CIMTYPE_STRING) {
        out.append(stringView());
        return;
    }
    byElementType(m_type, [&](auto tag) {
        using E = typename decltype(tag)::type;
        if (m_isArray) {
            if (const auto* a = unbox<std::vector<E>>()) cim::appendText(out, *a);
        } else if constexpr (std::is_same_v<E, CIMDateTime> || std::is_same_v<E, CIMObjectPath>) {
            cim::appendText(out, *unbox<E>());
        } else if constexpr (!std::is_same_v<E, String> && !std::is_same_v<E, CIMInstance>) {
            E x{};
            get(x);
            cim::appendText(out, x);
        }
    });
}

bool CIMValue::equal(const CIMValue& other) const {
    if (m_type != other.m_type || m_isArray != other.m_isArray || m_null != other.m_null)
        return false;
    if (m_null) return true;
    if (m_type == CIMTYPE_INSTANCE || m_type == CIMTYPE_OBJECT) {
        const Instances* a = unbox<Instances>();
        const Instances* b = other.unbox<Instances>();
        std::size_t na = a ? a->size() : 0, nb = b ? b->size() : 0;
        if (na != nb) return false;
        for (std::size_t i = 0; i < na; ++i)
            if (!(*a)[i].identical((*b)[i])) return false;
        return true;
    }
    if (!m_isArray && m_type == CIMTYPE_STRING) return stringView() == other.stringView();
    return byElementType(m_type, [&](auto tag) -> bool {
        using E = typename decltype(tag)::type;
        if (m_isArray) {
            const auto* a = unbox<std::vector<E>>();
            const auto* b = other.unbox<std::vector<E>>();
            std::size_t na = a ? a->size() : 0, nb = b ? b->size() : 0;
            if (na != nb) return false;
            if constexpr (std::is_same_v<E, CIMInstance>)
                return false;
            else
                return na == 0 || *a == *b;
        }
        if constexpr (std::is_same_v<E, CIMDateTime> || std::is_same_v<E, CIMObjectPath>) {
            return *unbox<E>() == *other.unbox<E>();
        } else if constexpr (!std::is_same_v<E, String> && !std::is_same_v<E, CIMInstance>) {
            E x{}, y{};
            get(x);
            other.get(y);
            return x == y;
        } else {
            return false;
        }
    });
}

// ---- text forms ----------------------------------------------------------------------------

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
            return ValueAccess::string(raw);
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
    if (m_type == CIMTYPE_INSTANCE || m_type == CIMTYPE_OBJECT) {
        if (const Instances* p = unbox<Instances>())
            for (const auto& i : *p) texts.push_back(xml::encodeInstance(i));
    } else {
        byElementType(m_type, [&](auto tag) {
            using E = typename decltype(tag)::type;
            if (const auto* a = unbox<std::vector<E>>()) {
                for (std::size_t i = 0; i < a->size(); ++i) {
                    std::string s;
                    if constexpr (std::is_same_v<E, bool>)
                        cim::appendText(s, static_cast<bool>((*a)[i]));
                    else
                        cim::appendText(s, (*a)[i]);
                    texts.push_back(std::move(s));
                }
            }
        });
    }
    return fromTexts(type, texts);
}

}  // namespace cim
