// Replica preparation and creation (older engine): the wrappers of
// "CreateReplica" and its preparation, and the copy-type check.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <cim/CIMObjectPath.h>
#include <cim/CIMParamValue.h>
#include <cim/CIMValue.h>

#include "rkso/RKPlatformInfo.h"
#include "smis/ProviderVendor.h"
#include "smis/RkCaught.h"
#include "smis/SmisAction.h"

namespace {

const char* const kConfigService = "CIM_StorageConfigurationService";

bool TalonNumberSet(const char* key, unsigned long& value) {
    value = 0;
    return RKPlatformInfo().getNumber("Talon", key, &value) != 0;
}

// "SupportedSynchronizationType" (the index) to copy type; values above 9 match nothing.
int CopyTypeOfSyncType(unsigned long syncType) {
    static const int kTable[] = {0, 0, 2, 2, 3, 3, 4, 4, 5, 6};
    return syncType < sizeof kTable / sizeof kTable[0] ? kTable[syncType] : -1;
}

}  // namespace

bool SmisAction::ValidateCreateReplica(RkCimConnection& conn, std::vector<std::string>& args,
                                       cim::CIMObjectPath& service) {
    const char* fn = "SMIS::ValidateCreateReplica";
    if (args.size() < 4) {
        DEBUG_TRACE(fn, "create: insufficient params specified");
        DEBUG_TRACE(fn,
                    "\tneed: systemName NewElementName CopyType(2-5) SourceVolume "
                    "[TargetSettingId] [TargetPoolId]");
        return false;
    }
    if (!ValidateSystemName(conn, args[0], kConfigService, service)) {
        DEBUG_TRACE(fn, "Class %s for system %s not found", kConfigService, args[0].c_str());
        return false;
    }
    return true;
}

bool SmisAction::PrepareCreateReplica(RkCimConnection& conn, std::vector<std::string>& args,
                                      std::vector<std::string>& results) {
    const char* fn = "SMIS::PrepareCreateReplica";
    try {
        cim::CIMObjectPath service;
        if (!ValidateCreateReplica(conn, args, service)) return false;
        const RK_PROVIDER_VENDOR vendor = RKProviderVendor::GetVendorId(service);
        const std::string& systemName = args[0];

        cim::CIMObjectPath source;
        if (!ParsePathOrName(args[3], source)) {
            DEBUG_TRACE(fn, "Supplied source volume is not a object path, assuming UUID(Name)");
            source = GetObjPathByPropNamev2(conn, systemName, "CIM_StorageVolume", "Name", args[3]);
        }
        if (source.getClassName().isNull()) {
            DEBUG_TRACE(fn, " LUN UUID %s not found", args[3].c_str());
            return false;
        }
        DEBUG_TRACE(fn, "SrcVol: %s", source.toString().c_str());

        std::string setting = "null";
        if (ArgPresent(args, 4)) {
            cim::CIMObjectPath p =
                GetObjPathByPropName(conn, "CIM_StorageSetting", "InstanceID", args[4]);
            if (p.getClassName().isNull()) {
                DEBUG_TRACE(fn, "Class %s: InstanceID %s not found", "CIM_StorageSetting",
                            args[4].c_str());
                return false;
            }
            setting = p.toString();
            DEBUG_TRACE(fn, "Target Setting: %s", setting.c_str());
        }

        std::string pool = "null";
        if (ArgPresent(args, 5)) {
            cim::CIMObjectPath p =
                vendor == VENDOR_3PAR || vendor == VENDOR_IBMSVC
                    ? GetObjPathByPropName(conn, "CIM_StoragePool", "ElementName", args[5])
                    : GetObjPathByPropNamev2(conn, systemName, "CIM_StoragePool", "ElementName",
                                             args[5]);
            if (p.getClassName().isNull()) {
                DEBUG_TRACE(fn, "Class %s: name %s not found", "CIM_StoragePool", args[5].c_str());
                return false;
            }
            pool = p.toString();
            DEBUG_TRACE(fn, "Storage Pool: %s", pool.c_str());
        } else {
            std::vector<cim::CIMObjectPath> pools =
                conn.GetAssociatorNames(source, "CIM_AllocatedFromStoragePool", "CIM_StoragePool");
            if (pools.empty()) {
                DEBUG_TRACE(fn, "Pool %s: not found for Storage Volume %s", "CIM_StoragePool",
                            source.toString().c_str());
            } else {
                cim::CIMObjectPath p = pools.front();
                if (p.getNameSpace().isNull()) p.setNameSpace(conn.GetNameSpace());
                pool = p.toString();
            }
        }

        if (RKProviderVendor::IsESeries(vendor)) service.setNameSpace(conn.GetNameSpace());
        results = {service.toString(), args[1], args[2], source.toString(), setting, pool};
        return true;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return false;
    }
}

unsigned int SmisAction::CreateReplica(RkCimConnection& conn, std::vector<std::string>& args,
                                       std::string& targetPath) {
    const char* fn = "SMIS::CreateReplica";
    const char* method = "CreateReplica";
    // Service, name, copy type and source are required.
    if (args.size() < 4) {
        DEBUG_TRACE(fn, "%s: Validation Failed: Invalid Parameters", fn);
        return 5;
    }
    try {
        const cim::CIMObjectPath service = cim::CIMObjectPath::parse(args[0]);
        const cim::CIMObjectPath source = cim::CIMObjectPath::parse(args[3]);
        const RK_PROVIDER_VENDOR vendor = RKProviderVendor::GetVendorId(service);
        const int copyType = std::atoi(args[2].c_str());

        cim::CIMObjectPath goal;
        if (ArgPresent(args, 4)) {
            goal = cim::CIMObjectPath::parse(args[4]);
        } else if (vendor == VENDOR_HPEVA) {
            unsigned long noSetting = 0;
            if (!TalonNumberSet("HPEVA_NO_STORAGE_SETTING", noSetting) || noSetting == 0)
                goal = ChooseHpevaAllocation(conn, source, copyType);
        }
        cim::CIMObjectPath pool;
        if (ArgPresent(args, 5)) pool = cim::CIMObjectPath::parse(args[5]);

        const std::string goalText = goal.getClassName().isNull() ? "None" : goal.toString();
        const std::string poolText = pool.getClassName().isNull() ? "None" : pool.toString();
        DEBUG_TRACE_NORMAL(fn, "CreateReplica Parameters");
        DEBUG_TRACE_NORMAL(fn, "ElementName   - %s:", args[1].c_str());
        DEBUG_TRACE_NORMAL(fn, "Copy Type     - %d:", copyType);
        DEBUG_TRACE_NORMAL(fn, "Source Volume - %s:", source.toString().c_str());
        DEBUG_TRACE_NORMAL(fn, "Target Goal   - %s:", goalText.c_str());
        DEBUG_TRACE_NORMAL(fn, "Target Pool   - %s:", poolText.c_str());
        DEBUG_TRACE_NORMAL(
            fn, "host = %s, userName = %s , conn = %u", conn.GetCimom().GetAddress().c_str(),
            conn.GetCimom().GetUserName().c_str(), static_cast<unsigned>(conn.IsConnected()));

        cim::Array<cim::CIMParamValue> in;
        in.emplace_back("ElementName", args[1].empty() ? MakeCimNullVal(cim::CIMTYPE_STRING, false)
                                                       : cim::CIMValue(args[1]));
        in.emplace_back("CopyType", cim::CIMValue(static_cast<cim::Uint16>(copyType)));
        in.emplace_back("SourceElement", cim::CIMValue(source));
        in.emplace_back("TargetSettingGoal", goal.getClassName().isNull()
                                                 ? MakeCimNullVal(cim::CIMTYPE_REFERENCE, false)
                                                 : cim::CIMValue(goal));
        in.emplace_back("TargetPool", pool.getClassName().isNull()
                                          ? MakeCimNullVal(cim::CIMTYPE_REFERENCE, false)
                                          : cim::CIMValue(pool));

        cim::Array<cim::CIMParamValue> out;
        unsigned int ret = 0;
        {
            // E-Series providers take one creation at a time.
            RkCriticalSectionLock lock(RKProviderVendor::IsESeries(vendor) ? &m_Lock : nullptr);
            cim::CIMValue value = InvokeMethod(conn, service, method, in, out);
            ret = GetRetVal(value);
            DEBUG_TRACE(fn, "%s: Method, retVal = %u (0x%x)", method, ret, ret);
        }
        if (ret == 4096) {
            DEBUG_TRACE(fn, "%s: Job started", method);
        } else if (ret != 0) {
            DEBUG_TRACE(fn, "%s: Method failed, retVal = %u (0x%x)", method, ret, ret);
            if (vendor == VENDOR_IBMSVC)
                DEBUG_TRACE(fn, "%s", GetErrorMessage(ret, method).c_str());
            PrintParamSet(out, true);
            return ret;
        }
        cim::CIMObjectPath target = GetTargetElementHandle(out);
        targetPath = target.getClassName().isNull() ? std::string() : target.toString();
        if (ret == 4096) {
            cim::CIMObjectPath job = GetJobHandle(out);
            return WatchJob(job, conn, 60, 10) == RK_JOB_COMPLETED ? 0 : 1;
        }
        return 0;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}

cim::CIMObjectPath SmisAction::ChooseHpevaAllocation(RkCimConnection& conn,
                                                     const cim::CIMObjectPath& source,
                                                     int copyType) {
    const char* fn = "SMIS::CreateReplica";
    std::string syncPath, replicaPath;
    if (GetSyncPathFromSourceBySyncType(conn, copyType, source.toString(), syncPath, replicaPath) ==
        0) {
        // A replica of this type fixed the policy already; its setting is only reported.
        std::vector<cim::CIMObjectPath> settings;
        if (!replicaPath.empty())
            settings = conn.GetAssociatorNames(cim::CIMObjectPath::parse(replicaPath),
                                               "CIM_ElementSettingData", "CIM_StorageSetting");
        if (settings.empty())
            DEBUG_TRACE(fn,
                        "Not able to obtain snap volume storage setting instance, proceeding "
                        "default allocation scheme");
        else
            DEBUG_TRACE(fn, "Already allocation policy fixed by previous snap setting: [%s]",
                        settings.front().toString().c_str());
        return cim::CIMObjectPath();
    }
    std::vector<cim::CIMObjectPath> settings =
        conn.GetAssociatorNames(source, "CIM_ElementSettingData", "CIM_StorageSetting");
    if (settings.empty()) {
        DEBUG_TRACE(fn, "Not able to obtain source volume storage setting instance");
        return cim::CIMObjectPath();
    }
    const cim::CIMObjectPath& sourceSetting = settings.front();
    DEBUG_TRACE(fn, "Source volume Setting: %s", sourceSetting.toString().c_str());

    bool fully = false;
    unsigned long policy = 0;
    if (TalonNumberSet("HPEVA_SNAPSHOT_ALLOCATION_POLICY", policy)) {
        fully = policy != 0;
        if (fully) DEBUG_TRACE(fn, "RegKey set for FULLY_ALLOCATED snapshot creation");
    } else if (m_pLogger) {
        const char* key = "SMCONFIG_NAME_ENABLE_ONDEMAND_SNAPSHOT_ALLOCATION_POLICY";
        int onDemand = 1;
        m_pLogger->getConfigInt(key, &onDemand);
        DEBUG_TRACE(fn, " Array Config [%s:%d]", key, onDemand);
        fully = onDemand == 0;
    }
    const std::string chosen = fully ? "FULLY_ALLOCATED" : "ON_DEMAND";
    const std::string other = fully ? "ON_DEMAND" : "FULLY_ALLOCATED";
    std::string id = GetPropByObjPath(sourceSetting, "InstanceID");
    const size_t at = id.find(other);
    if (at != std::string::npos)
        id.replace(at, other.size(), chosen);
    else if (id.find(chosen) == std::string::npos)
        id.clear();  // names neither policy: nothing to derive
    cim::CIMObjectPath variant;
    if (!id.empty())
        variant =
            GetObjPathByPropName(conn, sourceSetting.getClassName().getString(), "InstanceID", id);
    if (variant.getClassName().isNull()) {
        DEBUG_TRACE(fn,
                    "Not able to obtain instance for %s allocation, proceeding default "
                    "allocation scheme",
                    chosen.c_str());
        return cim::CIMObjectPath();
    }
    DEBUG_TRACE(fn, "Changed setting: %s", variant.toString().c_str());
    return variant;
}

unsigned int SmisAction::IsCopyTypeSupported(RkCimConnection& conn,
                                             std::vector<std::string>& args) {
    const char* fn = "SMIS::IsCopyTypeSupported";
    if (args.size() < 2) {
        DEBUG_TRACE(fn, "chkcopysup: Insufficient params specified");
        DEBUG_TRACE(fn, "    need: SystemName CopyType");
        return 650009;
    }
    try {
        const int copyType = std::atoi(args[1].c_str());
        if (GetSystemObjPathByNameProp(conn, args[0]).getClassName().isNull()) {
            DEBUG_TRACE(fn, "SystemName <%s> not found", args[0].c_str());
            return 650015;
        }
        const char* capabilities = "CIM_StorageReplicationCapabilities";
        std::vector<cim::CIMInstance> instances = conn.GetInstances(
            capabilities, cim::CIMPropertyList({cim::CIMName("SupportedSynchronizationType")}));
        DEBUG_TRACE(fn, "Class [%s] got %d instances", capabilities,
                    static_cast<int>(instances.size()));
        for (const cim::CIMInstance& inst : instances) {
            for (const cim::CIMProperty& p : inst.getProperties()) {
                if (p.getName().getString() != "SupportedSynchronizationType") continue;
                // Scalar or array, of any integer type: read through the text form.
                std::vector<unsigned long> values;
                for (const std::string& piece : Tokenize(p.getValue().toString(), ','))
                    values.push_back(std::strtoul(piece.c_str(), nullptr, 10));
                for (unsigned long s : values) {
                    if (CopyTypeOfSyncType(s) != copyType) continue;
                    DEBUG_TRACE(fn, "Copy type <%d> is supported by the system <%s>", copyType,
                                args[0].c_str());
                    return 0;
                }
            }
        }
        DEBUG_TRACE(fn, "Copy type <%d> is not supported by the system <%s>", copyType,
                    args[0].c_str());
        return 1;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}
