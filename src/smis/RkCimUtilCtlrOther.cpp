// Protocol controllers of a host on the other providers (HP EVA, 3PAR, IBM SVC,
// ETERNUS, EMC VMAX), found from the host's initiator ports. Reached only through
// GetctlrPathListByAssn and the mapping wrappers.
#include <cctype>
#include <vector>

#include "RkCimUtilInternal.h"
#include "RkCtlrLookup.h"
#include "rkso/RKPlatformInfo.h"
#include "smis/RkCimConnection.h"
#include "smis/RkCimUtil.h"

using rkcimutil::Contains;
using rkcimutil::InNamespace;
using rkcimutil::KeyValue;

namespace rkctlr {

namespace {

const char* const kController = "CIM_SCSIProtocolController";

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The controllers that the privileges of element grant.
void ControllersOfPrivileges(RkCimConnection& conn, const cim::CIMObjectPath& element,
                             std::vector<cim::CIMObjectPath>& out) {
    for (const cim::CIMObjectPath& p :
         conn.GetAssociatorNames(element, "CIM_AuthorizedSubject", "CIM_AuthorizedPrivilege"))
        for (const cim::CIMObjectPath& c : conn.GetAssociatorNames(
                 InNamespace(p, conn.GetNameSpace()), "CIM_AuthorizedTarget", kController))
            AppendOnce(out, InNamespace(c, conn.GetNameSpace()));
}

// The IBM SVC hardware ids of the process, kept when "RK_IBMSVC_CACHE_HBA_INSTANCES"
// is set. Touched only while m_CimUtilLock is held.
std::vector<cim::CIMInstance>& SvcHardwareIdCache() {
    static std::vector<cim::CIMInstance> cache;
    return cache;
}

bool IsIscsiName(const std::string& port) {
    const std::string head = Lower(port.substr(0, 3));
    return head == "iqn" || head == "eui" || head == "naa";
}

const cim::CIMInstance* SvcHardwareIdOf(RkCimUtil& util, const std::vector<cim::CIMInstance>& ids,
                                        const std::string& port) {
    const char* prop = IsIscsiName(port) ? "iSCSIName" : "portWWN";
    for (const cim::CIMInstance& id : ids)
        if (cim::equalNoCase(util.GetCIMProp(id, prop), port)) return &id;
    return nullptr;
}

}  // namespace

std::vector<cim::CIMObjectPath> HpEvaCtlrsByPorts(RkCimUtil& util, RkCimConnection& conn,
                                                  cim::Array<cim::String>& ports) {
    const char* fn = "SMIS::GetHPEVACtlrListByHwIDs";
    const std::string className = "HPEVA_ViewProtocolController";
    std::vector<cim::CIMInstance> views = conn.GetInstances(
        className, cim::CIMPropertyList({cim::CIMName("WWNs"), cim::CIMName("iqn")}));
    util.DEBUG_TRACE(fn, "Class [%s] got %d instances", className.c_str(),
                     static_cast<int>(views.size()));
    std::vector<cim::CIMObjectPath> found;
    for (const cim::CIMInstance& v : views) {
        const std::string wwns = Lower(util.GetCIMProp(v, "WWNs"));
        const std::string iqns = Lower(util.GetCIMProp(v, "iqn"));
        for (const std::string& port : ports) {
            const std::string p = Lower(port);
            if (p.empty() || (!Contains(wwns, p) && !Contains(iqns, p))) continue;
            util.DEBUG_TRACE(fn, "ctlr path %s", v.getPath().toString().c_str());
            AppendOnce(found, InNamespace(v.getPath(), conn.GetNameSpace()));
            break;
        }
    }
    return found;
}

std::vector<cim::CIMObjectPath> ThreeParCtlrsByPorts(RkCimUtil& util, RkCimConnection& conn,
                                                     const cim::CIMObjectPath& /*systemPath*/,
                                                     cim::Array<cim::String>& ports) {
    const char* fn = "SMIS::Get3PARCtlrListByHwIDs";
    std::vector<cim::CIMObjectPath> found;
    for (const std::string& port : ports) {
        cim::CIMInstance hwId = FindHardwareId(util, conn, std::string(), port, fn);
        if (hwId.isUninitialized()) continue;
        const cim::CIMObjectPath hwIdPath = hwId.getPath();
        std::vector<cim::CIMObjectPath> hosts = conn.GetAssociatorNames(
            hwIdPath, "CIM_MemberOfCollection", "CIM_SystemSpecificCollection");
        if (hosts.size() > 1)
            util.DEBUG_TRACE(
                fn, "[***] 3PAR device has %u Host-paths, which is not expected [%s][%s]",
                static_cast<unsigned>(hosts.size()), port.c_str(), hwIdPath.toString().c_str());
        std::vector<cim::CIMObjectPath> controllers;
        std::string hostName;
        if (!hosts.empty()) {
            const cim::CIMObjectPath host = InNamespace(hosts.front(), conn.GetNameSpace());
            hostName = ReadProp(util, conn, host, "ElementName");
            ControllersOfPrivileges(conn, host, controllers);
        }
        if (controllers.empty()) {
            util.DEBUG_TRACE(
                fn, "Host Path Association not found, so trying to find HWID-Association [%s]",
                hwIdPath.toString().c_str());
            ControllersOfPrivileges(conn, hwIdPath, controllers);
        }
        for (const cim::CIMObjectPath& c : controllers)
            if (hostName.empty() || ReadProp(util, conn, c, "ElementName") == hostName)
                AppendOnce(found, c);
    }
    return found;
}

std::vector<cim::CIMObjectPath> IbmSvcCtlrsByPorts(RkCimUtil& util, RkCimConnection& conn,
                                                   cim::Array<cim::String>& ports) {
    const char* fn = "SMIS::GetIBMSVCCtlrListByHwIDs";
    const std::string className = "CIM_StorageHardwareID";
    int setting = 0;
    const bool caching =
        RKPlatformInfo().getRegInt("Talon", "RK_IBMSVC_CACHE_HBA_INSTANCES", &setting) &&
        setting > 0;
    std::vector<cim::CIMObjectPath> hwIds;
    {
        RkCriticalSectionLock lock(&RkCimUtil::m_CimUtilLock);
        std::vector<cim::CIMInstance>& ids = SvcHardwareIdCache();
        bool fresh = false;
        if (!caching || ids.empty()) {
            ids = conn.GetInstances(className);
            fresh = true;
        }
        for (const std::string& port : ports) {
            const cim::CIMInstance* id = SvcHardwareIdOf(util, ids, port);
            if (!id && caching && !fresh) {
                ids = conn.GetInstances(className);
                fresh = true;
                util.DEBUG_TRACE(fn,
                                 "HBA not found in the old list. Refreshed the cached storage "
                                 "hardware id list and going to check in the new list.");
                id = SvcHardwareIdOf(util, ids, port);
            }
            if (id) hwIds.push_back(InNamespace(id->getPath(), conn.GetNameSpace()));
        }
        if (!caching) ids.clear();
    }
    std::vector<cim::CIMObjectPath> found;
    for (const cim::CIMObjectPath& id : hwIds) ControllersOfPrivileges(conn, id, found);
    return found;
}

std::vector<cim::CIMObjectPath> EternusCtlrsByPorts(RkCimUtil& util, RkCimConnection& conn,
                                                    const cim::CIMObjectPath& /*systemPath*/,
                                                    cim::Array<cim::String>& ports) {
    const char* fn = "SMIS::GetEternusCtlrListByHwIDs";
    std::vector<cim::CIMObjectPath> found;
    for (const std::string& port : ports) {
        cim::CIMInstance hwId = FindHardwareId(util, conn, std::string(), port, fn);
        if (!hwId.isUninitialized()) ControllersOfPrivileges(conn, hwId.getPath(), found);
    }
    return found;
}

std::vector<cim::CIMObjectPath> EmcCtlrsByPorts(RkCimUtil& util, RkCimConnection& conn,
                                                const cim::CIMObjectPath& /*systemPath*/,
                                                cim::Array<cim::String>& ports) {
    const char* fn = "SMIS::GetEMCCtlrListByHwIDs";
    std::vector<cim::CIMObjectPath> found;
    for (const std::string& port : ports) {
        cim::CIMInstance hwId = FindHardwareId(util, conn, std::string(), port, fn);
        if (hwId.isUninitialized()) continue;
        for (const cim::CIMObjectPath& c : conn.GetAssociatorNames(
                 hwId.getPath(), "CIM_AssociatedPrivilege", "CIM_ProtocolController"))
            AppendOnce(found, InNamespace(c, conn.GetNameSpace()));
    }
    return found;
}

}  // namespace rkctlr
