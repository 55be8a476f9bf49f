#include <cim/CIMObjectPath.h>

#include <algorithm>
#include <cstdlib>

#include <cim/CIMValue.h>
#include <cim/Exception.h>

#include "TextUtil.h"

namespace cim {

namespace {

constexpr int kMaxNesting = 16;
// Far beyond any real path; keeps a hostile text from costing unbounded work.
constexpr std::size_t kMaxText = 16u * 1024u * 1024u;

inline bool isNameChar(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c >= 0x80;
}

inline bool isHostChar(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_' || c == ':' || c == '[' || c == ']' || c == '%';
}

void appendQuoted(std::string& out, std::string_view value) {
    out += '"';
    std::size_t start = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '"' && value[i] != '\\') continue;
        out.append(value, start, i - start);
        out += '\\';
        start = i;
    }
    out.append(value, start, std::string_view::npos);
    out += '"';
}

class Parser {
  public:
    Parser(std::string_view text, int depth) : m_s(text), m_depth(depth) {}

    bool run(CIMObjectPath& out) {
        if (m_s.empty()) return fail("empty text");
        if (m_depth > kMaxNesting) return fail("references nested too deeply");
        if (m_s.size() > kMaxText) return fail("text too long");
        std::string host;
        if (m_s.size() >= 2 && m_s[0] == '/' && m_s[1] == '/') {
            std::size_t slash = m_s.find('/', 2);
            if (slash == std::string_view::npos) return fail("host not followed by '/'");
            std::string_view h = m_s.substr(2, slash - 2);
            if (h.empty()) return fail("empty host");
            for (char c : h)
                if (!isHostChar(static_cast<unsigned char>(c))) return fail("illegal host name");
            host.assign(h);
            m_pos = slash + 1;
        }
        // Namespace: name characters and '/' up to a ':'.
        std::size_t i = m_pos;
        while (i < m_s.size() && (isNameChar(static_cast<unsigned char>(m_s[i])) || m_s[i] == '/'))
            ++i;
        CIMNamespaceName ns;
        if (i < m_s.size() && m_s[i] == ':') {
            std::string_view n = m_s.substr(m_pos, i - m_pos);
            if (!CIMNamespaceName::legal(n)) return fail("illegal namespace name");
            ns = CIMNamespaceName(std::string(n));
            m_pos = i + 1;
        }
        std::string_view cls = name();
        if (!CIMName::legal(cls)) return fail("illegal class name");
        std::vector<CIMKeyBinding> keys;
        if (m_pos < m_s.size()) {
            if (m_s[m_pos] != '.') return fail("unexpected character after the class name");
            ++m_pos;
            if (!keyBindings(keys)) return false;
        }
        out = CIMObjectPath(host, ns, CIMName(std::string(cls)), keys);
        return true;
    }

    const std::string& error() const { return m_error; }

  private:
    bool fail(const char* what) {
        m_error = what;
        return false;
    }

    std::string_view name() {
        std::size_t start = m_pos;
        while (m_pos < m_s.size() && isNameChar(static_cast<unsigned char>(m_s[m_pos]))) ++m_pos;
        return m_s.substr(start, m_pos - start);
    }

    bool keyBindings(std::vector<CIMKeyBinding>& keys) {
        while (true) {
            std::string_view key = name();
            if (!CIMName::legal(key)) return fail("illegal key name");
            for (const auto& k : keys)
                if (equalNoCase(k.getName().getString(), key)) return fail("duplicate key");
            if (m_pos >= m_s.size() || m_s[m_pos] != '=') return fail("key without '='");
            ++m_pos;
            if (m_pos >= m_s.size()) return fail("key without value");
            CIMKeyBinding kb;
            if (m_s[m_pos] == '"') {
                std::string value;
                if (!quoted(value)) return false;
                // A quoted value that reads as a path with keys is a reference; anything
                // else (including paths nested too deeply to follow) stays a string.
                CIMObjectPath ref;
                Parser inner(value, m_depth + 1);
                if (value.find('=') != std::string::npos && inner.run(ref) &&
                    !ref.getKeyBindings().empty()) {
                    kb = CIMKeyBinding(CIMName(std::string(key)), ref.toString(),
                                       CIMKeyBinding::REFERENCE);
                } else {
                    kb = CIMKeyBinding(CIMName(std::string(key)), value, CIMKeyBinding::STRING);
                }
            } else {
                std::size_t start = m_pos;
                while (m_pos < m_s.size() && m_s[m_pos] != ',') ++m_pos;
                std::string_view v = m_s.substr(start, m_pos - start);
                if (equalNoCase(v, "TRUE") || equalNoCase(v, "FALSE")) {
                    kb = CIMKeyBinding(CIMName(std::string(key)),
                                       equalNoCase(v, "TRUE") ? "TRUE" : "FALSE",
                                       CIMKeyBinding::BOOLEAN);
                } else if (detail::isNumericText(v)) {
                    kb = CIMKeyBinding(CIMName(std::string(key)), std::string(v),
                                       CIMKeyBinding::NUMERIC);
                } else if (v.find('"') != std::string_view::npos) {
                    return fail("unbalanced quotes");
                } else {
                    return fail("unquoted value that is neither a number nor a boolean");
                }
            }
            keys.push_back(std::move(kb));
            if (m_pos == m_s.size()) return true;
            if (m_s[m_pos] != ',') return fail("expected ',' between keys");
            ++m_pos;
        }
    }

    bool quoted(std::string& value) {
        ++m_pos;  // opening quote
        while (m_pos < m_s.size()) {
            char c = m_s[m_pos++];
            if (c == '"') return true;
            if (c == '\\') {
                if (m_pos >= m_s.size()) break;
                c = m_s[m_pos++];
            }
            value += c;
        }
        return fail("unbalanced quotes");
    }

    std::string_view m_s;
    std::size_t m_pos = 0;
    int m_depth;
    std::string m_error;
};

// Path-equality of a string key that may hold a path text and a reference key.
bool sameReferenceText(const std::string& a, const std::string& b) {
    if (a == b) return true;
    CIMObjectPath pa, pb;
    Parser x(a, 0), y(b, 0);
    if (!x.run(pa) || !y.run(pb)) return false;
    return pa == pb;
}

}  // namespace

CIMKeyBinding::CIMKeyBinding(const CIMName& name, const CIMObjectPath& reference)
    : m_name(name), m_value(reference.toString()), m_type(REFERENCE) {}

CIMKeyBinding::CIMKeyBinding(const CIMName& name, const CIMValue& value) : m_name(name) {
    if (value.isNull() || value.isArray())
        throw TypeMismatchException("a key binding needs a non-null scalar value");
    CIMType t = value.getType();
    if (t == CIMTYPE_INSTANCE || t == CIMTYPE_OBJECT)
        throw TypeMismatchException("an embedded instance cannot be a key");
    m_value = detail::SharedString(value.toString());
    if (t == CIMTYPE_BOOLEAN)
        m_type = BOOLEAN;
    else if (isIntegerType(t) || t == CIMTYPE_REAL32 || t == CIMTYPE_REAL64)
        m_type = NUMERIC;
    else if (t == CIMTYPE_REFERENCE)
        m_type = REFERENCE;
    else
        m_type = STRING;
}

bool CIMKeyBinding::equal(const CIMKeyBinding& other) const {
    if (!m_name.equal(other.m_name)) return false;
    const std::string& a = m_value.str();
    const std::string& b = other.m_value.str();
    if (m_type == REFERENCE || other.m_type == REFERENCE) {
        if ((m_type != STRING && m_type != REFERENCE) ||
            (other.m_type != STRING && other.m_type != REFERENCE))
            return false;
        return m_value.shares(other.m_value) || sameReferenceText(a, b);
    }
    if (m_type != other.m_type) return false;
    switch (m_type) {
        case BOOLEAN:
            return equalNoCase(a, b);
        case NUMERIC:
            return detail::sameNumber(a, b);
        default:
            return m_value.shares(other.m_value) || a == b;
    }
}

CIMObjectPath::CIMObjectPath(std::string_view text) {
    *this = parse(text);
}

CIMObjectPath CIMObjectPath::parse(std::string_view text) {
    CIMObjectPath p;
    Parser parser(text, 0);
    if (!parser.run(p)) throw MalformedObjectNameException(parser.error());
    return p;
}

void CIMObjectPath::clear() {
    m_host = detail::SharedString();
    m_nameSpace.clear();
    m_className.clear();
    m_keys.clear();
}

const CIMKeyBinding* CIMObjectPath::findKeyBinding(const CIMName& name) const {
    for (const auto& k : m_keys)
        if (k.getName().equal(name)) return &k;
    return nullptr;
}

std::string CIMObjectPath::toString() const {
    std::string out;
    std::size_t guess =
        getHost().size() + m_nameSpace.getString().size() + m_className.getString().size() + 8;
    for (const auto& k : m_keys) guess += k.getName().getString().size() + k.getValue().size() + 4;
    out.reserve(guess);
    if (!m_host.empty()) {
        out += "//";
        out += getHost();
        out += '/';
    }
    if (!m_nameSpace.isNull()) {
        out += m_nameSpace.getString();
        out += ':';
    }
    out += m_className.getString();
    if (m_keys.empty()) return out;
    // Insertion sort keeps equal names in their order, like a stable sort; paths have a
    // handful of keys, so it needs no allocation in the common case.
    const CIMKeyBinding* small[8];
    std::vector<const CIMKeyBinding*> large;
    const CIMKeyBinding** sorted = small;
    if (m_keys.size() > 8) {
        large.resize(m_keys.size());
        sorted = large.data();
    }
    for (std::size_t i = 0; i < m_keys.size(); ++i) {
        const CIMKeyBinding* k = &m_keys[i];
        std::size_t j = i;
        while (j > 0 &&
               compareNoCase(sorted[j - 1]->getName().getString(), k->getName().getString()) > 0) {
            sorted[j] = sorted[j - 1];
            --j;
        }
        sorted[j] = k;
    }
    char sep = '.';
    for (std::size_t i = 0; i < m_keys.size(); ++i) {
        const CIMKeyBinding* k = sorted[i];
        out += sep;
        sep = ',';
        out += k->getName().getString();
        out += '=';
        switch (k->getType()) {
            case CIMKeyBinding::BOOLEAN:
                out += equalNoCase(k->getValue(), "TRUE") ? "TRUE" : "FALSE";
                break;
            case CIMKeyBinding::NUMERIC:
                if (detail::isNumericText(k->getValue())) {
                    out += k->getValue();
                    break;
                }
                appendQuoted(out, k->getValue());
                break;
            default:
                appendQuoted(out, k->getValue());
                break;
        }
    }
    return out;
}

bool CIMObjectPath::identical(const CIMObjectPath& other) const {
    if (!equalNoCase(getHost(), other.getHost()) || m_nameSpace != other.m_nameSpace ||
        m_className != other.m_className || m_keys.size() != other.m_keys.size())
        return false;
    for (const auto& k : m_keys) {
        const CIMKeyBinding* o = other.findKeyBinding(k.getName());
        if (!o || !k.equal(*o)) return false;
    }
    return true;
}

}  // namespace cim
