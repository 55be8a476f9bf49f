// Request builders for driving sim::Provider::handle directly.
#pragma once

#include <string>
#include <vector>

#include <cim/xml/Codec.h>
#include <gtest/gtest.h>

#include "sim/Provider.h"
#include "testsupport/SimClock.h"

namespace simtest {

inline const std::string kNs = "root/netapp/santricity";

inline cim::xml::Request op(const std::string& name, const std::string& ns = kNs) {
    cim::xml::Request r;
    r.methodName = name;
    r.nameSpace = ns;
    return r;
}
inline cim::xml::Request enumNames(const std::string& cls, const std::string& ns = kNs) {
    auto r = op(cim::xml::kEnumerateInstanceNames, ns);
    r.className = cls;
    return r;
}
inline cim::xml::Request enumInstances(const std::string& cls, std::vector<cim::CIMName> props = {},
                                       const std::string& ns = kNs) {
    auto r = op(cim::xml::kEnumerateInstances, ns);
    r.className = cls;
    r.deepInheritance = true;
    r.localOnly = false;
    if (!props.empty()) r.propertyList.set(props);
    return r;
}
inline cim::xml::Request invoke(const cim::CIMObjectPath& target, const std::string& method,
                                std::vector<cim::CIMParamValue> in = {}) {
    auto r = op(method);
    r.intrinsic = false;
    r.target = target;
    r.inParameters = std::move(in);
    return r;
}
inline cim::xml::Request getInstance(const cim::CIMObjectPath& p, const std::string& ns = kNs) {
    auto r = op(cim::xml::kGetInstance, ns);
    r.instanceName = p;
    r.localOnly = false;
    return r;
}
inline cim::xml::Request assocNames(const cim::CIMObjectPath& p, const std::string& assoc,
                                    const std::string& result, const std::string& role = "",
                                    const std::string& resultRole = "") {
    auto r = op(cim::xml::kAssociatorNames);
    r.objectName = p;
    if (!assoc.empty()) r.assocClass = cim::CIMName(assoc);
    if (!result.empty()) r.resultClass = cim::CIMName(result);
    if (!role.empty()) r.role = role;
    if (!resultRole.empty()) r.resultRole = resultRole;
    return r;
}
inline cim::xml::Request refNames(const cim::CIMObjectPath& p, const std::string& result,
                                  const std::string& role = "") {
    auto r = assocNames(p, "", result, role);
    r.methodName = cim::xml::kReferenceNames;
    return r;
}

inline std::string prop(const cim::CIMInstance& i, const std::string& name) {
    cim::Uint32 k = i.findProperty(name);
    return k == cim::PEG_NOT_FOUND ? "<absent>" : i.getProperty(k).getValue().toString();
}

// The path with key `name` set to `value`.
inline cim::CIMObjectPath withKey(cim::CIMObjectPath p, const std::string& name,
                                  const std::string& value) {
    auto keys = p.getKeyBindings();
    for (auto& k : keys)
        if (k.getName() == name) k.setValue(value);
    p.setKeyBindings(keys);
    return p;
}

// The answer of a request that must succeed.
inline cim::xml::Response ok(sim::Provider& p, const cim::xml::Request& r) {
    cim::xml::Response resp = p.handle(r);
    EXPECT_FALSE(resp.isError()) << r.methodName << ": " << resp.errorDescription;
    return resp;
}

// The first instance name of a class, which must exist.
inline cim::CIMObjectPath first(sim::Provider& p, const std::string& cls) {
    auto names = ok(p, enumNames(cls)).instanceNames;
    if (names.empty()) ADD_FAILURE() << "no instance of " << cls;
    return names.empty() ? cim::CIMObjectPath() : names.front();
}

// The volume path whose "ElementName" is `label`.
inline cim::CIMObjectPath volume(sim::Provider& p, const std::string& label) {
    for (const auto& i : ok(p, enumInstances("CIM_StorageVolume", {"ElementName"})).instances)
        if (prop(i, "ElementName") == label) return i.getPath();
    ADD_FAILURE() << "no volume " << label;
    return {};
}

using testsupport::ManualClock;

}  // namespace simtest
