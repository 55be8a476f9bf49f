// Every method of the array: refusals, faults and failed jobs change nothing.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "SimArrays.h"
#include "testsupport/SimArray.h"
#include "testsupport/TempDir.h"

using cim::CIMObjectPath;
using cim::CIMValue;
using nlohmann::json;
using testsupport::param;
using testsupport::refs;
using testsupport::settingData;
using testsupport::SimArray;
using testsupport::u16;
using testsupport::u64;

namespace {

using Params = std::vector<cim::CIMParamValue>;
using Args = std::function<Params(SimArray&)>;
using Edit = std::function<void(Params&)>;
const uint64_t kGiB = 1ULL << 30;
const char* kRS = "ReplicationService";
const char* kCCS = "ControllerConfigurationService";
const char* kSCS = "StorageConfigurationService";

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

// cg1's CG view, exch_log in four more groups, a clone of small_lun; `mapped` maps two views.
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

// All 256 LUNs of iscsihost1 in use.
void noFreeLun(json& j) {
    auto& a = j["arrays"][0];
    a["bulkVolumes"] = {{"count", 256}, {"labelPrefix", "lun_"}, {"blocks", 2048}};
    a["mappings"] = json::array();
    for (int i = 0; i < 256; ++i)
        a["mappings"].push_back(
            {{"volume", "lun_" + std::to_string(i)}, {"to", "iscsihost1"}, {"lun", i}});
}

// A path with its keys replaced; `keep` keeps the first key.
CIMObjectPath rekeyed(CIMObjectPath p, const std::string& name, const std::string& value,
                      bool keep = false) {
    std::vector<cim::CIMKeyBinding> keys;
    if (keep) keys.push_back(p.getKeyBindings()[0]);
    keys.emplace_back(name, value, cim::CIMKeyBinding::STRING);
    p.setKeyBindings(keys);
    return p;
}
// ora_data1 with a DeviceID no volume has.
CIMValue gone(SimArray& s) {
    CIMObjectPath v = s.volume("ora_data1");
    auto keys = v.getKeyBindings();
    for (auto& k : keys)
        if (k.getName().getString() == "DeviceID") k.setValue(std::string(32, '6'));
    v.setKeyBindings(keys);
    return CIMValue(v);
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
// The first `cls` reference to `path` (a PiT's define state, a volume's sync), as hosts find it.
CIMObjectPath ref(SimArray& s, const CIMObjectPath& path, const std::string& cls) {
    return s.client().referenceNames(s.ns(), path, cls).at(0);
}
CIMObjectPath syncOf(SimArray& s, const char* volume, const std::string& cls) {
    return ref(s, s.volume(volume), cls);
}
Params modify(unsigned op, const CIMObjectPath& defineState) {
    return {param("Operation", u16(op)), param("SettingsState", CIMValue(defineState))};
}

Args fixed(Params p) {
    return [=](SimArray&) { return p; };
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
// The `pit`th PiT (or CG PiT) as the array lists them.
Args modifyPiT(unsigned op, size_t pit, const char* cls = "_PiT") {
    return [=](SimArray& s) {
        auto pits = s.client().enumerateInstanceNames(s.ns(), s.prefix() + cls);
        return modify(op, ref(s, pits.at(pit), "CIM_SettingsDefineState"));
    };
}
Args with(Args args, Edit edit) {
    return [=](SimArray& s) {
        Params p = args(s);
        edit(p);
        return p;
    };
}
// The call with parameter `name` set to `value`, added when missing.
Args with(Args args, const char* name, std::function<CIMValue(SimArray&)> value) {
    return [=](SimArray& s) {
        Params p = args(s);
        for (auto& x : p)
            if (x.getParameterName() == name) {
                x.setValue(value(s));
                return p;
            }
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
// Removing cg1's CG view.
Params cgViewRemoval(SimArray& s) {
    const CIMObjectPath cv = s.named(s.prefix() + "_ConsistencyGroupPiTView", "cg1_CV_0001");
    auto sync = s.client().referenceNames(s.ns(), cv, s.prefix() + "_CGPiTViewSynchronized");
    return {param("Operation", u16(19)), param("Synchronization", CIMValue(sync.at(0)))};
}
Args unview(const char* view, unsigned op, const char* cls = "_PiTViewSynchronized") {
    return [=](SimArray& s) {
        const std::string sync = cls[0] == '_' ? s.prefix() + cls : cls;
        return Params{param("Operation", u16(op)),
                      param("Synchronization", CIMValue(syncOf(s, view, sync)))};
    };
}
// ExposePaths of a volume to a host's controller, edited.
Args expose(const char* volume, const char* host, Edit edit = nullptr) {
    return [=](SimArray& s) {
        Params p = {
            param("LUNames", names({s.property(s.volume(volume), "Name")})),
            param("DeviceAccesses", CIMValue(std::vector<cim::Uint16>{2})),
            param("ProtocolControllers", refs({s.named("CIM_SCSIProtocolController", host)}))};
        if (edit) edit(p);
        return p;
    };
}
Edit set(const char* name, CIMValue v) {
    return [=](Params& p) {
        for (auto& x : p)
            if (x.getParameterName() == name) x.setValue(v);
    };
}
Edit drop(const char* name) {
    return [=](Params& p) {
        for (auto it = p.begin(); it != p.end(); ++it)
            if (it->getParameterName() == name) {
                p.erase(it);
                return;
            }
    };
}
Edit byPorts(std::vector<std::string> ports) {
    return [=](Params& p) {
        drop("ProtocolControllers")(p);
        p.push_back(param("InitiatorPortIDs", names(ports)));
    };
}
Edit lun(const char* number) {
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
std::function<CIMValue(SimArray&)> text(const char* t) {
    return [=](SimArray&) { return CIMValue(t); };
}

struct Row {
    const char* name;
    const char* service;  // without the prefix
    const char* method;
    Args args;
    uint32_t rc;
    std::function<void(json&)> shapes = nullptr;  // added to the rich array
};

// The throw-away calls hosts make first are rows of the every-method table below.
const std::vector<Row>& rows() {
    // clang-format off
    static const std::vector<Row> all = {
        // PiT groups
        {"label of 31 characters", kRS, "CreatePiTGroup", pitGroup("small_lun", "abcdefghijklmnopqrstuvwxyz01234", kGiB), 5},
        {"label with a space", kRS, "CreatePiTGroup", pitGroup("small_lun", "a b", kGiB), 5},
        {"label taken", kRS, "CreatePiTGroup", pitGroup("small_lun", "ORA_DATA1_SMIS_PG", kGiB), 5},
        {"repository under 32 MiB + base/5000", kRS, "CreatePiTGroup", pitGroup("small_lun", "small_lun_SMIS_PG", 32 * (1ULL << 20)), 5},
        {"fifth PiT group of a volume", kRS, "CreatePiTGroup", pitGroup("exch_log", "exch_log_5", kGiB), 4},
        {"pool short", kRS, "CreatePiTGroup", pitGroup("tiny_vol", "tiny_vol_SMIS_PG", 64ULL << 20), 4},
        {"unknown base volume", kRS, "CreatePiTGroup", with(pitGroup("small_lun", "x_SMIS_PG", kGiB), "BaseVolume", gone), 640003},
        {"repository size missing", kRS, "CreatePiTGroup", with(pitGroup("small_lun", "small_lun_PG", kGiB), drop("RepositorySize")), 5},
        {"repository size as text", kRS, "CreatePiTGroup", with(pitGroup("small_lun", "small_lun_PG", kGiB), set("RepositorySize", CIMValue("1073741824"))), 5},
        {"a parameter the method lacks", kRS, "CreatePiTGroup", with(pitGroup("small_lun", "small_lun_PG", kGiB), "Colour", text("blue")), 5},
        // PiTs
        {"both sources", kRS, "CreateSynchronizationAspect", with(takeGroup("cg1"), "SourceElement", [](SimArray& s) { return vol(s, "ora_data1"); }), 5},
        {"no source", kRS, "CreateSynchronizationAspect", fixed({param("SyncType", u16(7))}), 5},
        {"unknown source volume", kRS, "CreateSynchronizationAspect", with(fixed({param("SyncType", u16(7))}), "SourceElement", gone), 640003},
        {"volume without PiT group", kRS, "CreateSynchronizationAspect", take("small_lun"), 4},
        {"33rd PiT", kRS, "CreateSynchronizationAspect", take("ora_log"), 640004},
        {"group without members", kRS, "CreateSynchronizationAspect", takeGroup("cgempty"), 4},
        {"33rd CG PiT", kRS, "CreateSynchronizationAspect", takeGroup("cgfull"), 640004},
        {"unknown consistency group", kRS, "CreateSynchronizationAspect", with(fixed({param("SyncType", u16(7))}), "SourceGroup", [](SimArray& s) { return CIMValue(rekeyed(s.named("CIM_ReplicationGroup", "cg1"), "InstanceID", "nowhere")); }), 640010},
        {"deleting a newer PiT", kRS, "ModifySettingsDefineState", modifyPiT(4, 1), 4},
        {"deleting a viewed PiT", kRS, "ModifySettingsDefineState", modifyPiT(4, 0), 4},
        {"deleting a newer CG PiT", kRS, "ModifySettingsDefineState", modifyPiT(4, 2, "_ConsistencyGroupPiT"), 4},
        {"a view while the base is off its preferred owner", kRS, "ModifySettingsDefineState", modifyPiT(5, 34), 4},
        {"re-pointing a view of another base", kRS, "ModifySettingsDefineState", with(modifyPiT(5, 2), "TargetElement", [](SimArray& s) { return CIMValue(syncOf(s, "ora_data1_V1", s.prefix() + "_PiTViewSynchronized")); }), 5},
        {"unresolved SettingsState", kRS, "ModifySettingsDefineState", [](SimArray& s) {
             CIMObjectPath sds;
             modifyPiT(5, 0)(s)[1].getValue().get(sds);
             sds.setKeyBindings({cim::CIMKeyBinding("ManagedElement", "X.Y=\"1\"", cim::CIMKeyBinding::REFERENCE), sds.getKeyBindings()[1]});
             return modify(5, sds); }, 640010},
        // Consistency groups and views
        {"group named as a volume, any case", kRS, "CreateGroup", fixed({param("GroupName", CIMValue("ORA_LOG"))}), 5},
        {"group named as a group", kRS, "CreateGroup", fixed({param("GroupName", CIMValue("cg1"))}), 5},
        {"group name of 31 characters", kRS, "CreateGroup", fixed({param("GroupName", CIMValue("ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"))}), 5},
        {"no group name", kRS, "CreateGroup", fixed({}), 5},
        {"fifth group of a volume", kRS, "AddMembers", members("cgempty", {"exch_log"}), 4, groupShapes(false)},
        {"a pool short of the reserve", kRS, "AddMembers", members("cgempty", {"tiny_vol"}), 4},
        {"a view as member", kRS, "AddMembers", members("cgempty", {"ora_data1_V1"}), 5},
        {"no members", kRS, "AddMembers", members("cgempty", {}), 5},
        {"not a member", kRS, "RemoveMembers", members("cg1", {"ora_log"}, true), 5},
        {"emptying a group with a mapped view", kRS, "RemoveMembers", members("cg1", {"ora_data2", "exch_db"}, true), 640001, groupShapes(true)},
        {"members without RemoveElements", kRS, "DeleteGroup", deleteGroup("cg1", false), 4, groupShapes(false)},
        {"a mapped CG view", kRS, "DeleteGroup", deleteGroup("cg1", true), 640001, groupShapes(true)},
        {"a mapped view", kRS, "ModifyReplicaSynchronization", unview("ora_data1_V1", 19), 640001, groupShapes(true)},
        {"a mapped CG view, not forced", kRS, "ModifyReplicaSynchronization", with(cgViewRemoval, "Force", [](SimArray&) { return CIMValue(false); }), 640001, groupShapes(true)},
        {"one member view alone", kRS, "ModifyReplicaSynchronization", unview("cgv_w1", 19), 4, groupShapes(false)},
        {"a clone's synchronization", kRS, "ModifyReplicaSynchronization", unview("cg_clone", 19, "CIM_StorageSynchronized"), 5, groupShapes(false)},
        // Masking
        {"unknown logical unit", kCCS, "ExposePaths", expose("exch_log", "fchost1", set("LUNames", names({"600A0980000000000000000000000000"}))), 4097},
        {"unknown initiator port", kCCS, "ExposePaths", expose("exch_log", "fchost1", byPorts({"2100001B32000000"})), 4098},
        {"ports of two hosts", kCCS, "ExposePaths", expose("exch_log", "fchost1", byPorts({"10000090FA1B2C3D", "iqn.1994-05.com.example:iscsihost1"})), 5},
        {"neither controller nor ports", kCCS, "ExposePaths", expose("exch_log", "fchost1", drop("ProtocolControllers")), 5},
        {"one access for two units", kCCS, "ExposePaths", [](SimArray& s) {
             Params p = expose("exch_log", "fchost1")(s);
             p[0].setValue(names({s.property(s.volume("exch_log"), "Name"), s.property(s.volume("vm_store"), "Name")}));
             return p; }, 5},
        {"a second mapping", kCCS, "ExposePaths", expose("ora_data1", "iscsihost1"), 4},
        {"a LUN the host sees already", kCCS, "ExposePaths", expose("exch_log", "fchost1", lun("10")), 4102},
        {"a LUN that is no number", kCCS, "ExposePaths", expose("exch_log", "fchost1", lun("x1")), 5},
        {"a LUN a member host uses", kCCS, "ExposePaths", expose("exch_log", "cluster1", lun("2")), 4102},
        {"no free LUN", kCCS, "ExposePaths", expose("exch_log", "iscsihost1"), 4103, noFreeLun},
        {"unknown controller", kCCS, "ExposePaths", [](SimArray& s) {
             Params p = expose("exch_log", "fchost1")(s);
             p[2].setValue(refs({rekeyed(s.named("CIM_SCSIProtocolController", "fchost1"), "DeviceID", "none")}));
             return p; }, 640010},
        {"hiding what is not mapped there", kCCS, "HidePaths", expose("ora_data1", "iscsihost1", drop("DeviceAccesses")), 640002},
        // The older engine
        {"ElementType 3", kSCS, "CreateOrModifyElementFromStoragePool", element(3, 1 << 20, true), 5},
        {"no pool", kSCS, "CreateOrModifyElementFromStoragePool", element(2, 1 << 20, false), 5},
        {"a pool too small", kSCS, "CreateOrModifyElementFromStoragePool", element(2, 1ULL << 50, true), 4},
        {"an element to modify", kSCS, "CreateOrModifyElementFromStoragePool", with(element(2, 1 << 20, true), "TheElement", [](SimArray& s) { return vol(s, "exch_log"); }), 1},
        {"an unknown pool", kSCS, "CreateOrModifyElementFromStoragePool", with(element(2, 1 << 20, false), "InPool", [](SimArray& s) { return CIMValue(rekeyed(s.named("CIM_StoragePool", "DG1"), "InstanceID", "nowhere")); }), 640007},
        {"5th legacy snapshot", kSCS, "CreateReplica", replica(4, "exch_log"), 640004, legacyCopies},
        {"a name taken", kSCS, "CreateReplica", with(replica(5, "ora_log"), "ElementName", text("ORA_DATA1")), 5},
        {"the source as target", kSCS, "AttachOrModifyReplica", attach("ora_log", "ora_log", 4), 5},
        {"CopyType 55", kSCS, "AttachOrModifyReplica", attach("ora_log", "exch_db", 55), 5},
        {"a smaller target", kSCS, "AttachOrModifyReplica", attach("exch_db", "ora_log", 4), 640006},
        {"a copy target already", kSCS, "AttachOrModifyReplica", attach("ora_data1", "clone_t", 4), 640006, legacyCopies},
        {"detaching a mapped snapshot", kSCS, "ModifySynchronization", modifySync("exch_log_s1", 2), 640001, legacyCopies},
        {"returning a mapped volume", kSCS, "ReturnToStoragePool", returning("ora_data1"), 640001},
        {"returning a view", kSCS, "ReturnToStoragePool", returning("ora_data1_V1"), 5},
        {"returning a PiT group's base", kSCS, "ReturnToStoragePool", returning("exch_log"), 4},
        {"returning a group member", kSCS, "ReturnToStoragePool", returning("vm_store"), 4},
        {"an unknown controller", kSCS, "AssignStorageResourceAffinity", [](SimArray& s) {
             return Params{param("StorageProcessor", CIMValue(rekeyed(s.first(s.prefix() + "_StorageProcessorSystem"), "Name", "nobody", true))),
                           param("StorageResources", refs({s.volume("exch_log")}))}; }, 640010},
    };
    // clang-format on
    return all;
}

void setSecret(SimArray& s, const std::string& secret) {
    const CIMObjectPath path = s.first("CIM_SharedSecret");
    cim::CIMInstance i = s.instance(path);
    i.getProperty(i.findProperty("Secret")).setValue(CIMValue(secret));
    i.setPath(path);
    s.client().modifyInstance(s.ns(), i, true, cim::CIMPropertyList({cim::CIMName("Secret")}));
}

// A call of each method that succeeds, and the edit making it the throw-away call hosts make.
struct Method {
    const char *service, *method;
    Args args;
    Edit throwAway;
};

const std::vector<Method>& methods() {
    // clang-format off
    static const std::vector<Method> all = {
        {kRS, "CreatePiTGroup", pitGroup("small_lun", "small_lun_SMIS_PG", kGiB), nullptr},
        {kRS, "CreateSynchronizationAspect", take("ora_data1"), set("SyncType", u16(15))},
        {kRS, "ModifySettingsDefineState", modifyPiT(5, 1), set("Operation", u16(55))},
        {kRS, "ModifyReplicaSynchronization", with(with(unview("ora_data1_V1", 19), "Force", [](SimArray&) { return CIMValue(false); }), "WaitForCopyState", [](SimArray&) { return u16(0); }), set("Operation", u16(55))},
        {kRS, "CreateGroup", fixed({param("GroupName", CIMValue("7B2C_1"))}), nullptr},
        {kRS, "AddMembers", members("cg1", {"ora_log"}), nullptr},
        {kRS, "RemoveMembers", with(members("cg1", {"ora_data2"}), "DeleteOnEmptyElement", [](SimArray&) { return CIMValue(false); }), nullptr},
        {kRS, "DeleteGroup", deleteGroup("cgempty", true), nullptr},
        {kCCS, "ExposePaths", expose("exch_log", "fchost1"), set("DeviceAccesses", CIMValue(std::vector<cim::Uint16>{23}))},
        {kCCS, "HidePaths", expose("ora_data1", "fchost1", drop("DeviceAccesses")), nullptr},
        {kSCS, "CreateReplica", with(replica(4, "ora_log"), "ElementName", text("bk1")), set("CopyType", u16(15))},
        {kSCS, "CreateOrModifyElementFromStoragePool", with(element(2, kGiB, true), "ElementName", text("bk2")),
         [](Params& p) { set("ElementName", CIMValue(cim::CIMTYPE_STRING, false))(p); set("Size", u64(0))(p); }},
        {kSCS, "AssignStorageResourceAffinity", [](SimArray& s) {
             auto controllers = s.client().enumerateInstanceNames(s.ns(), s.prefix() + "_StorageProcessorSystem");
             return Params{param("ResourceType", u16(2)), param("StorageProcessor", CIMValue(controllers.at(1))),
                           param("StorageResources", refs({s.volume("exch_log")}))}; }, nullptr},
        {kSCS, "AttachOrModifyReplica", attach("ora_log", "copy_target", 4),
         [](Params& p) { set("CopyType", u16(55))(p); p[1].setValue(p[0].getValue()); }},
        {kSCS, "ModifySynchronization", modifySync("snap1", 8), set("Operation", u16(55))},
        {kSCS, "ReturnToStoragePool", returning("spare"), nullptr},
    };
    // clang-format on
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

// Only the call itself changes the array, and the state file it leaves loads again.
TEST(EveryMethod, RefusedFaultedAndFailedCallsLeaveTheArrayAlone) {
    testsupport::TempDir dir;
    for (const Method& row : methods()) {
        const std::string path = dir.file(row.method);
        SimArray s(simtest::everyMethodArray());
        s.provider().persistTo(path);
        const Params args = row.args(s);
        const json before = s.state();
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
        s.provider().flushState();
        const sim::Config loaded = sim::Config::loadState(path, simtest::everyMethodArray());
        EXPECT_EQ(loaded.toStateJson()["arrays"], s.state()) << row.method << ": state file";
        EXPECT_EQ(sim::Provider(loaded).currentState().toStateJson()["arrays"], s.state())
            << row.method << ": the array loaded from the state file";
    }
}

TEST(PiTMethods, JobControlsLetTheFirstJobsPassAndPickJobModes) {
    SimArray s(simtest::richArray());
    s.control({{"outcome", "Exception"}, {"skip", 1}, {"count", 1}}, "/control/jobs");
    s.control(
        {{"methods", {{"CreatePiTGroup", "job"}, {"ModifySettingsDefineState:32768", "sync"}}}},
        "/control/jobs");
    EXPECT_EQ(s.call(kRS, "ModifySettingsDefineState", modifyPiT(32768, 0)(s)).rc, 0u);
    auto first = s.call(kRS, "CreatePiTGroup", pitGroup("small_lun", "small_lun_1", kGiB)(s));
    auto second = s.call(kRS, "CreatePiTGroup", pitGroup("small_lun", "small_lun_2", kGiB)(s));
    ASSERT_EQ(first.rc, 4096u);
    ASSERT_EQ(second.rc, 4096u);
    s.finishJobs();
    EXPECT_EQ(s.jobState(first), 7);
    EXPECT_EQ(s.jobState(second), 10);
    EXPECT_FALSE(s.named(s.prefix() + "_PiTGroup", "small_lun_1").getClassName().isNull());
    EXPECT_TRUE(s.named(s.prefix() + "_PiTGroup", "small_lun_2").getClassName().isNull());
}

// Null parameters; DeleteOnEmptyElement; a forced removal of a mapped CG view unmaps it.
TEST(GroupMethods, NullParametersDeletionOnEmptyAndForcedViewRemoval) {
    SimArray s(simtest::richArray([](json& j) { simtest::addGroupView(j, true); }));
    const size_t groups = s.count("CIM_ReplicationGroup");
    auto made = s.call(kRS, "CreateGroup",
                       {param("GroupName", CIMValue("1A3F_2")),
                        param("Members", CIMValue(cim::CIMTYPE_REFERENCE, true)),
                        param("Persistent", CIMValue(cim::CIMTYPE_BOOLEAN, false))});
    ASSERT_EQ(made.rc, 0u);
    EXPECT_EQ(s.property(made.path("ReplicationGroup"), "ElementName"), "1A3F_2");
    EXPECT_EQ(s.call(kRS, "AddMembers", members("1A3F_2", {"ora_log"})(s)).rc, 0u);
    EXPECT_EQ(s.call(kRS, "RemoveMembers", members("1A3F_2", {"ora_log"}, true)(s)).rc, 0u);
    EXPECT_EQ(s.count("CIM_ReplicationGroup"), groups) << "the emptied group went";
    const CIMObjectPath cv = s.named(s.prefix() + "_ConsistencyGroupPiTView", "cg1_CV_0001");
    Params force = cgViewRemoval(s);
    force.push_back(param("Force", CIMValue(true)));
    EXPECT_EQ(s.call(kRS, "ModifyReplicaSynchronization", force).rc, 0u);
    EXPECT_THROW(s.instance(cv), cim::CIMException);
    EXPECT_EQ(s.count(s.prefix() + "_PiTView"), 1u) << "member views go, the single view stays";
    const json seen = s.provider().fabricLuns({"iqn.1994-05.com.example:iscsihost1"});
    for (const auto& l : seen["luns"]) EXPECT_NE(l["lun"], 9);
}

// The group's limit lets exactly 32 through, each with its own sequence number and time.
TEST(ConcurrentPiTs, SixteenHostsTakeFourEachAndExactly32Succeed) {
    SimArray s(simtest::richArray([](json& j) {
        j["arrays"][0]["pitGroups"].push_back(
            {{"label", "small_lun_SMIS_PG"}, {"baseVolume", "small_lun"}});
    }));
    const Params args = take("small_lun")(s);
    const CIMObjectPath service = s.first(s.prefix() + "_ReplicationService");
    std::mutex mutex;
    std::vector<CIMObjectPath> taken;
    std::vector<uint32_t> refused;
    std::vector<std::thread> hosts;
    for (int h = 0; h < 16; ++h)
        hosts.emplace_back([&] {
            cim::CIMClient client;
            client.connect("127.0.0.1", s.server().httpPort(), s.server().user(),
                           s.server().password());
            for (int i = 0; i < 4; ++i) {
                cim::Array<cim::CIMParamValue> out;
                cim::Uint32 rc = 0;
                client.invokeMethod(s.ns(), service, "CreateSynchronizationAspect", args, out)
                    .get(rc);
                std::lock_guard<std::mutex> lock(mutex);
                if (rc != 0) refused.push_back(rc);
                if (rc == 0)
                    taken.push_back(
                        settingData(testsupport::Outcome{rc, out}.path("SettingsState")));
            }
        });
    for (auto& h : hosts) h.join();
    ASSERT_EQ(taken.size(), 32u);
    EXPECT_EQ(refused, std::vector<uint32_t>(32, 640004u));
    std::set<std::string> sequences, times;
    for (const auto& pit : taken) {
        sequences.insert(s.property(pit, "SequenceNumber"));
        times.insert(s.property(pit, "WhenPointInTime"));
    }
    EXPECT_EQ(sequences.size(), 32u);
    EXPECT_EQ(times.size(), 32u);
}

// Controls edge tests use: two shared secrets and none, two define states, a failback.
TEST(ArrayShapes, DamagedShapesForEdgeTests) {
    SimArray s(simtest::richArray());
    s.control({{"action", "sharedSecrets"}, {"count", 2}});
    const CIMObjectPath service = s.first(s.prefix() + "_SharedSecretService");
    auto secrets =
        s.client().associatorNames(s.ns(), service, "CIM_SharedSecretIsShared", "CIM_SharedSecret");
    ASSERT_EQ(secrets.size(), 2u);
    EXPECT_NE(s.property(secrets[1], "Secret"), "<absent>");
    s.control({{"action", "sharedSecrets"}, {"count", 0}});
    EXPECT_EQ(s.count("CIM_SharedSecret"), 0u);
    const CIMObjectPath pit = s.client().enumerateInstanceNames(s.ns(), s.prefix() + "_PiT")[0];
    s.control(
        {{"action", "extraDefineState"}, {"pit", pit.findKeyBinding("InstanceID")->getValue()}});
    auto states = s.client().referenceNames(s.ns(), pit, "CIM_SettingsDefineState");
    ASSERT_EQ(states.size(), 2u);
    for (const auto& sds : states) EXPECT_NO_THROW(s.instance(sds)) << sds.toString();
    // A failover moves the current owner only; views wait for the preferred one.
    const CIMObjectPath base = s.volume("ora_data1");
    const std::string owner = s.property(base, "CurrentManager");
    s.control({{"action", "failover"}, {"volume", "ora_data1"}});
    EXPECT_NE(s.property(base, "CurrentManager"), owner);
    EXPECT_EQ(s.call(kRS, "ModifySettingsDefineState", modify(5, states[0])).rc, 4u);
    s.control({{"action", "failback"}, {"volume", "ora_data1"}});
    EXPECT_EQ(s.property(base, "CurrentManager"), owner);
    EXPECT_EQ(s.call(kRS, "ModifySettingsDefineState", modify(5, states[0])).rc, 0u);
}

// Generic clients type a method's parameters from the class.
TEST(ArrayShapes, ServicesDeclareTheirMethodsWithTypedParameters) {
    SimArray s;
    struct Row {
        const char* cls;
        const char* method;
        const char* parameter;
        cim::CIMType type;
        bool isArray;
        const char* direction;
    };
    // clang-format off
    const Row rows[] = {
        {"_ReplicationService", "CreateGroup", "Members", cim::CIMTYPE_REFERENCE, true, "IN"},
        {"_ReplicationService", "CreateGroup", "ReplicationGroup", cim::CIMTYPE_REFERENCE, false, "OUT"},
        {"_ControllerConfigurationService", "ExposePaths", "DeviceAccesses", cim::CIMTYPE_UINT16, true, "IN"},
    };
    // clang-format on
    for (const Row& row : rows) {
        cim::CIMClass c = s.client().getClass(s.ns(), s.prefix() + row.cls, false);
        cim::Uint32 m = c.findMethod(row.method);
        ASSERT_NE(m, cim::PEG_NOT_FOUND) << row.cls << "." << row.method;
        const cim::CIMMethod& method = c.getMethod(m);
        EXPECT_EQ(method.getType(), cim::CIMTYPE_UINT32) << row.method;
        cim::Uint32 p = method.findParameter(row.parameter);
        ASSERT_NE(p, cim::PEG_NOT_FOUND) << row.method << "." << row.parameter;
        const cim::CIMParameter& param = method.getParameter(p);
        EXPECT_EQ(param.getType(), row.type) << row.parameter;
        EXPECT_EQ(param.isArray(), row.isArray) << row.parameter;
        EXPECT_NE(param.findQualifier(row.direction), cim::PEG_NOT_FOUND) << row.parameter;
    }
}
