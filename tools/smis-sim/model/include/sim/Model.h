// The simulated E-Series array as plain data. CIM instances and associations are
// derived from it on demand, so nothing here knows about CIM types.
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace sim {

enum class PortType { FC, iSCSI };

struct Port {
    std::string id;  // FC: 16 upper-case hex digits, no ':'; iSCSI: the iqn/eui name
    PortType type = PortType::FC;
};

struct Controller {
    std::string name;   // serial number; also "CurrentManager"/"PreferredManager" and VPD 0x80
    std::string label;  // "ElementName"
};

struct Pool {
    std::string ref;  // 40 upper-case hex digits
    std::string label;
    uint64_t capacityBytes = 0;
};

enum class VolumeKind { Base, Clone, PiTView, Snapshot };

struct Volume {
    std::string uuid;  // 32 upper-case hex digits, NAA-6 (starts with '6'); "Name" and "DeviceID"
    std::string label;
    VolumeKind kind = VolumeKind::Base;
    std::string pool;  // pool ref; empty for views
    uint64_t blockSize = 512;
    uint64_t blocks = 0;
    int preferredController = 0;  // index into Array::controllers
    int currentController = 0;
    uint16_t access = 3;  // read/write
    // What the volume holds: a host write gives it a new generation; PiTs, views,
    // restores and copies carry generations over.
    uint64_t generation = 1;
    uint64_t repositoryBytes = 0;  // legacy snapshots: space taken from the pool
    bool hasSetting = true;        // false: no {P}_StorageVolumeSetting (edge tests)
};

struct Host {
    std::string ref;
    std::string label;
    std::string group;  // host group ref, empty when in no group
    std::vector<Port> ports;
};

struct HostGroup {
    std::string ref;
    std::string label;
};

// A volume presented through the protocol controller of a host or a host group.
struct Mapping {
    std::string volume;  // uuid
    std::string target;  // host or host group ref
    uint32_t lun = 0;
    uint16_t access = 2;
};

struct PiTGroup {
    std::string ref;
    std::string label;
    std::string baseVolume;  // uuid
    uint64_t repositoryBytes = 0;
    uint64_t nextSequence = 1;
};

struct PiT {
    std::string id;     // {SYS}:<40 hex>; "InstanceID" and "ElementName"
    std::string group;  // PiT group ref
    uint64_t sequence = 0;
    int64_t whenMicros = 0;   // creation time, microseconds since the epoch
    uint64_t generation = 1;  // the base volume's data generation when taken
    // A second CIM_SettingsDefineState (from the PiT group), as a damaged array shows.
    bool extraDefineState = false;
};

struct ConsistencyGroup {
    std::string ref;
    std::string label;
    std::vector<std::string> members;  // volume uuids
    uint64_t nextSequence = 1;         // of its CG PiTs
};

// A member volume as a CG PiT recorded it.
struct CgPiTMember {
    std::string volume;  // uuid
    uint64_t generation = 1;
};

struct CgPiT {
    std::string id;
    std::string group;  // consistency group ref
    uint64_t sequence = 0;
    int64_t whenMicros = 0;
    std::vector<CgPiTMember> members;
};

struct CgPiTView {
    std::string ref;
    std::string label;
    std::string cgPit;
    std::vector<std::string> memberViews;  // view volume uuids, ordered
};

// Links a view volume to its PiT (or, for members of a CG view, to the CG view).
struct View {
    std::string volume;  // view volume uuid
    std::string base;    // base volume uuid
    std::string pit;     // PiT id; empty for CG member views
    std::string cgView;  // CG view ref for members, else empty
};

enum class SyncType { VolumeCopy, Snapshot };

// Older-engine synchronizations: a clone's copy or a legacy snapshot.
struct Sync {
    SyncType type = SyncType::VolumeCopy;
    std::string source;  // uuid
    std::string target;  // uuid
    uint16_t copyType = 4;
    uint16_t syncState = 6;  // synchronized
    uint16_t syncType = 0;   // "SyncType"; 0 takes the type's own: 7 snapshot, 8 clone

    uint16_t effectiveSyncType() const {
        return syncType != 0 ? syncType : type == SyncType::Snapshot ? 7 : 8;
    }
};

struct Array {
    std::string id;  // {SYS}: 32 upper-case hex digits
    std::string name;
    std::string password;        // the array's own password
    std::string providerSecret;  // what the provider holds ("Secret"); empty = never shared
    std::string vendor;          // standard inquiry, e.g. "NETAPP"
    std::string product;         // e.g. "INF-01-00"
    std::string revision = "0820";
    // "SupportedSynchronizationType" of the replication capabilities: 6 and 7 offer
    // snapshots, 8 clones.
    std::vector<uint16_t> syncTypes = {6, 7, 8};
    std::array<Controller, 2> controllers;
    std::vector<Pool> pools;
    std::vector<Volume> volumes;
    std::vector<Host> hosts;
    std::vector<HostGroup> hostGroups;
    std::vector<Mapping> mappings;
    std::vector<PiTGroup> pitGroups;
    std::vector<PiT> pits;
    std::vector<View> views;
    std::vector<ConsistencyGroup> consistencyGroups;
    std::vector<CgPiT> cgPits;
    std::vector<CgPiTView> cgPitViews;
    std::vector<Sync> syncs;

    // Edge-test shapes.
    int sharedSecrets = 1;  // CIM_SharedSecret instances: 0, 1 or 2

    // Counters behind generated identities, names and times. Not saved: a loaded
    // array derives them from what it holds (generated identities are checked free).
    uint64_t serial = 0;          // seeds new refs, uuids and names
    uint64_t lastGeneration = 1;  // highest data generation handed out
    int64_t lastWhenMicros = 0;   // PiT times strictly increase on the array
    int nextOwner = 0;            // controller of the next new volume

    // Lookups. Indexes are kept by the add/remove helpers; after editing the vectors
    // directly, call reindex() (a stale index only makes lookups slower).
    const Volume* findVolume(const std::string& uuid) const;
    Volume* findVolume(const std::string& uuid);
    const Volume* findVolumeByLabel(const std::string& label) const;  // any case
    const Pool* findPool(const std::string& refOrLabel) const;
    const Host* findHost(const std::string& refOrLabel) const;
    const HostGroup* findHostGroup(const std::string& refOrLabel) const;
    const Mapping* findMapping(const std::string& volumeUuid) const;
    const PiTGroup* findPiTGroup(const std::string& ref) const;
    PiTGroup* findPiTGroup(const std::string& ref);
    const PiT* findPiT(const std::string& id) const;
    PiT* findPiT(const std::string& id);
    const ConsistencyGroup* findConsistencyGroup(const std::string& ref) const;
    ConsistencyGroup* findConsistencyGroup(const std::string& ref);
    const CgPiT* findCgPiT(const std::string& id) const;
    const CgPiTView* findCgPiTView(const std::string& ref) const;
    const View* findView(const std::string& volumeUuid) const;
    void reindex();

    Volume& addVolume(Volume v);
    // Volumes with their mappings, view records, syncs and group memberships.
    void removeVolumes(const std::set<std::string>& uuids);
    PiTGroup& addPiTGroup(PiTGroup g);
    PiT& addPiT(PiT p);
    void removePiT(const std::string& id);

  private:
    std::unordered_map<std::string, size_t> m_volumeIndex;
    std::unordered_map<std::string, size_t> m_pitGroupIndex;
    std::unordered_map<std::string, size_t> m_pitIndex;
};

}  // namespace sim
