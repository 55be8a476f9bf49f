// rkso_isMapped: which snapshots are mapped to this host, and which the host sees.
#include <exception>
#include <string>
#include <vector>

#include "engine/ArrayParams.h"
#include "engine/EngineCommon.h"
#include "engine/SnapCalls.h"
#include "engine/StoredSnap.h"

namespace rkso {

namespace {

constexpr const char* kIsMappedTag = "rkso_isMapped";

// One device's check; its status says the outcome.
CheckAnswer checkDevice(RKSO::SnapInfo* info, const HostSide& host, HostDevices& seen,
                        bool& visible) {
    info->setStatus(RKSO::SNAP_STATUS_MAP_FAILED);
    StoredSnap s;
    if (readStoredSnap(info, kIsMappedTag, s) != StoredRead::kOk || s.text.empty()) {
        if (s.text.empty())
            info->logFormat(2, kIsMappedTag, "%s: Failed to parse unique identifier [%s]",
                            kIsMappedTag, "");
        return CheckAnswer::kNone;
    }
    info->logFormat(0, kIsMappedTag, "%s: Snap Device[%s] Source Device [%s] Snap Name [%s]",
                    kIsMappedTag, s.f.targetDev.c_str(), s.sourceName.c_str(), s.snapName.c_str());
    LSISnapshot snap;
    snap.SetLogger(info);
    if (!initArrayParams(snap, info, s.f.arrayId, false)) return CheckAnswer::kNone;
    loadSnapParams(snap, info, kIsMappedTag, s, 7);
    loadViewParams(snap, s, host.initiators, 99);
    verifyClassPrefix(snap, info, kIsMappedTag);

    int status;
    if (s.pit() && s.f.targetDev.empty() && s.f.targetDevPath.empty()) {
        status = RKSO::SNAP_STATUS_UNMAPPED;
    } else if (snap.GetSnapStatus() == RKSO::SNAP_STATUS_DELETED_OUTSIDE) {
        status = RKSO::SNAP_STATUS_UNMAPPED;
    } else {
        status = snap.IsSnapMapped();
        // The provider also says "another host" when the mapping (or the view with
        // it) went between its two lookups, so that answer is asked again: a target
        // gone by now is mapped nowhere.
        if (status == RKSO::SNAP_STATUS_RESERVED_10)
            status = snap.GetSnapStatus() == RKSO::SNAP_STATUS_DELETED_OUTSIDE
                         ? RKSO::SNAP_STATUS_UNMAPPED
                         : snap.IsSnapMapped();
    }
    info->setStatus(static_cast<RKSO::SnapStatus>(status));
    if (status == RKSO::SNAP_STATUS_MAPPED) {
        info->logFormat(0, kIsMappedTag,
                        "%s: DevicePath [%s] LUN UUID [%s] found mapping on the \t\t\t\t\t\tArray, "
                        "Checking for host device path existence",
                        kIsMappedTag, s.sourceName.c_str(), s.f.targetDev.c_str());
        // One match per device, however many paths show it; the first is recorded.
        const std::string path = seen.find(snap.m_TargetDev);
        if (!path.empty()) {
            info->logFormat(0, kIsMappedTag,
                            "%s: Device Path [%s] found on host matching UUID [%s]", kIsMappedTag,
                            path.c_str(), snap.m_TargetDev.c_str());
            info->setSnapDevicePath(path.c_str());
            info->setStatus(RKSO::SNAP_STATUS_VISIBLE);
            visible = true;
        }
    } else if (status == RKSO::SNAP_STATUS_UNMAPPED) {
        info->logFormat(0, kIsMappedTag, "%s No mapping found for LUN UUID [%s]", kIsMappedTag,
                        s.f.targetDev.c_str());
        if (s.f.snapOperation == "5") {
            info->logFormat(0, kIsMappedTag,
                            "%s: CLONED device, no mapping found for LUN UUID [%s]", kIsMappedTag,
                            s.f.targetDev.c_str());
            info->setStatus(RKSO::SNAP_STATUS_CLONE_NOT_MAPPED);
        }
    } else if (status == 0) {
        // Undecided: only the provider's own "not there" is an answer.
        const bool notFound = snap.GetErrorCode() == 60542 && !snap.m_CimConnection.AuthFailed() &&
                              !snap.LookupFailed();
        return notFound ? CheckAnswer::kAnswered : CheckAnswer::kNone;
    }
    return CheckAnswer::kAnswered;
}

}  // namespace

int isMapped(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil,
             std::vector<CheckAnswer>* answers) {
    if (!checkDevices(kIsMappedTag, devices, count)) return 1;
    if (answers) answers->assign(static_cast<size_t>(count), CheckAnswer::kNone);
    RKSO::SnapInfo* first = devices[0];
    first->logFormat(0, kIsMappedTag, "Going to check if [%d] snap/clone device(s) is mapped",
                     static_cast<int>(count));
    HostSide host;
    if (!startMappingCall(kIsMappedTag, devices, osUtil, host)) return 1;
    if (!readVmwareVendor(kIsMappedTag, devices, osUtil, host)) return 1;
    HostDevices seen(osUtil, first);
    seen.list(host, kIsMappedTag);

    int matches = 0;
    for (short i = 0; i < count; ++i) {
        RKSO::SnapInfo* info = devices[i];
        bool visible = false;
        CheckAnswer answer = CheckAnswer::kNone;
        try {
            answer = checkDevice(info, host, seen, visible);
        } catch (const std::exception& e) {
            containFailure(info, kIsMappedTag, RKSO::SNAP_STATUS_MAP_FAILED, e.what());
        } catch (...) {
            containFailure(info, kIsMappedTag, RKSO::SNAP_STATUS_MAP_FAILED, nullptr);
        }
        if (answers) (*answers)[static_cast<size_t>(i)] = answer;
        if (visible) ++matches;
    }
    if (matches == 0) return 1;
    return matches >= count ? 0 : 2;
}

}  // namespace rkso
