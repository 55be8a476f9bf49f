// PiT groups and PiTs: a source volume is prepared (replication service, source
// path), gets its PiT group "<name>_SMIS_PG" once, and PiTs are taken in it (or of
// a consistency group) with "CreateSynchronizationAspect".
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <cim/CIMObjectPath.h>
#include <cim/CIMParamValue.h>
#include <cim/CIMValue.h>

#include "eseries/LSISnapshot.h"
#include "rkso/RKPlatformInfo.h"
#include "smis/RkCaught.h"

namespace {

const char* const kReplicationService = "SNIA_ReplicationService";
constexpr size_t kMaxGroupLabel = 30;
constexpr int kDefaultRepositoryPercent = 40;

bool Has(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// A whole unsigned decimal number of at most 64 bits.
bool ReadUint64(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 20 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    unsigned long long n = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0) return false;
    value = n;
    return true;
}

}  // namespace

int LSISnapshot::PreparePiT() {
    const char* fn = "Snapshot::PreparePiT";
    auto fail = [this]() {
        m_SnapStatus = RKSO::SNAP_STATUS_PREPARE_FAILED;
        return m_SnapStatus;
    };
    if (m_SystemName.empty() || m_SnapName.empty() || m_SourceDev.empty() || m_PiTOperation != 7) {
        TraceInvalidParameters(fn);
        DEBUG_TRACE(fn, "Dumping Parameters\n");
        DEBUG_TRACE(fn,
                    "systemName = %s, snapName = %s, sourceDev = %s,\t\t\t\t\t\t\t  \t\t\tsnapOp "
                    "= %d\n",
                    m_SystemName.c_str(), m_SnapName.c_str(), m_SourceDev.c_str(), m_PiTOperation);
        return fail();
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return fail();
    try {
        const std::string nameSpace = m_CimConnection.GetNameSpace();
        const std::string vendor = GetVendorName();
        DEBUG_TRACE(fn, "Namespace = %s, Vendor = %s", nameSpace.c_str(), vendor.c_str());

        std::string group;
        if (!m_DiskGroupName.empty())
            group = GetDGByName(m_CimConnection, m_SystemName, m_DiskGroupName);
        const bool groupMissing = !m_DiskGroupName.empty() && group.empty();
        const bool eseries = Has(vendor, "LSI") || Has(vendor, "DCIM") || Has(vendor, "NETAPP");
        if (eseries && m_UseDiskGroupOnly && groupMissing) {
            char message[1024];
            std::snprintf(message, sizeof message,
                          "%s: Can not find Disk Group [%s] for Snap/Clone operation", fn,
                          m_DiskGroupName.c_str());
            setErrorMsg(60552, message);
            return fail();
        }

        m_SourceDevPath = GetVolObjPathByUUID(m_CimConnection, m_SourceDev, "");
        if (m_SourceDevPath.empty()) {
            char message[1024];
            std::snprintf(message, sizeof message, "%s: Can not find source volume %s\n", fn,
                          m_SourceDev.c_str());
            if (!m_CimConnection.AuthFailed()) setErrorMsg(60542, message);
            return fail();
        }
        m_SourceDevFriendlyName = GetCIMProp(m_CimConnection, m_SourceDevPath, "ElementName");
        DEBUG_TRACE(fn, "Source Device friendly name: %s\n", m_SourceDevFriendlyName.c_str());

        std::string groupArg = "null";
        if (m_DiskGroupName.empty()) {
            DEBUG_TRACE(fn, "Going to use Default Disk Group for PiT operation");
        } else if (groupMissing) {
            DEBUG_TRACE(fn,
                        "Supplied DiskGroup [%s] not found, Going to use Default Disk Group for "
                        "PiT operation",
                        m_DiskGroupName.c_str());
        } else {
            groupArg = m_DiskGroupName;
            DEBUG_TRACE(fn, "Going to use Disk Group [%s] for PiT operation",
                        m_DiskGroupName.c_str());
        }
        std::vector<std::string> args = {m_SystemName,
                                         m_SnapName,
                                         std::to_string(m_PiTOperation),
                                         m_SourceDevPath,
                                         m_TargetSettingId.empty() ? "null" : m_TargetSettingId,
                                         groupArg};
        const bool prepared = PrepareCreateReplica(m_CimConnection, args, m_PrepareResults);

        cim::CIMObjectPath service;
        if (!ValidateSystemName(m_CimConnection, m_SystemName, "CIM_ReplicationService", service)) {
            DEBUG_TRACE(fn, "Class %s for system %s not found", "CIM_ReplicationService",
                        m_SystemName.c_str());
            // No service to store: the prepare failed, whatever an earlier one left.
            return fail();
        }
        service.setNameSpace(nameSpace);
        connection.Close();
        if (!prepared) {
            DEBUG_TRACE(fn, "Failed\n");
            return fail();
        }
        DEBUG_TRACE(fn, "Success\n");
        m_SnapStatus = RKSO::SNAP_STATUS_PREPARED;
        m_ServicePath = service.toString();
        if (m_PrepareResults.size() > 4 && !Has(m_PrepareResults[4], "null"))
            m_TargetSettingPath = m_PrepareResults[4];
        if (m_PrepareResults.size() > 5 && !Has(m_PrepareResults[5], "null"))
            m_TargetDGPath = m_PrepareResults[5];
        return m_SnapStatus;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return fail();
    }
}

int LSISnapshot::CreatePiTGroup() {
    const char* fn = "LSISnapshot::CreatePiTGroup";
    const char* method = "CreatePiTGroup";
    if (m_SystemName.empty() || m_SourceDev.empty()) {
        DEBUG_TRACE(fn, "Insufficient Parameters.");
        DEBUG_TRACE(fn, "SystemName = %s, SourceDevice =%s, SourceDevPath =%s",
                    m_SystemName.c_str(), m_SourceDev.c_str(), m_SourceDevPath.c_str());
        return -1;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return -1;
    try {
        cim::CIMObjectPath service;
        if (!ValidateSystemName(m_CimConnection, m_SystemName, kReplicationService, service)) {
            DEBUG_TRACE(fn, "Class %s for system %s not found", kReplicationService,
                        m_SystemName.c_str());
            return 650015;
        }
        if (m_SourceDevFriendlyName.empty())
            m_SourceDevFriendlyName = GetCIMProp(m_CimConnection, m_SourceDevPath, "ElementName");
        // Without the source's own name every such volume would share one label.
        if (m_SourceDevFriendlyName.empty()) {
            DEBUG_TRACE(fn, "Can not get the name of source volume %s", m_SourceDev.c_str());
            return 650015;
        }
        const std::string label = m_SourceDevFriendlyName + "_SMIS_PG";
        if (label.size() > kMaxGroupLabel) {
            char message[1024];
            std::snprintf(message, sizeof message,
                          "PiTGroup Name[%s] exceeds 30 characters. Rename the source volume "
                          "with 22 or less characters.",
                          label.c_str());
            DEBUG_SET_ERROR(60540, message);
            return 5;
        }
        const std::string serviceClass = service.getClassName().getString();
        const std::string groupClass = serviceClass.substr(0, serviceClass.find('_')) + "_PiTGroup";
        // Only this array's groups: another array of the provider may hold a volume of
        // the same name with its own group.
        if (!GetObjPathByPropName(m_CimConnection, m_SystemName, groupClass, "ElementName", label,
                                  true)
                 .toString()
                 .empty()) {
            DEBUG_TRACE(fn, "PiT Group [%s] already exist.", label.c_str());
            return 0;
        }

        cim::CIMObjectPath base;
        if (!ParsePathOrName(m_SourceDevPath, base)) {
            DEBUG_TRACE_NORMAL(fn,
                               "Supplied source volume is not a object path, assuming UUID(Name)");
            base = GetObjPathByPropNamev2(m_CimConnection, m_SystemName, "CIM_StorageVolume",
                                          "Name", m_SourceDev);
        }
        if (base.getClassName().isNull()) {
            DEBUG_TRACE(fn, " LUN UUID %s not found", m_SourceDev.c_str());
            return 650015;
        }
        DEBUG_TRACE_NORMAL(fn, "%s", base.toString().c_str());

        const cim::CIMInstance volume = m_CimConnection.GetInstance(base);
        uint64_t blockSize = 0;
        uint64_t blocks = 0;
        if (!ReadUint64(GetCIMProp(volume, "BlockSize"), blockSize)) {
            DEBUG_TRACE(fn, " Can not get BlockSize of source volume %s", m_SourceDev.c_str());
            return 650015;
        }
        if (!ReadUint64(GetCIMProp(volume, "NumberOfBlocks"), blocks)) {
            DEBUG_TRACE(fn, " Can not get NumberOfBlocks source volume %s", m_SourceDev.c_str());
            return 650015;
        }
        uint64_t capacity = 0;
        if (__builtin_mul_overflow(blockSize, blocks, &capacity)) {
            DEBUG_TRACE(fn, " Can not get NumberOfBlocks source volume %s", m_SourceDev.c_str());
            return 650015;
        }

        int percent = kDefaultRepositoryPercent;
        if (m_pLogger) {
            m_pLogger->getConfigInt("SMCONFIG_PITGROUP_REPOSITORY_SIZE_KEY", &percent);
            DEBUG_TRACE(fn, "Array Config [%s:%d]", "PiT Group repository size(%)", percent);
        }
        int fromHost = 0;
        if (RKPlatformInfo().getRegInt("~Talon", "nNetApp-E-Series-PiTGroupRepSize", &fromHost)) {
            percent = fromHost;
            DEBUG_TRACE(fn, "The setting-[%s] is enabled, value-[%d]",
                        "nNetApp-E-Series-PiTGroupRepSize", percent);
        }
        if (percent < 1 || percent > 100) percent = kDefaultRepositoryPercent;
        // percent x capacity / 100 without overflowing 64 bits.
        const uint64_t pct = static_cast<uint64_t>(percent);
        const uint64_t size = capacity / 100 * pct + capacity % 100 * pct / 100;
        const std::string sizeText = std::to_string(size);

        DEBUG_TRACE_NORMAL(fn, "CreatePiTGroup method Parameters");
        DEBUG_TRACE_NORMAL(fn, "Base Volume   - %s:", base.toString().c_str());
        DEBUG_TRACE_NORMAL(fn, "Label\t\t - %s:", label.c_str());
        DEBUG_TRACE_NORMAL(fn, "Size\t\t\t - %s:", sizeText.c_str());

        cim::Array<cim::CIMParamValue> in;
        in.emplace_back("BaseVolume", cim::CIMValue(base));
        in.emplace_back("Label", cim::CIMValue(label));
        in.emplace_back("RepositorySize", cim::CIMValue(static_cast<cim::Uint64>(size)));
        cim::Array<cim::CIMParamValue> out;
        const unsigned int ret = GetRetVal(InvokeMethod(m_CimConnection, service, method, in, out));
        if (ret == 4096) {
            DEBUG_TRACE(fn, "%s: Job started", method);
            PrintParamSet(out, false);
            // Watched on the open connection: a closed one would read every job as done.
            cim::CIMObjectPath job = GetJobHandle(out);
            const int state = WatchJob(job, m_CimConnection, 60, 10);
            return state == RK_JOB_COMPLETED ? 0 : 1;
        }
        if (ret == 0) {
            DEBUG_TRACE(fn, "%s: Method returned, retVal = %u (0x%x)", method, ret, ret);
            connection.Close();
            PrintParamSet(out, false);
            return 0;
        }
        DEBUG_TRACE(fn, "%s: Method failed, retVal = %u (0x%x)", method, ret, ret);
        PrintParamSet(out, true);
        std::string text;
        const int code = GetVendorSmisErrorCode(static_cast<int>(ret), &text);
        if (code != -1 && !text.empty()) DEBUG_SET_ERROR(code, text.c_str());
        return code;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}

int LSISnapshot::CreatePiT() {
    const char* fn = "Snapshot::CreatePiT";
    auto finish = [this, fn](int status) {
        DEBUG_TRACE(fn, status == RKSO::SNAP_STATUS_CREATED ? "Success\n" : "Failed\n");
        m_SnapStatus = static_cast<RKSO::SnapStatus>(status);
        return status;
    };
    if (m_SnapStatus != RKSO::SNAP_STATUS_PREPARED) {
        DEBUG_TRACE(fn, "Device not ready for snapshot\n");
        m_SnapStatus = RKSO::SNAP_STATUS_CREATE_FAILED;
        return m_SnapStatus;
    }
    DEBUG_TRACE_NORMAL(fn, "Creating PiT\n");
    const char* dump = "servicePath = %s, snapName = %s, sourceDevPath = %s, snapOp = %d\n";
    if (m_ServicePath.empty() || m_SnapName.empty() || m_SourceDevPath.empty() ||
        m_PiTOperation != 7) {
        TraceInvalidParameters(fn);
        DEBUG_TRACE(fn, "Dumping Parameters\n");
        DEBUG_TRACE(fn, dump, m_ServicePath.c_str(), m_SnapName.c_str(), m_SourceDevPath.c_str(),
                    m_PiTOperation);
        m_SnapStatus = RKSO::SNAP_STATUS_CREATE_FAILED;
        return m_SnapStatus;
    }
    DEBUG_TRACE_NORMAL(fn, dump, m_ServicePath.c_str(), m_SnapName.c_str(), m_SourceDevPath.c_str(),
                       m_PiTOperation);
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) {
        m_SnapStatus = RKSO::SNAP_STATUS_CREATE_FAILED;
        return m_SnapStatus;
    }
    try {
        if (!m_SourceDevFriendlyName.empty())
            DEBUG_TRACE(fn, "Source Device friendly name: %s\n", m_SourceDevFriendlyName.c_str());
        std::map<std::string, std::string> params = {
            {"SystemName", m_SystemName},
            {"Name", m_SnapName},
            {"SyncType", std::to_string(m_PiTOperation)},
        };
        if (m_UseConsistencyGroup)
            params["SourceGroup"] = m_PiTName;
        else
            params["SourceElement"] = m_SourceDevPath;

        cim::Array<cim::CIMParamValue> out;
        if (FaultRetryEnabled()) {
            DEBUG_TRACE(fn, "Pegasus retry in faulty environment");
            std::map<std::string, std::string> throwAway = params;
            throwAway["SyncType"] = "15";
            CreateSynchronizationAspect(m_CimConnection, throwAway, out);
        }
        const unsigned int result = CreateSynchronizationAspect(m_CimConnection, params, out);
        if (result == 0) {
            // The PiT's identity is its InstanceID, the key of the "SettingData" reference.
            std::string pitPath;
            std::string pitName;
            for (const cim::CIMParamValue& p : out) {
                const cim::CIMValue& v = p.getValue();
                if (p.getParameterName() != "SettingsState" || v.isNull() || v.isArray() ||
                    v.getType() != cim::CIMTYPE_REFERENCE)
                    continue;
                cim::CIMObjectPath state;
                v.get(state);
                pitPath = GetPropByObjPath(state, "SettingData");
                cim::CIMObjectPath pit;
                if (!pitPath.empty() && ParsePathOrName(pitPath, pit))
                    pitName = GetPropByObjPath(pit, "InstanceID");
                break;
            }
            if (pitName.empty()) {
                DEBUG_TRACE(fn, "Could not get object path of target PiT");
                setErrorMsg(1, "Snapshot::CreatePiT: Could not get object path of target PiT");
                return finish(RKSO::SNAP_STATUS_CREATE_FAILED);
            }
            m_PiTPath = pitPath;
            m_PiTName = pitName;
            DEBUG_TRACE_NORMAL(fn, "Target PiT [%s], PiTPath = %s\n", m_PiTName.c_str(),
                               m_PiTPath.c_str());
            connection.Close();
            m_ErrorCode = 0;
            return finish(RKSO::SNAP_STATUS_CREATED);
        }
        // A rejected login was reported already; the close forgets it.
        const bool refused = m_CimConnection.AuthFailed();
        connection.Close();
        std::string text;
        const int code = GetVendorSmisErrorCode(static_cast<int>(result), &text);
        if (code != -1 && !text.empty() && !refused) DEBUG_SET_ERROR(code, text.c_str());
        m_ErrorCode = code != -1 ? code : static_cast<int>(result);
        return finish(RKSO::SNAP_STATUS_CREATE_FAILED);
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return finish(RKSO::SNAP_STATUS_CREATE_FAILED);
    }
}
