// CheckandGetArrayID and getSnapEngineVendorCapability: the host's array management
// and engine records, and the search for the array that holds a volume.
#include "engine/ArrayLookup.h"

#include <cerrno>
#include <cstdlib>
#include <new>
#include <vector>

#include "engine/ArrayParams.h"
#include "engine/DeviceLog.h"
#include "engine/EngineCommon.h"
#include "engine/HostBuffer.h"
#include "engine/ItemText.h"

namespace {

const char* const kLookupTag = "RkSnapLSI::CheckandGetArrayID";
const char* const kCapabilityTag = "RkSnapLSI::getSnapEngineCapability";
// Engine records start at 1024 bytes; a host that keeps asking for more is given up on.
constexpr rkso::GrowLimits kEngineRecord = {1024, 8, rkso::kMaxShortBuffer};
constexpr rkso::GrowLimits kArrayList = {0, 3, rkso::kMaxShortBuffer};
constexpr rkso::GrowLimits kCredentials = {RKSO::ARRAY_INFO_BUFFER_SIZE, 3, rkso::kMaxShortBuffer};

bool readEngineRecord(RKSO::SnapInfo* info, RKSO::RKOSUtil* osUtil, int engineId, const char* tag,
                      std::string& record) {
    rkso::HostText text = rkso::growAndRetry(kEngineRecord, [&](char* buf, int size) {
        return static_cast<int>(
            osUtil->getEngineInfoByEngineID(engineId, buf, static_cast<short>(size)));
    });
    if (text.result != 0) {
        rkso::logDevice(info, tag, 2, 2, "Failed to get engine info. EngineId [%d]", engineId);
        return false;
    }
    record = text.text;
    return true;
}

bool readVendorName(RKSO::SnapInfo* info, const std::string& record, int engineId, const char* tag,
                    std::string& vendor) {
    if (parseJsonString(info, record, "SnapVendorName", vendor)) return true;
    rkso::logDevice(info, tag, 2, 2, "Failed to get the SnapVendorName of Engine id [%d]",
                    engineId);
    return false;
}

// The configured arrays of the vendor, in list order; empty names are skipped.
std::vector<std::string> arrayNames(RKSO::SnapInfo* info, RKSO::RKOSUtil* osUtil,
                                    const std::string& vendor) {
    rkso::HostText list = rkso::growAndRetry(kArrayList, [&](char* buf, int size) {
        return static_cast<int>(
            osUtil->getArrayList(vendor.c_str(), '*', static_cast<short>(size), buf));
    });
    std::vector<std::string> names;
    if (list.result != 0) return names;
    size_t pos = 0;
    while (pos <= list.text.size()) {
        size_t star = list.text.find('*', pos);
        if (star == std::string::npos) star = list.text.size();
        if (star > pos) names.push_back(list.text.substr(pos, star - pos));
        pos = star + 1;
    }
    for (const std::string& name : names)
        rkso::logDevice(info, kLookupTag, 0, -1, "Array:[%s]", name.c_str());
    return names;
}

bool readCredentials(RKSO::RKOSUtil* osUtil, const std::string& name, std::string& record) {
    rkso::HostText text = rkso::growAndRetry(kCredentials, [&](char* buf, int size) {
        short len = static_cast<short>(size);
        return static_cast<int>(osUtil->getArrayCredentials(name.c_str(), buf, &len));
    });
    if (text.result != 0) return false;
    record = text.text;
    return true;
}

}  // namespace

bool CheckandGetArrayID(RKSO::RKOSUtil* osUtil, RKSO::SnapInfo* info, std::string& arrayId,
                        std::string& lunUuid, bool select) {
    if (!osUtil || !info) {
        rkso::logDevice(info, kLookupTag, 2, 2, "No host utility or request object given");
        return false;
    }
    const int engineId = osUtil->getEngineId();
    std::string record, vendor;
    if (!readEngineRecord(info, osUtil, engineId, kLookupTag, record) ||
        !readVendorName(info, record, engineId, kLookupTag, vendor))
        return false;
    const std::vector<std::string> names = arrayNames(info, osUtil, vendor);
    if (names.empty()) {
        info->logFormat(2, kLookupTag,
                        "Error:Array list returned by the DB seems to be empty  cannot go ahead");
        std::string msg = "No array entries were found in Array Management for [" + vendor +
                          "] vendor. Please ensure that the array details are configured in "
                          "Array Management.";
        setError(info, kErrArrayInfo, msg.c_str());
        return false;
    }
    for (const std::string& name : names) {
        std::string credentials;
        try {
            if (!readCredentials(osUtil, name, credentials)) {
                info->logFormat(2, kLookupTag,
                                "Error:Unable to get login credentials for Array [%s]",
                                name.c_str());
                return false;
            }
        } catch (const std::bad_alloc&) {
            info->logFormat(2, kLookupTag, "Error:Unable to allocate memory to get the array list");
            return false;
        }
        LSISnapshot snapshot;
        snapshot.SetLogger(info);
        if (!initArrayParams(info, snapshot, credentials.c_str(), select)) {
            info->logFormat(2, kLookupTag, "Failed to initialize the Array parameters");
            return false;
        }
        snapshot.m_SourceDev = lunUuid;
        if (snapshot.CheckArrayExistence() == 0) {
            arrayId = snapshot.m_SystemName;
            return true;
        }
    }
    info->logFormat(2, kLookupTag, "None of the [%d] configured arrays holds the volume [%s]",
                    static_cast<int>(names.size()), lunUuid.c_str());
    return false;
}

bool getSnapEngineVendorCapability(RKSO::SnapInfo* info, RKSO::RKOSUtil* osUtil, short engineId,
                                   std::string& vendorName, int& capability) {
    if (engineId == -1) {
        rkso::logDevice(info, kCapabilityTag, 2, 2, "ID -1 passed as Engine ID");
        return false;
    }
    if (!osUtil) {
        rkso::logDevice(info, kCapabilityTag, 2, 2, "No host utility object given");
        return false;
    }
    std::string record, vendor, capabilities;
    if (!readEngineRecord(info, osUtil, engineId, kCapabilityTag, record) ||
        !readVendorName(info, record, engineId, kCapabilityTag, vendor))
        return false;
    vendorName = vendor;
    char* end = nullptr;
    errno = 0;
    long bits = 0;
    if (parseJsonString(info, record, "Capabilities", capabilities))
        bits = std::strtol(capabilities.c_str(), &end, 10);
    if (!end || end == capabilities.c_str() || errno == ERANGE || bits < 0 || bits > 0x7FFFFFFF) {
        rkso::logDevice(info, kCapabilityTag, 2, 2,
                        "Failed to get the Capabilities of Engine id [%d]", engineId);
        return false;
    }
    capability = static_cast<int>(bits);
    return true;
}
