// Engine records of the host: section "Engines" of the configuration store, one
// key per engine id holding its item text, e.g. 54 = {SnapVendorName:LSI,Capabilities:3}.
#include <cstring>
#include <string>

#include "rkso/EvDebug.h"
#include "rkso/RKPlatformInfo.h"
#include "rkso/SnapInfo.h"

short RKSO::RKOSUtil::getEngineInfoByEngineID(int engineId, char* buf, short size) {
    std::string text;
    if (!RKPlatformInfo().getString("Engines", std::to_string(engineId).c_str(), &text)) {
        EvDebug().DebugLvl("RKOSUtil::getEngineInfoByEngineID", 2,
                           "No engine record for engine id %d", engineId);
        return -1;
    }
    size_t need = text.size() + 1;
    if (need > 32767) return -1;
    if (!buf || size < 0 || static_cast<size_t>(size) < need) return static_cast<short>(need);
    std::memcpy(buf, text.c_str(), need);
    return 0;
}
