// ModifyPiT: attaches a view to the snapshot's PiT for mapping (operation 5), or
// restores the source volume from the PiT (32768).
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <cim/CIMParamValue.h>
#include <cim/Exception.h>

#include "LSIPiTViewLookup.h"
#include "eseries/LSISnapshot.h"
#include "rkso/RKPlatformInfo.h"
#include "smis/RkCaught.h"

namespace {

constexpr unsigned short kAttach = 5;
constexpr unsigned short kRestore = 32768;

// The first "TargetElement" reference of a method's answer; false when there is none.
bool TargetElementOf(const cim::Array<cim::CIMParamValue>& out, cim::CIMObjectPath& target) {
    for (const cim::CIMParamValue& p : out) {
        if (p.getParameterName() != "TargetElement") continue;
        const cim::CIMValue& v = p.getValue();
        if (v.isNull() || v.isArray()) continue;
        if (v.getType() == cim::CIMTYPE_REFERENCE) {
            v.get(target);
            return true;
        }
        if (v.getType() == cim::CIMTYPE_STRING) {
            std::string text;
            v.get(text);
            target = cim::CIMObjectPath::parse(text);
            return true;
        }
    }
    return false;
}

}  // namespace

int LSISnapshot::ModifyPiT(unsigned short operation) {
    const char* fn = "Snapshot::ModifyPiT";
    const bool restore = operation == kRestore;
    auto finish = [this](RKSO::SnapStatus status) {
        m_SnapStatus = status;
        return static_cast<int>(status);
    };
    const RKSO::SnapStatus failed =
        restore ? RKSO::SNAP_STATUS_REVERT_FAILED : RKSO::SNAP_STATUS_CREATE_FAILED;
    if ((m_PiTOperation != 32768 && m_PiTOperation != 7) || m_SystemName.empty() ||
        m_SourceDev.empty() || m_PiTName.empty()) {
        TraceInvalidParameters(fn);
        DEBUG_TRACE(fn, "Dumping Parameters\n");
        DEBUG_TRACE(fn,
                    "systemName = %s, sourceDev = %s,\t\t\t\t\t\t\t  \t\t\t\t\tsnapOp = %d, PiT = "
                    "%s\n",
                    m_SystemName.c_str(), m_SourceDev.c_str(), m_PiTOperation, m_PiTName.c_str());
        return finish(failed);
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return finish(failed);
    try {
        std::string sourceElement = m_SourceDevFriendlyName;
        if (sourceElement.empty() && !m_SourceDevPath.empty())
            sourceElement = GetCIMProp(m_CimConnection, m_SourceDevPath, "ElementName");
        if (sourceElement.empty()) {
            DEBUG_TRACE(fn, "Source element of [%s] not found", m_SourceDev.c_str());
            return finish(failed);
        }

        std::map<std::string, std::string> params = {
            {"SystemName", m_SystemName},
            {"Operation", std::to_string(operation)},
            {"sourceElement", m_UseConsistencyGroup ? m_ConsistencyGroupName : sourceElement},
            {"targetSyncData", m_PiTName}};
        if (operation == kAttach)
            params["targetElement"] = m_TargetDevPath.empty() ? m_TargetDev : m_TargetDevPath;

        const bool unknownTarget = m_TargetDev.empty() && m_TargetDevPath.empty();
        cim::Array<cim::CIMParamValue> out;
        if (FaultRetryEnabled()) {
            DEBUG_TRACE(fn, "Pegasus retry in faulty environment");
            std::map<std::string, std::string> throwAway = params;
            throwAway["Operation"] = "55";
            ModifySettingDefineState(m_CimConnection, throwAway, out);
        }
        unsigned int result = ModifySettingDefineState(m_CimConnection, params, out);

        // A new view is learnt from the answer, or else from the PiT itself: an answer
        // without it, or one lost after the array made the view, must not leave a view
        // that nobody knows about.
        bool known = false;
        cim::CIMObjectPath answered;  // the view the answer names, there or not yet
        if (result == 0 && operation == kAttach && m_TargetDev.empty()) {
            cim::CIMObjectPath view;
            try {
                known = TargetElementOf(out, view);
            } catch (const cim::MalformedObjectNameException&) {
                DEBUG_TRACE(fn, "Could not get object path of TargetElement");
            }
            if (known) {
                if (view.getNameSpace().isNull()) view.setNameSpace(m_CimConnection.GetNameSpace());
                answered = view;
                m_TargetDevPath = view.toString();
                m_TargetDev = GetCIMProp(m_CimConnection, view,
                                         m_UseConsistencyGroup ? "ElementName" : "Name");
                DEBUG_TRACE_NORMAL(fn, "TargetElement [%s], TargetElementPath = %s\n",
                                   m_TargetDev.c_str(), m_TargetDevPath.c_str());
                known = !m_TargetDev.empty();
            }
        }
        if (operation == kAttach && unknownTarget && !m_UseConsistencyGroup && !known) {
            std::vector<cim::CIMObjectPath> views;
            cim::CIMObjectPath pit = lsiview::FindPiT(*this, false);
            if (!pit.getClassName().isNull())
                views = lsiview::ViewsOfPiT(m_CimConnection, pit, "PiTView");
            if (views.size() == 1) {
                m_TargetDevPath = views.front().toString();
                m_TargetDev = GetCIMProp(m_CimConnection, views.front(), "Name");
            }
            if (views.size() == 1 && !m_TargetDev.empty()) {
                DEBUG_TRACE_NORMAL(fn, "TargetElement [%s], TargetElementPath = %s\n",
                                   m_TargetDev.c_str(), m_TargetDevPath.c_str());
                result = 0;
            } else {
                DEBUG_TRACE(fn, "PiT [%s] has %d views, none taken as the new view",
                            m_PiTName.c_str(), static_cast<int>(views.size()));
                m_TargetDevPath.clear();
                m_TargetDev.clear();
                // A view whose job outlived the watch comes later: it stays named, so
                // that the caller can record it and a delete remove it.
                if (views.empty() && !answered.getClassName().isNull()) {
                    m_TargetDevPath = answered.toString();
                    m_TargetDev = GetPropByObjPath(answered, "DeviceID");
                }
                if (result == 0) result = 1;
            }
        }
        connection.Close();

        if (result == 0) {
            DEBUG_TRACE(fn, "Success\n");
            return finish(restore ? RKSO::SNAP_STATUS_REVERTED : RKSO::SNAP_STATUS_CREATED);
        }
        std::string message;
        const int code = GetVendorSmisErrorCode(static_cast<int>(result), &message);
        if (code != -1 && !message.empty() && !m_CimConnection.AuthFailed())
            DEBUG_SET_ERROR(code, message.c_str());
        return finish(failed);
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return finish(failed);
    }
}
