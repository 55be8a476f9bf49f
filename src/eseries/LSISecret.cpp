// Shared secret and controller ownership: CheckAndUpdateArraySecret, SetArrayPW and
// the current and preferred controller lookups of LSISnapshot and LSICimUtil.
// Not built yet: each traces so and answers its failure result.
#include "eseries/LSISnapshot.h"

int LSISnapshot::CheckAndUpdateArraySecret(RKSO::SnapInfo*) {
    DEBUG_TRACE("LSISnapshot::CheckAndUpdateArraySecret", "not built yet");
    return 0;
}

bool LSISnapshot::SetArrayPW(std::string&, std::string&) {
    DEBUG_TRACE("LSISnapshot::SetArrayPW", "not built yet");
    return false;
}

int LSISnapshot::GetLSICurrentControllerPath(std::string&) {
    DEBUG_TRACE("LSISnapshot::GetLSICurrentControllerPath", "not built yet");
    return 0;
}

int LSISnapshot::GetLSIPreferredControllerPath(std::string&) {
    DEBUG_TRACE("LSISnapshot::GetLSIPreferredControllerPath", "not built yet");
    return 0;
}

int LSICimUtil::GetLSICurrentControllerPath(RkCimConnection&, std::string, std::string,
                                            std::string&) {
    DEBUG_TRACE("LSICimUtil::GetLSICurrentControllerPath", "not built yet");
    return 1;
}

int LSICimUtil::GetLSIPreferredControllerPath(RkCimConnection&, std::string, std::string,
                                              std::string&) {
    DEBUG_TRACE("LSICimUtil::GetLSIPreferredControllerPath", "not built yet");
    return 1;
}
