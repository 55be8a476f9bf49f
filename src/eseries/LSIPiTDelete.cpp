// PiT deletion. An E-Series PiT group (and the CG PiTs of a consistency group) gives
// up its PiTs oldest first only, while hosts delete in any order: a PiT that is not
// the oldest is deleted only virtually (the array keeps it), and deleting the oldest
// starts a run that removes, oldest first, every following PiT that no host keeps
// and no view uses, stopping at the first that is kept or viewed.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <cim/CIMDateTime.h>
#include <cim/CIMInstance.h>
#include <cim/CIMObjectPath.h>
#include <cim/CIMParamValue.h>

#include "LsiCommon.h"
#include "eseries/LSISnapshot.h"

namespace {

struct Member {
    cim::CIMObjectPath path;
    std::string name;  // "ElementName", the identity hosts keep
    uint64_t key = 0;  // "SequenceNumber", or "WhenPointInTime" in microseconds
};

// A whole unsigned decimal number of at most 64 bits.
bool ReadUint64(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 20 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    const unsigned long long n = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0) return false;
    value = n;
    return true;
}

// The age of a PiT: its "SequenceNumber", or for a CG PiT its "WhenPointInTime" as
// UTC microseconds. False when it is missing or not a number or a timestamp.
bool ReadAge(LSISnapshot& snap, const cim::CIMInstance& pit, bool cg, uint64_t& key) {
    if (!cg) return ReadUint64(snap.GetCIMProp(pit, "SequenceNumber"), key);
    cim::CIMDateTime when;
    if (!cim::CIMDateTime::parse(snap.GetCIMProp(pit, "WhenPointInTime"), when) ||
        !when.isTimeStamp() || when.hasWildcards())
        return false;
    key = when.toMicroSeconds();
    return true;
}

// Oldest first; an element moves left only past strictly greater keys, so equal
// keys keep the order the provider listed them in.
void SortOldestFirst(std::vector<Member>& members) {
    for (size_t i = 1; i < members.size(); ++i) {
        Member m = members[i];
        size_t j = i;
        for (; j > 0 && members[j - 1].key > m.key; --j) members[j] = members[j - 1];
        members[j] = m;
    }
}

}  // namespace

int LSISnapshot::DeletePiT(std::list<std::string>& activePiTs, bool groupSweep) {
    const char* fn = "Snapshot::DeletePiT";
    const bool cg = m_UseConsistencyGroup;
    auto fail = [this]() {
        m_SnapStatus = RKSO::SNAP_STATUS_DELETE_FAILED;
        return static_cast<int>(m_SnapStatus);
    };
    if (m_ServicePath.empty() || m_SourceDev.empty() || m_PiTName.empty()) {
        TraceInvalidParameters(fn);
        DEBUG_TRACE(fn, "Dumping Parameters\n");
        DEBUG_TRACE(fn, "servicePath = %s, sourceDev = %s, PiT = %s\n", m_ServicePath.c_str(),
                    m_SourceDev.c_str(), m_PiTName.c_str());
        return fail();
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return fail();
    int deleted = 0;
    try {
        const std::string prefix = lsi::ClassPrefix(cim::CIMObjectPath::parse(m_ServicePath));
        const std::string pitClass = prefix + (cg ? "_ConsistencyGroupPiT" : "_PiT");
        // After a rejected login every read answers empty: no answer counts, and
        // nothing more is deleted.
        auto refused = [this]() { return m_CimConnection.AuthFailed(); };

        cim::CIMObjectPath target;
        if (!groupSweep) {
            if (!m_PiTPath.empty())
                target = cim::CIMObjectPath::parse(m_PiTPath);
            else
                target = GetObjPathByPropName(m_CimConnection, m_SystemName, pitClass,
                                              "ElementName", m_PiTName, true);
            if (refused()) return fail();
            if (target.getClassName().isNull()) {
                DEBUG_TRACE(fn, "Unable to get the reference path for the PiT/CGPiT[%s]",
                            m_PiTName.c_str());
                return RKSO::SNAP_STATUS_DELETE_FAILED;
            }
        }

        std::string friendlyName = m_SourceDevFriendlyName;
        auto readFriendlyName = [&]() {
            if (friendlyName.empty() && !m_SourceDevPath.empty())
                friendlyName = GetCIMProp(m_CimConnection, m_SourceDevPath, "ElementName");
            return !friendlyName.empty();
        };

        cim::CIMObjectPath container;
        if (!groupSweep) {
            const std::vector<cim::CIMObjectPath> found =
                cg ? m_CimConnection.GetAssociatorNames(target, "CIM_SettingsDefineState",
                                                        "CIM_ReplicationGroup")
                   : m_CimConnection.GetAssociatorNames(target, "CIM_OrderedMemberOfCollection",
                                                        "CIM_SystemSpecificCollection");
            if (refused()) return fail();
            if (found.empty()) {
                DEBUG_TRACE(fn,
                            cg ? "Unable to find Consistency Group corresponding to "
                                 "ConsistencyGroupPiT [%s]"
                               : "Unable to find Snapshot Group corresponding to PiT [%s]",
                            m_PiTName.c_str());
                return fail();
            }
            if (found.size() > 1) {
                DEBUG_TRACE(fn,
                            cg ? "ConsistencyGroupPiT [%s] cannot belong to more than one "
                                 "Consistency Group [currently = %d]."
                               : "PiT [%s] cannot belong to more than one Snapshot Group "
                                 "[currently = %d].",
                            m_PiTName.c_str(), static_cast<int>(found.size()));
                return fail();
            }
            container = found.front();
        } else {
            // Only this array's group: another array may hold a volume of the same name.
            if (cg) {
                container =
                    GetObjPathByPropName(m_CimConnection, m_SystemName, "CIM_ReplicationGroup",
                                         "ElementName", m_ConsistencyGroupName, true);
            } else {
                if (!readFriendlyName())
                    return refused() ? fail() : RKSO::SNAP_STATUS_DELETE_FAILED;
                container = GetObjPathByPropName(m_CimConnection, m_SystemName,
                                                 "CIM_SystemSpecificCollection", "ElementName",
                                                 friendlyName + "_SMIS_PG", true);
            }
            if (refused()) return fail();
            if (container.getClassName().isNull()) {
                DEBUG_TRACE(fn,
                            "There are no more PiTs/CGPiTs to be deleted as the ConsistencyGroup "
                            "/ PiT Group doesn't exist.");
                return RKSO::SNAP_STATUS_DELETED;
            }
        }

        const std::vector<cim::CIMObjectPath> paths =
            cg ? m_CimConnection.GetAssociatorNames(container, "CIM_SettingsDefineState", pitClass)
               : m_CimConnection.GetAssociatorNames(container, "CIM_OrderedMemberOfCollection",
                                                    pitClass);
        if (refused()) return fail();
        const std::string containerText = container.toString();
        if (paths.empty()) {
            DEBUG_TRACE(fn,
                        "Unable to get PiTs/ConsistencyGroupPiTs belonging to Snapshot "
                        "Group/Conistency Group [%s].",
                        containerText.c_str());
            return groupSweep ? RKSO::SNAP_STATUS_DELETED : fail();
        }

        std::vector<Member> members;
        bool readable = true;
        for (const cim::CIMObjectPath& p : paths) {
            const cim::CIMInstance instance = m_CimConnection.GetInstance(p);
            Member m;
            m.path = p;
            m.name = GetCIMProp(instance, "ElementName");
            readable = readable && !m.name.empty() && ReadAge(*this, instance, cg, m.key);
            if (!readable) break;
            members.push_back(m);
        }
        if (refused()) return fail();
        uint64_t targetKey = 0;
        if (readable && !groupSweep) {
            // The target is read with the members when it is one of them.
            const std::string targetId = lsi::Key(target, "InstanceID");
            bool listed = false;
            for (const Member& m : members) {
                if (!targetId.empty() && lsi::Key(m.path, "InstanceID") == targetId) {
                    targetKey = m.key;
                    listed = true;
                    break;
                }
            }
            if (!listed)
                readable = ReadAge(*this, m_CimConnection.GetInstance(target), cg, targetKey);
            if (refused()) return fail();
        }
        if (!readable) {
            DEBUG_TRACE(fn,
                        cg ? "Unable to get Creation Time of ConsistencyGroupPiTs belonging to "
                             "Consistency Group [%s]."
                           : "Unable to get sequence numbers of PiTs belonging to Snapshot Group "
                             "[%s].",
                        containerText.c_str());
            return fail();
        }
        SortOldestFirst(members);
        if (groupSweep) targetKey = members.front().key;

        std::string sourceElement = m_ConsistencyGroupName;
        if (!cg) sourceElement = readFriendlyName() ? friendlyName : std::string();
        if (sourceElement.empty()) return refused() ? fail() : RKSO::SNAP_STATUS_DELETE_FAILED;
        std::map<std::string, std::string> params = {
            {"SystemName", m_SystemName}, {"Operation", "4"}, {"sourceElement", sourceElement}};

        if (members.front().key != targetKey) {
            DEBUG_TRACE_NORMAL(fn,
                               "Virtually deleting the PiT/ConsistencyGroupPiT[%s] as it is not "
                               "the oldest one and marking the deletion as successful.",
                               m_PiTName.c_str());
            m_SnapStatus = RKSO::SNAP_STATUS_DELETED;
            return m_SnapStatus;
        }

        // The CG PiTs that have a CG view, by identity: one enumeration per run.
        std::set<std::string> viewedCgPiTs;
        bool cgViewsRead = false;
        auto hasView = [&](const Member& m) {
            if (!cg)
                return !m_CimConnection
                            .GetAssociatorNames(m.path, prefix + "_ViewBasedOnPiT",
                                                prefix + "_PiTView")
                            .empty();
            if (!cgViewsRead) {
                for (const cim::CIMObjectPath& v :
                     m_CimConnection.GetInstanceNames(prefix + "_ViewBasedOnPiT")) {
                    cim::CIMObjectPath antecedent;
                    if (SmisAction::ParsePathOrName(lsi::Key(v, "Antecedent"), antecedent))
                        viewedCgPiTs.insert(lsi::Key(antecedent, "InstanceID"));
                }
                cgViewsRead = true;
            }
            return viewedCgPiTs.count(lsi::Key(m.path, "InstanceID")) > 0;
        };
        const std::set<std::string> active(activePiTs.begin(), activePiTs.end());
        size_t stoppedAt = members.size();
        for (size_t i = 0; i < members.size(); ++i) {
            const Member& m = members[i];
            const bool viewed = hasView(m);
            if (refused()) return fail();
            if (viewed) {
                DEBUG_TRACE(fn,
                            "Found a PiT/ConsistencyGroupPiT attached to "
                            "PiTView/ConsistencyGroupPiTView, stopping the further deletion.");
                stoppedAt = i;
                break;
            }
            if (active.count(m.name) && m.name != m_PiTName) {
                DEBUG_TRACE(fn,
                            "PiT/ConsistencyGroupPiT [%s] is currently active, stopping the "
                            "further deletion.",
                            m.name.c_str());
                stoppedAt = i;
                break;
            }
            params["targetSyncData"] = m.name;
            cim::Array<cim::CIMParamValue> out;
            if (FaultRetryEnabled()) {
                DEBUG_TRACE(fn, "Pegasus retry in faulty environment");
                std::map<std::string, std::string> throwAway = params;
                throwAway["Operation"] = "55";
                ModifySettingDefineState(m_CimConnection, throwAway, out);
            }
            if (ModifySettingDefineState(m_CimConnection, params, out) == 0) ++deleted;
            if (refused()) return fail();
        }

        if (deleted == 0) {
            DEBUG_TRACE(fn,
                        "Unable to delete the PiT(s)/ConsistencyGroupPiT(s), in sequential "
                        "manner.");
            if (!groupSweep) return fail();
            return stoppedAt == 0 ? RKSO::SNAP_STATUS_DELETED : RKSO::SNAP_STATUS_DELETE_FAILED;
        }
        DEBUG_TRACE(fn, "Deleted [%d] PiTs/ConsistencyGroupPiTs", deleted);
        m_SnapStatus = RKSO::SNAP_STATUS_DELETED;
        return m_SnapStatus;
    } catch (...) {
        lsi::TraceCaughtLine(*this, fn, __LINE__);
        if (m_CimConnection.AuthFailed()) return fail();
        // What a run deleted before the failure stays deleted, and counts as done.
        if (deleted > 0) {
            DEBUG_TRACE(fn, "Deleted [%d] PiTs/ConsistencyGroupPiTs", deleted);
            m_SnapStatus = RKSO::SNAP_STATUS_DELETED;
            return m_SnapStatus;
        }
        return RKSO::SNAP_STATUS_DELETE_FAILED;
    }
}
