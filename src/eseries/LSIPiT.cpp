// PiT groups and PiTs: PreparePiT, CreatePiTGroup and CreatePiT.
#include "eseries/LSISnapshot.h"

int LSISnapshot::PreparePiT() {
    DEBUG_TRACE("Snapshot::PreparePiT", "not built yet");
    m_SnapStatus = RKSO::SNAP_STATUS_PREPARE_FAILED;
    return m_SnapStatus;
}

int LSISnapshot::CreatePiTGroup() {
    DEBUG_TRACE("LSISnapshot::CreatePiTGroup", "not built yet");
    return -1;
}

int LSISnapshot::CreatePiT() {
    DEBUG_TRACE("Snapshot::CreatePiT", "not built yet");
    m_SnapStatus = RKSO::SNAP_STATUS_CREATE_FAILED;
    return m_SnapStatus;
}
