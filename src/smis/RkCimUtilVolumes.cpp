// Volume lookup by UUID over the process-wide volume cache.
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "RkCimUtilInternal.h"
#include "rkso/RKPlatformInfo.h"
#include "smis/ProviderVendor.h"
#include "smis/RkCimConnection.h"
#include "smis/RkCimUtil.h"

RkCriticalSection RkCimUtil::m_CimUtilLock;

namespace {

const char* const kVolumeClass = "CIM_StorageVolume";

// The volume instances (with "Name" only) shared by every lookup of the process, one
// list per provider view: endpoint, namespace and user. A list holds the volumes of
// every system the provider manages; the walk filters by system. Touched only while
// m_CimUtilLock is held.
std::map<std::string, std::vector<cim::CIMInstance>>& VolumeCache() {
    static std::map<std::string, std::vector<cim::CIMInstance>> cache;
    return cache;
}

constexpr int kAuthFailureHostError = 60555;

// The volumes (with "Name" only) whose "Name" is uuid, from one enumeration that streams
// past: a lookup without the cache never holds the whole list. Failures are retried, and a
// rejected credential reported, as RkCimConnection's own reads do.
std::vector<cim::CIMInstance> VolumesNamed(RkCimConnection& conn, const RkCimUtil& util,
                                           const std::string& uuid, const char* fn) {
    static const char* const read = "RkCimConnection::GetInstances";
    unsigned long faultRetry = 0;
    RKPlatformInfo().getNumber("Talon", "RK_PEGASUS_FAULT_RETRY", &faultRetry);
    short retryCount = 0;
    for (;;) {
        std::vector<cim::CIMInstance> matches;
        int count = 0;
        try {
            std::shared_ptr<cim::CIMClient> client = conn.GetClient();
            if (!client) throw cim::NotConnectedException();
            client->forEachInstance(
                cim::CIMNamespaceName(conn.GetNameSpace()), kVolumeClass,
                [&](cim::CIMInstance&& inst) {
                    ++count;
                    if (util.GetCIMProp(inst, "Name") == uuid) matches.push_back(std::move(inst));
                },
                true, false, false, false, cim::CIMPropertyList({cim::CIMName("Name")}));
            util.DEBUG_TRACE(fn, "Class [%s] got %d instances", kVolumeClass, count);
            return matches;
        } catch (const cim::Exception& e) {
            const std::string text = e.getMessage();
            auto* http = dynamic_cast<const cim::HttpException*>(&e);
            if (http && http->getStatus() == 401) {
                if (faultRetry == 0) {
                    if (!conn.AuthFailed())
                        conn.DEBUG_SET_ERROR(kAuthFailureHostError, text.c_str());
                    conn.SetAuthFailed(true);
                    return {};
                }
                conn.DEBUG_TRACE(read,
                                 "Unauthorized Exception [%s], continue with retry  as PEGASUS "
                                 "retry regkey present",
                                 text.c_str());
            }
            if (conn.ConnectionRetry(retryCount, e) != 1) {
                conn.DEBUG_TRACE(read, "Client Timed out Exception %s", text.c_str());
                throw;
            }
        }
    }
}

std::string CacheKey(const RkCimConnection& conn) {
    const RkCimom& c = conn.GetCimom();
    return std::string(c.GetUseSSL() ? "https" : "http") + '\n' + c.GetAddress() + '\n' +
           c.GetPort() + '\n' + c.GetNameSpace() + '\n' + c.GetUserName();
}

}  // namespace

size_t RkCimUtil::VolumeCacheSize() {
    RkCriticalSectionLock lock(&m_CimUtilLock);
    size_t n = 0;
    for (const auto& entry : VolumeCache()) n += entry.second.size();
    return n;
}

void RkCimUtil::ClearVolumeCache() {
    RkCriticalSectionLock lock(&m_CimUtilLock);
    VolumeCache().clear();
}

std::string RkCimUtil::GetVolObjPathByUUID(RkCimConnection& conn, std::string uuid,
                                           std::string systemName) {
    const char* fn = "SMIS::GetVolObjPathByUUID";
    LookupScope scope(*this);
    int setting = 0;
    const bool caching =
        RKPlatformInfo().getRegInt("Talon", "RK_SMIS_CACHE_VOLUME_INSTANCES", &setting) &&
        setting > 0;
    if (caching)
        DEBUG_TRACE(fn,
                    "Found volume caching enabled, not going to fetch volumes if already cached");

    // Without caching the lookup keeps its own list and shares nothing, so parallel
    // workers never wait for each other's enumerations.
    const std::string key = caching ? CacheKey(conn) : std::string();
    std::optional<RkCriticalSectionLock> lock;
    if (caching) {
        lock.emplace(&m_CimUtilLock);
        DEBUG_TRACE(fn, "Acquired CimUtil lock");
    }
    std::vector<cim::CIMInstance> unshared;
    std::vector<cim::CIMInstance>& cache = caching ? VolumeCache()[key] : unshared;
    std::string result;
    try {
        if (caching && !cache.empty()) DEBUG_TRACE(fn, "Not fetching volumes as already cached");
        bool filledHere = false;
        auto fill = [&]() {
            // Emptied first: a failed fill must leave no list behind.
            cache.clear();
            std::vector<cim::CIMInstance> fresh =
                conn.GetInstances(kVolumeClass, cim::CIMPropertyList({cim::CIMName("Name")}));
            rkcimutil::ThrowIfAuthFailed(conn);
            cache.swap(fresh);
            DEBUG_TRACE(fn, "Class [%s] got %d instances", kVolumeClass,
                        static_cast<int>(cache.size()));
        };
        // Without caching only the volumes with the UUID are kept.
        std::vector<cim::CIMInstance> named;
        if (!caching) {
            named = VolumesNamed(conn, *this, uuid, fn);
            rkcimutil::ThrowIfAuthFailed(conn);
        } else if (cache.empty()) {
            fill();
            filledHere = true;
        } else {
            DEBUG_TRACE(fn, "Found Class [%s] %d instances in cache", kVolumeClass,
                        static_cast<int>(cache.size()));
        }

        const std::string nameSpace = conn.GetNameSpace();
        auto search = [&]() -> bool {
            for (const cim::CIMInstance& inst : caching ? cache : named) {
                if (GetCIMProp(inst, "Name") != uuid) continue;
                cim::CIMObjectPath path = inst.getPath();
                path.setNameSpace(nameSpace);
                if (systemName.empty()) {
                    result = path.toString();
                    return true;
                }
                std::string actual = GetPropByObjPath(path, "SystemName");
                if (RKProviderVendor::GetVendorId(path) == VENDOR_IBMSVC)
                    actual = actual.substr(0, actual.find(':'));
                if (actual == systemName) {
                    result = path.toString();
                    return true;
                }
                DEBUG_TRACE(fn,
                            "For the given UUID [%s], System name given [%s] but actual system "
                            "name [%s]",
                            uuid.c_str(), systemName.c_str(), actual.c_str());
            }
            return false;
        };

        bool found = search();
        bool refreshed = false;
        if (!found && caching && !filledHere) {
            // The volume may have been created after the cache was filled.
            fill();
            refreshed = true;
            DEBUG_TRACE(fn,
                        "Volume UUID not found in the list, refreshed cached volume instances "
                        "and going to check in refreshed list");
            found = search();
        }
        if (found && refreshed)
            DEBUG_TRACE(fn, "Found volume UUID [%s] in the refreshed cache list", uuid.c_str());
    } catch (const cim::CIMException& e) {
        rkcimutil::TraceCimException(*this, fn, __FILE__, __LINE__, e);
        SetLookupFailed();
        result.clear();
    } catch (const cim::Exception& e) {
        rkcimutil::TraceException(*this, fn, __FILE__, __LINE__, e);
        SetLookupFailed();
        result.clear();
    } catch (...) {
        DEBUG_TRACE(fn, "Caught unknown Exception");
        SetLookupFailed();
        result.clear();
    }
    if (LookupFailed())
        DEBUG_TRACE(fn, "Volume list could not be read, volume UUID [%s] unknown", uuid.c_str());
    // An empty list is not kept: the next lookup reads the volumes again.
    if (caching && cache.empty()) VolumeCache().erase(key);
    if (caching) DEBUG_TRACE(fn, "Released CimUtil lock");
    return result;
}
