// Which controller owns a volume: the current owner ("CurrentManager" of the volume)
// and the preferred one ("PreferredManager" of its volume setting).
#include <string>
#include <vector>

#include <cim/CIMInstance.h>
#include <cim/CIMObjectPath.h>
#include <cim/CIMPropertyList.h>

#include "LsiCommon.h"
#include "eseries/LSISnapshot.h"
#include "smis/ProviderVendor.h"
#include "smis/RkCaught.h"
#include "smis/SmisAction.h"

int LSISnapshot::GetLSICurrentControllerPath(std::string& controller) {
    const char* fn = "LSISnapshot::GetLSICurrentControllerPath";
    if (m_SystemName.empty() || m_SourceDev.empty()) {
        TraceInvalidParameters(fn);
        DEBUG_TRACE(fn, "Dumping Parameters\n");
        DEBUG_TRACE(fn, "systemName = %s, sourceDev = %s,\t\t\t\t\t\t\t  snapOp = %d\n",
                    m_SystemName.c_str(), m_SourceDev.c_str(), m_SnapOperation);
        return 0;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return 0;
    // The lookup traces into this device's log and reads its settings.
    m_LsiCimUtil.m_pLogger = m_pLogger;
    return m_LsiCimUtil.GetLSICurrentControllerPath(m_CimConnection, m_SystemName, m_SourceDev,
                                                    controller) == 0
               ? 1
               : 0;
}

int LSISnapshot::GetLSIPreferredControllerPath(std::string& controller) {
    const char* fn = "LSISnapshot::GetLSIPreferredControllerPath";
    if (m_SystemName.empty() || m_SourceDevPath.empty()) {
        TraceInvalidParameters(fn);
        DEBUG_TRACE(fn, "Dumping Parameters\n");
        DEBUG_TRACE(fn, "systemName = %s, sourceDev = %s,\t\t\tsnapOp = %d\n", m_SystemName.c_str(),
                    m_SourceDevPath.c_str(), m_SnapOperation);
        return 0;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return 0;
    m_LsiCimUtil.m_pLogger = m_pLogger;
    return m_LsiCimUtil.GetLSIPreferredControllerPath(m_CimConnection, m_SystemName,
                                                      m_SourceDevPath, controller) == 0
               ? 1
               : 0;
}

int LSICimUtil::GetLSICurrentControllerPath(RkCimConnection& conn, std::string systemName,
                                            std::string volume, std::string& controller) {
    const char* fn = "LSICimUtil::GetLSICurrentControllerPath";
    try {
        cim::CIMObjectPath path;
        // The entry points pass the volume's UUID; a name never matches another array's.
        if (!SmisAction::ParsePathOrName(volume, path))
            path =
                GetObjPathByPropName(conn, systemName, "CIM_StorageVolume", "Name", volume, true);
        if (path.getClassName().isNull()) {
            DEBUG_TRACE(fn, " LUN UUID %s not found", volume.c_str());
            return 1;
        }
        const std::string current = GetCIMProp(conn, path, "CurrentManager");
        // Empty is no owner: after a rejected login or a failed read as well.
        if (current.empty() || conn.AuthFailed()) {
            DEBUG_TRACE(fn, " Can not get CurrentManager of source volume %s", volume.c_str());
            return 1;
        }
        controller = current;
        DEBUG_TRACE_NORMAL(fn, "CurrentManager [%s] for Volume [%s]", controller.c_str(),
                           path.toString().c_str());
        return 0;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}

int LSICimUtil::GetLSIPreferredControllerPath(RkCimConnection& conn, std::string /*systemName*/,
                                              std::string volumePath, std::string& controller) {
    const char* fn = "LSICimUtil::GetLSIPreferredControllerPath";
    if (!RKProviderVendor::IsESeries(RKProviderVendor::GetVendorId(volumePath))) return 1;
    try {
        std::string prefix = lsi::ConfiguredClassPrefix(*this, m_pLogger, fn,
                                                        lsi::PrefixReader::PreferredController);
        if (prefix.empty())
            prefix = RKProviderVendor::GetVendorPrefix(RKProviderVendor::GetVendorId(volumePath));
        if (prefix.empty()) prefix = "LSISSI";

        const std::string settingClass = prefix + "_StorageVolumeSetting";
        std::vector<cim::CIMInstance> settings = conn.GetInstances(
            settingClass, cim::CIMPropertyList({cim::CIMName("PreferredManager"),
                                                cim::CIMName("StorageVolume_DeviceID")}));
        DEBUG_TRACE(fn, "Class [%s] got %d instances", settingClass.c_str(),
                    static_cast<int>(settings.size()));
        std::string preferred = "null";
        const cim::CIMInstance* setting = nullptr;
        for (const cim::CIMInstance& s : settings) {
            // An empty id occurs in every path.
            const std::string id = GetCIMProp(s, "StorageVolume_DeviceID");
            if (!id.empty() && volumePath.find(id) != std::string::npos) {
                setting = &s;
                break;
            }
        }
        if (!setting) {
            DEBUG_TRACE(fn, " Can not get LSI StorageVolumeSetting of source volume %s",
                        volumePath.c_str());
        } else {
            bool found = false;
            preferred = GetInstanceProp(conn, *setting, "PreferredManager", found);
            if (!found || preferred.empty()) {
                DEBUG_TRACE(fn, " Can not get PreferredManager of source volume %s",
                            volumePath.c_str());
                preferred = "null";
            }
        }

        std::string chosen;
        if (preferred != "null") {
            const std::string controllerClass = prefix + "_StorageProcessorSystem";
            std::vector<cim::CIMInstance> controllers = conn.GetInstances(
                controllerClass,
                cim::CIMPropertyList({cim::CIMName("Name"), cim::CIMName("ElementName")}));
            for (const cim::CIMInstance& c : controllers) {
                bool found = false;
                const std::string name = GetInstanceProp(conn, c, "Name", found);
                if (!found) {
                    DEBUG_TRACE(fn, " Can not get Name propery of %s",
                                c.getPath().toString().c_str());
                    break;
                }
                if (name == preferred) {
                    chosen = preferred;
                    break;
                }
            }
        }
        if (chosen.empty()) {
            DEBUG_TRACE(fn,
                        "Unable to derive prefered controller for the storage volume, storage "
                        "volume may not visible on the host after mapping");
            return 1;
        }
        controller = chosen;
        DEBUG_TRACE(fn, "The prefered controller path is [%s]", controller.c_str());
        return 0;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}
