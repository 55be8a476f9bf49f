// rkso_reconcileSnaps: which snapshots the host keeps have gone from the array;
// their PiTs leave the active list and the group sweep removes what nobody keeps,
// also for a device whose snap never named its PiT.
#include <exception>
#include <list>
#include <string>

#include "engine/ArrayParams.h"
#include "engine/EngineCommon.h"
#include "engine/SnapCalls.h"
#include "engine/StoredSnap.h"

namespace rkso {

namespace {

constexpr const char* kReconcileTag = "rkso_reconcileSnaps";

enum class Outcome { kChecked, kFailed, kEndCall };

Outcome reconcileDevice(RKSO::SnapInfo* info, ActiveLists& lists) {
    StoredSnap s;
    const StoredRead read = readStoredSnap(info, kReconcileTag, s);
    if (read == StoredRead::kNoMetadata || read == StoredRead::kUnparsable) return Outcome::kFailed;
    if (s.text.empty()) {
        info->logFormat(0, kReconcileTag, "Nothing to check as unique identifier is empty.");
        return Outcome::kFailed;
    }
    std::list<std::string>* active = nullptr;
    if (s.pit()) {
        active = lists.forArray(info, s.f.arrayId);
        if (!active) {
            info->logFormat(2, kReconcileTag, "%s: Failed to get the list of Active Snaps",
                            kReconcileTag);
            return Outcome::kEndCall;
        }
    }
    info->logFormat(0, kReconcileTag, "%s: Snap Device[%s] Source Device [%s] Snap Name [%s]",
                    kReconcileTag, s.f.targetDev.c_str(), s.sourceName.c_str(), s.snapName.c_str());
    LSISnapshot snap;
    snap.SetLogger(info);
    if (!initArrayParams(snap, info, s.f.arrayId, false)) {
        info->logFormat(2, kReconcileTag, "%s: Failed to initialize the Array parameters",
                        kReconcileTag);
        return Outcome::kFailed;
    }
    loadSnapParams(snap, info, kReconcileTag, s, 98);
    loadViewParams(snap, s, std::string(), 99);
    verifyClassPrefix(snap, info, kReconcileTag);
    if (s.pit() && !s.pitMade()) {
        // Nothing was named to go missing, but a snap that failed or was killed after
        // the array took its PiT leaves one that no host keeps: the sweep removes it
        // once it is the oldest of its group.
        snap.m_PiTName = "null";  // the sweep keeps no PiT of this device's
        if (snap.DeletePiT(*active, true) != RKSO::SNAP_STATUS_DELETED) {
            info->logFormat(2, kReconcileTag,
                            "%s: Failed to check and delete the virtually deleted PiTs/CGPiTs.",
                            kReconcileTag);
            return Outcome::kFailed;
        }
        return Outcome::kChecked;
    }
    const int state = s.pit() ? snap.GetPiTStatus() : snap.GetSnapStatus();
    if (state == -1) {
        info->logFormat(2, kReconcileTag, "Operation Failed");
        return Outcome::kFailed;
    }
    if (state != RKSO::SNAP_STATUS_DELETED_OUTSIDE) {
        info->logFormat(0, kReconcileTag, "%s: Snap device %s exists or status unknown ",
                        kReconcileTag, s.pit() ? s.f.pitName.c_str() : s.f.targetDev.c_str());
        return Outcome::kChecked;
    }
    info->logFormat(0, kReconcileTag,
                    "%s: Snap device %s externally deleted from Storage Array [%s]", kReconcileTag,
                    s.pit() ? s.f.pitName.c_str() : s.f.targetDev.c_str(), s.f.arrayId.c_str());
    Outcome outcome = Outcome::kChecked;
    if (s.pit()) {
        snap.m_PiTName = "null";  // the sweep keeps no PiT of this device's
        if (snap.DeletePiT(*active, true) != RKSO::SNAP_STATUS_DELETED) {
            info->logFormat(2, kReconcileTag,
                            "%s: Failed to check and delete the virtually deleted PiTs/CGPiTs.",
                            kReconcileTag);
            outcome = Outcome::kFailed;
        }
        if (snap.m_UseConsistencyGroup && snap.DeleteConsistencyGroup(1) == 0)
            info->logFormat(0, kReconcileTag, "Deleted the Consistency Group [%s].",
                            snap.m_ConsistencyGroupName.c_str());
        active->remove(s.f.pitName);
    }
    info->setStatus(RKSO::SNAP_STATUS_DELETED_OUTSIDE);
    return outcome;
}

}  // namespace

int reconcileSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil) {
    if (!checkDevices(kReconcileTag, devices, count)) return 1;
    RKSO::SnapInfo* first = devices[0];
    first->logFormat(0, kReconcileTag,
                     "Going to check [%d] snap / clone device{s] status on the Storage Array",
                     static_cast<int>(count));
    ActiveLists lists(devices, osUtil);
    int failures = 0;
    for (short i = 0; i < count; ++i) {
        RKSO::SnapInfo* info = devices[i];
        Outcome outcome = Outcome::kFailed;
        try {
            outcome = reconcileDevice(info, lists);
        } catch (const std::exception& e) {
            info->logFormat(2, kReconcileTag, "%s: unexpected failure: %s", kReconcileTag,
                            e.what());
        } catch (...) {
            info->logFormat(2, kReconcileTag, "%s: unexpected failure", kReconcileTag);
        }
        if (outcome == Outcome::kEndCall) return 1;
        if (outcome == Outcome::kFailed) ++failures;
    }
    first->logFormat(0, kReconcileTag, "reconcileSnaps operation Completed");
    if (failures == 0) return 0;
    return failures < count ? 2 : 1;
}

}  // namespace rkso
