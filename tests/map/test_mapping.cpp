// Mapping a PiT view to a host and back, the mapping checks, and the wrappers' refusals.
#include "testsupport/SimMapping.h"

namespace {

using namespace testsupport;

const char* const kNoVolume = "60000000000000000000000000000FFF";
const char* const kNoArray = "60000000000000000000000000000BAD";

class Mapping : public ::testing::Test {
  protected:
    sim::TestServer sim{ViewConfig(), PlainHttp()};
    sim::Array state() { return sim.provider().currentState().arrays[0]; }
    // Runs the steps, checking each result; requests and connections per step.
    std::vector<size_t> Run(SimSnapshot& dev, const std::vector<RoadStep>& steps) {
        std::vector<size_t> requests;
        for (const auto& step : steps) {
            sim.log().clear();
            EXPECT_EQ(step.run(dev), step.clean) << step.name;
            EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << step.name;
            EXPECT_EQ(sim.connectionCount(), 1u) << step.name;
            requests.push_back(sim.requests().size());
        }
        return requests;
    }
    // "{SYS}", "{GONE}" (a volume not on the array), "{VIEW}" (PiT 1's), "path:"/"uuid:" + label.
    std::string Fill(SimSnapshot& dev, const std::string& text) {
        if (text == "{SYS}") return dev.array.id;
        if (text == "{VIEW}") return dev.volume("ora_data1_SV_0001").uuid;
        if (text.rfind("uuid:", 0) == 0) return dev.volume(text.substr(5)).uuid;
        if (text != "{GONE}" && text.rfind("path:", 0) != 0) return text;
        OpenConnection open(dev);
        if (text != "{GONE}") return open.volumePath(dev.volume(text.substr(5)).uuid);
        std::string path = open.volumePath(dev.volume("ora_log").uuid);
        return path.replace(path.find(dev.volume("ora_log").uuid), 32, kNoVolume);
    }
};

TEST_F(Mapping, OneMapAndUnmapPerHost) {
    // mapRequests: ModifyPiT, ElementName, Access, MapSnap
    // clang-format off
    struct Row { const char *host, *otherHost; std::vector<size_t> mapRequests; std::vector<size_t> unmapRequests; } rows[] = {
        // clang-format on
        {"iscsihost1", "fchost1", {7, 2, 2, 10}, {12, 4}},
        {"fchost1", "iscsihost1", {7, 2, 2, 22}, {34, 4}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.host);
        sim.reset();
        SimSnapshot dev(sim);
        ForMap(dev, "ora_data1", PiTId(dev.array.id, 2), r.host);
        const size_t viewsBefore = state().views.size();
        EXPECT_EQ(Run(dev, MapRoad()), r.mapRequests);
        const sim::Array a = state();
        ASSERT_EQ(a.views.size(), viewsBefore + 1);
        const sim::View& view = a.views.back();
        EXPECT_EQ(view.volume + view.pit + view.base,
                  dev.snap.m_TargetDev + dev.snap.m_PiTName + dev.snap.m_SourceDev);
        const sim::Volume* w = a.findVolume(view.volume);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->label, "nightly_snap");
        EXPECT_EQ(w->access, 3);
        ASSERT_NE(a.findMapping(view.volume), nullptr);
        EXPECT_EQ(a.findMapping(view.volume)->target, a.findHost(r.host)->ref);
        EXPECT_EQ(LunsSeenBy(sim, dev.snap.m_InitiatorPorts).count(view.volume), 1u);
        EXPECT_EQ(LunsSeenBy(sim, HostPorts(a, r.otherHost)).count(view.volume), 0u);
        const sim::RequestRecord expose = LastCall(sim, "ExposePaths");
        EXPECT_TRUE(Param(expose, "InitiatorPortIDs").null);
        const auto& spcs = Param(expose, "ProtocolControllers").elements;
        ASSERT_EQ(spcs.size(), 1u);
        EXPECT_NE(spcs[0].find(a.findHost(r.host)->ref), std::string::npos);
        EXPECT_EQ(Run(dev, UnmapRoad()), r.unmapRequests);
        EXPECT_EQ(state().views.size(), viewsBefore);
        EXPECT_EQ(state().pits.size(), a.pits.size()) << "the PiT stays";
        sim.log().clear();
        EXPECT_EQ(dev.snap.UnmapSnap(), 0) << "again";
        EXPECT_EQ(CountRequests(sim, "InvokeMethod"), 0u);
    }
}

// What the mapping check answers, and each wrapper's refusals before its method is sent.
TEST_F(Mapping, TheCheckAnswersAndTheWrappersRefuseBeforeCalling) {
    enum Call { LunMapped, Define, Sync, Expose, Hide };
    // clang-format off
    // Define args: key=value pairs over a valid call; failHttp, failCim: on every association query
    struct Row { const char* name; Call call; std::vector<std::string> args; int failHttp, failCim; unsigned int expected; } rows[] = {
        {"this host", LunMapped, {"{SYS}", "path:ora_data1", kFc}, 0, 0, 0},
        {"this host's group, by uuid", LunMapped, {"{SYS}", "uuid:exch_db", kFc}, 0, 0, 0},
        {"another host", LunMapped, {"{SYS}", "uuid:ora_data1", kIscsi}, 0, 0, 650006},
        {"any host when no ports", LunMapped, {"{SYS}", "path:small_lun", "null"}, 0, 0, 0},
        {"not mapped", LunMapped, {"{SYS}", "uuid:exch_log", kFc}, 0, 0, 650007},
        {"not mapped, no ports", LunMapped, {"{SYS}", "path:exch_log", "null"}, 0, 0, 650007},
        {"unknown uuid", LunMapped, {"{SYS}", kNoVolume, kFc}, 0, 0, 650008},
        {"path of a removed volume", LunMapped, {"{SYS}", "{GONE}", kFc}, 0, 0, 650008},
        {"unknown array", LunMapped, {kNoArray, "uuid:ora_data1", kFc}, 0, 0, 650015},
        {"too few arguments", LunMapped, {"{SYS}", "x"}, 0, 0, 650009},
        {"provider failure", LunMapped, {"{SYS}", "uuid:ora_data1", kFc}, 0, cim::CIM_ERR_FAILED, 1},
        {"rejected login is no answer", LunMapped, {"{SYS}", "uuid:ora_data1", kFc}, 401, 0, 1},
        {"define: no operation", Define, {"Operation="}, 0, 0, 5},
        {"define: unknown source", Define, {"sourceElement=no_such_volume"}, 0, 0, 650015},
        {"define: unknown PiT", Define, {"targetSyncData=" + PiTId(state().id, 9)}, 0, 0, 650015},
        {"define: target without a view link", Define, {"targetElement=uuid:ora_log"}, 0, 0, 650015},
        {"sync: four arguments", Sync, {"{SYS}", "19", "uuid:ora_data1", "{VIEW}"}, 0, 0, 650009},
        {"sync: replica that is no view", Sync, {"{SYS}", "19", "uuid:ora_data1", "uuid:ora_data2", "0", "0"}, 0, 0, 650015},
        {"expose: two accesses, one volume", Expose, {"{SYS}", "{VIEW}", kFc, "null", "2,2"}, 0, 0, 5},
        {"hide: one argument", Hide, {"{SYS}"}, 0, 0, 650009},
        {"hide: not mapped to the host", Hide, {"{SYS}", "{VIEW}", kFc, "null", "null"}, 0, 0, 650007},
        {"expose: provider failure", Expose, {"{SYS}", "{VIEW}", kFc, "null", "2"}, 0, cim::CIM_ERR_FAILED, 1},
        {"hide: provider failure", Hide, {"{SYS}", "{VIEW}", kFc, "null", "null"}, 0, cim::CIM_ERR_FAILED, 1},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        sim.log().clear();
        SimSnapshot dev(sim);
        std::vector<std::string> args;
        for (const std::string& a : r.args) args.push_back(Fill(dev, a));
        if (r.failHttp) sim.failHttp(r.failHttp, -1, {"AssociatorNames", "", ""});
        if (r.failCim) sim.failCim(r.failCim, "broken", -1, {"AssociatorNames", "", ""});
        OpenConnection open(dev);
        unsigned int result = 0;
        if (r.call == Define) {
            std::map<std::string, std::string> params = {
                {"SystemName", dev.array.id},
                {"Operation", "5"},
                {"sourceElement", "ora_data1"},
                {"targetSyncData", PiTId(dev.array.id, 2)}};
            for (const std::string& a : r.args) {
                const std::string key = a.substr(0, a.find('=')), value = a.substr(key.size() + 1);
                if (value.empty())
                    params.erase(key);
                else
                    params[key] = Fill(dev, value);
            }
            cim::Array<cim::CIMParamValue> out;
            result = dev.snap.ModifySettingDefineState(open.conn(), params, out);
        } else {
            result = r.call == LunMapped ? dev.snap.IsLunMapped(open.conn(), args)
                     : r.call == Sync
                         ? dev.snap.ModifyReplicaSynchronization(open.conn(), args, false)
                     : r.call == Expose ? dev.snap.ExposePaths(open.conn(), args)
                                        : dev.snap.HidePaths(open.conn(), args);
        }
        EXPECT_EQ(result, r.expected);
        EXPECT_EQ(CountRequests(sim, "InvokeMethod"), 0u);
        EXPECT_EQ(dev.logged("Caught CIMException: CIM_ERR_FAILED"), r.failCim != 0);
        sim.faults().clear();
    }
}

// The mapping translated for the host, the status and the array: gone only when answered so.
TEST_F(Mapping, MappingStatusAndArrayTellGoneFromUnknown) {
    enum Call { SnapMapped, Status };
    // expected: of IsSnapMapped or GetSnapStatus; errorCode -1: not checked; arrayCheck: of
    // CheckArrayExistence after the status
    // clang-format off
    struct Row {
        const char* name; Call call; std::string system, target, ports; bool down;
        int failHttp, failCim, expected, errorCode, hostError, arrayCheck;
    } rows[] = {
        {"mapped here", SnapMapped, "{SYS}", "path:ora_data2", kFc, false, 0, 0, 9, 0, 0, 0},
        {"mapped to the iscsi host, asked with fc ports", SnapMapped, "{SYS}", "uuid:small_lun", kFc, false, 0, 0, 10, 0, 0, 0},
        {"not mapped", SnapMapped, "{SYS}", "path:exch_log", kFc, false, 0, 0, 14, 0, 0, 0},
        {"missing target", SnapMapped, "{SYS}", kNoVolume, kFc, false, 0, 0, 0, 60542, 0, 0},
        {"removed target path", SnapMapped, "{SYS}", "{GONE}", kFc, false, 0, 0, 0, 60542, 0, 0},
        {"provider failure", SnapMapped, "{SYS}", "uuid:ora_data1", kFc, false, 0, cim::CIM_ERR_FAILED, 0, 3, 60541, 0},
        {"no ports", SnapMapped, "{SYS}", "uuid:ora_data1", "", false, 0, 0, 0, 0, 0, 0},
        {"present", Status, "{SYS}", "uuid:exch_log", "", false, 0, 0, 0, -1, -1, 0},
        {"volume gone", Status, "{SYS}", kNoVolume, "", false, 0, 0, 24, -1, -1, 2},
        {"unknown array", Status, kNoArray, "uuid:exch_log", "", false, 0, 0, 24, -1, -1, 1},
        {"provider down", Status, "{SYS}", "uuid:exch_log", "", true, 0, 0, 0, -1, -1, 1},
        {"rejected login", Status, "{SYS}", "uuid:exch_log", "", false, 401, 0, 0, -1, -1, 1},
        {"no volume given", Status, "{SYS}", "", "", false, 0, 0, 0, -1, -1, 1},
    };
    // clang-format on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        SimSnapshot dev(sim);
        dev.snap.m_SystemName = Fill(dev, r.system);
        const std::string target = Fill(dev, r.target);
        (target.find(':') == std::string::npos ? dev.snap.m_TargetDev : dev.snap.m_TargetDevPath) =
            target;
        if (r.call == Status) dev.snap.m_SourceDev = target;
        dev.snap.m_InitiatorPorts = r.ports;
        if (r.down) dev.unreachable();
        if (r.failHttp) sim.failHttp(r.failHttp, -1);
        if (r.failCim) sim.failCim(r.failCim, "broken", -1, {"AssociatorNames", "", ""});
        EXPECT_EQ(r.call == Status ? dev.snap.GetSnapStatus() : dev.snap.IsSnapMapped(),
                  r.expected);
        EXPECT_TRUE(r.errorCode < 0 || dev.snap.GetErrorCode() == r.errorCode);
        EXPECT_TRUE(r.hostError < 0 || dev.info.errorCode() == r.hostError);
        EXPECT_EQ(r.call == Status ? dev.snap.CheckArrayExistence() : 0, r.arrayCheck);
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected());
        sim.faults().clear();
    }
}

TEST_F(Mapping, OperationsWithoutTheirInputsNeverConnect) {
    SimSnapshot dev(sim);
    dev.snap.m_TargetDev = dev.volume("ora_data1_SV_0001").uuid;
    dev.snap.m_SnapStatus = RKSO::SNAP_STATUS_MAPPED;
    EXPECT_EQ(dev.snap.MapSnap(), 1) << "no ports, no access";
    EXPECT_EQ(dev.snap.ModifyPiT(32768), 23) << "no operation in progress";
    dev.snap.m_SnapStatus = RKSO::SNAP_STATUS_MAPPED;
    EXPECT_EQ(dev.snap.PiTViewSync(19, 0), 21) << "no source";
    EXPECT_EQ(dev.snap.m_SnapStatus, RKSO::SNAP_STATUS_MAPPED) << "removal keeps the status";
    EXPECT_TRUE(sim.requests().empty());
}

}  // namespace
