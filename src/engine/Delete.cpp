// rkso_deleteSnaps: views first, then the PiT (oldest first, the others only
// virtually), the snapshot or the clone; what the array no longer has counts as deleted.
#include <algorithm>
#include <cctype>
#include <exception>
#include <list>
#include <string>

#include "engine/ArrayLookup.h"
#include "engine/ArrayParams.h"
#include "engine/EngineCommon.h"
#include "engine/SnapCalls.h"
#include "engine/StoredSnap.h"

namespace rkso {

namespace {

constexpr const char* kDeleteTag = "rkso_deleteSnaps";

void deleteGroup(RKSO::SnapInfo* info, LSISnapshot& snap) {
    if (snap.DeleteConsistencyGroup(1) == 0)
        info->logFormat(0, kDeleteTag,
                        "Deleted the Consistency Group [%s] along with associated CGPiT and "
                        "CGPiTView.",
                        snap.m_ConsistencyGroupName.c_str());
}

// Removes the PiT's view (or the group view) before the PiT can go. False when the
// device is done (status set).
bool removeViewFirst(RKSO::SnapInfo* info, LSISnapshot& snap, const std::string& prefix) {
    bool attached = false;
    if (snap.m_UseConsistencyGroup) {
        std::string viewName, viewPath;
        if (snap.checkCGPiTViewCreated(viewName, viewPath) == 0) {
            if (!snap.checkCGPiTViewMappings()) {
                info->logFormat(2, kDeleteTag,
                                "%s: Mappings exists for one or more of PiTViews associated to the "
                                "ConsistencyGroupPiTView.",
                                kDeleteTag);
                info->setStatus(RKSO::SNAP_STATUS_DELETE_FAILED);
                return false;
            }
            info->logFormat(0, kDeleteTag,
                            "%s: PiTViews of ConsistencyGroupPiTView are not mapped. Removing the "
                            "ConsistencyGroupPiTView.",
                            kDeleteTag);
            // The group view goes through this device's member of it.
            snap.GetTargetPiTView(viewPath);
            attached = true;
        }
    } else if (snap.IsPiTAttached() == 1) {
        info->logFormat(2, kDeleteTag,
                        "%s: PiT %s is attached to target Device. Going to Detach the PiT.",
                        kDeleteTag, snap.m_PiTName.c_str());
        // A view made by a map whose answer was lost is in no identifier.
        targetCurrentView(snap, prefix);
        attached = true;
    }
    if (!attached) return true;
    const std::string device = snap.m_TargetDev;
    if (snap.PiTViewSync(19, 0) != RKSO::SNAP_STATUS_DELETED) {
        info->logFormat(2, kDeleteTag, "%s: Failed to detach the device %s", kDeleteTag,
                        device.c_str());
        info->setStatus(RKSO::SNAP_STATUS_DELETE_FAILED);
        return false;
    }
    info->logFormat(0, kDeleteTag, "%s: Successfully detached the device %s", kDeleteTag,
                    device.c_str());
    info->setStatus(RKSO::SNAP_STATUS_UNMAPPED);
    return (info->getSnapFlags() & RKSO::SNAP_FLAG_KEEP) == 0;
}

// A PiT the array no longer has: deleted. The sweep removes what no host keeps.
void goneFromArray(RKSO::SnapInfo* info, LSISnapshot& snap, std::list<std::string>* active) {
    info->logFormat(1, kDeleteTag,
                    "Nothing to delete as snap device externally deleted from the Storage Array");
    info->setStatus(RKSO::SNAP_STATUS_DELETED);
    if (!active) return;
    if (snap.DeletePiT(*active, true) != RKSO::SNAP_STATUS_DELETED)
        info->logFormat(2, kDeleteTag,
                        "%s: Failed to check and delete the virtually deleted PiTs/CGPiTs.",
                        kDeleteTag);
    if (snap.m_UseConsistencyGroup) deleteGroup(info, snap);
    active->remove(snap.m_PiTName);
}

// Returns false when the whole call must end (no active list).
bool deleteDevice(RKSO::SnapInfo* info, RKSO::RKOSUtil* osUtil, ActiveLists& lists) {
    StoredSnap s;
    const StoredRead read = readStoredSnap(info, kDeleteTag, s);
    if (read == StoredRead::kOk && s.text.empty()) {
        info->logFormat(1, kDeleteTag, "Nothing to delete as unique identifier is empty.");
        info->setStatus(RKSO::SNAP_STATUS_DELETED);
        return true;
    }
    if (read != StoredRead::kOk) {
        info->setStatus(RKSO::SNAP_STATUS_DELETE_FAILED);
        return true;
    }
    std::list<std::string>* active = nullptr;
    if (s.pit()) {
        active = lists.forArray(info, s.f.arrayId);
        if (!active) {
            info->logFormat(2, kDeleteTag, "%s: Failed to get the list of Active Snaps",
                            kDeleteTag);
            return false;
        }
    }
    LSISnapshot snap;
    snap.SetLogger(info);
    loadSnapParams(snap, info, kDeleteTag, s, 98);
    if (!initArrayParams(snap, info, s.f.arrayId, false)) {
        info->logFormat(2, kDeleteTag, "%s: Failed to initialize the Array parameters", kDeleteTag);
        info->setStatus(RKSO::SNAP_STATUS_DELETE_FAILED);
        return true;
    }
    if (s.pit() && !s.pitMade()) {
        info->logFormat(1, kDeleteTag,
                        "Nothing to delete as PiT/CGPiT is not created, reason could be PiT/CGPiT "
                        "create operation failed");
        info->setStatus(RKSO::SNAP_STATUS_DELETED);
        return true;
    }
    if (!s.pit() && (s.f.targetDev.empty() || s.f.targetDev == "null")) {
        info->logFormat(1, kDeleteTag,
                        "Nothing to delete as snap device not created, reason could be snap create "
                        "operation failed");
        info->setStatus(RKSO::SNAP_STATUS_DELETED);
        return true;
    }
    info->logFormat(0, kDeleteTag, "%s: Snap Device[%s] Source Device [%s] Snap Name [%s]",
                    kDeleteTag, s.f.targetDev.c_str(), s.sourceName.c_str(), s.snapName.c_str());
    std::string vendor;
    int capability = 0;
    const short engineId = info->getSnapEngineId();
    if (!getSnapEngineVendorCapability(info, osUtil, engineId, vendor, capability)) {
        info->logFormat(2, kDeleteTag, " Failed to get capability of EngineID [%d]",
                        static_cast<int>(engineId));
        info->setStatus(RKSO::SNAP_STATUS_PREPARE_FAILED);
        return true;
    }
    snap.SetCapability(capability);
    loadViewParams(snap, s, std::string(), 99);
    snap.SetLogger(info);
    const std::string prefix = verifyClassPrefix(snap, info, kDeleteTag);

    if (s.pit() && lowerCase(s.f.pitName).find("_consistencygroup") != std::string::npos) {
        info->logFormat(1, kDeleteTag,
                        "Deleting the Consistency Group[%s] detaches all the source volume under "
                        "it.The snaps of other source devices associated to this Consistency "
                        "Group, will not be eligible for any other operation.",
                        s.f.pitName.c_str());
        const bool done = snap.DeleteConsistencyGroup(1) == 0;
        if (done)
            info->logFormat(0, kDeleteTag,
                            "Deleted the Consistency Group [%s] along with associated CGPiT and "
                            "CGPiTView.",
                            s.f.pitName.c_str());
        info->setStatus(done ? RKSO::SNAP_STATUS_DELETED : RKSO::SNAP_STATUS_DELETE_FAILED);
        return true;
    }

    const int state = s.pit() ? snap.GetPiTStatus() : snap.GetSnapStatus();
    if (state == RKSO::SNAP_STATUS_DELETED_OUTSIDE) {
        goneFromArray(info, snap, active);
        return true;
    }
    if (!s.pit()) {
        if (snap.SnapDelete() == RKSO::SNAP_STATUS_DELETED) {
            info->logFormat(0, kDeleteTag, "%s: Successfully deleted the device %s", kDeleteTag,
                            s.f.targetDev.c_str());
            info->setStatus(RKSO::SNAP_STATUS_DELETED);
        } else {
            info->logFormat(2, kDeleteTag, "%s: Failed to delete the device %s", kDeleteTag,
                            s.f.targetDev.c_str());
            info->setStatus(RKSO::SNAP_STATUS_DELETE_FAILED);
        }
        return true;
    }

    const std::string when = pitCreatedAt(snap, prefix);
    info->logFormat(1, kDeleteTag, "PiT/CGPiT [%s] was created at [%s]", snap.m_PiTName.c_str(),
                    when.c_str());
    if (!removeViewFirst(info, snap, prefix)) return true;
    if (snap.DeletePiT(*active, false) == RKSO::SNAP_STATUS_DELETED) {
        info->logFormat(0, kDeleteTag, "%s: Successfully deleted the device %s", kDeleteTag,
                        s.f.pitName.c_str());
        info->setStatus(RKSO::SNAP_STATUS_DELETED);
        if (snap.m_UseConsistencyGroup) deleteGroup(info, snap);
        active->remove(s.f.pitName);
        info->logFormat(2, kDeleteTag, "Erased %s from the ActiveTarget List", s.f.pitName.c_str());
        return true;
    }
    // Gone meanwhile (a retry after a lost answer, a group member deleted by the
    // same call): deleted all the same.
    if (snap.GetPiTStatus() == RKSO::SNAP_STATUS_DELETED_OUTSIDE) {
        goneFromArray(info, snap, active);
        return true;
    }
    info->logFormat(2, kDeleteTag, "%s: Failed to delete the device %s", kDeleteTag,
                    s.f.pitName.c_str());
    info->setStatus(RKSO::SNAP_STATUS_DELETE_FAILED);
    return true;
}

}  // namespace

int deleteSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil) {
    if (!checkDevices(kDeleteTag, devices, count)) return 1;
    RKSO::SnapInfo* first = devices[0];
    first->logFormat(1, kDeleteTag, "Going to delete [%d] snap / clone device{s]",
                     static_cast<int>(count));
    if (osUtil && osUtil->getOperationType() == 132) {
        first->logFormat(0, kDeleteTag, "Removing mappings if any exists");
        unmapSnaps(devices, count, osUtil);
    }
    ActiveLists lists(devices, osUtil);
    int deleted = 0;
    for (short i = 0; i < count; ++i) {
        RKSO::SnapInfo* info = devices[i];
        bool goOn = true;
        try {
            goOn = deleteDevice(info, osUtil, lists);
        } catch (const std::exception& e) {
            containFailure(info, kDeleteTag, RKSO::SNAP_STATUS_DELETE_FAILED, e.what());
        } catch (...) {
            containFailure(info, kDeleteTag, RKSO::SNAP_STATUS_DELETE_FAILED, nullptr);
        }
        if (!goOn) return 1;
        if (info->getStatus() == RKSO::SNAP_STATUS_DELETED) ++deleted;
    }
    first->logFormat(0, kDeleteTag, "delete snaps operation Completed");
    return resultFromSuccesses(deleted, count);
}

}  // namespace rkso
