// The properties an operation should return. A null list (the default) means all
// properties; an empty list means none.
#pragma once

#include <vector>

#include <cim/CIMName.h>
#include <cim/Types.h>

namespace cim {

class CIMPropertyList {
  public:
    CIMPropertyList() = default;
    explicit CIMPropertyList(const std::vector<CIMName>& names) : m_names(names), m_null(false) {}

    bool isNull() const { return m_null; }
    // Back to null (all properties).
    void clear() {
        m_names.clear();
        m_null = true;
    }
    void set(const std::vector<CIMName>& names) {
        m_names = names;
        m_null = false;
    }
    void append(const CIMName& name) {
        m_names.push_back(name);
        m_null = false;
    }
    Uint32 size() const { return static_cast<Uint32>(m_names.size()); }
    // Throws IndexOutOfBoundsException for a bad index.
    const CIMName& operator[](Uint32 index) const;
    const std::vector<CIMName>& getPropertyNameArray() const { return m_names; }
    // True for a null list; else whether the name is listed (any case).
    bool contains(const CIMName& name) const;

    friend bool operator==(const CIMPropertyList& a, const CIMPropertyList& b) {
        return a.m_null == b.m_null && a.m_names == b.m_names;
    }
    friend bool operator!=(const CIMPropertyList& a, const CIMPropertyList& b) { return !(a == b); }

  private:
    std::vector<CIMName> m_names;
    bool m_null = true;
};

}  // namespace cim
