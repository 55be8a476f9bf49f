#include <cim/xml/Codec.h>

#include "ArrayMethods.h"
#include "ProviderImpl.h"
#include "Text.h"

namespace sim {

std::optional<cim::CIMValue> MethodCall::param(const std::string& name, cim::CIMType type,
                                               bool isArray) const {
    for (const cim::CIMParamValue& p : request.inParameters) {
        if (!equalsNoCase(p.getParameterName(), name)) continue;
        const cim::CIMValue& v = p.getValue();
        if (v.isNull()) return std::nullopt;
        if (v.getType() == type && v.isArray() == isArray) return v;
        // Untyped parameters arrive as text; typed ones of another type are refused.
        if (!p.isTyped() && v.getType() == cim::CIMTYPE_STRING && v.isArray() == isArray) {
            try {
                return v.convertTo(type);
            } catch (const cim::Exception&) {
            }
        }
        throw CimError(cim::CIM_ERR_INVALID_PARAMETER,
                       "Parameter \"" + printable(name) + "\" must be " +
                           cim::cimTypeToString(type) + (isArray ? "[]" : ""));
    }
    return std::nullopt;
}

void MethodCall::output(const std::string& name, const cim::CIMValue& value) {
    response.outParameters.emplace_back(name, value);
}

namespace {

// CIM_ConcreteJob.RequestStateChange: hosts may terminate or kill a running job.
uint32_t requestStateChange(MethodCall& call) {
    if (!call.target)
        throw CimError(cim::CIM_ERR_INVALID_PARAMETER, "RequestStateChange needs a job");
    auto state = call.param("RequestedState", cim::CIMTYPE_UINT16);
    if (!state) return 5;
    cim::Uint16 s = 0;
    state->get(s);
    if (s != 4 && s != 5) return s >= 2 && s <= 6 ? 4097 : 5;  // only Terminate and Kill
    return call.provider.jobs.stop(call.target->id, s == 4 ? 8 : 9, call.provider.clock(),
                                   call.provider.arrays)
               ? 0
               : 4097;
}

}  // namespace

// A method that is not registered answers CIM_ERR_METHOD_NOT_FOUND.
void registerBuiltinMethods(Provider::Impl& impl) {
    impl.registerMethod("_ConcreteJob", "RequestStateChange", requestStateChange);
    registerReplicationMethods(impl);
    registerGroupMethods(impl);
    registerMaskingMethods(impl);
    registerStorageMethods(impl);
}

}  // namespace sim
