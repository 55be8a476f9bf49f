// Protocol controller lookups of RkCimUtil: which controllers present a volume, and
// which stand for the host that owns a set of initiator ports.
#include <vector>

#include "RkCimUtilInternal.h"
#include "RkCtlrLookup.h"
#include "rkso/RKPlatformInfo.h"
#include "smis/ProviderVendor.h"
#include "smis/RkCimConnection.h"
#include "smis/RkCimUtil.h"

using rkcimutil::Contains;
using rkcimutil::InNamespace;
using rkcimutil::KeyValue;

namespace {

const char* const kController = "CIM_SCSIProtocolController";
const char* const kControllerForUnit = "CIM_ProtocolControllerForUnit";

}  // namespace

namespace rkctlr {

cim::CIMInstance FindHardwareId(RkCimUtil& util, RkCimConnection& conn,
                                const std::string& systemName, const std::string& port,
                                const char* function) {
    const std::string className = "CIM_StorageHardwareID";
    if (port.empty()) return cim::CIMInstance();
    std::vector<cim::CIMInstance> ids = conn.GetInstances(
        className, cim::CIMPropertyList({cim::CIMName("StorageID"), cim::CIMName("ClusterID"),
                                         cim::CIMName("HostID")}));
    util.DEBUG_TRACE_NORMAL(function, "Class [%s] got %d instances", className.c_str(),
                            static_cast<int>(ids.size()));
    const cim::CIMInstance* containing = nullptr;
    for (const cim::CIMInstance& id : ids) {
        if (!Contains(rkcimutil::SystemNameOf(id.getPath()), systemName)) continue;
        const std::string storageId = util.GetCIMProp(id, "StorageID");
        if (cim::equalNoCase(storageId, port)) {
            cim::CIMInstance found = id;
            found.setPath(InNamespace(id.getPath(), conn.GetNameSpace()));
            return found;
        }
        if (!containing && Contains(storageId, port)) containing = &id;
    }
    if (!containing) return cim::CIMInstance();
    cim::CIMInstance found = *containing;
    found.setPath(InNamespace(containing->getPath(), conn.GetNameSpace()));
    return found;
}

std::string ConfiguredClassPrefix(RkCimUtil& util, const cim::CIMObjectPath& systemPath,
                                  const char* function) {
    const char* const key = "SMCONFIG_NAME_SMIS_CIM_CLASSNAME_PREFIX";
    std::string prefix;
    if (util.m_pLogger) {
        char buf[1024] = {0};
        int len = sizeof buf;
        util.m_pLogger->getConfigString(key, buf, &len);
        buf[sizeof buf - 1] = '\0';
        prefix = buf;
        util.DEBUG_TRACE(function, " Array Config [%s:%s]", key, prefix.c_str());
    }
    std::string fromHost;
    if (RKPlatformInfo().getString("Talon", "LSI_OEM_CLASSNAME_PREFIX", &fromHost))
        prefix = fromHost;
    if (!prefix.empty()) {
        util.DEBUG_TRACE(function, "Classname prefix [%s]  read from regkey / snap config",
                         prefix.c_str());
    } else {
        prefix = RKProviderVendor::GetVendorPrefix(systemPath);
        util.DEBUG_TRACE(function, "LSI OEM class prefix [%s]", prefix.c_str());
    }
    return prefix;
}

std::vector<std::string> HostGroupLabels(RkCimUtil& util, RkCimConnection& conn,
                                         const cim::CIMObjectPath& systemPath,
                                         const std::string& systemName, const char* function) {
    const std::string prefix = ConfiguredClassPrefix(util, systemPath, function);
    const std::string groupClass = prefix.empty() ? "LSISSI_Cluster" : prefix + "_Cluster";
    util.DEBUG_TRACE(function, "LSI OEM classname [%s]", groupClass.c_str());
    std::vector<cim::CIMInstance> groups =
        conn.GetInstances(groupClass, cim::CIMPropertyList({cim::CIMName("ElementName")}));
    util.DEBUG_TRACE(function, "[%s] objects size [%d]", groupClass.c_str(),
                     static_cast<int>(groups.size()));
    std::vector<std::string> labels;
    for (const cim::CIMInstance& g : groups)
        if (OfSystem(g.getPath(), systemName)) labels.push_back(util.GetCIMProp(g, "ElementName"));
    return labels;
}

std::string ReadProp(RkCimUtil& util, RkCimConnection& conn, const cim::CIMObjectPath& path,
                     const std::string& name) {
    return util.GetCIMProp(conn.GetInstance(path), name);
}

bool OfSystem(const cim::CIMObjectPath& path, const std::string& systemName) {
    return Contains(rkcimutil::SystemNameOf(path), systemName);
}

void AppendOnce(std::vector<cim::CIMObjectPath>& list, const cim::CIMObjectPath& path) {
    for (const cim::CIMObjectPath& p : list)
        if (p == path) return;
    list.push_back(path);
}

std::vector<cim::CIMObjectPath> ControllersCarrying(
    RkCimUtil& util, RkCimConnection& conn, std::vector<cim::CIMObjectPath>& volumePaths,
    const std::vector<cim::CIMObjectPath>& portControllers, const char* function) {
    std::vector<cim::CIMObjectPath> result;
    for (cim::CIMObjectPath& volume : volumePaths) {
        std::vector<cim::CIMObjectPath> carrying =
            conn.GetAssociatorNames(volume, kControllerForUnit, kController);
        util.DEBUG_TRACE(function,
                         "Storage volume [%s] associated with [%d] protocol controller(s)",
                         volume.toString().c_str(), static_cast<int>(carrying.size()));
        for (const cim::CIMObjectPath& mine : carrying) {
            util.DEBUG_TRACE(function, "Volume associated Protocol Controller [%s]",
                             mine.toString().c_str());
            const std::string mineId = KeyValue(mine, "DeviceID");
            for (const cim::CIMObjectPath& hosts : portControllers) {
                util.DEBUG_TRACE(function, "Port associated Protocol Controller [%s]",
                                 hosts.toString().c_str());
                const std::string hostsId = KeyValue(hosts, "DeviceID");
                const bool same = mineId.empty() && hostsId.empty()
                                      ? InNamespace(mine, conn.GetNameSpace()) ==
                                            InNamespace(hosts, conn.GetNameSpace())
                                      : mineId == hostsId;
                if (!same) continue;
                result.push_back(InNamespace(mine, conn.GetNameSpace()));
                break;
            }
        }
    }
    return result;
}

}  // namespace rkctlr

std::vector<cim::CIMObjectPath> RkCimUtil::GetCtlrPathList(RkCimConnection& conn,
                                                           cim::CIMObjectPath systemPath,
                                                           cim::Array<cim::String>& volumes,
                                                           cim::Array<cim::String> ports) {
    const char* fn = "SMIS::GetCtlrPathList";
    try {
        std::string systemName = KeyValue(systemPath, "Name");
        if (RKProviderVendor::GetVendorId(systemPath) == VENDOR_IBMSVC)
            systemName = systemName.substr(0, systemName.find(':'));

        cim::Array<cim::CIMObjectPath> volumePaths;
        if (volumes.size() == 1) {
            DEBUG_TRACE(fn, "Processing path for one volume [%s]", volumes[0].c_str());
            try {
                volumePaths.push_back(
                    InNamespace(cim::CIMObjectPath::parse(volumes[0]), conn.GetNameSpace()));
            } catch (const cim::MalformedObjectNameException&) {
                DEBUG_TRACE(fn,
                            "Supplied source volume value [%s] is not an object path, trying "
                            "with UUID(Name)",
                            volumes[0].c_str());
                DEBUG_TRACE(fn, "Processing paths for volumes size [%d]",
                            static_cast<int>(volumes.size()));
                volumePaths = GetObjPathListByPropNameList(conn, "CIM_StorageVolume", "Name",
                                                           volumes, systemName);
            }
        }
        if (volumePaths.empty()) {
            DEBUG_TRACE(fn, "Instances not found for class [%s]", "CIM_StorageVolume");
            return {};
        }
        return GetctlrPathListByAssn(conn, systemPath, volumePaths, ports);
    }
    RKCIMUTIL_TRACE_AND_RETHROW(fn)
}

std::vector<cim::CIMObjectPath> RkCimUtil::GetctlrPathListByAssn(
    RkCimConnection& conn, cim::CIMObjectPath systemPath,
    cim::Array<cim::CIMObjectPath>& volumePaths, cim::Array<cim::String>& ports) {
    const char* fn = "SMIS::GetctlrPathListByAssn";
    try {
        std::vector<cim::CIMObjectPath> result;
        if (ports.empty()) {
            for (cim::CIMObjectPath& volume : volumePaths) {
                std::vector<cim::CIMObjectPath> mine = GetVolCtlrPaths(conn, volume);
                result.insert(result.end(), mine.begin(), mine.end());
            }
            return result;
        }
        std::vector<cim::CIMObjectPath> byPorts;
        switch (RKProviderVendor::GetVendorId(systemPath)) {
            case VENDOR_LSI:
            case VENDOR_DELL:
            case VENDOR_NETAPP:
                result = GetLSICtlrListByHwIDs(conn, systemPath, volumePaths, ports);
                break;
            case VENDOR_HPEVA:
                byPorts = rkctlr::HpEvaCtlrsByPorts(*this, conn, ports);
                break;
            case VENDOR_3PAR:
                byPorts = rkctlr::ThreeParCtlrsByPorts(*this, conn, systemPath, ports);
                break;
            case VENDOR_IBMSVC:
                byPorts = rkctlr::IbmSvcCtlrsByPorts(*this, conn, ports);
                break;
            case VENDOR_FUJITSU:
                byPorts = rkctlr::EternusCtlrsByPorts(*this, conn, systemPath, ports);
                break;
            case VENDOR_EMC:
                byPorts = rkctlr::EmcCtlrsByPorts(*this, conn, systemPath, ports);
                break;
            default:
                break;
        }
        if (!byPorts.empty())
            result = rkctlr::ControllersCarrying(*this, conn, volumePaths, byPorts, fn);
        if (result.empty()) DEBUG_TRACE(fn, "Ctlr paths not found for storage volumes paths ");
        return result;
    }
    RKCIMUTIL_TRACE_AND_RETHROW(fn)
}

std::vector<cim::CIMObjectPath> RkCimUtil::GetVolCtlrPaths(RkCimConnection& conn,
                                                           cim::CIMObjectPath& volumePath) {
    const char* fn = "SMIS::GetVolCtlrPaths";
    try {
        std::vector<cim::CIMObjectPath> found =
            conn.GetAssociatorNames(volumePath, kControllerForUnit, kController);
        if (found.empty())
            DEBUG_TRACE(fn, "Ctlr paths not found for storage volume path %s",
                        volumePath.toString().c_str());
        for (cim::CIMObjectPath& p : found) p = InNamespace(p, conn.GetNameSpace());
        return found;
    }
    RKCIMUTIL_TRACE_AND_RETHROW(fn)
}

cim::Array<cim::String> RkCimUtil::GetLSIHwIDs(RkCimConnection& conn,
                                               cim::CIMObjectPath& systemPath,
                                               cim::Array<cim::String>& ports) {
    const char* fn = "SMIS::GetLSIHwIDs";
    try {
        cim::Array<cim::String> ids;
        if (ports.empty()) {
            DEBUG_TRACE(fn, "no initiator ports supplied");
            return ids;
        }
        const std::string systemName = KeyValue(systemPath, "Name");
        cim::CIMInstance hwId = rkctlr::FindHardwareId(*this, conn, systemName, ports[0], fn);
        if (hwId.isUninitialized()) {
            DEBUG_TRACE(fn, "hwId path empty");
            return ids;
        }
        const std::vector<std::string> groups =
            rkctlr::HostGroupLabels(*this, conn, systemPath, systemName, fn);
        for (const cim::CIMObjectPath& c : conn.GetAssociatorNames(
                 hwId.getPath(), "CIM_MemberOfCollection", "CIM_SystemSpecificCollection")) {
            cim::CIMObjectPath host = InNamespace(c, conn.GetNameSpace());
            if (!rkctlr::OfSystem(host, systemName)) continue;
            const std::string label = rkctlr::ReadProp(*this, conn, host, "ElementName");
            bool isGroup = false;
            for (const std::string& g : groups) isGroup = isGroup || g == label;
            if (isGroup) continue;
            for (const cim::CIMObjectPath& m :
                 conn.GetAssociatorNames(host, "CIM_MemberOfCollection", "CIM_StorageHardwareID")) {
                cim::CIMObjectPath member = InNamespace(m, conn.GetNameSpace());
                ids.push_back(rkctlr::ReadProp(*this, conn, member, "StorageID"));
            }
            return ids;
        }
        DEBUG_TRACE(fn, "No host has been defined with the given HBA port %s", ports[0].c_str());
        return ids;
    }
    RKCIMUTIL_TRACE_AND_RETHROW(fn)
}

cim::CIMObjectPath RkCimUtil::GetHardwareIdCollectionPath(RkCimConnection& conn, std::string name) {
    const char* fn = "SMIS::GetHardwareIdCollectionPath";
    try {
        cim::CIMObjectPath p =
            GetObjPathByPropName(conn, "CIM_SystemSpecificCollection", "ElementName", name);
        if (p.getClassName().isNull())
            DEBUG_TRACE(fn, " GetHardwareIdCollectionPath %s not found", name.c_str());
        else
            DEBUG_TRACE(fn, "GetHardwareIdCollectionPath (%s) (%s)", name.c_str(),
                        p.toString().c_str());
        return p;
    }
    RKCIMUTIL_TRACE_AND_RETURN(fn, cim::CIMObjectPath())
}
