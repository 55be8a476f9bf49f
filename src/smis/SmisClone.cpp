// Clone volumes (older engine): the new, empty volume ("CreateOrModifyElementFromStoragePool",
// with "AssignStorageResourceAffinity" for its preferred controller) and its attach to the
// source ("AttachOrModifyReplica").
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
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

cim::CIMValue RefOrNull(const cim::CIMObjectPath& path) {
    return path.getClassName().isNull() ? cim::CIMValue(cim::CIMTYPE_REFERENCE, false)
                                        : cim::CIMValue(path);
}

// An IBM SVC copy or clean rate: the array's setting, else fallback; 0 to 100.
cim::Uint16 Rate(SmisAction& self, int value, const char* invalidText) {
    if (value < 0 || value > 100) {
        self.DEBUG_TRACE("SMIS::AttachModRep", "%s", invalidText);
        return 50;
    }
    return static_cast<cim::Uint16>(value);
}

// IBM SVC FlashCopy settings, inserted before "CopyType"; returns the copy type to send.
cim::Uint16 AddIbmMappingParams(SmisAction& self, RkCimConnection& conn,
                                cim::CIMObjectPath& replica, int copyType,
                                cim::Array<cim::CIMParamValue>& in) {
    const char* fn = "SMIS::AttachModRep";
    if (copyType == 4) {
        in.emplace_back("BackgroundCopyRate", cim::CIMValue(static_cast<cim::Uint16>(0)));
        in.emplace_back("CleanRate", cim::CIMValue(static_cast<cim::Uint16>(0)));
    } else if (copyType == 5) {
        const int clean =
            smisset::ArrayConfigInt(self.m_pLogger, "SMCONFIG_NAME_IBMSVC_CLEAN_RATE", 50);
        int background = smisset::ArrayConfigInt(self.m_pLogger,
                                                 "SMCONFIG_NAME_IBMSVC_BACKGROUND_COPY_RATE", -1);
        if (background == -1) background = smisset::TalonInt("IBMSVC_FC_BACKGROUNDCOPYRATE", 50);
        in.emplace_back(
            "CleanRate",
            cim::CIMValue(Rate(self, clean, "Invalid clean rate, setting to default rate 50")));
        in.emplace_back("BackgroundCopyRate",
                        cim::CIMValue(Rate(self, background,
                                           "Invalid background rate, setting to default rate 50")));
        in.emplace_back("Incremental", cim::CIMValue(true));
    }
    cim::Uint16 sent = 4;
    if (copyType == 6) {
        self.DEBUG_TRACE(fn, "Reverse FlashCopy requested, enabling FlashCopy mapping autodelete");
        sent = 5;
    }
    in.emplace_back("ElementName", cim::CIMValue(self.GetCIMProp(conn, replica, "ElementName")));
    const int grain = smisset::TalonInt("IBMSVC_MAP_GRAIN_SIZE");
    if (grain > 0)
        in.emplace_back(
            "GrainSize",
            cim::CIMValue(static_cast<cim::Uint16>(grain == 64 || grain == 256 ? grain : 256)));
    return sent;
}

// Gives the new volume the source's preferred controller. A refusal or a failure is only
// traced: the volume exists and may simply be owned by the other controller.
void AssignPreferredController(SmisAction& self, RkCimConnection& conn,
                               const cim::CIMObjectPath& service, cim::Uint16 elementType,
                               const std::string& controller, const cim::CIMObjectPath& volume) {
    const char* fn = "SMIS::CreateStorageVolume";
    const char* method = "AssignStorageResourceAffinity";
    if (volume.getClassName().isNull()) {
        self.DEBUG_TRACE(fn, "The new volume was not named, its preferred owner stays as it is");
        return;
    }
    try {
        self.DEBUG_TRACE(fn, "Going to change the preferred owner of volume [%s]to controller [%s]",
                         volume.toString().c_str(), controller.c_str());
        cim::Array<cim::CIMParamValue> in;
        in.emplace_back("ResourceType", cim::CIMValue(elementType));
        in.emplace_back("StorageProcessor", cim::CIMValue(cim::CIMObjectPath::parse(controller)));
        in.emplace_back("StorageResources", cim::CIMValue(cim::Array<cim::CIMObjectPath>{volume}));
        cim::Array<cim::CIMParamValue> out;
        const unsigned int ret = self.GetRetVal(self.InvokeMethod(conn, service, method, in, out));
        self.DEBUG_TRACE(fn, "%s: RetVal = %u (0x%x),  outParams size = %u", method, ret, ret,
                         static_cast<unsigned>(out.size()));
        if (ret != 0 && ret != 6 && ret != 4096)
            self.DEBUG_TRACE(fn,
                             "Unable to set prefered controller path for the storage volume [%s], "
                             "\t\t\t\t\t\t\t\t\t  the storage volume may not visible on the "
                             "host after mapping",
                             volume.toString().c_str());
    } catch (...) {
        RK_TRACE_CAUGHT(self, fn);
    }
}

}  // namespace

unsigned int SmisAction::CreateStorageVolume(RkCimConnection& conn,
                                             std::vector<std::string>& volArgs,
                                             std::string& newVolumePath) {
    const char* fn = "SMIS::CreateStorageVolume";
    const char* method = "CreateOrModifyElementFromStoragePool";
    if (volArgs.size() < 4) {
        DEBUG_TRACE(fn, "createvol: insufficient args specified\n");
        DEBUG_TRACE(fn, "need: SystemName NewVolName PoolID Size(Bytes) [SettingID or \"null\"]\n");
        return 650009;
    }
    try {
        const std::string& systemName = volArgs[0];
        const cim::CIMObjectPath pool = cim::CIMObjectPath::parse(volArgs[2]);
        unsigned long long size = 0;
        char tail = 0;
        if (std::sscanf(volArgs[3].c_str(), "%llu%c", &size, &tail) != 1 || volArgs[3][0] == '-') {
            DEBUG_TRACE(fn, "createvol: size [%s] is not a number of bytes", volArgs[3].c_str());
            return 5;
        }
        cim::CIMObjectPath goal;
        if (ArgPresent(volArgs, 4)) goal = cim::CIMObjectPath::parse(volArgs[4]);

        DEBUG_TRACE(fn, "%s: SystemName = %s", fn, systemName.c_str());
        cim::CIMObjectPath service;
        if (!ValidateSystemName(conn, systemName, kConfigService, service)) {
            DEBUG_TRACE(fn, "Class %s for system %s not found", kConfigService, systemName.c_str());
            return 650015;
        }
        DEBUG_TRACE(fn, "Service: %s", service.toString().c_str());
        const RK_PROVIDER_VENDOR vendor = RKProviderVendor::GetVendorId(service);
        const bool eseries = RKProviderVendor::IsESeries(vendor);
        cim::Uint16 elementType = 2;
        if ((vendor == VENDOR_3PAR || vendor == VENDOR_FUJITSU) && volArgs.size() > 5 &&
            volArgs[5] == "1")
            elementType = 5;

        cim::Array<cim::CIMParamValue> in;
        in.emplace_back("ElementName", volArgs[1].empty()
                                           ? cim::CIMValue(cim::CIMTYPE_STRING, false)
                                           : cim::CIMValue(volArgs[1]));
        in.emplace_back("ElementType", cim::CIMValue(elementType));
        in.emplace_back("Goal", RefOrNull(goal));
        in.emplace_back("Size", cim::CIMValue(static_cast<cim::Uint64>(size)));
        in.emplace_back("InPool", cim::CIMValue(pool));
        in.emplace_back("TheElement", cim::CIMValue(cim::CIMTYPE_REFERENCE, false));
        if (vendor == VENDOR_IBMSVC) {
            // Volume type 5 is a standard volume; the I/O group goes when one is set.
            in.emplace_back("isSpaceEfficient",
                            cim::CIMValue(volArgs.size() > 5 && volArgs[5] != "5"));
            if (ArgPresent(volArgs, 6)) in.emplace_back("IOGroup", cim::CIMValue(volArgs[6]));
        }

        cim::Array<cim::CIMParamValue> out;
        unsigned int ret = 0;
        {
            // E-Series providers take one creation at a time.
            RkCriticalSectionLock lock(eseries ? &m_Lock : nullptr);
            ret = GetRetVal(InvokeMethod(conn, service, method, in, out));
            DEBUG_TRACE(fn, "%s: RetVal = %u (0x%x),  outParams size = %u", method, ret, ret,
                        static_cast<unsigned>(out.size()));
        }
        if (ret != 0 && ret != 4096) {
            DEBUG_TRACE(fn, "%s: Method failed, retVal = %u (0x%x)", method, ret, ret);
            if (vendor == VENDOR_IBMSVC) {
                const std::string text = GetErrorMessage(ret, method);
                DEBUG_TRACE(fn, "Error: %s", text.c_str());
                DEBUG_SET_ERROR(static_cast<int>(ret), text.c_str());
            }
            PrintParamSet(out, true);
            return ret;
        }
        cim::CIMObjectPath volume = GetTargetElementHandle(out);
        if (!volume.getClassName().isNull() && volume.getNameSpace().isNull())
            volume.setNameSpace(conn.GetNameSpace());
        newVolumePath = volume.getClassName().isNull() ? std::string() : volume.toString();
        if (ret == 4096) {
            DEBUG_TRACE(fn, "%s: Job started", method);
            cim::CIMObjectPath job = GetJobHandle(out);
            const int state = WatchJob(job, conn, 500, 15);
            if (state != RK_JOB_COMPLETED) return static_cast<unsigned int>(state);
        }
        if (eseries && smisset::TalonInt("LSI_ENABLE_PREFERED_CONTROLLER_PATH") > 0 &&
            ArgPresent(volArgs, 5))
            AssignPreferredController(*this, conn, service, elementType, volArgs[5], volume);
        return 0;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}

unsigned int SmisAction::AttachModRep(RkCimConnection& conn, std::vector<std::string>& args,
                                      std::string& syncPath) {
    const char* fn = "SMIS::AttachModRep";
    if (args.size() < 4) {
        DEBUG_TRACE(fn, "atmodrep: insufficient args specified\n");
        DEBUG_TRACE(fn, "need: SystemName CopyType SrcVol RepVol\n");
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
        cim::CIMObjectPath volumes[2];
        for (int i = 0; i < 2; ++i) {
            const std::string& text = args[2 + i];
            if (ParsePathOrName(text, volumes[i])) continue;
            const Presence found = smisvol::FindByName(*this, conn, systemName, text, volumes[i]);
            if (found == Presence::Unknown) return 1;
            if (found == Presence::Gone) {
                DEBUG_TRACE(fn, " LUN UUID %s not found", text.c_str());
                return 650015;
            }
        }
        cim::CIMObjectPath& source = volumes[0];
        cim::CIMObjectPath& replica = volumes[1];
        DEBUG_TRACE(fn, "SrcVol: %s", source.toString().c_str());
        DEBUG_TRACE(fn, "RepVol: [%s]", replica.toString().c_str());
        DEBUG_TRACE(fn, "CopyType: [%s]", args[1].c_str());

        const int copyType = std::atoi(args[1].c_str());
        cim::Array<cim::CIMParamValue> in;
        in.emplace_back("SourceElement", cim::CIMValue(source));
        in.emplace_back("TargetElement", cim::CIMValue(replica));
        cim::Uint16 sent = static_cast<cim::Uint16>(copyType);
        if (vendor == VENDOR_IBMSVC) sent = AddIbmMappingParams(*this, conn, replica, copyType, in);
        in.emplace_back("CopyType", cim::CIMValue(sent));

        const char* method = vendor == VENDOR_HPEVA || vendor == VENDOR_IBMSVC
                                 ? "AttachReplica"
                                 : "AttachOrModifyReplica";
        cim::Array<cim::CIMParamValue> out;
        unsigned int ret = 0;
        {
            // E-Series providers take one creation at a time.
            RkCriticalSectionLock lock(RKProviderVendor::IsESeries(vendor) ? &m_Lock : nullptr);
            ret = GetRetVal(InvokeMethod(conn, service, method, in, out));
            DEBUG_TRACE(fn, "%s: RetVal = %u (0x%x),  outParams size = %u", method, ret, ret,
                        static_cast<unsigned>(out.size()));
        }
        if (ret != 0 && ret != 4096) {
            DEBUG_TRACE(fn, "%s: Method failed, retVal = %u (0x%x)", method, ret, ret);
            if (vendor == VENDOR_IBMSVC)
                DEBUG_TRACE(fn, "Error: %s", GetErrorMessage(ret, method).c_str());
            PrintParamSet(out, true);
            return ret;
        }
        if (ret == 4096) DEBUG_TRACE(fn, "%s: Job started", method);
        PrintParamSet(out, true);
        if (ret == 4096) {
            cim::CIMObjectPath job = GetJobHandle(out);
            const int state = WatchJob(job, conn, 1500, 45);
            if (state != RK_JOB_COMPLETED) return static_cast<unsigned int>(state);
        }
        // Only a completed attach has a synchronization to name.
        cim::CIMObjectPath sync =
            GetSyncPath(conn, conn.GetNameSpace(), systemName, source, replica);
        syncPath = sync.getClassName().isNull() ? std::string() : sync.toString();
        return 0;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}
