#include "Repository.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <type_traits>

#include <cim/Exception.h>

#include "Capacity.h"
#include "Text.h"

namespace sim {

namespace {

using cim::CIMKeyBinding;
using cim::CIMObjectPath;
using cim::CIMValue;

constexpr const char* kZeroRef = "0000000000000000000000000000000000000000";
// Days from 0000-01-01 to 1970-01-01 in the proleptic Gregorian calendar.
constexpr int64_t kEpochDays = 719528;

const char* serviceSuffix(int t) {
    switch (t) {
        case kStorageConfiguration:
            return "_StorageConfigurationService";
        case kControllerConfiguration:
            return "_ControllerConfigurationService";
        case kReplication:
            return "_ReplicationService";
        default:
            return "_SharedSecretService";
    }
}

const char* serviceName(int t) {
    switch (t) {
        case kStorageConfiguration:
            return "StorageConfigurationService";
        case kControllerConfiguration:
            return "ControllerConfigurationService";
        case kReplication:
            return "ReplicationService";
        default:
            return "SharedSecretService";
    }
}

const char* volumeSuffix(VolumeKind k) {
    switch (k) {
        case VolumeKind::PiTView:
            return "_PiTView";
        case VolumeKind::Snapshot:
            return "_SnapshotVolume";
        default:
            return "_StorageVolume";
    }
}

// The classes each kind of object can have, for resolving paths and enumerating.
struct KindClasses {
    Kind kind;
    std::vector<const char*> suffixes;
};

const std::vector<KindClasses>& kindTable() {
    static const std::vector<KindClasses> t = {
        {Kind::System, {"_StorageSystem"}},
        {Kind::Controller, {"_StorageProcessorSystem"}},
        {Kind::Service,
         {"_StorageConfigurationService", "_ControllerConfigurationService", "_ReplicationService",
          "_SharedSecretService"}},
        {Kind::SharedSecret, {"_SharedSecret"}},
        {Kind::Capabilities, {"_StorageReplicationCapabilities"}},
        {Kind::Pool, {"_StoragePool"}},
        {Kind::Volume, {"_StorageVolume", "_PiTView", "_SnapshotVolume"}},
        {Kind::VolumeSetting, {"_StorageVolumeSetting"}},
        {Kind::PiTGroup, {"_PiTGroup"}},
        {Kind::PiT, {"_PiT"}},
        {Kind::ConsistencyGroup, {"_ConsistencyGroup"}},
        {Kind::CgPiT, {"_ConsistencyGroupPiT"}},
        {Kind::CgPiTView, {"_ConsistencyGroupPiTView"}},
        {Kind::HardwareID, {"_StorageHardwareID"}},
        {Kind::HostCollection, {"_HardwareIDCollection"}},
        {Kind::Cluster, {"_Cluster"}},
        {Kind::Privilege, {"_AuthorizedPrivilege"}},
        {Kind::SPC, {"_SCSIProtocolController"}},
        {Kind::Job, {"_ConcreteJob"}},
    };
    return t;
}

const std::string* key(const CIMObjectPath& p, const char* name) {
    const CIMKeyBinding* k = p.findKeyBinding(name);
    return k ? &k->getValue() : nullptr;
}

CIMKeyBinding str(const char* name, const std::string& value) {
    return CIMKeyBinding(name, value, CIMKeyBinding::STRING);
}

void add(cim::CIMInstance& i, const char* name, CIMValue v) {
    i.appendPropertyUnchecked(cim::CIMProperty(cim::CIMName(name), std::move(v)));
}

std::vector<cim::Uint16> u16s(std::initializer_list<cim::Uint16> l) {
    return std::vector<cim::Uint16>(l);
}

}  // namespace

cim::CIMDateTime dateTimeFromMicros(int64_t micros) {
    int64_t v = std::max<int64_t>(0, micros) + kEpochDays * 86400LL * 1000000LL;
    return cim::CIMDateTime(static_cast<cim::Uint64>(v), false);
}

cim::CIMDateTime intervalFromMs(int64_t ms) {
    return cim::CIMDateTime(static_cast<cim::Uint64>(std::max<int64_t>(0, ms)) * 1000, true);
}

const ClassTable& Repository::interopClasses() {
    static const ClassTable t = ClassTable::forInterop();
    return t;
}

const ClassTable& Repository::arrayClassesFor(const std::string& prefix) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<ClassTable>> tables;
    std::lock_guard<std::mutex> lock(mutex);
    auto& t = tables[prefix];
    if (!t) t = std::make_unique<ClassTable>(ClassTable::forArray(prefix));
    return *t;
}

Repository::Repository(const Config& settings, const std::vector<Array>& arrays, const Jobs& jobs,
                       int64_t nowMs)
    : m_settings(settings),
      m_arrays(arrays),
      m_jobs(jobs),
      m_now(nowMs),
      m_prefix(settings.classPrefix),
      m_arrayClasses(&arrayClassesFor(settings.classPrefix)) {}

const std::string& Repository::cls(const char* suffix) const {
    auto it = m_classes.find(suffix);
    if (it == m_classes.end()) it = m_classes.emplace(suffix, m_prefix + suffix).first;
    return it->second;
}

const std::string& Repository::className(const Obj& o) const {
    switch (o.kind) {
        case Kind::System:
            return cls("_StorageSystem");
        case Kind::Controller:
            return cls("_StorageProcessorSystem");
        case Kind::Service:
            return cls(serviceSuffix(o.sub));
        case Kind::SharedSecret:
            return cls("_SharedSecret");
        case Kind::Capabilities:
            return cls("_StorageReplicationCapabilities");
        case Kind::Pool:
            return cls("_StoragePool");
        case Kind::Volume: {
            const Volume* v = arr(o).findVolume(o.id);
            return cls(volumeSuffix(v ? v->kind : VolumeKind::Base));
        }
        case Kind::VolumeSetting:
            return cls("_StorageVolumeSetting");
        case Kind::PiTGroup:
            return cls("_PiTGroup");
        case Kind::PiT:
            return cls("_PiT");
        case Kind::ConsistencyGroup:
            return cls("_ConsistencyGroup");
        case Kind::CgPiT:
            return cls("_ConsistencyGroupPiT");
        case Kind::CgPiTView:
            return cls("_ConsistencyGroupPiTView");
        case Kind::HardwareID:
            return cls("_StorageHardwareID");
        case Kind::HostCollection:
            return cls("_HardwareIDCollection");
        case Kind::Cluster:
            return cls("_Cluster");
        case Kind::Privilege:
            return cls("_AuthorizedPrivilege");
        case Kind::SPC:
            return cls("_SCSIProtocolController");
        case Kind::Job:
            return cls("_ConcreteJob");
        case Kind::Namespace: {
            static const std::string kNamespace = "CIM_Namespace";
            return kNamespace;
        }
    }
    static const std::string kNone;
    return kNone;
}

const cim::detail::SharedString& Repository::shared(std::string_view text) const {
    auto it = m_shared.find(text);
    if (it == m_shared.end()) {
        cim::detail::SharedString s(text);
        it = m_shared.emplace(std::string_view(s.str()), s).first;
    }
    return it->second;
}

const cim::CIMName& Repository::name(const char* literal) const {
    auto it = m_names.find(literal);
    if (it == m_names.end()) it = m_names.emplace(literal, cim::CIMName(shared(literal))).first;
    return it->second;
}

CIMKeyBinding Repository::binding(const char* name, const std::string& value, bool repeats) const {
    if (repeats) return CIMKeyBinding(this->name(name), shared(value), CIMKeyBinding::STRING);
    return CIMKeyBinding(this->name(name), value, CIMKeyBinding::STRING);
}

CIMObjectPath Repository::path(const Obj& o, bool withNamespace) const {
    std::vector<CIMKeyBinding> keys;
    const std::string& cn = className(o);
    if (o.kind == Kind::Namespace) {
        keys = {str("CreationClassName", "CIM_Namespace"),
                str("Name", o.id),
                str("ObjectManagerCreationClassName", "CIM_ObjectManager"),
                str("ObjectManagerName", "smis-sim:" + m_settings.serverName),
                str("SystemCreationClassName", "CIM_ComputerSystem"),
                str("SystemName", m_settings.serverName)};
        return CIMObjectPath("", withNamespace ? m_settings.interopNamespace : "", cn, keys);
    }
    const Array& a = arr(o);
    const std::string& sysClass = cls("_StorageSystem");
    switch (o.kind) {
        case Kind::System:
            keys = {binding("CreationClassName", cn), binding("Name", a.id)};
            break;
        case Kind::Controller:
            keys = {binding("CreationClassName", cn),
                    binding("Name", a.controllers[o.sub].name, false)};
            break;
        case Kind::Service:
            keys = {binding("CreationClassName", cn), binding("Name", serviceName(o.sub)),
                    binding("SystemCreationClassName", sysClass), binding("SystemName", a.id)};
            break;
        case Kind::SharedSecret:
            keys = {binding("RemoteID", o.sub == 0 ? a.id : a.id + ":2"),
                    binding("ServiceCreationClassName", cls("_SharedSecretService")),
                    binding("ServiceName", serviceName(kSharedSecret)),
                    binding("SystemCreationClassName", sysClass), binding("SystemName", a.id)};
            break;
        case Kind::Volume:
            keys = {binding("CreationClassName", cn), binding("DeviceID", o.id, false),
                    binding("SystemCreationClassName", sysClass), binding("SystemName", a.id)};
            break;
        case Kind::SPC:
            keys = {binding("CreationClassName", cn), binding("DeviceID", a.id + ":" + o.id, false),
                    binding("SystemCreationClassName", sysClass), binding("SystemName", a.id)};
            break;
        case Kind::Capabilities:
            keys = {binding("InstanceID", a.id + ":ReplicationCapabilities")};
            break;
        case Kind::PiT:
        case Kind::CgPiT:
        case Kind::Job:
            keys = {binding("InstanceID", o.id, false)};
            break;
        default:  // InstanceID = {SYS}:<model key>
            keys = {binding("InstanceID", a.id + ":" + o.id, false)};
            break;
    }
    CIMObjectPath p;
    if (withNamespace) p.setNameSpace(cim::CIMNamespaceName(shared(m_settings.arrayNamespace)));
    p.setClassName(cim::CIMName(shared(cn)));
    p.setKeyBindings(std::move(keys));
    return p;
}

CIMObjectPath Repository::volumePath(size_t ai, const std::string& uuid, VolumeKind kind,
                                     bool withNamespace) const {
    const std::string& cn = cls(volumeSuffix(kind));
    std::vector<CIMKeyBinding> keys = {binding("CreationClassName", cn),
                                       binding("DeviceID", uuid, false),
                                       binding("SystemCreationClassName", cls("_StorageSystem")),
                                       binding("SystemName", m_arrays.at(ai).id)};
    CIMObjectPath p;
    if (withNamespace) p.setNameSpace(cim::CIMNamespaceName(shared(m_settings.arrayNamespace)));
    p.setClassName(cim::CIMName(shared(cn)));
    p.setKeyBindings(std::move(keys));
    return p;
}

bool Repository::exists(const Obj& o) const {
    if (o.kind == Kind::Namespace)
        return equalsNoCase(o.id, m_settings.interopNamespace) ||
               equalsNoCase(o.id, "root/cimv2") || equalsNoCase(o.id, m_settings.arrayNamespace);
    if (o.array >= m_arrays.size()) return false;
    const Array& a = arr(o);
    auto has = [&](const auto& v, auto pred) { return std::any_of(v.begin(), v.end(), pred); };
    switch (o.kind) {
        case Kind::System:
        case Kind::Capabilities:
            return true;
        case Kind::SharedSecret:
            return o.sub >= 0 && o.sub < a.sharedSecrets;
        case Kind::Controller:
            return o.sub == 0 || o.sub == 1;
        case Kind::Service:
            return o.sub >= 0 && o.sub <= kSharedSecret;
        case Kind::Pool:
            return has(a.pools, [&](const Pool& p) { return p.ref == o.id; });
        case Kind::Volume:
            return a.findVolume(o.id) != nullptr;
        case Kind::VolumeSetting: {
            const Volume* v = a.findVolume(o.id);
            return v && v->hasSetting;
        }
        case Kind::PiTGroup:
            return a.findPiTGroup(o.id) != nullptr;
        case Kind::PiT:
            return a.findPiT(o.id) != nullptr;
        case Kind::ConsistencyGroup:
            return a.findConsistencyGroup(o.id) != nullptr;
        case Kind::CgPiT:
            return a.findCgPiT(o.id) != nullptr;
        case Kind::CgPiTView:
            return a.findCgPiTView(o.id) != nullptr;
        case Kind::HardwareID:
            return hostOfPort(o.array, o.id) != nullptr;
        case Kind::HostCollection:
            return has(a.hosts, [&](const Host& h) { return h.ref == o.id; });
        case Kind::Cluster:
            return has(a.hostGroups, [&](const HostGroup& g) { return g.ref == o.id; });
        case Kind::Privilege:
            if (m_settings.omitPrivileges) return false;
            [[fallthrough]];
        case Kind::SPC:
            return o.sub == 0
                       ? has(a.hosts, [&](const Host& h) { return h.ref == o.id; })
                       : has(a.hostGroups, [&](const HostGroup& g) { return g.ref == o.id; });
        case Kind::Job: {
            const Job* j = m_jobs.find(o.id);
            return j && j->array == o.array;
        }
        case Kind::Namespace:
            break;
    }
    return false;
}

const Host* Repository::hostOfPort(size_t ai, const std::string& port) const {
    for (const Host& h : m_arrays[ai].hosts)
        for (const Port& p : h.ports)
            if (p.id == port) return &h;
    return nullptr;
}

std::optional<Obj> Repository::resolveAs(Kind k, const CIMObjectPath& p) const {
    // Find the array from SystemName or the InstanceID's "{SYS}:" head.
    auto arrayById = [&](const std::string& id) -> std::optional<size_t> {
        for (size_t i = 0; i < m_arrays.size(); ++i)
            if (m_arrays[i].id == id) return i;
        return std::nullopt;
    };
    auto splitInstanceId = [&](std::string& rest) -> std::optional<size_t> {
        const std::string* iid = key(p, "InstanceID");
        if (!iid || p.getKeyBindings().size() != 1) return std::nullopt;
        auto colon = iid->find(':');
        if (colon == std::string::npos) return std::nullopt;
        auto a = arrayById(iid->substr(0, colon));
        if (a) rest = iid->substr(colon + 1);
        return a;
    };
    auto systemScoped = [&](size_t nkeys) -> std::optional<size_t> {
        const std::string* sys = key(p, "SystemName");
        const std::string* sysClass = key(p, "SystemCreationClassName");
        if (!sys || !sysClass || p.getKeyBindings().size() != nkeys) return std::nullopt;
        if (!equalsNoCase(*sysClass, cls("_StorageSystem"))) return std::nullopt;
        return arrayById(*sys);
    };
    auto classMatches = [&](const Obj& o) {
        const std::string* ccn = key(p, "CreationClassName");
        return !ccn || equalsNoCase(*ccn, className(o));
    };
    auto found = [&](Obj o) -> std::optional<Obj> {
        if (!exists(o) || !classMatches(o)) return std::nullopt;
        return o;
    };

    switch (k) {
        case Kind::System: {
            const std::string* name = key(p, "Name");
            if (!name || p.getKeyBindings().size() != 2) return std::nullopt;
            auto a = arrayById(*name);
            if (!a) return std::nullopt;
            return found(systemOf(*a));
        }
        case Kind::Controller: {
            const std::string* name = key(p, "Name");
            if (!name || p.getKeyBindings().size() != 2) return std::nullopt;
            for (size_t i = 0; i < m_arrays.size(); ++i)
                for (int c = 0; c < 2; ++c)
                    if (m_arrays[i].controllers[c].name == *name)
                        return found({Kind::Controller, i, "", c});
            return std::nullopt;
        }
        case Kind::Service: {
            auto a = systemScoped(4);
            const std::string* name = key(p, "Name");
            if (!a || !name) return std::nullopt;
            for (int t = kStorageConfiguration; t <= kSharedSecret; ++t)
                if (*name == serviceName(t)) return found({Kind::Service, *a, "", t});
            return std::nullopt;
        }
        case Kind::SharedSecret: {
            auto a = systemScoped(5);
            const std::string* sc = key(p, "ServiceCreationClassName");
            const std::string* sn = key(p, "ServiceName");
            const std::string* rid = key(p, "RemoteID");
            if (!a || !sc || !sn || !rid) return std::nullopt;
            if (!equalsNoCase(*sc, cls("_SharedSecretService")) ||
                *sn != serviceName(kSharedSecret))
                return std::nullopt;
            if (*rid == m_arrays[*a].id) return found({Kind::SharedSecret, *a, "", 0});
            if (*rid == m_arrays[*a].id + ":2") return found({Kind::SharedSecret, *a, "", 1});
            return std::nullopt;
        }
        case Kind::Volume:
        case Kind::SPC: {
            auto a = systemScoped(4);
            const std::string* dev = key(p, "DeviceID");
            if (!a || !dev) return std::nullopt;
            if (k == Kind::Volume) return found({Kind::Volume, *a, *dev, 0});
            const std::string head = m_arrays[*a].id + ":";
            if (dev->compare(0, head.size(), head) != 0) return std::nullopt;
            std::string ref = dev->substr(head.size());
            auto host = found({Kind::SPC, *a, ref, 0});
            return host ? host : found({Kind::SPC, *a, ref, 1});
        }
        case Kind::Capabilities: {
            std::string rest;
            auto a = splitInstanceId(rest);
            if (!a || rest != "ReplicationCapabilities") return std::nullopt;
            return found({Kind::Capabilities, *a, "", 0});
        }
        case Kind::PiT:
        case Kind::CgPiT:
        case Kind::Job: {
            std::string rest;
            auto a = splitInstanceId(rest);
            if (!a) return std::nullopt;
            return found({k, *a, *key(p, "InstanceID"), 0});
        }
        case Kind::Privilege: {
            std::string rest;
            auto a = splitInstanceId(rest);
            if (!a) return std::nullopt;
            auto host = found({Kind::Privilege, *a, rest, 0});
            return host ? host : found({Kind::Privilege, *a, rest, 1});
        }
        case Kind::Namespace: {
            const std::string* name = key(p, "Name");
            if (!name || p.getKeyBindings().size() != 6) return std::nullopt;
            Obj o{Kind::Namespace, 0, *name, 0};
            if (!exists(o) || path(o, false).getKeyBindings().size() != 6) return std::nullopt;
            CIMObjectPath mine = path(o, false);
            for (const CIMKeyBinding& kb : mine.getKeyBindings()) {
                const CIMKeyBinding* theirs = p.findKeyBinding(kb.getName());
                if (!theirs || !theirs->equal(kb)) return std::nullopt;
            }
            return o;
        }
        default: {  // the InstanceID-keyed objects of an array
            std::string rest;
            auto a = splitInstanceId(rest);
            if (!a) return std::nullopt;
            return found({k, *a, rest, 0});
        }
    }
}

std::optional<Obj> Repository::resolve(const CIMObjectPath& p) const {
    const std::string& pc = p.getClassName().getString();
    if (interopClasses().find(pc) && equalsNoCase(pc, "CIM_Namespace"))
        return resolveAs(Kind::Namespace, p);
    if (!m_arrayClasses->find(pc)) return std::nullopt;
    for (const KindClasses& kc : kindTable()) {
        bool candidate = false;
        for (const char* s : kc.suffixes) candidate = candidate || m_arrayClasses->isA(cls(s), pc);
        if (!candidate) continue;
        auto o = resolveAs(kc.kind, p);
        if (o && m_arrayClasses->isA(className(*o), pc)) return o;
    }
    return std::nullopt;
}

cim::CIMInstance Repository::instance(const Obj& o, const cim::CIMPropertyList& only) const {
    CIMObjectPath p = path(o);
    cim::CIMInstance i(p.getClassName());
    // Properties the caller did not ask for are never made into the instance; a value may
    // be given as a function, called only when the property is wanted.
    auto wanted = [&](const char* name) {
        return only.isNull() ||
               std::any_of(
                   only.getPropertyNameArray().begin(), only.getPropertyNameArray().end(),
                   [&](const cim::CIMName& n) { return cim::equalNoCase(n.getString(), name); });
    };
    auto add = [&](cim::CIMInstance& to, const char* name, auto&& v) {
        if (!wanted(name)) return;
        if constexpr (std::is_invocable_v<decltype(v)>)
            to.appendPropertyUnchecked(cim::CIMProperty(this->name(name), v()));
        else
            to.appendPropertyUnchecked(cim::CIMProperty(this->name(name), std::move(v)));
    };
    for (const CIMKeyBinding& k : p.getKeyBindings())
        if (only.contains(k.getName()))
            i.appendPropertyUnchecked(cim::CIMProperty(k.getName(), CIMValue(k.getValue())));
    if (o.kind == Kind::Namespace) {
        add(i, "ClassInfo", CIMValue(cim::Uint16(0)));
        i.setPath(std::move(p));
        return i;
    }
    const Array& a = arr(o);
    auto ok = [&] {
        add(i, "OperationalStatus", [] { return CIMValue(u16s({2})); });
        add(i, "HealthState", CIMValue(cim::Uint16(5)));
    };
    switch (o.kind) {
        case Kind::System:
            add(i, "ElementName", CIMValue(a.name));
            add(i, "NameFormat", CIMValue("Other"));
            add(i, "Dedicated", CIMValue(u16s({3, 15})));
            add(i, "EnabledState", CIMValue(cim::Uint16(2)));
            ok();
            break;
        case Kind::Controller:
            add(i, "ElementName", CIMValue(a.controllers[o.sub].label));
            add(i, "NameFormat", CIMValue("Other"));
            add(i, "Dedicated", CIMValue(u16s({3})));
            ok();
            break;
        case Kind::Service:
            add(i, "ElementName", CIMValue(std::string(serviceName(o.sub))));
            add(i, "EnabledState", CIMValue(cim::Uint16(2)));
            ok();
            break;
        case Kind::SharedSecret:
            add(i, "ElementName", CIMValue("Array password"));
            add(i, "Secret", CIMValue(a.providerSecret));
            break;
        case Kind::Capabilities:
            add(i, "ElementName", CIMValue("Replication capabilities"));
            add(i, "SupportedSynchronizationType", CIMValue(a.syncTypes));
            break;
        case Kind::Pool: {
            const Pool* pool = a.findPool(o.id);
            const uint64_t used = poolUsedBytes(a, pool->ref, m_settings.rules.reservePercent);
            add(i, "ElementName", CIMValue(pool->label));
            add(i, "PoolID", CIMValue(pool->ref));
            add(i, "Primordial", CIMValue(false));
            add(i, "TotalManagedSpace", CIMValue(cim::Uint64(pool->capacityBytes)));
            add(i, "RemainingManagedSpace",
                CIMValue(
                    cim::Uint64(used >= pool->capacityBytes ? 0 : pool->capacityBytes - used)));
            ok();
            break;
        }
        case Kind::Volume: {
            const Volume* v = a.findVolume(o.id);
            add(i, "Name", [&] { return CIMValue(v->uuid); });
            add(i, "ElementName", [&] { return CIMValue(v->label); });
            add(i, "BlockSize", CIMValue(cim::Uint64(v->blockSize)));
            add(i, "NumberOfBlocks", CIMValue(cim::Uint64(v->blocks)));
            add(i, "ConsumableBlocks", CIMValue(cim::Uint64(v->blocks)));
            add(i, "Access", CIMValue(cim::Uint16(v->access)));
            add(i, "Primordial", CIMValue(false));
            add(i, "NameFormat", CIMValue(cim::Uint16(2)));  // NAA
            add(i, "CurrentManager",
                [&] { return CIMValue(a.controllers[v->currentController].name); });
            add(i, "EnabledState", CIMValue(cim::Uint16(2)));
            ok();
            break;
        }
        case Kind::VolumeSetting: {
            const Volume* v = a.findVolume(o.id);
            add(i, "ElementName", CIMValue(v->label + " setting"));
            add(i, "PreferredManager", CIMValue(a.controllers[v->preferredController].name));
            add(i, "StorageVolume_DeviceID", CIMValue(v->uuid));
            add(i, "ChangeableType", CIMValue(cim::Uint16(1)));
            break;
        }
        case Kind::PiTGroup:
            add(i, "ElementName", CIMValue(a.findPiTGroup(o.id)->label));
            break;
        case Kind::PiT: {
            const PiT* t = a.findPiT(o.id);
            add(i, "ElementName", CIMValue(t->id));
            add(i, "SequenceNumber", CIMValue(cim::Uint64(t->sequence)));
            add(i, "WhenPointInTime", CIMValue(dateTimeFromMicros(t->whenMicros)));
            add(i, "SyncType", CIMValue(cim::Uint16(7)));
            break;
        }
        case Kind::ConsistencyGroup:
            for (const ConsistencyGroup& g : a.consistencyGroups)
                if (g.ref == o.id) {
                    add(i, "ElementName", CIMValue(g.label));
                    add(i, "Persistent", CIMValue(true));
                    add(i, "DeleteOnEmptyElement", CIMValue(false));
                    add(i, "DeleteOnUnassociated", CIMValue(false));
                }
            break;
        case Kind::CgPiT:
            for (const CgPiT& t : a.cgPits)
                if (t.id == o.id) {
                    add(i, "ElementName", CIMValue(t.id));
                    add(i, "SequenceNumber", CIMValue(cim::Uint64(t.sequence)));
                    add(i, "WhenPointInTime", CIMValue(dateTimeFromMicros(t.whenMicros)));
                    add(i, "SyncType", CIMValue(cim::Uint16(7)));
                }
            break;
        case Kind::CgPiTView:
            for (const CgPiTView& v : a.cgPitViews)
                if (v.ref == o.id) add(i, "ElementName", CIMValue(v.label));
            break;
        case Kind::HardwareID: {
            const Host* h = hostOfPort(o.array, o.id);
            bool fc = false;
            for (const Port& port : h->ports)
                if (port.id == o.id) fc = port.type == PortType::FC;
            add(i, "StorageID", CIMValue(o.id));
            add(i, "IDType", CIMValue(cim::Uint16(fc ? 2 : 5)));  // PortWWN / iSCSI Name
            add(i, "ElementName", CIMValue(h->label + " " + o.id));
            add(i, "HostID", CIMValue(a.id + ":" + h->ref));
            add(i, "ClusterID",
                CIMValue(a.id + ":" + h->ref + ":" + (h->group.empty() ? kZeroRef : h->group)));
            break;
        }
        case Kind::HostCollection:
            add(i, "ElementName", CIMValue(a.findHost(o.id)->label));
            break;
        case Kind::Cluster:
            add(i, "ElementName", CIMValue(a.findHostGroup(o.id)->label));
            break;
        case Kind::Privilege:
            add(i, "ElementName",
                CIMValue(std::string("Privilege ") +
                         (o.sub == 0 ? a.findHost(o.id)->label : a.findHostGroup(o.id)->label)));
            add(i, "PrivilegeGranted", CIMValue(true));
            add(i, "Activities", CIMValue(u16s({5, 6})));  // read, write
            break;
        case Kind::SPC:
            add(i, "ElementName",
                CIMValue(o.sub == 0 ? a.findHost(o.id)->label : a.findHostGroup(o.id)->label));
            add(i, "MaxUnitsControlled", CIMValue(cim::Uint32(256)));
            ok();
            break;
        case Kind::Job: {
            const Job* j = m_jobs.find(o.id);
            const uint16_t state = j->state(m_now);
            const bool done = m_now >= j->endMs();
            const bool failed = done && state != 7;
            static const char* const kStateText[] = {
                "",           "",          "New",           "Starting",
                "Running",    "Suspended", "Shutting Down", "Completed",
                "Terminated", "Killed",    "Exception",     "Service"};
            std::string text = state < 12 ? kStateText[state] : "Unknown";
            add(i, "ElementName", CIMValue(j->name));
            add(i, "Name", CIMValue(j->name));
            add(i, "JobState", CIMValue(state));
            add(i, "JobStatus", CIMValue(failed ? j->error : text));
            add(i, "PercentComplete", CIMValue(j->percent(m_now)));
            add(i, "Status", CIMValue(failed ? "Error" : "OK"));
            add(i, "StatusDescriptions",
                CIMValue(std::vector<std::string>{failed ? j->error : text}));
            add(i, "ErrorDescription",
                failed ? CIMValue(j->error) : CIMValue(cim::CIMTYPE_STRING, false));
            add(i, "ErrorCode", CIMValue(cim::Uint16(failed ? 1 : 0)));
            add(i, "OperationalStatus",
                CIMValue(failed ? u16s({6})
                         : done ? u16s({2, 17})
                                : u16s({2})));
            add(i, "TimeSubmitted", CIMValue(dateTimeFromMicros(j->submittedMs * 1000)));
            add(i, "StartTime", CIMValue(dateTimeFromMicros(j->submittedMs * 1000)));
            add(i, "ElapsedTime",
                CIMValue(intervalFromMs(std::min(m_now, j->endMs()) - j->submittedMs)));
            add(i, "TimeOfLastStateChange",
                CIMValue(dateTimeFromMicros((done ? j->endMs() : j->submittedMs) * 1000)));
            add(i, "TimeBeforeRemoval",
                CIMValue(intervalFromMs(m_jobs.vanish() ? 0 : m_settings.jobs.retentionMs)));
            add(i, "DeleteOnCompletion", CIMValue(m_jobs.vanish()));
            break;
        }
        case Kind::Namespace:
            break;
    }
    i.setPath(std::move(p));
    return i;
}

void Repository::forEachNamespace(const std::function<void(const Obj&)>& fn) const {
    // The host takes the first name it does not skip as the array namespace.
    std::vector<std::string> listed;
    for (const std::string& ns :
         {m_settings.interopNamespace, std::string("root/cimv2"), m_settings.arrayNamespace}) {
        if (std::any_of(listed.begin(), listed.end(),
                        [&](const std::string& l) { return equalsNoCase(l, ns); }))
            continue;
        listed.push_back(ns);
        fn({Kind::Namespace, 0, ns, 0});
    }
}

void Repository::forEachObject(const std::string& c,
                               const std::function<void(const Obj&)>& fn) const {
    if (equalsNoCase(c, "CIM_Namespace")) return forEachNamespace(fn);
    auto wants = [&](const char* suffix) { return m_arrayClasses->isA(cls(suffix), c); };
    // Kinds outside, arrays inside: CIM_ComputerSystem lists the storage systems first.
    for (const KindClasses& kc : kindTable()) {
        bool any = false;
        for (const char* s : kc.suffixes) any = any || wants(s);
        if (!any) continue;
        for (size_t ai = 0; ai < m_arrays.size(); ++ai) {
            const Array& a = m_arrays[ai];
            switch (kc.kind) {
                case Kind::System:
                case Kind::Capabilities:
                    fn({kc.kind, ai, "", 0});
                    break;
                case Kind::SharedSecret:
                    for (int k = 0; k < a.sharedSecrets; ++k) fn({kc.kind, ai, "", k});
                    break;
                case Kind::Controller:
                    fn({kc.kind, ai, "", 0});
                    fn({kc.kind, ai, "", 1});
                    break;
                case Kind::Service:
                    for (int t = kStorageConfiguration; t <= kSharedSecret; ++t)
                        if (wants(serviceSuffix(t))) fn({kc.kind, ai, "", t});
                    break;
                case Kind::Pool:
                    for (const Pool& p : a.pools) fn({kc.kind, ai, p.ref, 0});
                    break;
                case Kind::Volume: {
                    const bool base = wants(volumeSuffix(VolumeKind::Base));
                    const bool view = wants(volumeSuffix(VolumeKind::PiTView));
                    const bool snapshot = wants(volumeSuffix(VolumeKind::Snapshot));
                    for (const Volume& v : a.volumes) {
                        const bool listed = v.kind == VolumeKind::PiTView    ? view
                                            : v.kind == VolumeKind::Snapshot ? snapshot
                                                                             : base;
                        if (listed) fn({kc.kind, ai, v.uuid, 0});
                    }
                    break;
                }
                case Kind::VolumeSetting:
                    for (const Volume& v : a.volumes)
                        if (v.hasSetting) fn({kc.kind, ai, v.uuid, 0});
                    break;
                case Kind::PiTGroup:
                    for (const PiTGroup& g : a.pitGroups) fn({kc.kind, ai, g.ref, 0});
                    break;
                case Kind::PiT:
                    for (const PiT& p : a.pits) fn({kc.kind, ai, p.id, 0});
                    break;
                case Kind::ConsistencyGroup:
                    for (const ConsistencyGroup& g : a.consistencyGroups)
                        fn({kc.kind, ai, g.ref, 0});
                    break;
                case Kind::CgPiT:
                    for (const CgPiT& p : a.cgPits) fn({kc.kind, ai, p.id, 0});
                    break;
                case Kind::CgPiTView:
                    for (const CgPiTView& v : a.cgPitViews) fn({kc.kind, ai, v.ref, 0});
                    break;
                case Kind::HardwareID:
                    for (const Host& h : a.hosts)
                        for (const Port& p : h.ports) fn({kc.kind, ai, p.id, 0});
                    break;
                case Kind::HostCollection:
                    for (const Host& h : a.hosts) fn({kc.kind, ai, h.ref, 0});
                    break;
                case Kind::Cluster:
                    for (const HostGroup& g : a.hostGroups) fn({kc.kind, ai, g.ref, 0});
                    break;
                case Kind::Privilege:
                    if (m_settings.omitPrivileges) break;
                    [[fallthrough]];
                case Kind::SPC:
                    for (const Host& h : a.hosts) fn({kc.kind, ai, h.ref, 0});
                    for (const HostGroup& g : a.hostGroups) fn({kc.kind, ai, g.ref, 1});
                    break;
                case Kind::Job:
                    for (const auto& [id, j] : m_jobs.all())
                        if (j.array == ai && m_jobs.find(id)) fn({kc.kind, ai, id, 0});
                    break;
                case Kind::Namespace:
                    break;
            }
        }
    }
}

Link Repository::mk(const char* suffix, const char* ra, Obj a, const char* rb, Obj b) const {
    Link l;
    l.cls = cls(suffix);
    l.roleA = ra;
    l.a = std::move(a);
    l.roleB = rb;
    l.b = std::move(b);
    return l;
}

void Repository::hostPorts(size_t ai, const Host& h,
                           const std::function<void(const Obj&)>& fn) const {
    for (const Port& p : h.ports) fn({Kind::HardwareID, ai, p.id, 0});
}

void Repository::forEachLink(const std::string& c,
                             const std::function<void(const Link&)>& fn) const {
    auto wants = [&](const char* suffix) { return m_arrayClasses->isA(cls(suffix), c); };
    for (size_t ai = 0; ai < m_arrays.size(); ++ai) {
        const Array& a = m_arrays[ai];
        const Obj sys = systemOf(ai);
        if (wants("_HostedService"))
            for (int t = kStorageConfiguration; t <= kSharedSecret; ++t)
                fn(mk("_HostedService", "Antecedent", sys, "Dependent",
                      {Kind::Service, ai, "", t}));
        if (wants("_SharedSecretIsShared"))
            for (int k = 0; k < a.sharedSecrets; ++k)
                fn(mk("_SharedSecretIsShared", "Antecedent", {Kind::Service, ai, "", kSharedSecret},
                      "Dependent", {Kind::SharedSecret, ai, "", k}));
        if (wants("_ElementCapabilities"))
            fn(mk("_ElementCapabilities", "ManagedElement", {Kind::Service, ai, "", kReplication},
                  "Capabilities", {Kind::Capabilities, ai, "", 0}));
        // Per-volume links come from the same code as linksOf(), one volume at a time,
        // keeping only the links the volume "owns" so none is reported twice.
        const bool volumeLinks =
            wants("_AllocatedFromStoragePool") || wants("_ElementSettingData") ||
            wants("_ProtocolControllerForUnit") || wants("_PiTViewSynchronized") ||
            wants("_VolumeCopySynchronized") || wants("_StorageSynchronized") ||
            wants("_ViewBasedOnPiT");
        if (volumeLinks) {
            for (const Volume& v : a.volumes) {
                Obj vo{Kind::Volume, ai, v.uuid, 0};
                if (!v.pool.empty() && wants("_AllocatedFromStoragePool")) {
                    Link l = mk("_AllocatedFromStoragePool", "Antecedent",
                                {Kind::Pool, ai, v.pool, 0}, "Dependent", vo);
                    l.props.emplace_back("SpaceConsumed",
                                         CIMValue(cim::Uint64(v.blockSize * v.blocks)));
                    fn(l);
                }
                if (v.hasSetting && wants("_ElementSettingData")) {
                    Link l = mk("_ElementSettingData", "ManagedElement", vo, "SettingData",
                                {Kind::VolumeSetting, ai, v.uuid, 0});
                    l.props.emplace_back("IsDefault", CIMValue(cim::Uint16(1)));
                    l.props.emplace_back("IsCurrent", CIMValue(cim::Uint16(1)));
                    fn(l);
                }
            }
        }
        if (wants("_ProtocolControllerForUnit"))
            for (const Mapping& m : a.mappings) {
                Link l = mk("_ProtocolControllerForUnit", "Antecedent",
                            {Kind::SPC, ai, m.target, a.findHost(m.target) ? 0 : 1}, "Dependent",
                            {Kind::Volume, ai, m.volume, 0});
                char lun[8];
                std::snprintf(lun, sizeof lun, "%u", m.lun);
                l.props.emplace_back("DeviceNumber", CIMValue(std::string(lun)));
                l.props.emplace_back("DeviceAccess", CIMValue(m.access));
                fn(l);
            }
        if (wants("_PiTViewSynchronized") || wants("_ViewBasedOnPiT") ||
            wants("_OrderedMemberOfCollection"))
            for (const View& v : a.views) {
                Obj vo{Kind::Volume, ai, v.volume, 0};
                if (wants("_PiTViewSynchronized")) {
                    Link l = mk("_PiTViewSynchronized", "SystemElement",
                                {Kind::Volume, ai, v.base, 0}, "SyncedElement", vo);
                    l.props.emplace_back("CopyType", CIMValue(cim::Uint16(4)));
                    l.props.emplace_back("SyncState", CIMValue(cim::Uint16(13)));  // Frozen
                    fn(l);
                }
                if (!v.pit.empty() && wants("_ViewBasedOnPiT"))
                    fn(mk("_ViewBasedOnPiT", "Antecedent", {Kind::PiT, ai, v.pit, 0}, "Dependent",
                          vo));
            }
        if (wants("_ViewBasedOnPiT") || wants("_CGPiTViewSynchronized") ||
            wants("_OrderedMemberOfCollection"))
            for (const CgPiTView& cv : a.cgPitViews) {
                Obj cvo{Kind::CgPiTView, ai, cv.ref, 0};
                if (wants("_ViewBasedOnPiT"))
                    fn(mk("_ViewBasedOnPiT", "Antecedent", {Kind::CgPiT, ai, cv.cgPit, 0},
                          "Dependent", cvo));
                if (wants("_CGPiTViewSynchronized"))
                    if (const CgPiT* p = a.findCgPiT(cv.cgPit))
                        fn(mk("_CGPiTViewSynchronized", "SystemElement",
                              {Kind::ConsistencyGroup, ai, p->group, 0}, "SyncedElement", cvo));
                if (wants("_OrderedMemberOfCollection"))
                    for (size_t k = 0; k < cv.memberViews.size(); ++k) {
                        Link l = mk("_OrderedMemberOfCollection", "Collection", cvo, "Member",
                                    {Kind::Volume, ai, cv.memberViews[k], 0});
                        l.props.emplace_back("AssignedSequence", CIMValue(cim::Uint64(k + 1)));
                        fn(l);
                    }
            }
        if (wants("_VolumeCopySynchronized") || wants("_StorageSynchronized"))
            for (const Sync& s : a.syncs) {
                const char* suffix = s.type == SyncType::VolumeCopy ? "_VolumeCopySynchronized"
                                                                    : "_StorageSynchronized";
                if (!wants(suffix)) continue;
                Link l = mk(suffix, "SystemElement", {Kind::Volume, ai, s.source, 0},
                            "SyncedElement", {Kind::Volume, ai, s.target, 0});
                l.props.emplace_back("CopyType", CIMValue(s.copyType));
                l.props.emplace_back("SyncState", CIMValue(s.syncState));
                l.props.emplace_back("SyncType", CIMValue(s.effectiveSyncType()));
                fn(l);
            }
        if (wants("_OrderedMemberOfCollection"))
            for (const PiT& p : a.pits) fn(pitMember(ai, p));
        if (wants("_SettingsDefineState")) {
            for (const PiT& p : a.pits) pitDefineStates(ai, p, fn);
            for (const CgPiT& p : a.cgPits)
                fn(mk("_SettingsDefineState", "ManagedElement",
                      {Kind::ConsistencyGroup, ai, p.group, 0}, "SettingData",
                      {Kind::CgPiT, ai, p.id, 0}));
        }
        if (wants("_MemberOfCollection")) {  // plain ones; ordered ones came above
            const bool plain = m_arrayClasses->isA(cls("_MemberOfCollection"), c);
            if (plain) {
                for (const Host& h : a.hosts)
                    hostPorts(ai, h, [&](const Obj& port) {
                        fn(mk("_MemberOfCollection", "Collection",
                              {Kind::HostCollection, ai, h.ref, 0}, "Member", port));
                    });
                for (const HostGroup& g : a.hostGroups)
                    for (const Host& h : a.hosts)
                        if (h.group == g.ref)
                            hostPorts(ai, h, [&](const Obj& port) {
                                fn(mk("_MemberOfCollection", "Collection",
                                      {Kind::Cluster, ai, g.ref, 0}, "Member", port));
                            });
                for (const ConsistencyGroup& g : a.consistencyGroups)
                    for (const std::string& m : g.members)
                        fn(mk("_MemberOfCollection", "Collection",
                              {Kind::ConsistencyGroup, ai, g.ref, 0}, "Member",
                              {Kind::Volume, ai, m, 0}));
            }
        }
        if (!m_settings.omitPrivileges &&
            (wants("_AuthorizedSubject") || wants("_AuthorizedTarget"))) {
            for (const Host& h : a.hosts) {
                Obj priv{Kind::Privilege, ai, h.ref, 0};
                if (wants("_AuthorizedSubject"))
                    hostPorts(ai, h, [&](const Obj& port) {
                        fn(mk("_AuthorizedSubject", "Privilege", priv, "PrivilegedElement", port));
                    });
                if (wants("_AuthorizedTarget"))
                    fn(mk("_AuthorizedTarget", "Privilege", priv, "TargetElement",
                          {Kind::SPC, ai, h.ref, 0}));
            }
            for (const HostGroup& g : a.hostGroups) {
                Obj priv{Kind::Privilege, ai, g.ref, 1};
                if (wants("_AuthorizedSubject"))
                    for (const Host& h : a.hosts)
                        if (h.group == g.ref)
                            hostPorts(ai, h, [&](const Obj& port) {
                                fn(mk("_AuthorizedSubject", "Privilege", priv, "PrivilegedElement",
                                      port));
                            });
                if (wants("_AuthorizedTarget"))
                    fn(mk("_AuthorizedTarget", "Privilege", priv, "TargetElement",
                          {Kind::SPC, ai, g.ref, 1}));
            }
        }
    }
}

void Repository::volumeLinks(const Obj& o, const std::function<void(const Link&)>& fn) const {
    const Array& a = arr(o);
    const size_t ai = o.array;
    const Volume* v = a.findVolume(o.id);
    if (!v) return;
    if (!v->pool.empty()) {
        Link l = mk("_AllocatedFromStoragePool", "Antecedent", {Kind::Pool, ai, v->pool, 0},
                    "Dependent", o);
        l.props.emplace_back("SpaceConsumed", CIMValue(cim::Uint64(v->blockSize * v->blocks)));
        fn(l);
    }
    if (v->hasSetting) {
        Link l = mk("_ElementSettingData", "ManagedElement", o, "SettingData",
                    {Kind::VolumeSetting, ai, v->uuid, 0});
        l.props.emplace_back("IsDefault", CIMValue(cim::Uint16(1)));
        l.props.emplace_back("IsCurrent", CIMValue(cim::Uint16(1)));
        fn(l);
    }
    for (const Mapping& m : a.mappings)
        if (m.volume == v->uuid) {
            Link l = mk("_ProtocolControllerForUnit", "Antecedent",
                        {Kind::SPC, ai, m.target, a.findHost(m.target) ? 0 : 1}, "Dependent", o);
            l.props.emplace_back("DeviceNumber", CIMValue(std::to_string(m.lun)));
            l.props.emplace_back("DeviceAccess", CIMValue(m.access));
            fn(l);
        }
    for (const ConsistencyGroup& g : a.consistencyGroups)
        for (const std::string& m : g.members)
            if (m == v->uuid)
                fn(mk("_MemberOfCollection", "Collection", {Kind::ConsistencyGroup, ai, g.ref, 0},
                      "Member", o));
    for (const PiTGroup& g : a.pitGroups)
        if (g.baseVolume == v->uuid)
            for (const PiT& p : a.pits)
                if (p.group == g.ref)
                    fn(mk("_SettingsDefineState", "ManagedElement", o, "SettingData",
                          {Kind::PiT, ai, p.id, 0}));
    for (const View& w : a.views) {
        if (w.base != v->uuid && w.volume != v->uuid) continue;
        Link l = mk("_PiTViewSynchronized", "SystemElement", {Kind::Volume, ai, w.base, 0},
                    "SyncedElement", {Kind::Volume, ai, w.volume, 0});
        l.props.emplace_back("CopyType", CIMValue(cim::Uint16(4)));
        l.props.emplace_back("SyncState", CIMValue(cim::Uint16(13)));
        fn(l);
        if (w.volume == v->uuid && !w.pit.empty())
            fn(mk("_ViewBasedOnPiT", "Antecedent", {Kind::PiT, ai, w.pit, 0}, "Dependent", o));
    }
    for (const CgPiTView& cv : a.cgPitViews)
        for (size_t k = 0; k < cv.memberViews.size(); ++k)
            if (cv.memberViews[k] == v->uuid) {
                Link l = mk("_OrderedMemberOfCollection", "Collection",
                            {Kind::CgPiTView, ai, cv.ref, 0}, "Member", o);
                l.props.emplace_back("AssignedSequence", CIMValue(cim::Uint64(k + 1)));
                fn(l);
            }
    for (const Sync& s : a.syncs)
        if (s.source == v->uuid || s.target == v->uuid) {
            const char* suffix =
                s.type == SyncType::VolumeCopy ? "_VolumeCopySynchronized" : "_StorageSynchronized";
            Link l = mk(suffix, "SystemElement", {Kind::Volume, ai, s.source, 0}, "SyncedElement",
                        {Kind::Volume, ai, s.target, 0});
            l.props.emplace_back("CopyType", CIMValue(s.copyType));
            l.props.emplace_back("SyncState", CIMValue(s.syncState));
            l.props.emplace_back("SyncType", CIMValue(s.effectiveSyncType()));
            fn(l);
        }
}

Link Repository::pitMember(size_t ai, const PiT& p) const {
    Link l = mk("_OrderedMemberOfCollection", "Collection", {Kind::PiTGroup, ai, p.group, 0},
                "Member", {Kind::PiT, ai, p.id, 0});
    l.props.emplace_back("AssignedSequence", CIMValue(cim::Uint64(p.sequence)));
    return l;
}

void Repository::pitDefineStates(size_t ai, const PiT& p,
                                 const std::function<void(const Link&)>& fn) const {
    const PiTGroup* g = m_arrays[ai].findPiTGroup(p.group);
    if (g)
        fn(mk("_SettingsDefineState", "ManagedElement", {Kind::Volume, ai, g->baseVolume, 0},
              "SettingData", {Kind::PiT, ai, p.id, 0}));
    if (p.extraDefineState)
        fn(mk("_SettingsDefineState", "ManagedElement", {Kind::PiTGroup, ai, p.group, 0},
              "SettingData", {Kind::PiT, ai, p.id, 0}));
}

void Repository::consistencyGroupLinks(const Obj& o,
                                       const std::function<void(const Link&)>& fn) const {
    const size_t ai = o.array;
    const Array& a = arr(o);
    auto cgViewLinks = [&](const CgPiTView& cv, const CgPiT* pit) {
        Obj cvo{Kind::CgPiTView, ai, cv.ref, 0};
        fn(mk("_ViewBasedOnPiT", "Antecedent", {Kind::CgPiT, ai, cv.cgPit, 0}, "Dependent", cvo));
        if (pit)
            fn(mk("_CGPiTViewSynchronized", "SystemElement",
                  {Kind::ConsistencyGroup, ai, pit->group, 0}, "SyncedElement", cvo));
    };
    if (o.kind == Kind::ConsistencyGroup) {
        const ConsistencyGroup* g = a.findConsistencyGroup(o.id);
        if (!g) return;
        for (const std::string& m : g->members)
            fn(mk("_MemberOfCollection", "Collection", o, "Member", {Kind::Volume, ai, m, 0}));
        for (const CgPiT& p : a.cgPits)
            if (p.group == o.id)
                fn(mk("_SettingsDefineState", "ManagedElement", o, "SettingData",
                      {Kind::CgPiT, ai, p.id, 0}));
        for (const CgPiTView& cv : a.cgPitViews) {
            const CgPiT* p = a.findCgPiT(cv.cgPit);
            if (p && p->group == o.id)
                fn(mk("_CGPiTViewSynchronized", "SystemElement", o, "SyncedElement",
                      {Kind::CgPiTView, ai, cv.ref, 0}));
        }
    } else if (o.kind == Kind::CgPiT) {
        const CgPiT* p = a.findCgPiT(o.id);
        if (!p) return;
        fn(mk("_SettingsDefineState", "ManagedElement", {Kind::ConsistencyGroup, ai, p->group, 0},
              "SettingData", o));
        for (const CgPiTView& cv : a.cgPitViews)
            if (cv.cgPit == o.id)
                fn(mk("_ViewBasedOnPiT", "Antecedent", o, "Dependent",
                      {Kind::CgPiTView, ai, cv.ref, 0}));
    } else {
        const CgPiTView* cv = a.findCgPiTView(o.id);
        if (!cv) return;
        cgViewLinks(*cv, a.findCgPiT(cv->cgPit));
        for (size_t k = 0; k < cv->memberViews.size(); ++k) {
            Link l = mk("_OrderedMemberOfCollection", "Collection", o, "Member",
                        {Kind::Volume, ai, cv->memberViews[k], 0});
            l.props.emplace_back("AssignedSequence", CIMValue(cim::Uint64(k + 1)));
            fn(l);
        }
    }
}

void Repository::linksOf(const Obj& o, const std::function<void(const Link&)>& fn) const {
    if (o.kind == Kind::Namespace || o.array >= m_arrays.size()) return;
    const size_t ai = o.array;
    const Array& a = arr(o);
    // Class-wide walks filtered to this object serve the objects with few links; the
    // volume, whose class-wide walk is the large one, has its own.
    auto filtered = [&](const std::string& assoc) {
        forEachLink(assoc, [&](const Link& l) {
            if (l.a == o || l.b == o) fn(l);
        });
    };
    switch (o.kind) {
        case Kind::Volume:
            volumeLinks(o, fn);
            break;
        case Kind::VolumeSetting:
            fn(mk("_ElementSettingData", "ManagedElement", {Kind::Volume, ai, o.id, 0},
                  "SettingData", o));
            break;
        case Kind::System:
        case Kind::SharedSecret:
        case Kind::Capabilities:
            filtered("CIM_HostedService");
            filtered("CIM_SharedSecretIsShared");
            filtered("CIM_ElementCapabilities");
            break;
        case Kind::Service:
            filtered("CIM_HostedService");
            if (o.sub == kSharedSecret) filtered("CIM_SharedSecretIsShared");
            if (o.sub == kReplication) filtered("CIM_ElementCapabilities");
            break;
        case Kind::Pool:
            for (const Volume& v : a.volumes)
                if (v.pool == o.id) {
                    Link l = mk("_AllocatedFromStoragePool", "Antecedent", o, "Dependent",
                                {Kind::Volume, ai, v.uuid, 0});
                    l.props.emplace_back("SpaceConsumed",
                                         CIMValue(cim::Uint64(v.blockSize * v.blocks)));
                    fn(l);
                }
            break;
        case Kind::PiTGroup:
            // Straight from the PiT's own records: a class-wide walk would cost every
            // PiT times every group.
            for (const PiT& p : a.pits)
                if (p.group == o.id) {
                    fn(pitMember(ai, p));
                    if (p.extraDefineState)
                        fn(mk("_SettingsDefineState", "ManagedElement", o, "SettingData",
                              {Kind::PiT, ai, p.id, 0}));
                }
            break;
        case Kind::PiT: {
            const PiT* p = a.findPiT(o.id);
            if (!p) break;
            fn(pitMember(ai, *p));
            pitDefineStates(ai, *p, fn);
            for (const View& v : a.views)
                if (v.pit == p->id)
                    fn(mk("_ViewBasedOnPiT", "Antecedent", o, "Dependent",
                          {Kind::Volume, ai, v.volume, 0}));
            break;
        }
        case Kind::ConsistencyGroup:
        case Kind::CgPiT:
        case Kind::CgPiTView:
            consistencyGroupLinks(o, fn);
            break;
        case Kind::HardwareID:
        case Kind::HostCollection:
        case Kind::Cluster:
        case Kind::Privilege:
            filtered("CIM_MemberOfCollection");
            filtered("CIM_AuthorizedSubject");
            filtered("CIM_AuthorizedTarget");
            break;
        case Kind::SPC:
            filtered("CIM_AuthorizedTarget");
            filtered("CIM_ProtocolControllerForUnit");
            break;
        case Kind::Controller:
        case Kind::Job:
        case Kind::Namespace:
            break;
    }
}

CIMObjectPath Repository::linkPath(const Link& l, bool withNamespace) const {
    std::vector<CIMKeyBinding> keys = {CIMKeyBinding(l.roleA, path(l.a, false)),
                                       CIMKeyBinding(l.roleB, path(l.b, false))};
    return CIMObjectPath("", withNamespace ? m_settings.arrayNamespace : "", l.cls, keys);
}

cim::CIMInstance Repository::linkInstance(const Link& l) const {
    cim::CIMInstance i(l.cls);
    add(i, l.roleA.c_str(), CIMValue(path(l.a, false)));
    add(i, l.roleB.c_str(), CIMValue(path(l.b, false)));
    for (const auto& [name, value] : l.props) add(i, name.c_str(), value);
    i.setPath(linkPath(l));
    return i;
}

std::optional<Link> Repository::resolveLink(const CIMObjectPath& p) const {
    const ClassDef* def = m_arrayClasses->find(p.getClassName().getString());
    if (!def || !def->association || p.getKeyBindings().size() != 2) return std::nullopt;
    const auto& keyNames = m_arrayClasses->keys(def->name);
    if (keyNames.size() != 2) return std::nullopt;
    std::optional<Obj> ends[2];
    for (int k = 0; k < 2; ++k) {
        const CIMKeyBinding* kb = p.findKeyBinding(keyNames[k]);
        if (!kb) return std::nullopt;
        try {
            ends[k] = resolve(CIMObjectPath::parse(kb->getValue()));
        } catch (const cim::Exception&) {
            return std::nullopt;
        }
        if (!ends[k]) return std::nullopt;
    }
    std::optional<Link> result;
    linksOf(*ends[0], [&](const Link& l) {
        if (result || !m_arrayClasses->isA(l.cls, def->name)) return;
        if (equalsNoCase(l.roleA, keyNames[0]) && l.a == *ends[0] && l.b == *ends[1]) result = l;
        if (equalsNoCase(l.roleB, keyNames[0]) && l.b == *ends[0] && l.a == *ends[1]) result = l;
    });
    return result;
}

}  // namespace sim
