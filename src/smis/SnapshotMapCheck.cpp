// Questions that change nothing on the array: is the target mapped to this host,
// does it still exist, do the array and the source volume still exist.
#include <cstdio>
#include <string>
#include <vector>

#include "smis/Snapshot.h"

namespace RK_SMIS_SNAP {

int Snapshot::IsSnapMapped() {
    const char* fn = "Snapshot::IsSnapMapped";
    if (m_SystemName.empty() || m_InitiatorPorts.empty() ||
        (m_TargetDev.empty() && m_TargetDevPath.empty())) {
        TraceInvalidParameters(fn);
        return 0;
    }
    std::string target = m_TargetDevPath.empty() ? m_TargetDev : m_TargetDevPath;
    std::vector<std::string> args = {m_SystemName, target, m_InitiatorPorts};
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return 0;

    DEBUG_TRACE(fn, "Target Device UUID %s\n", m_TargetDev.c_str());
    if (!m_TargetDevPath.empty()) {
        m_TargetDevFriendlyName = GetCIMProp(m_CimConnection, m_TargetDevPath, "ElementName");
        DEBUG_TRACE(fn, "Target Device friendly name: %s\n", m_TargetDevFriendlyName.c_str());
    }

    char message[512];
    std::snprintf(message, sizeof message, "%s: Device %s not found", fn, m_TargetDev.c_str());
    if (CheckInstanceExistence(m_CimConnection, m_SystemName, target, m_TargetDev) == 0) {
        setErrorMsg(60542, message);
        return 0;
    }
    const unsigned int result = IsLunMapped(m_CimConnection, args);
    connection.Close();
    switch (result) {
        case 0:
            return RKSO::SNAP_STATUS_MAPPED;
        case 1: {
            char failure[512];
            std::snprintf(failure, sizeof failure, "%s:SMIS API failure", fn);
            setErrorMsg(3, failure);
            return 0;
        }
        case 650015:
            setErrorMsg(650015, "One or more parameter required by API is not found");
            return 0;
        case 650008:
            setErrorMsg(60542, message);
            return 0;
        case 650007:
            DEBUG_TRACE(fn, "Device %s mapping not found\n", m_TargetDev.c_str());
            return RKSO::SNAP_STATUS_UNMAPPED;
        case 650006:
            DEBUG_TRACE(fn, "Device %s mapped to another host", m_TargetDev.c_str());
            return RKSO::SNAP_STATUS_RESERVED_10;
        default:
            return RKSO::SNAP_STATUS_MAPPED;
    }
}

int Snapshot::GetSnapStatus() {
    const char* fn = "Snapshot::GetSnapStatus";
    if (m_SystemName.empty() || (m_TargetDev.empty() && m_TargetDevPath.empty())) {
        TraceInvalidParameters(fn);
        return 0;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return 0;
    std::string target = m_TargetDevPath.empty() ? m_TargetDev : m_TargetDevPath;
    const int exists = CheckInstanceExistence(m_CimConnection, m_SystemName, target, m_TargetDev);
    connection.Close();
    // A rejected login shows nothing, which says nothing about the target.
    if (m_CimConnection.AuthFailed()) return 0;
    return exists == 0 ? RKSO::SNAP_STATUS_DELETED_OUTSIDE : 0;
}

int Snapshot::CheckArrayExistence() {
    const char* fn = "Snapshot::CheckArrayExistence";
    if (m_SystemName.empty() || m_SourceDev.empty()) {
        TraceInvalidParameters(fn);
        return 1;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return 1;
    int exists = -1;
    if (!GetSystemObjPathString(m_CimConnection, m_SystemName).empty())
        exists = CheckInstanceExistence(m_CimConnection, m_SystemName, m_SourceDev, m_SourceDev);
    connection.Close();
    if (m_CimConnection.AuthFailed()) return 1;
    return exists == 0 ? 2 : exists == 1 ? 0 : 1;
}

}  // namespace RK_SMIS_SNAP
