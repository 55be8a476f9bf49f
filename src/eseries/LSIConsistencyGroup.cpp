// Consistency groups: a "CIM_ReplicationGroup" whose members are the source volumes
// of one consistency-group PiT. Groups are found by "ElementName" among this array's
// groups only, reused when they hold exactly the requested volumes, and made, filled,
// emptied and deleted with the replication service's group methods.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <cim/CIMObjectPath.h>
#include <cim/CIMParamValue.h>
#include <cim/CIMValue.h>

#include "LsiCommon.h"
#include "eseries/LSISnapshot.h"
#include "smis/RkCaught.h"

namespace {

const char* const kReplicationService = "SNIA_ReplicationService";
const char* const kGroupClass = "CIM_ReplicationGroup";
constexpr int kMaxGroupsPerVolume = 4;

// A volume's identity among a group's members: its "DeviceID" key, read from the
// path when the provider keys volumes by it, else from the instance.
std::string DeviceIdOf(LSISnapshot& snap, const cim::CIMObjectPath& volume) {
    std::string id = lsi::Key(volume, "DeviceID");
    if (id.empty()) {
        cim::CIMObjectPath path = volume;
        id = snap.GetCIMProp(snap.m_CimConnection, path, "DeviceID");
    }
    return id;
}

// The answer of one group method: 4096 is watched (60 tries of 10 s) on the still
// open connection, so that a failed job is never read as a vanished, completed one.
int AnswerGroupMethod(LSISnapshot& snap, const char* fn, const char* method, unsigned int ret,
                      cim::Array<cim::CIMParamValue>& out) {
    if (ret == 4096) {
        snap.DEBUG_TRACE(fn, "%s: Job started", method);
        snap.PrintParamSet(out, false);
        cim::CIMObjectPath job = snap.GetJobHandle(out);
        return snap.WatchJob(job, snap.m_CimConnection, 60, 10) == RK_JOB_COMPLETED ? 0 : 1;
    }
    if (ret == 0) {
        snap.DEBUG_TRACE(fn, "%s method Return Value = %u (0x%x)", method, ret, ret);
        snap.PrintParamSet(out, false);
        return 0;
    }
    snap.DEBUG_TRACE(fn, "%s: Method failed, retVal = %u (0x%x)", method, ret, ret);
    snap.PrintParamSet(out, true);
    return static_cast<int>(ret);
}

// The checks, service and group lookup shared by the four group methods.
struct GroupRequest {
    cim::CIMObjectPath service;
    cim::CIMObjectPath group;  // empty when the array has no group of that name
};

bool MissingGroupParameters(LSISnapshot& snap, const char* fn) {
    if (!snap.m_SystemName.empty() && !snap.m_SourceDev.empty() &&
        !snap.m_ConsistencyGroupName.empty())
        return false;
    snap.DEBUG_TRACE(fn, "Invalid Parameters");
    snap.DEBUG_TRACE(fn, "SystemName = %s, SourceDev = %s, Consistency Group Name = %s",
                     snap.m_SystemName.c_str(), snap.m_SourceDev.c_str(),
                     snap.m_ConsistencyGroupName.c_str());
    return true;
}

// 0 when the service was found (the group is looked up among this array's groups
// only, and may be missing); -1 after a rejected login, whose empty answers say
// nothing; noService when the array has no replication service. Raises provider
// failures.
int ResolveGroup(LSISnapshot& snap, const char* fn, GroupRequest& request, int noService) {
    if (!snap.ValidateSystemName(snap.m_CimConnection, snap.m_SystemName, kReplicationService,
                                 request.service)) {
        if (snap.m_CimConnection.AuthFailed()) return -1;
        snap.DEBUG_TRACE(fn, "Class %s for system %s not found", kReplicationService,
                         snap.m_SystemName.c_str());
        return noService;
    }
    request.group = snap.GetObjPathByPropName(snap.m_CimConnection, snap.m_SystemName, kGroupClass,
                                              "ElementName", snap.m_ConsistencyGroupName, true);
    return snap.m_CimConnection.AuthFailed() ? -1 : 0;
}

}  // namespace

bool LSISnapshot::GetConsistencyGroup(std::list<std::string> sourceVolumes, short count,
                                      int& groupIndex) {
    const char* fn = "Snapshot::GetConsistencyGroup";
    groupIndex = -1;
    if (m_SystemName.empty() || sourceVolumes.empty()) {
        DEBUG_TRACE(fn, "Invalid Parameters");
        DEBUG_TRACE(fn, "SystemName = %s, Source Volume size = %d", m_SystemName.c_str(),
                    static_cast<int>(sourceVolumes.size()));
        return false;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return false;
    try {
        // Groups each volume is in, by volume name (ascending, for the walk below).
        std::map<std::string, int> memberships;
        for (const std::string& v : sourceVolumes) memberships[v] = 0;

        std::vector<cim::CIMObjectPath> groups;
        for (const cim::CIMObjectPath& g : m_CimConnection.GetInstanceNames(kGroupClass)) {
            const std::string system = lsi::Key(g, "SystemName");
            if ((system.empty() ? lsi::Key(g, "InstanceID") : system).find(m_SystemName) !=
                std::string::npos)
                groups.push_back(g);
        }
        // After a rejected login the list is empty, which is no answer.
        if (m_CimConnection.AuthFailed()) return false;
        if (groups.empty()) {
            DEBUG_TRACE(fn, "Got empty Consistency Group List [size = %d].", 0);
            groupIndex = 0;
            return false;
        }
        DEBUG_TRACE(fn, "Found %d instances of Consistency Group", static_cast<int>(groups.size()));

        for (cim::CIMObjectPath& group : groups) {
            std::vector<cim::CIMObjectPath> members = m_CimConnection.GetAssociatorNames(
                group, "CIM_MemberOfCollection", "CIM_StorageVolume");
            // A volume counts once per group, however often the group lists it.
            std::set<std::string> matched;
            for (const cim::CIMObjectPath& m : members) {
                const std::string id = DeviceIdOf(*this, m);
                if (id.empty() && LookupFailed()) return false;
                auto it = memberships.find(id);
                if (it == memberships.end() || !matched.insert(id).second) continue;
                ++it->second;
            }
            if (m_CimConnection.AuthFailed()) return false;
            if (static_cast<long>(members.size()) == count &&
                matched.size() == memberships.size()) {
                const std::string name = GetCIMProp(m_CimConnection, group, "ElementName");
                if (LookupFailed()) return false;
                m_ConsistencyGroupName = name;
                DEBUG_TRACE(fn, "Found %s as the Consistency Group",
                            m_ConsistencyGroupName.c_str());
                if (m_ConsistencyGroupName.empty())
                    groupIndex = 0;
                else if (m_ConsistencyGroupName[0] >= '0' && m_ConsistencyGroupName[0] <= '9')
                    groupIndex = m_ConsistencyGroupName[0] - '0';
                return true;
            }
        }

        groupIndex = memberships.begin()->second;
        for (const auto& [volume, n] : memberships) {
            DEBUG_TRACE(fn, "sourceCount [%s] = %d", volume.c_str(), n);
            if (n >= kMaxGroupsPerVolume) {
                DEBUG_TRACE_NORMAL(fn,
                                   "The source volume [%s] is already member of 4 Consistency "
                                   "Groups.Adding this volume to new Consistency Group will fail.",
                                   volume.c_str());
                groupIndex = -2;
                break;
            }
            groupIndex = std::max(groupIndex, n);
        }
        return false;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        groupIndex = -1;
        return false;
    }
}

int LSISnapshot::CreateConsistencyGroup() {
    const char* fn = "LSISnapshot::CreateConsistencyGroup";
    const char* method = "CreateGroup";
    if (MissingGroupParameters(*this, fn)) return -1;
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return -1;
    try {
        GroupRequest request;
        if (const int failed = ResolveGroup(*this, fn, request, -1)) return failed;
        if (!request.group.getClassName().isNull()) {
            DEBUG_TRACE(fn, "Consistency Group [%s] already exist. Deferring creation of new one",
                        m_ConsistencyGroupName.c_str());
            m_PiTName = request.group.toString();
            return 0;
        }

        cim::Array<cim::CIMParamValue> in;
        in.emplace_back("GroupName", cim::CIMValue(m_ConsistencyGroupName));
        in.emplace_back("Members", MakeCimNullVal(cim::CIMTYPE_REFERENCE, true));
        in.emplace_back("Persistent", MakeCimNullVal(cim::CIMTYPE_BOOLEAN, false));
        in.emplace_back("DeleteOnEmptyElement", MakeCimNullVal(cim::CIMTYPE_BOOLEAN, false));
        in.emplace_back("DeleteOnUnassociated", MakeCimNullVal(cim::CIMTYPE_BOOLEAN, false));
        DEBUG_TRACE_NORMAL(fn, "CreateGroup method Parameters");
        DEBUG_TRACE_NORMAL(fn, "GroupName\t- %s:", m_ConsistencyGroupName.c_str());
        DEBUG_TRACE_NORMAL(fn, "Members\t\t- %s:", "");
        DEBUG_TRACE_NORMAL(fn, "Persistent\t- %s:", "");
        DEBUG_TRACE_NORMAL(fn, "DeleteOnEmptyElement\t- %s:", "");
        DEBUG_TRACE_NORMAL(fn, "DeleteOnUnassociated\t- %s:", "");
        DEBUG_TRACE_NORMAL(fn, "ServiceAccessPoint\t- %s:", "");

        cim::Array<cim::CIMParamValue> out;
        const unsigned int ret =
            GetRetVal(InvokeMethod(m_CimConnection, request.service, method, in, out));
        const int result = AnswerGroupMethod(*this, fn, method, ret, out);
        if (result != 0 || !m_PiTName.empty()) return result;
        if (ret == 0) {
            for (const cim::CIMParamValue& p : out) {
                const cim::CIMValue& v = p.getValue();
                if (p.getParameterName() != "ReplicationGroup" || v.isNull() || v.isArray() ||
                    v.getType() != cim::CIMTYPE_REFERENCE)
                    continue;
                cim::CIMObjectPath group;
                v.get(group);
                m_PiTName = group.toString();
                break;
            }
        }
        // A job's answer names no group: the group made is found by its name.
        if (m_PiTName.empty())
            m_PiTName = GetObjPathByPropName(m_CimConnection, m_SystemName, kGroupClass,
                                             "ElementName", m_ConsistencyGroupName, true)
                            .toString();
        DEBUG_TRACE(fn, "Replication Group = [%s]", m_PiTName.c_str());
        return 0;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}

int LSISnapshot::AddMembersToCG() {
    const char* fn = "LSISnapshot::AddMembersToCG";
    const char* method = "AddMembers";
    if (MissingGroupParameters(*this, fn)) return -1;
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return -1;
    try {
        GroupRequest request;
        if (const int failed = ResolveGroup(*this, fn, request, 650015)) return failed;
        if (request.group.getClassName().isNull()) {
            DEBUG_TRACE(fn, "Consistency Group object path could not be derived.");
            return 5;
        }
        cim::CIMObjectPath volume;
        if (!ParsePathOrName(m_SourceDevPath, volume)) {
            DEBUG_TRACE(fn, "Supplied source volume is not a object path, assuming UUID(Name)");
            volume = GetObjPathByPropName(m_CimConnection, m_SystemName, "CIM_StorageVolume",
                                          "Name", m_SourceDev, true);
        }
        if (volume.getClassName().isNull()) {
            DEBUG_TRACE(fn, " LUN UUID %s not found", m_SourceDev.c_str());
            return m_CimConnection.AuthFailed() ? -1 : 650015;
        }
        for (const cim::CIMObjectPath& m : m_CimConnection.GetAssociatorNames(
                 request.group, "CIM_MemberOfCollection", "CIM_StorageVolume")) {
            const std::string id = DeviceIdOf(*this, m);
            if (id.empty() && LookupFailed()) return 1;
            if (id == m_SourceDev) {
                DEBUG_TRACE_NORMAL(fn,
                                   "Source Device [%s] is already a member of the Consistency "
                                   "Group [%s].",
                                   m_SourceDev.c_str(), m_ConsistencyGroupName.c_str());
                return 0;
            }
        }
        if (m_CimConnection.AuthFailed()) return -1;

        cim::Array<cim::CIMParamValue> in;
        in.emplace_back("ReplicationGroup", cim::CIMValue(request.group));
        in.emplace_back("Members", cim::CIMValue(std::vector<cim::CIMObjectPath>{volume}));
        DEBUG_TRACE_NORMAL(fn, "AddMembers method Parameters");
        DEBUG_TRACE_NORMAL(fn, "ReplicationGroup\t- %s", request.group.toString().c_str());
        DEBUG_TRACE_NORMAL(fn, "Members\t- %s\t", volume.toString().c_str());
        DEBUG_TRACE_NORMAL(fn, "ServiceAccessPoint - %s", "NULL");
        cim::Array<cim::CIMParamValue> out;
        const unsigned int ret =
            GetRetVal(InvokeMethod(m_CimConnection, request.service, method, in, out));
        return AnswerGroupMethod(*this, fn, method, ret, out);
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}

int LSISnapshot::RemoveMembersFromCG() {
    const char* fn = "SMIS::RemoveMembersFromCG";
    const char* method = "RemoveMembers";
    if (m_SystemName.empty() || m_SourceDev.empty() || m_ConsistencyGroupName.empty()) {
        DEBUG_TRACE(fn, "Validation Failure: Insufficient Parameters");
        DEBUG_TRACE(fn, "SystemName = %s, Source Dev = %s, ConsistencyGroup = %s",
                    m_SystemName.c_str(), m_SourceDev.c_str(), m_ConsistencyGroupName.c_str());
        return 650009;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return -1;
    try {
        GroupRequest request;
        if (const int failed = ResolveGroup(*this, fn, request, 650015)) return failed;
        // A null group would only earn a provider error.
        if (request.group.getClassName().isNull()) {
            DEBUG_TRACE(fn, "Consistency Group object path could not be derived.");
            return 5;
        }
        if (m_SourceDevPath.empty())
            m_SourceDevPath = GetObjPathByPropName(m_CimConnection, m_SystemName,
                                                   "CIM_StorageVolume", "Name", m_SourceDev, true)
                                  .toString();
        cim::CIMObjectPath volume;
        if (!ParsePathOrName(m_SourceDevPath, volume)) {
            DEBUG_TRACE(fn, " LUN UUID %s not found", m_SourceDev.c_str());
            return m_CimConnection.AuthFailed() ? -1 : 650015;
        }

        cim::Array<cim::CIMParamValue> in;
        in.emplace_back("ReplicationGroup", cim::CIMValue(request.group));
        in.emplace_back("Members", cim::CIMValue(std::vector<cim::CIMObjectPath>{volume}));
        in.emplace_back("DeleteOnEmptyElement", cim::CIMValue(false));
        DEBUG_TRACE_NORMAL(fn, "RemoveMembers method Parameters");
        DEBUG_TRACE_NORMAL(fn, "ReplicationGroup\t- %s", request.group.toString().c_str());
        DEBUG_TRACE_NORMAL(fn, "Members\t- %s", volume.toString().c_str());
        DEBUG_TRACE_NORMAL(fn, "DeleteOnEmptyElement\t-%s", "FALSE");
        DEBUG_TRACE_NORMAL(fn, "ServiceAccessPoint - %s", "NULL (always)");
        cim::Array<cim::CIMParamValue> out;
        const unsigned int ret =
            GetRetVal(InvokeMethod(m_CimConnection, request.service, method, in, out));
        return AnswerGroupMethod(*this, fn, method, ret, out);
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}

int LSISnapshot::DeleteConsistencyGroup(int checkPiTs) {
    const char* fn = "Snapshot::DeleteConsistencyGroup";
    const char* method = "DeleteGroup";
    if (MissingGroupParameters(*this, fn)) return -1;
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return -1;
    try {
        GroupRequest request;
        if (const int failed = ResolveGroup(*this, fn, request, 650015)) return failed;
        if (request.group.getClassName().isNull()) {
            DEBUG_TRACE(fn, "Cannot find Consistency Group[%s]. It may have been already Deleted.",
                        m_ConsistencyGroupName.c_str());
            return 0;
        }
        if (checkPiTs) {
            const std::string pitClass = lsi::ClassPrefix(request.service) + "_ConsistencyGroupPiT";
            std::vector<cim::CIMObjectPath> pits = m_CimConnection.GetAssociatorNames(
                request.group, "CIM_SettingsDefineState", pitClass);
            if (m_CimConnection.AuthFailed()) return -1;
            if (!pits.empty()) {
                DEBUG_TRACE(fn,
                            "The Consistency Group [%s] contains %d Consistency Group PiT(s). "
                            "Consistency Group cannot be deleted.",
                            m_ConsistencyGroupName.c_str(), static_cast<int>(pits.size()));
                return 1;
            }
        }

        cim::Array<cim::CIMParamValue> in;
        in.emplace_back("ReplicationGroup", cim::CIMValue(request.group));
        in.emplace_back("RemoveElements", cim::CIMValue(true));
        DEBUG_TRACE_NORMAL(fn, "DeleteGroup method Parameters");
        DEBUG_TRACE_NORMAL(fn, "ReplicationGroup\t- %s", request.group.toString().c_str());
        DEBUG_TRACE_NORMAL(fn, "ServiceAccessPoint - %s", "NULL (always)");
        DEBUG_TRACE_NORMAL(fn, "RemoveElements\t- %s:", "TRUE");
        cim::Array<cim::CIMParamValue> out;
        const unsigned int ret =
            GetRetVal(InvokeMethod(m_CimConnection, request.service, method, in, out));
        return AnswerGroupMethod(*this, fn, method, ret, out);
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return 1;
    }
}
