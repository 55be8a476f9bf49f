// Minimal class declarations: properties, methods and their parameters, as GetClass
// returns them.
#pragma once

#include <vector>

#include <cim/CIMName.h>
#include <cim/CIMObjectPath.h>
#include <cim/CIMProperty.h>

namespace cim {

class CIMParameter {
  public:
    CIMParameter() = default;
    // arraySize: declared fixed size of an array parameter (0: variable).
    CIMParameter(const CIMName& name, CIMType type, bool isArray = false, Uint32 arraySize = 0,
                 const CIMName& referenceClassName = CIMName())
        : m_name(name),
          m_referenceClassName(referenceClassName),
          m_type(type),
          m_arraySize(arraySize),
          m_isArray(isArray) {}

    const CIMName& getName() const { return m_name; }
    CIMType getType() const { return m_type; }
    bool isArray() const { return m_isArray; }
    Uint32 getArraySize() const { return m_arraySize; }
    const CIMName& getReferenceClassName() const { return m_referenceClassName; }
    const std::vector<CIMQualifier>& getQualifiers() const { return m_qualifiers; }
    void addQualifier(const CIMQualifier& q) { m_qualifiers.push_back(q); }
    Uint32 findQualifier(const CIMName& name) const {
        return cim::findQualifier(m_qualifiers, name);
    }

    bool identical(const CIMParameter& other) const;

  private:
    CIMName m_name;
    CIMName m_referenceClassName;
    std::vector<CIMQualifier> m_qualifiers;
    CIMType m_type = CIMTYPE_STRING;
    Uint32 m_arraySize = 0;
    bool m_isArray = false;
};

class CIMMethod {
  public:
    CIMMethod() = default;
    CIMMethod(const CIMName& name, CIMType returnType, const CIMName& classOrigin = CIMName(),
              bool propagated = false)
        : m_name(name), m_classOrigin(classOrigin), m_type(returnType), m_propagated(propagated) {}

    const CIMName& getName() const { return m_name; }
    CIMType getType() const { return m_type; }
    const CIMName& getClassOrigin() const { return m_classOrigin; }
    bool getPropagated() const { return m_propagated; }

    Uint32 getParameterCount() const { return static_cast<Uint32>(m_parameters.size()); }
    // Throws IndexOutOfBoundsException for a bad index.
    const CIMParameter& getParameter(Uint32 index) const;
    // Index of the parameter of that name (any case), or PEG_NOT_FOUND.
    Uint32 findParameter(const CIMName& name) const;
    // Throws AlreadyExistsException for a duplicate name.
    void addParameter(const CIMParameter& parameter);
    const std::vector<CIMParameter>& getParameters() const { return m_parameters; }

    const std::vector<CIMQualifier>& getQualifiers() const { return m_qualifiers; }
    void addQualifier(const CIMQualifier& q) { m_qualifiers.push_back(q); }

    bool identical(const CIMMethod& other) const;

  private:
    CIMName m_name;
    CIMName m_classOrigin;
    std::vector<CIMParameter> m_parameters;
    std::vector<CIMQualifier> m_qualifiers;
    CIMType m_type = CIMTYPE_UINT32;
    bool m_propagated = false;
};

class CIMClass {
  public:
    CIMClass() = default;
    explicit CIMClass(const CIMName& className, const CIMName& superClassName = CIMName())
        : m_className(className), m_superClassName(superClassName) {}

    bool isUninitialized() const { return m_className.isNull(); }
    const CIMName& getClassName() const { return m_className; }
    const CIMName& getSuperClassName() const { return m_superClassName; }
    void setSuperClassName(const CIMName& name) { m_superClassName = name; }
    const CIMObjectPath& getPath() const { return m_path; }
    void setPath(const CIMObjectPath& path) { m_path = path; }

    Uint32 getPropertyCount() const { return static_cast<Uint32>(m_properties.size()); }
    Uint32 findProperty(const CIMName& name) const;
    // Throws IndexOutOfBoundsException for a bad index.
    const CIMProperty& getProperty(Uint32 index) const;
    // Throws AlreadyExistsException for a duplicate name.
    void addProperty(const CIMProperty& property);
    const std::vector<CIMProperty>& getProperties() const { return m_properties; }

    Uint32 getMethodCount() const { return static_cast<Uint32>(m_methods.size()); }
    Uint32 findMethod(const CIMName& name) const;
    // Throws IndexOutOfBoundsException for a bad index.
    const CIMMethod& getMethod(Uint32 index) const;
    // Throws AlreadyExistsException for a duplicate name.
    void addMethod(const CIMMethod& method);
    const std::vector<CIMMethod>& getMethods() const { return m_methods; }

    const std::vector<CIMQualifier>& getQualifiers() const { return m_qualifiers; }
    void addQualifier(const CIMQualifier& q) { m_qualifiers.push_back(q); }

    bool identical(const CIMClass& other) const;

  private:
    CIMName m_className;
    CIMName m_superClassName;
    CIMObjectPath m_path;
    std::vector<CIMProperty> m_properties;
    std::vector<CIMMethod> m_methods;
    std::vector<CIMQualifier> m_qualifiers;
};

}  // namespace cim
