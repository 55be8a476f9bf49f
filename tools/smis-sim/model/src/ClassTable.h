// The classes a namespace serves: superclass, keys and locally declared properties.
// Subclass tests on this table let CIM_StorageVolume find the vendor's volume classes.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include <cim/CIMClass.h>
#include <cim/Types.h>

namespace sim {

struct PropertyDef {
    std::string name;
    cim::CIMType type = cim::CIMTYPE_STRING;
    bool isArray = false;
};

struct ParameterDef {
    std::string name;
    cim::CIMType type = cim::CIMTYPE_STRING;
    bool isArray = false;
    std::string referenceClass;  // for references
    bool in = true;
    bool out = false;
};

struct MethodDef {
    std::string name;
    std::vector<ParameterDef> parameters;  // in the order hosts send them
};

struct ClassDef {
    std::string name;
    std::string superClass;  // empty for a root class
    std::vector<std::string> keys;
    std::vector<PropertyDef> properties;  // declared here, not inherited
    std::vector<MethodDef> methods;       // declared here, not inherited
    bool association = false;
};

class ClassTable {
  public:
    // The array namespace with the given vendor prefix.
    static ClassTable forArray(const std::string& prefix);
    static ClassTable forInterop();

    // Any case; nullptr when unknown.
    const ClassDef* find(const std::string& name) const;
    // True when `name` is `ancestor` or derives from it (any case).
    bool isA(const std::string& name, const std::string& ancestor) const;
    // The declaring class of a property, searching from `className` up; nullptr if none.
    const ClassDef* declaring(const std::string& className, const std::string& property) const;
    const PropertyDef* property(const std::string& className, const std::string& property) const;
    // The method as `className` has it (declared there or inherited); nullptr if none.
    const MethodDef* method(const std::string& className, const std::string& method) const;
    // Keys in declaration order, inherited when the class declares none.
    const std::vector<std::string>& keys(const std::string& className) const;
    const std::vector<ClassDef>& all() const { return m_classes; }
    cim::CIMClass toCIMClass(const ClassDef& def, bool localOnly, bool includeClassOrigin) const;

  private:
    // CIM names compare without regard to ASCII case; lookups must not allocate.
    struct NoCaseHash {
        size_t operator()(const std::string& s) const;
    };
    struct NoCaseEqual {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    void add(ClassDef def);
    void link();                                    // fills m_ancestors once every class is in
    size_t indexOf(const std::string& name) const;  // SIZE_MAX when unknown

    std::vector<ClassDef> m_classes;
    std::vector<std::vector<size_t>> m_ancestors;  // per class: itself, then up to the root
    std::unordered_map<std::string, size_t, NoCaseHash, NoCaseEqual> m_index;
};

}  // namespace sim
