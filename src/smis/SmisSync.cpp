// Synchronization control and deletion (older engine): "ModifySynchronization" on
// the synchronization of a source and its replica, and "ReturnToStoragePool".
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <cim/CIMObjectPath.h>
#include <cim/CIMParamValue.h>
#include <cim/CIMValue.h>

#include "SmisSettings.h"
#include "SmisVolumes.h"
#include "smis/ProviderVendor.h"
#include "smis/RkCaught.h"
#include "smis/SmisAction.h"

using smisvol::Presence;

namespace {

const char* const kConfigService = "CIM_StorageConfigurationService";
const char* const kVolumeClass = "CIM_StorageVolume";

// IBM SVC: stop a FlashCopy mapping by force unless its state or copy rate and the
// host settings say otherwise (operation 8 only).
bool IbmForce(SmisAction& self, RkCimConnection& conn, cim::CIMObjectPath& sync,
              unsigned short operation) {
    const char* fn = "SMIS::ModifySync";
    if (operation != 8) return true;
    std::map<std::string, std::string> props = {{"CopyRate", ""}, {"SyncState", ""}};
    self.GetCIMPropList(conn, sync, props);
    self.DEBUG_TRACE(fn, "Background copy rate [%s] Sync state [%s] for [%s] ",
                     props["CopyRate"].c_str(), props["SyncState"].c_str(),
                     sync.toString().c_str());
    const int state = std::atoi(props["SyncState"].c_str());
    const long rate = std::atol(props["CopyRate"].c_str());
    const unsigned long enableSe = smisset::TalonNumber("nIBMSVCEnableForceSEFCStop");
    const unsigned long disableFc = smisset::TalonNumber("nIBMSVCDisableForceFCStop");
    self.DEBUG_TRACE(fn, "Regkeys nIBMSVCEnableForceSEFCStop [%lu] nIBMSVCDisableForceFCStop [%lu]",
                     enableSe, disableFc);
    bool force = true;
    if (state == 6 || state == 11) force = false;
    if (enableSe == 0 && rate == 0) force = false;
    if (disableFc == 1 && rate > 0) force = false;
    self.DEBUG_TRACE(fn, "Option force [%d] selected for IBMSVC ModifySync opertion",
                     force ? 1 : 0);
    return force;
}

}  // namespace

unsigned int SmisAction::ModifySync(RkCimConnection& conn, std::vector<std::string>& args,
                                    bool noWait) {
    const char* fn = "SMIS::ModifySync";
    const char* method = "ModifySynchronization";
    if (args.size() < 4) {
        DEBUG_TRACE(fn, "modsync: Insufficient params specified");
        DEBUG_TRACE(fn, "    need: SystemName OpType SrcVol RepVol");
        return 650009;
    }
    try {
        const std::string& systemName = args[0];
        cim::CIMObjectPath service;
        if (!ValidateSystemName(conn, systemName, kConfigService, service)) {
            DEBUG_TRACE(fn, "Class %s for system %s not found", kConfigService, systemName.c_str());
            return 650015;
        }
        const RK_PROVIDER_VENDOR vendor = RKProviderVendor::GetVendorId(service);
        int tries = 60;
        int waitSecs = 10;
        if (vendor == VENDOR_3PAR) {
            const unsigned long count = smisset::TalonNumber("n3PARJobRetryCount");
            const unsigned long secs = smisset::TalonNumber("n3PARJobWaitSeconds");
            tries = count == 0 || count > 100000 ? 720 : static_cast<int>(count);
            waitSecs = secs == 0 || secs > 3600 ? 10 : static_cast<int>(secs);
        }

        cim::CIMObjectPath source;
        if (!ParsePathOrName(args[2], source)) {
            DEBUG_TRACE(fn, "Supplied source volume is not a object path, assuming UUID(Name: %s)",
                        args[2].c_str());
            const Presence found = smisvol::FindByName(*this, conn, systemName, args[2], source);
            if (found == Presence::Unknown) return 1;
            if (found == Presence::Gone) {
                DEBUG_TRACE(fn, "Class %s: Instance not found for Source volume Name %s",
                            kVolumeClass, args[2].c_str());
                return 650015;
            }
        }
        DEBUG_TRACE(fn, "\tSourceVolume: %s", source.toString().c_str());

        cim::CIMObjectPath replica;
        if (!ParsePathOrName(args[3], replica)) {
            DEBUG_TRACE(fn, "Supplied source volume is not a object path, assuming UUID(Name: %s)",
                        args[3].c_str());
            const Presence found = smisvol::FindByName(*this, conn, systemName, args[3], replica);
            if (found == Presence::Unknown) return 1;
            if (found == Presence::Gone) {
                DEBUG_TRACE(fn, "Class %s: Instance not found for Replicated volume Name %s",
                            kVolumeClass, args[3].c_str());
                return 650015;
            }
        }
        DEBUG_TRACE(fn, "RepVol: %s", replica.toString().c_str());

        cim::CIMObjectPath sync =
            GetSyncPath(conn, conn.GetNameSpace(), systemName, source, replica);
        if (sync.getClassName().isNull()) {
            DEBUG_TRACE(fn, "Modsync operation failed due to empty sync path");
            return 650015;
        }
        DEBUG_TRACE(fn, "\tSync Path: %s", sync.toString().c_str());

        const auto operation = static_cast<cim::Uint16>(std::atoi(args[1].c_str()));
        if (vendor == VENDOR_3PAR && operation == 2) {
            DEBUG_TRACE(fn, "Going to perform 3PAR ReSync peration");
            cim::Array<cim::CIMParamValue> resync;
            resync.emplace_back("Operation", cim::CIMValue(static_cast<cim::Uint16>(4)));
            resync.emplace_back("Synchronization", cim::CIMValue(sync));
            ReSync(conn, conn.GetNameSpace(), service, resync);
        }

        DEBUG_TRACE(fn, "Going to perform ModSync [%s] operation", args[1].c_str());
        cim::Array<cim::CIMParamValue> in;
        in.emplace_back("Operation", cim::CIMValue(operation));
        in.emplace_back("Synchronization", cim::CIMValue(sync));
        if (vendor == VENDOR_IBMSVC) {
            if (operation == 2 || operation == 8 || operation == 32769)
                in.emplace_back("Force", cim::CIMValue(IbmForce(*this, conn, sync, operation)));
            if (args.size() > 4 && args[4] == "Restore")
                in.emplace_back("Restore", cim::CIMValue(true));
        }

        DEBUG_TRACE(fn, "%s: [Method - %s] [Job retry count - %d] [Job wait seconds - %d]", fn,
                    method, tries, waitSecs);
        cim::Array<cim::CIMParamValue> out;
        const unsigned int ret = GetRetVal(InvokeMethod(conn, service, method, in, out));
        DEBUG_TRACE(fn, "%s: RetVal = %u (0x%x),  outParams size = %u", method, ret, ret,
                    static_cast<unsigned>(out.size()));
        if (ret == 0) return 0;
        if (ret != 4096) {
            DEBUG_TRACE(fn, "%s: Method failed, retVal = %u (0x%x)", method, ret, ret);
            if (vendor == VENDOR_IBMSVC) {
                const std::string text = GetErrorMessage(ret, "default");
                DEBUG_TRACE(fn, "Error: %s", text.c_str());
                DEBUG_SET_ERROR(static_cast<int>(ret), text.c_str());
            }
            PrintParamSet(out, true);
            return ret;
        }
        DEBUG_TRACE(fn, "%s: Job started", method);
        if (noWait) return 0;
        cim::CIMObjectPath job = GetJobHandle(out);
        const int state = WatchJob(job, conn, tries, waitSecs);
        return state == RK_JOB_COMPLETED ? 0 : static_cast<unsigned int>(state);
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}

unsigned int SmisAction::ReSync(RkCimConnection& conn, const cim::CIMNamespaceName&,
                                const cim::CIMObjectPath& service,
                                const cim::Array<cim::CIMParamValue>& inParams) {
    const char* fn = "SMIS::ReSync";
    const char* method = "ModifySynchronization";
    try {
        cim::Array<cim::CIMParamValue> out;
        const unsigned int ret = GetRetVal(InvokeMethod(conn, service, method, inParams, out));
        DEBUG_TRACE(fn, "%s: RetVal = %u (0x%x),  outParams size = %u", "Resync", ret, ret,
                    static_cast<unsigned>(out.size()));
        int state = RK_JOB_COMPLETED;
        if (ret == 4096) {
            DEBUG_TRACE(fn, "%s: Job started", "Resync");
            cim::CIMObjectPath job = GetJobHandle(out);
            state = WatchJob(job, conn, 60, 1);
        } else if (ret != 0 && RKProviderVendor::GetVendorId(service) == VENDOR_IBMSVC) {
            DEBUG_TRACE(fn, "Error: %s", GetErrorMessage(ret, "default").c_str());
        }
        // The requested operation goes on whatever the resync did; say so.
        if ((ret != 0 && ret != 4096) || state != RK_JOB_COMPLETED)
            DEBUG_TRACE(fn, "Resync failed (retVal %u, job state %d), going on", ret, state);
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        DEBUG_TRACE(fn, "Resync failed, going on");
    }
    return 0;
}

unsigned int SmisAction::DetachVol(RkCimConnection& conn, std::vector<std::string>& args) {
    const char* fn = "SMIS::DetachVol";
    std::vector<std::string> sync = args;
    if (!sync.empty()) sync.insert(sync.begin() + 1, "2");
    const unsigned int ret = ModifySync(conn, sync, false);
    if (ret != 650015 || args.size() < 3) return ret;
    // No synchronization or no replica: a replica the provider no longer has is gone,
    // which is what a detach of a snapshot leaves too.
    try {
        cim::CIMObjectPath replica;
        if (smisvol::Locate(*this, conn, args[0], args[2], fn, replica) == Presence::Gone) {
            DEBUG_TRACE(fn, "Replica volume %s not found", args[2].c_str());
            return 650008;
        }
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
    }
    return ret;
}

unsigned int SmisAction::DeleteVol(RkCimConnection& conn, std::vector<std::string>& args) {
    const char* fn = "SMIS::DeleteVol";
    const char* method = "ReturnToStoragePool";
    if (args.size() < 2) {
        DEBUG_TRACE(fn, "delvol: Insufficient params specified");
        DEBUG_TRACE(fn, "    need: SystemName VolumeID");
        return 650009;
    }
    try {
        const std::string& systemName = args[0];
        cim::CIMObjectPath service;
        if (!ValidateSystemName(conn, systemName, kConfigService, service)) {
            DEBUG_TRACE(fn, "Class %s for system %s not found", kConfigService, systemName.c_str());
            return 650015;
        }
        DEBUG_TRACE(fn, "Service: %s", service.toString().c_str());
        const RK_PROVIDER_VENDOR vendor = RKProviderVendor::GetVendorId(service);

        cim::CIMObjectPath volume;
        const Presence found = smisvol::Locate(*this, conn, systemName, args[1], fn, volume);
        if (found == Presence::Unknown) return 1;
        if (found == Presence::Gone) {
            DEBUG_TRACE(fn, "Class %s: Lun UUID %s not found", kVolumeClass, args[1].c_str());
            return 650008;
        }

        // A mapped volume is never deleted; an unreadable mapping counts as one.
        std::vector<cim::CIMObjectPath> controllers = GetVolCtlrPaths(conn, volume);
        if (conn.AuthFailed()) {
            DEBUG_TRACE(fn, "Can not delete, host mappings of the volume could not be read");
            return 1;
        }
        if (!controllers.empty()) {
            DEBUG_TRACE(fn, "Can not delete, Volume found %d Host mappings",
                        static_cast<int>(controllers.size()));
            return 650006;
        }

        DEBUG_TRACE(fn, "Volume %s, Deleting ....", volume.toString().c_str());
        cim::Array<cim::CIMParamValue> in;
        in.emplace_back("TheElement", cim::CIMValue(volume));
        cim::Array<cim::CIMParamValue> out;
        const unsigned int ret = GetRetVal(InvokeMethod(conn, service, method, in, out));
        DEBUG_TRACE(fn, "%s: RetVal = %u (0x%x),  outParams size = %u", method, ret, ret,
                    static_cast<unsigned>(out.size()));
        if (ret == 0) return 0;
        if (ret == 4096) {
            DEBUG_TRACE(fn, "%s: Job started", method);
            cim::CIMObjectPath job = GetJobHandle(out);
            const int state = WatchJob(job, conn, 60, 10);
            return state == RK_JOB_COMPLETED ? 0 : static_cast<unsigned int>(state);
        }
        DEBUG_TRACE(fn, "%s: Method failed, retVal = %u (0x%x)", method, ret, ret);
        if (vendor == VENDOR_IBMSVC) {
            const std::string text = GetErrorMessage(ret, "default");
            DEBUG_TRACE(fn, "Error: %s", text.c_str());
            DEBUG_SET_ERROR(static_cast<int>(ret), text.c_str());
        }
        PrintParamSet(out, true);
        return ret;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}
