// What rkso_isSupported and rkso_identifyDevices do once called.
#include <algorithm>
#include <cctype>
#include <map>
#include <utility>

#include "engine/DeviceLog.h"
#include "engine/EngineCommon.h"
#include "engine/Globals.h"
#include "engine/Identification.h"
#include "engine/OemTable.h"
#include "engine/UniqueId.h"
#include "rkso/EvDebug.h"

const char* const kIdentifyModelKey = "NETAPP  |::|INF-01-00       ";

namespace {

const char* const kIdentifyTag = "LSI";
constexpr int kIdentifyOperation = 3;

// A volume's key: array id and LUN UUID, in the case the identifier writes them.
using VolumeKey = std::pair<std::string, std::string>;

VolumeKey volumeKey(const std::string& arrayId, const std::string& lunUuid) {
    return {upperCase(arrayId), upperCase(lunUuid)};
}

// The listed devices' volumes; a later device of the same volume replaces an earlier one.
std::map<VolumeKey, std::string> volumesOf(const std::list<std::string>& paths,
                                           RKSO::RKOSUtil* osUtil, RKSO::SnapInfo* first) {
    std::map<VolumeKey, std::string> found;
    for (const std::string& path : paths) {
        std::string vendor, product, arrayId, lunUuid;
        if (!getDevArrayInfo(osUtil, first, path.c_str(), vendor, product, arrayId, lunUuid, false,
                             false)) {
            first->logFormat(1, kIdentifyTag, "Unable to get array id and lun UUID for device [%s]",
                             path.c_str());
            continue;
        }
        first->logFormat(0, kIdentifyTag, "Found array ID [%s] and lun UUId [%s] for device [%s].",
                         arrayId.c_str(), lunUuid.c_str(), path.c_str());
        found[volumeKey(arrayId, lunUuid)] = path;
    }
    return found;
}

// The device path of the snapshot volume named by the request's identifier, if listed.
bool snapshotDevice(RKSO::SnapInfo* request, const std::map<VolumeKey, std::string>& volumes,
                    std::string& path) {
    std::string source, text;
    request->getSourceDeviceName(source);
    if (!request->getMetaDataValue(RKSO::METADATA_SNAP_UNIQUE_ID, text)) {
        request->logFormat(1, kIdentifyTag,
                           "Unable to get unique identifier metadata [%d] for source device [%s]",
                           RKSO::METADATA_SNAP_UNIQUE_ID, source.c_str());
        return false;
    }
    std::string arrayId, operation, service, sourceDev, sourcePath, group, targetDev, targetPath;
    std::string pitName = "null", groupName = "null";  // the PiT fields are not wanted
    if (text.empty() ||
        !parseUniqueId(request, text.c_str(), arrayId, operation, service, sourceDev, sourcePath,
                       group, targetDev, targetPath, pitName, groupName)) {
        request->logFormat(2, kIdentifyTag,
                           "Unable to get snap information from unique identifier [%s]",
                           text.c_str());
        return false;
    }
    request->logFormat(0, kIdentifyTag, "Finding device with array id [%s] and lun UUID [%s]",
                       arrayId.c_str(), targetDev.c_str());
    auto it = volumes.find(volumeKey(arrayId, targetDev));
    if (it == volumes.end()) return false;
    request->logFormat(1, kIdentifyTag, "Found device [%s]", it->second.c_str());
    path = it->second;
    return true;
}

}  // namespace

namespace rkso {

int isSupported(const char* deviceName, RKSO::RKOSUtil* osUtil) {
    const char* tag = "rkso_isSupported";
    if (!deviceName) {
        o_logger.DebugLvl(tag, -1, "Function called with NULL character device name");
        return 1;
    }
    std::string vendor, product, arrayId, lunUuid;
    if (!getDevArrayInfo(osUtil, nullptr, deviceName, vendor, product, arrayId, lunUuid, true,
                         false)) {
        o_logger.DebugLvl(tag, -1,
                          "Failed to get the array info of device, device does not belog to LSI");
        return 2;
    }
    if (!isSuuportedOEM(nullptr, vendor, product)) {
        o_logger.DebugLvl(
            tag, -1,
            "The device %s does not belong to LSI array. Vendor of the device is - %s and product "
            "line %s",
            deviceName, vendor.c_str(), product.c_str());
        return 1;
    }
    o_logger.DebugLvl(tag, 2, "Device %s belong to array - %s vendor - %s product %s ", deviceName,
                      arrayId.c_str(), vendor.c_str(), product.c_str());
    return 0;
}

int identifyDevices(RKSO::SnapInfo** devices, short count, RksoDevicesByModel* devicesByModel,
                    int operation, RKSO::RKOSUtil* osUtil) {
    EvDebug log(nullptr);
    if (count <= 0) {
        log.DebugLvl(kIdentifyTag, -1, "Device count[%d] not valid", count);
        return 1;
    }
    if (!devices || !devices[0]) {
        log.DebugLvl(kIdentifyTag, -1, "Device list is null");
        return 1;
    }
    if (!osUtil) {
        log.DebugLvl(kIdentifyTag, -1, "Snap util object is null");
        return 1;
    }
    for (short i = 0; i < count; ++i) {
        if (!devices[i]) {
            log.DebugLvl(kIdentifyTag, -1, "Invalid snapInfo pointer.");
            return 1;
        }
    }
    RKSO::SnapInfo* first = devices[0];
    first->logFormat(1, kIdentifyTag, "Starting to identify [%d] devices.", count);
    if (operation != kIdentifyOperation) return 0;
    if (!devicesByModel) {
        log.DebugLvl(kIdentifyTag, -1, "Device map is null");
        return 1;
    }
    auto listed = devicesByModel->find(kIdentifyModelKey);
    if (listed == devicesByModel->end() || listed->second.empty()) {
        first->logFormat(1, kIdentifyTag,
                         "None of the mounted devices belongs to vendor [%s] and product [%s]",
                         "NETAPP  ", "INF-01-00       ");
        return 0;
    }
    const std::map<VolumeKey, std::string> volumes = volumesOf(listed->second, osUtil, first);
    std::list<std::string> result;
    for (short i = 0; i < count; ++i) {
        std::string path;
        if (snapshotDevice(devices[i], volumes, path)) result.push_back(path);
    }
    listed->second = std::move(result);
    return 0;
}

}  // namespace rkso
