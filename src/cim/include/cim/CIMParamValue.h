// A named method parameter value (input or output of an extrinsic method call).
#pragma once

#include <string>

#include <cim/CIMValue.h>

namespace cim {

class CIMParamValue {
  public:
    CIMParamValue() = default;
    // isTyped false: the value came without a type (the wire's PARAMVALUE without
    // PARAMTYPE) and is held as a string or string array; CIMValue::convertTo gives it
    // its real type.
    CIMParamValue(const std::string& parameterName, const CIMValue& value, bool isTyped = true)
        : m_name(parameterName), m_value(value), m_isTyped(isTyped) {}

    const std::string& getParameterName() const { return m_name; }
    void setParameterName(const std::string& name) { m_name = name; }
    const CIMValue& getValue() const { return m_value; }
    void setValue(const CIMValue& value) { m_value = value; }
    bool isTyped() const { return m_isTyped; }
    void setIsTyped(bool typed) { m_isTyped = typed; }

    bool identical(const CIMParamValue& other) const {
        return equalNoCase(m_name, other.m_name) && m_value == other.m_value &&
               m_isTyped == other.m_isTyped;
    }

  private:
    std::string m_name;
    CIMValue m_value;
    bool m_isTyped = true;
};

}  // namespace cim
