// rkso_unmapSnaps: the mapping goes, and for the PiT engine the view with it unless
// the host asked to keep it; the host then forgets the devices.
#include <exception>
#include <list>
#include <string>
#include <vector>

#include "engine/ArrayParams.h"
#include "engine/EngineCommon.h"
#include "engine/Globals.h"
#include "engine/HostBus.h"
#include "engine/SnapCalls.h"
#include "engine/StoredSnap.h"

namespace rkso {

namespace {

constexpr const char* kUnmapTag = "rkso_unmapSnaps";
constexpr int kErrUnmap = 60013;

void removeView(RKSO::SnapInfo* info, LSISnapshot& snap, const std::string& prefix) {
    const std::string when = pitCreatedAt(snap, prefix);
    if (when.empty())
        info->logFormat(0, kUnmapTag, "The PiT [%s] doesn't exist.", snap.m_PiTName.c_str());
    else
        info->logFormat(0, kUnmapTag, "PiT [%s] was created at [%s]", snap.m_PiTName.c_str(),
                        when.c_str());
    if (info->getSnapFlags() & RKSO::SNAP_FLAG_KEEP) return;
    if (snap.m_UseConsistencyGroup) {
        std::string viewName, viewPath;
        const bool unmapped = snap.checkCGPiTViewMappings();
        if (!unmapped || snap.checkCGPiTViewCreated(viewName, viewPath) != 0) {
            info->logFormat(0, kUnmapTag,
                            "%s: Either mappings exists for one or more of PiTViews associated to "
                            "the ConsistencyGroupPiTView or ConsistencyGroupPiTView not found. "
                            "Cannot remove the ConsistencyGroupPiTView.",
                            kUnmapTag);
            info->setStatus(RKSO::SNAP_STATUS_UNMAPPED);
            return;
        }
        info->logFormat(0, kUnmapTag,
                        "%s: PiTViews of ConsistencyGroupPiTView are not mapped. Removing the "
                        "ConsistencyGroupPiTView.",
                        kUnmapTag);
        // The group view goes through this device's member of it.
        snap.GetTargetPiTView(viewPath);
    }
    const std::string device = snap.m_TargetDev;
    if (snap.PiTViewSync(19, 0) == RKSO::SNAP_STATUS_DELETED) {
        info->logFormat(0, kUnmapTag, "%s: Successfully detached the device %s from the PiT[%s]",
                        kUnmapTag, device.c_str(), snap.m_PiTName.c_str());
        info->setStatus(RKSO::SNAP_STATUS_UNMAPPED);
    } else {
        info->logFormat(0, kUnmapTag, "%s: Unable to detach the device %s from the PiT[%s]",
                        kUnmapTag, device.c_str(), snap.m_PiTName.c_str());
    }
}

void unmapDevice(RKSO::SnapInfo* info, RKSO::RKOSUtil* osUtil, const HostSide& host,
                 CheckAnswer answer, std::list<std::string>& hostDevices,
                 std::list<std::string>& dropped) {
    const int status = info->getStatus();
    if (status == RKSO::SNAP_STATUS_RESET) {
        // Only the array's own "not there" means there is nothing to unmap.
        if (answer == CheckAnswer::kAnswered) {
            info->logFormat(2, kUnmapTag,
                            "%s: Could not find snap device, returning unmap as success",
                            kUnmapTag);
            info->setStatus(RKSO::SNAP_STATUS_UNMAPPED);
        } else {
            info->logFormat(2, kUnmapTag, "%s: Could not check the mappings of the snap device",
                            kUnmapTag);
            info->setStatus(RKSO::SNAP_STATUS_UNMAP_FAILED);
        }
        return;
    }
    StoredSnap s;
    if (readStoredSnap(info, kUnmapTag, s) != StoredRead::kOk || s.text.empty()) {
        info->setStatus(RKSO::SNAP_STATUS_UNMAP_FAILED);
        return;
    }
    info->logFormat(0, kUnmapTag, "%s: Snap Device[%s], Source Device [%s] and Snap Name [%s]",
                    kUnmapTag, s.f.targetDev.c_str(), s.sourceName.c_str(), s.snapName.c_str());
    if ((status == RKSO::SNAP_STATUS_UNMAPPED || status == RKSO::SNAP_STATUS_CLONE_NOT_MAPPED) &&
        answer == CheckAnswer::kAnswered) {
        info->logFormat(0, kUnmapTag,
                        "%s: Snapshot LUN %s, no mapping found on the Storage Array %s: Returning "
                        "Success",
                        kUnmapTag, s.f.targetDev.c_str(), s.f.arrayId.c_str());
        info->setStatus(RKSO::SNAP_STATUS_UNMAPPED);
        return;
    }
    if (s.f.arrayId.empty()) {
        info->logFormat(2, kUnmapTag, "%s: Failed to get array info as arrayId is empty",
                        kUnmapTag);
        setError(info, kErrArrayInfo, "Failed to get array info");
        return;
    }
    if (info->setArrayName(s.f.arrayId.c_str()) != 0) {
        o_logger.DebugLvl(kUnmapTag, -1, " Unable to set the Array details");
        return;
    }
    std::list<std::string> paths;
    getAllDevicePaths(info, osUtil, hostDevices, host.hostId, paths);
    info->setStatus(RKSO::SNAP_STATUS_UNMAP_FAILED);
    LSISnapshot snap;
    snap.SetLogger(info);
    if (!initArrayParams(snap, info, s.f.arrayId, false)) return;
    loadSnapParams(snap, info, kUnmapTag, s, 14);
    loadViewParams(snap, s, host.initiators, 99);
    const std::string prefix = verifyClassPrefix(snap, info, kUnmapTag);
    if (snap.UnmapSnap() != 0) {
        const std::string msg =
            std::string(kUnmapTag) + ": Failed to unmap the device " + s.f.targetDev;
        info->logFormat(2, kUnmapTag, "%s", msg.c_str());
        setError(info, kErrUnmap, msg.c_str());
        return;
    }
    info->logFormat(0, kUnmapTag, "%s: Successfully unmapped the device %s from the host",
                    kUnmapTag, s.f.targetDev.c_str());
    info->setStatus(RKSO::SNAP_STATUS_UNMAPPED);
    dropped.splice(dropped.end(), paths);
    if (s.pit()) removeView(info, snap, prefix);
}

}  // namespace

int unmapSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil) {
    if (!checkDevices(kUnmapTag, devices, count)) return 1;
    RKSO::SnapInfo* first = devices[0];
    first->logFormat(0, kUnmapTag, "Going to unmap [%d] snap/clone device(s) from the host",
                     static_cast<int>(count));
    HostSide host;
    if (!startMappingCall(kUnmapTag, devices, osUtil, host)) return 1;
    std::vector<CheckAnswer> answers;
    isMapped(devices, count, osUtil, &answers);
    HostDevices listed(osUtil, first);
    if (!listed.list(host, kUnmapTag))
        first->logFormat(2, kUnmapTag, "%s: getDeviceList failure", kUnmapTag);
    std::list<std::string> hostDevices = listed.names();

    std::list<std::string> dropped;
    int unmapped = 0;
    for (short i = 0; i < count; ++i) {
        RKSO::SnapInfo* info = devices[i];
        try {
            unmapDevice(info, osUtil, host, answers.at(static_cast<size_t>(i)), hostDevices,
                        dropped);
        } catch (const std::exception& e) {
            containFailure(info, kUnmapTag, RKSO::SNAP_STATUS_UNMAP_FAILED, e.what());
        } catch (...) {
            containFailure(info, kUnmapTag, RKSO::SNAP_STATUS_UNMAP_FAILED, nullptr);
        }
        if (info->getStatus() == RKSO::SNAP_STATUS_UNMAPPED) ++unmapped;
    }
    refreshSystemBus(first, osUtil, dropped, {}, host.hostId);
    return resultFromSuccesses(unmapped, count);
}

}  // namespace rkso
