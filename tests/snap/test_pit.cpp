// PiT groups and PiTs on the simulated array: the road under each preset, the
// repository size, the answers of the provider and the round trips.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "testsupport/SimSnapshot.h"
#include "testsupport/TalonConfig.h"

namespace {

using testsupport::CountRequests;
using testsupport::Param;
using testsupport::SimSnapshot;

const uint64_t kGiB = 1073741824;

const sim::PiTGroup* GroupLabelled(const sim::Array& a, const std::string& label) {
    for (const sim::PiTGroup& g : a.pitGroups)
        if (g.label == label) return &g;
    return nullptr;
}

// The in-parameter names of a logged call, in order, each followed by a space.
std::string Names(const sim::RequestRecord& call) {
    std::string names;
    for (const sim::ParamRecord& p : call.params) names += p.name + " ";
    return names;
}

// A device prepared for a PiT of the volume labelled label.
void Prepared(SimSnapshot& dev, const std::string& label) {
    dev.forPiT(label);
    ASSERT_EQ(dev.snap.PreparePiT(), 1) << label;
}

TEST(PiTRoad, GroupThenPiTUnderEveryPreset) {
    for (const char* preset : {"LSISSI", "DCIM", "NETAPP"}) {
        sim::TestServer sim(testsupport::SimConfig(preset), testsupport::PlainHttp());
        SimSnapshot dev(sim);
        Prepared(dev, "small_lun");

        sim.log().clear();
        EXPECT_EQ(dev.snap.CreatePiTGroup(), 0) << preset;
        sim::Array a = sim.provider().currentState().arrays[0];
        ASSERT_EQ(a.pitGroups.size(), 1u) << preset;
        EXPECT_EQ(a.pitGroups[0].label, "small_lun_SMIS_PG") << preset;
        EXPECT_EQ(a.pitGroups[0].baseVolume, dev.volume("small_lun").uuid) << preset;
        EXPECT_EQ(a.pitGroups[0].repositoryBytes, 429496729u) << preset << ": 40 % of 1 GiB";
        EXPECT_EQ(sim.requests().size(), 4u) << preset << ": round trips of CreatePiTGroup";
        const auto groupCalls = testsupport::Calls(sim, "CreatePiTGroup");
        ASSERT_EQ(groupCalls.size(), 1u) << preset;
        EXPECT_EQ(Names(groupCalls[0]), "BaseVolume Label RepositorySize ") << preset;
        EXPECT_EQ(Param(groupCalls[0], "Label").value, "small_lun_SMIS_PG") << preset;
        EXPECT_EQ(Param(groupCalls[0], "RepositorySize").type, "uint64") << preset;
        EXPECT_EQ(Param(groupCalls[0], "RepositorySize").value, "429496729") << preset;

        sim.log().clear();
        SimSnapshot again(sim);
        Prepared(again, "small_lun");
        EXPECT_EQ(again.snap.CreatePiTGroup(), 0) << preset;
        EXPECT_TRUE(again.logged("PiT Group [small_lun_SMIS_PG] already exist.")) << preset;
        EXPECT_EQ(CountRequests(sim, "InvokeMethod"), 0u) << preset;

        sim.log().clear();
        EXPECT_EQ(dev.snap.CreatePiT(), 5) << preset;
        EXPECT_EQ(dev.snap.m_SnapStatus, 5) << preset;
        a = sim.provider().currentState().arrays[0];
        ASSERT_EQ(a.pits.size(), 1u) << preset;
        EXPECT_EQ(dev.snap.m_PiTName, a.pits[0].id) << preset << ": InstanceID = ElementName";
        EXPECT_EQ(a.pits[0].group, a.pitGroups[0].ref) << preset;
        EXPECT_NE(dev.snap.m_PiTPath.find(a.pits[0].id), std::string::npos) << preset;
        // The identity is the array id and a reference, and never reads as a path.
        EXPECT_EQ(dev.snap.m_PiTName.rfind(dev.array.id + ":", 0), 0u) << preset;
        EXPECT_EQ(dev.snap.m_PiTName.size(), dev.array.id.size() + 41) << preset;
        cim::CIMObjectPath parsed;
        EXPECT_FALSE(SmisAction::ParsePathOrName(dev.snap.m_PiTName, parsed)) << preset;
        EXPECT_EQ(dev.snap.GetErrorCode(), 0) << preset;
        // One PiT of one volume: the service lookup and the method, on one connection.
        EXPECT_EQ(sim.requests().size(), 2u) << preset;
        EXPECT_EQ(CountRequests(sim, "EnumerateInstanceNames", "SNIA_ReplicationService"), 1u)
            << preset;
        const auto pitCalls = testsupport::Calls(sim, "CreateSynchronizationAspect");
        ASSERT_EQ(pitCalls.size(), 1u) << preset;
        EXPECT_EQ(Names(pitCalls[0]), "Name SyncType Mode SourceElement SourceGroup Consistency ")
            << preset;
        EXPECT_EQ(Param(pitCalls[0], "SyncType").value, "7") << preset;
        EXPECT_FALSE(Param(pitCalls[0], "SourceElement").null) << preset;
        EXPECT_TRUE(Param(pitCalls[0], "SourceGroup").null) << preset;
        EXPECT_EQ(sim.connectionCount(), 1u) << preset;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << preset;
    }
}

TEST(PiTGroup, RepositoryPercentageFromTheArrayThenTheHost) {
    struct Row {
        const char* name;
        const char* arrayConfig;  // nullptr: not configured
        const char* hostSetting;  // "~Talon" line, or nullptr
        uint64_t bytes;           // 0: refused by the array
        int result;
    };
    const Row rows[] = {
        {"default", nullptr, nullptr, 429496729, 0},
        {"array 0 becomes 40", "0", nullptr, 429496729, 0},
        {"array 150 becomes 40", "150", nullptr, 429496729, 0},
        {"array 25", "25", nullptr, kGiB / 4, 0},
        {"host wins over the array", "25", "nNetApp-E-Series-PiTGroupRepSize=60", kGiB * 60 / 100,
         0},
        {"host 101 becomes 40", "25", "nNetApp-E-Series-PiTGroupRepSize=101", 429496729, 0},
        {"below the array's minimum", "1", nullptr, 0, 5},
    };
    for (const Row& r : rows) {
        testsupport::TalonConfig config(
            "", r.hostSetting ? std::string("[~Talon]\n") + r.hostSetting + "\n" : "");
        sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
        SimSnapshot dev(sim);
        if (r.arrayConfig)
            dev.info.setConfig("SMCONFIG_PITGROUP_REPOSITORY_SIZE_KEY", r.arrayConfig);
        Prepared(dev, "small_lun");
        EXPECT_EQ(dev.snap.CreatePiTGroup(), r.result) << r.name;
        const sim::Array a = sim.provider().currentState().arrays[0];
        const sim::PiTGroup* g = GroupLabelled(a, "small_lun_SMIS_PG");
        if (r.bytes == 0) {
            EXPECT_EQ(g, nullptr) << r.name;
            EXPECT_EQ(dev.info.errorCode(), 5) << r.name;
            EXPECT_EQ(dev.info.errorText(), "Invalid Parameter for SMIS method") << r.name;
        } else {
            ASSERT_NE(g, nullptr) << r.name;
            EXPECT_EQ(g->repositoryBytes, r.bytes) << r.name;
        }
    }
}

TEST(PiTGroup, ProviderRefusalsReachTheHostWithTheTablesText) {
    struct Row {
        const char* name;
        std::function<void(sim::Config&)> arrange;
        int result;
        int hostError;
        const char* hostText;  // start of the host's error text
    };
    const Row rows[] = {
        {"stale array secret at the provider",
         [](sim::Config& c) { c.arrays[0].providerSecret = "older-secret"; }, 4, 4,
         "SMIS method failed. 1) Possibly the secret key shared"},
        {"no pool space",
         [](sim::Config& c) {
             for (sim::Pool& p : c.arrays[0].pools) p.capacityBytes = kGiB * 110;
         },
         4, 4, "SMIS method failed."},
        {"a fifth group on the volume",
         [](sim::Config& c) {
             sim::Array& a = c.arrays[0];
             for (int i = 0; i < 4; ++i) {
                 sim::PiTGroup g;
                 g.ref = sim::makeRef("group " + std::to_string(i));
                 g.label = "other_" + std::to_string(i);
                 g.baseVolume = a.volumes.back().uuid;
                 a.pitGroups.push_back(g);
             }
         },
         4, 4, "SMIS method failed."},
    };
    for (const Row& r : rows) {
        sim::Config config = testsupport::SimConfig();
        r.arrange(config);
        sim::TestServer sim(config, testsupport::PlainHttp());
        SimSnapshot dev(sim);
        Prepared(dev, "small_lun");
        const size_t groups = sim.provider().currentState().arrays[0].pitGroups.size();
        EXPECT_EQ(dev.snap.CreatePiTGroup(), r.result) << r.name;
        EXPECT_EQ(sim.provider().currentState().arrays[0].pitGroups.size(), groups) << r.name;
        EXPECT_EQ(dev.info.errorCode(), r.hostError) << r.name;
        EXPECT_EQ(dev.info.errorText().rfind(r.hostText, 0), 0u) << r.name;
    }
}

TEST(PiTGroup, StartedJobIsWatchedToItsEnd) {
    struct Row {
        const char* name;
        int finalState;  // 7, or the failure injected
        bool vanish;
        int result;
        bool group;
    };
    const Row rows[] = {
        {"completed", 7, false, 0, true},
        {"exception", 10, false, 1, false},
        {"terminated", 8, false, 1, false},
        {"vanished", 7, true, 0, true},
    };
    for (const Row& r : rows) {
        sim::Config config = testsupport::SimConfig();
        config.jobs.methods["CreatePiTGroup"] = true;
        sim::TestServer sim(config, testsupport::PlainHttp());
        if (r.finalState != 7) sim.failNextJobs(1, static_cast<uint16_t>(r.finalState));
        sim.provider().setJobsVanish(r.vanish);
        SimSnapshot dev(sim);
        Prepared(dev, "small_lun");
        sim.log().clear();
        EXPECT_EQ(dev.snap.CreatePiTGroup(), r.result) << r.name;
        EXPECT_EQ(testsupport::Calls(sim, "CreatePiTGroup").at(0).returnValue, 4096u) << r.name;
        size_t jobReads = 0;
        for (const sim::RequestRecord& q : sim.requests())
            jobReads +=
                q.operation == "GetInstance" && q.className.find("Job") != std::string::npos;
        EXPECT_GE(jobReads, 1u) << r.name << ": the job is read on the open connection";
        EXPECT_EQ(
            GroupLabelled(sim.provider().currentState().arrays[0], "small_lun_SMIS_PG") != nullptr,
            r.group)
            << r.name;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
    }
}

TEST(CreatePiT, FailuresNeverNameAPiT) {
    struct Row {
        const char* name;
        std::function<void(sim::TestServer&, SimSnapshot&)> arrange;
        int errorCode;
        int hostError;
    };
    const Row rows[] = {
        {"answered 0 without SettingsState",
         [](sim::TestServer& s, SimSnapshot&) {
             s.failReturnValue(0, 1, {"InvokeMethod", "CreateSynchronizationAspect", ""});
         },
         1, 0},
        {"max snapshots",
         [](sim::TestServer& s, SimSnapshot&) {
             s.failReturnValue(640004, 1, {"InvokeMethod", "CreateSynchronizationAspect", ""});
         },
         650010, 650010},
        {"unknown code",
         [](sim::TestServer& s, SimSnapshot&) {
             s.failReturnValue(77, 1, {"InvokeMethod", "CreateSynchronizationAspect", ""});
         },
         77, 0},
        {"CIM error",
         [](sim::TestServer& s, SimSnapshot&) {
             s.failCim(cim::CIM_ERR_FAILED, "broken", 1, {"InvokeMethod", "", ""});
         },
         1, 1},
    };
    for (const Row& r : rows) {
        sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
        SimSnapshot dev(sim);
        Prepared(dev, "small_lun");
        ASSERT_EQ(dev.snap.CreatePiTGroup(), 0) << r.name;
        r.arrange(sim, dev);
        EXPECT_EQ(dev.snap.CreatePiT(), 6) << r.name;
        EXPECT_EQ(dev.snap.m_SnapStatus, 6) << r.name;
        EXPECT_EQ(dev.snap.m_PiTName, "") << r.name;
        EXPECT_EQ(dev.snap.m_PiTPath, "") << r.name;
        EXPECT_EQ(dev.snap.GetErrorCode(), r.errorCode) << r.name;
        EXPECT_EQ(dev.info.errorCode(), r.hostError) << r.name;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
    }
}

TEST(CreatePiT, TheThirtyThirdPiTOfAGroupIsRefused) {
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    SimSnapshot dev(sim);
    Prepared(dev, "small_lun");
    ASSERT_EQ(dev.snap.CreatePiTGroup(), 0);
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
    Prepared(dev, "small_lun");
    ASSERT_EQ(dev.snap.CreatePiTGroup(), 0);
    sim.log().clear();
    EXPECT_EQ(dev.snap.CreatePiT(), 5);
    EXPECT_EQ(testsupport::Calls(sim, "CreateSynchronizationAspect").at(0).returnValue, 4096u);
    const sim::Array a = sim.provider().currentState().arrays[0];
    ASSERT_EQ(a.pits.size(), 1u);
    EXPECT_EQ(dev.snap.m_PiTName, a.pits[0].id);
    EXPECT_EQ(sim.requests().size(), 2u) << "no job is watched on E-Series";
}

TEST(CreatePiT, FaultRetryPrecedesTheCallWithAThrowAwayOne) {
    testsupport::TalonConfig config("RK_PEGASUS_FAULT_RETRY=1");
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    SimSnapshot dev(sim);
    Prepared(dev, "small_lun");
    ASSERT_EQ(dev.snap.CreatePiTGroup(), 0);
    sim.log().clear();
    EXPECT_EQ(dev.snap.CreatePiT(), 5);
    EXPECT_EQ(sim.requests().size(), 4u);
    const auto calls = testsupport::Calls(sim, "CreateSynchronizationAspect");
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
    for (const sim::Volume& v : a.volumes)
        if (v.label == "small_lun" || v.label == "exch_log") cg.members.push_back(v.uuid);
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
    const auto calls = testsupport::Calls(sim, "CreateSynchronizationAspect");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(Param(calls[0], "SourceElement").null);
    EXPECT_FALSE(Param(calls[0], "SourceGroup").null);
    EXPECT_NE(Param(calls[0], "SourceGroup").value.find(cg.ref), std::string::npos);
    const sim::Array after = sim.provider().currentState().arrays[0];
    ASSERT_EQ(after.cgPits.size(), 1u);
    EXPECT_EQ(dev.snap.m_PiTName, after.cgPits[0].id);
    EXPECT_TRUE(after.pits.empty());
}

}  // namespace
