// CIM view of the array model: object identities, their paths and instances, and
// the association instances between them. Built on demand from the arrays, so an
// enumeration never holds more than its own answer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <cim/CIMInstance.h>
#include <cim/CIMObjectPath.h>
#include <cim/CIMPropertyList.h>
#include <cim/CIMValue.h>

#include "ClassTable.h"
#include "Jobs.h"
#include "sim/Config.h"

namespace sim {

enum class Kind {
    System,
    Controller,
    Service,
    SharedSecret,
    Capabilities,
    Pool,
    Volume,
    VolumeSetting,
    PiTGroup,
    PiT,
    ConsistencyGroup,
    CgPiT,
    CgPiTView,
    HardwareID,
    HostCollection,
    Cluster,
    Privilege,
    SPC,
    Job,
    Namespace,
};

enum ServiceType {
    kStorageConfiguration = 0,
    kControllerConfiguration,
    kReplication,
    kSharedSecret
};

// One object of the model. `id` is the model key (uuid, ref, port, PiT id...);
// `sub` tells controllers, services and host/group privileges and SPCs apart.
struct Obj {
    Kind kind = Kind::System;
    size_t array = 0;
    std::string id;
    int sub = 0;
    friend bool operator==(const Obj& a, const Obj& b) {
        return a.kind == b.kind && a.array == b.array && a.sub == b.sub && a.id == b.id;
    }
};

// A binary association instance.
struct Link {
    std::string cls;  // its class
    std::string roleA;
    Obj a;
    std::string roleB;
    Obj b;
    std::vector<std::pair<std::string, cim::CIMValue>> props;
};

class Repository {
  public:
    Repository(const Config& settings, const std::vector<Array>& arrays, const Jobs& jobs,
               int64_t nowMs);

    const ClassTable& arrayClasses() const { return *m_arrayClasses; }
    static const ClassTable& interopClasses();
    static const ClassTable& arrayClassesFor(const std::string& prefix);

    const std::string& className(const Obj& o) const;
    // With the array namespace (or interop for namespaces); `withNamespace` false gives
    // the local form used inside reference keys.
    cim::CIMObjectPath path(const Obj& o, bool withNamespace = true) const;
    // A volume's path from its kind, also for one a running job has yet to create.
    cim::CIMObjectPath volumePath(size_t array, const std::string& uuid, VolumeKind kind,
                                  bool withNamespace = true) const;
    // With the properties `only` lists (all for a null list).
    cim::CIMInstance instance(const Obj& o,
                              const cim::CIMPropertyList& only = cim::CIMPropertyList()) const;
    bool exists(const Obj& o) const;

    // The object a path names, or nothing. Host and namespace are ignored; the class
    // may be the object's class or a superclass of it.
    std::optional<Obj> resolve(const cim::CIMObjectPath& p) const;
    std::optional<Link> resolveLink(const cim::CIMObjectPath& p) const;

    // Objects whose class is `cls` or derives from it.
    void forEachObject(const std::string& cls, const std::function<void(const Obj&)>& fn) const;
    void forEachNamespace(const std::function<void(const Obj&)>& fn) const;
    // Association instances of class `cls` (or a subclass).
    void forEachLink(const std::string& cls, const std::function<void(const Link&)>& fn) const;
    // Association instances that reference `o`.
    void linksOf(const Obj& o, const std::function<void(const Link&)>& fn) const;

    cim::CIMObjectPath linkPath(const Link& l, bool withNamespace = true) const;
    cim::CIMInstance linkInstance(const Link& l) const;

  private:
    const Array& arr(const Obj& o) const { return m_arrays[o.array]; }
    // The class of a suffix (a literal: remembered by its address).
    const std::string& cls(const char* suffix) const;
    Obj systemOf(size_t a) const { return {Kind::System, a, m_arrays[a].id, 0}; }
    // Names and the texts every object of an answer repeats (class names, system ids),
    // made once per repository: large enumerations then allocate per object, not per text.
    const cim::detail::SharedString& shared(std::string_view text) const;
    // A name from a literal (remembered by its address).
    const cim::CIMName& name(const char* literal) const;
    // A string key; `repeats` false for values of one object only (not kept).
    cim::CIMKeyBinding binding(const char* name, const std::string& value,
                               bool repeats = true) const;
    Link mk(const char* suffix, const char* ra, Obj a, const char* rb, Obj b) const;
    std::optional<Obj> resolveAs(Kind k, const cim::CIMObjectPath& p) const;
    // Hardware ids of a host, as objects.
    void hostPorts(size_t a, const Host& h, const std::function<void(const Obj&)>& fn) const;
    const Host* hostOfPort(size_t a, const std::string& port) const;
    void volumeLinks(const Obj& o, const std::function<void(const Link&)>& fn) const;
    void consistencyGroupLinks(const Obj& o, const std::function<void(const Link&)>& fn) const;
    Link pitMember(size_t ai, const PiT& p) const;
    void pitDefineStates(size_t ai, const PiT& p, const std::function<void(const Link&)>& fn) const;

    const Config& m_settings;
    const std::vector<Array>& m_arrays;
    const Jobs& m_jobs;
    int64_t m_now;
    std::string m_prefix;
    const ClassTable* m_arrayClasses;
    mutable std::unordered_map<std::string_view, cim::detail::SharedString> m_shared;
    mutable std::unordered_map<const char*, std::string> m_classes;
    mutable std::unordered_map<const char*, cim::CIMName> m_names;
};

// A timestamp for CIM datetime properties.
cim::CIMDateTime dateTimeFromMicros(int64_t microsSinceEpoch);
cim::CIMDateTime intervalFromMs(int64_t ms);

}  // namespace sim
