// What every SMI-S wrapper shares: the creation lock, the throw-away-call setting,
// argument tests, the method call and the dump of its in-parameters.
#include "smis/SmisAction.h"

#include <cim/CIMClient.h>
#include <cim/Exception.h>

#include "rkso/RKPlatformInfo.h"

RkCriticalSection SmisAction::m_Lock;

bool SmisAction::FaultRetryEnabled() {
    unsigned long value = 0;
    if (!RKPlatformInfo().getNumber("Talon", "RK_PEGASUS_FAULT_RETRY", &value)) return false;
    return value != 0;
}

bool SmisAction::ArgPresent(const std::vector<std::string>& args, size_t i) {
    return i < args.size() && args[i].find("null") == std::string::npos;
}

bool SmisAction::EntryPresent(const std::map<std::string, std::string>& params,
                              const std::string& key) {
    auto it = params.find(key);
    return it != params.end() && it->second.find("null") == std::string::npos;
}

bool SmisAction::ParsePathOrName(const std::string& text, cim::CIMObjectPath& path) {
    try {
        cim::CIMObjectPath parsed = cim::CIMObjectPath::parse(text);
        // A bare word ("cg_one") parses as a class name, but names no instance.
        if (parsed.getKeyBindings().empty()) return false;
        path = parsed;
        return true;
    } catch (const cim::Exception& e) {
        if (e.getMessage().find("malformed") == std::string::npos) throw;
        return false;
    }
}

cim::CIMValue SmisAction::InvokeMethod(RkCimConnection& conn, const cim::CIMObjectPath& target,
                                       const std::string& method,
                                       const cim::Array<cim::CIMParamValue>& inParams,
                                       cim::Array<cim::CIMParamValue>& outParams) {
    std::shared_ptr<cim::CIMClient> client = conn.GetClient();
    if (!client) throw cim::NotConnectedException();
    DumpInParams("SMIS::InvokeMethod", inParams);
    outParams.clear();
    try {
        return client->invokeMethod(conn.GetNameSpace(), target, cim::CIMName(method), inParams,
                                    outParams);
    } catch (const cim::Exception& e) {
        conn.NoteFailure(e);
        throw;
    }
}

void SmisAction::DumpInParams(const char* function,
                              const cim::Array<cim::CIMParamValue>& inParams) const {
    for (size_t i = 0; i < inParams.size(); ++i) {
        const cim::CIMParamValue& p = inParams[i];
        const cim::CIMValue& v = p.getValue();
        std::string text = cim::equalNoCase(p.getParameterName(), "Secret") ? "****"
                           : v.isNull()                                     ? "NULL"
                                                                            : v.toString();
        DEBUG_TRACE(function, "In params[%d] <%s> <%s> = %s", static_cast<int>(i),
                    p.getParameterName().c_str(), cim::cimTypeToString(v.getType()), text.c_str());
    }
}
