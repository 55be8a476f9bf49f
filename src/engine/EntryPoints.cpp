// The exported entry points. Every one is self-contained and never lets an
// exception reach the host.
#include <exception>
#include <string>

#include "engine/EngineCommon.h"
#include "engine/Globals.h"
#include "engine/Identification.h"
#include "engine/SnapCalls.h"
#include "engine/SnapshotInfo.h"
#include "engine/UniqueId.h"
#include "rkso/EvDebug.h"
#include "rkso/rkso.h"

namespace {

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

int rkso_isMapped(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil) {
    return guarded("rkso_isMapped",
                   [&] { return rkso::isMapped(devices, count, osUtil, nullptr); });
}

int rkso_mapSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil) {
    return guarded("rkso_mapSnaps", [&] { return rkso::mapSnaps(devices, count, osUtil); });
}

int rkso_unmapSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil) {
    return guarded("rkso_unmapSnaps", [&] { return rkso::unmapSnaps(devices, count, osUtil); });
}

int rkso_revertSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil) {
    return guarded("rkso_revertSnaps", [&] { return rkso::revertSnaps(devices, count, osUtil); });
}

int rkso_deleteSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil) {
    return guarded("rkso_deleteSnaps", [&] { return rkso::deleteSnaps(devices, count, osUtil); });
}

int rkso_reconcileSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil) {
    return guarded("rkso_reconcileSnaps",
                   [&] { return rkso::reconcileSnaps(devices, count, osUtil); });
}

}  // extern "C"
