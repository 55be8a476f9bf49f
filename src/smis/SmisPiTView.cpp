// ModifySettingDefineState: the replication service method that attaches a view to
// a PiT (operation 5), deletes a PiT (4) or restores its source from it (32768).
#include <string>
#include <vector>

#include <cim/CIMClient.h>
#include <cim/Exception.h>

#include "SmisReplicationService.h"
#include "smis/RkCaught.h"
#include "smis/SmisAction.h"

namespace {

const char* const kFunction = "SMIS::ModifySettingsDefineState";
const char* const kMethod = "ModifySettingsDefineState";

std::string TextOf(const cim::CIMValue& v) {
    return v.isNull() ? std::string() : v.toString();
}

}  // namespace

unsigned int SmisAction::ModifySettingDefineState(RkCimConnection& connection,
                                                  std::map<std::string, std::string>& params,
                                                  cim::Array<cim::CIMParamValue>& outParams) {
    const char* fn = kFunction;
    RkCimConnection& conn = connection;
    try {
        if (params.size() < 4) DEBUG_TRACE(fn, "Validation Failed: Invalid Parameters");
        const std::string systemName = params.count("SystemName") ? params["SystemName"] : "";
        cim::CIMObjectPath service = smisaction::ReplicationService(*this, conn, systemName, fn);
        if (service.getClassName().isNull()) return conn.AuthFailed() ? 1 : 650015;
        const std::string prefix = smisaction::PrefixOf(service);

        cim::Uint16 operation = 0;
        if (!EntryPresent(params, "Operation")) {
            DEBUG_TRACE(fn, "Operation value is not given. Cannot continue without it.");
            return 5;
        }
        if (!smisaction::ReadUint16(params["Operation"], operation)) {
            DEBUG_TRACE(fn, "Operation value [%s] is not a number", params["Operation"].c_str());
            return 5;
        }

        const std::string source =
            EntryPresent(params, "sourceElement") ? params["sourceElement"] : "";
        bool groupForm = false;
        cim::CIMObjectPath sourcePath;
        if (!source.empty()) {
            sourcePath = GetObjPathByPropName(conn, "CIM_StorageVolume", "ElementName", source);
            if (sourcePath.getClassName().isNull()) {
                sourcePath =
                    GetObjPathByPropName(conn, "CIM_ReplicationGroup", "ElementName", source);
                groupForm = !sourcePath.getClassName().isNull();
            }
        }
        if (sourcePath.getClassName().isNull()) {
            DEBUG_TRACE(fn, "Source element [%s]not found.", source.c_str());
            return conn.AuthFailed() ? 1 : 650015;
        }

        if (!EntryPresent(params, "targetSyncData")) {
            DEBUG_TRACE(fn, "Target SyncAspect instance not specified.");
            return 650009;
        }
        const std::string pitClass = prefix + (groupForm ? "_ConsistencyGroupPiT" : "_PiT");
        cim::CIMObjectPath pit =
            GetObjPathByPropName(conn, pitClass, "ElementName", params["targetSyncData"]);
        if (pit.getClassName().isNull()) {
            DEBUG_TRACE(fn, "Unable to fetch the target SynchronizedAspect element.");
            return conn.AuthFailed() ? 1 : 650015;
        }

        std::vector<cim::CIMObjectPath> states =
            conn.GetReferenceNames(pit, "CIM_SettingsDefineState");
        if (states.empty()) {
            DEBUG_TRACE(fn, "Unable to get the SettingsDefineState relation.");
            return conn.AuthFailed() ? 1 : 650015;
        }
        if (states.size() > 1) {
            DEBUG_TRACE(fn, "Target PiT/CGPiT has more than one relation to Source Element.");
            return 5;
        }

        cim::CIMValue target = MakeCimNullVal(cim::CIMTYPE_REFERENCE, false);
        if (EntryPresent(params, "targetElement") && !params["targetElement"].empty()) {
            const std::string& text = params["targetElement"];
            cim::CIMObjectPath volume;
            if (!ParsePathOrName(text, volume)) {
                DEBUG_TRACE(fn, "Supplied target volume is not a object path, assuming UUID(Name)");
                volume = GetObjPathByPropName(conn, "CIM_StorageVolume", "Name", text);
            }
            if (volume.getClassName().isNull()) {
                DEBUG_TRACE(fn, " LUN UUID %s not found", text.c_str());
                return conn.AuthFailed() ? 1 : 650015;
            }
            DEBUG_TRACE(fn, "TargetVol: %s", volume.toString().c_str());
            target = cim::CIMValue(volume);
            if (operation == 5) {
                std::vector<cim::CIMObjectPath> syncs =
                    conn.GetReferenceNames(volume, prefix + "_PiTViewSynchronized");
                if (syncs.empty()) {
                    DEBUG_TRACE(fn,
                                "Sync Path for Target Element[%s] to Source element[%s] not found",
                                text.c_str(), source.c_str());
                    return conn.AuthFailed() ? 1 : 650015;
                }
                target = cim::CIMValue(syncs.front());
            }
        }

        cim::CIMValue waitFor = MakeCimNullVal(cim::CIMTYPE_UINT16, false);
        if (EntryPresent(params, "WaitForCopyState")) {
            cim::Uint16 state = 0;
            if (!smisaction::ReadUint16(params["WaitForCopyState"], state)) {
                DEBUG_TRACE(fn, "WaitForCopyState value [%s] is not a number",
                            params["WaitForCopyState"].c_str());
                return 5;
            }
            waitFor = cim::CIMValue(state);
        }

        const cim::CIMValue nullRef = MakeCimNullVal(cim::CIMTYPE_REFERENCE, false);
        cim::Array<cim::CIMParamValue> in;
        in.emplace_back("Operation", cim::CIMValue(operation));
        in.emplace_back("SettingsState", cim::CIMValue(states.front()));
        in.emplace_back("TargetElement", target);
        in.emplace_back("TargetGroup", nullRef);
        in.emplace_back("TargetPool", nullRef);
        in.emplace_back("TargetAccessPoint", nullRef);
        in.emplace_back("TargetElementCount", MakeCimNullVal(cim::CIMTYPE_UINT64, false));
        in.emplace_back("TargetSettingGoal", nullRef);
        in.emplace_back("WaitForCopyState", waitFor);

        DEBUG_TRACE_NORMAL(fn, "ModifySettingsDefineState method Parameters");
        const char* const labels[] = {
            "Operation\t- %s",          "SettingState\t- %s",      "TargetElement\t- %s",
            "TargetGroup\t- %s",        "TargetPool\t- %s",        "TargetAccessPoint\t- %s",
            "TargetElementCount\t- %s", "TargetSettingGoal\t- %s", "WaitForCopyState\t- %s"};
        for (size_t i = 0; i < in.size(); ++i)
            DEBUG_TRACE_NORMAL(fn, labels[i], TextOf(in[i].getValue()).c_str());

        const unsigned int result = GetRetVal(InvokeMethod(conn, service, kMethod, in, outParams));
        if (result == 4096) {
            DEBUG_TRACE(fn, "%s: Job started", kMethod);
            PrintParamSet(outParams, false);
            cim::CIMObjectPath job = GetJobHandle(outParams);
            return WatchJob(job, conn, 60, 10) == RK_JOB_COMPLETED ? 0 : 1;
        }
        if (result == 0) {
            DEBUG_TRACE(fn, "%s method Return Value = %u (0x%x)", kMethod, result, result);
            PrintParamSet(outParams, false);
            return 0;
        }
        DEBUG_TRACE(fn, "%s: Method failed, retVal = %u (0x%x)", kMethod, result, result);
        PrintParamSet(outParams, true);
        return result;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}
