// Synchronization control and deletion: ModifySync, ReSync, DetachVol, DeleteVol,
// SnapSyncOp, SnapRestore, SnapDelete and DetachSnap. Not built yet: each traces
// so and answers its failure result.
#include "smis/Snapshot.h"

unsigned int SmisAction::ModifySync(RkCimConnection&, std::vector<std::string>&, bool) {
    DEBUG_TRACE("SMIS::ModifySync", "not built yet");
    return 1;
}

unsigned int SmisAction::ReSync(RkCimConnection&, const cim::CIMNamespaceName&,
                                const cim::CIMObjectPath&, const cim::Array<cim::CIMParamValue>&) {
    DEBUG_TRACE("SMIS::ReSync", "not built yet");
    return 1;
}

unsigned int SmisAction::DetachVol(RkCimConnection&, std::vector<std::string>&) {
    DEBUG_TRACE("SMIS::DetachVol", "not built yet");
    return 1;
}

unsigned int SmisAction::DeleteVol(RkCimConnection&, std::vector<std::string>&) {
    DEBUG_TRACE("SMIS::DeleteVol", "not built yet");
    return 1;
}

namespace RK_SMIS_SNAP {

int Snapshot::SnapSyncOp(unsigned short, bool) {
    DEBUG_TRACE("Snapshot::SnapSyncOp", "not built yet");
    m_SnapStatus = RKSO::SNAP_STATUS_CREATE_FAILED;
    return m_SnapStatus;
}

int Snapshot::SnapRestore(short) {
    DEBUG_TRACE("Snapshot::SnapRestore", "not built yet");
    m_SnapStatus = RKSO::SNAP_STATUS_REVERT_FAILED;
    return m_SnapStatus;
}

int Snapshot::SnapDelete() {
    DEBUG_TRACE("Snapshot::SnapDelete", "not built yet");
    return RKSO::SNAP_STATUS_DELETE_FAILED;
}

int Snapshot::DetachSnap() {
    DEBUG_TRACE("Snapshot::DetachSnap", "not built yet");
    return RKSO::SNAP_STATUS_DELETE_FAILED;
}

}  // namespace RK_SMIS_SNAP
