// The snapshot object's clone operations: a new volume of the source's size, then its
// attach to the source as a replica.
#include <cstdio>
#include <string>
#include <vector>

#include "smis/RkCaught.h"
#include "smis/Snapshot.h"

namespace RK_SMIS_SNAP {

int Snapshot::CreateCloneVolume() {
    const char* fn = "Snapshot::CreateCloneVolume";
    if (m_SystemName.empty() || m_SnapName.empty() || m_SourceDev.empty()) {
        TraceInvalidParameters(fn);
        DEBUG_TRACE(fn, "Dumping Parameters\n");
        DEBUG_TRACE(fn, "systemName = %s, NewVolName = %s, sourceDev = %s", m_SystemName.c_str(),
                    m_SnapName.c_str(), m_SourceDev.c_str());
        return 0;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return 0;
    char message[1024];

    bool groupFound = false;
    if (!m_DiskGroupName.empty()) {
        groupFound = !GetDGByName(m_CimConnection, m_SystemName, m_DiskGroupName).empty();
        // A group that could not be looked up is no missing group.
        if (LookupFailed()) {
            std::snprintf(message, sizeof message, "%s: Can not look up Disk Group [%s]", fn,
                          m_DiskGroupName.c_str());
            setErrorMsg(650011, message);
            return 0;
        }
        if (!groupFound && m_UseDiskGroupOnly) {
            std::snprintf(message, sizeof message,
                          "%s: Can not find Disk Group [%s] for Snap/Clone operation", fn,
                          m_DiskGroupName.c_str());
            setErrorMsg(5, message);
            return 0;
        }
        if (!groupFound)
            DEBUG_TRACE(fn,
                        "Supplied DiskGroup [%s] not found, Going to use Default Disk Group for "
                        "Snap/Clone operation",
                        m_DiskGroupName.c_str());
    }

    DEBUG_TRACE(fn, "Going to create new volume to perform clone operation\n");
    const bool ibm = GetVendorName().find("IBMTSSVC") != std::string::npos;
    std::vector<std::string> args = {
        m_SystemName, m_SnapName, groupFound ? m_DiskGroupName : std::string("null"),
        std::to_string(ibm ? m_SnapOperation : static_cast<int>(m_CloneVolumeType))};
    const std::string source = m_SourceDevPath.empty() ? m_SourceDev : m_SourceDevPath;
    std::vector<std::string> volArgs;
    if (CreateStorageVolParams(m_CimConnection, args, source, volArgs) != 0) {
        std::snprintf(message, sizeof message,
                      "%s: Failed to create new storage volume parameters\n", fn);
        setErrorMsg(650011, message);
        return 0;
    }

    if (FaultRetryEnabled()) {
        DEBUG_TRACE(fn, "Pegasus retry in faulty environment");
        std::vector<std::string> throwAway = volArgs;
        throwAway[1].clear();
        throwAway[3] = "0";
        std::string ignored;
        CreateStorageVolume(m_CimConnection, throwAway, ignored);
    }
    std::string volumePath;
    const unsigned int ret = CreateStorageVolume(m_CimConnection, volArgs, volumePath);
    if (ret != 0) {
        if (ibm)
            std::snprintf(message, sizeof message,
                          "%s: Failed to create new storage volume[%u: %s]\n", fn, ret,
                          GetErrorMessage(ret, "CreateOrModifyElementFromStoragePool").c_str());
        else
            std::snprintf(message, sizeof message, "%s: Failed to create new storage volume\n", fn);
        setErrorMsg(650011, message);
        return 0;
    }

    // An answer after a job may name no volume; the new volume is the one of that name.
    if (volumePath.empty()) {
        DEBUG_TRACE(fn, "The provider named no new volume, looking it up by name [%s]",
                    m_SnapName.c_str());
        try {
            cim::CIMObjectPath found = GetObjPathByPropNamev2(
                m_CimConnection, m_SystemName, "CIM_StorageVolume", "ElementName", m_SnapName);
            if (!found.getClassName().isNull()) volumePath = found.toString();
        } catch (...) {
            RK_TRACE_CAUGHT(*this, fn);
        }
    }
    const std::string uuid =
        volumePath.empty() ? std::string() : GetCIMProp(m_CimConnection, volumePath, "Name");
    if (uuid.empty()) {
        std::snprintf(message, sizeof message,
                      "%s: New storage volume [%s] created but not found\n", fn,
                      m_SnapName.c_str());
        setErrorMsg(650011, message);
        return 0;
    }
    m_TargetDevPath = volumePath;
    m_TargetDev = uuid;
    DEBUG_TRACE(fn, "Target Device UUID %s\n", m_TargetDev.c_str());
    return 1;
}

int Snapshot::AttachCloneVolume(std::string copyType) {
    const char* fn = "Snapshot::AttachCloneVolume";
    if (m_SystemName.empty() || m_SourceDev.empty() ||
        (m_TargetDev.empty() && m_TargetDevPath.empty())) {
        TraceInvalidParameters(fn);
        return 0;
    }
    DEBUG_TRACE(fn, "Going to perform attach replica operation\n");
    // Known paths spare the provider a walk over every volume of the array.
    std::vector<std::string> args = {m_SystemName, copyType,
                                     m_SourceDevPath.empty() ? m_SourceDev : m_SourceDevPath,
                                     m_TargetDevPath.empty() ? m_TargetDev : m_TargetDevPath};
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return 0;

    if (FaultRetryEnabled()) {
        DEBUG_TRACE(fn, "Pegasus retry in faulty environment");
        std::vector<std::string> throwAway = args;
        throwAway[1] = "55";
        throwAway[3] = throwAway[2];
        std::string ignored;
        AttachModRep(m_CimConnection, throwAway, ignored);
    }
    std::string syncPath;
    const unsigned int ret = AttachModRep(m_CimConnection, args, syncPath);
    connection.Close();
    if (ret != 0) {
        // A code the host would not hear of reads as the attach failure it is.
        int code = GetVendorSmisErrorCode(static_cast<int>(ret), nullptr);
        if (code == -1 || GetRkSmisErrorCode(code) == -1) code = 650012;
        char message[512];
        std::snprintf(message, sizeof message, "%s: Failed to attach replica", fn);
        setErrorMsg(code, message);
        m_SyncPath.clear();
        return 0;
    }
    DEBUG_TRACE(fn, "Attach Replica success[%s]", syncPath.c_str());
    m_SyncPath = syncPath;
    return 1;
}

}  // namespace RK_SMIS_SNAP
