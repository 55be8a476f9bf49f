// Properties and qualifiers.
#pragma once

#include <memory>
#include <vector>

#include <cim/CIMName.h>
#include <cim/CIMValue.h>

namespace cim {

// A qualifier as carried on the wire (QUALIFIER element). Flavors are not kept.
class CIMQualifier {
  public:
    CIMQualifier() = default;
    CIMQualifier(const CIMName& name, const CIMValue& value, bool propagated = false)
        : m_name(name), m_value(value), m_propagated(propagated) {}

    const CIMName& getName() const { return m_name; }
    const CIMValue& getValue() const { return m_value; }
    void setValue(const CIMValue& value) { m_value = value; }
    CIMType getType() const { return m_value.getType(); }
    bool isArray() const { return m_value.isArray(); }
    bool getPropagated() const { return m_propagated; }

    bool identical(const CIMQualifier& other) const {
        return m_name == other.m_name && m_value == other.m_value &&
               m_propagated == other.m_propagated;
    }

  private:
    CIMName m_name;
    CIMValue m_value;
    bool m_propagated = false;
};

// Looks a qualifier up by name (any case); PEG_NOT_FOUND when absent.
Uint32 findQualifier(const std::vector<CIMQualifier>& qualifiers, const CIMName& name);

class CIMProperty {
  public:
    CIMProperty() = default;
    // arraySize is the declared fixed size of an array property (0: variable).
    CIMProperty(const CIMName& name, const CIMValue& value, Uint32 arraySize = 0,
                const CIMName& referenceClassName = CIMName(),
                const CIMName& classOrigin = CIMName(), bool propagated = false);
    CIMProperty(CIMName&& name, CIMValue&& value)
        : m_name(std::move(name)), m_value(std::move(value)) {}
    CIMProperty(const CIMProperty& other);
    CIMProperty(CIMProperty&& other) noexcept = default;
    CIMProperty& operator=(const CIMProperty& other);
    CIMProperty& operator=(CIMProperty&& other) noexcept = default;
    ~CIMProperty() = default;

    const CIMName& getName() const { return m_name; }
    void setName(const CIMName& name) { m_name = name; }
    const CIMValue& getValue() const { return m_value; }
    // Replaces the value (and with it the type).
    void setValue(const CIMValue& value) { m_value = value; }
    void setValue(CIMValue&& value) { m_value = std::move(value); }
    CIMType getType() const { return m_value.getType(); }
    bool isArray() const { return m_value.isArray(); }
    Uint32 getArraySize() const { return m_extra ? m_extra->arraySize : 0; }
    const CIMName& getReferenceClassName() const {
        return m_extra ? m_extra->referenceClassName : noName();
    }
    void setReferenceClassName(const CIMName& name) { extra().referenceClassName = name; }
    const CIMName& getClassOrigin() const { return m_extra ? m_extra->classOrigin : noName(); }
    void setClassOrigin(const CIMName& origin) { extra().classOrigin = origin; }
    bool getPropagated() const { return m_extra && m_extra->propagated; }
    void setPropagated(bool propagated) { extra().propagated = propagated; }

    const std::vector<CIMQualifier>& getQualifiers() const {
        return m_extra ? m_extra->qualifiers : noQualifiers();
    }
    void addQualifier(const CIMQualifier& q) { extra().qualifiers.push_back(q); }
    Uint32 findQualifier(const CIMName& name) const {
        return cim::findQualifier(getQualifiers(), name);
    }

    // Name (any case), value, reference class, class origin and propagated flag.
    bool identical(const CIMProperty& other) const;

  private:
    // What most properties do without: kept apart so a plain property is 32 bytes.
    struct Extra {
        CIMName referenceClassName;
        CIMName classOrigin;
        std::vector<CIMQualifier> qualifiers;
        Uint32 arraySize = 0;
        bool propagated = false;
    };
    Extra& extra() {
        if (!m_extra) m_extra = std::make_unique<Extra>();
        return *m_extra;
    }
    static const CIMName& noName() {
        static const CIMName none;
        return none;
    }
    static const std::vector<CIMQualifier>& noQualifiers() {
        static const std::vector<CIMQualifier> none;
        return none;
    }

    CIMName m_name;
    CIMValue m_value;
    std::unique_ptr<Extra> m_extra;
};

}  // namespace cim
