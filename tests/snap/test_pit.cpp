// PiT preparation, PiT groups and PiTs on the simulated array: the road under each
// preset, the disk group rules, the repository size, what is refused before any
// method, the answers of the provider and the round trips.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include <cim/CIMObjectPath.h>

#include "testsupport/SimPiTs.h"
#include "testsupport/SimSnapshot.h"
#include "testsupport/TalonConfig.h"

namespace {

using testsupport::Calls;
using testsupport::CountRequests;
using testsupport::Param;
using testsupport::SimSnapshot;

const uint64_t kGiB = 1073741824;

const sim::PiTGroup* GroupLabelled(const sim::Array& a, const std::string& label) {
    for (const sim::PiTGroup& g : a.pitGroups)
        if (g.label == label) return &g;
    return nullptr;
}

std::string ClassOf(const std::string& path) {
    return cim::CIMObjectPath::parse(path).getClassName().getString();
}

// The in-parameters of a logged call in order: "name=type:value", "name=ref" for a
// reference, "name=null".
std::string Sent(const sim::RequestRecord& call) {
    std::string sent;
    for (const sim::ParamRecord& p : call.params)
        sent += (sent.empty() ? "" : " ") + p.name + "=" +
                (p.null                  ? "null"
                 : p.type == "reference" ? "ref"
                                         : p.type + ":" + p.value);
    return sent;
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
        sim::TestServer sim(testsupport::SimConfig(preset), testsupport::PlainHttp());
        SimSnapshot dev(sim);
        Prepared(dev, "small_lun");
        EXPECT_EQ(ClassOf(dev.snap.m_ServicePath), preset + "_ReplicationService");
        EXPECT_EQ(cim::CIMObjectPath::parse(dev.snap.m_ServicePath).getNameSpace().getString(),
                  sim.arrayNamespace());
        EXPECT_EQ(ClassOf(dev.snap.m_SourceDevPath), preset + "_StorageVolume");
        EXPECT_NE(dev.snap.m_SourceDevPath.find(dev.volume("small_lun").uuid), std::string::npos);
        EXPECT_EQ(dev.snap.m_SourceDevFriendlyName, "small_lun");
        EXPECT_NE(dev.snap.m_TargetDGPath.find(dev.volume("small_lun").pool), std::string::npos)
            << "the source's own pool";
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

TEST(PreparePiT, RefusalsAndDiskGroupRules) {
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    struct Row {
        const char* name;
        std::function<void(SimSnapshot&)> arrange;
        int result;
        int errorCode;      // m_ErrorCode afterwards
        bool reachesArray;  // any request at all
        std::string pool;   // pool label expected in m_TargetDGPath on success
        const char* trace;
    };
    const Row rows[] = {
        // clang-format off
        {"not a PiT operation", [](SimSnapshot& d) { d.snap.m_PiTOperation = 99; }, 2, 0, false, "", "Dumping Parameters"},
        {"no snapshot name", [](SimSnapshot& d) { d.snap.m_SnapName.clear(); }, 2, 0, false, "", "Invalid Parameters"},
        {"no system", [](SimSnapshot& d) { d.snap.m_SystemName.clear(); }, 2, 0, false, "", "Invalid Parameters"},
        {"unknown source", [](SimSnapshot& d) { d.snap.m_SourceDev = "600A0000000000000000000000000BAD"; }, 2, 60542, true, "",
         "Can not find source volume 600A0000000000000000000000000BAD"},
        {"missing group, group only", [](SimSnapshot& d) { d.snap.m_DiskGroupName = "NoSuchDG"; d.snap.m_UseDiskGroupOnly = true; },
         2, 60552, true, "", "Can not find Disk Group [NoSuchDG] for Snap/Clone operation"},
        {"missing group falls back to the source's pool", [](SimSnapshot& d) { d.snap.m_DiskGroupName = "NoSuchDG"; }, 1, 0, true,
         "DG1", "Supplied DiskGroup [NoSuchDG] not found, Going to use Default Disk Group for PiT"},
        {"requested group", [](SimSnapshot& d) { d.snap.m_DiskGroupName = "DG2"; }, 1, 0, true, "DG2",
         "Going to use Disk Group [DG2] for PiT operation"},
        {"no CIMOM", [](SimSnapshot& d) { d.unreachable(); }, 2, 3, false, "", "Connection to CIMOM failed"},
        // clang-format on
    };
    for (const Row& r : rows) {
        sim.reset();
        SimSnapshot dev(sim);
        dev.forPiT("ora_log");
        r.arrange(dev);
        EXPECT_EQ(dev.snap.PreparePiT(), r.result) << r.name;
        EXPECT_EQ(dev.snap.GetErrorCode(), r.errorCode) << r.name;
        EXPECT_EQ(!sim.requests().empty(), r.reachesArray) << r.name;
        EXPECT_TRUE(dev.logged(r.trace)) << r.name;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
        if (r.result == 1) {
            EXPECT_NE(dev.snap.m_TargetDGPath.find(dev.array.findPool(r.pool)->ref),
                      std::string::npos)
                << r.name;
        } else {
            EXPECT_EQ(dev.snap.m_ServicePath, "") << r.name;
        }
        // Only the connection errors of the table reach the host; 60542 and 60552 are logged.
        EXPECT_EQ(dev.info.errorCode(), r.errorCode == 3 ? 60541 : 0) << r.name;
    }
}

TEST(PiTGroup, RepositoryPercentageFromTheArrayThenTheHost) {
    struct Row {
        const char* name;
        const char* arrayConfig;  // nullptr: not configured
        const char* hostSetting;  // "~Talon" line, or nullptr
        uint64_t bytes;           // 0: refused by the array
    } rows[] = {
        {"default", nullptr, nullptr, 429496729},
        {"array 0 becomes 40", "0", nullptr, 429496729},
        {"array 150 becomes 40", "150", nullptr, 429496729},
        {"array 25", "25", nullptr, kGiB / 4},
        {"host wins over the array", "25", "nNetApp-E-Series-PiTGroupRepSize=60", kGiB * 60 / 100},
        {"host 101 becomes 40", "25", "nNetApp-E-Series-PiTGroupRepSize=101", 429496729},
        {"below the array's minimum", "1", nullptr, 0},
    };
    for (const Row& r : rows) {
        testsupport::TalonConfig config(
            "", r.hostSetting ? std::string("[~Talon]\n") + r.hostSetting + "\n" : "");
        sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
        SimSnapshot dev(sim);
        if (r.arrayConfig)
            dev.info.setConfig("SMCONFIG_PITGROUP_REPOSITORY_SIZE_KEY", r.arrayConfig);
        Prepared(dev, "small_lun");
        EXPECT_EQ(dev.snap.CreatePiTGroup(), r.bytes ? 0 : 5) << r.name;
        const sim::Array a = sim.provider().currentState().arrays[0];
        const sim::PiTGroup* g = GroupLabelled(a, "small_lun_SMIS_PG");
        EXPECT_EQ(g ? g->repositoryBytes : 0, r.bytes) << r.name;
        EXPECT_EQ(dev.info.errorCode(), r.bytes ? 0 : 5) << r.name;
        EXPECT_EQ(dev.info.errorText(), r.bytes ? "" : "Invalid Parameter for SMIS method")
            << r.name;
    }
}

TEST(PiTGroup, RefusedBeforeTheMethod) {
    const std::string name22 = "vol_22_characters_abcd", name23 = "vol_23_characters_abcde";
    sim::Config config = testsupport::SimConfig();
    testsupport::AddVolumes(config, {name22, name23});
    // ora_log has its group already.
    sim::PiTGroup existing;
    existing.ref = sim::makeRef("existing group");
    existing.label = "ora_log_SMIS_PG";
    existing.baseVolume = config.arrays[0].findVolumeByLabel("ora_log")->uuid;
    config.arrays[0].pitGroups.push_back(existing);
    sim::TestServer sim(config, testsupport::PlainHttp());
    struct Row {
        const char* name;
        std::string volume;
        std::function<void(SimSnapshot&)> arrange;
        int result, hostError;
        const char* trace;
    } rows[] = {
        // clang-format off
        {"no system", "ora_log", [](SimSnapshot& d) { d.snap.m_SystemName.clear(); }, -1, 0, "Insufficient Parameters."},
        {"no source", "ora_log", [](SimSnapshot& d) { d.snap.m_SourceDev.clear(); }, -1, 0, "Insufficient Parameters."},
        {"no CIMOM", "ora_log", [](SimSnapshot& d) { d.unreachable(); }, -1, 60541, "Connection to CIMOM failed"},
        {"label of 31 characters", name23, nullptr, 5, 60540,
         "PiTGroup Name[vol_23_characters_abcde_SMIS_PG] exceeds 30 characters. Rename the source volume with 22 or less characters."},
        {"group exists", "ora_log", nullptr, 0, 0, "PiT Group [ora_log_SMIS_PG] already exist."},
        // Without its own name a source would find another nameless source's group.
        {"source name unreadable", "ora_log",
         [](SimSnapshot& d) { d.snap.m_SourceDevFriendlyName.clear(); d.snap.m_SourceDevPath = "6000A0B8"; }, 650015,
         0, "Can not get the name of source volume"},
        // clang-format on
    };
    for (const Row& r : rows) {
        sim.log().clear();
        SimSnapshot dev(sim);
        Prepared(dev, r.volume);
        if (r.arrange) r.arrange(dev);
        EXPECT_EQ(dev.snap.CreatePiTGroup(), r.result) << r.name;
        EXPECT_EQ(CountRequests(sim, "InvokeMethod"), 0u) << r.name;
        EXPECT_EQ(dev.info.errorCode(), r.hostError) << r.name;
        EXPECT_TRUE(dev.logged(r.trace)) << r.name;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
    }
    // 22 characters make a label of exactly 30: accepted.
    SimSnapshot dev(sim);
    Prepared(dev, name22);
    EXPECT_EQ(dev.snap.CreatePiTGroup(), 0);
    EXPECT_EQ(sim.provider().currentState().arrays[0].pitGroups.size(), 2u);
}

TEST(PiTGroup, ProviderRefusalsAndJobsReachTheHost) {
    struct Row {
        const char* name;
        std::function<void(sim::Config&)> arrange;
        int job;  // 0: answered at once; else the job's end state
        bool vanish;
        int result, hostError;
        const char* hostText;  // start of the host's error text
    } rows[] = {
        // clang-format off
        {"stale array secret at the provider", [](sim::Config& c) { c.arrays[0].providerSecret = "older-secret"; }, 0,
         false, 4, 4, "SMIS method failed. 1) Possibly the secret key shared"},
        // A group of the same label on another array of the provider is not this one.
        {"same label on a second array", [](sim::Config& c) { testsupport::AddSecondArray(c); testsupport::AddPiTGroup(c, "small_lun", 1); }, 0,
         false, 0, 0, ""},
        {"job completed", nullptr, 7, false, 0, 0, ""},
        {"job ends in exception", nullptr, 10, false, 1, 0, ""},
        {"job vanished", nullptr, 7, true, 0, 0, ""},
        // clang-format on
    };
    for (const Row& r : rows) {
        sim::Config config = testsupport::SimConfig();
        if (r.arrange) r.arrange(config);
        config.jobs.methods["CreatePiTGroup"] = r.job != 0;
        sim::TestServer sim(config, testsupport::PlainHttp());
        if (r.job && r.job != 7) sim.failNextJobs(1, static_cast<uint16_t>(r.job));
        sim.provider().setJobsVanish(r.vanish);
        SimSnapshot dev(sim);
        Prepared(dev, "small_lun");
        sim.log().clear();
        EXPECT_EQ(dev.snap.CreatePiTGroup(), r.result) << r.name;
        const sim::Array a = sim.provider().currentState().arrays[0];
        EXPECT_EQ(GroupLabelled(a, "small_lun_SMIS_PG") != nullptr, r.result == 0) << r.name;
        EXPECT_EQ(dev.info.errorCode(), r.hostError) << r.name;
        EXPECT_EQ(dev.info.errorText().rfind(r.hostText, 0), 0u) << r.name;
        if (r.job) {
            EXPECT_EQ(Calls(sim, "CreatePiTGroup").at(0).returnValue, 4096u) << r.name;
            EXPECT_GE(CountRequests(sim, "GetInstance", "NETAPP_ConcreteJob"), 1u)
                << r.name << ": the job is read on the open connection";
        }
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
    }
}

TEST(CreatePiT, RefusalsAndFailuresNeverNameAPiT) {
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    const sim::RequestKey method{"InvokeMethod", "CreateSynchronizationAspect", ""};
    auto answered = [&](uint32_t value) {
        return [&sim, value, method](SimSnapshot&) { sim.failReturnValue(value, 1, method); };
    };
    struct Row {
        const char* name;
        std::function<void(SimSnapshot&)> arrange;
        int errorCode, hostError;
        size_t requests;
        const char* trace;
    } rows[] = {
        // clang-format off
        {"not prepared", [](SimSnapshot& d) { d.snap.m_SnapStatus = RKSO::SNAP_STATUS_RESET; }, 0, 0, 0, "Device not ready for snapshot"},
        {"not a PiT operation", [](SimSnapshot& d) { d.snap.m_PiTOperation = 98; }, 0, 0, 0, "Dumping Parameters"},
        {"no service", [](SimSnapshot& d) { d.snap.m_ServicePath.clear(); }, 0, 0, 0, "Invalid Parameters"},
        {"no source path", [](SimSnapshot& d) { d.snap.m_SourceDevPath.clear(); }, 0, 0, 0, "Invalid Parameters"},
        {"answered 0 without SettingsState", answered(0), 1, 0, 2, ""},
        {"unknown code", answered(77), 77, 0, 2, ""},
        {"CIM error", [&](SimSnapshot&) { sim.failCim(cim::CIM_ERR_FAILED, "broken", 1, {"InvokeMethod", "", ""}); }, 1, 1, 2, ""},
        // clang-format on
    };
    for (const Row& r : rows) {
        sim.reset();
        SimSnapshot dev(sim);
        Grouped(sim, dev);
        r.arrange(dev);
        EXPECT_EQ(dev.snap.CreatePiT(), 6) << r.name;
        EXPECT_EQ(dev.snap.m_PiTName + dev.snap.m_PiTPath, "") << r.name;
        EXPECT_EQ(dev.snap.GetErrorCode(), r.errorCode) << r.name;
        EXPECT_EQ(dev.info.errorCode(), r.hostError) << r.name;
        EXPECT_EQ(sim.requests().size(), r.requests) << r.name;
        EXPECT_TRUE(dev.logged(r.trace)) << r.name;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
    }
}

TEST(CreatePiT, TheThirtyThirdPiTOfAGroupIsRefused) {
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    SimSnapshot dev(sim);
    Grouped(sim, dev);
    for (int i = 0; i < 32; ++i) {
        dev.snap.SetSnapStatus(RKSO::SNAP_STATUS_PREPARED);
        ASSERT_EQ(dev.snap.CreatePiT(), 5) << "PiT " << i + 1;
    }
    dev.snap.SetSnapStatus(RKSO::SNAP_STATUS_PREPARED);
    EXPECT_EQ(dev.snap.CreatePiT(), 6);
    EXPECT_EQ(dev.snap.GetErrorCode(), 650010);
    EXPECT_EQ(dev.info.errorCode(), 650010);
    EXPECT_EQ(dev.info.errorText(), "Max number of snapshots exceeded for the source volume");
    EXPECT_EQ(sim.provider().currentState().arrays[0].pits.size(), 32u);
}

TEST(CreatePiT, AJobStartedByTheMethodStillNamesThePiT) {
    sim::Config config = testsupport::SimConfig();
    config.jobs.methods["CreateSynchronizationAspect"] = true;
    sim::TestServer sim(config, testsupport::PlainHttp());
    SimSnapshot dev(sim);
    Grouped(sim, dev);
    EXPECT_EQ(dev.snap.CreatePiT(), 5);
    EXPECT_EQ(Calls(sim, "CreateSynchronizationAspect").at(0).returnValue, 4096u);
    const sim::Array a = sim.provider().currentState().arrays[0];
    ASSERT_EQ(a.pits.size(), 1u);
    EXPECT_EQ(dev.snap.m_PiTName, a.pits[0].id);
    EXPECT_EQ(sim.requests().size(), 2u) << "no job is watched on E-Series";
}

TEST(CreatePiT, FaultRetryPrecedesTheCallWithAThrowAwayOne) {
    testsupport::TalonConfig config("RK_PEGASUS_FAULT_RETRY=1");
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    SimSnapshot dev(sim);
    Grouped(sim, dev);
    EXPECT_EQ(dev.snap.CreatePiT(), 5);
    EXPECT_EQ(sim.requests().size(), 4u);
    const auto calls = Calls(sim, "CreateSynchronizationAspect");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(Param(calls[0], "SyncType").value, "15");
    EXPECT_EQ(calls[0].returnValue, 5u);
    EXPECT_EQ(Param(calls[1], "SyncType").value, "7");
    EXPECT_EQ(sim.connectionCount(), 1u);
    EXPECT_EQ(sim.provider().currentState().arrays[0].pits.size(), 1u)
        << "the throw-away call changes nothing";
    EXPECT_TRUE(dev.logged("Pegasus retry in faulty environment"));
}

TEST(CreatePiT, ConsistencyGroupModeTakesAGroupPiT) {
    sim::Config config = testsupport::SimConfig();
    sim::Array& a = config.arrays[0];
    sim::ConsistencyGroup cg;
    cg.ref = sim::makeRef("cg one");
    cg.label = "cg_one";
    cg.members = {a.findVolumeByLabel("small_lun")->uuid, a.findVolumeByLabel("exch_log")->uuid};
    a.consistencyGroups.push_back(cg);
    sim::TestServer sim(config, testsupport::PlainHttp());
    SimSnapshot dev(sim);
    Prepared(dev, "small_lun");
    // Prepare leaves the group's path where CreatePiT reads it.
    ASSERT_EQ(dev.snap.m_CimConnection.ConnectCimom(), 0);
    dev.snap.m_PiTName = dev.snap
                             .GetObjPathByPropName(dev.snap.m_CimConnection, "CIM_ReplicationGroup",
                                                   "ElementName", "cg_one")
                             .toString();
    dev.snap.m_CimConnection.DisconnectCimom();
    ASSERT_FALSE(dev.snap.m_PiTName.empty());
    dev.snap.m_UseConsistencyGroup = true;
    sim.log().clear();
    EXPECT_EQ(dev.snap.CreatePiT(), 5);
    const auto calls = Calls(sim, "CreateSynchronizationAspect");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(Param(calls[0], "SourceElement").null);
    EXPECT_NE(Param(calls[0], "SourceGroup").value.find(cg.ref), std::string::npos);
    const sim::Array after = sim.provider().currentState().arrays[0];
    ASSERT_EQ(after.cgPits.size(), 1u);
    EXPECT_EQ(dev.snap.m_PiTName, after.cgPits[0].id);
    EXPECT_TRUE(after.pits.empty());
}

TEST(SyncAspect, RefusalsBeforeTheMethod) {
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    SimSnapshot probe(sim);
    const std::string sys = probe.array.id;
    using Params = std::map<std::string, std::string>;
    struct Row {
        const char* name;
        Params params;
        unsigned int result;
        const char* trace;
    } rows[] = {
        // clang-format off
        {"two entries", {{"SystemName", sys}, {"SyncType", "7"}}, 650009, "Validation Failed: Insufficient Parameters"},
        {"unknown system", {{"SystemName", "600A0000"}, {"SyncType", "7"}, {"Name", "s"}}, 650015,
         "Class SNIA_ReplicationService for system 600A0000 not found"},
        {"no SyncType", {{"SystemName", sys}, {"Name", "s"}, {"mode", "2"}}, 5,
         "SyncType is not provided. Cannot continue as it is required."},
        {"SyncType null", {{"SystemName", sys}, {"Name", "s"}, {"SyncType", "null"}}, 5, "SyncType is not provided."},
        {"SyncType not a number", {{"SystemName", sys}, {"Name", "s"}, {"SyncType", "7x"}}, 5, "SyncType is not provided."},
        {"SyncType over 16 bits", {{"SystemName", sys}, {"Name", "s"}, {"SyncType", "65543"}}, 5, "SyncType is not provided."},
        {"unknown volume UUID", {{"SystemName", sys}, {"SyncType", "7"}, {"SourceElement", "600A0000000000000000000000000BAD"}},
         650015, " LUN UUID 600A0000000000000000000000000BAD not found"},
        // A bare word parses as a class name, but it is a group's name.
        {"unknown group name", {{"SystemName", sys}, {"SyncType", "7"}, {"SourceGroup", "no_such_group"}}, 650015,
         " Replication Group no_such_group not found"},
        // clang-format on
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        ASSERT_EQ(dev.snap.m_CimConnection.ConnectCimom(), 0) << r.name;
        Params params = r.params;
        cim::Array<cim::CIMParamValue> out;
        EXPECT_EQ(dev.snap.CreateSynchronizationAspect(dev.snap.m_CimConnection, params, out),
                  r.result)
            << r.name;
        EXPECT_TRUE(dev.logged(r.trace)) << r.name;
        dev.snap.m_CimConnection.DisconnectCimom();
    }
    EXPECT_EQ(CountRequests(sim, "InvokeMethod"), 0u);

    // A "consistency" entry without "SourceGroup" still selects the group form: the
    // volume is not sent and the group is a null reference.
    SimSnapshot dev(sim);
    ASSERT_EQ(dev.snap.m_CimConnection.ConnectCimom(), 0);
    Params params = {{"SystemName", sys},
                     {"SyncType", "7"},
                     {"SourceElement", dev.volume("small_lun").uuid},
                     {"consistency", "2"},
                     {"ServiceAccessPoint", "given"}};
    cim::Array<cim::CIMParamValue> out;
    EXPECT_NE(dev.snap.CreateSynchronizationAspect(dev.snap.m_CimConnection, params, out), 0u);
    dev.snap.m_CimConnection.DisconnectCimom();
    const auto calls = Calls(sim, "CreateSynchronizationAspect");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(Sent(calls[0]),
              "Name=null SyncType=uint16:7 Mode=null SourceElement=null SourceGroup=null "
              "Consistency=uint16:2 ServiceAccessPoint=null");
    EXPECT_TRUE(sim.provider().currentState().arrays[0].pits.empty());
    EXPECT_TRUE(sim.provider().currentState().arrays[0].cgPits.empty());
}

}  // namespace
