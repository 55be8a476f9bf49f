// Every method of the array and every refusal through our CIM client, one row each:
// the code it answers, no job, and the array left as it was.
#include <gtest/gtest.h>

#include <functional>

#include "SimArrays.h"
#include "testsupport/SimArray.h"

using cim::CIMObjectPath;
using cim::CIMValue;
using nlohmann::json;
using testsupport::param;
using testsupport::refs;
using testsupport::SimArray;
using testsupport::u16;
using testsupport::u64;

namespace {

using Params = std::vector<cim::CIMParamValue>;
using Args = std::function<Params(SimArray&)>;
const uint64_t kGiB = 1ULL << 30;

// exch_log with four legacy snapshots (the first mapped) and ora_log with a clone.
void legacyCopies(json& j) {
    auto& a = j["arrays"][0];
    for (int i = 1; i <= 4; ++i) {
        std::string label = "exch_log_s" + std::to_string(i);
        a["volumes"].push_back(
            {{"label", label}, {"kind", "snapshot"}, {"pool", "DG2"}, {"sizeBytes", 53687091200}});
        a["syncs"].push_back({{"type", "snapshot"}, {"source", "exch_log"}, {"target", label}});
    }
    a["mappings"].push_back({{"volume", "exch_log_s1"}, {"to", "iscsihost1"}, {"lun", 7}});
    a["volumes"].push_back({{"label", "clone_t"}, {"kind", "clone"}, {"sizeBytes", 107374182400}});
    a["syncs"].push_back({{"source", "ora_log"}, {"target", "clone_t"}});
}

// cg1's CG view (cgv_w1, cgv_w2), exch_log in four more groups, a clone of small_lun;
// mapped: the CG view's second member and ora_data1_V1 are mapped.
std::function<void(json&)> groupShapes(bool mapped) {
    return [mapped](json& j) {
        simtest::addGroupView(j, mapped);
        auto& a = j["arrays"][0];
        for (int i = 0; i < 4; ++i)
            a["consistencyGroups"].push_back(
                {{"label", "x" + std::to_string(i)}, {"members", {"exch_log"}}});
        a["volumes"].push_back(
            {{"label", "cg_clone"}, {"kind", "clone"}, {"sizeBytes", 1073741824}});
        a["syncs"].push_back({{"source", "small_lun"}, {"target", "cg_clone"}});
        if (mapped)
            a["mappings"].push_back({{"volume", "ora_data1_V1"}, {"to", "iscsihost1"}, {"lun", 8}});
    };
}

// The path of ora_data1 with a DeviceID no volume has.
CIMObjectPath gone(SimArray& s) {
    CIMObjectPath v = s.volume("ora_data1");
    std::vector<cim::CIMKeyBinding> keys;
    for (auto k : v.getKeyBindings()) {
        if (k.getName().getString() == "DeviceID") k.setValue(std::string(32, '6'));
        keys.push_back(k);
    }
    v.setKeyBindings(keys);
    return v;
}

// A path with its keys replaced.
CIMObjectPath rekeyed(CIMObjectPath p, std::vector<cim::CIMKeyBinding> keys) {
    p.setKeyBindings(keys);
    return p;
}

CIMValue vol(SimArray& s, const char* label) {
    return CIMValue(s.volume(label));
}
CIMValue cg(SimArray& s, const char* name) {
    return CIMValue(s.named("CIM_ReplicationGroup", name));
}
CIMValue names(std::vector<std::string> v) {
    return CIMValue(v);
}
CIMValue spc(SimArray& s, const char* host) {
    return refs({s.named("CIM_SCSIProtocolController", host)});
}
CIMObjectPath syncOf(SimArray& s, const char* volume, const std::string& cls) {
    return s.client().referenceNames(s.ns(), s.volume(volume), cls).at(0);
}
CIMObjectPath defineStateOfPiT(SimArray& s, size_t index) {
    auto pits = s.client().enumerateInstanceNames(s.ns(), s.prefix() + "_PiT");
    return s.client().referenceNames(s.ns(), pits.at(index), "CIM_SettingsDefineState").at(0);
}

Args pitGroup(const char* base, const char* label, uint64_t size) {
    return [=](SimArray& s) {
        return Params{param("BaseVolume", vol(s, base)), param("Label", CIMValue(label)),
                      param("RepositorySize", u64(size))};
    };
}
Args take(const char* volume) {
    return [=](SimArray& s) {
        return Params{param("SyncType", u16(7)), param("SourceElement", vol(s, volume))};
    };
}
Args takeGroup(const char* name) {
    return [=](SimArray& s) {
        return Params{param("SyncType", u16(7)), param("SourceGroup", cg(s, name))};
    };
}
Args modifyPiT(unsigned op, size_t pit) {
    return [=](SimArray& s) {
        return Params{param("Operation", u16(op)),
                      param("SettingsState", CIMValue(defineStateOfPiT(s, pit)))};
    };
}
Args withExtra(Args args, const char* name, std::function<CIMValue(SimArray&)> value) {
    return [=](SimArray& s) {
        Params p = args(s);
        p.push_back(param(name, value(s)));
        return p;
    };
}
Args members(const char* group, std::vector<const char*> volumes, bool removing = false) {
    return [=](SimArray& s) {
        std::vector<CIMObjectPath> paths;
        for (const char* v : volumes) paths.push_back(s.volume(v));
        Params p = {param("ReplicationGroup", cg(s, group)), param("Members", refs(paths))};
        if (removing) p.push_back(param("DeleteOnEmptyElement", CIMValue(true)));
        return p;
    };
}
Args deleteGroup(const char* group, bool elements) {
    return [=](SimArray& s) {
        return Params{param("ReplicationGroup", cg(s, group)),
                      param("RemoveElements", CIMValue(elements))};
    };
}
Args unview(const char* view, unsigned op) {
    return [=](SimArray& s) {
        return Params{param("Operation", u16(op)),
                      param("Synchronization",
                            CIMValue(syncOf(s, view, s.prefix() + "_PiTViewSynchronized")))};
    };
}
// ExposePaths of a volume to a host's controller, edited.
Args expose(const char* volume, const char* host, std::function<void(Params&)> edit = nullptr) {
    return [=](SimArray& s) {
        Params p = {param("LUNames", names({s.property(s.volume(volume), "Name")})),
                    param("DeviceAccesses", CIMValue(std::vector<cim::Uint16>{2})),
                    param("ProtocolControllers", spc(s, host))};
        if (edit) edit(p);
        return p;
    };
}
std::function<void(Params&)> set(const char* name, CIMValue v) {
    return [=](Params& p) {
        for (auto& x : p)
            if (x.getParameterName() == name) x.setValue(v);
    };
}
std::function<void(Params&)> drop(const char* name) {
    return [=](Params& p) {
        for (auto it = p.begin(); it != p.end(); ++it)
            if (it->getParameterName() == name) {
                p.erase(it);
                return;
            }
    };
}
std::function<void(Params&)> byPorts(std::vector<std::string> ports) {
    return [=](Params& p) {
        drop("ProtocolControllers")(p);
        p.push_back(param("InitiatorPortIDs", names(ports)));
    };
}
std::function<void(Params&)> lun(const char* number) {
    return [=](Params& p) { p.push_back(param("DeviceNumbers", names({number}))); };
}
Args element(unsigned type, uint64_t size, bool withPool) {
    return [=](SimArray& s) {
        Params p = {param("ElementType", u16(type)), param("Size", u64(size))};
        if (withPool) p.push_back(param("InPool", CIMValue(s.named("CIM_StoragePool", "DG1"))));
        return p;
    };
}
Args replica(unsigned copyType, const char* source) {
    return [=](SimArray& s) {
        return Params{param("CopyType", u16(copyType)), param("SourceElement", vol(s, source))};
    };
}
Args attach(const char* source, const char* target, unsigned type) {
    return [=](SimArray& s) {
        return Params{param("SourceElement", vol(s, source)),
                      param("TargetElement", vol(s, target)), param("CopyType", u16(type))};
    };
}
Args returning(const char* volume) {
    return [=](SimArray& s) { return Params{param("TheElement", vol(s, volume))}; };
}
Args modifySync(const char* target, unsigned op) {
    return [=](SimArray& s) {
        return Params{
            param("Operation", u16(op)),
            param("Synchronization", CIMValue(syncOf(s, target, "CIM_StorageSynchronized")))};
    };
}

struct Row {
    const char* name;
    const char* service;  // without the prefix
    const char* method;
    Args args;
    uint32_t rc;
    std::function<void(json&)> shapes = nullptr;  // added to the rich array
};

const char* kRS = "ReplicationService";
const char* kCCS = "ControllerConfigurationService";
const char* kSCS = "StorageConfigurationService";

const std::vector<Row>& rows() {
    static const std::vector<Row> all = {
        // PiT groups
        {"label of 31 characters", kRS, "CreatePiTGroup",
         pitGroup("small_lun", "abcdefghijklmnopqrstuvwxyz01234", kGiB), 5},
        {"label with a space", kRS, "CreatePiTGroup", pitGroup("small_lun", "a b", kGiB), 5},
        {"label taken", kRS, "CreatePiTGroup", pitGroup("small_lun", "ORA_DATA1_SMIS_PG", kGiB), 5},
        {"repository under 32 MiB + base/5000", kRS, "CreatePiTGroup",
         pitGroup("small_lun", "small_lun_SMIS_PG", 32 * (1ULL << 20)), 5},
        {"fifth PiT group of a volume", kRS, "CreatePiTGroup",
         pitGroup("exch_log", "exch_log_5", kGiB), 4},
        {"pool short", kRS, "CreatePiTGroup", pitGroup("tiny_vol", "tiny_vol_SMIS_PG", 64ULL << 20),
         4},
        {"unknown base volume", kRS, "CreatePiTGroup",
         [](SimArray& s) {
             return Params{param("BaseVolume", CIMValue(gone(s))),
                           param("Label", CIMValue("x_SMIS_PG")), param("RepositorySize", u64(kGiB))};
         },
         640003},
        {"repository size missing", kRS, "CreatePiTGroup",
         [](SimArray& s) {
             return Params{param("BaseVolume", vol(s, "small_lun")),
                           param("Label", CIMValue("small_lun_PG"))};
         },
         5},
        {"repository size as text", kRS, "CreatePiTGroup",
         [](SimArray& s) {
             return Params{param("BaseVolume", vol(s, "small_lun")),
                           param("Label", CIMValue("small_lun_PG")),
                           param("RepositorySize", CIMValue("1073741824"))};
         },
         5},
        {"a parameter the method lacks", kRS, "CreatePiTGroup",
         withExtra(pitGroup("small_lun", "small_lun_PG", kGiB), "Colour",
                   [](SimArray&) { return CIMValue("blue"); }),
         5},
        // PiTs
        {"SyncType 15 (throw-away)", kRS, "CreateSynchronizationAspect",
         [](SimArray& s) {
             return Params{param("SyncType", u16(15)), param("SourceElement", vol(s, "ora_data1"))};
         },
         5},
        {"both sources", kRS, "CreateSynchronizationAspect",
         withExtra(takeGroup("cg1"), "SourceElement",
                   [](SimArray& s) { return vol(s, "ora_data1"); }),
         5},
        {"no source", kRS, "CreateSynchronizationAspect",
         [](SimArray&) { return Params{param("SyncType", u16(7))}; }, 5},
        {"unknown source volume", kRS, "CreateSynchronizationAspect",
         [](SimArray& s) {
             return Params{param("SyncType", u16(7)), param("SourceElement", CIMValue(gone(s)))};
         },
         640003},
        {"volume without PiT group", kRS, "CreateSynchronizationAspect", take("small_lun"), 4},
        {"33rd PiT", kRS, "CreateSynchronizationAspect", take("ora_log"), 640004},
        {"group without members", kRS, "CreateSynchronizationAspect", takeGroup("cgempty"), 4},
        {"33rd CG PiT", kRS, "CreateSynchronizationAspect", takeGroup("cgfull"), 640004},
        {"unknown consistency group", kRS, "CreateSynchronizationAspect",
         [](SimArray& s) {
             const CIMObjectPath none =
                 rekeyed(s.named("CIM_ReplicationGroup", "cg1"),
                         {cim::CIMKeyBinding("InstanceID", "nowhere", cim::CIMKeyBinding::STRING)});
             return Params{param("SyncType", u16(7)), param("SourceGroup", CIMValue(none))};
         },
         640010},
        {"Operation 55 (throw-away)", kRS, "ModifySettingsDefineState", modifyPiT(55, 0), 5},
        {"deleting a newer PiT", kRS, "ModifySettingsDefineState", modifyPiT(4, 1), 4},
        {"deleting a viewed PiT", kRS, "ModifySettingsDefineState", modifyPiT(4, 0), 4},
        {"a view while the base is off its preferred owner", kRS, "ModifySettingsDefineState",
         modifyPiT(5, 34), 4},
        {"re-pointing a view of another base", kRS, "ModifySettingsDefineState",
         withExtra(modifyPiT(5, 2), "TargetElement",  // ora_log's PiT
                   [](SimArray& s) {
                       return CIMValue(
                           syncOf(s, "ora_data1_V1", s.prefix() + "_PiTViewSynchronized"));
                   }),
         5},
        {"unresolved SettingsState", kRS, "ModifySettingsDefineState",
         [](SimArray& s) {
             CIMObjectPath sds = defineStateOfPiT(s, 0);
             sds = rekeyed(sds, {cim::CIMKeyBinding("ManagedElement", "X.Y=\"1\"",
                                                    cim::CIMKeyBinding::REFERENCE),
                                 sds.getKeyBindings()[1]});
             return Params{param("Operation", u16(5)), param("SettingsState", CIMValue(sds))};
         },
         640010},
        // Consistency groups and views
        {"group named as a volume, any case", kRS, "CreateGroup",
         [](SimArray&) { return Params{param("GroupName", CIMValue("ORA_LOG"))}; }, 5},
        {"group named as a group", kRS, "CreateGroup",
         [](SimArray&) { return Params{param("GroupName", CIMValue("cg1"))}; }, 5},
        {"group name of 31 characters", kRS, "CreateGroup",
         [](SimArray&) {
             return Params{param("GroupName", CIMValue("ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"))};
         },
         5},
        {"no group name", kRS, "CreateGroup", [](SimArray&) { return Params{}; }, 5},
        {"fifth group of a volume", kRS, "AddMembers", members("cgempty", {"exch_log"}), 4,
         groupShapes(false)},
        {"a pool short of the reserve", kRS, "AddMembers", members("cgempty", {"tiny_vol"}), 4},
        {"a view as member", kRS, "AddMembers", members("cgempty", {"ora_data1_V1"}), 5},
        {"no members", kRS, "AddMembers", members("cgempty", {}), 5},
        {"not a member", kRS, "RemoveMembers", members("cg1", {"ora_log"}, true), 5},
        {"emptying a group with a mapped view", kRS, "RemoveMembers",
         members("cg1", {"ora_data2", "exch_db"}, true), 640001, groupShapes(true)},
        {"members without RemoveElements", kRS, "DeleteGroup", deleteGroup("cg1", false), 4,
         groupShapes(false)},
        {"a mapped CG view", kRS, "DeleteGroup", deleteGroup("cg1", true), 640001,
         groupShapes(true)},
        {"a mapped view", kRS, "ModifyReplicaSynchronization", unview("ora_data1_V1", 19), 640001,
         groupShapes(true)},
        {"one member view alone", kRS, "ModifyReplicaSynchronization", unview("cgv_w1", 19), 4,
         groupShapes(false)},
        {"Operation 55 on a view (throw-away)", kRS, "ModifyReplicaSynchronization",
         unview("ora_data1_V1", 55), 5},
        {"a clone's synchronization", kRS, "ModifyReplicaSynchronization",
         [](SimArray& s) {
             return Params{
                 param("Operation", u16(19)),
                 param("Synchronization",
                       CIMValue(syncOf(s, "cg_clone", "CIM_StorageSynchronized")))};
         },
         5, groupShapes(false)},
        // Masking
        {"unknown logical unit", kCCS, "ExposePaths",
         expose("exch_log", "fchost1", set("LUNames", names({"600A0980000000000000000000000000"}))),
         4097},
        {"unknown initiator port", kCCS, "ExposePaths",
         expose("exch_log", "fchost1", byPorts({"2100001B32000000"})), 4098},
        {"ports of two hosts", kCCS, "ExposePaths",
         expose("exch_log", "fchost1",
                byPorts({"10000090FA1B2C3D", "iqn.1994-05.com.example:iscsihost1"})),
         5},
        {"neither controller nor ports", kCCS, "ExposePaths",
         expose("exch_log", "fchost1", drop("ProtocolControllers")), 5},
        {"DeviceAccesses 23 (throw-away)", kCCS, "ExposePaths",
         expose("exch_log", "fchost1",
                set("DeviceAccesses", CIMValue(std::vector<cim::Uint16>{23}))),
         5},
        {"one access for two units", kCCS, "ExposePaths",
         [](SimArray& s) {
             Params p = expose("exch_log", "fchost1")(s);
             p[0].setValue(names({s.property(s.volume("exch_log"), "Name"),
                                  s.property(s.volume("vm_store"), "Name")}));
             return p;
         },
         5},
        {"a second mapping", kCCS, "ExposePaths", expose("ora_data1", "iscsihost1"), 4},
        {"a LUN the host sees already", kCCS, "ExposePaths",
         expose("exch_log", "fchost1", lun("10")), 4102},
        {"a LUN that is no number", kCCS, "ExposePaths", expose("exch_log", "fchost1", lun("x1")),
         5},
        {"a LUN a member host uses", kCCS, "ExposePaths", expose("exch_log", "cluster1", lun("2")),
         4102},
        {"unknown controller", kCCS, "ExposePaths",
         expose("exch_log", "fchost1",
                [](Params& p) {
                    cim::Array<CIMObjectPath> spcs;
                    p[2].getValue().get(spcs);
                    spcs[0] = rekeyed(
                        spcs[0], {cim::CIMKeyBinding("DeviceID", "none", cim::CIMKeyBinding::STRING)});
                    p[2].setValue(CIMValue(spcs));
                }),
         640010},
        {"hiding what is not mapped there", kCCS, "HidePaths",
         expose("ora_data1", "iscsihost1", drop("DeviceAccesses")), 640002},
        // The older engine
        {"ElementType 3", kSCS, "CreateOrModifyElementFromStoragePool", element(3, 1 << 20, true),
         5},
        {"Size 0 (throw-away)", kSCS, "CreateOrModifyElementFromStoragePool",
         element(2, 0, true), 5},
        {"no pool", kSCS, "CreateOrModifyElementFromStoragePool", element(2, 1 << 20, false), 5},
        {"a pool too small", kSCS, "CreateOrModifyElementFromStoragePool",
         element(2, 1ULL << 50, true), 4},
        {"an element to modify", kSCS, "CreateOrModifyElementFromStoragePool",
         withExtra(element(2, 1 << 20, true), "TheElement",
                   [](SimArray& s) { return vol(s, "exch_log"); }),
         1},
        {"an unknown pool", kSCS, "CreateOrModifyElementFromStoragePool",
         withExtra(element(2, 1 << 20, false), "InPool",
                   [](SimArray& s) {
                       return CIMValue(rekeyed(s.named("CIM_StoragePool", "DG1"),
                                               {cim::CIMKeyBinding("InstanceID", "nowhere",
                                                                   cim::CIMKeyBinding::STRING)}));
                   }),
         640007},
        {"CopyType 15 (throw-away)", kSCS, "CreateReplica", replica(15, "ora_log"), 5},
        {"5th legacy snapshot", kSCS, "CreateReplica", replica(4, "exch_log"), 640004,
         legacyCopies},
        {"a name taken", kSCS, "CreateReplica",
         withExtra(replica(5, "ora_log"), "ElementName",
                   [](SimArray&) { return CIMValue("ORA_DATA1"); }),
         5},
        {"the source as target (throw-away)", kSCS, "AttachOrModifyReplica",
         attach("ora_log", "ora_log", 4), 5},
        {"CopyType 55 (throw-away)", kSCS, "AttachOrModifyReplica",
         attach("ora_log", "exch_db", 55), 5},
        {"a smaller target", kSCS, "AttachOrModifyReplica", attach("exch_db", "ora_log", 4),
         640006},
        {"a copy target already", kSCS, "AttachOrModifyReplica", attach("ora_data1", "clone_t", 4),
         640006, legacyCopies},
        {"Operation 55 (throw-away)", kSCS, "ModifySynchronization", modifySync("exch_log_s1", 55),
         5, legacyCopies},
        {"detaching a mapped snapshot", kSCS, "ModifySynchronization",
         modifySync("exch_log_s1", 2), 640001, legacyCopies},
        {"returning a mapped volume", kSCS, "ReturnToStoragePool", returning("ora_data1"), 640001},
        {"returning a view", kSCS, "ReturnToStoragePool", returning("ora_data1_V1"), 5},
        {"returning a PiT group's base", kSCS, "ReturnToStoragePool", returning("exch_log"), 4},
        {"returning a group member", kSCS, "ReturnToStoragePool", returning("vm_store"), 4},
        {"an unknown controller", kSCS, "AssignStorageResourceAffinity",
         [](SimArray& s) {
             CIMObjectPath c = s.first(s.prefix() + "_StorageProcessorSystem");
             c = rekeyed(c, {c.getKeyBindings()[0],
                             cim::CIMKeyBinding("Name", "nobody", cim::CIMKeyBinding::STRING)});
             return Params{param("StorageProcessor", CIMValue(c)),
                           param("StorageResources", refs({s.volume("exch_log")}))};
         },
         640010},
    };
    return all;
}

void setSecret(SimArray& s, const std::string& secret) {
    const CIMObjectPath path = s.first("CIM_SharedSecret");
    cim::CIMInstance i = s.instance(path);
    i.getProperty(i.findProperty("Secret")).setValue(CIMValue(secret));
    i.setPath(path);
    s.client().modifyInstance(s.ns(), i, true, cim::CIMPropertyList({cim::CIMName("Secret")}));
}

// Every method with a call that succeeds on the every-method array, and the edit that
// makes it the throw-away call hosts make first (none where they make none).
struct Method {
    const char* service;
    const char* method;
    Args args;
    std::function<void(Params&)> throwAway;
};

const std::vector<Method>& methods() {
    static const std::vector<Method> all = {
        {kRS, "CreatePiTGroup", pitGroup("small_lun", "small_lun_SMIS_PG", kGiB), nullptr},
        {kRS, "CreateSynchronizationAspect", take("ora_data1"), set("SyncType", u16(15))},
        {kRS, "ModifySettingsDefineState", modifyPiT(5, 1), set("Operation", u16(55))},
        {kRS, "ModifyReplicaSynchronization",
         [](SimArray& s) {
             Params p = unview("ora_data1_V1", 19)(s);
             p.push_back(param("Force", CIMValue(false)));
             p.push_back(param("WaitForCopyState", u16(0)));
             return p;
         },
         set("Operation", u16(55))},
        {kRS, "CreateGroup",
         [](SimArray&) { return Params{param("GroupName", CIMValue("7B2C_1"))}; }, nullptr},
        {kRS, "AddMembers", members("cg1", {"ora_log"}), nullptr},
        {kRS, "RemoveMembers",
         [](SimArray& s) {
             return Params{param("ReplicationGroup", cg(s, "cg1")),
                           param("Members", refs({s.volume("ora_data2")})),
                           param("DeleteOnEmptyElement", CIMValue(false))};
         },
         nullptr},
        {kRS, "DeleteGroup", deleteGroup("cgempty", true), nullptr},
        {kCCS, "ExposePaths", expose("exch_log", "fchost1"),
         set("DeviceAccesses", CIMValue(std::vector<cim::Uint16>{23}))},
        {kCCS, "HidePaths", expose("ora_data1", "fchost1", drop("DeviceAccesses")), nullptr},
        {kSCS, "CreateReplica",
         withExtra(replica(4, "ora_log"), "ElementName", [](SimArray&) { return CIMValue("bk1"); }),
         set("CopyType", u16(15))},
        {kSCS, "CreateOrModifyElementFromStoragePool",
         withExtra(element(2, kGiB, true), "ElementName",
                   [](SimArray&) { return CIMValue("bk2"); }),
         [](Params& p) {
             set("ElementName", CIMValue(cim::CIMTYPE_STRING, false))(p);
             set("Size", u64(0))(p);
         }},
        {kSCS, "AssignStorageResourceAffinity",
         [](SimArray& s) {
             auto controllers =
                 s.client().enumerateInstanceNames(s.ns(), s.prefix() + "_StorageProcessorSystem");
             return Params{param("ResourceType", u16(2)),
                           param("StorageProcessor", CIMValue(controllers.at(1))),
                           param("StorageResources", refs({s.volume("exch_log")}))};
         },
         nullptr},
        {kSCS, "AttachOrModifyReplica", attach("ora_log", "copy_target", 4),
         [](Params& p) {
             set("CopyType", u16(55))(p);
             p[1].setValue(p[0].getValue());  // the source as target
         }},
        {kSCS, "ModifySynchronization", modifySync("snap1", 8), set("Operation", u16(55))},
        {kSCS, "ReturnToStoragePool", returning("spare"), nullptr},
    };
    return all;
}

}  // namespace

TEST(MethodRefusals, AnswerTheirCodeAndChangeNothing) {
    for (const Row& row : rows()) {
        SimArray s(simtest::richArray(row.shapes));
        const Params args = row.args(s);
        const json before = s.state();
        auto out = s.call(row.service, row.method, args);
        EXPECT_EQ(out.rc, row.rc) << row.name;
        EXPECT_FALSE(out.has("Job")) << row.name;
        EXPECT_TRUE(s.unchanged(before)) << row.name;
    }
}

// A stale provider secret answers 4, an injected return value and a job ending in 10
// reach every method, its throw-away call answers 5, and none of these changes the
// array; the call itself then succeeds and does.
TEST(EveryMethod, RefusedFaultedAndFailedCallsLeaveTheArrayAlone) {
    for (const Method& row : methods()) {
        SimArray s(simtest::everyMethodArray());
        const Params args = row.args(s);
        const nlohmann::json before = s.state();
        auto call = [&](const Params& p) { return s.call(row.service, row.method, p); };

        setSecret(s, "stale");
        EXPECT_EQ(call(args).rc, 4u) << row.method << ": stale secret";
        setSecret(s, "arraypw");
        EXPECT_TRUE(s.unchanged(before)) << row.method << ": stale secret";

        s.server().failReturnValue(7777, 1, {"", row.method, ""});
        EXPECT_EQ(call(args).rc, 7777u) << row.method << ": return-value fault";
        EXPECT_TRUE(s.unchanged(before)) << row.method << ": return-value fault";

        s.server().setJobMode(row.method, true);
        s.server().failNextJobs(1, 10);
        auto failed = call(args);
        ASSERT_EQ(failed.rc, 4096u) << row.method;
        s.finishJobs();
        EXPECT_EQ(s.jobState(failed), 10) << row.method;
        EXPECT_TRUE(s.unchanged(before)) << row.method << ": job ending in 10";

        if (row.throwAway) {
            Params bad = args;
            row.throwAway(bad);
            EXPECT_EQ(call(bad).rc, 5u) << row.method << ": throw-away call";
            EXPECT_TRUE(s.unchanged(before)) << row.method << ": throw-away call";
        }

        auto done = call(args);
        ASSERT_EQ(done.rc, 4096u) << row.method;
        s.finishJobs();
        EXPECT_EQ(s.jobState(done), 7) << row.method;
        EXPECT_FALSE(s.unchanged(before)) << row.method << ": the call itself changed nothing";
        EXPECT_EQ(s.invocations(row.method), row.throwAway ? 5u : 4u) << row.method;
    }
}
