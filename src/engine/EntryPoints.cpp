// The exported entry points. Every one is self-contained and never lets an
// exception reach the host.
#include <exception>
#include <string>

#include "engine/EngineCommon.h"
#include "engine/Globals.h"
#include "engine/Identification.h"
#include "engine/SnapshotInfo.h"
#include "engine/UniqueId.h"
#include "rkso/EvDebug.h"
#include "rkso/rkso.h"

namespace {

constexpr int kErrHostIdentifier = 62002;

void logUnavailable(const char* tag, RKSO::SnapInfo* first) {
    o_logger.DebugLvl(tag, 2, "%s: This operation is not available in this version of the plug-in",
                      tag);
    if (first)
        first->logFormat(2, tag,
                         "%s: This operation is not available in this version of the plug-in", tag);
}

// Catches whatever escapes body and turns it into result 1.
template <typename Body>
int guarded(const char* tag, Body&& body) {
    try {
        return body();
    } catch (const std::exception& e) {
        o_logger.DebugLvl(tag, 2, "%s: unexpected failure: %s", tag, e.what());
    } catch (...) {
        o_logger.DebugLvl(tag, 2, "%s: unexpected failure", tag);
    }
    return 1;
}

// Log levels of the start lines, as administrators know them.
constexpr int kDetail = 0;
constexpr int kProgress = 1;

// The frame shared by the device-array entry points: count check, start line (with
// the device count, where the text has a place for it) and, for the mapping-related
// ones, the host identifier of the first device.
int deviceArrayCall(const char* tag, RKSO::SnapInfo** devices, short count, int startLevel,
                    const char* startFormat, bool needsHostId) {
    return guarded(tag, [&] {
        if (!rkso::checkDevices(tag, devices, count)) return 1;
        RKSO::SnapInfo* first = devices[0];
        first->logFormat(startLevel, tag, startFormat, static_cast<int>(count));
        if (needsHostId) {
            std::string hostId;
            if (!getHostIdentifier(first, hostId)) {
                std::string msg = std::string(tag) + ": Failed to get host identifier";
                setError(first, kErrHostIdentifier, msg.c_str());
                return 1;
            }
        }
        logUnavailable(tag, first);
        return 1;
    });
}

}  // namespace

extern "C" {

void rkso_version(unsigned short* major, unsigned short* minor, unsigned short* patch) {
    if (!major || !minor || !patch) return;
    *major = 1;
    *minor = 0;
    *patch = 0;
}

int rkso_isSupported(const char* deviceName, int, RKSO::RKOSUtil* osUtil, void*, short) {
    return guarded("rkso_isSupported", [&] { return rkso::isSupported(deviceName, osUtil); });
}

int rkso_identifyDevices(RKSO::SnapInfo** devices, short count, RksoDevicesByModel* devicesByModel,
                         int operation, void*, RKSO::RKOSUtil* osUtil) {
    return guarded("rkso_identifyDevices", [&] {
        return rkso::identifyDevices(devices, count, devicesByModel, operation, osUtil);
    });
}

int rkso_prepareDevices(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil) {
    return guarded("rkso_prepareDevices",
                   [&] { return rkso::prepareDevices(devices, count, osUtil); });
}

int rkso_unprepareDevices(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil*) {
    const char* tag = "rkso_unprepareDevices";
    return guarded(tag, [&] {
        if (count < 1) return 0;  // nothing to do
        if (!rkso::checkDevices(tag, devices, count)) return 1;
        int cleared = 0;
        for (short i = 0; i < count; ++i) {
            RKSO::SnapInfo* device = devices[i];
            if (device->setMetaData(RKSO::METADATA_SNAP_UNIQUE_ID, nullptr) == 1)
                device->logFormat(2, tag, "Failed to set metadata [id : %d]",
                                  RKSO::METADATA_SNAP_UNIQUE_ID);
            else
                ++cleared;
            device->setStatus(RKSO::SNAP_STATUS_UNPREPARED);
        }
        return rkso::resultFromSuccesses(cleared, count);
    });
}

int rkso_snapDevices(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil) {
    return guarded("rkso_snapDevices", [&] { return rkso::snapDevices(devices, count, osUtil); });
}

int rkso_isMapped(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil*) {
    return deviceArrayCall("rkso_isMapped", devices, count, kDetail,
                           "Going to check if [%d] snap/clone device(s) is mapped", true);
}

int rkso_mapSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil*) {
    return deviceArrayCall("rkso_mapSnaps", devices, count, kDetail,
                           "Going to map [%d] snap/clone device(s) to the host", true);
}

int rkso_unmapSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil*) {
    return deviceArrayCall("rkso_unmapSnaps", devices, count, kDetail,
                           "Going to unmap [%d] snap/clone device(s) from the host", true);
}

int rkso_revertSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil*) {
    return deviceArrayCall("rkso_revertSnaps", devices, count, kDetail,
                           "Going to restore/reverse sync snap/clone device. If the operation "
                           "fails, please check LSI provider capability",
                           true);
}

int rkso_deleteSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil*) {
    return deviceArrayCall("rkso_deleteSnaps", devices, count, kProgress,
                           "Going to delete [%d] snap / clone device{s]", false);
}

int rkso_reconcileSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil*) {
    return deviceArrayCall("rkso_reconcileSnaps", devices, count, kDetail,
                           "Going to check [%d] snap / clone device{s] status on the Storage Array",
                           false);
}

}  // extern "C"
