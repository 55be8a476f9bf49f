// The masking wrappers: ExposePaths presents volumes to a host, HidePaths takes
// them away again. Both go to the array's controller configuration service; where
// the host already has a protocol controller on the array, that controller stands
// for the host and the initiator ports are left out.
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include <cim/Exception.h>

#include "RkCimUtilInternal.h"
#include "RkCtlrLookup.h"
#include "rkso/RKPlatformInfo.h"
#include "smis/ProviderVendor.h"
#include "smis/SmisAction.h"

namespace {

const char* const kExpose = "SMIS::ExposePaths";
const char* const kHide = "SMIS::HidePaths";

std::string Joined(const cim::Array<cim::String>& list) {
    std::string text;
    for (const std::string& s : list) text += (text.empty() ? "" : ",") + s;
    return text;
}

// The controllers of the system named by identifiers: a whole "DeviceID", or the part
// after its first ':'.
std::vector<cim::CIMObjectPath> ControllersByDeviceId(RkCimUtil& util, RkCimConnection& conn,
                                                      const std::string& systemName,
                                                      const std::vector<std::string>& ids) {
    std::vector<cim::CIMObjectPath> found;
    for (const cim::CIMObjectPath& c :
         util.GetSystemObjPathListByPropList(conn, "CIM_SCSIProtocolController", systemName)) {
        const std::string deviceId = rkcimutil::KeyValue(c, "DeviceID");
        const size_t colon = deviceId.find(':');
        const std::string ref = colon == std::string::npos ? "" : deviceId.substr(colon + 1);
        for (const std::string& id : ids)
            if (id == deviceId || (!ref.empty() && id == ref)) {
                rkctlr::AppendOnce(found, c);
                break;
            }
    }
    return found;
}

// Talon integer at or below zero (or absent) keeps the IBM SVC "Force" on.
bool ForceUnlessDisabled(const char* key) {
    int value = 0;
    return !(RKPlatformInfo().getRegInt("Talon", key, &value) && value > 0);
}

cim::CIMValue StringsOrNull(const RkCimUtil& util, const cim::Array<cim::String>& list) {
    return list.empty() ? util.MakeCimNullVal(cim::CIMTYPE_STRING, true) : cim::CIMValue(list);
}

cim::CIMValue ControllersOrNull(const RkCimUtil& util,
                                const std::vector<cim::CIMObjectPath>& list) {
    return list.empty() ? util.MakeCimNullVal(cim::CIMTYPE_REFERENCE, true) : cim::CIMValue(list);
}

// The two catch formats of the masking wrappers; call only inside a catch handler.
void TraceCaught(const RkCimUtil& util, const char* fn, bool exposeForm, int line) {
    const char* file = rkcimutil::BaseName(__FILE__);
    try {
        throw;
    } catch (const cim::CIMException& e) {
        util.DEBUG_TRACE(fn,
                         exposeForm ? "%s %s: %d: Caught CIMException: %s: %s"
                                    : "%s: %s: %d: Caught CIMException: %s: %s",
                         fn, file, line, cim::cimStatusCodeToString(e.getCode()),
                         e.getMessage().c_str());
    } catch (const std::exception& e) {
        if (exposeForm)
            util.DEBUG_TRACE(fn, "%s: %d: Caught Exception: %s", file, line, e.what());
        else
            util.DEBUG_TRACE(fn, "%s: %s: %d: Caught Exception: %s", fn, file, line, e.what());
    } catch (...) {
        util.DEBUG_TRACE(
            fn, exposeForm ? "%s: Caught unknown Exception" : "%s : Caught unknown exception", fn);
    }
}

}  // namespace

unsigned int SmisAction::ExposePaths(RkCimConnection& conn, std::vector<std::string>& args) {
    const char* fn = kExpose;
    if (args.size() < 3) {
        DEBUG_TRACE(fn, "%s: lunmap: Insufficient params specified, need:", fn);
        DEBUG_TRACE(fn,
                    "\tSystemName LunNameList InitiatorPortList [DevNumList DevAccList "
                    "TargetPortList ViewCtlrList]");
        DEBUG_TRACE(fn, "\t\tDeviceAccess: 2 = rw, 3 = ro, 4 = none");
        DEBUG_TRACE(fn, "\t\t\tLists are comma-delimited");
        return 650009;
    }
    try {
        const std::string nameSpace = conn.GetNameSpace();
        const std::string& systemName = args[0];
        cim::Array<cim::String> luns, initiators, devNums, targetPorts;
        cim::Array<cim::Uint16> accesses;
        if (ArgPresent(args, 1)) luns = InputToStringArray(args[1], ',');
        if (ArgPresent(args, 2)) initiators = InputToStringArray(args[2], ',');
        if (ArgPresent(args, 3)) devNums = InputToStringArray(args[3], ',');
        if (ArgPresent(args, 4)) accesses = InputToIntArray(args[4], ',');
        if (ArgPresent(args, 5)) targetPorts = InputToStringArray(args[5], ',');

        cim::CIMObjectPath system = GetSystemObjPathByNameProp(conn, systemName);
        if (system.getClassName().isNull()) {
            DEBUG_TRACE(fn, "SystemName <%s> not found", systemName.c_str());
            return conn.AuthFailed() ? 1 : 650015;
        }
        const RK_PROVIDER_VENDOR vendor = RKProviderVendor::GetVendorId(system);

        const bool controllersGiven = ArgPresent(args, 6);
        std::vector<std::string> controllerIds;
        std::vector<cim::CIMObjectPath> controllers;
        if (controllersGiven) {
            controllerIds = Tokenize(args[6], ',');
        } else if (RKProviderVendor::IsESeries(vendor)) {
            controllers = GetLSICtlrListByHwIDs(conn, system, initiators, false);
        } else if (vendor == VENDOR_HPEVA) {
            controllers = rkctlr::HpEvaCtlrsByPorts(*this, conn, initiators);
        } else if (vendor == VENDOR_IBMSVC) {
            controllers = rkctlr::IbmSvcCtlrsByPorts(*this, conn, initiators);
        } else if (vendor == VENDOR_FUJITSU) {
            controllers = rkctlr::EternusCtlrsByPorts(*this, conn, system, initiators);
        }
        const size_t viewCount = controllersGiven ? controllerIds.size() : controllers.size();
        DEBUG_TRACE(fn, "%s: ViewController List size [%d]", fn, static_cast<int>(viewCount));
        if (viewCount == 0)
            DEBUG_TRACE(fn,
                        "No views found for the HBA port(s) [%s], going to create new view. This "
                        "method may fail",
                        Joined(initiators).c_str());

        DEBUG_TRACE(fn, "%s: SystemName = %s", fn, systemName.c_str());
        DEBUG_TRACE(fn, "HBA ports: %s", Joined(initiators).c_str());
        DEBUG_TRACE(fn, "LUNs: %s", Joined(luns).c_str());
        if (!devNums.empty()) DEBUG_TRACE(fn, "DevNums: %s", Joined(devNums).c_str());
        if (!accesses.empty()) DEBUG_TRACE(fn, "Device Access: %s", args[4].c_str());
        if (!targetPorts.empty()) DEBUG_TRACE(fn, "Target Ports: %s", Joined(targetPorts).c_str());

        if (!devNums.empty() && devNums.size() != luns.size()) {
            DEBUG_TRACE(fn, "%s array size mismatch with %s: %d not == %d", "DevNum", "Volume",
                        static_cast<int>(devNums.size()), static_cast<int>(luns.size()));
            return 5;
        }
        if (!accesses.empty() && accesses.size() != luns.size()) {
            DEBUG_TRACE(fn, "%s array size mismatch with %s: %d not == %d", "DeviceAccess",
                        "Volume", static_cast<int>(accesses.size()), static_cast<int>(luns.size()));
            return 5;
        }

        cim::CIMObjectPath service = GetCtlrservicePath(conn, system);
        if (service.getClassName().isNull()) return conn.AuthFailed() ? 1 : 650015;

        if (controllersGiven) {
            DEBUG_TRACE(fn, "Getting view controllers from the arguments passed in");
            controllers = ControllersByDeviceId(*this, conn, systemName, controllerIds);
        }
        std::vector<cim::CIMObjectPath> further;
        if (!controllers.empty()) {
            DEBUG_TRACE(fn, " Clearing initiator port list as requirement by %s",
                        RKProviderVendor::GetVendorPrefix(vendor).c_str());
            initiators.clear();
            if (vendor == VENDOR_FUJITSU) {
                further.assign(controllers.begin() + 1, controllers.end());
                targetPorts.clear();
                devNums.clear();
            }
            if (controllers.size() > 1) {
                DEBUG_TRACE(fn, "Trimming controller list size [%d] to [1]",
                            static_cast<int>(controllers.size()));
                controllers.resize(1);
            }
        }

        cim::Array<cim::CIMParamValue> in;
        in.emplace_back("LUNames", cim::CIMValue(luns));
        in.emplace_back("InitiatorPortIDs", StringsOrNull(*this, initiators));
        in.emplace_back("TargetPortIDs", StringsOrNull(*this, targetPorts));
        in.emplace_back("DeviceNumbers", StringsOrNull(*this, devNums));
        in.emplace_back("DeviceAccesses", accesses.empty()
                                              ? MakeCimNullVal(cim::CIMTYPE_UINT16, true)
                                              : cim::CIMValue(accesses));
        if (vendor == VENDOR_IBMSVC)
            in.emplace_back("Force",
                            cim::CIMValue(ForceUnlessDisabled("IBMSVC_DISABLE_FORCE_MAP")));
        const size_t controllersAt = in.size();
        in.emplace_back("ProtocolControllers", ControllersOrNull(*this, controllers));

        cim::Array<cim::CIMParamValue> out;
        unsigned int result = GetRetVal(InvokeMethod(conn, service, "ExposePaths", in, out));
        DEBUG_TRACE(fn, "%s: RetVal = %u (0x%x),  OutParams size = %u", fn, result, result,
                    static_cast<unsigned>(out.size()));
        if (result != 0 && result != 4096 && controllers.empty())
            result = 4098;  // nothing stood for the host: its ports were not usable
        else if (result != 0 && result != 4096)
            DEBUG_TRACE(fn, "%s: Method failed, retVal = %u (0x%x)", fn, result, result);
        PrintParamSet(out, result != 0 && result != 4096);
        result = Settled(result, conn, out, fn);

        if (result == 0 && !further.empty()) {
            DEBUG_TRACE(fn, "%s: Making additional mapping for [%d] target ports", fn,
                        static_cast<int>(further.size()));
            for (const cim::CIMObjectPath& c : further) {
                in[controllersAt] = cim::CIMParamValue(
                    "ProtocolControllers", cim::CIMValue(std::vector<cim::CIMObjectPath>{c}));
                unsigned int extra = Settled(
                    GetRetVal(InvokeMethod(conn, service, "ExposePaths", in, out)), conn, out, fn);
                DEBUG_TRACE(fn, "%s: RetVal = %u (0x%x),  OutParams size = %u", fn, extra, extra,
                            static_cast<unsigned>(out.size()));
            }
        }
        return result;
    } catch (...) {
        TraceCaught(*this, fn, true, __LINE__);
        return 1;
    }
}

unsigned int SmisAction::Settled(unsigned int result, RkCimConnection& conn,
                                 cim::Array<cim::CIMParamValue>& outParams, const char* fn) {
    if (result != 4096) return result;
    DEBUG_TRACE(fn, "%s: Job started", fn);
    cim::CIMObjectPath job = GetJobHandle(outParams);
    return WatchJob(job, conn, 60, 10) == RK_JOB_COMPLETED ? 0 : 1;
}

unsigned int SmisAction::HidePaths(RkCimConnection& conn, std::vector<std::string>& args) {
    const char* fn = kHide;
    if (args.size() < 2) {
        DEBUG_TRACE(fn, "%s : unmaplun: insufficient args specified, need:", fn);
        DEBUG_TRACE(fn, "\tSystemName VolNameList [InitiatorPortList TargetPortList ViewCtlrList]");
        DEBUG_TRACE(fn, "\t\tLists are comma-delimited");
        return 650009;
    }
    try {
        const std::string& systemName = args[0];
        cim::Array<cim::String> luns = InputToStringArray(args[1], ',');
        cim::Array<cim::String> initiators, targetPorts, volumePaths;
        std::vector<std::string> controllerIds;
        if (ArgPresent(args, 2)) initiators = InputToStringArray(args[2], ',');
        if (ArgPresent(args, 3)) targetPorts = InputToStringArray(args[3], ',');
        if (ArgPresent(args, 4)) controllerIds = Tokenize(args[4], ',');
        if (ArgPresent(args, 5)) volumePaths.push_back(args[5]);
        DEBUG_TRACE(fn, "%s: SystemName = %s", fn, systemName.c_str());
        DEBUG_TRACE(fn, "Volumes: size [%d] %s", static_cast<int>(luns.size()),
                    Joined(luns).c_str());
        DEBUG_TRACE(fn, "HBA ports(%d): %s", static_cast<int>(initiators.size()),
                    Joined(initiators).c_str());
        DEBUG_TRACE(fn, "Target Ports: %s", Joined(targetPorts).c_str());
        DEBUG_TRACE(fn, "Volume paths: size [%d] %s", static_cast<int>(volumePaths.size()),
                    Joined(volumePaths).c_str());

        cim::CIMObjectPath system = GetSystemObjPathByNameProp(conn, systemName);
        if (system.getClassName().isNull()) {
            DEBUG_TRACE(fn, "SystemName <%s> not found", systemName.c_str());
            return conn.AuthFailed() ? 1 : 650015;
        }

        std::vector<cim::CIMObjectPath> controllers;
        if (controllerIds.empty()) {
            const bool byPath = luns.size() == 1 && volumePaths.size() == 1;
            DEBUG_TRACE(fn, byPath ? "Controller paths processing with volume path list"
                                   : "Controller paths processing with volume name list");
            controllers = GetCtlrPathList(conn, system, byPath ? volumePaths : luns, initiators);
        } else {
            controllers = ControllersByDeviceId(*this, conn, systemName, controllerIds);
        }
        DEBUG_TRACE(fn, "HidePaths : viewCtlrList size [%d]", static_cast<int>(controllers.size()));
        if (controllers.empty()) {
            // After a rejected login the lookup saw nothing: that is no answer.
            if (conn.AuthFailed()) return 1;
            DEBUG_TRACE(fn, "Can not unmap the volume, not mapped to the host");
            return 650007;
        }
        DEBUG_TRACE(fn, "HidePaths : viewCtlr %s", controllers.front().toString().c_str());

        cim::CIMObjectPath service = GetCtlrservicePath(conn, system);
        if (service.getClassName().isNull()) return conn.AuthFailed() ? 1 : 650015;
        const RK_PROVIDER_VENDOR vendor = RKProviderVendor::GetVendorId(service);

        initiators.clear();
        std::vector<cim::CIMObjectPath> further;
        if (vendor == VENDOR_FUJITSU) further.assign(controllers.begin() + 1, controllers.end());
        if (controllers.size() > 1) {
            DEBUG_TRACE(fn, "Trimming controller list size [%d] to [1]",
                        static_cast<int>(controllers.size()));
            controllers.resize(1);
        }
        if (vendor == VENDOR_FUJITSU) targetPorts.clear();

        cim::Array<cim::CIMParamValue> in;
        in.emplace_back("LUNames", cim::CIMValue(luns));
        in.emplace_back("InitiatorPortIDs", StringsOrNull(*this, initiators));
        in.emplace_back("TargetPortIDs", StringsOrNull(*this, targetPorts));
        if (vendor == VENDOR_IBMSVC)
            in.emplace_back("Force",
                            cim::CIMValue(ForceUnlessDisabled("IBMSVC_DISABLE_FORCE_UNMAP")));
        const size_t controllersAt = in.size();
        in.emplace_back("ProtocolControllers", ControllersOrNull(*this, controllers));

        cim::Array<cim::CIMParamValue> out;
        unsigned int result = GetRetVal(InvokeMethod(conn, service, "HidePaths", in, out));
        DEBUG_TRACE(fn, "%s : RetVal = %u (0x%x),  OutParams size = %u", fn, result, result,
                    static_cast<unsigned>(out.size()));
        if (result != 0 && result != 4096) DEBUG_TRACE(fn, "%s : Failed...", fn);
        PrintParamSet(out, result != 0 && result != 4096);
        result = Settled(result, conn, out, fn);

        if (result == 0 && !further.empty()) {
            DEBUG_TRACE(fn, "%s: Making additional unmapping for [%d] target ports", fn,
                        static_cast<int>(further.size()));
            for (const cim::CIMObjectPath& c : further) {
                in[controllersAt] = cim::CIMParamValue(
                    "ProtocolControllers", cim::CIMValue(std::vector<cim::CIMObjectPath>{c}));
                unsigned int extra = Settled(
                    GetRetVal(InvokeMethod(conn, service, "HidePaths", in, out)), conn, out, fn);
                DEBUG_TRACE(fn, "%s : RetVal = %u (0x%x),  OutParams size = %u", fn, extra, extra,
                            static_cast<unsigned>(out.size()));
                if (extra != 0) result = extra;
            }
        }
        return result;
    } catch (...) {
        TraceCaught(*this, fn, false, __LINE__);
        return 1;
    }
}
