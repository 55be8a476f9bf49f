// Property reads and changes, and the existence check, of RkCimUtil.
#include <cerrno>
#include <cstdlib>
#include <memory>

#include <cim/CIMClient.h>

#include "RkCimUtilInternal.h"
#include "smis/RkCimConnection.h"
#include "smis/RkCimUtil.h"

using rkcimutil::Contains;
using rkcimutil::KeyValue;

namespace {

// Replaces every occurrence of secret in text, so that a provider message that echoes
// a new secret cannot carry it into a trace.
std::string Masked(std::string text, const std::string& secret) {
    if (secret.empty()) return text;
    for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 4))
        text.replace(at, secret.size(), "****");
    return text;
}

// Reads a whole decimal number in [0, max]; false for anything else.
bool ReadUnsigned(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoul(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && value <= max;
}

}  // namespace

std::string RkCimUtil::GetCIMProp(const cim::CIMInstance& instance, std::string propName) const {
    for (const cim::CIMProperty& p : instance.getProperties())
        if (p.getName().getString() == propName) return p.getValue().toString();
    return std::string();
}

std::string RkCimUtil::GetCIMProp(RkCimConnection& conn, std::string& objectPath,
                                  std::string propName) {
    LookupScope scope(*this);
    try {
        cim::CIMObjectPath path = cim::CIMObjectPath::parse(objectPath);
        return GetCIMProp(conn, path, std::move(propName));
    }
    RKCIMUTIL_TRACE_AND_RETURN("SMIS::GetCIMProp", std::string())
}

std::string RkCimUtil::GetCIMProp(RkCimConnection& conn, cim::CIMObjectPath& path,
                                  std::string propName) {
    LookupScope scope(*this);
    try {
        cim::CIMInstance inst = conn.GetInstance(path);
        rkcimutil::ThrowIfAuthFailed(conn);
        return GetCIMProp(inst, propName);
    }
    RKCIMUTIL_TRACE_AND_RETURN("SMIS::GetCIMProp", std::string())
}

int RkCimUtil::GetCIMPropList(RkCimConnection& conn, const std::string& objectPath,
                              std::map<std::string, std::string>& props) {
    LookupScope scope(*this);
    if (props.empty()) return 0;
    try {
        cim::CIMInstance inst = conn.GetInstance(cim::CIMObjectPath::parse(objectPath));
        rkcimutil::ThrowIfAuthFailed(conn);
        int result = 1;
        for (auto& entry : props) {
            bool found = false;
            for (const cim::CIMProperty& p : inst.getProperties()) {
                if (p.getName().getString() != entry.first) continue;
                entry.second = p.getValue().toString();
                found = true;
                break;
            }
            if (!found) result = 0;
        }
        return result;
    }
    RKCIMUTIL_TRACE_AND_RETURN("SMIS::GetCIMPropList", 0)
}

int RkCimUtil::GetCIMPropList(RkCimConnection& conn, cim::CIMObjectPath& path,
                              std::map<std::string, std::string>& props) {
    return GetCIMPropList(conn, path.toString(), props);
}

std::string RkCimUtil::GetInstanceProp(RkCimConnection& /*conn*/, const cim::CIMInstance& instance,
                                       std::string propName, bool& found) const {
    for (const cim::CIMProperty& p : instance.getProperties()) {
        if (p.getName().getString() != propName) continue;
        found = true;
        return p.getValue().toString();
    }
    found = false;
    return std::string();
}

int RkCimUtil::UpdateInstanceProp(RkCimConnection& conn, std::string objectPath,
                                  std::string propName, std::string newValue) {
    const char* fn = "SMIS::UpdateInstanceProp";
    LookupScope scope(*this);
    const bool secret = propName == "Secret";
    try {
        std::shared_ptr<cim::CIMClient> client = conn.GetClient();
        if (!client) {
            DEBUG_TRACE(fn, "Not connected");
            SetLookupFailed();
            return 0;
        }
        const cim::CIMObjectPath path = cim::CIMObjectPath::parse(objectPath);
        const std::string nameSpace = conn.GetNameSpace();
        cim::CIMInstance inst = client->getInstance(nameSpace, path, false, true, true);

        bool found = false;
        GetInstanceProp(conn, inst, propName, found);
        if (!found) DEBUG_TRACE(fn, "Did not find prop %s\n", propName.c_str());
        cim::Uint32 index = cim::PEG_NOT_FOUND;
        for (cim::Uint32 i = 0; i < inst.getPropertyCount(); ++i) {
            if (inst.getProperty(i).getName().getString() == propName) {
                index = i;
                break;
            }
        }
        if (index == cim::PEG_NOT_FOUND) {
            DEBUG_TRACE(fn, "Property [%s] not found\n", propName.c_str());
            return 0;
        }

        const cim::CIMProperty old = inst.getProperty(index);
        cim::CIMValue value;
        unsigned long number = 0;
        switch (old.getType()) {
            case cim::CIMTYPE_UINT8:
            case cim::CIMTYPE_UINT16: {
                const bool is8 = old.getType() == cim::CIMTYPE_UINT8;
                // A value that does not fit the type is refused rather than cut.
                if (old.isArray() || !ReadUnsigned(newValue, is8 ? 0xFFu : 0xFFFFu, number)) {
                    DEBUG_TRACE(fn, "UpdateInstanceProp: Value for [%s] is not a %s\n",
                                propName.c_str(), is8 ? "uint8" : "uint16");
                    return 0;
                }
                if (is8)
                    value = cim::CIMValue(static_cast<cim::Uint8>(number));
                else
                    value = cim::CIMValue(static_cast<cim::Uint16>(number));
                break;
            }
            case cim::CIMTYPE_STRING:
                if (old.isArray()) {
                    DEBUG_TRACE(fn, "UpdateInstanceProp: Unimplemented datatype %d\n",
                                static_cast<int>(old.getType()));
                    return 0;
                }
                value = cim::CIMValue(newValue);
                break;
            default:
                DEBUG_TRACE(fn, "UpdateInstanceProp: Unimplemented datatype %d\n",
                            static_cast<int>(old.getType()));
                return 0;
        }
        inst.removeProperty(index);
        inst.addProperty(cim::CIMProperty(old.getName(), value, 0, old.getReferenceClassName(),
                                          old.getClassOrigin(), old.getPropagated()));
        inst.setPath(path);
        client->modifyInstance(nameSpace, inst, true,
                               cim::CIMPropertyList({cim::CIMName(propName)}));
        if (secret)
            DEBUG_TRACE_NORMAL(fn, "Updated the Property [%s]", propName.c_str());
        else
            DEBUG_TRACE_NORMAL(fn, "Updated the Property [%s] to [%s]", propName.c_str(),
                               newValue.c_str());
        return 1;
    } catch (const cim::CIMException& e) {
        std::string message = secret ? Masked(e.getDescription(), newValue) : e.getDescription();
        DEBUG_TRACE(fn, "%d: Caught CIMException: %s: %s\n", __LINE__,
                    cim::cimStatusCodeToString(e.getCode()), message.c_str());
        SetLookupFailed();
        return 0;
    } catch (const cim::Exception& e) {
        std::string message = secret ? Masked(e.getMessage(), newValue) : e.getMessage();
        DEBUG_TRACE(fn, "%d: Caught Exception: %s\n", __LINE__, message.c_str());
        conn.NoteFailure(e);
        SetLookupFailed();
        return 0;
    } catch (...) {
        DEBUG_TRACE(fn, "Caught unknown exception\n");
        SetLookupFailed();
        return 0;
    }
}

int RkCimUtil::CheckInstanceExistence(RkCimConnection& conn, std::string& systemName,
                                      std::string& volume, std::string& uuidToVerify) {
    const char* fn = "SMIS::CheckInstanceExistence";
    LookupScope scope(*this);
    if (volume.empty()) {
        // Taken as a name, an empty text would match every volume.
        DEBUG_TRACE(fn, "No volume given");
        SetLookupFailed();
        return -1;
    }
    try {
        cim::CIMObjectPath path;
        bool isPath = true;
        try {
            path = cim::CIMObjectPath::parse(volume);
        } catch (const cim::MalformedObjectNameException&) {
            isPath = false;
        }
        if (!isPath) {
            DEBUG_TRACE(fn, "Supplied source volume is not an object path, assuming UUID(Name)");
            cim::CIMObjectPath found =
                GetObjPathByPropName(conn, systemName, "CIM_StorageVolume", "Name", volume, false);
            if (found.getClassName().isNull()) {
                DEBUG_TRACE(fn, " Lun %s not found", volume.c_str());
                return 0;
            }
            DEBUG_TRACE(fn, "Instance %s found", found.toString().c_str());
            std::string actual = KeyValue(found, "SystemName");
            if (!Contains(actual, systemName)) {
                DEBUG_TRACE(fn,
                            "Source volume's [%s] system name [%s] does not match with provided "
                            "system name [%s ]",
                            volume.c_str(), actual.c_str(), systemName.c_str());
                return 0;
            }
            return 1;
        }

        cim::CIMInstance inst = conn.GetInstance(path);
        rkcimutil::ThrowIfAuthFailed(conn);
        if (inst.isUninitialized()) {
            DEBUG_TRACE(fn, " Lun %s not found", volume.c_str());
            return 0;
        }
        DEBUG_TRACE_NORMAL(fn, "Instance %s found", volume.c_str());
        if (uuidToVerify.empty()) return 1;
        DEBUG_TRACE(fn, "supplied uuid to verify is [%s]", uuidToVerify.c_str());
        bool found = false;
        std::string name = GetInstanceProp(conn, inst, "Name", found);
        if (!found) {
            DEBUG_TRACE(fn, "Name property not found for object path [%s]", volume.c_str());
            SetLookupFailed();
            return -1;
        }
        if (!cim::equalNoCase(name, uuidToVerify)) {
            DEBUG_TRACE(fn,
                        "Object path [%s] exists but its uuid [%s] did not match the supplied "
                        "uuid [%s], it must be recreated object with the same object path",
                        volume.c_str(), name.c_str(), uuidToVerify.c_str());
            return 0;
        }
        return 1;
    } catch (const cim::CIMException& e) {
        // Only the provider's own status says "not found".
        rkcimutil::TraceCimException(*this, fn, __FILE__, __LINE__, e);
        if (rkcimutil::IsNotFound(e)) return 0;
        SetLookupFailed();
        return -1;
    } catch (const cim::Exception& e) {
        rkcimutil::TraceException(*this, fn, __FILE__, __LINE__, e);
        SetLookupFailed();
        return -1;
    } catch (...) {
        DEBUG_TRACE(fn, "Caught unknown Exception");
        SetLookupFailed();
        return -1;
    }
}
