// Replica preparation and creation: ValidateCreateReplica, PrepareCreateReplica,
// CreateReplica, IsCopyTypeSupported, PrepareSnap, SnapCreate and IsSupported.
#include "smis/Snapshot.h"

bool SmisAction::ValidateCreateReplica(RkCimConnection&, std::vector<std::string>&,
                                       cim::CIMObjectPath&) {
    DEBUG_TRACE("SMIS::ValidateCreateReplica", "not built yet");
    return false;
}

bool SmisAction::PrepareCreateReplica(RkCimConnection&, std::vector<std::string>&,
                                      std::vector<std::string>&) {
    DEBUG_TRACE("SMIS::PrepareCreateReplica", "not built yet");
    return false;
}

unsigned int SmisAction::CreateReplica(RkCimConnection&, std::vector<std::string>&, std::string&) {
    DEBUG_TRACE("SMIS::CreateReplica", "not built yet");
    return 1;
}

unsigned int SmisAction::IsCopyTypeSupported(RkCimConnection&, std::vector<std::string>&) {
    DEBUG_TRACE("SMIS::IsCopyTypeSupported", "not built yet");
    return 1;
}

namespace RK_SMIS_SNAP {

int Snapshot::PrepareSnap() {
    DEBUG_TRACE("Snapshot::PrepareSnap", "not built yet");
    m_SnapStatus = RKSO::SNAP_STATUS_PREPARE_FAILED;
    return m_SnapStatus;
}

int Snapshot::SnapCreate() {
    DEBUG_TRACE("Snapshot::SnapCreate", "not built yet");
    m_SnapStatus = RKSO::SNAP_STATUS_CREATE_FAILED;
    return m_SnapStatus;
}

int Snapshot::IsSupported(RKSO::SNAP_TYPE) {
    DEBUG_TRACE("Snapshot::IsSupported", "not built yet");
    return 0;
}

}  // namespace RK_SMIS_SNAP
