#include "engine/StoredSnap.h"

#include <cstdlib>
#include <vector>

#include <cim/CIMObjectPath.h>

#include "engine/EngineCommon.h"
#include "engine/HostBuffer.h"

namespace rkso {

StoredRead readStoredSnap(RKSO::SnapInfo* info, const char* tag, StoredSnap& s) {
    HostText id = readSizedText(RKSO::METADATA_BUFFER_SIZE, [info](char* buf, short* len) {
        return info->getMetaData(RKSO::METADATA_SNAP_UNIQUE_ID, buf, len);
    });
    s.engine = getSnapEngineType(info);
    info->getSourceDeviceName(s.sourceName);
    if (id.result == 1) {
        info->logFormat(2, tag, "%s: Failed to get metadata [id : %d]", tag,
                        RKSO::METADATA_SNAP_UNIQUE_ID);
        return StoredRead::kNoMetadata;
    }
    s.text = id.text;
    info->logFormat(0, tag, "%s: received metadata id:%d, value:%s", tag,
                    RKSO::METADATA_SNAP_UNIQUE_ID, s.text.c_str());
    if (s.text.empty()) return StoredRead::kOk;
    SnapUniqueIdFields& f = s.f;
    f.pitName = "54";
    f.consistencyGroupName.clear();
    if (!parseUniqueId(info, s.text.c_str(), f.arrayId, f.snapOperation, f.servicePath, f.sourceDev,
                       f.sourceDevPath, f.targetDGPath, f.targetDev, f.targetDevPath, f.pitName,
                       f.consistencyGroupName)) {
        info->logFormat(2, tag, "%s: Failed to parse unique identifier [%s]", tag, s.text.c_str());
        return StoredRead::kUnparsable;
    }
    if (!s.pit()) f.pitName.clear();
    if (s.pit() && f.targetDev == "null") f.targetDev.clear(), f.targetDevPath.clear();
    HostText name = readSizedText(RKSO::SNAP_NAME_BUFFER_SIZE, [info](char* buf, short* len) {
        return info->getSnapName(buf, len);
    });
    s.snapName = name.text;
    return StoredRead::kOk;
}

void loadSnapParams(LSISnapshot& snap, RKSO::SnapInfo* info, const char* tag, const StoredSnap& s,
                    int pitOperation) {
    RK_SMIS_SNAP::RkSnapParams p;
    p.m_SystemName = s.f.arrayId;
    p.m_SnapName = s.snapName;
    p.m_SnapOperation = std::atoi(s.f.snapOperation.c_str());
    p.m_SourceDev = s.f.sourceDev;
    p.m_TargetDev = s.f.targetDev;
    p.m_ServicePath = s.f.servicePath;
    p.m_SourceDevPath = s.f.sourceDevPath;
    p.m_TargetDevPath = s.f.targetDevPath;
    p.m_TargetDGPath = s.f.targetDGPath;
    snap.SetSnapInfo(p);
    if (!s.pit()) return;
    snap.m_PiTOperation = pitOperation;
    snap.m_PiTName = s.f.pitName;
    snap.m_ConsistencyGroupName = s.cgMode() ? s.f.consistencyGroupName : "null";
    snap.m_UseConsistencyGroup = s.cgMode();
    if (s.cgMode())
        info->logFormat(0, tag, "Consistency Group name [%s]", s.f.consistencyGroupName.c_str());
}

void loadViewParams(LSISnapshot& snap, const StoredSnap& s, const std::string& initiators,
                    uint16_t access) {
    RK_SMIS_SNAP::RkSnapViewParams v;
    v.m_TargetDev = s.f.targetDev;
    v.m_TargetDevPath = s.f.targetDevPath;
    v.m_InitiatorPorts = initiators;
    v.m_DeviceAccess = access;
    snap.SetSnapViewInfo(v);
}

std::string verifyClassPrefix(LSISnapshot& snap, RKSO::SnapInfo* info, const char* tag) {
    std::string service = snap.m_ServicePath, source = snap.m_SourceDevPath,
                pool = snap.m_TargetDGPath, target = snap.m_TargetDevPath;
    if (target == "null") target.clear();
    if (pool == "null") pool.clear();
    std::string prefix = snap.replaceClassPrefix(service, source, pool, target);
    if (prefix.empty())
        info->logFormat(0, tag, "Unable to verify the class name for existing Paths.");
    return prefix;
}

std::string pitCreatedAt(LSISnapshot& snap, const std::string& prefix) {
    if (prefix.empty() || snap.m_PiTName.empty()) return std::string();
    const std::string cls = prefix + (snap.m_UseConsistencyGroup ? "_ConsistencyGroupPiT" : "_PiT");
    return snap.GetObjPropStrByName(cls, "ElementName", snap.m_PiTName, "WhenPointInTime");
}

bool targetCurrentView(LSISnapshot& snap, const std::string& prefix) {
    if (prefix.empty() || snap.m_PiTPath.empty()) return false;
    if (snap.m_CimConnection.ConnectCimom() != 0) return false;
    bool found = false;
    try {
        const std::vector<cim::CIMObjectPath> views = snap.m_CimConnection.GetAssociatorNames(
            cim::CIMObjectPath::parse(snap.m_PiTPath), prefix + "_ViewBasedOnPiT",
            prefix + "_PiTView");
        if (views.size() == 1 && !snap.m_CimConnection.AuthFailed()) {
            cim::CIMObjectPath view = views.front();
            const std::string uuid = snap.GetCIMProp(snap.m_CimConnection, view, "Name");
            if (!uuid.empty()) {
                snap.m_TargetDev = uuid;
                snap.m_TargetDevPath = view.toString();
                found = true;
            }
        }
    } catch (...) {
        found = false;
    }
    snap.m_CimConnection.DisconnectCimom();
    return found;
}

void containFailure(RKSO::SnapInfo* info, const char* tag, RKSO::SnapStatus failed,
                    const char* what) {
    info->logFormat(2, tag, "%s: unexpected failure: %s", tag, what ? what : "unknown");
    info->setStatus(failed);
}

}  // namespace rkso
