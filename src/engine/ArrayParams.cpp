// initArrayParams: a management record and the configuration made into the
// snapshot's provider endpoint, credentials, port, security and namespace.
#include "engine/ArrayParams.h"

#include "engine/DeviceLog.h"
#include "engine/EngineCommon.h"
#include "engine/HostBuffer.h"
#include "engine/ItemText.h"
#include "engine/Tuning.h"

namespace {

const char* const kArrayParamsTag = "initArrayParams";
constexpr int kHttpsPort = 5989;
const char* const kDefaultNamespace = "root/netapp/santricity";

std::string fetchArrayInfo(RKSO::SnapInfo* info, int* result) {
    rkso::HostText record =
        rkso::readSizedText(RKSO::ARRAY_INFO_BUFFER_SIZE,
                            [info](char* buf, short* len) { return info->getArrayInfo(buf, len); });
    *result = record.result;
    return record.text;
}

// Port and HTTPS: snap configuration first, then the tuning values, which win.
void choosePort(RKSO::SnapInfo* info, RK_SMIS_SNAP::RkArrayParams& params) {
    int port = 0, secure = 0;
    const char* portKey = "SMCONFIG_NAME_SMIS_SERVER_PORT";
    const char* secureKey = "SMCONFIG_NAME_USE_SECURE_CONNECTION_TO_SMIS_SERVER";
    info->getConfigInt(portKey, &port);
    info->logFormat(1, kArrayParamsTag, " Array Config [%s:%d]", portKey, port);
    info->getConfigInt(secureKey, &secure);
    info->logFormat(1, kArrayParamsTag, " Array Config [%s:%d]", secureKey, secure);
    GetRegInt(nullptr, "LSI_SMIS_PORT", &port);
    GetRegInt(nullptr, "LSI_SMIS_USE_HTTPS", &secure);
    if (secure != 0) {
        params.useSSL = true;
        params.port = kHttpsPort;
    }
    if (port == 0) return;
    if (port < 1 || port > 65535) {
        info->logFormat(2, kArrayParamsTag, "LSI SMIS port [%d] is not a TCP port; port [%d] stays",
                        port, static_cast<int>(params.port));
        return;
    }
    params.port = port;
    info->logFormat(1, kArrayParamsTag, "LSI SMIS port [%d]", port);
}

// Interop lookup, then the snap configuration, then the tuning value; else the default.
std::string chooseNamespace(RKSO::SnapInfo* info, LSISnapshot& snapshot, bool fromServicePath,
                            NamespaceCache* cache) {
    std::string nameSpace, found;
    std::string endpoint;
    if (!fromServicePath && cache) {
        const RkCimom& c = snapshot.m_CimConnection.GetCimom();
        endpoint = std::string(c.GetUseSSL() ? "https" : "http") + '\n' + c.GetAddress() + '\n' +
                   c.GetPort() + '\n' + c.GetUserName();
    }
    const bool known = !endpoint.empty() && cache->byEndpoint.count(endpoint) != 0;
    if (known) {
        nameSpace = cache->byEndpoint[endpoint];
    } else if (snapshot.GetNamespaceFromInterop(found, fromServicePath) && !found.empty()) {
        nameSpace = found;
        if (!endpoint.empty()) cache->byEndpoint[endpoint] = found;
    }
    const std::string key = "SMCONFIG_NAME_SMIS_NAMESPACE";
    std::string configured;
    if (info->getConfigValue(key, configured)) {
        info->logFormat(1, kArrayParamsTag, "Array Config [%s:%s]", key.c_str(),
                        configured.c_str());
        if (!configured.empty()) nameSpace = configured;
    }
    std::string tuned;
    if (rkso::getTalonString("LSI_OEM_NAMESPACE", tuned)) {
        info->logFormat(1, kArrayParamsTag,
                        "Additional setting to override namespace found. Setting-[%s] : value-[%s]",
                        "LSI_OEM_NAMESPACE", tuned.c_str());
        nameSpace = tuned;
    }
    if (nameSpace.empty()) nameSpace = kDefaultNamespace;
    return nameSpace;
}

// Steps shared by the three forms once the array id and the record are known.
bool applyRecord(RKSO::SnapInfo* info, LSISnapshot& snapshot, const std::string& arrayId,
                 const std::string& record, bool fromServicePath, NamespaceCache* cache = nullptr) {
    RK_SMIS_SNAP::RkArrayParams params;
    if (!parseJsonString(info, record, "hostName", params.address) ||
        !parseJsonString(info, record, "hostUserName", params.userName) ||
        !parseJsonString(info, record, "hostPassword", params.password))
        return false;
    params.userName = rkso::providerUserName(params.userName);
    params.m_SystemName = arrayId;
    choosePort(info, params);
    info->logFormat(0, kArrayParamsTag, " Array params %s %s %s %d", params.m_SystemName.c_str(),
                    params.address.c_str(), params.userName.c_str(), static_cast<int>(params.port));
    snapshot.SetArrayInfo(params);
    const std::string nameSpace = chooseNamespace(info, snapshot, fromServicePath, cache);
    snapshot.m_CimConnection.GetCimom().SetNameSpace(nameSpace);
    return true;
}

bool emptyArrayId(RKSO::SnapInfo* info) {
    info->logFormat(2, kArrayParamsTag, "Failed to get array info as arrayId is empty");
    setError(info, kErrArrayInfo, "Failed to get array info");
    return false;
}

bool selectArray(RKSO::SnapInfo* info, const std::string& arrayId) {
    if (info->setArrayName(arrayId.c_str()) == 0) return true;
    info->logFormat(2, kArrayParamsTag, " Unable to set the login credentials for SMIS provider");
    return false;
}

bool recordUnreadable(RKSO::SnapInfo* info, const std::string& line) {
    info->logFormat(2, kArrayParamsTag, "%s", line.c_str());
    setError(info, kErrArrayInfo, "Failed to get array info");
    return false;
}

}  // namespace

namespace rkso {

std::string providerUserName(std::string userName) {
    size_t first = userName.find('\\');
    if (first == std::string::npos) return userName;
    size_t next = userName.find('\\', first + 1);
    if (next != std::string::npos) userName.erase(next, 1);
    return userName;
}

}  // namespace rkso

bool initArrayParams(RKSO::SnapInfo* info, LSISnapshot& snapshot, const char* record, bool select) {
    if (!info) return false;
    const std::string text = record ? record : "";
    std::string arrayId;
    if (!parseJsonString(info, text, "arrayId", arrayId) || arrayId.empty())
        return emptyArrayId(info);
    if (select && !selectArray(info, arrayId)) return false;
    return applyRecord(info, snapshot, arrayId, text, false);
}

bool initArrayParams(LSISnapshot& snapshot, RKSO::SnapInfo* info, std::string arrayId, bool select,
                     NamespaceCache* cache) {
    if (!info) return false;
    if (arrayId.empty()) return emptyArrayId(info);
    if (select && !selectArray(info, arrayId)) return false;
    int result = 0;
    const std::string record = fetchArrayInfo(info, &result);
    if (result != 0)
        return recordUnreadable(info, "Failed to get array info for array id-[" + arrayId + "]");
    return applyRecord(info, snapshot, arrayId, record, false, cache);
}

bool initArrayParams(LSISnapshot& snapshot, RKSO::SnapInfo* info, std::string arrayId,
                     std::string& record) {
    if (!info) return false;
    if (arrayId.empty()) return emptyArrayId(info);
    if (record.empty()) {
        int result = 0;
        std::string fetched = fetchArrayInfo(info, &result);
        if (result != 0)
            return recordUnreadable(info,
                                    "Failed to get array info for array id [" + arrayId + "]");
        record = fetched;
    }
    return applyRecord(info, snapshot, arrayId, record, true);
}
