// Where a clone volume goes and how big it is: CreateStorageVolParams works out the
// new volume's pool, size and placement from its source.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <cim/CIMInstance.h>
#include <cim/CIMObjectPath.h>
#include <cim/CIMPropertyList.h>

#include "SmisSettings.h"
#include "SmisVolumes.h"
#include "smis/ProviderVendor.h"
#include "smis/RkCaught.h"
#include "smis/SmisAction.h"

using smisvol::Presence;

namespace {

const char* const kPoolClass = "CIM_StoragePool";

std::string TextOf(const cim::CIMObjectPath& path) {
    return path.getClassName().isNull() ? std::string("null") : path.toString();
}

// "1.2.3" against the numbers of minimum, part by part; a text without numbers reads
// as 0.0.0.
bool AtLeast(const std::string& version, int major, int minor, int micro) {
    int v[3] = {0, 0, 0};
    std::sscanf(version.c_str(), "%d.%d.%d", &v[0], &v[1], &v[2]);
    const int want[3] = {major, minor, micro};
    for (int i = 0; i < 3; ++i)
        if (v[i] != want[i]) return v[i] > want[i];
    return true;
}

std::string PreferredController(SmisAction& self, RkCimConnection& conn,
                                const cim::CIMObjectPath& sourcePath, const std::string& source) {
    const char* fn = "SMIS::CreateStorageVolParams";
    std::string prefix =
        smisset::ArrayConfigString(self.m_pLogger, "SMCONFIG_NAME_SMIS_CIM_CLASSNAME_PREFIX");
    std::string fromHost;
    if (smisset::TalonString("LSI_OEM_CLASSNAME_PREFIX", fromHost)) prefix = fromHost;
    if (!prefix.empty())
        self.DEBUG_TRACE(fn, "Classname prefix [%s]  read from regkey/ snap config",
                         prefix.c_str());
    else
        prefix = RKProviderVendor::GetVendorPrefix(sourcePath);
    if (prefix.empty()) prefix = "LSISSI";

    const std::string settingClass = prefix + "_StorageVolumeSetting";
    std::vector<cim::CIMInstance> settings = conn.GetInstances(
        settingClass, cim::CIMPropertyList({cim::CIMName("PreferredManager"),
                                            cim::CIMName("StorageVolume_DeviceID")}));
    self.DEBUG_TRACE(fn, "Class [%s] got %d instances", settingClass.c_str(),
                     static_cast<int>(settings.size()));
    std::string manager;
    bool matched = false;
    for (const cim::CIMInstance& setting : settings) {
        const std::string deviceId = self.GetCIMProp(setting, "StorageVolume_DeviceID");
        // An empty id occurs in every text.
        if (deviceId.empty() || source.find(deviceId) == std::string::npos) continue;
        matched = true;
        bool found = false;
        manager = self.GetInstanceProp(conn, setting, "PreferredManager", found);
        if (!found || manager.empty())
            self.DEBUG_TRACE(fn, " Can not get PreferredManager of source volume %s",
                             source.c_str());
        break;
    }
    if (!matched)
        self.DEBUG_TRACE(fn, " Can not get LSI StorageVolumeSetting of source volume %s",
                         source.c_str());

    std::string controller;
    if (!manager.empty()) {
        const std::string controllerClass = prefix + "_StorageProcessorSystem";
        std::vector<cim::CIMInstance> controllers = conn.GetInstances(
            controllerClass,
            cim::CIMPropertyList({cim::CIMName("Name"), cim::CIMName("ElementName")}));
        for (const cim::CIMInstance& c : controllers) {
            bool found = false;
            const std::string name = self.GetInstanceProp(conn, c, "Name", found);
            if (!found) {
                self.DEBUG_TRACE(fn, " Can not get Name propery of %s",
                                 c.getPath().toString().c_str());
                break;
            }
            if (name != manager) continue;
            cim::CIMObjectPath path = c.getPath();
            if (path.getNameSpace().isNull()) path.setNameSpace(conn.GetNameSpace());
            controller = path.toString();
            break;
        }
    }
    if (controller.empty()) {
        self.DEBUG_TRACE(
            fn,
            "Unable to derive prefered controller for the storage volume, storage volume "
            "may not visible on the host after mapping");
        return "null";
    }
    self.DEBUG_TRACE(fn, "The prefered controller path is [%s]", controller.c_str());
    return controller;
}

bool ThreeParVolumeType(SmisAction& self, RkCimConnection& conn,
                        const cim::CIMInstance& sourceVolume, const cim::CIMObjectPath& sourcePath,
                        std::vector<std::string>& volArgs) {
    const char* fn = "SMIS::CreateStorageVolParams";
    bool found = false;
    const std::string thin = self.GetInstanceProp(conn, sourceVolume, "ThinlyProvisioned", found);
    const std::string userDsp = self.GetInstanceProp(conn, sourceVolume, "UserDSPName", found);
    // The source's own setting is the goal of its copy.
    std::vector<cim::CIMObjectPath> goals =
        conn.GetAssociatorNames(sourcePath, "CIM_ElementSettingData", "CIM_StorageSetting");
    const std::string goal = goals.empty() ? std::string("null") : TextOf(goals.front());
    self.DEBUG_TRACE(fn, "Going create ThinProvision [%s] UserDSP - [%s] Goal - [%s]", thin.c_str(),
                     userDsp.c_str(), goal.c_str());
    volArgs[4] = goal;
    volArgs.push_back(cim::equalNoCase(thin, "TRUE") ? "1" : "0");
    return true;
}

std::string IbmStandardGoal(SmisAction& self, RkCimConnection& conn) {
    const char* fn = "SMIS::CheckAndGetTargetGoal";
    const std::string settingClass = "IBMTSSVC_StorageVolumeSetting";
    std::vector<cim::CIMInstance> settings =
        conn.GetInstances(settingClass, cim::CIMPropertyList({cim::CIMName("ElementName")}));
    for (const cim::CIMInstance& s : settings) {
        if (!cim::equalNoCase(self.GetCIMProp(s, "ElementName"), "Standard")) continue;
        cim::CIMObjectPath path = s.getPath();
        if (path.getNameSpace().isNull()) path.setNameSpace(conn.GetNameSpace());
        self.DEBUG_TRACE(fn, "Using [%s] as target volume setting goal.", path.toString().c_str());
        return path.toString();
    }
    // Older firmware creates standard volumes without a goal.
    std::vector<cim::CIMInstance> software = conn.GetInstances(
        "CIM_SoftwareIdentity", cim::CIMPropertyList({cim::CIMName("VersionString")}));
    std::string version;
    for (const cim::CIMInstance& s : software) {
        version = self.GetCIMProp(s, "VersionString");
        if (!version.empty()) break;
    }
    if (version.empty()) {
        self.DEBUG_TRACE(fn, "Unable to get the storage array-[%s] firmware details.",
                         settingClass.c_str());
        return std::string();
    }
    int major = 0;
    if (std::sscanf(version.c_str(), "%d", &major) != 1) {
        self.DEBUG_TRACE(fn, "Unable to split firmware string-[%s].", version.c_str());
        return std::string();
    }
    if (!AtLeast(version, 7, 7, 0)) return "null";
    self.DEBUG_TRACE(fn, "Unable to get the standard goal setting for array-[%s] firmware-[%s]",
                     settingClass.c_str(), version.c_str());
    self.DEBUG_TRACE(
        fn,
        "Firmware revision [7.7.0] and higher requires standard goal to be set in order "
        "to create thick target volumes.");
    return std::string();
}

bool IbmVolumeType(SmisAction& self, RkCimConnection& conn, const cim::CIMInstance& sourceVolume,
                   const cim::CIMObjectPath& pool, std::vector<std::string>& volArgs) {
    const char* fn = "SMIS::CreateStorageVolParams";
    if (smisset::TalonNumber("nIBMSVCDisablePoolCheck") != 0) {
        self.DEBUG_TRACE(fn, "Pool online check skipped due to registry override");
    } else {
        cim::CIMObjectPath p = pool;
        const std::string status = self.GetCIMProp(conn, p, "NativeStatus");
        if (!cim::equalNoCase(status, "online")) {
            self.DEBUG_TRACE(fn, "Source Volume Pool: [%s] is not online. Native Status is [%s].",
                             pool.toString().c_str(), status.c_str());
            return false;
        }
    }
    bool found = false;
    const bool spaceEfficient = cim::equalNoCase(
        self.GetInstanceProp(conn, sourceVolume, "IsSpaceEfficient", found), "TRUE");
    // Volume type 5 is a standard (fully allocated) volume; any other is space-efficient.
    unsigned long configured = 0;
    std::string type;
    if (smisset::TalonNumberSet("IBMSVC_VDISK_TYPE", configured))
        type = std::to_string(configured);
    else if (smisset::ArrayConfigInt(self.m_pLogger, "SMCONFIG_NAME_ENABLE_THIN_PROVISIONING") !=
                 0 ||
             spaceEfficient)
        type = "6";
    else
        type = "5";

    std::string ioGroup;
    if (!smisset::TalonString("IBMSVC_IOGroup", ioGroup) || ioGroup.empty())
        ioGroup = smisset::ArrayConfigString(self.m_pLogger, "SMCONFIG_NAME_IBMSVC_IOGROUP");

    if (type == "5") {
        const std::string goal = IbmStandardGoal(self, conn);
        if (goal.empty()) return false;
        volArgs[4] = goal;
    }
    volArgs.push_back(type);
    volArgs.push_back(ioGroup.empty() ? "null" : ioGroup);
    return true;
}

}  // namespace

unsigned int SmisAction::CreateStorageVolParams(RkCimConnection& conn,
                                                std::vector<std::string>& args, std::string source,
                                                std::vector<std::string>& volArgs) {
    const char* fn = "SMIS::CreateStorageVolParams";
    if (args.size() < 3) {
        DEBUG_TRACE(fn, "createvol: insufficient args specified\n");
        DEBUG_TRACE(fn, "need: SystemName NewVolName DGName\n");
        return 650009;
    }
    try {
        const std::string& systemName = args[0];
        cim::CIMObjectPath sourcePath;
        if (!ParsePathOrName(source, sourcePath)) {
            DEBUG_TRACE(fn, "Supplied source volume is not a object path, assuming UUID(Name)");
            const Presence found = smisvol::FindByName(*this, conn, systemName, source, sourcePath);
            if (found == Presence::Unknown) return 1;
            if (found == Presence::Gone) {
                DEBUG_TRACE(fn, " LUN UUID %s not found", source.c_str());
                return 650015;
            }
        }
        DEBUG_TRACE(fn, "SrcVol: %s", sourcePath.toString().c_str());
        const RK_PROVIDER_VENDOR vendor = RKProviderVendor::GetVendorId(sourcePath);

        cim::CIMObjectPath pool;
        if (!ArgPresent(args, 2)) {
            std::vector<cim::CIMObjectPath> pools =
                conn.GetAssociatorNames(sourcePath, "CIM_AllocatedFromStoragePool", kPoolClass);
            if (pools.empty()) {
                DEBUG_TRACE(fn, "Pool %s: not found for Storage Volume %s", kPoolClass,
                            sourcePath.toString().c_str());
                return 650015;
            }
            pool = pools.front();
            if (pool.getNameSpace().isNull()) pool.setNameSpace(conn.GetNameSpace());
            const std::string label = GetCIMProp(conn, pool, "ElementName");
            DEBUG_TRACE(fn, "Source Volume Pool: [%s] FriendlyName [%s]\n", pool.toString().c_str(),
                        label.c_str());
            DEBUG_TRACE(fn,
                        " No Device Group specified, Going to use Source Volume's DG [%s] as "
                        "Target Pool \n",
                        label.c_str());
        } else {
            pool =
                vendor == VENDOR_3PAR || vendor == VENDOR_IBMSVC
                    ? GetObjPathByPropName(conn, kPoolClass, "ElementName", args[2])
                    : GetObjPathByPropNamev2(conn, systemName, kPoolClass, "ElementName", args[2]);
            if (pool.getClassName().isNull()) {
                DEBUG_TRACE(fn, "Class %s: name %s not found", kPoolClass, args[2].c_str());
                return 650015;
            }
            DEBUG_TRACE(fn, "Target Pool: %s FriendlyName %s\n", pool.toString().c_str(),
                        args[2].c_str());
        }

        cim::CIMInstance sourceVolume = conn.GetInstance(sourcePath);
        bool haveSize = false;
        bool haveCount = false;
        const std::string blockSize = GetInstanceProp(conn, sourceVolume, "BlockSize", haveSize);
        const std::string blockCount =
            GetInstanceProp(conn, sourceVolume, "NumberOfBlocks", haveCount);
        if (!haveSize || blockSize.empty()) {
            DEBUG_TRACE(fn, " Can not get BlockSize of source volume %s", source.c_str());
            return 650015;
        }
        if (!haveCount || blockCount.empty()) {
            DEBUG_TRACE(fn, " Can not get NumberOfBlocks source volume %s", source.c_str());
            return 650015;
        }
        const uint64_t size = std::strtoull(blockSize.c_str(), nullptr, 10);
        const uint64_t count = std::strtoull(blockCount.c_str(), nullptr, 10);
        if (size == 0 || count == 0 || count > UINT64_MAX / size) {
            DEBUG_TRACE(fn, " Source volume %s reports an unusable size [%s x %s]", source.c_str(),
                        blockSize.c_str(), blockCount.c_str());
            return 650015;
        }
        const std::string bytes = std::to_string(size * count);
        DEBUG_TRACE(fn, " Going to create LUN [%s] of size [%s] Bytes in Disk Group [%s]",
                    args[1].c_str(), bytes.c_str(), pool.toString().c_str());
        volArgs = {systemName, args[1], pool.toString(), bytes, "null"};

        if (RKProviderVendor::IsESeries(vendor)) {
            volArgs.push_back(PreferredController(*this, conn, sourcePath, source));
        } else if (vendor == VENDOR_3PAR) {
            if (!ThreeParVolumeType(*this, conn, sourceVolume, sourcePath, volArgs)) return 1;
        } else if (vendor == VENDOR_IBMSVC) {
            if (!IbmVolumeType(*this, conn, sourceVolume, pool, volArgs)) return 650015;
        }
        return 0;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}
