// The twelve functions a snapshot plug-in exports, with unmangled names, and
// pointer types for hosts that resolve them with dlsym.
#pragma once

#include <list>
#include <map>
#include <string>

#include "rkso/SnapInfo.h"

#if defined(__GNUC__)
#define RKSO_EXPORT __attribute__((visibility("default")))
#else
#define RKSO_EXPORT
#endif

typedef std::map<std::string, std::list<std::string>> RksoDevicesByModel;

extern "C" {

// Result codes of the device-array functions: 0 = every device succeeded,
// 1 = none did or the call was invalid, 2 = some did.
RKSO_EXPORT void rkso_version(unsigned short* major, unsigned short* minor, unsigned short* patch);
RKSO_EXPORT int rkso_isSupported(const char* deviceName, int unused1, RKSO::RKOSUtil* osUtil,
                                 void* unused2, short unused3);
RKSO_EXPORT int rkso_identifyDevices(RKSO::SnapInfo** devices, short count,
                                     RksoDevicesByModel* devicesByModel, int operation,
                                     void* unused, RKSO::RKOSUtil* osUtil);
RKSO_EXPORT int rkso_prepareDevices(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil);
RKSO_EXPORT int rkso_unprepareDevices(RKSO::SnapInfo** devices, short count,
                                      RKSO::RKOSUtil* osUtil);
RKSO_EXPORT int rkso_snapDevices(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil);
RKSO_EXPORT int rkso_isMapped(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil);
RKSO_EXPORT int rkso_mapSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil);
RKSO_EXPORT int rkso_unmapSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil);
RKSO_EXPORT int rkso_revertSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil);
RKSO_EXPORT int rkso_deleteSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil);
RKSO_EXPORT int rkso_reconcileSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil);
}

typedef void (*rkso_version_fn)(unsigned short*, unsigned short*, unsigned short*);
typedef int (*rkso_isSupported_fn)(const char*, int, RKSO::RKOSUtil*, void*, short);
typedef int (*rkso_identifyDevices_fn)(RKSO::SnapInfo**, short, RksoDevicesByModel*, int, void*,
                                       RKSO::RKOSUtil*);
// Shape shared by prepare, unprepare, snap, isMapped, map, unmap, revert, delete, reconcile.
typedef int (*rkso_devices_fn)(RKSO::SnapInfo**, short, RKSO::RKOSUtil*);
