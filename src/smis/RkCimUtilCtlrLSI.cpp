// E-Series protocol controllers of a host: through the hardware ids of its ports,
// their host (or host group) collections and privileges, or, when the array shows
// no privileges, by matching the hardware ids' host and group ids against the
// controllers' "DeviceID".
#include <vector>

#include "RkCimUtilInternal.h"
#include "RkCtlrLookup.h"
#include "rkso/RKPlatformInfo.h"
#include "smis/RkCimConnection.h"
#include "smis/RkCimUtil.h"

using rkcimutil::Contains;
using rkcimutil::InNamespace;
using rkcimutil::KeyValue;

namespace {

const char* const kFunction = "SMIS::GetLSICtlrListByHwIDs";
const char* const kController = "CIM_SCSIProtocolController";

// The part of a controller "DeviceID" after its first ':', empty when there is none.
std::string ControllerRef(const std::string& deviceId) {
    const size_t colon = deviceId.find(':');
    return colon == std::string::npos ? std::string() : deviceId.substr(colon + 1);
}

// The host group part of a "ClusterID": the text after its second ':'.
std::string GroupRef(const std::string& clusterId) {
    const size_t first = clusterId.find(':');
    if (first == std::string::npos) return std::string();
    const size_t second = clusterId.find(':', first + 1);
    return second == std::string::npos ? std::string() : clusterId.substr(second + 1);
}

}  // namespace

std::vector<cim::CIMObjectPath> RkCimUtil::GetLSICtlrListByHwIDs(
    RkCimConnection& conn, cim::CIMObjectPath& systemPath,
    cim::Array<cim::CIMObjectPath>& volumePaths, cim::Array<cim::String>& ports) {
    try {
        int disableGroups = 0;
        RKPlatformInfo().getRegInt("Talon", "nLSIDisableCtlrAll", &disableGroups);
        const bool groupMapping = !volumePaths.empty() && disableGroups == 0;
        std::vector<cim::CIMObjectPath> portControllers =
            GetLSICtlrListByHwIDs(conn, systemPath, ports, groupMapping);
        if (portControllers.empty()) {
            DEBUG_TRACE(kFunction,
                        "Not able to derive protocol controllers from the initiator ports");
            return {};
        }
        return rkctlr::ControllersCarrying(*this, conn, volumePaths, portControllers, kFunction);
    }
    RKCIMUTIL_TRACE_AND_RETHROW(kFunction)
}

std::vector<cim::CIMObjectPath> RkCimUtil::GetLSICtlrListByHwIDs(RkCimConnection& conn,
                                                                 cim::CIMObjectPath& systemPath,
                                                                 cim::Array<cim::String>& ports,
                                                                 bool groupMapping) {
    const char* fn = kFunction;
    try {
        const std::string systemName = KeyValue(systemPath, "Name");
        DEBUG_TRACE(fn, "System path:[%s]", systemPath.toString().c_str());
        if (ports.empty()) {
            DEBUG_TRACE(fn, "no initiator ports supplied");
            return {};
        }
        const std::vector<std::string> groups =
            rkctlr::HostGroupLabels(*this, conn, systemPath, systemName, fn);

        std::vector<cim::CIMObjectPath> found;
        for (const std::string& port : ports) {
            DEBUG_TRACE(fn, "HBA Port:%s", port.c_str());
            cim::CIMInstance hwId = rkctlr::FindHardwareId(*this, conn, systemName, port, fn);
            if (hwId.isUninitialized()) continue;
            cim::CIMObjectPath hwIdPath = hwId.getPath();
            DEBUG_TRACE(fn, "hwId path %s", hwIdPath.toString().c_str());
            std::vector<cim::CIMObjectPath> hosts = conn.GetAssociatorNames(
                hwIdPath, "CIM_MemberOfCollection", "CIM_SystemSpecificCollection");
            DEBUG_TRACE(fn, "Host paths size [%d]", static_cast<int>(hosts.size()));
            for (const cim::CIMObjectPath& h : hosts) {
                cim::CIMObjectPath host = InNamespace(h, conn.GetNameSpace());
                const std::string hostText = host.toString();
                DEBUG_TRACE(fn, "host path %s", hostText.c_str());
                if (!rkctlr::OfSystem(host, systemName)) {
                    DEBUG_TRACE(fn, "No host has been defined with the given HBA port %s",
                                port.c_str());
                    continue;
                }
                const std::string hostName = rkctlr::ReadProp(*this, conn, host, "ElementName");
                bool isGroup = false;
                for (const std::string& g : groups) isGroup = isGroup || g == hostName;
                if (isGroup) {
                    DEBUG_TRACE(fn, "The path [%s] represents the cluster host group [%s]",
                                hostText.c_str(), hostName.c_str());
                    if (!groupMapping) {
                        DEBUG_TRACE(fn, "Skipping, the path [%s] represents the cluster host group",
                                    hostText.c_str());
                        continue;
                    }
                }
                std::vector<cim::CIMObjectPath> privileges = conn.GetAssociatorNames(
                    hwIdPath, "CIM_AuthorizedSubject", "CIM_AuthorizedPrivilege");
                DEBUG_TRACE(fn, "CIM_AuthorizedPrivilege objects size [%d]",
                            static_cast<int>(privileges.size()));
                std::vector<cim::CIMObjectPath> controllers;
                for (cim::CIMObjectPath& p : privileges)
                    for (const cim::CIMObjectPath& c :
                         conn.GetAssociatorNames(InNamespace(p, conn.GetNameSpace()),
                                                 "CIM_AuthorizedTarget", kController))
                        rkctlr::AppendOnce(controllers, InNamespace(c, conn.GetNameSpace()));
                DEBUG_TRACE(fn, "CIM_ProtocolController objects size [%d]",
                            static_cast<int>(controllers.size()));
                for (cim::CIMObjectPath& c : controllers) {
                    const std::string ctlrHost = rkctlr::ReadProp(*this, conn, c, "ElementName");
                    DEBUG_TRACE(fn, "ctlr path [%s] host name [%s] ctlr host name [%s]",
                                c.toString().c_str(), hostName.c_str(), ctlrHost.c_str());
                    if (ctlrHost != hostName) continue;
                    DEBUG_TRACE(fn, "ctlr path %s", c.toString().c_str());
                    rkctlr::AppendOnce(found, c);
                }
            }
        }
        if (!found.empty()) return found;

        // Arrays that show no privileges still tie each hardware id to its host and
        // host group through "HostID" and "ClusterID".
        DEBUG_TRACE(fn, "Executing the workaround for LSI lun Mapping and Masking");
        std::vector<cim::CIMObjectPath> all = conn.GetInstanceNames(kController);
        DEBUG_TRACE(fn, "Class [%s] got %d instances", kController, static_cast<int>(all.size()));
        for (const std::string& port : ports) {
            DEBUG_TRACE(fn, "HBA Port:%s", port.c_str());
            cim::CIMInstance hwId = rkctlr::FindHardwareId(*this, conn, systemName, port, fn);
            if (hwId.isUninitialized()) {
                DEBUG_TRACE(fn, "hwId path empty");
                continue;
            }
            DEBUG_TRACE(fn, "hwId path %s", hwId.getPath().toString().c_str());
            std::string groupRef;
            if (groupMapping) {
                const std::string clusterId = GetCIMProp(hwId, "ClusterID");
                DEBUG_TRACE(fn, "ClusterID [%s]", clusterId.c_str());
                groupRef = GroupRef(clusterId);
                DEBUG_TRACE(fn, "Cluster host group Protocol ControllerID [%s]", groupRef.c_str());
                if (groupRef == rkctlr::kDefaultGroupId) {
                    DEBUG_TRACE(fn,
                                "Skipping, ControllerID [%s] as it represents the Default Group",
                                groupRef.c_str());
                    groupRef.clear();
                }
            }
            const std::string hostId = GetCIMProp(hwId, "HostID");
            DEBUG_TRACE(fn, "HostID [%s]", hostId.c_str());
            for (const cim::CIMObjectPath& c : all) {
                if (KeyValue(c, "SystemName") != systemName) continue;
                const std::string deviceId = KeyValue(c, "DeviceID");
                DEBUG_TRACE(fn, "Controller path DeviceID [%s]", deviceId.c_str());
                const std::string ref = ControllerRef(deviceId);
                // An empty reference would be contained in every host id.
                if (ref.empty()) continue;
                if ((!groupRef.empty() && groupRef == ref) ||
                    (!hostId.empty() && Contains(hostId, ref)))
                    rkctlr::AppendOnce(found, InNamespace(c, conn.GetNameSpace()));
            }
        }
        return found;
    }
    RKCIMUTIL_TRACE_AND_RETHROW(fn)
}
