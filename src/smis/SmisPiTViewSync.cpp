// ModifyReplicaSynchronization: acts on the synchronization between a source and a
// replica; the unmap and delete roads use it to remove a PiT view (operation 19).
#include <cctype>
#include <string>
#include <vector>

#include <cim/CIMClient.h>
#include <cim/Exception.h>

#include "SmisReplicationService.h"
#include "smis/ProviderVendor.h"
#include "smis/RkCaught.h"
#include "smis/SmisAction.h"

namespace {

const char* const kFunction = "SMIS::ModifyReplicaSynchronization";
const char* const kMethod = "ModifyReplicaSynchronization";

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

unsigned int SmisAction::ModifyReplicaSynchronization(RkCimConnection& conn,
                                                      std::vector<std::string>& args, bool noWait) {
    const char* fn = kFunction;
    if (args.size() < 5) {
        DEBUG_TRACE(fn, "modsync: Insufficient params specified");
        DEBUG_TRACE(fn, "    need: SystemName OpType SrcVol RepVol waitType");
        return 650009;
    }
    try {
        const std::string& systemName = args[0];
        cim::Uint16 operation = 0;
        cim::Uint16 waitType = 0;
        if (!smisaction::ReadUint16(args[1], operation) ||
            !smisaction::ReadUint16(args[4], waitType)) {
            DEBUG_TRACE(fn, "Operation [%s] or wait type [%s] is not a number", args[1].c_str(),
                        args[4].c_str());
            return 5;
        }
        const bool force = args.size() > 5 && args[5] == "1";

        cim::CIMObjectPath service = smisaction::ReplicationService(*this, conn, systemName, fn);
        if (service.getClassName().isNull()) return conn.AuthFailed() ? 1 : 650015;
        const RK_PROVIDER_VENDOR vendor = RKProviderVendor::GetVendorId(service);

        cim::CIMObjectPath source, replica;
        if (!ParsePathOrName(args[2], source)) {
            DEBUG_TRACE(fn, "Supplied source volume is not a object path, assuming UUID(Name: %s)",
                        args[2].c_str());
            source = GetObjPathByPropName(conn, "CIM_StorageVolume", "Name", args[2]);
        }
        if (source.getClassName().isNull()) {
            DEBUG_TRACE(fn, "Class %s: Instance not found for Source volume Name %s",
                        "CIM_StorageVolume", args[2].c_str());
            return conn.AuthFailed() ? 1 : 650015;
        }
        DEBUG_TRACE(fn, "\tSourceVolume: %s", source.toString().c_str());
        if (!ParsePathOrName(args[3], replica)) {
            DEBUG_TRACE(fn, "Supplied source volume is not a object path, assuming UUID(Name: %s)",
                        args[3].c_str());
            replica = GetObjPathByPropName(conn, "CIM_StorageVolume", "Name", args[3]);
        }
        if (replica.getClassName().isNull()) {
            DEBUG_TRACE(fn, "Class %s: Instance not found for Replicated volume Name %s",
                        "CIM_StorageVolume", args[3].c_str());
            return conn.AuthFailed() ? 1 : 650015;
        }
        DEBUG_TRACE(fn, "RepVol: %s", replica.toString().c_str());

        cim::CIMObjectPath sync =
            GetSyncPath(conn, conn.GetNameSpace(), systemName, source, replica);
        if (RKProviderVendor::IsESeries(vendor) &&
            (sync.getClassName().isNull() ||
             Lower(sync.toString()).find("pitviewsynchronized") == std::string::npos)) {
            const std::string prefix = smisaction::PrefixOf(source);
            std::vector<cim::CIMObjectPath> groupViews = conn.GetAssociatorNames(
                replica, "CIM_OrderedMemberOfCollection", prefix + "_ConsistencyGroupPiTView");
            if (groupViews.empty()) {
                std::vector<cim::CIMObjectPath> refs =
                    conn.GetReferenceNames(replica, prefix + "_PiTViewSynchronized");
                if (refs.empty()) {
                    DEBUG_TRACE(
                        fn, "ModifyReplicaSynchronization operation failed due to empty sync path");
                    return conn.AuthFailed() ? 1 : 650015;
                }
                sync = refs.front();
            } else {
                std::vector<cim::CIMObjectPath> refs =
                    conn.GetReferenceNames(groupViews.front(), prefix + "_CGPiTViewSynchronized");
                if (refs.empty()) {
                    DEBUG_TRACE(fn, "No SyncPath exists between ConsistencyGroup To CGPiTView.");
                    return conn.AuthFailed() ? 1 : 650015;
                }
                sync = refs.front();
            }
        }
        if (sync.getClassName().isNull()) {
            DEBUG_TRACE(fn, "ModReplicaSync operation failed due to empty sync path");
            return 650015;
        }
        DEBUG_TRACE(fn, "\tSync Path: %s", sync.toString().c_str());
        if (vendor == VENDOR_FUJITSU) {
            std::string text = sync.toString();
            const size_t at = text.find("CIM_");
            if (at != std::string::npos) text.replace(at, 4, "FUJITSU_");
            sync = cim::CIMObjectPath::parse(text);
            DEBUG_TRACE(fn, "Modified Sync path [%s]", text.c_str());
        }
        DEBUG_TRACE_NORMAL(fn, "Going to perform ModReplicaSync [%d] operation", operation);

        cim::Array<cim::CIMParamValue> in;
        in.emplace_back("Operation", cim::CIMValue(operation));
        in.emplace_back("Synchronization", cim::CIMValue(sync));
        in.emplace_back("Force", cim::CIMValue(force));
        in.emplace_back("WaitForCopyState", vendor == VENDOR_EMC && waitType == 0
                                                ? MakeCimNullVal(cim::CIMTYPE_UINT16, false)
                                                : cim::CIMValue(waitType));
        in.emplace_back("ReplicationSettingData", MakeCimNullVal(cim::CIMTYPE_REFERENCE, false));

        cim::Array<cim::CIMParamValue> out;
        const unsigned int result = GetRetVal(InvokeMethod(conn, service, kMethod, in, out));
        DEBUG_TRACE(fn, "%s: RetVal = %u (0x%x),  outParams size = %u", kMethod, result, result,
                    static_cast<unsigned>(out.size()));
        if (result == 4096) {
            DEBUG_TRACE(fn, "%s: Job started", kMethod);
            PrintParamSet(out, false);
            if (noWait) return 0;
            cim::CIMObjectPath job = GetJobHandle(out);
            const int state = WatchJob(job, conn, 60, 10);
            return state == RK_JOB_COMPLETED ? 0 : static_cast<unsigned int>(state);
        }
        if (result == 0) {
            PrintParamSet(out, false);
            return 0;
        }
        DEBUG_TRACE(fn, "%s: Method failed, retVal = %u (0x%x)", kMethod, result, result);
        if (vendor == VENDOR_IBMSVC) {
            const std::string text = GetErrorMessage(result, "default");
            DEBUG_TRACE(fn, "Error: %s", text.c_str());
            if (m_pLogger) m_pLogger->setErrorInfo(static_cast<int>(result), text.c_str());
        }
        PrintParamSet(out, true);
        return result;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}
