// The array's methods through our CIM client where more than a refusal is at stake:
// jobs and their outputs, the order of equal keys, job controls, a group's life, view
// removal, masking on the fabric, a job answer without the new volume, concurrent
// PiTs, method declarations and the damaged shapes edge tests need.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "SimArrays.h"
#include "testsupport/SimArray.h"

using cim::CIMObjectPath;
using cim::CIMValue;
using testsupport::param;
using testsupport::refs;
using testsupport::SimArray;
using testsupport::u16;
using testsupport::u64;

namespace {

using Params = std::vector<cim::CIMParamValue>;
const uint64_t kGiB = 1ULL << 30;

std::vector<cim::CIMParamValue> takeArgs(const CIMObjectPath& volume) {
    return {param("Name", CIMValue("host snapshot")), param("SyncType", u16(7)),
            param("SourceElement", CIMValue(volume))};
}

std::vector<cim::CIMParamValue> modifyArgs(unsigned op, const CIMObjectPath& defineState) {
    return {param("Operation", u16(op)), param("SettingsState", CIMValue(defineState))};
}

// The CIM_SettingsDefineState of a PiT (or CG PiT), as hosts find it.
CIMObjectPath defineStateOf(SimArray& s, const CIMObjectPath& pit) {
    auto refs = s.client().referenceNames(s.ns(), pit, "CIM_SettingsDefineState");
    EXPECT_EQ(refs.size(), 1u);
    return refs.empty() ? CIMObjectPath() : refs.front();
}

CIMObjectPath pitOf(SimArray& s, const std::string& cls, size_t index) {
    auto names = s.client().enumerateInstanceNames(s.ns(), s.prefix() + cls);
    EXPECT_LT(index, names.size());
    return index < names.size() ? names[index] : CIMObjectPath();
}

CIMValue names(std::vector<std::string> v) {
    return CIMValue(v);
}

CIMValue accesses(std::vector<cim::Uint16> v) {
    return CIMValue(v);
}

Params expose(SimArray& s, const std::string& volume, const std::string& spc) {
    return {param("LUNames", names({s.property(s.volume(volume), "Name")})),
            param("DeviceAccesses", accesses({2})),
            param("ProtocolControllers",
                  testsupport::refs({s.named("CIM_SCSIProtocolController", spc)}))};
}

const char* kFcPort = "10000090FA1B2C3D";

}  // namespace

TEST(PiTMethods, JobsCarryTheirOutputsAndApplyTheirEffectOnlyOnSuccess) {
    SimArray s(simtest::richArray([](nlohmann::json& j) {
        j["rules"] = {{"maxPiTGroupsPerVolume", 1}};
    }));
    s.server().setJobMode("CreatePiTGroup", true);
    s.server().setJobMode("CreateSynchronizationAspect", true);
    s.server().setJobMode("ModifySettingsDefineState", true);
    s.server().setJobMode("ModifySettingsDefineState:4", false);  // "Method:Operation" wins
    auto newGroup = [&](const char* label) {
        return s.call("ReplicationService", "CreatePiTGroup",
                      {param("BaseVolume", CIMValue(s.volume("small_lun"))),
                       param("Label", CIMValue(label)), param("RepositorySize", u64(kGiB))});
    };

    // A group made by a job appears when it completes; meanwhile it counts.
    auto made = newGroup("small_lun_SMIS_PG");
    ASSERT_EQ(made.rc, 4096u);
    EXPECT_EQ(s.jobState(made), 4);
    EXPECT_TRUE(s.named(s.prefix() + "_PiTGroup", "small_lun_SMIS_PG").getClassName().isNull());
    EXPECT_EQ(newGroup("small_lun_2").rc, 4u) << "the running job's group was not counted";
    s.finishJobs();
    EXPECT_EQ(s.jobState(made), 7);
    EXPECT_FALSE(s.named(s.prefix() + "_PiTGroup", "small_lun_SMIS_PG").getClassName().isNull());

    // A PiT comes at once with its output; a failed job takes it back.
    s.server().failNextJobs(1, 10);
    const nlohmann::json before = s.state();
    auto take = s.call("ReplicationService", "CreateSynchronizationAspect",
                       takeArgs(s.volume("small_lun")));
    ASSERT_EQ(take.rc, 4096u);
    const CIMObjectPath pit = testsupport::settingData(take.path("SettingsState"));
    EXPECT_EQ(s.property(pit, "ElementName"), pit.findKeyBinding("InstanceID")->getValue());
    s.finishJobs();
    EXPECT_EQ(s.jobState(take), 10);
    EXPECT_TRUE(s.unchanged(before));

    // A view by job: the answer names it, the array shows it once the job is done.
    auto kept = s.call("ReplicationService", "CreateSynchronizationAspect",
                       takeArgs(s.volume("small_lun")));
    s.finishJobs();
    const CIMObjectPath sds = kept.path("SettingsState");
    auto view = s.call("ReplicationService", "ModifySettingsDefineState", modifyArgs(5, sds));
    ASSERT_EQ(view.rc, 4096u);
    const CIMObjectPath w = view.path("TargetElement");
    EXPECT_THROW(s.instance(w), cim::CIMException);
    EXPECT_EQ(s.call("ReplicationService", "ModifySettingsDefineState", modifyArgs(4, sds)).rc, 4u)
        << "a PiT whose view is on its way was deleted";
    s.finishJobs();
    EXPECT_EQ(s.property(w, "Access"), "3");

    // Restoring: Running with rising progress, held for the next requests, then done.
    s.server().provider().holdNextJobs(1, 2);
    auto restore =
        s.call("ReplicationService", "ModifySettingsDefineState", modifyArgs(32768, sds));
    ASSERT_EQ(restore.rc, 4096u);
    s.clock().advance(s.provider().config().jobs.durationMs / 2);
    const int half = std::stoi(s.property(restore.path("Job"), "PercentComplete"));
    EXPECT_GT(half, 0);
    EXPECT_LT(half, 100);
    s.finishJobs();
    EXPECT_EQ(s.jobState(restore), 4) << "held for the second request";
    EXPECT_EQ(s.jobState(restore), 7);
    EXPECT_EQ(s.property(restore.path("Job"), "PercentComplete"), "100");
}

TEST(PiTMethods, EqualKeysKeepTheirListedOrder) {
    // Configured out of order, with equal sequence numbers and times.
    SimArray s(simtest::richArray([](nlohmann::json& j) {
        auto& a = j["arrays"][0];
        const std::string g = sim::makeRef("test:eq");
        a["pitGroups"].push_back(
            {{"label", "eq_PG"}, {"baseVolume", "small_lun"}, {"ref", g}, {"nextSequence", 20}});
        for (int seq : {11, 10, 10}) a["pits"].push_back({{"group", g}, {"sequence", seq}});
        a["consistencyGroups"].push_back({{"label", "cg_eq"}, {"members", {"small_lun"}}});
        const std::string cg = sim::makeRef(sim::Config::fromJson(j).arrays[0].id + ":cg:cg_eq");
        for (int when : {7, 7}) a["cgPits"].push_back({{"group", cg}, {"whenMicros", when}});
    }));
    const CIMObjectPath group = s.named(s.prefix() + "_PiTGroup", "eq_PG");
    auto members = s.associators(group, "CIM_OrderedMemberOfCollection", s.prefix() + "_PiT");
    ASSERT_EQ(members.size(), 3u);
    std::vector<std::string> order;
    for (const auto& m : members) order.push_back(s.property(m, "SequenceNumber"));
    EXPECT_EQ(order, (std::vector<std::string>{"11", "10", "10"}));
    // Of equal keys the first listed is the oldest.
    const nlohmann::json before = s.state();
    EXPECT_EQ(s.call("ReplicationService", "ModifySettingsDefineState",
                     modifyArgs(4, defineStateOf(s, members[2])))
                  .rc,
              4u);
    EXPECT_TRUE(s.unchanged(before));
    EXPECT_EQ(s.call("ReplicationService", "ModifySettingsDefineState",
                     modifyArgs(4, defineStateOf(s, members[1])))
                  .rc,
              0u);
    auto cgPits = s.associators(s.named("CIM_ReplicationGroup", "cg_eq"), "CIM_SettingsDefineState",
                                s.prefix() + "_ConsistencyGroupPiT");
    ASSERT_EQ(cgPits.size(), 2u);
    EXPECT_EQ(s.call("ReplicationService", "ModifySettingsDefineState",
                     modifyArgs(4, defineStateOf(s, cgPits[1])))
                  .rc,
              4u);
    EXPECT_EQ(s.call("ReplicationService", "ModifySettingsDefineState",
                     modifyArgs(4, defineStateOf(s, cgPits[0])))
                  .rc,
              0u);
}

TEST(PiTMethods, JobControlsLetTheFirstJobsPassAndPickJobModes) {
    SimArray s(simtest::richArray());
    s.post("/control/jobs", {{"outcome", "Exception"}, {"skip", 1}, {"count", 1}});
    s.post("/control/jobs",
           {{"methods", {{"CreatePiTGroup", "job"}, {"ModifySettingsDefineState:32768", "sync"}}}});
    const CIMObjectPath sds = defineStateOf(s, pitOf(s, "_PiT", 0));
    EXPECT_EQ(s.call("ReplicationService", "ModifySettingsDefineState", modifyArgs(32768, sds)).rc,
              0u);
    auto group = [&](const char* label) {
        return s.call("ReplicationService", "CreatePiTGroup",
                      {param("BaseVolume", CIMValue(s.volume("small_lun"))),
                       param("Label", CIMValue(label)), param("RepositorySize", u64(kGiB))});
    };
    auto first = group("small_lun_1");
    auto second = group("small_lun_2");
    ASSERT_EQ(first.rc, 4096u);
    ASSERT_EQ(second.rc, 4096u);
    s.finishJobs();
    EXPECT_EQ(s.jobState(first), 7);
    EXPECT_EQ(s.jobState(second), 10);
    EXPECT_FALSE(s.named(s.prefix() + "_PiTGroup", "small_lun_1").getClassName().isNull());
    EXPECT_TRUE(s.named(s.prefix() + "_PiTGroup", "small_lun_2").getClassName().isNull());
}
// The rest of a group's life is walked end to end.
TEST(GroupMethods, NullParametersAndDeletionOnEmpty) {
    SimArray s;
    auto made = s.call("ReplicationService", "CreateGroup",
                       {param("GroupName", CIMValue("1A3F_2")),
                        param("Members", CIMValue(cim::CIMTYPE_REFERENCE, true)),
                        param("Persistent", CIMValue(cim::CIMTYPE_BOOLEAN, false))});
    ASSERT_EQ(made.rc, 0u);
    EXPECT_EQ(s.property(made.path("ReplicationGroup"), "ElementName"), "1A3F_2");
    auto other = s.call(
        "ReplicationService", "CreateGroup",
        {param("GroupName", CIMValue("1A40_2")), param("Members", refs({s.volume("ora_log")}))});
    ASSERT_EQ(other.rc, 0u);
    EXPECT_EQ(s.call("ReplicationService", "RemoveMembers",
                     {param("ReplicationGroup", CIMValue(other.path("ReplicationGroup"))),
                      param("Members", refs({s.volume("ora_log")})),
                      param("DeleteOnEmptyElement", CIMValue(true))})
                  .rc,
              0u);
    EXPECT_EQ(s.count("CIM_ReplicationGroup"), 1u) << "the emptied group went";
}

TEST(GroupMethods, RemovingAViewUnmapsItOnlyWhenForced) {
    SimArray s(simtest::richArray([](nlohmann::json& j) { simtest::addGroupView(j, true); }));
    const CIMObjectPath cv = s.named(s.prefix() + "_ConsistencyGroupPiTView", "cg1_CV_0001");
    auto sync = s.client().referenceNames(s.ns(), cv, s.prefix() + "_CGPiTViewSynchronized");
    ASSERT_EQ(sync.size(), 1u);
    auto remove = [&](bool force) {
        return s.call("ReplicationService", "ModifyReplicaSynchronization",
                      {param("Operation", u16(19)), param("Synchronization", CIMValue(sync[0])),
                       param("Force", CIMValue(force)), param("WaitForCopyState", u16(0))});
    };
    const nlohmann::json before = s.state();
    EXPECT_EQ(remove(false).rc, 640001u);
    EXPECT_TRUE(s.unchanged(before));
    EXPECT_EQ(remove(true).rc, 0u);
    EXPECT_THROW(s.instance(cv), cim::CIMException);
    EXPECT_EQ(s.count(s.prefix() + "_PiTView"), 1u) << "member views go, the single view stays";
    for (const auto& l : s.fabric({"iqn.1994-05.com.example:iscsihost1"})) EXPECT_NE(l["lun"], 9);
}

TEST(MaskingMethods, ExposedVolumeAppearsOnTheFabricUntilHidden) {
    SimArray s;
    const CIMObjectPath volume = s.volume("exch_log");
    const std::string uuid = s.property(volume, "Name");
    auto shown =
        s.call("ControllerConfigurationService", "ExposePaths", expose(s, "exch_log", "fchost1"));
    ASSERT_EQ(shown.rc, 0u);
    cim::Array<CIMObjectPath> spcs;
    for (const auto& p : shown.out)
        if (p.getParameterName() == "ProtocolControllers") p.getValue().get(spcs);
    ASSERT_EQ(spcs.size(), 1u);
    EXPECT_EQ(s.property(spcs[0], "ElementName"), "fchost1");
    // fchost1 sees LUNs 1..3 and its group's 10: the lowest free one is 0.
    auto units = s.client().references(s.ns(), volume, "CIM_ProtocolControllerForUnit");
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0].getProperty(units[0].findProperty("DeviceNumber")).getValue().toString(),
              "0");
    nlohmann::json lun;
    for (const auto& l : s.fabric({kFcPort}))
        if (l["lunUuid"] == uuid) lun = l;
    EXPECT_EQ(lun["lun"], 0);

    // Exposing again through the same controller, here found by its ports, changes nothing.
    const nlohmann::json before = s.state();
    auto again = s.call("ControllerConfigurationService", "ExposePaths",
                        {param("LUNames", names({uuid})),
                         param("InitiatorPortIDs", names({"10:00:00:90:fa:1b:2c:3e"})),
                         param("DeviceAccesses", accesses({2}))});
    EXPECT_EQ(again.rc, 0u);
    EXPECT_TRUE(s.unchanged(before));

    Params hide = {param("LUNames", names({uuid})),
                   param("ProtocolControllers",
                         testsupport::refs({s.named("CIM_SCSIProtocolController", "fchost1")}))};
    EXPECT_EQ(s.call("ControllerConfigurationService", "HidePaths", hide).rc, 0u);
    for (const auto& l : s.fabric({kFcPort})) EXPECT_NE(l["lunUuid"], uuid);
    EXPECT_EQ(s.call("ControllerConfigurationService", "HidePaths", hide).rc, 640002u)
        << "the second of two hides";
}

TEST(MaskingMethods, NoFreeLunLeft) {
    SimArray s(simtest::richArray([](nlohmann::json& j) {
        auto& a = j["arrays"][0];
        a["bulkVolumes"] = {{"count", 256}, {"labelPrefix", "lun_"}, {"blocks", 2048}};
        a["mappings"] = nlohmann::json::array();
        for (int i = 0; i < 256; ++i)
            a["mappings"].push_back(
                {{"volume", "lun_" + std::to_string(i)}, {"to", "iscsihost1"}, {"lun", i}});
    }));
    const nlohmann::json before = s.state();
    EXPECT_EQ(
        s.call("ControllerConfigurationService", "ExposePaths", expose(s, "exch_log", "iscsihost1"))
            .rc,
        4103u);
    EXPECT_TRUE(s.unchanged(before));
}
TEST(StorageMethods, AJobAnswerCanLeaveOutTheNewVolume) {
    sim::Config config = sim::Config::defaults();
    config.jobs.omitTheElement = true;
    config.jobs.methods["CreateOrModifyElementFromStoragePool"] = true;
    SimArray s(config);
    auto made = s.call("StorageConfigurationService", "CreateOrModifyElementFromStoragePool",
                       {param("ElementName", CIMValue("bk_clone")), param("ElementType", u16(2)),
                        param("Size", u64(1ULL << 30)),
                        param("InPool", CIMValue(s.named("CIM_StoragePool", "DG1")))});
    ASSERT_EQ(made.rc, 4096u);
    EXPECT_TRUE(made.has("Job"));
    EXPECT_FALSE(made.has("TheElement"));
    s.finishJobs();
    EXPECT_EQ(s.jobState(made), 7);
    EXPECT_FALSE(s.named("CIM_StorageVolume", "bk_clone").getClassName().isNull())
        << "found by its name instead";
}

// Sixteen hosts take four PiTs each of one volume at once: the group's limit lets
// exactly 32 through, each with its own "SequenceNumber" and "WhenPointInTime".
TEST(ConcurrentPiTs, SixteenHostsTakeFourEachAndExactly32Succeed) {
    testsupport::SimArray s(simtest::richArray([](nlohmann::json& j) {
        j["arrays"][0]["pitGroups"].push_back(
            {{"label", "small_lun_SMIS_PG"}, {"baseVolume", "small_lun"}});
    }));
    const cim::CIMObjectPath volume = s.volume("small_lun");
    const cim::CIMObjectPath service = s.first(s.prefix() + "_ReplicationService");
    std::mutex mutex;
    std::vector<cim::CIMObjectPath> taken;
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
                client
                    .invokeMethod(s.ns(), service, "CreateSynchronizationAspect",
                                  {testsupport::param("SyncType", testsupport::u16(7)),
                                   testsupport::param("SourceElement", cim::CIMValue(volume))},
                                  out)
                    .get(rc);
                std::lock_guard<std::mutex> lock(mutex);
                if (rc != 0) {
                    refused.push_back(rc);
                    continue;
                }
                cim::CIMObjectPath state;
                out.at(0).getValue().get(state);
                taken.push_back(testsupport::settingData(state));
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
    const Row rows[] = {
        {"_ReplicationService", "CreateGroup", "GroupName", cim::CIMTYPE_STRING, false, "IN"},
        {"_ReplicationService", "CreateGroup", "Members", cim::CIMTYPE_REFERENCE, true, "IN"},
        {"_ReplicationService", "CreateGroup", "ReplicationGroup", cim::CIMTYPE_REFERENCE, false,
         "OUT"},
        {"_ReplicationService", "ModifySettingsDefineState", "Operation", cim::CIMTYPE_UINT16,
         false, "IN"},
        {"_ReplicationService", "CreatePiTGroup", "RepositorySize", cim::CIMTYPE_UINT64, false,
         "IN"},
        {"_ControllerConfigurationService", "ExposePaths", "DeviceAccesses", cim::CIMTYPE_UINT16,
         true, "IN"},
        {"_StorageConfigurationService", "CreateOrModifyElementFromStoragePool", "TheElement",
         cim::CIMTYPE_REFERENCE, false, "OUT"},
        {"_ConcreteJob", "RequestStateChange", "RequestedState", cim::CIMTYPE_UINT16, false, "IN"},
    };
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

TEST(ArrayShapes, DamagedShapesForEdgeTests) {
    SimArray s(simtest::richArray());
    s.control({{"action", "sharedSecrets"}, {"count", 2}});
    const CIMObjectPath service = s.first(s.prefix() + "_SharedSecretService");
    auto secrets = s.associators(service, "CIM_SharedSecretIsShared", "CIM_SharedSecret");
    ASSERT_EQ(secrets.size(), 2u);
    EXPECT_NE(s.property(secrets[1], "Secret"), "<absent>");
    s.control({{"action", "sharedSecrets"}, {"count", 0}});
    EXPECT_EQ(s.count("CIM_SharedSecret"), 0u);

    const CIMObjectPath volume = s.volume("exch_log");
    s.control({{"action", "dropSetting"}, {"volume", "exch_log"}});
    EXPECT_EQ(s.references(volume, "CIM_ElementSettingData"), 0u);
    EXPECT_EQ(s.count(s.prefix() + "_StorageVolumeSetting"), 9u) << "one of ten volumes";

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
    const std::vector<cim::CIMParamValue> view = {param("Operation", u16(5)),
                                                  param("SettingsState", CIMValue(states[0]))};
    EXPECT_EQ(s.call("ReplicationService", "ModifySettingsDefineState", view).rc, 4u);
    s.control({{"action", "failback"}, {"volume", "ora_data1"}});
    EXPECT_EQ(s.call("ReplicationService", "ModifySettingsDefineState", view).rc, 0u);
}
