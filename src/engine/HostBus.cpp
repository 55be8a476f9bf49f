#include "engine/HostBus.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "engine/ArrayParams.h"
#include "engine/DeviceLog.h"
#include "engine/EngineCommon.h"
#include "engine/Globals.h"
#include "engine/HostBuffer.h"
#include "engine/Identification.h"
#include "engine/UniqueId.h"
#include "eseries/LSISnapshot.h"

namespace {

constexpr const char* kHbaTag = "detectHBA";
constexpr const char* kHbaListTag = "detectHbalist";
constexpr int kQueryHbaCalls = 4;
// A port name longer than this is cut before it reaches the array.
constexpr size_t kMaxPortChars = 128;

std::string fcName(const std::string& port) {
    std::string out;
    for (char c : port.substr(0, kMaxPortChars))
        if (c != ':') out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// queryHba with the grow-and-retry rule: 1 = success, otherwise a size of 0 fails.
bool queryOneHba(RKSO::RKOSUtil* osUtil, const std::string& hostId, const std::string& arrayId,
                 std::string& port, bool& isIscsi) {
    short size = 1024;
    for (int call = 0; call < kQueryHbaCalls; ++call) {
        std::vector<char> buf(static_cast<size_t>(size) + 1, '\0');
        short len = size;
        bool iscsi = false;
        if (osUtil->queryHba(hostId.c_str(), arrayId.c_str(), buf.data(), &len, &iscsi) == 1) {
            buf[static_cast<size_t>(size)] = '\0';
            port.assign(buf.data(), strnlen(buf.data(), static_cast<size_t>(size)));
            isIscsi = iscsi;
            return !port.empty();
        }
        if (len <= 0 || len <= size) return false;
        size = len;
    }
    return false;
}

}  // namespace

bool detectHBA(RKSO::SnapInfo* info, std::string& port, bool& isIscsi, std::string& arrayId,
               RKSO::RKOSUtil* osUtil, std::string hostId) {
    std::string found;
    bool iscsi = false;
    if (!osUtil || !queryOneHba(osUtil, hostId, arrayId, found, iscsi)) {
        rkso::logDevice(info, kHbaTag, 2, 2, "Unable to detect initiator info.");
        return false;
    }
    isIscsi = iscsi;
    if (iscsi) {
        rkso::logDevice(info, kHbaTag, 0, -1, "Detected iSCSI initiator port %s", found.c_str());
        port = found;
    } else {
        rkso::logDevice(info, kHbaTag, 0, -1, "Detected FC initiator port %s", found.c_str());
        port = fcName(found);
    }
    return true;
}

bool detectHbalist(RKSO::SnapInfo* info, RKSO::RKOSUtil* osUtil, std::list<std::string>& ports,
                   std::string& hostId, std::string& arrayId, bool& isIscsi) {
    ports.clear();
    if (!osUtil) return false;
    rkso::logDevice(info, kHbaListTag, 0, -1, "Calling osutil detectHbalist");
    short namesLen = 0, kindsLen = 0, count = 0;
    osUtil->queryHbaList(hostId.c_str(), arrayId.c_str(), nullptr, &namesLen, nullptr, &kindsLen,
                         &count);
    rkso::logDevice(info, kHbaListTag, 0, -1, "After calling osutil detectHbalist");
    if (namesLen <= 0) {
        rkso::logDevice(info, kHbaListTag, 2, 2, "Error: Unable to detect initiator info.");
        return false;
    }
    const short namesSize = namesLen, kindsSize = kindsLen > 0 ? kindsLen : 0;
    std::vector<char> names(static_cast<size_t>(namesSize) + 1, '\0');
    std::vector<char> kinds(static_cast<size_t>(kindsSize) + 1, '\0');
    if (osUtil->queryHbaList(hostId.c_str(), arrayId.c_str(), names.data(), &namesLen, kinds.data(),
                             &kindsLen, &count) != 1 ||
        namesLen <= 0) {
        rkso::logDevice(info, kHbaListTag, 2, 2, "Unable to detect initiator info.");
        return false;
    }
    std::string kind;
    bool iscsi = false;
    if (!queryOneHba(osUtil, hostId, arrayId, kind, iscsi)) {
        rkso::logDevice(info, kHbaListTag, 2, 2, "Unable to detect initiator info.");
        return false;
    }
    const std::string all(names.data(), strnlen(names.data(), static_cast<size_t>(namesSize)));
    rkso::logDevice(info, kHbaListTag, 0, -1, "detectHBAlist [%s]", all.c_str());
    rkso::logDevice(info, kHbaListTag, 0, -1, "detectHBA [%s]", kind.c_str());
    size_t start = 0, index = 0;
    while (start <= all.size()) {
        size_t comma = all.find(',', start);
        if (comma == std::string::npos) comma = all.size();
        const std::string name = all.substr(start, comma - start);
        // A kinds text shorter than the names leaves the rest unknown: not taken.
        if (!name.empty() && index < static_cast<size_t>(kindsSize)) {
            const bool nameIscsi = kinds[index] == 1;
            if (nameIscsi == iscsi) {
                rkso::logDevice(info, kHbaListTag, 0, -1,
                                iscsi ? "iSCSI initiator:[%s]" : "FC initiator:[%s]", name.c_str());
                ports.push_back(name);
            }
        }
        ++index;
        start = comma + 1;
    }
    isIscsi = iscsi;
    return !ports.empty();
}

std::string convertHbaList(RKSO::SnapInfo* info, std::list<std::string>& ports, bool isIscsi) {
    std::string joined;
    for (const std::string& port : ports) {
        if (!joined.empty()) joined += ',';
        joined += isIscsi ? port.substr(0, kMaxPortChars) : fcName(port);
    }
    rkso::logDevice(info, "convertHbaList", 0, -1, " converted hba list to string %s",
                    joined.c_str());
    return joined;
}

void refreshSystemBus(RKSO::SnapInfo*, RKSO::RKOSUtil* osUtil, std::list<std::string> listA,
                      std::list<std::string> listB, std::string hostId) {
    if (!osUtil) return;
    std::vector<const char*> a, b;
    for (const std::string& s : listA) a.push_back(s.c_str());
    for (const std::string& s : listB) b.push_back(s.c_str());
    a.push_back(nullptr);
    b.push_back(nullptr);
    osUtil->rescanDevices(hostId.c_str(), a.data(), b.data());
}

bool getDeviceList(RKSO::SnapInfo* info, std::list<std::string>& devices, RKSO::RKOSUtil* osUtil,
                   std::string hostId, bool, std::string vendor) {
    devices.clear();
    if (!osUtil) return false;
    rkso::HostText listed = rkso::growAndRetry(
        rkso::GrowLimits{4096, 8, rkso::kMaxShortBuffer}, [&](char* buf, int size) -> int {
            return osUtil->listDevices(hostId.c_str(), vendor.c_str(), '*', size, buf);
        });
    if (listed.result != 0) {
        rkso::logDevice(info, "getDeviceList", 2, 2, "Unable to get the device list");
        return false;
    }
    const std::string& text = listed.text;
    const bool vmware = text.find("vmware") != std::string::npos;
    const std::string separator = vmware ? "*{idatype:vmware" : "*";
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        if (at == std::string::npos) break;
        if (at > start) devices.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    if (start < text.size()) devices.push_back(text.substr(start));
    if (devices.empty()) {
        rkso::logDevice(info, "getDeviceList", 2, 2, "Device list is empty");
        return false;
    }
    return true;
}

bool getAllDevicePaths(RKSO::SnapInfo* info, RKSO::RKOSUtil* osUtil,
                       std::list<std::string>& hostDevices, std::string,
                       std::list<std::string>& paths) {
    paths.clear();
    const std::string uuid = lowerCase(getSnapDeviceUUID(info));
    if (uuid.empty()) return true;
    for (const std::string& device : hostDevices)
        if (lowerCase(rkso::lunUuidOf(osUtil, info, device)) == uuid) paths.push_back(device);
    return true;
}

bool isControllerPathMatch(RKSO::SnapInfo* info, RKSO::RKOSUtil*, std::string devicePath,
                           std::string& controllerPath) {
    const char* tag = "isControllerPathMatch";
    rkso::HostText id =
        rkso::readSizedText(RKSO::METADATA_BUFFER_SIZE, [info](char* buf, short* len) {
            return info->getMetaData(RKSO::METADATA_SNAP_UNIQUE_ID, buf, len);
        });
    if (id.result == 1) {
        info->logFormat(2, tag, "Failed to get metadata [id : %d]", RKSO::METADATA_SNAP_UNIQUE_ID);
        info->setStatus(RKSO::SNAP_STATUS_CREATE_FAILED);
        return true;
    }
    const std::string& text = id.text;
    std::string f[10];
    f[8] = "54";
    if (!parseUniqueId(info, text.c_str(), f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8],
                       f[9])) {
        info->logFormat(2, tag, "%s: Failed to parse unique  identifier [%s]", tag, text.c_str());
        info->setStatus(RKSO::SNAP_STATUS_CREATE_FAILED);
        return true;
    }
    if (getSnapEngineType(info) == RKSO::ENGINE_TYPE_PIT && f[6] == "null") f[6] = f[7] = "";
    LSISnapshot snap;
    snap.SetLogger(info);
    if (!initArrayParams(snap, info, f[0], false)) {
        info->logFormat(2, tag, "%s: Fialed to initialize the Array parameters", tag);
        return true;
    }
    RK_SMIS_SNAP::RkSnapParams p;
    p.m_SystemName = f[0];
    p.m_SourceDev = f[3];
    p.m_ServicePath = f[2];
    p.m_SourceDevPath = f[4];
    p.m_TargetDGPath = f[5];
    p.m_TargetDev = f[6];
    p.m_TargetDevPath = f[7];
    snap.SetSnapInfo(p);
    std::string controller;
    if (snap.GetLSICurrentControllerPath(controller) != 1 || controller.empty()) return true;
    info->logFormat(0, tag, "got S#[%s] for device UUID[%s]", controller.c_str(), f[6].c_str());
    controllerPath = controller;
    std::string serial;
    if (!getDeviceSerialNumber(info, devicePath, serial) || serial.empty()) return true;
    if (controller.find(serial) != std::string::npos) return true;
    info->logFormat(0, tag, "serial numbers [%s] [%s] does not match", controller.c_str(),
                    serial.c_str());
    return false;
}

namespace rkso {

const char* const kDebugHookFile = "C:\\RKSNAPHANDLER_LSI_DEBUG_HOOK";

void logListedDevices(RKSO::SnapInfo* info, const char* tag,
                      const std::list<std::string>& devices) {
    if (access(kDebugHookFile, F_OK) != 0) return;
    int n = 0;
    for (const std::string& d : devices)
        logDevice(info, tag, 0, -1, " Volume [%d] DeviceName [%s]", n++, d.c_str());
}

std::string lunUuidOf(RKSO::RKOSUtil* osUtil, RKSO::SnapInfo* info, const std::string& device) {
    std::string vendor, product, arrayId, uuid;
    if (!getDevArrayInfo(osUtil, info, device.c_str(), vendor, product, arrayId, uuid, false,
                         false))
        return std::string();
    return uuid;
}

}  // namespace rkso
