// Snapshot operations of the older engine: prepare and create a replica snapshot
// or clone, and tell whether the array offers a copy type.
#include <cstdio>
#include <string>
#include <vector>

#include "smis/Snapshot.h"

namespace RK_SMIS_SNAP {

namespace {

bool Has(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

std::string Format(const char* format, const char* a, const char* b = "") {
    char text[1024];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

}  // namespace

int Snapshot::PrepareSnap() {
    const char* fn = "Snapshot::PrepareSnap";
    auto fail = [this]() {
        m_SnapStatus = RKSO::SNAP_STATUS_PREPARE_FAILED;
        return m_SnapStatus;
    };
    if (m_SystemName.empty() || m_SnapName.empty() || m_SourceDev.empty() ||
        (m_SnapOperation != 4 && m_SnapOperation != 5)) {
        TraceInvalidParameters(fn);
        DEBUG_TRACE(fn, "Dumping Parameters\n");
        DEBUG_TRACE(fn, "systemName = %s, snapName = %s, sourceDev = %s,\t\t\tsnapOp = %d\n",
                    m_SystemName.c_str(), m_SnapName.c_str(), m_SourceDev.c_str(), m_SnapOperation);
        return fail();
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return fail();

    const bool clone = m_SnapOperation == 5;
    std::string group;
    if (!m_DiskGroupName.empty())
        group = GetDGByName(m_CimConnection, m_SystemName, m_DiskGroupName);
    const bool groupMissing = !m_DiskGroupName.empty() && group.empty();
    const std::string vendor = GetVendorName();
    const bool ibm = Has(vendor, "IBMTSSVC");
    if ((ibm || clone || Has(vendor, "LSI") || Has(vendor, "DCIM")) && groupMissing &&
        m_UseDiskGroupOnly) {
        setErrorMsg(60552, Format("%s: Can not find Disk Group [%s] for Snap/Clone operation", fn,
                                  m_DiskGroupName.c_str())
                               .c_str());
        return fail();
    }

    if (Has(vendor, "HPEVA")) {
        m_SourceDevPath = GetVolObjPathByUUID(m_CimConnection, m_SourceDev, m_SystemName);
    } else if (ibm) {
        m_SourceDevPath = GetIBMSVCVolObjPathByUUID(m_CimConnection, m_SourceDev);
        if (!m_SourceDevPath.empty()) {
            DEBUG_TRACE(fn, "Found source volume [%s] using optmized IBMTSSVC_ConciseVolume",
                        m_SourceDev.c_str());
        } else {
            DEBUG_TRACE(fn,
                        "Can not find source volume [%s] using optmized "
                        "IBMTSSVC_ConciseVolume, falling back to regular",
                        m_SourceDev.c_str());
            m_SourceDevPath = GetVolObjPathByUUID(m_CimConnection, m_SourceDev, "");
        }
    } else {
        m_SourceDevPath = GetVolObjPathByUUID(m_CimConnection, m_SourceDev, "");
    }
    if (m_SourceDevPath.empty()) {
        const std::string message =
            Format("%s: Can not find source volume %s\n", fn, m_SourceDev.c_str());
        if (!m_CimConnection.AuthFailed()) setErrorMsg(60542, message.c_str());
        return fail();
    }
    m_SourceDevFriendlyName = GetCIMProp(m_CimConnection, m_SourceDevPath, "ElementName");
    DEBUG_TRACE(fn, "Source Device friendly name: %s\n", m_SourceDevFriendlyName.c_str());

    std::string groupArg = "null";
    if (m_DiskGroupName.empty()) {
        if (clone || ibm)
            DEBUG_TRACE(fn, "Going to use Default Disk Group for snap/clone operation");
    } else if (groupMissing) {
        DEBUG_TRACE(fn,
                    clone ? "Supplied DiskGroup [%s] not found, Going to use Default Disk Group "
                            "for clone operation"
                          : "Supplied DiskGroup [%s] not found, Going to use Default Disk Group "
                            "for Snap operation",
                    m_DiskGroupName.c_str());
    } else {
        groupArg = m_DiskGroupName;
        DEBUG_TRACE(fn,
                    clone ? "Going to use Disk Group [%s] for clone operation"
                          : "Uses Disk Group [%s] for snap operation, if applicable",
                    m_DiskGroupName.c_str());
    }
    std::vector<std::string> args = {m_SystemName,
                                     m_SnapName,
                                     std::to_string(m_SnapOperation),
                                     m_SourceDevPath,
                                     m_TargetSettingId.empty() ? "null" : m_TargetSettingId,
                                     groupArg};
    const bool prepared = PrepareCreateReplica(m_CimConnection, args, m_PrepareResults);
    connection.Close();
    if (!prepared) {
        DEBUG_TRACE(fn, "Failed\n");
        return fail();
    }
    DEBUG_TRACE(fn, "Success\n");
    m_ServicePath = m_PrepareResults.at(0);
    if (!Has(m_PrepareResults.at(4), "null")) m_TargetSettingPath = m_PrepareResults[4];
    if (!Has(m_PrepareResults.at(5), "null")) m_TargetDGPath = m_PrepareResults[5];
    m_SnapStatus = RKSO::SNAP_STATUS_PREPARED;
    return m_SnapStatus;
}

int Snapshot::SnapCreate() {
    const char* fn = "Snapshot::SnapCreate";
    auto fail = [this, fn]() {
        DEBUG_TRACE(fn, "Failed\n");
        m_SnapStatus = RKSO::SNAP_STATUS_CREATE_FAILED;
        return m_SnapStatus;
    };
    if (m_SnapStatus != RKSO::SNAP_STATUS_PREPARED) {
        DEBUG_TRACE(fn, "Device not ready for snapshot\n");
        m_SnapStatus = RKSO::SNAP_STATUS_CREATE_FAILED;
        return m_SnapStatus;
    }
    DEBUG_TRACE_NORMAL(fn, "Creating snapshot\n");
    const char* dump =
        "servicePath = %s, snapName = %s, sourceDevPath = %s,\t\t\tTargetDG = %s, "
        "snapOp = %d\n";
    const bool clone = m_SnapOperation == 5;
    if (m_ServicePath.empty() || m_SnapName.empty() || m_SourceDevPath.empty() ||
        (m_SnapOperation != 4 && !clone)) {
        TraceInvalidParameters(fn);
        DEBUG_TRACE(fn, "Dumping Parameters\n");
        DEBUG_TRACE(fn, dump, m_ServicePath.c_str(), m_SnapName.c_str(), m_SourceDevPath.c_str(),
                    m_TargetDGPath.c_str(), m_SnapOperation);
        m_SnapStatus = RKSO::SNAP_STATUS_CREATE_FAILED;
        return m_SnapStatus;
    }
    DEBUG_TRACE_NORMAL(fn, dump, m_ServicePath.c_str(), m_SnapName.c_str(), m_SourceDevPath.c_str(),
                       m_TargetDGPath.c_str(), m_SnapOperation);
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) {
        m_SnapStatus = RKSO::SNAP_STATUS_CREATE_FAILED;
        return m_SnapStatus;
    }
    if (!m_SourceDevFriendlyName.empty())
        DEBUG_TRACE(fn, "Source Device friendly name: %s\n", m_SourceDevFriendlyName.c_str());

    std::vector<std::string> args = {m_ServicePath, m_SnapName, std::to_string(m_SnapOperation),
                                     m_SourceDevPath};
    if (!m_TargetSettingPath.empty()) {
        DEBUG_TRACE(fn, "pushing m_TargetSettingPath=  %s\n", m_TargetSettingPath.c_str());
        args.push_back(m_TargetSettingPath);
    } else {
        args.push_back("null");
    }
    if (!m_TargetDGPath.empty()) {
        DEBUG_TRACE(fn, "pushing m_TargetDGPath=  %s\n", m_TargetDGPath.c_str());
        args.push_back(m_TargetDGPath);
    }
    if (FaultRetryEnabled()) {
        DEBUG_TRACE(fn, "Pegasus retry in faulty environment");
        std::vector<std::string> throwAway = args;
        throwAway[2] = "15";
        std::string ignored;
        CreateReplica(m_CimConnection, throwAway, ignored);
    }
    m_TargetDevPath.clear();
    const unsigned int result = CreateReplica(m_CimConnection, args, m_TargetDevPath);
    m_TargetDevFriendlyName.clear();
    if (!m_TargetDevPath.empty()) {
        m_TargetDev = GetCIMProp(m_CimConnection, m_TargetDevPath, "Name");
        DEBUG_TRACE(fn, "Target Device UUID %s\n", m_TargetDev.c_str());
    }
    connection.Close();

    if (result != 0) {
        const int code = GetVendorSmisErrorCode(static_cast<int>(result), nullptr);
        m_ErrorCode = code;
        const char* text = nullptr;
        int recorded = code;
        if (clone && (code == 650003 || code == 650005)) {
            recorded = 650005;
            text =
                ": Clone Failed, previous clone still in progress or Snapshot may exist for "
                "the source lun";
        } else if (code == 650002) {
            text = ": Snap Failed, snapshot/clone name already exists";
        } else if ((!clone && code == 650010) || code == 650003) {
            recorded = 650010;
            text = ": Snap Failed, maximum number of snaps reached";
        } else if (code == 650004) {
            text = ": Snap Failed, snapshot disk used as source disk";
        }
        if (text) setErrorMsg(recorded, (std::string(fn) + text).c_str());
        return fail();
    }
    // Created, but without a volume to name: the host could never map or delete it.
    if (m_TargetDevPath.empty() || m_TargetDev.empty()) {
        DEBUG_TRACE(fn, "Could not get object path of target volume");
        return fail();
    }
    DEBUG_TRACE(fn, "Success\n");
    m_SnapStatus = RKSO::SNAP_STATUS_CREATED;
    return m_SnapStatus;
}

int Snapshot::IsSupported(RKSO::SNAP_TYPE type) {
    const char* fn = "Snapshot::IsSupported";
    if (m_SystemName.empty()) {
        TraceInvalidParameters(fn);
        return 0;
    }
    if (type != RKSO::SNAP_TYPE_CLONE && type != RKSO::SNAP_TYPE_SNAPSHOT) return 0;
    const bool clone = type == RKSO::SNAP_TYPE_CLONE;
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return 0;
    std::vector<std::string> args = {m_SystemName, clone ? "5" : "4"};
    const bool supported = IsCopyTypeSupported(m_CimConnection, args) == 0;
    connection.Close();
    if (supported) {
        DEBUG_TRACE(fn, clone ? "Copy type CLONE supported\n" : "Copy type SNAPSHOT supported\n");
        return 1;
    }
    DEBUG_TRACE(fn,
                clone ? "Copy type Clone NOT supported\n" : "Copy type Snapshot NOT supported\n");
    return 0;
}

}  // namespace RK_SMIS_SNAP
