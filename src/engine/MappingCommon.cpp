// The start shared by the mapping calls: who the host is, which array, which ports.
#include <algorithm>
#include <cctype>
#include <string>

#include "engine/EngineCommon.h"
#include "engine/HostBuffer.h"
#include "engine/HostBus.h"
#include "engine/Identification.h"
#include "engine/SnapCalls.h"
#include "engine/UniqueId.h"

namespace rkso {

namespace {

std::string devicePath(RKSO::SnapInfo* info) {
    return readSizedText(RKSO::DEVICE_PATH_BUFFER_SIZE,
                         [info](char* buf, short* len) { return info->getDevicePath(buf, len); })
        .text;
}

}  // namespace

bool startMappingCall(const char* tag, RKSO::SnapInfo** devices, RKSO::RKOSUtil* osUtil,
                      HostSide& host) {
    RKSO::SnapInfo* first = devices[0];
    if (!getHostIdentifier(first, host.hostId)) {
        const std::string msg = std::string(tag) + ": Failed to get host identifier";
        setError(first, kErrHostIdentifier, msg.c_str());
        return false;
    }
    host.arrayId = getStorageArrayId(first);
    host.vmware = devicePath(first).find("vmware") != std::string::npos;
    bool ok;
    if (host.vmware) {
        std::string port;
        ok = detectHBA(first, port, host.iscsi, host.arrayId, osUtil, host.hostId);
        host.ports.clear();
        if (ok) host.ports.push_back(port);
    } else {
        ok = detectHbalist(first, osUtil, host.ports, host.hostId, host.arrayId, host.iscsi);
    }
    if (!ok || host.ports.empty()) {
        const std::string msg = std::string(tag) + ": Unable to detect initiator info.";
        setError(first, kErrInitiators, msg.c_str());
        return false;
    }
    host.initiators = convertHbaList(first, host.ports, host.iscsi);
    return true;
}

bool readVmwareVendor(const char* tag, RKSO::SnapInfo** devices, RKSO::RKOSUtil* osUtil,
                      HostSide& host) {
    if (!host.vmware) return true;
    RKSO::SnapInfo* first = devices[0];
    const std::string path = devicePath(first);
    first->logFormat(0, tag, "%s: Attempting to get LSI OEM vendor name from host device path %s",
                     tag, path.c_str());
    std::string product, arrayId, uuid;
    if (!getDevArrayInfo(osUtil, first, path.c_str(), host.vendor, product, arrayId, uuid, false,
                         false)) {
        char msg[1200];
        std::snprintf(msg, sizeof msg,
                      "%s: Failed to get LSI OEM vendor name from host device name[%s]", tag,
                      path.substr(0, 1024).c_str());
        setError(first, kErrNotSupported, msg);
        return false;
    }
    return true;
}

bool HostDevices::list(const HostSide& host, const char* tag) {
    m_uuids.clear();
    const bool ok = getDeviceList(m_info, m_names, m_osUtil, host.hostId, host.vmware, host.vendor);
    logListedDevices(m_info, tag, m_names);
    return ok;
}

std::string HostDevices::find(const std::string& lunUuid) {
    if (lunUuid.empty()) return std::string();
    const std::string wanted = lowerCase(lunUuid);
    for (const std::string& name : m_names) {
        auto it = m_uuids.find(name);
        if (it == m_uuids.end())
            it = m_uuids.emplace(name, lowerCase(lunUuidOf(m_osUtil, m_info, name))).first;
        if (!it->second.empty() && it->second == wanted) return name;
    }
    return std::string();
}

}  // namespace rkso
