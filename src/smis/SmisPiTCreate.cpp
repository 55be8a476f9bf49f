// Wrapper of "CreateSynchronizationAspect", which takes a PiT of a volume or of a
// replication (consistency) group.
#include <cerrno>
#include <cstdlib>
#include <string>

#include <cim/CIMObjectPath.h>
#include <cim/CIMParamValue.h>
#include <cim/CIMValue.h>

#include "smis/ProviderVendor.h"
#include "smis/RkCaught.h"
#include "smis/SmisAction.h"

namespace {

// A whole decimal number that fits 16 bits.
bool ReadUint16(const std::string& text, cim::Uint16& value) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long n = std::strtoul(text.c_str(), nullptr, 10);
    if (n > 65535) return false;
    value = static_cast<cim::Uint16>(n);
    return true;
}

}  // namespace

unsigned int SmisAction::CreateSynchronizationAspect(RkCimConnection connection,
                                                     std::map<std::string, std::string>& params,
                                                     cim::Array<cim::CIMParamValue>& outParams) {
    const char* fn = "SMIS::CreateSynchronizationAspect";
    const char* method = "CreateSynchronizationAspect";
    if (params.size() < 3) {
        DEBUG_TRACE(fn, "%s: Validation Failed: Insufficient Parameters", method);
        return 650009;
    }
    try {
        const std::string systemName = params.count("SystemName") ? params["SystemName"] : "";
        cim::CIMObjectPath service;
        if (!ValidateSystemName(connection, systemName, "SNIA_ReplicationService", service)) {
            DEBUG_TRACE(fn, "Class %s for system %s not found", "SNIA_ReplicationService",
                        systemName.c_str());
            return 650015;
        }
        const RK_PROVIDER_VENDOR vendor = RKProviderVendor::GetVendorId(service);

        const bool hasName = EntryPresent(params, "Name");
        cim::Uint16 syncType = 0;
        if (!EntryPresent(params, "SyncType") || !ReadUint16(params["SyncType"], syncType)) {
            DEBUG_TRACE(fn, "SyncType is not provided. Cannot continue as it is required.");
            return 5;
        }
        cim::Uint16 mode = 0;
        const bool hasMode = EntryPresent(params, "mode") && ReadUint16(params["mode"], mode);
        cim::Uint16 consistency = 0;
        const bool hasConsistency =
            EntryPresent(params, "consistency") && ReadUint16(params["consistency"], consistency);

        cim::CIMObjectPath source;
        if (EntryPresent(params, "SourceElement")) {
            const std::string& text = params["SourceElement"];
            if (!ParsePathOrName(text, source)) {
                DEBUG_TRACE(fn, "Supplied source volume is not a object path, assuming UUID(Name)");
                source = GetObjPathByPropNamev2(connection, systemName, "CIM_StorageVolume", "Name",
                                                text);
            }
            if (source.getClassName().isNull()) {
                DEBUG_TRACE(fn, " LUN UUID %s not found", text.c_str());
                return 650015;
            }
            DEBUG_TRACE_NORMAL(fn, "%s", source.toString().c_str());
        }
        cim::CIMObjectPath group;
        const bool hasGroup = EntryPresent(params, "SourceGroup");
        if (hasGroup) {
            const std::string& text = params["SourceGroup"];
            if (!ParsePathOrName(text, group)) {
                DEBUG_TRACE(fn,
                            "Supplied source group is not a object path, assuming Element Name");
                group =
                    GetObjPathByPropName(connection, "CIM_ReplicationGroup", "ElementName", text);
            }
            if (group.getClassName().isNull()) {
                DEBUG_TRACE(fn, " Replication Group %s not found", text.c_str());
                return 650015;
            }
            DEBUG_TRACE_NORMAL(fn, "%s", group.toString().c_str());
        }
        const bool hasAccessPoint = params.count("ServiceAccessPoint") > 0;
        const std::string settingData =
            params.count("replicationSettingData") ? params["replicationSettingData"] : "";
        // A consistency value asks for the group form even without a group.
        const bool groupForm = hasGroup || hasConsistency;

        const cim::CIMValue nullRef = MakeCimNullVal(cim::CIMTYPE_REFERENCE, false);
        const cim::CIMValue nullUint16 = MakeCimNullVal(cim::CIMTYPE_UINT16, false);
        cim::Array<cim::CIMParamValue> in;
        in.emplace_back("Name", hasName ? cim::CIMValue(params["Name"])
                                        : MakeCimNullVal(cim::CIMTYPE_STRING, false));
        in.emplace_back("SyncType", cim::CIMValue(syncType));
        in.emplace_back("Mode", hasMode ? cim::CIMValue(mode) : nullUint16);
        const bool sendSource = !groupForm && !source.getClassName().isNull();
        in.emplace_back("SourceElement", sendSource ? cim::CIMValue(source) : nullRef);
        const bool sendGroup = groupForm && hasGroup;
        in.emplace_back("SourceGroup", sendGroup ? cim::CIMValue(group) : nullRef);
        in.emplace_back("Consistency",
                        groupForm && hasConsistency ? cim::CIMValue(consistency) : nullUint16);
        if (hasAccessPoint) in.emplace_back("ServiceAccessPoint", nullRef);

        DEBUG_TRACE_NORMAL(fn, "CreateSynchronizationAspect Parameters");
        DEBUG_TRACE_NORMAL(fn, "ElementName   - %s", hasName ? params["Name"].c_str() : "");
        DEBUG_TRACE_NORMAL(fn, "SyncType     - %d", syncType);
        DEBUG_TRACE_NORMAL(fn, "Mode     - %s", hasMode ? std::to_string(mode).c_str() : "");
        DEBUG_TRACE_NORMAL(fn, "SourceElement - %s", sendSource ? source.toString().c_str() : "");
        DEBUG_TRACE_NORMAL(fn,
                           "SourceGroup   - %s:", sendGroup ? group.toString().c_str() : "None");
        DEBUG_TRACE_NORMAL(fn, "ServiceAccessPoint   - %s:", "NULL (always)");
        DEBUG_TRACE_NORMAL(
            fn, "Consistency   - %s:",
            groupForm && hasConsistency ? std::to_string(consistency).c_str() : "None");
        DEBUG_TRACE_NORMAL(fn, "Replication Setting data - %s", settingData.c_str());

        const unsigned int ret =
            GetRetVal(InvokeMethod(connection, service, method, in, outParams));
        if (ret == 4096) {
            DEBUG_TRACE(fn, "%s: Job started", method);
            if (vendor == VENDOR_EMC) {
                cim::CIMObjectPath job = GetJobHandle(outParams);
                const int state = WatchJob(job, connection, 10, 1);
                return state == RK_JOB_COMPLETED ? 0 : static_cast<unsigned int>(state);
            }
            // E-Series: the PiT and its outputs exist once the method answers.
            PrintParamSet(outParams, false);
            return 0;
        }
        if (ret == 0) {
            DEBUG_TRACE(fn, "%s: Method returned, retVal = %u (0x%x)", method, ret, ret);
            PrintParamSet(outParams, false);
            return 0;
        }
        DEBUG_TRACE(fn, "%s: Method failed, retVal = %u (0x%x)", method, ret, ret);
        PrintParamSet(outParams, true);
        return ret;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}
