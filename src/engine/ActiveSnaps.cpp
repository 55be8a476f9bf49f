// GetActiveSnaps: which PiTs of an array the host database still holds, so that
// deletion never removes a PiT the host keeps.
#include <cstdlib>
#include <set>
#include <string>

#include "engine/EngineCommon.h"
#include "engine/Globals.h"
#include "engine/SnapCalls.h"
#include "engine/UniqueId.h"
#include "rkso/RKMMSnapAPI.h"

bool GetActiveSnaps(RKSO::SnapInfo** devices, RKSO::RKOSUtil*, short engineId, std::string arrayId,
                    std::list<std::string>& pitNames, bool) {
    const char* tag = "GetActiveSnaps";
    RKSO::SnapInfo* first = devices[0];
    getSnapEngineType(first);
    const int controlHost = first->getControlHostId();
    SMVolSnapInfo query;
    if (!std::getenv("SNAPTEST_LOCAL_MODE")) {
        query.setSnapShotEngineId(engineId);
        query.setRetrieveValidFlags(6144);
        SMControlHostInfo host;
        host.setControlHostId(controlHost);
        query.addControlHost(host);
        RKMMSnapAPI api(RKMM_CLIENT_SNAPSHOTS);
        if (!api.getVolumeSnaps(query)) {
            if (query.getErrorCode() != RKMM_ERROR_NO_RECORDS) {
                first->logFormat(
                    2, tag, "Unable to fetch snapshot information for engine [%d] from database",
                    static_cast<int>(engineId));
                return false;
            }
            first->logFormat(1, tag, "No active snaps found for Engine ID [%d]",
                             static_cast<int>(engineId));
        }
    }
    std::set<std::string> names;
    std::string logged;
    for (auto it = query.metaDataListBegin(); it != query.metaDataListEnd(); ++it) {
        if (it->getMetaDataType() == 0 || it->getRefType() != RKMM_REF_TYPE_SNAPSHOT ||
            it->getMetaData().empty())
            continue;
        SnapUniqueIdFields f;
        f.pitName = "54";
        if (!parseUniqueId(first, it->getMetaData().c_str(), f.arrayId, f.snapOperation,
                           f.servicePath, f.sourceDev, f.sourceDevPath, f.targetDGPath, f.targetDev,
                           f.targetDevPath, f.pitName, f.consistencyGroupName)) {
            first->logFormat(
                2, tag, "Failed to get NetApp E Series information from unique identifier [%s]",
                it->getMetaData().c_str());
            continue;
        }
        if (f.arrayId != arrayId) continue;
        if (names.insert(f.pitName).second) logged += (logged.empty() ? "" : " ") + f.pitName;
    }
    if (names.empty()) {
        first->logFormat(2, tag, "No snapshots are currently active for NetApp E Series array [%s]",
                         arrayId.c_str());
        return true;
    }
    first->logFormat(2, tag, "Snapshots currently active on NetApp E Series array [%s] are [%s]",
                     arrayId.c_str(), logged.c_str());
    pitNames.insert(pitNames.end(), names.begin(), names.end());
    return true;
}

namespace rkso {

std::list<std::string>* ActiveLists::forArray(RKSO::SnapInfo* info, const std::string& arrayId) {
    auto it = m_lists.find(arrayId);
    if (it != m_lists.end()) return &it->second;
    std::list<std::string> names;
    if (!GetActiveSnaps(m_devices, m_osUtil, info->getSnapEngineId(), arrayId, names, false))
        return nullptr;
    return &m_lists.emplace(arrayId, std::move(names)).first->second;
}

}  // namespace rkso
