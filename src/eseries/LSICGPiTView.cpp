// Consistency-group PiT views: the group view of a CG PiT, this volume's member of
// it, and whether any member is still mapped to this host.
#include <string>
#include <vector>

#include <cim/Exception.h>

#include "LSIPiTViewLookup.h"
#include "eseries/LSISnapshot.h"
#include "smis/RkCaught.h"

int LSISnapshot::GetTargetPiTView(std::string& cgPiTView) {
    const char* fn = "Snapshot::GetTargetPiTView";
    auto finish = [this](RKSO::SnapStatus status) {
        m_SnapStatus = status;
        return static_cast<int>(status);
    };
    if (m_SystemName.empty() || m_SourceDev.empty() || cgPiTView.empty()) {
        DEBUG_TRACE(fn, "Invalid Parameters");
        DEBUG_TRACE(fn, "SystemName = %s, SourceDev = %s, CGPiTView = %s", m_SystemName.c_str(),
                    m_SourceDev.c_str(), cgPiTView.c_str());
        return finish(RKSO::SNAP_STATUS_CREATE_FAILED);
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return finish(RKSO::SNAP_STATUS_CREATE_FAILED);
    m_TargetDev.clear();
    m_TargetDevPath.clear();
    try {
        for (const cim::CIMObjectPath& member :
             lsiview::MembersOf(m_CimConnection, cim::CIMObjectPath::parse(cgPiTView))) {
            std::vector<cim::CIMObjectPath> sources = m_CimConnection.GetAssociatorNames(
                member, "CIM_StorageSynchronized", "CIM_StorageVolume");
            if (sources.empty()) continue;
            const cim::CIMKeyBinding* id = sources.front().findKeyBinding(cim::CIMName("DeviceID"));
            if (!id || !cim::equalNoCase(id->getValue(), m_SourceDev)) continue;
            const cim::CIMKeyBinding* own = member.findKeyBinding(cim::CIMName("DeviceID"));
            m_TargetDevPath = member.toString();
            m_TargetDev = own ? own->getValue() : std::string();
            break;
        }
        DEBUG_TRACE_NORMAL(fn,
                           "Got TargetElement [%s], TargetElementPath = %s\n from "
                           "ConsistencyGroupPiTView.",
                           m_TargetDev.c_str(), m_TargetDevPath.c_str());
        const bool found = !m_TargetDev.empty() && !m_TargetDevPath.empty();
        if (!found) {
            m_TargetDev.clear();
            m_TargetDevPath.clear();
        }
        return finish(found ? RKSO::SNAP_STATUS_CREATED : RKSO::SNAP_STATUS_CREATE_FAILED);
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        m_TargetDev.clear();
        m_TargetDevPath.clear();
        return finish(RKSO::SNAP_STATUS_CREATE_FAILED);
    }
}

int LSISnapshot::checkCGPiTViewCreated(std::string& viewName, std::string& viewPath) {
    const char* fn = "LSISnapshot::checkCGPiTViewCreated";
    if (m_SystemName.empty() || m_SourceDev.empty() || m_PiTName.empty()) {
        DEBUG_TRACE(fn, "Invalid Parameters");
        DEBUG_TRACE(fn, "SystemName = %s, SourceDev = %s, PiT name = %s", m_SystemName.c_str(),
                    m_SourceDev.c_str(), m_PiTName.c_str());
        return -1;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return -1;
    try {
        if (m_PiTPath.empty()) m_PiTPath = lsiview::FindPiT(*this, true).toString();
        std::vector<cim::CIMObjectPath> views;
        if (!m_PiTPath.empty())
            views = lsiview::GroupViewsOf(m_CimConnection,
                                          lsiview::PrefixOf(cim::CIMObjectPath::parse(m_PiTPath)),
                                          m_PiTName);
        if (views.empty()) {
            DEBUG_TRACE(
                fn, "The ConsistencyGroupPiT [%s] is not associated to any ConsistencyGroupPiTView",
                m_PiTName.c_str());
            return 1;
        }
        viewPath = views.front().toString();
        viewName = GetCIMProp(m_CimConnection.GetInstance(views.front()), "ElementName");
        return 0;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return -1;
    }
}

bool LSISnapshot::checkCGPiTViewMappings() {
    const char* fn = "LSISnapshot::checkCGPiTViewMappings";
    if (m_SystemName.empty() || m_SourceDev.empty() || m_PiTName.empty()) {
        DEBUG_TRACE(fn, "Invalid Parameters");
        DEBUG_TRACE(fn, "SystemName = %s, SourceDev = %s, PiT name = %s", m_SystemName.c_str(),
                    m_SourceDev.c_str(), m_PiTName.c_str());
        return false;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return false;
    try {
        if (m_PiTPath.empty()) m_PiTPath = lsiview::FindPiT(*this, true).toString();
        std::vector<cim::CIMObjectPath> views;
        if (!m_PiTPath.empty())
            views = lsiview::GroupViewsOf(m_CimConnection,
                                          lsiview::PrefixOf(cim::CIMObjectPath::parse(m_PiTPath)),
                                          m_PiTName);
        if (views.empty()) {
            if (m_PiTOperation == 32768) return true;
            DEBUG_TRACE(
                fn, "The ConsistencyGroupPiT [%s] is not associated to any ConsistencyGroupPiTView",
                m_PiTName.c_str());
            return false;
        }
        const std::vector<cim::CIMObjectPath> members =
            lsiview::MembersOf(m_CimConnection, views.front());
        size_t unmapped = 0;
        for (const cim::CIMObjectPath& member : members) {
            std::vector<std::string> args = {m_SystemName, member.toString(), m_InitiatorPorts};
            if (IsLunMapped(m_CimConnection, args) == 650007) ++unmapped;
        }
        return unmapped == members.size();
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return false;
    }
}
