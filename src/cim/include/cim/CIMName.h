// CIM element names and namespace names. Both compare case-insensitively.
#pragma once

#include <string>
#include <string_view>

#include <cim/detail/SharedString.h>

namespace cim {

// ASCII case-insensitive comparison, as CIM names are compared.
bool equalNoCase(std::string_view a, std::string_view b);
// <0, 0, >0 like strcmp, ASCII case folded.
int compareNoCase(std::string_view a, std::string_view b);

// A class, property, method, parameter or qualifier name. A default-constructed
// name is null. Construction does not validate (decoders and the path parser do,
// with legal()), so a name coming from our own code never throws. Copies share the
// text.
class CIMName {
  public:
    CIMName() = default;
    CIMName(const std::string& name) : m_name(std::string_view(name)) {}
    CIMName(std::string&& name) : m_name(std::move(name)) {}
    CIMName(const char* name) : m_name(std::string_view(name ? name : "")) {}
    // A name whose text is already shared (decoders intern the names of one answer).
    explicit CIMName(const detail::SharedString& name) : m_name(name) {}

    const std::string& getString() const { return m_name.str(); }
    bool isNull() const { return m_name.empty(); }
    void clear() { m_name = detail::SharedString(); }
    bool equal(const CIMName& other) const {
        return m_name.shares(other.m_name) || equalNoCase(getString(), other.getString());
    }

    // DSP0004 name: a letter, '_' or a non-ASCII UTF-8 byte, then letters, digits, '_'.
    static bool legal(std::string_view name);

    friend bool operator==(const CIMName& a, const CIMName& b) { return a.equal(b); }
    friend bool operator!=(const CIMName& a, const CIMName& b) { return !a.equal(b); }

  private:
    detail::SharedString m_name;
};

// "root/cimv2". A leading '/' is dropped. Null when empty.
class CIMNamespaceName {
  public:
    CIMNamespaceName() = default;
    CIMNamespaceName(const std::string& name) : m_name(strip(name)) {}
    CIMNamespaceName(const char* name) : m_name(strip(name ? name : "")) {}
    explicit CIMNamespaceName(const detail::SharedString& name) : m_name(name) {}

    const std::string& getString() const { return m_name.str(); }
    bool isNull() const { return m_name.empty(); }
    void clear() { m_name = detail::SharedString(); }
    bool equal(const CIMNamespaceName& other) const {
        return m_name.shares(other.m_name) || equalNoCase(getString(), other.getString());
    }

    // One or more legal CIM names separated by single '/'.
    static bool legal(std::string_view name);

    friend bool operator==(const CIMNamespaceName& a, const CIMNamespaceName& b) {
        return a.equal(b);
    }
    friend bool operator!=(const CIMNamespaceName& a, const CIMNamespaceName& b) {
        return !a.equal(b);
    }

  private:
    static std::string_view strip(std::string_view s) {
        if (!s.empty() && s.front() == '/') s.remove_prefix(1);
        return s;
    }
    detail::SharedString m_name;
};

}  // namespace cim
