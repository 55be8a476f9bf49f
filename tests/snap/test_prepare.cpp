// Preparation of PiT snapshots and of older-engine replicas, and the copy-type check.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <cim/CIMObjectPath.h>

#include "testsupport/SimSnapshot.h"

namespace {

using testsupport::CountRequests;
using testsupport::SimSnapshot;

std::string ClassOf(const std::string& path) {
    return cim::CIMObjectPath::parse(path).getClassName().getString();
}

std::string PoolRef(const sim::Array& a, const std::string& label) {
    for (const sim::Pool& p : a.pools)
        if (p.label == label) return p.ref;
    return "?";
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
        EXPECT_EQ(dev.snap.m_SnapStatus, r.result) << r.name;
        EXPECT_EQ(dev.snap.GetErrorCode(), r.errorCode) << r.name;
        EXPECT_EQ(!sim.requests().empty(), r.reachesArray) << r.name;
        EXPECT_TRUE(dev.logged(r.trace)) << r.name;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
        if (r.result == 1) {
            EXPECT_NE(dev.snap.m_TargetDGPath.find(PoolRef(dev.array, r.pool)), std::string::npos)
                << r.name;
        } else {
            EXPECT_EQ(dev.snap.m_ServicePath, "") << r.name;
        }
        // Only the connection errors of the table reach the host; 60542 and 60552 are logged.
        EXPECT_EQ(dev.info.errorCode(), r.errorCode == 3 ? 60541 : 0) << r.name;
    }
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
    const Row rows[] = {
        // clang-format off
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
        sim::TestServer sim(testsupport::SimConfig(r.preset), testsupport::PlainHttp());
        SimSnapshot dev(sim);
        dev.snap.m_SnapName = "snap1";
        dev.snap.m_SourceDev = dev.volume("exch_log").uuid;
        dev.snap.m_SnapOperation = r.operation;
        dev.snap.m_DiskGroupName = r.group;
        dev.snap.m_UseDiskGroupOnly = r.groupOnly;
        EXPECT_EQ(dev.snap.PrepareSnap(), r.result) << r.name;
        EXPECT_EQ(dev.snap.m_SnapStatus, r.result) << r.name;
        EXPECT_EQ(sim.requests().size(), r.requests) << r.name;
        if (r.result == 1) {
            EXPECT_EQ(ClassOf(dev.snap.m_ServicePath),
                      std::string(r.preset) + "_StorageConfigurationService")
                << r.name;
            EXPECT_NE(dev.snap.m_TargetDGPath.find(PoolRef(dev.array, "DG2")), std::string::npos)
                << r.name << ": the source's own pool";
            ASSERT_EQ(dev.snap.m_PrepareResults.size(), 6u) << r.name;
            EXPECT_EQ(dev.snap.m_PrepareResults[2], std::to_string(r.operation)) << r.name;
            EXPECT_EQ(dev.snap.m_PrepareResults[4], "null") << r.name;
        }
        EXPECT_TRUE(!r.groupOnly || r.result == 1 || dev.snap.GetErrorCode() == 60552) << r.name;
    }
}

TEST(IsSupported, FollowsTheArraysSynchronizationTypes) {
    struct Row {
        std::vector<uint16_t> syncTypes;
        RKSO::SNAP_TYPE type;
        int result;
        size_t requests;
    };
    const Row rows[] = {
        {{6, 7, 8}, RKSO::SNAP_TYPE_CLONE, 1, 2},
        {{6, 7, 8}, RKSO::SNAP_TYPE_SNAPSHOT, 1, 2},
        {{8}, RKSO::SNAP_TYPE_SNAPSHOT, 0, 2},
        {{7}, RKSO::SNAP_TYPE_CLONE, 0, 2},
        {{}, RKSO::SNAP_TYPE_SNAPSHOT, 0, 2},
        {{6, 7, 8}, static_cast<RKSO::SNAP_TYPE>(3), 0, 0},
    };
    for (const Row& r : rows) {
        sim::Config config = testsupport::SimConfig();
        config.arrays[0].syncTypes = r.syncTypes;
        sim::TestServer sim(config, testsupport::PlainHttp());
        SimSnapshot dev(sim);
        const std::string name = "type " + std::to_string(r.type) + " over " +
                                 std::to_string(r.syncTypes.size()) + " sync types";
        EXPECT_EQ(dev.snap.IsSupported(r.type), r.result) << name;
        EXPECT_EQ(sim.requests().size(), r.requests) << name;
    }
}

}  // namespace
