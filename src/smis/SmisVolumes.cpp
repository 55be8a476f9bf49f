#include "SmisVolumes.h"

#include <cim/CIMInstance.h>
#include <cim/Exception.h>

#include "smis/RkCaught.h"
#include "smis/SmisAction.h"

namespace smisvol {

Presence FindByName(RkCimUtil& util, RkCimConnection& conn, const std::string& systemName,
                    const std::string& uuid, cim::CIMObjectPath& path) {
    const std::string text = util.GetVolObjPathByUUID(conn, uuid, systemName);
    if (text.empty()) return util.LookupFailed() ? Presence::Unknown : Presence::Gone;
    try {
        path = cim::CIMObjectPath::parse(text);
        return Presence::Present;
    } catch (...) {
        RK_TRACE_CAUGHT(util, "SMIS::GetVolObjPathByUUID");
        return Presence::Unknown;
    }
}

Presence Read(RkCimUtil& util, RkCimConnection& conn, const cim::CIMObjectPath& path,
              const char* function, std::string* name, std::string* elementName) {
    try {
        cim::CIMInstance instance = conn.GetInstance(path);
        // A rejected login answers an empty instance.
        if (conn.AuthFailed() || instance.isUninitialized()) return Presence::Unknown;
        if (name) *name = util.GetCIMProp(instance, "Name");
        if (elementName) *elementName = util.GetCIMProp(instance, "ElementName");
        return Presence::Present;
    } catch (const cim::CIMException& e) {
        if (e.getCode() == cim::CIM_ERR_NOT_FOUND) return Presence::Gone;
        RK_TRACE_CAUGHT(util, function);
    } catch (...) {
        RK_TRACE_CAUGHT(util, function);
    }
    return Presence::Unknown;
}

Presence Locate(RkCimUtil& util, RkCimConnection& conn, const std::string& systemName,
                const std::string& text, const char* function, cim::CIMObjectPath& path) {
    if (!SmisAction::ParsePathOrName(text, path)) {
        util.DEBUG_TRACE(function,
                         "Supplied source volume is not a object path, assuming UUID(Name)");
        const Presence found = FindByName(util, conn, systemName, text, path);
        if (found != Presence::Present) return found;
    }
    return Read(util, conn, path, function);
}

}  // namespace smisvol
