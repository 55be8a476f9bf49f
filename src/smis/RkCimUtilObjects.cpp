// Object, system, service, pool and vendor lookups of RkCimUtil.
#include <vector>

#include "RkCimUtilInternal.h"
#include "rkso/RKPlatformInfo.h"
#include "smis/ProviderVendor.h"
#include "smis/RkCimConnection.h"
#include "smis/RkCimUtil.h"

using rkcimutil::Contains;
using rkcimutil::InNamespace;
using rkcimutil::KeyValue;
using rkcimutil::SystemNameOf;

cim::CIMObjectPath RkCimUtil::GetObjPathByPropName(RkCimConnection& conn,
                                                   const std::string& className,
                                                   std::string propName, std::string propValue) {
    const char* fn = "SMIS::GetObjPathByPropName";
    LookupScope scope(*this);
    try {
        std::vector<cim::CIMInstance> instances =
            conn.GetInstances(className, cim::CIMPropertyList({cim::CIMName(propName)}));
        rkcimutil::ThrowIfAuthFailed(conn);
        DEBUG_TRACE_NORMAL(fn, "Class [%s] got %d instances", className.c_str(),
                           static_cast<int>(instances.size()));
        for (const cim::CIMInstance& inst : instances) {
            if (cim::equalNoCase(GetCIMProp(inst, propName), propValue))
                return InNamespace(inst.getPath(), conn.GetNameSpace());
        }
        return cim::CIMObjectPath();
    }
    RKCIMUTIL_TRACE_AND_RETHROW(fn)
}

cim::CIMObjectPath RkCimUtil::GetObjPathByPropName(RkCimConnection& conn, std::string systemName,
                                                   std::string className, std::string propName,
                                                   std::string propValue, bool exact) {
    const char* fn = "SMIS::GetObjPathByPropName";
    LookupScope scope(*this);
    try {
        std::vector<cim::CIMInstance> instances =
            conn.GetInstances(className, cim::CIMPropertyList({cim::CIMName(propName)}));
        rkcimutil::ThrowIfAuthFailed(conn);
        DEBUG_TRACE_NORMAL(fn, "Class [%s] got %d instances", className.c_str(),
                           static_cast<int>(instances.size()));
        for (const cim::CIMInstance& inst : instances) {
            if (!Contains(SystemNameOf(inst.getPath()), systemName)) continue;
            std::string value = GetCIMProp(inst, propName);
            if (cim::equalNoCase(value, propValue) || (!exact && Contains(value, propValue)))
                return InNamespace(inst.getPath(), conn.GetNameSpace());
        }
        return cim::CIMObjectPath();
    }
    RKCIMUTIL_TRACE_AND_RETHROW(fn)
}

cim::CIMObjectPath RkCimUtil::GetObjPathByPropNamev2(RkCimConnection& conn, std::string systemName,
                                                     std::string className, std::string propName,
                                                     std::string propValue) {
    return GetObjPathByPropName(conn, std::move(systemName), std::move(className),
                                std::move(propName), std::move(propValue), true);
}

cim::CIMObjectPath RkCimUtil::GetObjPathByProp(RkCimConnection& conn, std::string className,
                                               std::string keyName, std::string keyValue,
                                               std::string systemName) {
    const char* fn = "SMIS::GetObjPathByProp";
    LookupScope scope(*this);
    try {
        std::vector<cim::CIMObjectPath> names = conn.GetInstanceNames(className);
        rkcimutil::ThrowIfAuthFailed(conn);
        DEBUG_TRACE(fn, "Class <%s> got %d instance names", className.c_str(),
                    static_cast<int>(names.size()));
        for (const cim::CIMObjectPath& p : names) {
            if (keyValue.empty()) return InNamespace(p, conn.GetNameSpace());
            if (KeyValue(p, keyName) != keyValue) continue;
            if (!systemName.empty() && !Contains(KeyValue(p, "SystemName"), systemName)) continue;
            return InNamespace(p, conn.GetNameSpace());
        }
        return cim::CIMObjectPath();
    } catch (const cim::CIMException& e) {
        rkcimutil::TraceCimException(*this, fn, __FILE__, __LINE__, e);
        if (rkcimutil::IsNotFound(e)) {
            // The provider's own "not found".
            DEBUG_TRACE(fn, "%s instance for property %s = %s not found", className.c_str(),
                        keyName.c_str(), keyValue.c_str());
            return cim::CIMObjectPath();
        }
        SetLookupFailed();
        throw;
    }
    RKCIMUTIL_TRACE_OTHERS_AND_RETHROW(fn)
}

std::vector<cim::CIMObjectPath> RkCimUtil::GetObjPathListByPropNameList(
    RkCimConnection& conn, std::string className, std::string propName,
    cim::Array<cim::String>& values, std::string systemName) {
    const char* fn = "SMIS::GetObjPathListByPropNameList";
    LookupScope scope(*this);
    std::vector<cim::CIMObjectPath> found;
    try {
        std::vector<cim::CIMInstance> instances =
            conn.GetInstances(className, cim::CIMPropertyList({cim::CIMName(propName)}));
        rkcimutil::ThrowIfAuthFailed(conn);
        DEBUG_TRACE_NORMAL(fn, "Class [%s] got %d instances", className.c_str(),
                           static_cast<int>(instances.size()));
        for (const cim::CIMInstance& inst : instances) {
            if (!Contains(KeyValue(inst.getPath(), "SystemName"), systemName)) continue;
            std::string value = GetCIMProp(inst, propName);
            for (const std::string& wanted : values)
                if (value == wanted)
                    found.push_back(InNamespace(inst.getPath(), conn.GetNameSpace()));
        }
        return found;
    }
    RKCIMUTIL_TRACE_AND_RETHROW(fn)
}

cim::CIMObjectPath RkCimUtil::GetSystemObjPathByNameProp(RkCimConnection& conn,
                                                         std::string systemName) {
    const char* fn = "SMIS::GetSystemObjPathByNameProp";
    LookupScope scope(*this);
    const std::string className = "CIM_ComputerSystem";
    try {
        std::vector<cim::CIMObjectPath> names = conn.GetInstanceNames(className);
        rkcimutil::ThrowIfAuthFailed(conn);
        DEBUG_TRACE(fn, "Class <%s> got %d instance names", className.c_str(),
                    static_cast<int>(names.size()));
        const RK_PROVIDER_VENDOR vendor =
            names.empty() ? VENDOR_UNKNOWN : RKProviderVendor::GetVendorId(names.front());
        for (const cim::CIMObjectPath& p : names) {
            if (!Contains(KeyValue(p, "Name"), systemName)) continue;
            std::string expected;
            if (vendor == VENDOR_IBMSVC) {
                expected = "IBMTSSVC_Cluster";
            } else if (vendor == VENDOR_FUJITSU) {
                expected = "FUJITSU_StorageComputerSystem";
            } else if (RKProviderVendor::IsESeries(vendor)) {
                std::string prefix;
                if (m_pLogger) {
                    char buf[1024] = {0};
                    int len = sizeof buf;
                    m_pLogger->getConfigString("SMCONFIG_NAME_SMIS_CIM_CLASSNAME_PREFIX", buf,
                                               &len);
                    buf[sizeof buf - 1] = '\0';
                    prefix = buf;
                    DEBUG_TRACE(fn, " Array Config [%s:%s]",
                                "SMCONFIG_NAME_SMIS_CIM_CLASSNAME_PREFIX", prefix.c_str());
                }
                std::string fromHost;
                if (RKPlatformInfo().getString("Talon", "LSI_OEM_CLASSNAME_PREFIX", &fromHost))
                    prefix = fromHost;
                if (!prefix.empty()) {
                    DEBUG_TRACE(fn, "Classname prefix [%s]  read from regkey / snap config",
                                prefix.c_str());
                } else {
                    prefix = RKProviderVendor::GetVendorPrefix(p);
                    DEBUG_TRACE(fn, "LSI OEM class prefix [%s]", prefix.c_str());
                }
                expected = prefix.empty() ? "LSISSI_StorageSystem" : prefix + "_StorageSystem";
                DEBUG_TRACE(fn, "LSI OEM classname [%s]", expected.c_str());
            } else if (vendor == VENDOR_EMC) {
                expected = "Symm_StorageSystem";
            }
            if (expected.empty() || p.getClassName() == cim::CIMName(expected))
                return InNamespace(p, conn.GetNameSpace());
        }
        DEBUG_TRACE(fn, "%s instance for systemName %s not found", className.c_str(),
                    systemName.c_str());
        return cim::CIMObjectPath();
    }
    RKCIMUTIL_TRACE_AND_RETHROW(fn)
}

std::string RkCimUtil::GetSystemObjPathString(RkCimConnection& conn, std::string systemName) {
    LookupScope scope(*this);
    try {
        return GetSystemObjPathByNameProp(conn, std::move(systemName)).toString();
    }
    RKCIMUTIL_TRACE_AND_RETURN("SMIS::GetSystemObjPathString", std::string())
}

int RkCimUtil::ValidateSystemName(RkCimConnection& conn, std::string systemName,
                                  std::string className, cim::CIMObjectPath& outPath) {
    const char* fn = "SMIS::ValidateSystemName";
    LookupScope scope(*this);
    try {
        std::vector<cim::CIMObjectPath> names = conn.GetInstanceNames(className);
        rkcimutil::ThrowIfAuthFailed(conn);
        if (names.empty()) {
            DEBUG_TRACE(fn, "Class %s not found", className.c_str());
            return 0;
        }
        for (const cim::CIMObjectPath& p : names) {
            if (!Contains(KeyValue(p, "SystemName"), systemName)) continue;
            outPath = InNamespace(p, conn.GetNameSpace());
            DEBUG_TRACE(fn, "ObjectPath:  %s", outPath.toString().c_str());
            return 1;
        }
        DEBUG_TRACE(fn, "Class %s for system %s not found", className.c_str(), systemName.c_str());
        return 0;
    }
    RKCIMUTIL_TRACE_AND_RETURN(fn, 0)
}

cim::CIMObjectPath RkCimUtil::GetSystemServiceObject(RkCimConnection& conn,
                                                     cim::CIMObjectPath& systemPath,
                                                     std::string serviceClass) {
    const char* fn = "SMIS::GetSystemServiceObject";
    LookupScope scope(*this);
    try {
        std::vector<cim::CIMObjectPath> services =
            conn.GetAssociatorNames(systemPath, "CIM_HostedService", serviceClass, "", "");
        rkcimutil::ThrowIfAuthFailed(conn);
        if (services.empty()) return cim::CIMObjectPath();
        return InNamespace(services.front(), conn.GetNameSpace());
    } catch (const cim::CIMException& e) {
        rkcimutil::TraceCimException(*this, fn, __FILE__, __LINE__, e);
        if (rkcimutil::IsNotFound(e)) {
            DEBUG_TRACE(fn, "%s instance for ServiceClass %s not found",
                        systemPath.toString().c_str(), serviceClass.c_str());
            return cim::CIMObjectPath();
        }
        SetLookupFailed();
        throw;
    }
    RKCIMUTIL_TRACE_OTHERS_AND_RETHROW(fn)
}

cim::CIMObjectPath RkCimUtil::GetCtlrservicePath(RkCimConnection& conn,
                                                 cim::CIMObjectPath& systemPath) {
    const char* fn = "SMIS::GetCtlrservicePath";
    LookupScope scope(*this);
    const std::string serviceClass = "CIM_ControllerConfigurationService";
    try {
        cim::CIMObjectPath service = GetSystemServiceObject(conn, systemPath, serviceClass);
        if (service.getClassName().isNull())
            DEBUG_TRACE(fn, "Did not find %s object for System %s", serviceClass.c_str(),
                        systemPath.toString().c_str());
        else
            DEBUG_TRACE(fn, "  CtrlrSvc: %s", service.toString().c_str());
        return service;
    }
    RKCIMUTIL_TRACE_AND_RETHROW(fn)
}

std::string RkCimUtil::GetDGByName(RkCimConnection& conn, std::string systemName,
                                   std::string diskGroupName) {
    const char* fn = "SMIS::GetDGByName";
    LookupScope scope(*this);
    if (diskGroupName.empty()) return std::string();
    try {
        cim::CIMObjectPath system = GetSystemObjPathByNameProp(conn, systemName);
        if (system.getClassName().isNull()) {
            DEBUG_TRACE(fn, "SystemName <%s> not found", systemName.c_str());
            return std::string();
        }
        const RK_PROVIDER_VENDOR vendor = RKProviderVendor::GetVendorId(system);
        cim::CIMObjectPath pool;
        if (vendor == VENDOR_IBMSVC || vendor == VENDOR_3PAR || vendor == VENDOR_FUJITSU)
            pool = GetObjPathByPropName(conn, "CIM_StoragePool", "ElementName", diskGroupName);
        else
            pool = GetObjPathByPropName(conn, systemName, "CIM_StoragePool", "ElementName",
                                        diskGroupName, false);
        return pool.toString();
    }
    RKCIMUTIL_TRACE_AND_RETURN(fn, std::string())
}

std::string RkCimUtil::GetVendorByName(RkCimConnection& conn, std::string systemName) {
    LookupScope scope(*this);
    try {
        return RKProviderVendor::GetVendorPrefix(GetSystemObjPathByNameProp(conn, systemName));
    }
    RKCIMUTIL_TRACE_AND_RETURN("SMIS::GetVendorByName", std::string())
}

std::string RkCimUtil::GetVendorNamespaceByName(RkCimConnection& conn, std::string systemName) {
    LookupScope scope(*this);
    try {
        return RKProviderVendor::GetVendorNameSpace(GetSystemObjPathByNameProp(conn, systemName));
    }
    RKCIMUTIL_TRACE_AND_RETURN("SMIS::GetVendorNamespaceByName", std::string())
}

// --- Lookups of other providers' branches ---

std::string RkCimUtil::GetEternusTPPByName(RkCimConnection& conn, std::string systemName,
                                           std::string poolName) {
    LookupScope scope(*this);
    if (poolName.empty()) return std::string();
    try {
        return GetObjPathByPropName(conn, systemName, "FUJITSU_ThinProvisioningPool", "ElementName",
                                    poolName, true)
            .toString();
    }
    RKCIMUTIL_TRACE_AND_RETURN("SMIS::GetEternusTPPByName", std::string())
}

cim::CIMObjectPath RkCimUtil::GetObjPathByAssnProp(RkCimConnection& conn,
                                                   cim::CIMObjectPath& objectPath,
                                                   std::string assocClass, std::string resultClass,
                                                   std::string propName, std::string propValue) {
    const char* fn = "SMIS::GetObjPathByAssnProp";
    LookupScope scope(*this);
    try {
        std::vector<cim::CIMObjectPath> associated =
            conn.GetAssociatorNames(objectPath, assocClass, resultClass, "", "");
        rkcimutil::ThrowIfAuthFailed(conn);
        for (const cim::CIMObjectPath& p : associated) {
            cim::CIMObjectPath full = InNamespace(p, conn.GetNameSpace());
            cim::CIMInstance inst = conn.GetInstance(full);
            rkcimutil::ThrowIfAuthFailed(conn);
            if (!inst.isUninitialized() && cim::equalNoCase(GetCIMProp(inst, propName), propValue))
                return full;
        }
        return cim::CIMObjectPath();
    }
    RKCIMUTIL_TRACE_AND_RETHROW(fn)
}

std::vector<cim::CIMObjectPath> RkCimUtil::GetSystemObjPathListByPropList(RkCimConnection& conn,
                                                                          std::string className,
                                                                          std::string systemName) {
    const char* fn = "SMIS::GetSystemObjPathListByPropList";
    LookupScope scope(*this);
    std::vector<cim::CIMObjectPath> found;
    try {
        std::vector<cim::CIMObjectPath> names = conn.GetInstanceNames(className);
        rkcimutil::ThrowIfAuthFailed(conn);
        for (const cim::CIMObjectPath& p : names)
            if (Contains(KeyValue(p, "SystemName"), systemName))
                found.push_back(InNamespace(p, conn.GetNameSpace()));
        return found;
    }
    RKCIMUTIL_TRACE_AND_RETHROW(fn)
}

cim::CIMObjectPath RkCimUtil::GetSystemObjPathByProp(RkCimConnection& conn, std::string className,
                                                     std::string systemName) {
    std::vector<cim::CIMObjectPath> all =
        GetSystemObjPathListByPropList(conn, className, systemName);
    return all.empty() ? cim::CIMObjectPath() : all.front();
}

std::string RkCimUtil::GetIBMSVCVolObjPathByUUID(RkCimConnection& conn, std::string uuid) {
    LookupScope scope(*this);
    try {
        return GetObjPathByPropName(conn, "IBMTSSVC_ConciseVolume", "UniqueID", uuid).toString();
    }
    RKCIMUTIL_TRACE_AND_RETURN("SMIS::GetIBMSVCVolObjPathByUUID", std::string())
}

cim::CIMObjectPath RkCimUtil::GetPreferredNodeForIBMSVC(RkCimConnection& conn,
                                                        std::string nodePath) {
    const char* fn = "SMIS::GetPreferredNodeForIBMSVC";
    LookupScope scope(*this);
    size_t colon = nodePath.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= nodePath.size()) {
        DEBUG_TRACE(fn, "Node [%s] is not of the form system:node", nodePath.c_str());
        SetLookupFailed();
        return cim::CIMObjectPath();
    }
    const std::string system = nodePath.substr(0, colon);
    const std::string node = nodePath.substr(colon + 1);
    try {
        return GetObjPathByProp(conn, "IBMTSSVC_Node", "Name", node, system);
    }
    RKCIMUTIL_TRACE_AND_RETURN(fn, cim::CIMObjectPath())
}

cim::CIMObjectPath RkCimUtil::GetVolumeObjectPath(RkCimConnection& conn, std::string systemName,
                                                  std::string volume) {
    const char* fn = "SMIS::GetVolumeObjectPath";
    LookupScope scope(*this);
    if (volume.empty()) {
        // Taken as a name, an empty text would match every volume.
        SetLookupFailed();
        return cim::CIMObjectPath();
    }
    try {
        return InNamespace(cim::CIMObjectPath::parse(volume), conn.GetNameSpace());
    } catch (const cim::MalformedObjectNameException&) {
        // Not a path: a device id or a name.
    }
    try {
        cim::CIMObjectPath p =
            GetObjPathByPropNamev2(conn, systemName, "CIM_StorageVolume", "DeviceID", volume);
        if (p.getClassName().isNull())
            p = GetObjPathByPropNamev2(conn, systemName, "CIM_StorageVolume", "Name", volume);
        return p;
    }
    RKCIMUTIL_TRACE_AND_RETURN(fn, cim::CIMObjectPath())
}
