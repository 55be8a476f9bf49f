// The snapshot object's synchronization and deletion operations (older engine):
// SnapSyncOp, SnapRestore, SnapDelete and DetachSnap.
#include <cstdio>
#include <string>
#include <vector>

#include "SmisVolumes.h"
#include "smis/ProviderVendor.h"
#include "smis/RkCaught.h"
#include "smis/Snapshot.h"

using smisvol::Presence;

namespace RK_SMIS_SNAP {

namespace {

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

const std::string& PathOr(const std::string& path, const std::string& uuid) {
    return path.empty() ? uuid : path;
}

}  // namespace

int Snapshot::SnapSyncOp(unsigned short operation, bool noWait) {
    const char* fn = "Snapshot::SnapSyncOp";
    if ((m_SnapOperation != 4 && m_SnapOperation != 5) || m_SystemName.empty() ||
        m_SourceDev.empty() || (m_TargetDev.empty() && m_TargetDevPath.empty())) {
        TraceInvalidParameters(fn);
        m_SnapStatus = RKSO::SNAP_STATUS_REVERT_FAILED;
        return m_SnapStatus;
    }
    std::vector<std::string> args = {m_SystemName, std::to_string(operation),
                                     PathOr(m_SourceDevPath, m_SourceDev),
                                     PathOr(m_TargetDevPath, m_TargetDev)};
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) {
        DEBUG_TRACE(fn, "Connection to CIMOM failed\n");
        m_SnapStatus = RKSO::SNAP_STATUS_CREATE_FAILED;
        return m_SnapStatus;
    }
    if (RKProviderVendor::GetVendorId(args[2]) == VENDOR_3PAR) {
        args.push_back(m_SyncPath);
        DEBUG_TRACE(fn, "[3PAR Sync path] %s", m_SyncPath.c_str());
    }
    if (FaultRetryEnabled()) {
        DEBUG_TRACE(fn, "Pegasus retry in faulty environment");
        std::vector<std::string> throwAway = args;
        throwAway[1] = "55";
        ModifySync(m_CimConnection, throwAway, noWait);
    }
    const unsigned int ret = ModifySync(m_CimConnection, args, noWait);
    connection.Close();
    if (ret != 0) {
        m_SnapStatus = RKSO::SNAP_STATUS_CREATE_FAILED;
        return m_SnapStatus;
    }
    DEBUG_TRACE(fn, "Success\n");
    m_SnapStatus = RKSO::SNAP_STATUS_CREATED;
    return m_SnapStatus;
}

int Snapshot::SnapRestore(short) {
    const char* fn = "Snapshot::SnapRestore";
    if (m_SnapOperation != 6 || m_SystemName.empty() || m_SourceDev.empty() ||
        (m_TargetDev.empty() && m_TargetDevPath.empty())) {
        TraceInvalidParameters(fn);
        m_SnapStatus = RKSO::SNAP_STATUS_REVERT_FAILED;
        return m_SnapStatus;
    }
    std::vector<std::string> args = {m_SystemName, "5", PathOr(m_SourceDevPath, m_SourceDev),
                                     PathOr(m_TargetDevPath, m_TargetDev)};
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) {
        m_SnapStatus = RKSO::SNAP_STATUS_REVERT_FAILED;
        return m_SnapStatus;
    }
    if (!m_SourceDevPath.empty()) {
        m_SourceDevFriendlyName = GetCIMProp(m_CimConnection, m_SourceDevPath, "ElementName");
        DEBUG_TRACE(fn, "source Device friendly name: %s\n", m_SourceDevFriendlyName.c_str());
    }
    if (!m_TargetDevPath.empty()) {
        m_TargetDevFriendlyName = GetCIMProp(m_CimConnection, m_TargetDevPath, "ElementName");
        DEBUG_TRACE(fn, "Target Device friendly name: %s\n", m_TargetDevFriendlyName.c_str());
    }
    if (FaultRetryEnabled()) {
        DEBUG_TRACE(fn, "Pegasus retry in faulty environment");
        std::vector<std::string> throwAway = args;
        throwAway[1] = "55";
        ModifySync(m_CimConnection, throwAway, false);
    }
    const unsigned int ret = ModifySync(m_CimConnection, args, false);
    connection.Close();
    if (ret != 0) {
        m_SnapStatus = RKSO::SNAP_STATUS_REVERT_FAILED;
        return m_SnapStatus;
    }
    DEBUG_TRACE(fn, "Success\n");
    m_SnapStatus = RKSO::SNAP_STATUS_REVERTED;
    return m_SnapStatus;
}

int Snapshot::SnapDelete() {
    const char* fn = "Snapshot::SnapDelete";
    const int deleted = RKSO::SNAP_STATUS_DELETED;
    const int failed = RKSO::SNAP_STATUS_DELETE_FAILED;
    if (m_SystemName.empty() || (m_TargetDev.empty() && m_TargetDevPath.empty())) {
        TraceInvalidParameters(fn);
        DEBUG_TRACE(fn, "Dumping Parameters\n");
        DEBUG_TRACE(fn, "m_SystemName = %s, m_TargetDev = %s, m_TargetDevPath = %s\n",
                    m_SystemName.c_str(), m_TargetDev.c_str(), m_TargetDevPath.c_str());
        return failed;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return failed;

    // What the stored path names now, read once: its UUID, label and presence.
    Presence atPath = Presence::Unknown;
    std::string pathName;
    if (!m_TargetDevPath.empty()) {
        try {
            cim::CIMObjectPath path;
            if (ParsePathOrName(m_TargetDevPath, path))
                atPath = smisvol::Read(*this, m_CimConnection, path, fn, &pathName,
                                       &m_TargetDevFriendlyName);
        } catch (...) {
            RK_TRACE_CAUGHT(*this, fn);
        }
    }
    // A stored path may be stale (written against another provider); the UUID decides.
    bool usePath = !m_TargetDevPath.empty();
    if (atPath == Presence::Gone) {
        Presence byName = Presence::Gone;
        if (!m_TargetDev.empty()) {
            cim::CIMObjectPath found;
            byName = smisvol::FindByName(*this, m_CimConnection, m_SystemName, m_TargetDev, found);
        }
        if (byName == Presence::Unknown) return failed;
        if (byName == Presence::Gone) {
            DEBUG_TRACE(fn, "Device %s not found, already deleted\n",
                        PathOr(m_TargetDev, m_TargetDevPath).c_str());
            return deleted;
        }
        DEBUG_TRACE(fn, "Stored path %s names no volume, using UUID %s\n", m_TargetDevPath.c_str(),
                    m_TargetDev.c_str());
        usePath = false;
    }
    if (m_TargetDev.empty()) {
        m_TargetDev = pathName;
        DEBUG_TRACE(fn, "Target Device UUID %s\n", m_TargetDev.c_str());
    }

    const std::string vendor = GetVendorName();
    // Which form is safe depends on the provider; without it nothing is sent.
    if (LookupFailed()) {
        DEBUG_TRACE(fn, "Storage system %s could not be read\n", m_SystemName.c_str());
        return failed;
    }
    const bool detach =
        (Contains(vendor, "LSI") || Contains(vendor, "DCIM") || Contains(vendor, "NETAPP")) &&
        m_SnapOperation == 4;
    std::vector<std::string> args = {m_SystemName};
    if (detach) {
        if (m_SourceDev.empty()) {
            DEBUG_TRACE(fn, "Can not perform delete Source Device UUID is empty\n");
        } else {
            DEBUG_TRACE(fn, "Source Device UUID %s\n", m_SourceDev.c_str());
            args.push_back(m_SourceDev);
        }
    }
    if (m_TargetDev.empty()) {
        DEBUG_TRACE(fn, "Invalid Parameter\n");
        return failed;
    }
    // A damaged identifier must never send the source, or another volume, back to
    // its pool.
    if (cim::equalNoCase(m_TargetDev, m_SourceDev) ||
        (!pathName.empty() && !cim::equalNoCase(pathName, m_TargetDev))) {
        DEBUG_TRACE(fn,
                    "Target Device %s (path names %s) is the source or another device, not "
                    "deleting\n",
                    m_TargetDev.c_str(), pathName.c_str());
        return failed;
    }
    const bool faultRetry = FaultRetryEnabled();
    args.push_back(usePath && !faultRetry ? m_TargetDevPath : m_TargetDev);
    if (!m_TargetDevPath.empty()) {
        DEBUG_TRACE(fn, "Target Device UUID %s\n", m_TargetDev.c_str());
        DEBUG_TRACE(fn, "Target Device friendly name: %s\n", m_TargetDevFriendlyName.c_str());
    }
    const std::string device =
        m_TargetDevFriendlyName.empty() ? m_TargetDev : m_TargetDevFriendlyName;

    // The first call does the work; the repeat finds the volume gone.
    if (faultRetry) {
        std::vector<std::string> throwAway = args;
        if (detach) {
            DetachVol(m_CimConnection, throwAway);
        } else {
            DEBUG_TRACE(fn, "Pegasus retry in faulty environment");
            DeleteVol(m_CimConnection, throwAway);
        }
    }
    unsigned int ret = detach ? DetachVol(m_CimConnection, args) : DeleteVol(m_CimConnection, args);
    connection.Close();
    // The provider's own "host mappings found" means the same as ours.
    if (GetVendorSmisErrorCode(static_cast<int>(ret), nullptr) == 650006) ret = 650006;
    if (ret == 650008) {
        DEBUG_TRACE(fn, "Device %s not found, already deleted\n", device.c_str());
        return deleted;
    }
    if (ret == 650006) {
        char message[1024];
        std::snprintf(message, sizeof message, "%s Device %s delete failed, Host mappings found\n",
                      fn, device.c_str());
        setErrorMsg(650006, message);
        return failed;
    }
    if (ret != 0) {
        DEBUG_TRACE(fn, "Device %s delete failed\n", device.c_str());
        return failed;
    }
    DEBUG_TRACE(fn, "Device %s deleted\n", device.c_str());
    return deleted;
}

int Snapshot::DetachSnap() {
    const char* fn = "Snapshot::DetachSnap";
    const int detached = RKSO::SNAP_STATUS_DELETED;
    const int failed = RKSO::SNAP_STATUS_DELETE_FAILED;
    if (m_SystemName.empty() || (m_SourceDev.empty() && m_SourceDevPath.empty()) ||
        (m_TargetDev.empty() && m_TargetDevPath.empty())) {
        TraceInvalidParameters(fn);
        DEBUG_TRACE(fn, "Dumping Parameters\n");
        DEBUG_TRACE(fn,
                    "m_SystemName = %s, m_TargetDev = %s, m_TargetDevPath = %s, m_SourceDev = %s",
                    m_SystemName.c_str(), m_TargetDev.c_str(), m_TargetDevPath.c_str(),
                    m_SourceDev.c_str());
        return failed;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return failed;

    if (m_TargetDev.empty()) m_TargetDev = GetCIMProp(m_CimConnection, m_TargetDevPath, "Name");
    std::vector<std::string> args = {m_SystemName, PathOr(m_SourceDevPath, m_SourceDev),
                                     PathOr(m_TargetDevPath, m_TargetDev)};
    DEBUG_TRACE(fn, "Source Device UUID %s\n", m_SourceDev.c_str());
    DEBUG_TRACE(fn, "Target Device UUID %s\n", m_TargetDev.c_str());
    if (!m_TargetDevPath.empty()) {
        m_TargetDevFriendlyName = GetCIMProp(m_CimConnection, m_TargetDevPath, "ElementName");
        DEBUG_TRACE(fn, "Target Device friendly name: %s\n", m_TargetDevFriendlyName.c_str());
    }
    const std::string device =
        m_TargetDevFriendlyName.empty() ? m_TargetDev : m_TargetDevFriendlyName;

    const unsigned int ret = DetachVol(m_CimConnection, args);
    connection.Close();
    char message[1024];
    if (ret == 650008) {
        std::snprintf(message, sizeof message, "%s: Device %s not found", fn, device.c_str());
        setErrorMsg(650008, message);
        return 0;
    }
    if (ret == 650006) {
        std::snprintf(message, sizeof message, "%s Device %s delete failed, Host mappings found\n",
                      fn, device.c_str());
        setErrorMsg(650006, message);
        return failed;
    }
    if (ret != 0) {
        DEBUG_TRACE(fn, "Device %s delete failed\n", device.c_str());
        return failed;
    }
    DEBUG_TRACE(fn, "Device %s detached\n", device.c_str());
    return detached;
}

}  // namespace RK_SMIS_SNAP
