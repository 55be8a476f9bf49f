// rkso_mapSnaps: a PiT view where the PiT engine needs one, the mapping to this
// host's ports, and a rescan until the host sees each mapped snapshot.
#include <exception>
#include <string>
#include <vector>

#include "engine/ArrayParams.h"
#include "engine/EngineCommon.h"
#include "engine/HostBus.h"
#include "engine/SnapCalls.h"
#include "engine/StoredSnap.h"
#include "engine/Tuning.h"
#include "rkso/RkHostClock.h"
#include "smis/RkSmisJob.h"

namespace rkso {

namespace {

constexpr const char* kMapTag = "rkso_mapSnaps";
constexpr int kErrMapNoSnapDevice = 60558;
constexpr int kErrNoOsDevice = 60509;
constexpr int kAttempts = 5;
constexpr int kFirstDelaySeconds = 10;
constexpr int kDefaultLimitSeconds = 300;
constexpr int kShortestLimitSeconds = 180;
constexpr uint16_t kReadWrite = 2;

// Gives the PiT a view (or finds the group's), names it and makes it writable, and
// records it in the identifier. False leaves status 11.
bool attachView(RKSO::SnapInfo* info, LSISnapshot& snap, StoredSnap& s, const std::string& prefix) {
    const std::string when = pitCreatedAt(snap, prefix);
    info->logFormat(1, kMapTag, "PiT/CGPiT [%s] was created at [%s]", snap.m_PiTName.c_str(),
                    when.c_str());
    bool made = false;
    if (snap.m_UseConsistencyGroup) {
        std::string viewName, viewPath;
        int found = snap.checkCGPiTViewCreated(viewName, viewPath);
        if (found < 0) {
            info->logFormat(2, kMapTag,
                            "Unable to Check whether the ConsistencyGroupPiTView is already "
                            "created or not for CGPiT[%s].",
                            snap.m_PiTName.c_str());
            return false;
        }
        if (found != 0) {
            if (snap.ModifyPiT(5) != RKSO::SNAP_STATUS_CREATED ||
                snap.checkCGPiTViewCreated(viewName, viewPath) != 0) {
                info->logFormat(2, kMapTag, "%s: Failed to attach PiT[%s] to target volume.",
                                kMapTag, snap.m_PiTName.c_str());
                return false;
            }
            made = true;
        }
        if (snap.GetTargetPiTView(viewPath) != RKSO::SNAP_STATUS_CREATED) {
            info->logFormat(2, kMapTag,
                            "%s: Failed to set target volume from ConsistencyGroupPiTView [%s]",
                            kMapTag, viewPath.c_str());
            return false;
        }
    } else if (snap.m_TargetDevPath.empty() ||
               snap.GetSnapStatus() == RKSO::SNAP_STATUS_DELETED_OUTSIDE) {
        snap.m_TargetDev.clear();
        snap.m_TargetDevPath.clear();
        if (snap.ModifyPiT(5) != RKSO::SNAP_STATUS_CREATED) {
            info->logFormat(2, kMapTag, "%s: Failed to attach PiT[%s] to target volume.", kMapTag,
                            snap.m_PiTName.c_str());
            // The view's job still runs: recorded, so that a later map takes it and a
            // delete removes it.
            if (!snap.m_TargetDevPath.empty()) {
                s.f.targetDev = snap.m_TargetDev;
                s.f.targetDevPath = snap.m_TargetDevPath;
                writeSnapUniqueId(info, s.f, true);
            }
            return false;
        }
        made = true;
    }
    // Otherwise the view an earlier map recorded is there: taken, not made again.
    UXSLEEP_InTeRnAl(2);
    if (snap.SetSnapObjectProperty(snap.m_TargetDevPath, "ElementName", s.snapName) == 0)
        info->logFormat(0, kMapTag, "%s: Modified the ElementName property of the PiTView to [%s]",
                        kMapTag, s.snapName.c_str());
    UXSLEEP_InTeRnAl(2);
    if (snap.SetSnapObjectProperty(snap.m_TargetDevPath, "Access", "3") != 0)
        info->logFormat(0, kMapTag,
                        "%s: Unable to modify the Access property of the PiTView to Read/Write",
                        kMapTag);
    s.f.targetDev = snap.m_TargetDev;
    s.f.targetDevPath = snap.m_TargetDevPath;
    if (!writeSnapUniqueId(info, s.f, true)) {
        // A view no identifier names would be left on the array for good.
        if (made && !snap.m_UseConsistencyGroup) snap.PiTViewSync(19, 0);
        return false;
    }
    return true;
}

struct Mapped {
    RKSO::SnapInfo* info;
    std::string lunUuid;
    bool found = false;
};

// Waits for the mapped snapshots to appear: at least kAttempts rescans, and more
// while the time limit lasts, the waits growing by ten seconds each.
void rescanUntilSeen(RKSO::SnapInfo* first, RKSO::RKOSUtil* osUtil, const HostSide& host,
                     std::vector<Mapped>& mapped, int& found) {
    int limitSeconds = 0;
    if (!GetRegInt(nullptr, "nMountRetrySeconds", &limitSeconds) ||
        limitSeconds <= kShortestLimitSeconds)
        limitSeconds = kDefaultLimitSeconds;
    int preferred = 0;
    GetRegInt(nullptr, "LSI_ENABLE_PREFERED_CONTROLLER_PATH", &preferred);
    RkHostClock& clock = RkHostClock::current();
    const int64_t start = clock.nowMs();
    int attempts = kAttempts;
    int delay = kFirstDelaySeconds;
    RkSmisJob sleeper;
    const int wanted = static_cast<int>(mapped.size());
    while (found < wanted &&
           (clock.nowMs() - start < static_cast<int64_t>(limitSeconds) * 1000 || attempts > 0)) {
        refreshSystemBus(first, osUtil, {}, {}, host.hostId);
        HostDevices seen(osUtil, first);
        seen.list(host, kMapTag);
        for (Mapped& m : mapped) {
            if (m.found) continue;
            const std::string path = seen.find(m.lunUuid);
            if (path.empty()) continue;
            std::string controller;
            if (preferred != 0 && !isControllerPathMatch(m.info, osUtil, path, controller)) {
                m.info->logFormat(0, kMapTag,
                                  "%s: The device [%s] does not belong to preferred controller "
                                  "path [%s]",
                                  kMapTag, path.c_str(), controller.c_str());
                m.info->setStatus(RKSO::SNAP_STATUS_VISIBLE);
                continue;
            }
            m.info->setSnapDevicePath(path.c_str());
            m.found = true;
            ++found;
            m.info->logFormat(0, kMapTag, "%s snapDevice Path: [%s]", kMapTag, path.c_str());
        }
        --attempts;
        if (found < wanted) {
            sleeper.GotoSleep(delay * 1000);
            delay += kFirstDelaySeconds;
        }
    }
}

enum class Step { kNext, kMapped, kEndCall };

Step mapDevice(RKSO::SnapInfo* info, const HostSide& host, CheckAnswer answer,
               std::vector<Mapped>& mapped, int& found) {
    const int status = info->getStatus();
    if (status == RKSO::SNAP_STATUS_RESET) {
        if (answer == CheckAnswer::kAnswered) {
            const std::string msg = std::string(kMapTag) + ": Failed, could not find snap device";
            setError(info, kErrMapNoSnapDevice, msg.c_str());
            return Step::kEndCall;
        }
        // The check got no answer: nothing is known, nothing is mapped.
        info->setStatus(RKSO::SNAP_STATUS_MAP_FAILED);
        return Step::kNext;
    }
    if (status == RKSO::SNAP_STATUS_MAPPED || status == RKSO::SNAP_STATUS_VISIBLE) {
        Mapped m{info, getSnapDeviceUUID(info)};
        // The check recorded the path of a device the host sees already.
        m.found = status == RKSO::SNAP_STATUS_VISIBLE;
        if (m.found) ++found;
        mapped.push_back(m);
        return Step::kMapped;
    }
    info->setStatus(RKSO::SNAP_STATUS_MAP_FAILED);
    StoredSnap s;
    if (readStoredSnap(info, kMapTag, s) != StoredRead::kOk || s.text.empty()) return Step::kNext;
    info->logFormat(0, kMapTag, "%s: Snap Device[%s], Source Device [%s] and Snap Name [%s]",
                    kMapTag, s.f.targetDev.c_str(), s.sourceName.c_str(), s.snapName.c_str());
    LSISnapshot snap;
    snap.SetLogger(info);
    if (!initArrayParams(snap, info, s.f.arrayId, false)) {
        info->logFormat(2, kMapTag, "%s: Failed to initialize the Array parameters", kMapTag);
        info->setStatus(RKSO::SNAP_STATUS_RESET);
        return Step::kNext;
    }
    loadSnapParams(snap, info, kMapTag, s, 7);
    const std::string prefix = verifyClassPrefix(snap, info, kMapTag);
    if (s.pit() && !attachView(info, snap, s, prefix)) return Step::kNext;

    info->logFormat(0, kMapTag, "%s: Snap Device[%s] Source Device [%s]", kMapTag,
                    s.f.targetDev.c_str(), s.sourceName.c_str());
    loadViewParams(snap, s, host.initiators, kReadWrite);
    if (snap.MapSnap() != 0) {
        info->logFormat(2, kMapTag, "%s: Failed to map the device %s", kMapTag,
                        s.f.targetDev.c_str());
        return Step::kNext;
    }
    info->logFormat(0, kMapTag, "%s: Successfully mapped the device %s to host", kMapTag,
                    s.f.targetDev.c_str());
    info->setStatus(RKSO::SNAP_STATUS_MAPPED);
    mapped.push_back(Mapped{info, snap.m_TargetDev.empty() ? s.f.targetDev : snap.m_TargetDev});
    return Step::kMapped;
}

}  // namespace

int mapSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil) {
    if (!checkDevices(kMapTag, devices, count)) return 1;
    RKSO::SnapInfo* first = devices[0];
    first->logFormat(0, kMapTag, "Going to map [%d] snap/clone device(s) to the host",
                     static_cast<int>(count));
    HostSide host;
    if (!startMappingCall(kMapTag, devices, osUtil, host)) return 1;
    if (!readVmwareVendor(kMapTag, devices, osUtil, host)) return 1;
    {
        HostDevices listed(osUtil, first);
        listed.list(host, kMapTag);
    }
    std::vector<CheckAnswer> answers;
    isMapped(devices, count, osUtil, &answers);

    std::vector<Mapped> mapped;
    int found = 0;
    for (short i = 0; i < count; ++i) {
        RKSO::SnapInfo* info = devices[i];
        Step step = Step::kNext;
        try {
            step = mapDevice(info, host, answers.at(static_cast<size_t>(i)), mapped, found);
        } catch (const std::exception& e) {
            containFailure(info, kMapTag, RKSO::SNAP_STATUS_MAP_FAILED, e.what());
        } catch (...) {
            containFailure(info, kMapTag, RKSO::SNAP_STATUS_MAP_FAILED, nullptr);
        }
        if (step == Step::kEndCall) return 1;
    }
    // Nothing could be mapped at all: the call failed.
    if (mapped.empty()) return 1;
    rescanUntilSeen(first, osUtil, host, mapped, found);
    if (found == 0) {
        setError(first, kErrNoOsDevice,
                 "Unable to find OS device(s) corresponding to snap(s)/clone(s)");
        return 1;
    }
    return found >= count ? 0 : 2;
}

}  // namespace rkso
