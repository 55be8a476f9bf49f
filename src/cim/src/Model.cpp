// Properties, instances, classes and property lists.
#include <algorithm>
#include <string>

#include <cim/CIMClass.h>
#include <cim/CIMInstance.h>
#include <cim/CIMPropertyList.h>
#include <cim/Exception.h>

namespace cim {

namespace {

template <class T>
Uint32 findByName(const std::vector<T>& items, const CIMName& name) {
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].getName().equal(name)) return static_cast<Uint32>(i);
    return PEG_NOT_FOUND;
}

[[noreturn]] void badIndex(const char* what, Uint32 index, std::size_t size) {
    throw IndexOutOfBoundsException(std::string(what) + " index " + std::to_string(index) +
                                    " out of range (" + std::to_string(size) + " present)");
}

template <class T>
void addUnique(std::vector<T>& items, const T& item, const char* what) {
    if (findByName(items, item.getName()) != PEG_NOT_FOUND)
        throw AlreadyExistsException(std::string(what) + " \"" + item.getName().getString() +
                                     "\" already exists");
    items.push_back(item);
}

// Equal as sets of named items, each matched by name.
template <class T>
bool sameByName(const std::vector<T>& a, const std::vector<T>& b) {
    if (a.size() != b.size()) return false;
    for (const auto& x : a) {
        Uint32 i = findByName(b, x.getName());
        if (i == PEG_NOT_FOUND || !x.identical(b[i])) return false;
    }
    return true;
}

}  // namespace

Uint32 findQualifier(const std::vector<CIMQualifier>& qualifiers, const CIMName& name) {
    return findByName(qualifiers, name);
}

CIMProperty::CIMProperty(const CIMName& name, const CIMValue& value, Uint32 arraySize,
                         const CIMName& referenceClassName, const CIMName& classOrigin,
                         bool propagated)
    : m_name(name), m_value(value) {
    if (arraySize != 0 || !referenceClassName.isNull() || !classOrigin.isNull() || propagated) {
        Extra& e = extra();
        e.arraySize = arraySize;
        e.referenceClassName = referenceClassName;
        e.classOrigin = classOrigin;
        e.propagated = propagated;
    }
}

CIMProperty::CIMProperty(const CIMProperty& other)
    : m_name(other.m_name),
      m_value(other.m_value),
      m_extra(other.m_extra ? std::make_unique<Extra>(*other.m_extra) : nullptr) {}

CIMProperty& CIMProperty::operator=(const CIMProperty& other) {
    if (this != &other) {
        m_name = other.m_name;
        m_value = other.m_value;
        m_extra = other.m_extra ? std::make_unique<Extra>(*other.m_extra) : nullptr;
    }
    return *this;
}

bool CIMProperty::identical(const CIMProperty& other) const {
    return m_name == other.m_name && m_value == other.m_value &&
           getReferenceClassName() == other.getReferenceClassName() &&
           getClassOrigin() == other.getClassOrigin() && getPropagated() == other.getPropagated();
}

CIMInstance::CIMInstance(const CIMInstance& other)
    : m_className(other.m_className),
      m_path(other.m_path),
      m_properties(other.m_properties),
      m_qualifiers(other.m_qualifiers
                       ? std::make_unique<std::vector<CIMQualifier>>(*other.m_qualifiers)
                       : nullptr) {}

CIMInstance& CIMInstance::operator=(const CIMInstance& other) {
    if (this != &other) {
        CIMInstance copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void CIMInstance::addQualifier(const CIMQualifier& q) {
    if (!m_qualifiers) m_qualifiers = std::make_unique<std::vector<CIMQualifier>>();
    m_qualifiers->push_back(q);
}

Uint32 CIMInstance::findProperty(const CIMName& name) const {
    return findByName(m_properties, name);
}

const CIMProperty& CIMInstance::getProperty(Uint32 index) const {
    if (index >= m_properties.size()) badIndex("property", index, m_properties.size());
    return m_properties[index];
}

CIMProperty& CIMInstance::getProperty(Uint32 index) {
    if (index >= m_properties.size()) badIndex("property", index, m_properties.size());
    return m_properties[index];
}

void CIMInstance::addProperty(const CIMProperty& property) {
    addUnique(m_properties, property, "property");
}

void CIMInstance::addProperty(CIMProperty&& property) {
    if (findProperty(property.getName()) != PEG_NOT_FOUND)
        throw AlreadyExistsException("property \"" + property.getName().getString() +
                                     "\" already exists");
    m_properties.push_back(std::move(property));
}

void CIMInstance::removeProperty(Uint32 index) {
    if (index >= m_properties.size()) badIndex("property", index, m_properties.size());
    m_properties.erase(m_properties.begin() + index);
}

bool CIMInstance::identical(const CIMInstance& other) const {
    return m_className == other.m_className && m_path == other.m_path &&
           sameByName(m_properties, other.m_properties);
}

const CIMName& CIMPropertyList::operator[](Uint32 index) const {
    if (index >= m_names.size()) badIndex("property list", index, m_names.size());
    return m_names[index];
}

bool CIMPropertyList::contains(const CIMName& name) const {
    if (m_null) return true;
    return std::any_of(m_names.begin(), m_names.end(),
                       [&](const CIMName& n) { return n.equal(name); });
}

bool CIMParameter::identical(const CIMParameter& other) const {
    return m_name == other.m_name && m_type == other.m_type && m_isArray == other.m_isArray &&
           m_arraySize == other.m_arraySize && m_referenceClassName == other.m_referenceClassName;
}

const CIMParameter& CIMMethod::getParameter(Uint32 index) const {
    if (index >= m_parameters.size()) badIndex("parameter", index, m_parameters.size());
    return m_parameters[index];
}

Uint32 CIMMethod::findParameter(const CIMName& name) const {
    return findByName(m_parameters, name);
}

void CIMMethod::addParameter(const CIMParameter& parameter) {
    addUnique(m_parameters, parameter, "parameter");
}

bool CIMMethod::identical(const CIMMethod& other) const {
    if (m_name != other.m_name || m_type != other.m_type || m_classOrigin != other.m_classOrigin ||
        m_propagated != other.m_propagated || m_parameters.size() != other.m_parameters.size())
        return false;
    for (std::size_t i = 0; i < m_parameters.size(); ++i)
        if (!m_parameters[i].identical(other.m_parameters[i])) return false;
    return true;
}

Uint32 CIMClass::findProperty(const CIMName& name) const {
    return findByName(m_properties, name);
}

const CIMProperty& CIMClass::getProperty(Uint32 index) const {
    if (index >= m_properties.size()) badIndex("property", index, m_properties.size());
    return m_properties[index];
}

void CIMClass::addProperty(const CIMProperty& property) {
    addUnique(m_properties, property, "property");
}

Uint32 CIMClass::findMethod(const CIMName& name) const {
    return findByName(m_methods, name);
}

const CIMMethod& CIMClass::getMethod(Uint32 index) const {
    if (index >= m_methods.size()) badIndex("method", index, m_methods.size());
    return m_methods[index];
}

void CIMClass::addMethod(const CIMMethod& method) {
    addUnique(m_methods, method, "method");
}

bool CIMClass::identical(const CIMClass& other) const {
    return m_className == other.m_className && m_superClassName == other.m_superClassName &&
           sameByName(m_properties, other.m_properties) && sameByName(m_methods, other.m_methods);
}

}  // namespace cim
