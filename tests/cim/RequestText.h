// A decoded request as one text, so that two requests compare in one assertion.
#pragma once

#include <optional>
#include <string>

#include <cim/xml/Codec.h>

#include "testsupport/RandomCim.h"

namespace cimtest {

inline std::string describeRequest(const cim::xml::Request& r) {
    auto flag = [](const std::optional<bool>& v) { return !v ? "-" : *v ? "true" : "false"; };
    auto name = [](const std::optional<cim::CIMName>& v) { return v ? v->getString() : "-"; };
    auto path = [](const std::optional<cim::CIMObjectPath>& v) { return v ? v->toString() : "-"; };
    std::string props = r.propertyList.isNull() ? "all" : "[";
    for (cim::Uint32 i = 0; i < r.propertyList.size(); ++i)
        props += r.propertyList[i].getString() + ",";
    if (!r.propertyList.isNull()) props += "]";
    cim::xml::Response parts;
    if (r.modifiedInstance) parts.instances.push_back(*r.modifiedInstance);
    if (r.newInstance) parts.instances.push_back(*r.newInstance);
    parts.outParameters.assign(r.inParameters.begin(), r.inParameters.end());
    std::string unknown;
    for (const auto& u : r.unknownParameters) unknown += u + ",";
    return std::string(r.intrinsic ? "intrinsic " : "extrinsic ") + r.messageId + " " +
           r.methodName + " ns " + r.nameSpace.getString() + " instance " + path(r.instanceName) +
           " object " + path(r.objectName) + " class " + name(r.className) + " flags " +
           flag(r.localOnly) + flag(r.deepInheritance) + flag(r.includeQualifiers) +
           flag(r.includeClassOrigin) + " properties " + props + " assoc " + name(r.assocClass) +
           " result " + name(r.resultClass) + " role " + r.role.value_or("-") + " resultRole " +
           r.resultRole.value_or("-") + " target " + r.target.toString() + " unknown " + unknown +
           "\n" + testsupport::describeResponse(parts);
}

}  // namespace cimtest
