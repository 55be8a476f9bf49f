// Older-engine replica snapshots: preparation, supported types, creation and its lock.
#include <chrono>
#include <thread>
#include "testsupport/SimSnapshot.h"

namespace {

using namespace testsupport;

// A replica request of copy type for the volume labelled label, named "snap_<label>".
void ForReplica(SimSnapshot& dev, const std::string& label, int copyType = 4) {
    dev.snap.m_SnapName = "snap_" + label;
    dev.snap.m_SourceDev = dev.volume(label).uuid;
    dev.snap.m_SnapOperation = copyType;
}

void PreparedReplica(SimSnapshot& dev, const std::string& label, int copyType = 4) {
    ForReplica(dev, label, copyType);
    ASSERT_EQ(dev.snap.PrepareSnap(), 1) << label;
}

TEST(PrepareSnap, OlderEngineRulesByVendorAndCopyType) {
    struct Row {
        const char* name;
        const char* preset;
        int operation;
        std::string group;
        bool groupOnly;
        int result;
        size_t requests;
    };
    // clang-format off
    const Row rows[] = {
        {"snapshot", "NETAPP", 4, "", false, 1, 5},
        {"clone", "LSISSI", 5, "", false, 1, 5},
        {"restore is not a copy type", "NETAPP", 6, "", false, 2, 0},
        {"clone, missing group, group only", "NETAPP", 5, "NoSuchDG", true, 2, 3},
        {"LSISSI snapshot, missing group, group only", "LSISSI", 4, "NoSuchDG", true, 2, 3},
        {"DCIM snapshot, missing group, group only", "DCIM", 4, "NoSuchDG", true, 2, 3},
        // The vendor rule names LSI and DCIM only: a NETAPP snapshot goes on with the default.
        {"NETAPP snapshot, missing group, group only", "NETAPP", 4, "NoSuchDG", true, 1, 7},
        {"clone, missing group", "DCIM", 5, "NoSuchDG", false, 1, 7},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        sim::TestServer sim(SimConfig(r.preset), PlainHttp());
        SimSnapshot dev(sim);
        ForReplica(dev, "exch_log", r.operation);
        dev.snap.m_DiskGroupName = r.group;
        dev.snap.m_UseDiskGroupOnly = r.groupOnly;
        EXPECT_EQ(dev.snap.PrepareSnap(), r.result);
        EXPECT_EQ(sim.requests().size(), r.requests);
        if (r.result == 1) {
            EXPECT_NE(dev.snap.m_ServicePath.find(std::string(r.preset) +
                                                  "_StorageConfigurationService."),
                      std::string::npos);
            EXPECT_NE(dev.snap.m_TargetDGPath.find(dev.array.findPool("DG2")->ref),
                      std::string::npos)
                << ": the source's own pool";
            ASSERT_EQ(dev.snap.m_PrepareResults.size(), 6u);
            EXPECT_EQ(dev.snap.m_PrepareResults[2], std::to_string(r.operation));
            EXPECT_EQ(dev.snap.m_PrepareResults[4], "null");
        }
        EXPECT_TRUE(!r.groupOnly || r.result == 1 || dev.snap.GetErrorCode() == 60552);
    }
}

TEST(IsSupported, FollowsTheArraysSynchronizationTypes) {
    // clang-format off
    struct Row { std::vector<uint16_t> syncTypes; RKSO::SNAP_TYPE type; int result; size_t requests; } rows[] = {
        {{6, 7, 8}, RKSO::SNAP_TYPE_CLONE, 1, 2},
        {{6, 7, 8}, RKSO::SNAP_TYPE_SNAPSHOT, 1, 2},
        {{8}, RKSO::SNAP_TYPE_SNAPSHOT, 0, 2},
        {{7}, RKSO::SNAP_TYPE_CLONE, 0, 2},
        {{}, RKSO::SNAP_TYPE_SNAPSHOT, 0, 2},
        {{6, 7, 8}, static_cast<RKSO::SNAP_TYPE>(3), 0, 0},
    };
    // clang-format on
    for (const Row& r : rows) {
        sim::Config config = SimConfig();
        config.arrays[0].syncTypes = r.syncTypes;
        sim::TestServer sim(config, PlainHttp());
        SimSnapshot dev(sim);
        const std::string name = "type " + std::to_string(r.type) + " over " +
                                 std::to_string(r.syncTypes.size()) + " sync types";
        EXPECT_EQ(dev.snap.IsSupported(r.type), r.result) << name;
        EXPECT_EQ(sim.requests().size(), r.requests) << name;
    }
}

// The answer gives a new volume, or the error table's failure message and nothing made.
TEST(SnapCreate, TheProvidersAnswerGivesTheVolumeOrItsFailure) {
    static const RK_SMIS_SNAP::RK_SMIS_ERROR_MAP kTable[] = {
        {910002, 650002, 60601, "name exists"},    {910003, 650003, 60602, "busy"},
        {910004, 650004, 60603, "source is snap"}, {910005, 650005, 60604, "clone busy"},
        {640004, 650010, 60543, "max snapshots"},  {0, 0, 0, "Success"}};
    // answer: -1: as the array answers; retry: a throw-away call first
    struct Row {
        const char* name;
        int copyType;
        bool job;
        int64_t answer;
        int result, errorCode, hostError;
        const char* message;
        bool retry = false;
    };
    // clang-format off
    const Row rows[] = {
        {"at once", 4, false, -1, 5, 0, 0, ""},
        {"job", 4, true, -1, 5, 0, 0, ""},
        {"throw-away call first", 4, false, -1, 5, 0, 0, "", true},
        {"name exists", 4, false, 910002, 6, 650002, 60601, "Snapshot::SnapCreate: Snap Failed, snapshot/clone name already exists"},
        {"snapshot, busy", 4, false, 910003, 6, 650010, 60543, "Snapshot::SnapCreate: Snap Failed, maximum number of snaps reached"},
        {"source is a snapshot", 4, false, 910004, 6, 650004, 60603, "Snapshot::SnapCreate: Snap Failed, snapshot disk used as source disk"},
        {"max snapshots", 4, false, 640004, 6, 650010, 60543, "Snapshot::SnapCreate: Snap Failed, maximum number of snaps reached"},
        {"clone, busy", 5, false, 910003, 6, 650005, 60604, "Snapshot::SnapCreate: Clone Failed, previous clone still in progress or Snapshot may exist for the source lun"},
        {"clone, max snapshots", 5, false, 640004, 6, 650010, 0, ""},
        {"unknown code", 4, false, 4, 6, -1, 0, ""},
        // Created, but without a volume the host could map or delete.
        {"answered 0 without a target", 4, false, 0, 6, 0, 0, ""},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TalonConfig talon(r.retry ? "RK_PEGASUS_FAULT_RETRY=1" : "");
        sim::Config config = SimConfig();
        config.jobs.methods["CreateReplica"] = r.job;
        sim::TestServer sim(config, PlainHttp());
        SimSnapshot dev(sim);
        dev.snap.m_ErrorTable = kTable;
        PreparedReplica(dev, "exch_log", r.copyType);
        sim.log().clear();
        if (r.answer >= 0)
            sim.failReturnValue(static_cast<uint32_t>(r.answer), 1,
                                {"InvokeMethod", "CreateReplica", ""});
        EXPECT_EQ(dev.snap.SnapCreate(), r.result);
        EXPECT_EQ(dev.snap.GetErrorCode(), r.errorCode);
        EXPECT_EQ(dev.info.errorCode(), r.hostError);
        EXPECT_EQ(dev.snap.GetErrorMsg(), r.message);
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected());
        const sim::Array a = sim.provider().currentState().arrays[0];
        const sim::Volume* made = a.findVolumeByLabel("snap_exch_log");
        ASSERT_EQ(made != nullptr, r.result == 5);
        if (!made) continue;
        EXPECT_EQ(made->kind, sim::VolumeKind::Snapshot);
        EXPECT_EQ(a.volumes.size(), dev.array.volumes.size() + 1) << "a throw-away call makes none";
        EXPECT_EQ(dev.snap.m_TargetDev, made->uuid);
        EXPECT_NE(dev.snap.m_TargetDevPath.find(made->uuid), std::string::npos);
        const auto calls = Calls(sim, "CreateReplica");
        ASSERT_EQ(calls.size(), r.retry ? 2u : 1u);
        EXPECT_EQ(calls[0].returnValue, r.retry ? 5u : r.job ? 4096u : 0u);
        EXPECT_EQ(Param(calls[0], "CopyType").value, r.retry ? "15" : "4");
        EXPECT_EQ(Param(calls.back(), "CopyType").value, "4");
        EXPECT_TRUE(Param(calls.back(), "TargetSettingGoal").null);
        EXPECT_FALSE(Param(calls.back(), "TargetPool").null);
    }
}

TEST(SnapCreate, RefusedWithoutARequest) {
    sim::TestServer sim(SimConfig(), PlainHttp());
    SimSnapshot dev(sim);
    dev.snap.m_SnapOperation = 4;
    EXPECT_EQ(dev.snap.SnapCreate(), 6);
    EXPECT_TRUE(dev.logged("Device not ready for snapshot"));
    dev.snap.SetSnapStatus(RKSO::SNAP_STATUS_PREPARED);
    EXPECT_EQ(dev.snap.SnapCreate(), 6);
    EXPECT_TRUE(dev.logged("Dumping Parameters"));
    EXPECT_TRUE(sim.requests().empty());
}

TEST(CreateReplica, CallsNeverOverlapAtTheProvider) {
    const auto delay = std::chrono::milliseconds(40);
    sim::TestServer sim(SimConfig(), PlainHttp());
    sim.delay(delay, -1, {"InvokeMethod", "CreateReplica", ""});
    const char* labels[] = {"ora_data1", "ora_data2",  "ora_log",  "exch_db",
                            "exch_log",  "file_share", "vm_store", "small_lun"};
    std::vector<std::thread> threads;
    std::vector<int> results(8, -1);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            SimSnapshot dev(sim);
            ForReplica(dev, labels[i]);
            if (dev.snap.PrepareSnap() == 1) results[i] = dev.snap.SnapCreate();
        });
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < 8; ++i) EXPECT_EQ(results[i], 5) << labels[i];
    // Never two at once: each began after the previous one's answer was ready.
    auto calls = Calls(sim, "CreateReplica");
    ASSERT_EQ(calls.size(), 8u);
    std::sort(calls.begin(), calls.end(),
              [](const auto& a, const auto& b) { return a.beginTick < b.beginTick; });
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].inFlight, 1) << "call " << i;
        if (i > 0) {
            EXPECT_GT(calls[i].beginTick, calls[i - 1].endTick) << "call " << i;
        }
    }
}

TEST(CreateReplica, AClosedConnectionReleasesTheLock) {
    sim::TestServer sim(SimConfig(), PlainHttp());
    sim.addFault(sim::FaultKind::Close, 1, {"InvokeMethod", "CreateReplica", ""});
    SimSnapshot dev(sim);
    PreparedReplica(dev, "exch_log");
    EXPECT_EQ(dev.snap.SnapCreate(), 6);
    bool taken = false;
    std::thread other([&] {
        taken = SmisAction::m_Lock.enter(false);
        if (taken) SmisAction::m_Lock.leave();
    });
    other.join();
    EXPECT_TRUE(taken);
}

}  // namespace
