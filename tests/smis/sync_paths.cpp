// Sync path lookups over older-engine clones and legacy snapshots, from either end.
#include <nlohmann/json.hpp>

#include "smis_fixture.h"

using namespace smistest;

// Clones (copy type 5) and snapshots (4): "twice" is the target of two snapshots (a broken
// array), "mid" a cloned clone, "reused" a target once; "lone" has no synchronization.
sim::Config syncConfig() {
    nlohmann::json a = {{"id", "600A0980006CE2B2000000005A1B2C3D"}, {"password", "pw"}};
    a["pools"].push_back({{"label", "DG1"}});
    std::set<std::string> made = {"src1", "src2", "lone"};
    for (const std::string& v : made) a["volumes"].push_back({{"label", v}, {"pool", "DG1"}});
    const std::tuple<const char*, const char*, bool> syncs[] = {
        // clang-format off
        {"src1", "clone1", true}, {"src1", "snapA", false}, {"src1", "cloneB", true},
        {"src2", "snap2", false}, {"src1", "twice", false}, {"src2", "twice", false},
        {"src2", "mid", true}, {"mid", "leaf", true}, {"reused", "leaf2", true}};
    // clang-format on
    for (const auto& [source, target, clone] : syncs) {
        for (const char* v : {source, target})
            if (made.insert(v).second)
                a["volumes"].push_back({{"label", v}, {"kind", clone ? "clone" : "snapshot"}});
        a["syncs"].push_back({{"type", clone ? "volumeCopy" : "snapshot"},
                              {"source", source},
                              {"target", target},
                              {"copyType", clone ? 5 : 4}});
    }
    return sim::Config::fromJson({{"preset", "NETAPP"}, {"arrays", nlohmann::json::array({a})}});
}

class SyncPaths : public ::testing::Test {
  protected:
    ManualClock clock;
    sim::TestServer sim{syncConfig(), Clocked(clock)};
    RkCimConnection conn;
    FakeSnapInfo dev;
    RkCimUtil util;
    std::map<std::string, cim::CIMObjectPath> vols;  // label -> path
    std::map<std::string, std::string> uuids;        // label -> "Name"
    void SetUp() override {
        util.m_pLogger = &dev;
        Open(conn, ParamsFor(sim));
        for (const auto& v : conn.GetInstances("CIM_StorageVolume",
                                               cim::CIMPropertyList({"ElementName", "Name"}))) {
            std::string label = util.GetCIMProp(v, "ElementName");
            vols[label] = v.getPath();
            uuids[label] = util.GetCIMProp(v, "Name");
        }
        ASSERT_EQ(vols.size(), 12u);
        sim.log().clear();
    }
    void TearDown() override { conn.DisconnectCimom(); }
    std::string path(const std::string& label) { return vols.at(label).toString(); }
    bool traced(const std::string& needle) { return dev.logContains(needle); }
};

TEST_F(SyncPaths, AnESeriesClonePathIsBuiltWithoutAnyProviderCall) {
    cim::CIMObjectPath src = vols.at("src1");
    src.setHost("127.0.0.1");
    cim::CIMObjectPath sync =
        util.GetSyncPath(conn, sim.arrayNamespace(), "sys", src, vols.at("clone1"));
    EXPECT_TRUE(sim.requests().empty()) << "the path is built, not looked up";
    EXPECT_EQ(sync.getClassName().getString() + " " + sync.getHost() + " " +
                  sync.getNameSpace().getString(),
              "NETAPP_VolumeCopySynchronized 127.0.0.1 " + sim.arrayNamespace());
    ASSERT_EQ(sync.getKeyBindings().size(), 2u);
    EXPECT_EQ(sync.findKeyBinding("SystemElement")->getValue(), src.toString());
    EXPECT_EQ(sync.findKeyBinding("SyncedElement")->getValue(), path("clone1"));
    EXPECT_EQ(sync.findKeyBinding("SyncedElement")->getType(), cim::CIMKeyBinding::REFERENCE);
    // The provider knows the object behind the built path.
    EXPECT_EQ(util.GetCIMProp(conn.GetInstance(sync), "CopyType"), "5");
}

TEST_F(SyncPaths, AnESeriesSnapshotTargetIsLookedUpByReferenceNames) {
    cim::CIMObjectPath sync =
        util.GetSyncPath(conn, sim.arrayNamespace(), "", vols.at("src2"), vols.at("snap2"));
    EXPECT_EQ(sync.getClassName().getString(), "NETAPP_StorageSynchronized");
    EXPECT_EQ(CountRequests(sim, "ReferenceNames") + sim.requests().size(), 2u) << "one lookup";
    auto label = [&](const char* key) {
        std::string path = sync.findKeyBinding(key)->getValue();
        return util.GetCIMProp(conn, path, "ElementName");
    };
    EXPECT_EQ(label("SyncedElement") + " " + label("SystemElement"), "snap2 src2");
}

// From the target: sync, source and source name; -1 when ambiguous or reused, 1 without any.
TEST_F(SyncPaths, FromTargetGivesTheSyncItsSourceAndTheSourceName) {
    const std::tuple<const char*, const char*, int> rows[] = {
        {"clone1", "src1", 0}, {"twice", "src1", -1}, {"reused", "leaf2", -1}, {"lone", "src1", 1}};
    for (const auto& [target, origin, rc] : rows) {
        SCOPED_TRACE(target);
        std::string sync = "unchanged", source, sourceName, viaBoth = "unchanged";
        EXPECT_EQ(util.GetSyncPathFromTarget(conn, path(target), sync, source, sourceName), rc);
        EXPECT_EQ(util.GetSyncPathFromTargetAndSource(conn, path(target), path(origin), viaBoth),
                  rc);
        if (rc != 0) {
            EXPECT_EQ(sync + " " + viaBoth, "unchanged unchanged");
            continue;
        }
        EXPECT_EQ(cim::CIMObjectPath(sync).getClassName().getString(),
                  "NETAPP_VolumeCopySynchronized");
        EXPECT_EQ(sourceName, uuids.at(origin));
        EXPECT_EQ(util.GetCIMProp(conn, source, "ElementName"), origin);
        EXPECT_EQ(viaBoth, sync);
    }
    cim::CIMObjectPath sync =
        util.GetSyncPath(conn, sim.arrayNamespace(), "", vols.at("src1"), vols.at("twice"));
    EXPECT_EQ(sync.toString(), "");
    EXPECT_TRUE(traced("SMIS::GetSyncPath: Error: Multiple sync paths reported"));
}

TEST_F(SyncPaths, AVolumeWithoutSynchronizationHasNoTargets) {
    std::string sync, target, targetName;
    EXPECT_EQ(util.GetSyncPathFromSource(conn, path("lone"), sync, target, targetName), -1);
    EXPECT_EQ(util.GetSyncPathFromSourceBySyncType(conn, 4, path("lone"), sync, target), -1);
    std::map<std::string, std::string> targets;
    EXPECT_EQ(util.GetAllSyncPathFromSource(conn, path("lone"), "", targets), -1);
    EXPECT_TRUE(targets.empty() && sync.empty() && target.empty() && targetName.empty());
}

TEST_F(SyncPaths, ProviderFailuresAndBadInputGiveMinusOne) {
    std::string sync, other, name;
    sim.failCim(cim::CIM_ERR_FAILED, "busy", 1, {"ReferenceNames", "", ""});
    EXPECT_EQ(util.GetSyncPathFromTarget(conn, path("clone1"), sync, other, name), -1);
    sim.failHttp(500, 1, {"ReferenceNames", "", ""});
    EXPECT_EQ(util.GetSyncPathFromSource(conn, path("src1"), sync, other, name), -1)
        << "a failed lookup is not a found synchronization";
    sim.failCim(cim::CIM_ERR_FAILED, "busy", 1, {"References", "", ""});
    EXPECT_EQ(util.GetSyncPathFromSourceBySyncType(conn, 5, path("src1"), sync, other), -1);
    EXPECT_TRUE(sync.empty() && other.empty() && name.empty());
    sim.failCim(cim::CIM_ERR_FAILED, "busy", 1, {"ReferenceNames", "", ""});
    EXPECT_EQ(util.GetSyncPath(conn, sim.arrayNamespace(), "", vols.at("src2"), vols.at("snap2"))
                  .toString(),
              "");
    EXPECT_EQ(count(dev, "Caught"), 4);
    RkCimConnection unconnected;
    EXPECT_EQ(util.GetSyncPathFromTarget(unconnected, path("clone1"), sync, other, name), -1);
    EXPECT_TRUE(traced("Caught Exception: Not connected"));
    // Texts that are not object paths never reach the provider.
    sim.log().clear();
    std::map<std::string, std::string> targets;
    EXPECT_EQ(util.GetSyncPathFromTarget(conn, uuids.at("clone1"), sync, other, name), -1);
    EXPECT_EQ(util.GetSyncPathFromSource(conn, "", sync, other, name), -1);
    EXPECT_EQ(util.GetSyncPathFromSourceBySyncType(conn, 4, "Bad.Key=\"", sync, other), -1);
    EXPECT_EQ(util.GetAllSyncPathFromSource(conn, "x y", "", targets), -1);
    EXPECT_EQ(util.GetDelSyncPathFromSource(conn, "1234", sync, other, name, ""), -1);
    EXPECT_EQ(util.GetSyncPathFromTargetAndSource(conn, path("clone1"), "not a path", sync), -1);
    EXPECT_TRUE(sim.requests().empty());
    EXPECT_GE(count(dev, "malformed"), 6);
}

// From the source: its replica (not its origin), by copy type, by label text, for deletion.
TEST_F(SyncPaths, LookupsFromTheSource) {
    auto label = [&](std::string p) { return util.GetCIMProp(conn, p, "ElementName"); };
    auto kind = [](const std::string& p) {
        return cim::CIMObjectPath(p).getClassName().getString();
    };
    // mid is the target of src2 and the source of leaf; the provider lists src2 -> mid first.
    std::string sync, target, targetName;
    ASSERT_EQ(util.GetSyncPathFromSource(conn, path("mid"), sync, target, targetName), 0);
    EXPECT_EQ(targetName + " " + label(target), uuids.at("leaf") + " leaf");
    ASSERT_EQ(util.GetSyncPathFromSourceBySyncType(conn, 5, path("mid"), sync, target), 0);
    EXPECT_EQ(label(target), "leaf");
    sim.log().clear();
    ASSERT_EQ(util.GetSyncPathFromSourceBySyncType(conn, 4, path("src1"), sync, target), 0);
    EXPECT_EQ(label(target) + " " + kind(sync), "snapA NETAPP_StorageSynchronized");
    ASSERT_EQ(util.GetSyncPathFromSourceBySyncType(conn, 5, path("src1"), sync, target), 0);
    EXPECT_EQ(label(target), "clone1");
    sync = target = "unchanged";
    EXPECT_EQ(util.GetSyncPathFromSourceBySyncType(conn, 6, path("src1"), sync, target), -1);
    EXPECT_EQ(sync, "unchanged");
    EXPECT_EQ(CountRequests(sim, "References"), 3u);
    std::map<std::string, std::string> targets, none;
    ASSERT_EQ(util.GetAllSyncPathFromSource(conn, path("src1"), "clone", targets), 0);
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(label(targets.at(uuids.at("clone1"))) + " " + label(targets.at(uuids.at("cloneB"))),
              "clone1 cloneB");
    EXPECT_EQ(util.GetAllSyncPathFromSource(conn, path("src1"), "nomatch", none), -1);
    EXPECT_TRUE(none.empty());
    ASSERT_EQ(util.GetDelSyncPathFromSource(conn, path("src1"), sync, target, targetName, "B"), 0);
    EXPECT_EQ(targetName + " " + kind(sync), uuids.at("cloneB") + " NETAPP_VolumeCopySynchronized");
    sync.clear();
    EXPECT_EQ(util.GetDelSyncPathFromSource(conn, path("src1"), sync, target, targetName, "zz"),
              -1);
    EXPECT_TRUE(sync.empty());
}
