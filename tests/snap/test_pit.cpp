// PiT preparation, PiT groups and PiTs: each stage's refusals, answers and round trips.
#include <cim/CIMObjectPath.h>
#include "testsupport/SimSnapshot.h"

namespace {

using namespace testsupport;

const uint64_t kGiB = 1073741824;

std::string ClassOf(const std::string& path) {
    return cim::CIMObjectPath::parse(path).getClassName().getString();
}

// A device prepared for a PiT of the volume labelled label.
void Prepared(SimSnapshot& dev, const std::string& label) {
    dev.forPiT(label);
    ASSERT_EQ(dev.snap.PreparePiT(), 1) << label;
}

// A device prepared for a PiT of small_lun whose group exists; the log cleared.
void Grouped(sim::TestServer& sim, SimSnapshot& dev) {
    Prepared(dev, "small_lun");
    ASSERT_EQ(dev.snap.CreatePiTGroup(), 0);
    sim.log().clear();
}

TEST(PiTRoad, GroupThenPiTUnderEveryPreset) {
    for (const std::string preset : {"LSISSI", "DCIM", "NETAPP"}) {
        SCOPED_TRACE(preset);
        sim::TestServer sim(SimConfig(preset), PlainHttp());
        SimSnapshot dev(sim);
        Prepared(dev, "small_lun");
        EXPECT_EQ(ClassOf(dev.snap.m_ServicePath), preset + "_ReplicationService");
        EXPECT_EQ(cim::CIMObjectPath::parse(dev.snap.m_ServicePath).getNameSpace().getString(),
                  sim.arrayNamespace());
        EXPECT_EQ(ClassOf(dev.snap.m_SourceDevPath), preset + "_StorageVolume");
        EXPECT_EQ(sim.requests().size(), 6u) << "round trips of PreparePiT";
        EXPECT_EQ(sim.connectionCount(), 1u);
        sim.log().clear();
        EXPECT_EQ(dev.snap.CreatePiTGroup(), 0);
        sim::Array a = sim.provider().currentState().arrays[0];
        ASSERT_EQ(a.pitGroups.size(), 1u);
        EXPECT_EQ(a.pitGroups[0].baseVolume, dev.volume("small_lun").uuid);
        EXPECT_EQ(sim.requests().size(), 4u) << "round trips of CreatePiTGroup";
        EXPECT_EQ(Sent(Calls(sim, "CreatePiTGroup").at(0)),
                  "BaseVolume=ref Label=string:small_lun_SMIS_PG RepositorySize=uint64:429496729")
            << "40 % of 1 GiB";
        sim.log().clear();
        EXPECT_EQ(dev.snap.CreatePiT(), 5);
        EXPECT_EQ(dev.snap.GetErrorCode(), 0);
        a = sim.provider().currentState().arrays[0];
        ASSERT_EQ(a.pits.size(), 1u);
        EXPECT_EQ(dev.snap.m_PiTName, a.pits[0].id) << "InstanceID = ElementName";
        EXPECT_NE(dev.snap.m_PiTPath.find(a.pits[0].id), std::string::npos);
        cim::CIMObjectPath parsed;  // the identity never reads as a path
        EXPECT_FALSE(SmisAction::ParsePathOrName(dev.snap.m_PiTName, parsed));
        // One PiT of one volume: the service lookup and the method, on one connection.
        EXPECT_EQ(sim.requests().size(), 2u);
        EXPECT_EQ(CountRequests(sim, "EnumerateInstanceNames", "SNIA_ReplicationService"), 1u);
        EXPECT_EQ(Sent(Calls(sim, "CreateSynchronizationAspect").at(0)),
                  "Name=string:snap1 SyncType=uint16:7 Mode=null SourceElement=ref "
                  "SourceGroup=null Consistency=null");
        EXPECT_EQ(sim.connectionCount(), 1u);
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected());
    }
}

enum Stage { kPrepare, kGroup, kPiT };
enum Reach { kNothing, kReads, kMethod };  // the furthest a stage's requests went

// Each stage of the PiT road with bad input or a refusing provider; a failed stage names nothing.
TEST(PiTRoad, EachStageRefusesBadInputAndReportsTheProvidersAnswer) {
    const int kAny = -9;  // snapshot error not checked
    const std::string name22 = "vol_22_characters_abcd", name23 = "vol_23_characters_abcde";
    using Config = std::function<void(sim::Config&)>;
    using Arrange = std::function<void(sim::TestServer&, SimSnapshot&)>;
    auto set = [](std::function<void(LSISnapshot&)> f) {
        return [f](sim::TestServer&, SimSnapshot& d) { f(d.snap); };
    };
    auto answered = [](uint32_t value) {
        return [value](sim::TestServer& s, SimSnapshot&) {
            s.failReturnValue(value, 1, {"InvokeMethod", "CreateSynchronizationAspect", ""});
        };
    };
    auto fails = [](const char* op, const char* cls) {
        return [=](sim::TestServer& s, SimSnapshot&) {
            s.failCim(cim::CIM_ERR_FAILED, "broken", 1, {op, "", cls});
        };
    };
    auto jobs = [](bool vanish) {
        return [vanish](sim::Config& c) {
            c.jobs.methods["CreatePiTGroup"] = true;
            c.jobs.vanish = vanish;
        };
    };
    // trace: a line of the device log; hostText: start of the host's error text; pool: pool of the
    // source's repository on success repositoryHost: the host's repository percentage; bytes: the
    // new group's repository
    struct Row {
        const char* name;
        Stage stage;
        std::string volume;
        Config config;
        Arrange arrange;
        int result, snapError, hostError;
        Reach reach;
        std::string trace;
        std::string hostText;
        const char* pool;
        const char* repositoryHost = nullptr;
        uint64_t bytes = 0;
    };
    auto repository = [](const char* percent) {
        return [percent](sim::TestServer&, SimSnapshot& d) {
            d.info.setConfig("SMCONFIG_PITGROUP_REPOSITORY_SIZE_KEY", percent);
        };
    };
    // clang-format off
    const Row rows[] = {
        {"prepare: not a PiT operation", kPrepare, "ora_log", nullptr, set([](LSISnapshot& s) { s.m_PiTOperation = 99; }), 2, 0, 0, kNothing, "Dumping Parameters", "", nullptr},
        {"prepare: no snapshot name", kPrepare, "ora_log", nullptr, set([](LSISnapshot& s) { s.m_SnapName.clear(); }), 2, 0, 0, kNothing, "Invalid Parameters", "", nullptr},
        {"prepare: no system", kPrepare, "ora_log", nullptr, set([](LSISnapshot& s) { s.m_SystemName.clear(); }), 2, 0, 0, kNothing, "Invalid Parameters", "", nullptr},
        // 60542 and 60552 are logged; only a connection error reaches the host.
        {"prepare: unknown source", kPrepare, "ora_log", nullptr, set([](LSISnapshot& s) { s.m_SourceDev = "600A0000000000000000000000000BAD"; }), 2, 60542, 0, kReads, "Can not find source volume 600A0000000000000000000000000BAD", "", nullptr},
        {"prepare: missing group, group only", kPrepare, "ora_log", nullptr, set([](LSISnapshot& s) { s.m_DiskGroupName = "NoSuchDG"; s.m_UseDiskGroupOnly = true; }), 2, 60552, 0, kReads, "Can not find Disk Group [NoSuchDG] for Snap/Clone operation", "", nullptr},
        {"prepare: missing group falls back to the source's pool", kPrepare, "ora_log", nullptr, set([](LSISnapshot& s) { s.m_DiskGroupName = "NoSuchDG"; }), 1, 0, 0, kReads, "Supplied DiskGroup [NoSuchDG] not found, Going to use Default Disk Group for PiT", "", "DG1"},
        {"prepare: requested group", kPrepare, "ora_log", nullptr, set([](LSISnapshot& s) { s.m_DiskGroupName = "DG2"; }), 1, 0, 0, kReads, "Going to use Disk Group [DG2] for PiT operation", "", "DG2"},
        {"prepare: configuration service unreadable", kPrepare, "ora_log", nullptr, fails("EnumerateInstanceNames", "CIM_StorageConfigurationService"), 2, 0, 0, kReads, "Class CIM_StorageConfigurationService for system", "", nullptr},
        {"prepare: replication service unreadable", kPrepare, "ora_log", nullptr, fails("EnumerateInstanceNames", "CIM_ReplicationService"), 2, 0, 0, kReads, "Class CIM_ReplicationService for system", "", nullptr},
        {"prepare: pool read fails", kPrepare, "ora_log", nullptr, fails("AssociatorNames", ""), 2, 0, 0, kReads, "SMIS::PrepareCreateReplica", "", nullptr},
        {"group: service unreadable", kGroup, "ora_log", nullptr, fails("EnumerateInstanceNames", "SNIA_ReplicationService"), 650015, kAny, 0, kReads, "Class SNIA_ReplicationService for system", "", nullptr},
        {"prepare: no CIMOM", kPrepare, "ora_log", nullptr, [](sim::TestServer&, SimSnapshot& d) { d.unreachable(); }, 2, 3, 60541, kNothing, "Connection to CIMOM failed", "", nullptr},
        {"group: no system", kGroup, "ora_log", nullptr, set([](LSISnapshot& s) { s.m_SystemName.clear(); }), -1, kAny, 0, kNothing, "Insufficient Parameters.", "", nullptr},
        {"group: no source", kGroup, "ora_log", nullptr, set([](LSISnapshot& s) { s.m_SourceDev.clear(); }), -1, kAny, 0, kNothing, "Insufficient Parameters.", "", nullptr},
        {"group: no CIMOM", kGroup, "ora_log", nullptr, [](sim::TestServer&, SimSnapshot& d) { d.unreachable(); }, -1, kAny, 60541, kNothing, "Connection to CIMOM failed", "", nullptr},
        {"group: label of 31 characters", kGroup, name23, nullptr, nullptr, 5, kAny, 60540, kReads, "PiTGroup Name[vol_23_characters_abcde_SMIS_PG] exceeds 30 characters. Rename the source volume with 22 or less characters.", "", nullptr},
        {"group: label of exactly 30", kGroup, name22, nullptr, nullptr, 0, kAny, 0, kMethod, "", "", nullptr},
        {"group: exists", kGroup, "ora_log", [](sim::Config& c) { AddPiTGroup(c, "ora_log"); }, nullptr, 0, kAny, 0, kReads, "PiT Group [ora_log_SMIS_PG] already exist.", "", nullptr},
        // Without its own name a source would find another nameless source's group.
        {"group: source name unreadable", kGroup, "ora_log", nullptr, set([](LSISnapshot& s) { s.m_SourceDevFriendlyName.clear(); s.m_SourceDevPath = "6000A0B8"; }), 650015, kAny, 0, kReads, "Can not get the name of source volume", "", nullptr},
        {"group: stale array secret at the provider", kGroup, "small_lun", [](sim::Config& c) { c.arrays[0].providerSecret = "older-secret"; }, nullptr, 4, kAny, 4, kMethod, "", "SMIS method failed. 1) Possibly the secret key shared", nullptr},
        // A group of the same label on another array of the provider is not this one.
        {"group: same label on a second array", kGroup, "small_lun", [](sim::Config& c) { AddSecondArray(c); AddPiTGroup(c, "small_lun", 1); }, nullptr, 0, kAny, 0, kMethod, "", "", nullptr},
        {"group: the array's repository 0% becomes 40%", kGroup, "small_lun", nullptr, repository("0"), 0, kAny, 0, kMethod, "", "", nullptr, nullptr, 429496729},
        {"group: the array's 150% becomes 40%", kGroup, "small_lun", nullptr, repository("150"), 0, kAny, 0, kMethod, "", "", nullptr, nullptr, 429496729},
        {"group: the array's 25%", kGroup, "small_lun", nullptr, repository("25"), 0, kAny, 0, kMethod, "", "", nullptr, nullptr, kGiB / 4},
        {"group: the host's 60% wins over the array's", kGroup, "small_lun", nullptr, repository("25"), 0, kAny, 0, kMethod, "", "", nullptr, "60", kGiB * 60 / 100},
        {"group: the host's 101% becomes 40%", kGroup, "small_lun", nullptr, repository("25"), 0, kAny, 0, kMethod, "", "", nullptr, "101", 429496729},
        {"group: below the array's minimum", kGroup, "small_lun", nullptr, repository("1"), 5, kAny, 5, kMethod, "", "Invalid Parameter for SMIS method", nullptr},
        {"group: job completed", kGroup, "small_lun", jobs(false), nullptr, 0, kAny, 0, kMethod, "", "", nullptr},
        {"group: job ends in exception", kGroup, "small_lun", jobs(false), [](sim::TestServer& s, SimSnapshot&) { s.failNextJobs(1, 10); }, 1, kAny, 0, kMethod, "", "", nullptr},
        {"group: job vanished", kGroup, "small_lun", jobs(true), nullptr, 0, kAny, 0, kMethod, "", "", nullptr},
        {"PiT: not prepared", kPiT, "small_lun", nullptr, set([](LSISnapshot& s) { s.m_SnapStatus = RKSO::SNAP_STATUS_RESET; }), 6, 0, 0, kNothing, "Device not ready for snapshot", "", nullptr},
        {"PiT: not a PiT operation", kPiT, "small_lun", nullptr, set([](LSISnapshot& s) { s.m_PiTOperation = 98; }), 6, 0, 0, kNothing, "Dumping Parameters", "", nullptr},
        {"PiT: no service", kPiT, "small_lun", nullptr, set([](LSISnapshot& s) { s.m_ServicePath.clear(); }), 6, 0, 0, kNothing, "Invalid Parameters", "", nullptr},
        {"PiT: no source path", kPiT, "small_lun", nullptr, set([](LSISnapshot& s) { s.m_SourceDevPath.clear(); }), 6, 0, 0, kNothing, "Invalid Parameters", "", nullptr},
        {"PiT: answered 0 without SettingsState", kPiT, "small_lun", nullptr, answered(0), 6, 1, 0, kMethod, "", "", nullptr},
        {"PiT: unknown code", kPiT, "small_lun", nullptr, answered(77), 6, 77, 0, kMethod, "", "", nullptr},
        {"PiT: the group's 33rd", kPiT, "small_lun", [](sim::Config& c) { AddPiTs(c, AddPiTGroup(c, "small_lun"), std::vector<uint64_t>(32, 1)); }, nullptr, 6, 650010, 650010, kMethod, "", "Max number of snapshots exceeded for the source volume", nullptr},
        {"PiT: CIM error", kPiT, "small_lun", nullptr, [](sim::TestServer& s, SimSnapshot&) { s.failCim(cim::CIM_ERR_FAILED, "broken", 1, {"InvokeMethod", "", ""}); }, 6, 1, 1, kMethod, "", "", nullptr},
    };
    // clang-format on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string host = r.repositoryHost ? r.repositoryHost : "";
        TalonConfig talon("",
                          host.empty() ? "" : "[~Talon]\nnNetApp-E-Series-PiTGroupRepSize=" + host);
        sim::Config config = SimConfig();
        AddVolumes(config, {name22, name23});
        if (r.config) r.config(config);
        sim::TestServer sim(config, PlainHttp());
        SimSnapshot dev(sim);
        dev.forPiT(r.volume);
        ASSERT_TRUE(r.stage == kPrepare || dev.snap.PreparePiT() == 1);
        ASSERT_TRUE(r.stage != kPiT || dev.snap.CreatePiTGroup() == 0);
        sim.log().clear();
        if (r.arrange) r.arrange(sim, dev);
        const int result = r.stage == kPrepare ? dev.snap.PreparePiT()
                           : r.stage == kGroup ? dev.snap.CreatePiTGroup()
                                               : dev.snap.CreatePiT();
        EXPECT_EQ(result, r.result);
        EXPECT_TRUE(r.snapError == kAny || dev.snap.GetErrorCode() == r.snapError)
            << dev.snap.GetErrorCode();
        EXPECT_EQ(dev.info.errorCode(), r.hostError) << dev.info.errorText();
        EXPECT_EQ(dev.info.errorText().rfind(r.hostText, 0), 0u) << dev.info.errorText();
        EXPECT_TRUE(dev.logged(r.trace)) << r.trace;
        const Reach reach = CountRequests(sim, "InvokeMethod") ? kMethod
                            : sim.requests().empty()           ? kNothing
                                                               : kReads;
        EXPECT_EQ(reach, r.reach);
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected());
        const sim::Array a = sim.provider().currentState().arrays[0];
        EXPECT_TRUE(!r.pool ||
                    dev.snap.m_TargetDGPath.find(a.findPool(r.pool)->ref) != std::string::npos);
        const auto group = std::find_if(a.pitGroups.begin(), a.pitGroups.end(), [&](const auto& g) {
            return g.label == r.volume + "_SMIS_PG";
        });
        const bool made = group != a.pitGroups.end();
        EXPECT_TRUE(r.stage != kGroup || made == (r.result == 0));
        EXPECT_TRUE(!r.bytes || (made && group->repositoryBytes == r.bytes));
        EXPECT_TRUE(r.stage != kPiT || dev.snap.m_PiTName + dev.snap.m_PiTPath == "");
    }
}

// A job started by the method is not watched; a throw-away call first changes nothing.
TEST(CreatePiT, AJobOrAThrowAwayCallFirstStillMakesOneNamedPiT) {
    for (const bool retry : {false, true}) {
        SCOPED_TRACE(retry ? "throw-away call first" : "job");
        TalonConfig talon(retry ? "RK_PEGASUS_FAULT_RETRY=1" : "");
        sim::Config config = SimConfig();
        config.jobs.methods["CreateSynchronizationAspect"] = !retry;
        sim::TestServer sim(config, PlainHttp());
        SimSnapshot dev(sim);
        Grouped(sim, dev);
        EXPECT_EQ(dev.snap.CreatePiT(), 5);
        EXPECT_EQ(sim.requests().size(), retry ? 4u : 2u);
        EXPECT_EQ(sim.connectionCount(), 1u);
        const auto calls = Calls(sim, "CreateSynchronizationAspect");
        ASSERT_EQ(calls.size(), retry ? 2u : 1u);
        EXPECT_EQ(calls[0].returnValue, retry ? 5u : 4096u);
        EXPECT_EQ(Param(calls[0], "SyncType").value, retry ? "15" : "7");
        EXPECT_EQ(Param(calls.back(), "SyncType").value, "7");
        const sim::Array a = sim.provider().currentState().arrays[0];
        ASSERT_EQ(a.pits.size(), 1u);
        EXPECT_EQ(dev.snap.m_PiTName, a.pits[0].id);
        EXPECT_EQ(dev.logged("Pegasus retry in faulty environment"), retry);
    }
}

TEST(SyncAspect, RefusalsBeforeTheMethodAndTheGroupForm) {
    sim::TestServer sim(SimConfig(), PlainHttp());
    SimSnapshot probe(sim);
    const std::string sys = probe.array.id;
    using Params = std::map<std::string, std::string>;
    // clang-format off
    struct Row { const char* name; Params params; unsigned int result; const char* trace; } rows[] = {
        {"two entries", {{"SystemName", sys}, {"SyncType", "7"}}, 650009, "Validation Failed: Insufficient Parameters"},
        {"unknown system", {{"SystemName", "600A0000"}, {"SyncType", "7"}, {"Name", "s"}}, 650015, "Class SNIA_ReplicationService for system 600A0000 not found"},
        {"no SyncType", {{"SystemName", sys}, {"Name", "s"}, {"mode", "2"}}, 5, "SyncType is not provided. Cannot continue as it is required."},
        {"SyncType null", {{"SystemName", sys}, {"Name", "s"}, {"SyncType", "null"}}, 5, "SyncType is not provided."},
        {"SyncType not a number", {{"SystemName", sys}, {"Name", "s"}, {"SyncType", "7x"}}, 5, "SyncType is not provided."},
        {"SyncType over 16 bits", {{"SystemName", sys}, {"Name", "s"}, {"SyncType", "65543"}}, 5, "SyncType is not provided."},
        {"unknown volume UUID", {{"SystemName", sys}, {"SyncType", "7"}, {"SourceElement", "600A0000000000000000000000000BAD"}}, 650015, " LUN UUID 600A0000000000000000000000000BAD not found"},
        // A bare word parses as a class name, but it is a group's name.
        {"unknown group name", {{"SystemName", sys}, {"SyncType", "7"}, {"SourceGroup", "no_such_group"}}, 650015, " Replication Group no_such_group not found"},
        {"consistency without a group", {{"SystemName", sys}, {"SyncType", "7"}, {"SourceElement", probe.volume("small_lun").uuid}, {"consistency", "2"}, {"ServiceAccessPoint", "given"}}, 5, ""},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        SimSnapshot dev(sim);
        ASSERT_EQ(dev.snap.m_CimConnection.ConnectCimom(), 0);
        Params params = r.params;
        cim::Array<cim::CIMParamValue> out;
        EXPECT_EQ(dev.snap.CreateSynchronizationAspect(dev.snap.m_CimConnection, params, out),
                  r.result);
        EXPECT_TRUE(dev.logged(r.trace));
        dev.snap.m_CimConnection.DisconnectCimom();
    }
    // Only the last row sends: "consistency" without "SourceGroup" selects the group form.
    const auto calls = Calls(sim, "CreateSynchronizationAspect");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(Sent(calls[0]),
              "Name=null SyncType=uint16:7 Mode=null SourceElement=null SourceGroup=null "
              "Consistency=uint16:2 ServiceAccessPoint=null");
    EXPECT_TRUE(sim.provider().currentState().arrays[0].pits.empty());
    EXPECT_TRUE(sim.provider().currentState().arrays[0].cgPits.empty());
}

}  // namespace
