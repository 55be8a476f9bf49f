// Device identification: whether a host device is a volume of a supported array,
// and which array and volume it is, from SCSI inquiry (or, for VMware, from the
// descriptor text the host hands over instead of a path).
#pragma once

#include <string>

#include "rkso/SnapInfo.h"
#include "rkso/rkso.h"

// Vendor, product, array id and LUN UUID of deviceName. info may be null (lines then
// go to the module log); a VMware descriptor needs it, and flag is handed to
// CheckandGetArrayID for those. skipVendorCheck leaves out isSuuportedOEM.
bool getDevArrayInfo(RKSO::RKOSUtil* osUtil, RKSO::SnapInfo* info, const char* deviceName,
                     std::string& vendor, std::string& product, std::string& arrayId,
                     std::string& lunUuid, bool skipVendorCheck, bool flag);

// Unit serial number (page 0x80) of deviceName.
bool getDeviceSerialNumber(RKSO::SnapInfo* info, std::string deviceName, std::string& serial);

// The model key of the host's device map that identification reads and replaces.
extern const char* const kIdentifyModelKey;

namespace rkso {

// Bodies of rkso_isSupported and rkso_identifyDevices.
int isSupported(const char* deviceName, RKSO::RKOSUtil* osUtil);
int identifyDevices(RKSO::SnapInfo** devices, short count, RksoDevicesByModel* devicesByModel,
                    int operation, RKSO::RKOSUtil* osUtil);

}  // namespace rkso
