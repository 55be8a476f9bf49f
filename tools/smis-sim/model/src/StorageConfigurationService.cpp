// {P}_StorageConfigurationService: the older engine's legacy snapshots and clones,
// new volumes, controller affinity, and returning volumes to their pool.
#include <algorithm>

#include "ArrayMethods.h"
#include "Capacity.h"
#include "Text.h"

namespace sim {

namespace {

enum : uint16_t { kSnapshotCopy = 4, kCloneCopy = 5 };
// SyncState values.
enum : uint16_t { kSynchronized = 6, kQuiesced = 9 };

bool offers(const Array& a, uint16_t copyType) {
    auto has = [&](uint16_t t) {
        return std::find(a.syncTypes.begin(), a.syncTypes.end(), t) != a.syncTypes.end();
    };
    return copyType == kSnapshotCopy ? has(6) || has(7) : has(8);
}

bool isStandard(const Volume& v) {
    return v.kind == VolumeKind::Base || v.kind == VolumeKind::Clone;
}

bool isCopyTarget(const ArrayCall& c, const std::string& uuid) {
    for (const Sync& s : c.array.syncs)
        if (s.target == uuid) return true;
    return c.pending("copyTarget:" + uuid) > 0;
}

uint32_t createReplica(ArrayCall& c) {
    const uint16_t copyType = ArrayCall::require(c.u16("CopyType"));
    if (copyType != kSnapshotCopy && copyType != kCloneCopy)
        throw Refused{kInvalidParameter, "CopyType 4 (snapshot) or 5 (clone)"};
    const Volume& source = c.volume(ArrayCall::require(c.ref("SourceElement")));
    if (!isStandard(source)) throw Refused{kInvalidParameter, "not a standard volume"};
    if (!offers(c.array, copyType)) throw Refused{kNotSupported, "the array offers no such copy"};
    const std::string pool = c.given("TargetPool") ? c.pool(*c.ref("TargetPool")).ref : source.pool;
    std::string name = c.text("ElementName").value_or("");
    if (!name.empty()) c.checkName(name);
    const bool snapshot = copyType == kSnapshotCopy;
    if (snapshot && c.rules.maxLegacySnapshotsPerVolume) {
        uint64_t count = c.pending("legacy:" + source.uuid);
        for (const Sync& s : c.array.syncs)
            count += s.type == SyncType::Snapshot && s.source == source.uuid;
        if (count >= c.rules.maxLegacySnapshotsPerVolume)
            throw Refused{kTooManySnapshots, "the volume has its most legacy snapshots"};
    }
    const uint64_t bytes =
        snapshot ? reserveBytes(source, c.rules.reservePercent) : volumeBytes(source);
    c.checkPoolSpace(pool, bytes);

    Volume v;
    v.uuid = c.newVolumeUuid();
    v.label = name.empty() ? c.newVolumeName(source.label, snapshot ? "SN" : "CL") : name;
    v.kind = snapshot ? VolumeKind::Snapshot : VolumeKind::Clone;
    v.pool = pool;
    v.blockSize = source.blockSize;
    v.blocks = source.blocks;
    v.preferredController = source.preferredController;
    v.currentController = source.currentController;
    v.generation = source.generation;
    v.repositoryBytes = snapshot ? bytes : 0;
    Sync sync;
    sync.type = snapshot ? SyncType::Snapshot : SyncType::VolumeCopy;
    sync.source = source.uuid;
    sync.target = v.uuid;
    sync.copyType = copyType;
    sync.syncState = kSynchronized;
    c.output("TargetElement", cim::CIMValue(c.volumePath(v.uuid, v.kind)));
    Claims claims = {{"name:" + toUpper(v.label), 1},
                     {"pool:" + pool, bytes},
                     {snapshot ? "legacy:" + source.uuid : "copyTarget:" + v.uuid, 1}};
    return c.finish(
        [v, sync](Array& a) -> std::string {
            const Volume* src = a.findVolume(sync.source);
            if (!src || !a.findPool(v.pool)) return "The source volume or the pool is gone";
            Volume copy = v;
            copy.generation = src->generation;  // what the source holds when the copy ends
            a.addVolume(copy);
            a.syncs.push_back(sync);
            return {};
        },
        std::move(claims));
}

uint32_t createOrModifyElement(ArrayCall& c) {
    if (c.given("TheElement")) throw Refused{kNotSupported, "volumes are not modified"};
    if (ArrayCall::require(c.u16("ElementType")) != 2)
        throw Refused{kInvalidParameter, "ElementType 2 (storage volume)"};
    uint64_t size = ArrayCall::require(c.u64("Size"));
    if (size == 0 || size > (1ULL << 60)) throw Refused{kInvalidParameter, "Size out of range"};
    const Pool& pool = c.pool(ArrayCall::require(c.ref("InPool")));
    std::string name = c.text("ElementName").value_or("");
    if (!name.empty()) c.checkName(name);
    const uint64_t blockSize = 512;
    const uint64_t blocks = (size + blockSize - 1) / blockSize;
    c.checkPoolSpace(pool.ref, blocks * blockSize);

    Volume v;
    v.uuid = c.newVolumeUuid();
    v.label = name.empty() ? c.newVolumeName("Volume", "V") : name;
    v.pool = pool.ref;
    v.blockSize = blockSize;
    v.blocks = blocks;
    v.generation = c.newGeneration();
    c.output("Size", cim::CIMValue(cim::Uint64(blocks * blockSize)));
    c.output("TheElement", cim::CIMValue(c.volumePath(v.uuid, v.kind)));
    Claims claims = {{"name:" + toUpper(v.label), 1}, {"pool:" + pool.ref, blocks * blockSize}};
    return c.finish(
        [v](Array& a) -> std::string {
            if (!a.findPool(v.pool)) return "The pool no longer exists";
            Volume made = v;
            // New volumes alternate between the controllers.
            made.preferredController = made.currentController = a.nextOwner;
            a.nextOwner = 1 - a.nextOwner;
            a.addVolume(made);
            return {};
        },
        std::move(claims));
}

uint32_t assignStorageResourceAffinity(ArrayCall& c) {
    if (c.given("ResourceType") && *c.u16("ResourceType") != 2)
        throw Refused{kInvalidParameter, "ResourceType 2 (storage volume)"};
    Obj controller = c.object(ArrayCall::require(c.ref("StorageProcessor")), Kind::Controller);
    const auto paths = ArrayCall::require(c.refs("StorageResources"));
    if (paths.empty()) throw Refused{kInvalidParameter, "no StorageResources"};
    std::vector<std::string> volumes;
    for (const cim::CIMObjectPath& p : paths) volumes.push_back(c.volume(p).uuid);
    return c.finish([volumes, owner = controller.sub](Array& a) -> std::string {
        for (const std::string& uuid : volumes)
            if (!a.findVolume(uuid)) return "A volume no longer exists";
        for (const std::string& uuid : volumes) {
            Volume* v = a.findVolume(uuid);
            v->preferredController = v->currentController = owner;
        }
        return {};
    });
}

uint32_t attachOrModifyReplica(ArrayCall& c) {
    const uint16_t copyType = ArrayCall::require(c.u16("CopyType"));
    if (copyType != kSnapshotCopy && copyType != kCloneCopy)
        throw Refused{kInvalidParameter, "CopyType 4 or 5"};
    const Volume& source = c.volume(ArrayCall::require(c.ref("SourceElement")));
    const Volume& target = c.volume(ArrayCall::require(c.ref("TargetElement")));
    if (source.uuid == target.uuid) throw Refused{kInvalidParameter, "a volume is not its copy"};
    if (!isStandard(source) || !isStandard(target))
        throw Refused{kInvalidParameter, "copies are between standard volumes"};
    if (volumeBytes(target) < volumeBytes(source) || isCopyTarget(c, target.uuid))
        throw Refused{kAttachFailed, "the target is smaller or a copy target already"};
    Sync sync;
    sync.source = source.uuid;
    sync.target = target.uuid;
    sync.copyType = copyType;
    sync.syncState = kSynchronized;
    return c.finish(
        [sync](Array& a) -> std::string {
            const Volume* src = a.findVolume(sync.source);
            Volume* tgt = a.findVolume(sync.target);
            if (!src || !tgt) return "The source or the target volume no longer exists";
            for (const Sync& s : a.syncs)
                if (s.target == sync.target) return "The target is a copy target already";
            tgt->kind = VolumeKind::Clone;
            tgt->generation = src->generation;  // the finished copy
            a.syncs.push_back(sync);
            return {};
        },
        {{"copyTarget:" + target.uuid, 1}});
}

uint32_t modifySynchronization(ArrayCall& c) {
    const uint16_t op = ArrayCall::require(c.u16("Operation"));
    if (op != 2 && op != 4 && op != 5 && op != 8)
        throw Refused{kInvalidParameter, "Operation 2, 4, 5 or 8"};
    Link l = c.link(ArrayCall::require(c.ref("Synchronization")));
    const std::string& prefix = c.provider.config.classPrefix;
    SyncType type;
    if (equalsNoCase(l.cls, prefix + "_VolumeCopySynchronized")) {
        type = SyncType::VolumeCopy;
    } else if (equalsNoCase(l.cls, prefix + "_StorageSynchronized")) {
        type = SyncType::Snapshot;
    } else {
        throw Refused{kInvalidParameter, "not a clone or legacy snapshot synchronization"};
    }
    const std::string source = l.a.id, target = l.b.id;  // SystemElement, SyncedElement
    if (op == 2 && type == SyncType::Snapshot && c.rules.keepMapped && c.mapped(target))
        throw Refused{kMapped, "the snapshot is mapped"};
    return c.finish(
        [=](Array& a) -> std::string {
            auto it = std::find_if(a.syncs.begin(), a.syncs.end(), [&](const Sync& s) {
                return s.type == type && s.source == source && s.target == target;
            });
            Volume* src = a.findVolume(source);
            Volume* tgt = a.findVolume(target);
            if (it == a.syncs.end() || !src || !tgt) return "The synchronization no longer exists";
            switch (op) {
                case 2:  // detach: a clone stays as a volume, a legacy snapshot goes
                    a.syncs.erase(it);
                    if (type == SyncType::Snapshot) a.removeVolumes({target});
                    break;
                case 4:  // resync: the replica takes the source's data again
                    tgt->generation = src->generation;
                    it->syncState = kSynchronized;
                    break;
                case 5:  // restore: the source takes the replica's
                    src->generation = tgt->generation;
                    it->syncState = kSynchronized;
                    break;
                default:
                    it->syncState = kQuiesced;
                    break;
            }
            return {};
        },
        {}, op);
}

uint32_t returnToStoragePool(ArrayCall& c) {
    const Volume& v = c.volume(ArrayCall::require(c.ref("TheElement")));
    if (c.rules.keepMapped && c.mapped(v.uuid)) throw Refused{kMapped, "the volume is mapped"};
    if (v.kind == VolumeKind::PiTView) throw Refused{kInvalidParameter, "views are not in a pool"};
    for (const PiTGroup& g : c.array.pitGroups)
        if (g.baseVolume == v.uuid) throw Refused{kFailed, "the base of a PiT group"};
    for (const ConsistencyGroup& g : c.array.consistencyGroups)
        if (std::count(g.members.begin(), g.members.end(), v.uuid))
            throw Refused{kFailed, "a consistency group member"};
    for (const View& w : c.array.views)
        if (w.base == v.uuid) throw Refused{kFailed, "the source of a view"};
    for (const Sync& s : c.array.syncs)
        if (s.source == v.uuid) throw Refused{kFailed, "the source of a synchronization"};
    return c.finish([uuid = v.uuid](Array& a) -> std::string {
        if (!a.findVolume(uuid)) return "The volume no longer exists";
        a.removeVolumes({uuid});  // with its setting, pool link and own synchronization
        return {};
    });
}

}  // namespace

void registerStorageMethods(Provider::Impl& impl) {
    const char* service = "_StorageConfigurationService";
    impl.registerMethod(service, "CreateReplica", arrayMethod(createReplica));
    impl.registerMethod(service, "CreateOrModifyElementFromStoragePool",
                        arrayMethod(createOrModifyElement));
    impl.registerMethod(service, "AssignStorageResourceAffinity",
                        arrayMethod(assignStorageResourceAffinity));
    impl.registerMethod(service, "AttachOrModifyReplica", arrayMethod(attachOrModifyReplica));
    impl.registerMethod(service, "ModifySynchronization", arrayMethod(modifySynchronization));
    impl.registerMethod(service, "ReturnToStoragePool", arrayMethod(returnToStoragePool));
}

}  // namespace sim
