// Removal of a PiT view (PiTViewSync, operation 19) and whether a PiT has a view.
#include <string>
#include <vector>

#include "LSIPiTViewLookup.h"
#include "eseries/LSISnapshot.h"
#include "smis/RkCaught.h"

int LSISnapshot::PiTViewSync(unsigned short operation, unsigned short waitType) {
    const char* fn = "Snapshot::PiTViewSync";
    const bool remove = operation == 19;
    // Removal answers 20 or 21 and leaves the snapshot's status alone.
    auto finish = [this, remove](bool ok) {
        if (remove) return ok ? RKSO::SNAP_STATUS_DELETED : RKSO::SNAP_STATUS_DELETE_FAILED;
        m_SnapStatus = ok ? RKSO::SNAP_STATUS_CREATED : RKSO::SNAP_STATUS_CREATE_FAILED;
        return m_SnapStatus;
    };
    if ((m_PiTOperation != 7 && m_PiTOperation != 14 && m_PiTOperation != 98) ||
        m_SystemName.empty() || m_SourceDev.empty() ||
        (m_TargetDev.empty() && m_TargetDevPath.empty())) {
        TraceInvalidParameters(fn);
        return finish(false);
    }
    std::vector<std::string> args = {m_SystemName,
                                     std::to_string(operation),
                                     m_SourceDevPath.empty() ? m_SourceDev : m_SourceDevPath,
                                     m_TargetDevPath.empty() ? m_TargetDev : m_TargetDevPath,
                                     std::to_string(waitType),
                                     "0"};
    // No host error of its own: a failed connection is only traced.
    if (m_CimConnection.ConnectCimom() != 0) {
        DEBUG_TRACE(fn, "Connection to CIMOM failed\n");
        return finish(false);
    }
    unsigned int result = 1;
    try {
        if (FaultRetryEnabled()) {
            DEBUG_TRACE(fn, "Pegasus retry in faulty environment");
            std::vector<std::string> throwAway = args;
            throwAway[1] = "55";
            ModifyReplicaSynchronization(m_CimConnection, throwAway, false);
        }
        result = ModifyReplicaSynchronization(m_CimConnection, args, false);
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
    }
    m_CimConnection.DisconnectCimom();
    if (result != 0) return finish(false);
    DEBUG_TRACE_NORMAL(fn, "Success\n");
    return finish(true);
}

int LSISnapshot::IsPiTAttached() {
    const char* fn = "Snapshot::IsPiTAttached";
    if (m_SystemName.empty() || m_PiTName.empty()) {
        TraceInvalidParameters(fn);
        return 0;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return 0;
    try {
        cim::CIMObjectPath pit = lsiview::FindPiT(*this, m_UseConsistencyGroup);
        if (pit.getClassName().isNull()) return 0;
        // A consistency-group PiT's view is a group view.
        const char* viewClass = m_UseConsistencyGroup ? "ConsistencyGroupPiTView" : "PiTView";
        return lsiview::ViewsOfPiT(m_CimConnection, pit, viewClass).empty() ? 0 : 1;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 0;
    }
}
