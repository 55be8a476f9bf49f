#include "engine/SnapshotInfo.h"

#include "engine/UniqueId.h"

std::mutex& CallShared::groupLockFor(const std::string& systemName, const std::string& sourceDev) {
    std::lock_guard<std::mutex> lock(m_mu);
    std::unique_ptr<std::mutex>& slot = m_groupLocks[systemName + "*" + sourceDev];
    if (!slot) slot = std::make_unique<std::mutex>();
    return *slot;
}

namespace rkso {

bool writeIdentifier(RKSO::SnapInfo* info, const char* tag, const LSISnapshot& snap,
                     bool pitEngine) {
    SnapUniqueIdFields f;
    f.arrayId = snap.GetSystemName();
    f.snapOperation = std::to_string(pitEngine ? snap.m_PiTOperation : snap.GetSnapOperation());
    f.servicePath = snap.m_ServicePath;
    f.sourceDev = snap.GetSourceDev();
    f.sourceDevPath = snap.GetSourceDevPath();
    f.targetDGPath = snap.m_TargetDGPath;
    f.targetDev = snap.GetSnapDevice();
    f.targetDevPath = snap.GetSnapDevPath();
    f.pitName = snap.m_PiTName;
    f.consistencyGroupName = snap.m_ConsistencyGroupName;
    if (writeSnapUniqueId(info, f, pitEngine)) return true;
    info->logFormat(2, tag, "Failed to set metadata [id : %d]", RKSO::METADATA_SNAP_UNIQUE_ID);
    return false;
}

}  // namespace rkso
