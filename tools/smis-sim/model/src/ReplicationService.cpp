// {P}_ReplicationService, point-in-time images: PiT groups, PiTs and their views.
#include <algorithm>

#include "ArrayMethods.h"
#include "Capacity.h"
#include "Text.h"

namespace sim {

namespace {

constexpr uint64_t kMiB = 1ULL << 20;

bool isStandard(const Volume& v) {
    return v.kind == VolumeKind::Base || v.kind == VolumeKind::Clone;
}

uint32_t createPiTGroup(ArrayCall& c) {
    const Volume& base = c.volume(ArrayCall::require(c.ref("BaseVolume")));
    const std::string label = ArrayCall::require(c.text("Label"));
    uint64_t size = ArrayCall::require(c.u64("RepositorySize"));
    if (!isStandard(base)) throw Refused{kInvalidParameter, "PiT groups need a standard volume"};
    if (!validLabel(label)) throw Refused{kInvalidParameter, "not 1 to 30 name characters"};
    if (c.rules.names) {
        for (const PiTGroup& g : c.array.pitGroups)
            if (equalsNoCase(g.label, label)) throw Refused{kInvalidParameter, "label taken"};
        if (c.pending("pitGroupName:" + toUpper(label)))
            throw Refused{kInvalidParameter, "label taken"};
    }
    const uint64_t minimum = 32 * kMiB + volumeBytes(base) / 5000;
    if (size < minimum && c.rules.roundUpRepository) size = minimum;
    if (size < minimum && c.rules.minimumRepository)
        throw Refused{kInvalidParameter, "the repository is below 32 MiB + base / 5000"};
    if (c.rules.maxPiTGroupsPerVolume) {
        uint64_t groups = c.pending("pitGroups:" + base.uuid);
        for (const PiTGroup& g : c.array.pitGroups) groups += g.baseVolume == base.uuid;
        if (groups >= c.rules.maxPiTGroupsPerVolume)
            throw Refused{kFailed, "the volume has its most PiT groups"};
    }
    c.checkPoolSpace(base.pool, size);

    PiTGroup g;
    g.ref = c.newRef("pitgroup");
    g.label = label;
    g.baseVolume = base.uuid;
    g.repositoryBytes = size;
    Claims claims = {{"pitGroups:" + base.uuid, 1},
                     {"pitGroupName:" + toUpper(label), 1},
                     {"pool:" + base.pool, size}};
    return c.finish(
        [g](Array& a) -> std::string {
            if (!a.findVolume(g.baseVolume)) return "The base volume no longer exists";
            a.addPiTGroup(g);
            return {};
        },
        std::move(claims));
}

// The PiT group a new PiT of `base` goes to: "<label>_SMIS_PG", else its oldest.
const PiTGroup* groupFor(const Array& a, const Volume& base) {
    const PiTGroup* oldest = nullptr;
    for (const PiTGroup& g : a.pitGroups) {
        if (g.baseVolume != base.uuid) continue;
        if (equalsNoCase(g.label, base.label + "_SMIS_PG")) return &g;
        if (!oldest) oldest = &g;
    }
    return oldest;
}

cim::CIMObjectPath defineStatePath(ArrayCall& c, Obj managed, Obj setting) {
    Link l;
    l.cls = c.provider.config.classPrefix + "_SettingsDefineState";
    l.roleA = "ManagedElement";
    l.a = std::move(managed);
    l.roleB = "SettingData";
    l.b = std::move(setting);
    return c.repo.linkPath(l);
}

uint32_t takePiT(ArrayCall& c, const Volume& base) {
    const PiTGroup* g = groupFor(c.array, base);
    if (!g) throw Refused{kFailed, "the volume has no PiT group"};
    if (c.rules.maxPiTsPerGroup) {
        uint64_t count = 0;
        for (const PiT& p : c.array.pits) count += p.group == g->ref;
        if (count >= c.rules.maxPiTsPerGroup)
            throw Refused{kTooManySnapshots, "the PiT group is full"};
    }
    PiT pit;
    pit.id = c.newPiTId();
    pit.group = g->ref;
    pit.sequence = g->nextSequence;
    pit.whenMicros = c.nextWhenMicros();
    pit.generation = base.generation;
    const std::string groupRef = g->ref;
    uint32_t rc = c.finishAtOnce(
        [&](Array& a) {
            a.findPiTGroup(groupRef)->nextSequence = pit.sequence + 1;
            a.addPiT(pit);
        },
        [id = pit.id, groupRef, sequence = pit.sequence](Array& a) {
            // Taken back unless a host made a view of it meanwhile.
            for (const View& v : a.views)
                if (v.pit == id) return;
            a.removePiT(id);
            PiTGroup* g = a.findPiTGroup(groupRef);
            if (g && g->nextSequence == sequence + 1) g->nextSequence = sequence;
        });
    c.output("SettingsState",
             cim::CIMValue(defineStatePath(c, {Kind::Volume, c.index, base.uuid, 0},
                                           {Kind::PiT, c.index, pit.id, 0})));
    return rc;
}

uint32_t takeGroupPiT(ArrayCall& c, const ConsistencyGroup& g) {
    if (g.members.empty()) throw Refused{kFailed, "the consistency group has no members"};
    if (c.rules.maxCgPiTsPerGroup) {
        uint64_t count = 0;
        for (const CgPiT& p : c.array.cgPits) count += p.group == g.ref;
        if (count >= c.rules.maxCgPiTsPerGroup)
            throw Refused{kTooManySnapshots, "the consistency group has its most PiTs"};
    }
    CgPiT pit;
    pit.id = c.newPiTId();
    pit.group = g.ref;
    pit.sequence = g.nextSequence;
    pit.whenMicros = c.nextWhenMicros();
    for (const std::string& m : g.members)
        pit.members.push_back({m, c.array.findVolume(m)->generation});
    const std::string groupRef = g.ref;
    uint32_t rc = c.finishAtOnce(
        [&](Array& a) {
            a.findConsistencyGroup(groupRef)->nextSequence = pit.sequence + 1;
            a.cgPits.push_back(pit);
        },
        [id = pit.id, groupRef, sequence = pit.sequence](Array& a) {
            for (const CgPiTView& v : a.cgPitViews)
                if (v.cgPit == id) return;
            a.cgPits.erase(std::remove_if(a.cgPits.begin(), a.cgPits.end(),
                                          [&](const CgPiT& p) { return p.id == id; }),
                           a.cgPits.end());
            ConsistencyGroup* g = a.findConsistencyGroup(groupRef);
            if (g && g->nextSequence == sequence + 1) g->nextSequence = sequence;
        });
    c.output("SettingsState",
             cim::CIMValue(defineStatePath(c, {Kind::ConsistencyGroup, c.index, g.ref, 0},
                                           {Kind::CgPiT, c.index, pit.id, 0})));
    return rc;
}

uint32_t createSynchronizationAspect(ArrayCall& c) {
    // "Name" (the host's snapshot name) is not kept: PiTs carry no label.
    if (ArrayCall::require(c.u16("SyncType")) != 7)
        throw Refused{kInvalidParameter, "only snapshots (SyncType 7)"};
    const auto source = c.ref("SourceElement");
    const auto group = c.ref("SourceGroup");
    if (source.has_value() == group.has_value())
        throw Refused{kInvalidParameter, "exactly one of SourceElement and SourceGroup"};
    if (source) {
        const Volume& base = c.volume(*source);
        if (!isStandard(base)) throw Refused{kInvalidParameter, "not a standard volume"};
        return takePiT(c, base);
    }
    Obj g = c.object(*group, Kind::ConsistencyGroup);
    return takeGroupPiT(c, *c.array.findConsistencyGroup(g.id));
}

// The end of a link playing `role`.
const Obj& end(const Link& l, const char* role) {
    return equalsNoCase(l.roleA, role) ? l.a : l.b;
}

bool viewed(const ArrayCall& c, const std::string& pitId) {
    for (const View& v : c.array.views)
        if (v.pit == pitId) return true;
    for (const CgPiTView& v : c.array.cgPitViews)
        if (v.cgPit == pitId) return true;
    return c.pending("view:" + pitId) > 0;
}

void checkPreferredOwner(const ArrayCall& c, const Volume& base) {
    if (c.rules.preferredOwnerForViews && base.currentController != base.preferredController)
        throw Refused{kFailed, "the base volume is not on its preferred controller"};
}

Volume viewVolume(ArrayCall& c, const Volume& base, uint64_t generation) {
    Volume w;
    w.uuid = c.newVolumeUuid();
    w.label = c.newVolumeName(base.label, "SV");
    w.kind = VolumeKind::PiTView;
    w.blockSize = base.blockSize;
    w.blocks = base.blocks;
    w.preferredController = base.preferredController;
    w.currentController = base.currentController;
    w.access = 3;
    w.generation = generation;
    return w;
}

uint32_t makeView(ArrayCall& c, const PiT& pit) {
    const PiTGroup* g = c.array.findPiTGroup(pit.group);
    const Volume* base = g ? c.array.findVolume(g->baseVolume) : nullptr;
    if (!base) throw Refused{kFailed, "the PiT's base volume is gone"};
    checkPreferredOwner(c, *base);
    const std::string pitId = pit.id;
    const uint64_t generation = pit.generation;

    if (auto target = c.ref("TargetElement")) {
        // Another view of the same base now shows this PiT.
        Link l = c.link(*target);
        if (!c.repo.arrayClasses().isA(l.cls,
                                       c.provider.config.classPrefix + "_PiTViewSynchronized"))
            throw Refused{kInvalidParameter, "TargetElement must be a PiT view synchronization"};
        const View* v = c.array.findView(end(l, "SyncedElement").id);
        if (!v || v->base != base->uuid || !v->cgView.empty())
            throw Refused{kInvalidParameter, "the view belongs to another base volume"};
        const std::string viewUuid = v->volume;
        c.output("TargetElement", cim::CIMValue(c.volumePath(viewUuid, VolumeKind::PiTView)));
        return c.finish(
            [=](Array& a) -> std::string {
                Volume* w = a.findVolume(viewUuid);
                if (!a.findPiT(pitId) || !w) return "The PiT or the view no longer exists";
                for (View& view : a.views)
                    if (view.volume == viewUuid) view.pit = pitId;
                w->generation = generation;
                return {};
            },
            {{"view:" + pitId, 1}}, 5);
    }

    Volume w = viewVolume(c, *base, generation);
    View view{w.uuid, base->uuid, pitId, ""};
    c.output("TargetElement", cim::CIMValue(c.volumePath(w.uuid, VolumeKind::PiTView)));
    Claims claims = {{"view:" + pitId, 1}, {"name:" + toUpper(w.label), 1}};
    return c.finish(
        [w, view](Array& a) -> std::string {
            if (!a.findPiT(view.pit) || !a.findVolume(view.base))
                return "The PiT or its base volume no longer exists";
            a.addVolume(w);
            a.views.push_back(view);
            return {};
        },
        std::move(claims), 5);
}

uint32_t makeGroupView(ArrayCall& c, const CgPiT& pit) {
    if (c.given("TargetElement"))
        throw Refused{kInvalidParameter, "a CG PiT view cannot be re-pointed"};
    const ConsistencyGroup* g = c.array.findConsistencyGroup(pit.group);
    if (!g) throw Refused{kFailed, "the consistency group is gone"};
    std::vector<std::pair<const Volume*, uint64_t>> members;
    for (const CgPiTMember& m : pit.members)
        if (const Volume* v = c.array.findVolume(m.volume)) members.emplace_back(v, m.generation);
    if (members.empty()) throw Refused{kFailed, "none of the recorded members is left"};
    for (const auto& [v, generation] : members) checkPreferredOwner(c, *v);

    CgPiTView cv;
    cv.ref = c.newRef("cgview");
    cv.label = c.newVolumeName(g->label, "CV");
    cv.cgPit = pit.id;
    std::vector<Volume> volumes;
    std::vector<View> views;
    Claims claims = {{"view:" + pit.id, 1}, {"name:" + toUpper(cv.label), 1}};
    for (const auto& [v, generation] : members) {
        volumes.push_back(viewVolume(c, *v, generation));
        views.push_back({volumes.back().uuid, v->uuid, "", cv.ref});
        cv.memberViews.push_back(volumes.back().uuid);
        claims.emplace_back("name:" + toUpper(volumes.back().label), 1);
    }
    c.output("TargetElement", cim::CIMValue(c.repo.path({Kind::CgPiTView, c.index, cv.ref, 0})));
    return c.finish(
        [cv, volumes, views](Array& a) -> std::string {
            if (!a.findCgPiT(cv.cgPit)) return "The CG PiT no longer exists";
            for (const View& v : views)
                if (!a.findVolume(v.base)) return "A member volume no longer exists";
            for (const Volume& w : volumes) a.addVolume(w);
            a.views.insert(a.views.end(), views.begin(), views.end());
            a.cgPitViews.push_back(cv);
            return {};
        },
        std::move(claims), 5);
}

// Whether `pit` is the oldest of its group by `key`; of equal keys the first listed is.
template <class P, class K>
bool oldest(const std::vector<P>& all, const P& pit, K P::*key) {
    bool listedBefore = true;
    for (const P& p : all) {
        if (&p == &pit) {
            listedBefore = false;
        } else if (p.group == pit.group &&
                   (p.*key < pit.*key || (listedBefore && p.*key == pit.*key))) {
            return false;
        }
    }
    return true;
}

// Operation 4 removes the oldest PiT of its group.
uint32_t deletePiT(ArrayCall& c, const PiT& pit) {
    if (c.rules.oldestFirst && !oldest(c.array.pits, pit, &PiT::sequence))
        throw Refused{kFailed, "only the oldest PiT of a group can go"};
    if (c.rules.keepViewedPiTs && viewed(c, pit.id)) throw Refused{kFailed, "the PiT has a view"};
    const bool keepViewed = c.rules.keepViewedPiTs;
    return c.finish(
        [id = pit.id, keepViewed](Array& a) -> std::string {
            if (!a.findPiT(id)) return "The PiT no longer exists";
            if (keepViewed)
                for (const View& v : a.views)
                    if (v.pit == id) return "The PiT has a view";
            std::set<std::string> views;
            for (const View& v : a.views)
                if (v.pit == id) views.insert(v.volume);
            a.removeVolumes(views);
            a.removePiT(id);
            return {};
        },
        {}, 4);
}

uint32_t deleteGroupPiT(ArrayCall& c, const CgPiT& pit) {
    if (c.rules.oldestFirst && !oldest(c.array.cgPits, pit, &CgPiT::whenMicros))
        throw Refused{kFailed, "only the oldest CG PiT can go"};
    if (c.rules.keepViewedPiTs && viewed(c, pit.id))
        throw Refused{kFailed, "the CG PiT has a view"};
    const bool keepViewed = c.rules.keepViewedPiTs;
    return c.finish(
        [id = pit.id, keepViewed](Array& a) -> std::string {
            if (!a.findCgPiT(id)) return "The CG PiT no longer exists";
            std::set<std::string> views;
            for (const CgPiTView& v : a.cgPitViews)
                if (v.cgPit == id) {
                    if (keepViewed) return "The CG PiT has a view";
                    views.insert(v.memberViews.begin(), v.memberViews.end());
                }
            a.removeVolumes(views);
            a.cgPitViews.erase(std::remove_if(a.cgPitViews.begin(), a.cgPitViews.end(),
                                              [&](const CgPiTView& v) { return v.cgPit == id; }),
                               a.cgPitViews.end());
            a.cgPits.erase(std::remove_if(a.cgPits.begin(), a.cgPits.end(),
                                          [&](const CgPiT& p) { return p.id == id; }),
                           a.cgPits.end());
            return {};
        },
        {}, 4);
}

// Operation 32768 gives the base volume (every recorded member) the PiT's data.
uint32_t restore(ArrayCall& c, const std::string& pitId,
                 std::vector<std::pair<std::string, uint64_t>> targets) {
    for (const auto& [uuid, generation] : targets)
        if (!c.array.findVolume(uuid)) throw Refused{kFailed, "the base volume is gone"};
    return c.finish(
        [pitId, targets](Array& a) -> std::string {
            if (!a.findPiT(pitId) && !a.findCgPiT(pitId)) return "The PiT no longer exists";
            for (const auto& [uuid, generation] : targets)
                if (!a.findVolume(uuid)) return "A restored volume no longer exists";
            for (const auto& [uuid, generation] : targets)
                a.findVolume(uuid)->generation = generation;
            return {};
        },
        {}, 32768);
}

uint32_t modifySettingsDefineState(ArrayCall& c) {
    const uint16_t op = ArrayCall::require(c.u16("Operation"));
    if (op != 4 && op != 5 && op != 32768)
        throw Refused{kInvalidParameter, "Operation is 4, 5 or 32768"};
    Link l = c.link(ArrayCall::require(c.ref("SettingsState")));
    if (!c.repo.arrayClasses().isA(l.cls, "CIM_SettingsDefineState"))
        throw Refused{kInvalidParameter, "SettingsState must be a CIM_SettingsDefineState"};
    const Obj& setting = end(l, "SettingData");
    if (setting.kind == Kind::PiT) {
        const PiT& pit = *c.array.findPiT(setting.id);
        if (op == 5) return makeView(c, pit);
        if (op == 4) return deletePiT(c, pit);
        const PiTGroup* g = c.array.findPiTGroup(pit.group);
        if (!g) throw Refused{kFailed, "the PiT's group is gone"};
        return restore(c, pit.id, {{g->baseVolume, pit.generation}});
    }
    const CgPiT& pit = *c.array.findCgPiT(setting.id);
    if (op == 5) return makeGroupView(c, pit);
    if (op == 4) return deleteGroupPiT(c, pit);
    std::vector<std::pair<std::string, uint64_t>> targets;
    for (const CgPiTMember& m : pit.members)
        if (c.array.findVolume(m.volume)) targets.emplace_back(m.volume, m.generation);
    return restore(c, pit.id, std::move(targets));
}

// Operation 19: a view (or a CG view with its member views) goes.
uint32_t modifyReplicaSynchronization(ArrayCall& c) {
    if (ArrayCall::require(c.u16("Operation")) != 19)
        throw Refused{kInvalidParameter, "Operation is 19"};
    Link l = c.link(ArrayCall::require(c.ref("Synchronization")));
    const std::string& prefix = c.provider.config.classPrefix;
    const ClassTable& classes = c.repo.arrayClasses();
    const Obj& synced = end(l, "SyncedElement");
    std::set<std::string> volumes;
    std::string cgView;
    if (classes.isA(l.cls, prefix + "_PiTViewSynchronized")) {
        const View* v = c.array.findView(synced.id);
        if (!v) throw Refused{kNoObject, "no such view"};
        if (!v->cgView.empty())
            throw Refused{kFailed, "a member view goes only with its CG PiT view"};
        volumes.insert(v->volume);
    } else if (classes.isA(l.cls, prefix + "_CGPiTViewSynchronized")) {
        const CgPiTView* cv = c.array.findCgPiTView(synced.id);
        if (!cv) throw Refused{kNoObject, "no such CG PiT view"};
        cgView = cv->ref;
        volumes.insert(cv->memberViews.begin(), cv->memberViews.end());
    } else {
        throw Refused{kInvalidParameter, "not the synchronization of a view"};
    }
    const bool force = c.flag("Force").value_or(false);
    if (c.rules.keepMapped && !force)
        for (const std::string& uuid : volumes)
            if (c.mapped(uuid)) throw Refused{kMapped, "the view is mapped"};
    return c.finish([volumes, cgView](Array& a) -> std::string {
        for (const std::string& uuid : volumes)
            if (!a.findVolume(uuid)) return "The view no longer exists";
        a.removeVolumes(volumes);  // unmapped first when forced
        if (!cgView.empty())
            a.cgPitViews.erase(std::remove_if(a.cgPitViews.begin(), a.cgPitViews.end(),
                                              [&](const CgPiTView& v) { return v.ref == cgView; }),
                               a.cgPitViews.end());
        return {};
    });
}

}  // namespace

void registerReplicationMethods(Provider::Impl& impl) {
    impl.registerMethod("_ReplicationService", "CreatePiTGroup", arrayMethod(createPiTGroup));
    impl.registerMethod("_ReplicationService", "CreateSynchronizationAspect",
                        arrayMethod(createSynchronizationAspect));
    impl.registerMethod("_ReplicationService", "ModifySettingsDefineState",
                        arrayMethod(modifySettingsDefineState));
    impl.registerMethod("_ReplicationService", "ModifyReplicaSynchronization",
                        arrayMethod(modifyReplicaSynchronization));
}

}  // namespace sim
