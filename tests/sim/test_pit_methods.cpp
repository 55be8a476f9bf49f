// PiT groups, PiTs and their views through our CIM client: the roads hosts take,
// every refusal with the array unchanged, and the choice between answering at once
// and with a job.
#include <gtest/gtest.h>

#include <functional>

#include "SimArrays.h"
#include "testsupport/SimArray.h"

using cim::CIMObjectPath;
using cim::CIMValue;
using testsupport::local;
using testsupport::param;
using testsupport::SimArray;
using testsupport::u16;
using testsupport::u64;

namespace {

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

}  // namespace

TEST(PiTMethods, SinglePiTRoadLeavesTheListedObjects) {
    SimArray s;
    const CIMObjectPath base = s.volume("ora_data1");
    auto made =
        s.call("ReplicationService", "CreatePiTGroup",
               {param("BaseVolume", CIMValue(base)), param("Label", CIMValue("ora_data1_SMIS_PG")),
                param("RepositorySize", u64(40 * kGiB))});
    ASSERT_EQ(made.rc, 0u);
    EXPECT_EQ(s.count(s.prefix() + "_PiTGroup"), 1u);

    auto first = s.call("ReplicationService", "CreateSynchronizationAspect", takeArgs(base));
    auto second = s.call("ReplicationService", "CreateSynchronizationAspect", takeArgs(base));
    ASSERT_EQ(first.rc, 0u);
    ASSERT_EQ(second.rc, 0u);
    const CIMObjectPath pit = testsupport::settingData(first.path("SettingsState"));
    const CIMObjectPath pit2 = testsupport::settingData(second.path("SettingsState"));
    // Hosts find the PiT by "ElementName" = the "InstanceID" they read from the output.
    EXPECT_EQ(s.property(pit, "ElementName"), pit.findKeyBinding("InstanceID")->getValue());
    EXPECT_EQ(std::stoull(s.property(pit2, "SequenceNumber")),
              std::stoull(s.property(pit, "SequenceNumber")) + 1);
    EXPECT_LT(s.property(pit, "WhenPointInTime"), s.property(pit2, "WhenPointInTime"));
    EXPECT_EQ(local(defineStateOf(s, pit)), local(first.path("SettingsState")));
    EXPECT_EQ(
        s.associators(pit, "CIM_OrderedMemberOfCollection", "CIM_SystemSpecificCollection").size(),
        1u);

    auto view = s.call("ReplicationService", "ModifySettingsDefineState",
                       modifyArgs(5, first.path("SettingsState")));
    ASSERT_EQ(view.rc, 0u);
    const CIMObjectPath w = view.path("TargetElement");
    EXPECT_EQ(s.property(w, "ElementName").rfind("ora_data1_SV_", 0), 0u);
    EXPECT_EQ(s.property(w, "Access"), "3");
    EXPECT_EQ(s.property(w, "NumberOfBlocks"), s.property(base, "NumberOfBlocks"));
    EXPECT_EQ(s.property(w, "CurrentManager"), s.property(base, "CurrentManager"));
    EXPECT_EQ(local(s.associators(pit, s.prefix() + "_ViewBasedOnPiT", s.prefix() + "_PiTView")),
              std::vector<std::string>{local(w)});
    auto viewSync = s.client().referenceNames(s.ns(), w, s.prefix() + "_PiTViewSynchronized");
    ASSERT_EQ(viewSync.size(), 1u);

    const nlohmann::json before = s.state();
    EXPECT_EQ(s.call("ReplicationService", "ModifySettingsDefineState",
                     modifyArgs(4, second.path("SettingsState")))
                  .rc,
              4u)
        << "a newer PiT went first";
    EXPECT_EQ(s.call("ReplicationService", "ModifySettingsDefineState",
                     modifyArgs(4, first.path("SettingsState")))
                  .rc,
              4u)
        << "a viewed PiT went";
    EXPECT_TRUE(s.unchanged(before));

    auto unview =
        s.call("ReplicationService", "ModifyReplicaSynchronization",
               {param("Operation", u16(19)), param("Synchronization", CIMValue(viewSync.front())),
                param("Force", CIMValue(false)), param("WaitForCopyState", u16(0))});
    EXPECT_EQ(unview.rc, 0u);
    EXPECT_EQ(s.count(s.prefix() + "_PiTView"), 0u);
    EXPECT_EQ(s.references(pit, s.prefix() + "_ViewBasedOnPiT"), 0u);
    EXPECT_EQ(s.call("ReplicationService", "ModifySettingsDefineState",
                     modifyArgs(4, first.path("SettingsState")))
                  .rc,
              0u);
    EXPECT_EQ(s.count(s.prefix() + "_PiT"), 1u);
    EXPECT_EQ(s.count(s.prefix() + "_PiTGroup"), 1u) << "the group stays for the next prepare";
    EXPECT_EQ(s.invocations(), 8u) << "one request per call";
}

TEST(PiTMethods, GroupPiTRoadViewsEveryRecordedMember) {
    SimArray s(simtest::richArray());
    const CIMObjectPath cg = s.named("CIM_ReplicationGroup", "cg1");
    auto take = s.call("ReplicationService", "CreateSynchronizationAspect",
                       {param("SyncType", u16(7)), param("SourceGroup", CIMValue(cg))});
    ASSERT_EQ(take.rc, 0u);
    const CIMObjectPath cgPit = testsupport::settingData(take.path("SettingsState"));
    EXPECT_EQ(local(s.associators(cgPit, "CIM_SettingsDefineState", "CIM_ReplicationGroup")),
              std::vector<std::string>{local(cg)});

    s.hostWrite("ora_data2");  // after the PiT: the view must not show it
    auto view = s.call("ReplicationService", "ModifySettingsDefineState",
                       modifyArgs(5, take.path("SettingsState")));
    ASSERT_EQ(view.rc, 0u);
    const CIMObjectPath cv = view.path("TargetElement");
    auto members = s.associators(cv, "CIM_OrderedMemberOfCollection", s.prefix() + "_PiTView");
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(s.references(cv, s.prefix() + "_CGPiTViewSynchronized"), 1u);
    EXPECT_EQ(s.references(members[0], s.prefix() + "_PiTViewSynchronized"), 1u);
    EXPECT_EQ(s.associators(cgPit, s.prefix() + "_ViewBasedOnPiT", "").size(), 1u);

    // Restoring is a job by default; the data comes back when it completes.
    const nlohmann::json written = s.state();
    auto restore = s.call("ReplicationService", "ModifySettingsDefineState",
                          modifyArgs(32768, take.path("SettingsState")));
    ASSERT_EQ(restore.rc, 4096u);
    EXPECT_EQ(s.jobState(restore), 4);
    EXPECT_TRUE(s.unchanged(written));
    s.finishJobs();
    EXPECT_EQ(s.jobState(restore), 7);
    EXPECT_FALSE(s.unchanged(written));

    auto sync = s.client().referenceNames(s.ns(), cv, s.prefix() + "_CGPiTViewSynchronized");
    ASSERT_EQ(s.call("ReplicationService", "ModifyReplicaSynchronization",
                     {param("Operation", u16(19)), param("Synchronization", CIMValue(sync[0]))})
                  .rc,
              0u);
    EXPECT_EQ(s.count(s.prefix() + "_ConsistencyGroupPiTView"), 0u);
    EXPECT_EQ(s.count(s.prefix() + "_PiTView"), 1u) << "only the configured view is left";
    EXPECT_EQ(s.count(s.prefix() + "_ConsistencyGroupPiT"), 34u) << "the CG PiT stays";
}

TEST(PiTMethods, RefusalsAnswerTheirCodeAndChangeNothing) {
    using Args = std::function<std::vector<cim::CIMParamValue>(SimArray&)>;
    auto group = [](const char* base, const char* label, uint64_t size) -> Args {
        return [=](SimArray& s) {
            return std::vector<cim::CIMParamValue>{param("BaseVolume", CIMValue(s.volume(base))),
                                                   param("Label", CIMValue(label)),
                                                   param("RepositorySize", u64(size))};
        };
    };
    auto take = [](const char* volume) -> Args {
        return [=](SimArray& s) { return takeArgs(s.volume(volume)); };
    };
    auto takeGroup = [](const char* cg) -> Args {
        return [=](SimArray& s) {
            return std::vector<cim::CIMParamValue>{
                param("SyncType", u16(7)),
                param("SourceGroup", CIMValue(s.named("CIM_ReplicationGroup", cg)))};
        };
    };
    // A PiT of the rich array by its place among the PiTs.
    auto modify = [](unsigned op, size_t pit) -> Args {
        return [=](SimArray& s) { return modifyArgs(op, defineStateOf(s, pitOf(s, "_PiT", pit))); };
    };
    auto gone = [](SimArray& s) {
        CIMObjectPath v = s.volume("ora_data1");
        std::vector<cim::CIMKeyBinding> keys;
        for (auto k : v.getKeyBindings()) {
            if (k.getName().getString() == "DeviceID")
                k.setValue("60000000000000000000000000000000");
            keys.push_back(k);
        }
        v.setKeyBindings(keys);
        return v;
    };
    struct Row {
        const char* name;
        const char* method;
        Args args;
        uint32_t rc;
    };
    const Row rows[] = {
        {"label of 31 characters", "CreatePiTGroup",
         group("small_lun", "abcdefghijklmnopqrstuvwxyz01234", kGiB), 5},
        {"label with a space", "CreatePiTGroup", group("small_lun", "a b", kGiB), 5},
        {"label taken", "CreatePiTGroup", group("small_lun", "ORA_DATA1_SMIS_PG", kGiB), 5},
        {"repository under 32 MiB + base/5000", "CreatePiTGroup",
         group("small_lun", "small_lun_SMIS_PG", 32 * (1ULL << 20)), 5},
        {"fifth PiT group of a volume", "CreatePiTGroup", group("exch_log", "exch_log_5", kGiB), 4},
        {"pool short", "CreatePiTGroup", group("tiny_vol", "tiny_vol_SMIS_PG", 64ULL << 20), 4},
        {"unknown base volume", "CreatePiTGroup",
         [&](SimArray& s) {
             return std::vector<cim::CIMParamValue>{param("BaseVolume", CIMValue(gone(s))),
                                                    param("Label", CIMValue("x_SMIS_PG")),
                                                    param("RepositorySize", u64(kGiB))};
         },
         640003},
        {"repository size missing", "CreatePiTGroup",
         [](SimArray& s) {
             return std::vector<cim::CIMParamValue>{
                 param("BaseVolume", CIMValue(s.volume("small_lun"))),
                 param("Label", CIMValue("small_lun_PG"))};
         },
         5},
        {"repository size as text", "CreatePiTGroup",
         [](SimArray& s) {
             return std::vector<cim::CIMParamValue>{
                 param("BaseVolume", CIMValue(s.volume("small_lun"))),
                 param("Label", CIMValue("small_lun_PG")),
                 param("RepositorySize", CIMValue("1073741824"))};
         },
         5},
        {"a parameter the method lacks", "CreatePiTGroup",
         [&](SimArray& s) {
             auto args = group("small_lun", "small_lun_PG", kGiB)(s);
             args.push_back(param("Colour", CIMValue("blue")));
             return args;
         },
         5},
        {"SyncType 15 (throw-away)", "CreateSynchronizationAspect",
         [](SimArray& s) {
             auto args = takeArgs(s.volume("ora_data1"));
             args[1] = param("SyncType", u16(15));
             return args;
         },
         5},
        {"both sources", "CreateSynchronizationAspect",
         [&](SimArray& s) {
             auto args = takeGroup("cg1")(s);
             args.push_back(param("SourceElement", CIMValue(s.volume("ora_data1"))));
             return args;
         },
         5},
        {"no source", "CreateSynchronizationAspect",
         [](SimArray&) { return std::vector<cim::CIMParamValue>{param("SyncType", u16(7))}; }, 5},
        {"unknown source volume", "CreateSynchronizationAspect",
         [&](SimArray& s) { return takeArgs(gone(s)); }, 640003},
        {"volume without PiT group", "CreateSynchronizationAspect", take("small_lun"), 4},
        {"33rd PiT", "CreateSynchronizationAspect", take("ora_log"), 640004},
        {"group without members", "CreateSynchronizationAspect", takeGroup("cgempty"), 4},
        {"33rd CG PiT", "CreateSynchronizationAspect", takeGroup("cgfull"), 640004},
        {"unknown consistency group", "CreateSynchronizationAspect",
         [](SimArray& s) {
             CIMObjectPath cg = s.named("CIM_ReplicationGroup", "cg1");
             cg.setKeyBindings(
                 {cim::CIMKeyBinding("InstanceID", "nowhere", cim::CIMKeyBinding::STRING)});
             return std::vector<cim::CIMParamValue>{param("SyncType", u16(7)),
                                                    param("SourceGroup", CIMValue(cg))};
         },
         640010},
        {"Operation 55 (throw-away)", "ModifySettingsDefineState", modify(55, 0), 5},
        {"deleting a newer PiT", "ModifySettingsDefineState", modify(4, 1), 4},
        {"deleting a viewed PiT", "ModifySettingsDefineState", modify(4, 0), 4},
        {"a view while the base is off its preferred owner", "ModifySettingsDefineState",
         modify(5, 34), 4},
        {"re-pointing a view of another base", "ModifySettingsDefineState",
         [](SimArray& s) {
             auto args = modifyArgs(5, defineStateOf(s, pitOf(s, "_PiT", 2)));  // ora_log's
             auto sync = s.client().referenceNames(s.ns(), s.volume("ora_data1_V1"),
                                                   s.prefix() + "_PiTViewSynchronized");
             args.push_back(param("TargetElement", CIMValue(sync.at(0))));
             return args;
         },
         5},
        {"unresolved SettingsState", "ModifySettingsDefineState",
         [](SimArray& s) {
             CIMObjectPath sds = defineStateOf(s, pitOf(s, "_PiT", 0));
             sds.setKeyBindings(
                 {cim::CIMKeyBinding("ManagedElement", "X.Y=\"1\"", cim::CIMKeyBinding::REFERENCE),
                  sds.getKeyBindings()[1]});
             return modifyArgs(5, sds);
         },
         640010},
    };
    for (const Row& row : rows) {
        SimArray s(simtest::richArray());
        std::vector<cim::CIMParamValue> args = row.args(s);
        const nlohmann::json before = s.state();
        auto out = s.call("ReplicationService", row.method, args);
        EXPECT_EQ(out.rc, row.rc) << row.name;
        EXPECT_FALSE(out.has("Job")) << row.name;
        EXPECT_TRUE(s.unchanged(before)) << row.name;
    }
}

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
