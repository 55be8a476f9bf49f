// rkso_revertSnaps: each source volume restored from its PiT or snapshot, never
// while the snapshot is mapped.
#include <exception>
#include <list>
#include <string>

#include "engine/ArrayParams.h"
#include "engine/EngineCommon.h"
#include "engine/Globals.h"
#include "engine/HostBuffer.h"
#include "engine/HostBus.h"
#include "engine/SnapCalls.h"
#include "engine/StoredSnap.h"
#include "engine/UniqueId.h"

namespace rkso {

namespace {

constexpr const char* kRevertTag = "rkso_revertSnaps";
constexpr int kErrRevert = 60513;
constexpr int kErrRevertNoSnapDevice = 60540;
constexpr int kErrMapped = 60551;
constexpr int kRestoreOperation = 6;

void failRevert(RKSO::SnapInfo* info, const char* format, const StoredSnap& s,
                const std::string& from) {
    char msg[2048];
    std::snprintf(msg, sizeof msg, format, kRevertTag, s.sourceName.c_str(), from.c_str());
    setError(info, kErrRevert, msg);
    info->setStatus(RKSO::SNAP_STATUS_REVERT_FAILED);
}

void revertDevice(RKSO::SnapInfo* info, RKSO::RKOSUtil* osUtil, const HostSide& host) {
    const int status = info->getStatus();
    if (status == RKSO::SNAP_STATUS_RESET) {
        const std::string msg = std::string(kRevertTag) + ": Failed, could not find snap device";
        info->logFormat(2, kRevertTag, "%s", msg.c_str());
        setError(info, kErrRevertNoSnapDevice, msg.c_str());
        return;
    }
    StoredSnap s;
    const bool readable = readStoredSnap(info, kRevertTag, s) == StoredRead::kOk && !s.text.empty();
    if (status == RKSO::SNAP_STATUS_MAPPED || status == RKSO::SNAP_STATUS_VISIBLE) {
        char msg[1200];
        std::snprintf(msg, sizeof msg,
                      "%s: Snap Device[%s] has host mappings, Can not perform revert", kRevertTag,
                      s.f.targetDev.substr(0, 1024).c_str());
        info->logFormat(2, kRevertTag, "%s", msg);
        setError(info, kErrMapped, msg);
        info->setStatus(RKSO::SNAP_STATUS_REVERT_FAILED);
        return;
    }
    info->setStatus(RKSO::SNAP_STATUS_REVERT_FAILED);
    if (!readable) return;
    info->logFormat(0, kRevertTag, "%s: Snap Device[%s] Source Device [%s] Snap Name [%s]",
                    kRevertTag, s.f.targetDev.c_str(), s.sourceName.c_str(), s.snapName.c_str());
    LSISnapshot snap;
    snap.SetLogger(info);
    if (!initArrayParams(snap, info, s.f.arrayId, false)) {
        info->logFormat(2, kRevertTag, "%s: Fialed to initialize the Array parammeters",
                        kRevertTag);
        return;
    }
    if (s.engine == RKSO::ENGINE_TYPE_CLONE) {
        info->logFormat(2, kRevertTag, "%s: Can not perform hardware revert from LSI clone",
                        kRevertTag);
        return;
    }
    if (!s.pit()) {
        // The restore needs the source, the target and operation 6.
        StoredSnap restore = s;
        restore.f.snapOperation = std::to_string(kRestoreOperation);
        loadSnapParams(snap, info, kRevertTag, restore, 99);
        loadViewParams(snap, s, host.initiators, 99);
        verifyClassPrefix(snap, info, kRevertTag);
        if (snap.SnapRestore(5) == RKSO::SNAP_STATUS_REVERTED) {
            info->logFormat(1, kRevertTag, "%s: Source Device [%s] RESTORED from Snap Device[%s] ",
                            kRevertTag, s.sourceName.c_str(), s.f.targetDev.c_str());
            info->setStatus(RKSO::SNAP_STATUS_REVERTED);
        } else {
            failRevert(info, "%s: Source Device [%s] FAILED to restore from Snap Device[%s] ", s,
                       s.f.targetDev);
        }
        return;
    }
    std::string port;
    bool iscsi = false;
    std::string arrayId = host.arrayId;
    std::list<std::string> ports;
    if (detectHBA(nullptr, port, iscsi, arrayId, osUtil, host.hostId)) ports.push_back(port);
    loadSnapParams(snap, info, kRevertTag, s, 32768);
    loadViewParams(snap, s, convertHbaList(info, ports, iscsi), 99);
    const std::string prefix = verifyClassPrefix(snap, info, kRevertTag);
    const std::string when = pitCreatedAt(snap, prefix);
    info->logFormat(0, kRevertTag, "PiT [%s] was created at [%s]", snap.m_PiTName.c_str(),
                    when.c_str());
    if (snap.m_UseConsistencyGroup && !snap.checkCGPiTViewMappings()) {
        info->logFormat(0, kRevertTag,
                        "Unable to verify whether all the PiTViews associated to "
                        "ConsistencyGroupPiTView [%s] are unmapped or not.",
                        snap.m_PiTName.c_str());
        return;
    }
    if (snap.ModifyPiT(32768) == RKSO::SNAP_STATUS_REVERTED) {
        info->logFormat(1, kRevertTag, "%s: Source Device [%s] RESTORED from PiT[%s] ", kRevertTag,
                        s.sourceName.c_str(), s.f.pitName.c_str());
        info->setStatus(RKSO::SNAP_STATUS_REVERTED);
    } else {
        failRevert(info, "%s: Source Device [%s] FAILED to restore from PiT[%s] ", s, s.f.pitName);
    }
}

}  // namespace

int revertSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil) {
    if (!checkDevices(kRevertTag, devices, count)) return 1;
    RKSO::SnapInfo* first = devices[0];
    first->logFormat(0, kRevertTag,
                     "Going to restore/reverse sync snap/clone device. If the operation fails, "
                     "please check LSI provider capability");
    isMapped(devices, count, osUtil, nullptr);
    HostSide host;
    if (!getHostIdentifier(first, host.hostId)) {
        const std::string msg = std::string(kRevertTag) + ": Failed to get host identifier";
        setError(first, kErrHostIdentifier, msg.c_str());
        return 1;
    }
    host.arrayId = getStorageArrayId(first);
    if (!detectHbalist(first, osUtil, host.ports, host.hostId, host.arrayId, host.iscsi) ||
        host.ports.empty()) {
        const std::string msg = std::string(kRevertTag) + ": Unable to detect initiator info.";
        first->logFormat(2, kRevertTag, "%s", msg.c_str());
        std::string path =
            readSizedText(RKSO::DEVICE_PATH_BUFFER_SIZE, [first](char* buf, short* len) {
                return first->getDevicePath(buf, len);
            }).text;
        if (path.find("vmware") != std::string::npos) {
            setError(first, kErrInitiators, msg.c_str());
            return 1;
        }
    }
    host.initiators = convertHbaList(first, host.ports, host.iscsi);

    int reverted = 0;
    for (short i = 0; i < count; ++i) {
        RKSO::SnapInfo* info = devices[i];
        try {
            revertDevice(info, osUtil, host);
        } catch (const std::exception& e) {
            containFailure(info, kRevertTag, RKSO::SNAP_STATUS_REVERT_FAILED, e.what());
        } catch (...) {
            containFailure(info, kRevertTag, RKSO::SNAP_STATUS_REVERT_FAILED, nullptr);
        }
        if (info->getStatus() == RKSO::SNAP_STATUS_REVERTED) ++reverted;
    }
    refreshSystemBus(first, osUtil, {}, {}, host.hostId);
    return resultFromSuccesses(reverted, count);
}

}  // namespace rkso
