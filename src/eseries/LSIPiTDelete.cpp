// PiT deletion and status: DeletePiT, GetPiTStatus and LSICimUtil::CheckPiTExistence.
// Not built yet: each traces so and answers its failure result.
#include "eseries/LSISnapshot.h"

int LSISnapshot::DeletePiT(std::list<std::string>&, bool) {
    DEBUG_TRACE("LSISnapshot::DeletePiT", "not built yet");
    return RKSO::SNAP_STATUS_DELETE_FAILED;
}

int LSISnapshot::GetPiTStatus() {
    DEBUG_TRACE("LSISnapshot::GetPiTStatus", "not built yet");
    return 0;
}

int LSICimUtil::CheckPiTExistence(RkCimConnection, std::string, std::string, std::string) {
    DEBUG_TRACE("LSICimUtil::CheckPiTExistence", "not built yet");
    return -1;
}
