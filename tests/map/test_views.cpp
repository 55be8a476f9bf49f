// PiT views: lookups both ways, restores, removals, throw-away calls, consistency-group views.
#include "testsupport/SimMapping.h"

namespace {

using namespace testsupport;

class Views : public ::testing::Test {
  protected:
    sim::TestServer sim{ViewConfig(), PlainHttp()};
    sim::Array state() { return sim.provider().currentState().arrays[0]; }
    // The map road up to the view and its properties, for PiT 2 of ora_data1.
    void Viewed(SimSnapshot& dev) {
        ForMap(dev, "ora_data1", PiTId(dev.array.id, 2), "iscsihost1");
        for (size_t i = 0; i < 3; ++i) ASSERT_EQ(MapRoad()[i].run(dev), MapRoad()[i].clean) << i;
    }
};

TEST_F(Views, UnknownPortsFailWithTheMessageOfTheirKind) {
    // clang-format off
    struct Row { const char *ports, *words; } rows[] = {
        {"2100DEADBEEF0000", "please check FC is supported"},
        {"iqn.2000-01.com.example:nohost", "please check iSCSI is supported"},
    };
    // clang-format on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.ports);
        sim.reset();
        SimSnapshot dev(sim);
        Viewed(dev);
        dev.snap.m_InitiatorPorts = r.ports;
        const size_t hosts = state().hosts.size();
        EXPECT_EQ(dev.snap.MapSnap(), 1);
        EXPECT_EQ(dev.snap.GetErrorCode(), 4098);
        const std::string message = "port[s] " + std::string(r.ports) + " supplied, " + r.words;
        EXPECT_NE(dev.snap.GetErrorMsg().find(message), std::string::npos)
            << dev.snap.GetErrorMsg();
        const sim::RequestRecord expose = LastCall(sim, "ExposePaths");
        EXPECT_TRUE(Param(expose, "ProtocolControllers").null);
        EXPECT_EQ(Param(expose, "InitiatorPortIDs").elements, std::vector<std::string>{r.ports});
        EXPECT_EQ(state().findMapping(dev.snap.m_TargetDev), nullptr);
        EXPECT_EQ(state().hosts.size(), hosts) << "no host is made";
    }
}

// A restore watches its job; a known view is re-attached, one whose answer was lost found.
TEST_F(Views, ModifyPiTRestoresAndMakesOrReattachesTheView) {
    // clang-format off
    // newViews: -1: the known view stays the target
    struct Row {
        const char* name; unsigned short operation;
        std::function<void(sim::TestServer&, SimSnapshot&)> arrange; int expected; size_t calls;
        int newViews;
    } rows[] = {
        {"restore, completed job", 32768, nullptr, 22, 1, 0},
        {"restore, job ends in Exception", 32768, [](sim::TestServer& s, SimSnapshot&) { s.failNextJobs(1, 10); }, 23, 1, 0},
        {"view of a PiT with two define states", 5, [](sim::TestServer& s, SimSnapshot& d) { s.provider().control({{"action", "extraDefineState"}, {"pit", d.snap.m_PiTName}}); }, 6, 0, 0},
        {"a known view", 5, [](sim::TestServer&, SimSnapshot& d) { d.snap.m_TargetDev = d.volume("ora_data1_SV_0001").uuid; }, 5, 1, -1},
        {"answer cut after the view was made", 5, [](sim::TestServer& s, SimSnapshot&) { s.addFault(sim::FaultKind::Truncated, 1, {"InvokeMethod", "ModifySettingsDefineState", ""}); }, 5, 1, 1},
        {"answered without doing anything", 5, [](sim::TestServer& s, SimSnapshot&) { s.addFault(sim::FaultKind::ReturnValue, 1, {"InvokeMethod", "ModifySettingsDefineState", ""}); }, 6, 1, 0},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        sim.reset();
        SimSnapshot dev(sim);
        ForMap(dev, "ora_data1", PiTId(dev.array.id, 2));
        dev.snap.m_PiTOperation = r.operation == 32768 ? 32768 : 7;
        if (r.arrange) r.arrange(sim, dev);
        const std::string known = dev.snap.m_TargetDev;
        const size_t views = state().views.size();
        sim.log().clear();
        EXPECT_EQ(dev.snap.ModifyPiT(r.operation), r.expected);
        EXPECT_EQ(CountRequests(sim, "InvokeMethod"), r.calls);
        const bool job = CountRequests(sim, "GetInstance", "NETAPP_ConcreteJob") > 0;
        EXPECT_EQ(job, r.operation == 32768) << "only a restore's job is read";
        ASSERT_EQ(state().views.size(), views + (r.newViews > 0 ? 1 : 0));
        if (r.newViews < 0) {
            EXPECT_EQ(dev.snap.m_TargetDev, known);
            EXPECT_EQ(state().findView(known)->pit, dev.snap.m_PiTName);
            EXPECT_NE(Param(LastCall(sim, "ModifySettingsDefineState"), "TargetElement")
                          .value.find("_PiTViewSynchronized"),
                      std::string::npos);
            continue;
        }
        EXPECT_EQ(dev.snap.m_SnapStatus, r.expected);
        EXPECT_EQ(dev.snap.m_TargetDev, r.newViews ? state().views.back().volume : "");
        EXPECT_EQ(dev.snap.IsPiTAttached(), r.newViews);
    }
}

TEST_F(Views, RemovalAnswersWithJobsAndRefusesAMappedView) {
    // clang-format off
    struct Row { const char* name; bool jobs; int failJobs; bool mapped; unsigned int wrapper; } rows[] = {
        {"at once", false, 0, false, 0},
        {"completed job", true, 0, false, 0},
        {"job ends in Exception", true, 1, false, 10},
        {"view still mapped", false, 0, true, 640001},
    };
    // clang-format on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        sim.reset();
        SimSnapshot dev(sim);
        Viewed(dev);
        ASSERT_EQ(r.mapped ? dev.snap.MapSnap() : 0, 0);
        sim.provider().setJobMode("ModifyReplicaSynchronization", r.jobs);
        if (r.failJobs) sim.failNextJobs(r.failJobs, 10);
        std::vector<std::string> args = {dev.array.id,         "19", dev.snap.m_SourceDevPath,
                                         dev.snap.m_TargetDev, "0",  "0"};
        OpenConnection open(dev);
        EXPECT_EQ(dev.snap.ModifyReplicaSynchronization(open.conn(), args, false), r.wrapper);
        EXPECT_EQ(state().findVolume(dev.snap.m_TargetDev) == nullptr, r.wrapper == 0);
        const auto params = LastCall(sim, "ModifyReplicaSynchronization").params;
        ASSERT_EQ(params.size(), 5u);
        EXPECT_NE(params[1].value.find("_PiTViewSynchronized"), std::string::npos);
        EXPECT_EQ(params[2].value, "FALSE");
    }
}

TEST_F(Views, ThrowAwayCallsOfAFlakyProviderChangeNothing) {
    TalonConfig talon("RK_PEGASUS_FAULT_RETRY = 1");
    SimSnapshot dev(sim);
    ForMap(dev, "ora_data1", PiTId(dev.array.id, 2), "fchost1");
    const size_t views = state().views.size();
    for (const auto& step : MapRoad()) EXPECT_EQ(step.run(dev), step.clean) << step.name;
    EXPECT_EQ(state().views.size(), views + 1);
    for (const auto& step : UnmapRoad()) EXPECT_EQ(step.run(dev), step.clean) << step.name;
    EXPECT_EQ(state().views.size(), views);
    EXPECT_EQ(state().findMapping(dev.snap.m_TargetDev), nullptr);
    std::map<std::string, std::vector<uint32_t>> answers;
    for (const sim::RequestRecord& r : sim.requests())
        if (r.operation == "InvokeMethod" && r.returnValue)
            answers[r.method].push_back(*r.returnValue);
    // The repeat of HidePaths finds nothing mapped and is not sent.
    const std::map<std::string, std::vector<uint32_t>> expected = {
        {"ModifySettingsDefineState", {5, 0}},
        {"ExposePaths", {5, 0}},
        {"HidePaths", {0}},
        {"ModifyReplicaSynchronization", {5, 0}}};
    EXPECT_EQ(answers, expected);
}

TEST_F(Views, AGroupViewServesEveryMemberAndGoesAsAWhole) {
    SimSnapshot first(sim);
    ForMap(first, "exch_log", PiTId(first.array.id, 4));
    first.snap.m_UseConsistencyGroup = true;
    first.snap.m_ConsistencyGroupName = "cg1";
    const size_t groupViews = state().cgPitViews.size();
    ASSERT_EQ(first.snap.ModifyPiT(5), 5);
    ASSERT_EQ(state().cgPitViews.size(), groupViews + 1);
    const sim::CgPiTView made = state().cgPitViews.back();
    EXPECT_EQ(made.memberViews.size(), 3u);
    EXPECT_EQ(first.snap.m_TargetDev, made.label) << "a group view is named by its ElementName";
    std::string name, path;
    EXPECT_EQ(first.snap.checkCGPiTViewCreated(name, path), 0);
    EXPECT_EQ(name, made.label);
    EXPECT_EQ(path, first.snap.m_TargetDevPath);
    SimSnapshot outsider(sim);
    ForMap(outsider, "ora_log", first.snap.m_PiTName);
    outsider.snap.m_TargetDev = "stale";
    EXPECT_EQ(outsider.snap.GetTargetPiTView(path), 6) << "a volume outside the group";
    EXPECT_TRUE(outsider.snap.m_TargetDev.empty());
    // One member of three mapped to this host keeps the group view.
    SimSnapshot dev(sim);
    ForMap(dev, "file_share", first.snap.m_PiTName, "fchost1");
    dev.snap.m_UseConsistencyGroup = true;
    ASSERT_EQ(dev.snap.GetTargetPiTView(path), 5);
    ASSERT_NE(state().findView(dev.snap.m_TargetDev), nullptr);
    EXPECT_EQ(state().findView(dev.snap.m_TargetDev)->base, dev.snap.m_SourceDev);
    EXPECT_TRUE(dev.snap.checkCGPiTViewMappings());
    ASSERT_EQ(dev.snap.MapSnap(), 0);
    EXPECT_FALSE(dev.snap.checkCGPiTViewMappings());
    ASSERT_EQ(dev.snap.UnmapSnap(), 0);
    EXPECT_TRUE(dev.snap.checkCGPiTViewMappings());
    dev.snap.m_PiTOperation = 14;
    EXPECT_EQ(dev.snap.PiTViewSync(19, 0), 20);
    const auto params = LastCall(sim, "ModifyReplicaSynchronization").params;
    ASSERT_GE(params.size(), 2u);
    EXPECT_NE(params[1].value.find("_CGPiTViewSynchronized"), std::string::npos);
    EXPECT_EQ(state().cgPitViews.size(), groupViews) << "the whole group view is gone";
    for (const std::string& w : made.memberViews) EXPECT_EQ(state().findVolume(w), nullptr);
}

TEST_F(Views, AViewLeadsBackToItsPiTOnlyFromItsOwnSource) {
    struct Row {
        const char* view;
        const char* source;
        bool failed;
    };
    const Row rows[] = {{"ora_data1_SV_0001", "ora_data1", false},
                        {"ora_data1_SV_0001", "ora_data2", true},
                        {"cg1_m1", "exch_log", true},
                        {"ora_data2", "ora_data1", true}};
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        dev.snap.m_LsiCimUtil.m_pLogger = &dev.info;
        OpenConnection open(dev);
        const std::string view = open.volumePath(dev.volume(r.view).uuid);
        std::string name, path;
        EXPECT_EQ(dev.snap.m_LsiCimUtil.GetPiTElmtNameFromTarget(
                      open.conn(), dev.volume(r.source).uuid, view, name, path),
                  r.failed)
            << r.view << " of " << r.source;
        EXPECT_EQ(name, r.failed ? "" : PiTId(dev.array.id, 1)) << r.view;
    }
}

// A revert needs no group view where a map needs one; provider failures are contained.
TEST_F(Views, ChecksOfAViewAnswerAndContainFailures) {
    enum Check { Attached, Created, Mappings };
    // pit: 0: none given; operation: 0: none; fails: every such request fails; empty: none
    struct Row {
        const char* name;
        Check check;
        int pit;
        bool group;
        int operation;
        sim::RequestKey fails;
        int expected;
    };
    // clang-format off
    const Row rows[] = {
        {"viewed PiT", Attached, 1, false, 0, {}, 1},
        {"PiT without view", Attached, 2, false, 0, {}, 0},
        {"unknown PiT", Attached, 9, false, 0, {}, 0},
        {"viewed CG PiT", Attached, 3, true, 0, {}, 1},
        {"CG PiT without view", Attached, 4, true, 0, {}, 0},
        {"no PiT name", Attached, 0, false, 0, {}, 0},
        {"map: no group view", Created, 4, false, 14, {}, 1},
        {"revert: no group view", Created, 4, false, 32768, {}, 1},
        {"map: group view needed", Mappings, 4, false, 14, {}, 0},
        {"revert: no group view needed", Mappings, 4, false, 32768, {}, 1},
        {"created: names fail", Created, 3, true, 0, {"EnumerateInstanceNames", "", ""}, -1},
        {"created: instances fail", Created, 3, true, 0, {"EnumerateInstances", "", ""}, -1},
        {"mappings: names fail", Mappings, 3, true, 0, {"EnumerateInstanceNames", "", ""}, 0},
        {"mappings: associations fail", Mappings, 3, true, 0, {"AssociatorNames", "", ""}, 0},
        {"attached: instances fail", Attached, 3, true, 0, {"EnumerateInstances", "", ""}, 0},
        {"attached: associations fail", Attached, 3, true, 0, {"AssociatorNames", "", ""}, 0},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        SimSnapshot dev(sim);
        dev.snap.m_SourceDev = dev.volume("exch_log").uuid;
        if (r.pit) dev.snap.m_PiTName = PiTId(dev.array.id, r.pit);
        dev.snap.m_InitiatorPorts = HostPorts(dev.array, "fchost1");
        dev.snap.m_UseConsistencyGroup = r.group;
        if (r.operation) dev.snap.m_PiTOperation = r.operation;
        const bool fails = !r.fails.operation.empty();
        if (fails) sim.failCim(cim::CIM_ERR_FAILED, "broken", -1, r.fails);
        std::string name, path;
        const int result = r.check == Created    ? dev.snap.checkCGPiTViewCreated(name, path)
                           : r.check == Mappings ? int(dev.snap.checkCGPiTViewMappings())
                                                 : dev.snap.IsPiTAttached();
        EXPECT_EQ(result, r.expected);
        EXPECT_EQ(dev.logged("Caught CIMException: CIM_ERR_FAILED"), fails);
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected());
        sim.faults().clear();
    }
}

}  // namespace
