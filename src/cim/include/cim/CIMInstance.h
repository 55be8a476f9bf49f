// A CIM instance: class name, properties and (when known) its object path.
#pragma once

#include <memory>
#include <vector>

#include <cim/CIMName.h>
#include <cim/CIMObjectPath.h>
#include <cim/CIMProperty.h>

namespace cim {

class CIMInstance {
  public:
    // An uninitialized instance (empty class name).
    CIMInstance() = default;
    explicit CIMInstance(const CIMName& className) : m_className(className) {}
    CIMInstance(const CIMInstance& other);
    CIMInstance(CIMInstance&& other) noexcept = default;
    CIMInstance& operator=(const CIMInstance& other);
    CIMInstance& operator=(CIMInstance&& other) noexcept = default;
    ~CIMInstance() = default;

    bool isUninitialized() const { return m_className.isNull(); }
    const CIMName& getClassName() const { return m_className; }
    void setClassName(const CIMName& name) { m_className = name; }

    const CIMObjectPath& getPath() const { return m_path; }
    void setPath(const CIMObjectPath& path) { m_path = path; }
    void setPath(CIMObjectPath&& path) { m_path = std::move(path); }

    Uint32 getPropertyCount() const { return static_cast<Uint32>(m_properties.size()); }
    // Index of the property with that name (any case), or PEG_NOT_FOUND.
    Uint32 findProperty(const CIMName& name) const;
    // Throws IndexOutOfBoundsException for a bad index.
    const CIMProperty& getProperty(Uint32 index) const;
    CIMProperty& getProperty(Uint32 index);
    const std::vector<CIMProperty>& getProperties() const { return m_properties; }
    // Throws AlreadyExistsException when a property of that name (any case) exists.
    void addProperty(const CIMProperty& property);
    void addProperty(CIMProperty&& property);
    // Throws IndexOutOfBoundsException for a bad index.
    void removeProperty(Uint32 index);

    const std::vector<CIMQualifier>& getQualifiers() const {
        return m_qualifiers ? *m_qualifiers : noQualifiers();
    }
    void addQualifier(const CIMQualifier& q);

    // Class name, path and properties (in any order) are equal.
    bool identical(const CIMInstance& other) const;

    // Appends without the duplicate check; for decoders that check duplicates themselves.
    void appendPropertyUnchecked(CIMProperty&& property) {
        m_properties.push_back(std::move(property));
    }
    void reserveProperties(std::size_t n) { m_properties.reserve(n); }

  private:
    static const std::vector<CIMQualifier>& noQualifiers() {
        static const std::vector<CIMQualifier> none;
        return none;
    }

    CIMName m_className;
    CIMObjectPath m_path;
    std::vector<CIMProperty> m_properties;
    // Instance qualifiers are rare; most instances carry none.
    std::unique_ptr<std::vector<CIMQualifier>> m_qualifiers;
};

}  // namespace cim
