// The snapshot object itself: parameter records, logger, the operation frame and
// the operations that need no SMI-S method.
#include <cstdio>

#include "smis/Snapshot.h"

namespace RK_SMIS_SNAP {

void Snapshot::SetSnapInfo(RkSnapParams& p) {
    // A name set by SetArrayInfo survives a record without one.
    if (!p.m_SystemName.empty()) m_SystemName = p.m_SystemName;
    m_SnapName = p.m_SnapName;
    m_SnapOperation = p.m_SnapOperation;
    m_SourceDev = p.m_SourceDev;
    m_TargetDev = p.m_TargetDev;
    m_DiskGroupName = p.m_DiskGroupName;
    m_UseDiskGroupOnly = p.m_UseDiskGroupOnly;
    m_TargetSettingId = p.m_TargetSettingId;
    m_SnapReserved = p.m_SnapReserved;
    m_ServicePath = p.m_ServicePath;
    m_SourceDevPath = p.m_SourceDevPath;
    m_TargetDevPath = p.m_TargetDevPath;
    m_TargetDGPath = p.m_TargetDGPath;
    m_TargetSettingPath = p.m_TargetSettingPath;
}

void Snapshot::SetSnapViewInfo(RkSnapViewParams& p) {
    m_TargetDev = p.m_TargetDev;
    m_TargetDevPath = p.m_TargetDevPath;
    m_InitiatorPorts = p.m_InitiatorPorts;
    m_TargetPorts = p.m_TargetPorts;
    m_ViewType = p.m_ViewType;
    m_DeviceAccess = p.m_DeviceAccess;
}

void Snapshot::SetArrayInfo(RkArrayParams& p) {
    m_SystemName = p.m_SystemName;
    m_CimConnection.GetCimom().SetCimom(p);
}

void Snapshot::SetLogger(RKSO::SnapInfo* info) {
    m_pLogger = info;
    m_CimConnection.m_pLogger = info;
}

std::string Snapshot::GetVendorName() {
    return GetVendorByName(m_CimConnection, m_SystemName);
}

int Snapshot::SetSnapObjectProperty(std::string path, std::string propertyName,
                                    std::string newValue) {
    const char* fn = "Snapshot::SetSnapObjectProperty";
    if (m_SystemName.empty() || path.empty() || propertyName.empty()) {
        TraceInvalidParameters(fn);
        return -1;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return -1;
    return UpdateInstanceProp(m_CimConnection, path, propertyName, newValue) == 1 ? 0 : -1;
}

int Snapshot::UnprepareSnap() {
    return 0;
}

void Snapshot::TraceInvalidParameters(const char* function) const {
    DEBUG_TRACE(function, "Invalid Parameters\n");
}

bool Snapshot::ConnectionScope::Open(const char* function) {
    if (m_owner.m_CimConnection.ConnectCimom() != 0) {
        char message[512];
        std::snprintf(message, sizeof message, "%s: Connection to CIMOM failed", function);
        m_owner.setErrorMsg(3, message);
        return false;
    }
    m_open = true;
    return true;
}

void Snapshot::ConnectionScope::Close() {
    if (!m_open) return;
    m_open = false;
    m_owner.m_CimConnection.DisconnectCimom();
}

}  // namespace RK_SMIS_SNAP
