// PiT views and their removal: ModifyPiT, GetTargetPiTView, checkCGPiTViewCreated,
// PiTViewSync, IsPiTAttached, checkCGPiTViewMappings and
// LSICimUtil::GetPiTElmtNameFromTarget. Not built yet: each traces so and answers
// its failure result.
#include "eseries/LSISnapshot.h"

int LSISnapshot::ModifyPiT(unsigned short operation) {
    DEBUG_TRACE("LSISnapshot::ModifyPiT", "not built yet");
    m_SnapStatus =
        operation == 32768 ? RKSO::SNAP_STATUS_REVERT_FAILED : RKSO::SNAP_STATUS_CREATE_FAILED;
    return m_SnapStatus;
}

int LSISnapshot::GetTargetPiTView(std::string&) {
    DEBUG_TRACE("LSISnapshot::GetTargetPiTView", "not built yet");
    m_SnapStatus = RKSO::SNAP_STATUS_CREATE_FAILED;
    return m_SnapStatus;
}

int LSISnapshot::checkCGPiTViewCreated(std::string&, std::string&) {
    DEBUG_TRACE("LSISnapshot::checkCGPiTViewCreated", "not built yet");
    return -1;
}

int LSISnapshot::PiTViewSync(unsigned short operation, unsigned short) {
    DEBUG_TRACE("LSISnapshot::PiTViewSync", "not built yet");
    if (operation == 19) return RKSO::SNAP_STATUS_DELETE_FAILED;
    m_SnapStatus = RKSO::SNAP_STATUS_CREATE_FAILED;
    return m_SnapStatus;
}

int LSISnapshot::IsPiTAttached() {
    DEBUG_TRACE("LSISnapshot::IsPiTAttached", "not built yet");
    return 0;
}

bool LSISnapshot::checkCGPiTViewMappings() {
    DEBUG_TRACE("LSISnapshot::checkCGPiTViewMappings", "not built yet");
    return false;
}

bool LSICimUtil::GetPiTElmtNameFromTarget(RkCimConnection, std::string, std::string, std::string&,
                                          std::string&) {
    DEBUG_TRACE("LSICimUtil::GetPiTElmtNameFromTarget", "not built yet");
    return true;
}
