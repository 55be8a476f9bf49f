// {P}_ReplicationService, consistency groups: CreateGroup, AddMembers,
// RemoveMembers and DeleteGroup.
#include <algorithm>
#include <map>

#include "ArrayMethods.h"
#include "Capacity.h"
#include "Text.h"

namespace sim {

namespace {

// Volumes to add to `group` (empty for a new group), checked as AddMembers does;
// volumes already in (or on their way in) are left out. Fills `claims`.
std::vector<std::string> newMembers(const ArrayCall& c, const std::string& groupRef,
                                    const std::vector<std::string>& current,
                                    const std::vector<cim::CIMObjectPath>& paths, Claims& claims) {
    std::vector<std::string> added;
    std::map<std::string, uint64_t> reserve;  // pool -> bytes
    for (const cim::CIMObjectPath& path : paths) {
        const Volume& v = c.volume(path);
        if (v.kind != VolumeKind::Base && v.kind != VolumeKind::Clone)
            throw Refused{kInvalidParameter, "members are standard volumes"};
        if (std::find(current.begin(), current.end(), v.uuid) != current.end() ||
            std::find(added.begin(), added.end(), v.uuid) != added.end() ||
            (!groupRef.empty() && c.pending("member:" + groupRef + ":" + v.uuid)))
            continue;
        if (c.rules.maxConsistencyGroupsPerVolume) {
            uint64_t groups = c.pending("groups:" + v.uuid);
            for (const ConsistencyGroup& g : c.array.consistencyGroups)
                groups += std::count(g.members.begin(), g.members.end(), v.uuid);
            if (groups >= c.rules.maxConsistencyGroupsPerVolume)
                throw Refused{kFailed, "the volume is in its most consistency groups"};
        }
        const uint64_t bytes = reserveBytes(v, c.rules.reservePercent);
        reserve[v.pool] += bytes;
        c.checkPoolSpace(v.pool, reserve[v.pool]);
        added.push_back(v.uuid);
        claims.emplace_back("groups:" + v.uuid, 1);
        if (!groupRef.empty()) claims.emplace_back("member:" + groupRef + ":" + v.uuid, 1);
        claims.emplace_back("pool:" + v.pool, bytes);
    }
    return added;
}

// Member links, CG PiTs and CG PiT views of a group go with it.
void deleteGroup(Array& a, const std::string& ref) {
    std::set<std::string> pits, views;
    for (const CgPiT& p : a.cgPits)
        if (p.group == ref) pits.insert(p.id);
    for (const CgPiTView& v : a.cgPitViews)
        if (pits.count(v.cgPit)) views.insert(v.memberViews.begin(), v.memberViews.end());
    a.removeVolumes(views);
    auto drop = [](auto& items, auto pred) {
        items.erase(std::remove_if(items.begin(), items.end(), pred), items.end());
    };
    drop(a.cgPitViews, [&](const CgPiTView& v) { return pits.count(v.cgPit) > 0; });
    drop(a.cgPits, [&](const CgPiT& p) { return pits.count(p.id) > 0; });
    drop(a.consistencyGroups, [&](const ConsistencyGroup& g) { return g.ref == ref; });
}

void checkNoMappedViews(const ArrayCall& c, const std::string& ref) {
    if (!c.rules.keepMapped) return;
    for (const CgPiTView& v : c.array.cgPitViews) {
        const CgPiT* p = c.array.findCgPiT(v.cgPit);
        if (!p || p->group != ref) continue;
        for (const std::string& w : v.memberViews)
            if (c.mapped(w)) throw Refused{kMapped, "a CG PiT view of the group is mapped"};
    }
}

const ConsistencyGroup& groupOf(const ArrayCall& c) {
    Obj g = c.object(ArrayCall::require(c.ref("ReplicationGroup")), Kind::ConsistencyGroup);
    return *c.array.findConsistencyGroup(g.id);
}

uint32_t createGroup(ArrayCall& c) {
    const std::string name = ArrayCall::require(c.text("GroupName"));
    c.checkName(name);
    Claims unused;
    std::vector<std::string> members;
    if (auto paths = c.refs("Members")) members = newMembers(c, "", {}, *paths, unused);

    ConsistencyGroup g;
    g.ref = c.newRef("cg");
    g.label = name;
    g.members = std::move(members);
    // Hosts take the group from this very answer, even when a job follows.
    uint32_t rc = c.finishAtOnce([&](Array& a) { a.consistencyGroups.push_back(g); },
                                 [ref = g.ref](Array& a) { deleteGroup(a, ref); });
    c.output("ReplicationGroup",
             cim::CIMValue(c.repo.path({Kind::ConsistencyGroup, c.index, g.ref, 0})));
    return rc;
}

uint32_t addMembers(ArrayCall& c) {
    const ConsistencyGroup& g = groupOf(c);
    const auto paths = ArrayCall::require(c.refs("Members"));
    if (paths.empty()) throw Refused{kInvalidParameter, "no members given"};
    Claims claims;
    std::vector<std::string> added = newMembers(c, g.ref, g.members, paths, claims);
    return c.finish(
        [ref = g.ref, added](Array& a) -> std::string {
            ConsistencyGroup* group = a.findConsistencyGroup(ref);
            if (!group) return "The consistency group no longer exists";
            for (const std::string& m : added)
                if (!a.findVolume(m)) return "A member volume no longer exists";
            for (const std::string& m : added)
                if (std::find(group->members.begin(), group->members.end(), m) ==
                    group->members.end())
                    group->members.push_back(m);
            return {};
        },
        std::move(claims));
}

uint32_t removeMembers(ArrayCall& c) {
    const ConsistencyGroup& g = groupOf(c);
    const auto paths = ArrayCall::require(c.refs("Members"));
    if (paths.empty()) throw Refused{kInvalidParameter, "no members given"};
    std::set<std::string> leaving;
    for (const cim::CIMObjectPath& path : paths) {
        const Volume& v = c.volume(path);
        if (std::find(g.members.begin(), g.members.end(), v.uuid) == g.members.end())
            throw Refused{kInvalidParameter, "the volume is not a member"};
        leaving.insert(v.uuid);
    }
    const bool deleteEmpty =
        c.flag("DeleteOnEmptyElement").value_or(false) && leaving.size() == g.members.size();
    if (deleteEmpty) checkNoMappedViews(c, g.ref);
    return c.finish([ref = g.ref, leaving, deleteEmpty](Array& a) -> std::string {
        ConsistencyGroup* group = a.findConsistencyGroup(ref);
        if (!group) return "The consistency group no longer exists";
        auto& m = group->members;
        m.erase(std::remove_if(m.begin(), m.end(),
                               [&](const std::string& v) { return leaving.count(v) > 0; }),
                m.end());
        if (deleteEmpty && m.empty()) deleteGroup(a, ref);
        return {};
    });
}

uint32_t deleteGroupMethod(ArrayCall& c) {
    const ConsistencyGroup& g = groupOf(c);
    if (!g.members.empty() && !c.flag("RemoveElements").value_or(false))
        throw Refused{kFailed, "the group has members and RemoveElements is not true"};
    checkNoMappedViews(c, g.ref);
    return c.finish([ref = g.ref](Array& a) -> std::string {
        if (!a.findConsistencyGroup(ref)) return "The consistency group no longer exists";
        deleteGroup(a, ref);
        return {};
    });
}

}  // namespace

void registerGroupMethods(Provider::Impl& impl) {
    impl.registerMethod("_ReplicationService", "CreateGroup", arrayMethod(createGroup));
    impl.registerMethod("_ReplicationService", "AddMembers", arrayMethod(addMembers));
    impl.registerMethod("_ReplicationService", "RemoveMembers", arrayMethod(removeMembers));
    impl.registerMethod("_ReplicationService", "DeleteGroup", arrayMethod(deleteGroupMethod));
}

}  // namespace sim
