// Whether a PiT (or CG PiT) still exists on the array. "Gone" is said only on the
// provider's own word, "there" only on its answer: a failed read or a rejected login
// is neither, so a caller can count it as a failed check.
#include <string>

#include <cim/CIMInstance.h>
#include <cim/CIMObjectPath.h>
#include <cim/Exception.h>

#include "LsiCommon.h"
#include "eseries/LSISnapshot.h"
#include "smis/RkCaught.h"
#include "smis/SmisAction.h"

int LSISnapshot::GetPiTStatus() {
    const char* fn = "Snapshot::CheckPiTExistence";
    if (m_SystemName.empty() || m_PiTName.empty()) {
        TraceInvalidParameters(fn);
        return -1;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return -1;
    try {
        std::string prefix = lsi::ClassPrefix(m_ServicePath);
        if (prefix.empty()) prefix = GetVendorName();
        if (prefix.empty()) return -1;
        const std::string pitClass =
            prefix + (m_UseConsistencyGroup ? "_ConsistencyGroupPiT" : "_PiT");
        m_LsiCimUtil.m_pLogger = m_pLogger;
        const int exists =
            m_LsiCimUtil.CheckPiTExistence(m_CimConnection, m_SystemName, m_PiTName, pitClass);
        if (exists == -1) return -1;
        if (exists == 0) return RKSO::SNAP_STATUS_DELETED_OUTSIDE;
        if (m_PiTPath.empty()) {
            // Only a convenience for later steps: the PiT was seen either way.
            try {
                m_PiTPath = GetObjPathByPropName(m_CimConnection, m_SystemName, pitClass,
                                                 "ElementName", m_PiTName, true)
                                .toString();
            } catch (...) {
                RK_TRACE_CAUGHT(*this, fn);
            }
        }
        return 0;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return -1;
    }
}

int LSICimUtil::CheckPiTExistence(RkCimConnection connection, std::string systemName,
                                  std::string pitName, std::string pitClass) {
    const char* fn = "SMIS::CheckPiTExistence";
    RkCimConnection& conn = connection;
    // Taken as a name, an empty text would say nothing about any PiT.
    if (pitName.empty()) return -1;
    try {
        cim::CIMObjectPath path;
        if (SmisAction::ParsePathOrName(pitName, path)) {
            cim::CIMInstance instance;
            try {
                instance = conn.GetInstance(path);
            } catch (const cim::CIMException& e) {
                // The provider's own word that the instance is not there.
                if (e.getCode() != cim::CIM_ERR_NOT_FOUND) throw;
                RK_TRACE_CAUGHT(*this, fn);
            }
            if (conn.AuthFailed()) return -1;
            if (!instance.getClassName().isNull()) {
                DEBUG_TRACE_NORMAL(fn, "PiT/CGPiT instance %s found", pitName.c_str());
                return 1;
            }
            DEBUG_TRACE(fn, " PiT/CGPiT %s not found", pitName.c_str());
            return 0;
        }
        DEBUG_TRACE_NORMAL(fn, "Supplied PiT/CGPiT is not an object path, assuming Friendly Name");
        // Only this array's PiTs: identities are unique, names need not be.
        const cim::CIMObjectPath found =
            GetObjPathByPropName(conn, systemName, pitClass, "ElementName", pitName, true);
        if (conn.AuthFailed()) return -1;
        if (found.getClassName().isNull()) {
            DEBUG_TRACE(fn, " PiT/CGPiT %s not found", pitName.c_str());
            return 0;
        }
        DEBUG_TRACE(fn, "PiT/CGPiT Instance %s found", found.toString().c_str());
        return 1;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return -1;
    }
}
