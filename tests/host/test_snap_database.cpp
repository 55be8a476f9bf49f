#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "rkso/RKMMSnapAPI.h"
#include "testsupport/LogCapture.h"
#include "testsupport/TalonConfig.h"
#include "testsupport/TempDir.h"

namespace {

using namespace testsupport;

class SnapDatabase : public ::testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.file("snaps.db");
    std::optional<TalonConfig> config{std::in_place, "", "[Host]\nSnapDatabase = " + path + "\n"};
    // The plug-in's query of engine and control hosts: its rows, "no rows" or "database error".
    static std::string query(int engine, std::vector<int> hosts, int kind = 2) {
        SMVolSnapInfo q;
        q.setSnapShotEngineId(engine);
        q.setRetrieveValidFlags(0x1800);
        for (int id : hosts) {
            SMControlHostInfo h;
            h.setControlHostId(id);
            q.addControlHost(h);
        }
        const bool ok = RKMMSnapAPI(kind).getVolumeSnaps(q);
        std::string out = ok && q.getErrorCode() == 0                        ? ""
                          : !ok && q.getErrorCode() == RKMM_ERROR_NO_RECORDS ? "no rows"
                          : !ok && q.getErrorCode() == RKMM_ERROR_DATABASE   ? "database error"
                                                                             : "wrong code";
        for (auto it = q.metaDataListBegin(); it != q.metaDataListEnd(); ++it)
            out += (out.empty() ? "" : " ") + it->getDeviceName() + "=" + it->getMetaData();
        return out;
    }
    void exec(const std::string& sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
};

TEST_F(SnapDatabase, QueriesAnswerTheRowsOfTheirEngineAndControlHosts) {
    RKMMSnapStore store;
    ASSERT_TRUE(store.recordSnap("/dev/sdb", 54, 7, 2, "A*1")) << store.getLastError();
    ASSERT_TRUE(store.recordSnap("/dev/sdc", 54, 8, 2, "A*2"));
    ASSERT_TRUE(store.recordSnap("/dev/sdd", 17, 7, 2, "B*1"));
    ASSERT_TRUE(store.recordSnap("/dev/sde", 54, 7, 2, "A*3"));
    const std::tuple<int, std::vector<int>, const char*> rows[] = {
        {54, {7}, "/dev/sdb=A*1 /dev/sde=A*3"},
        {54, {7, 8}, "/dev/sdb=A*1 /dev/sdc=A*2 /dev/sde=A*3"},
        {54, {}, "/dev/sdb=A*1 /dev/sdc=A*2 /dev/sde=A*3"},  // every host
        {17, {7}, "/dev/sdd=B*1"},
        {99, {7}, "no rows"},
        {54, {9}, "no rows"},
    };
    for (const auto& [engine, hosts, want] : rows)
        EXPECT_EQ(query(engine, hosts), want) << "engine " << engine;
}

TEST_F(SnapDatabase, RowsAreReplacedAndRemovedByDevice) {
    RKMMSnapStore store;
    ASSERT_TRUE(store.recordSnap("/dev/sdb", 54, 7, 2, "old"));
    ASSERT_TRUE(store.recordSnap("/dev/sdc", 54, 7, 2, "other"));
    ASSERT_TRUE(store.recordSnap("/dev/sdb", 54, 7, 2, "new"));
    EXPECT_EQ(query(54, {7}), "/dev/sdb=new /dev/sdc=other");
    ASSERT_TRUE(store.removeSnap("/dev/sdb"));
    ASSERT_TRUE(store.removeSnap("/dev/never-recorded"));
    EXPECT_EQ(query(54, {7}), "/dev/sdc=other");
    ASSERT_TRUE(store.removeSnap("/dev/sdc"));
    EXPECT_EQ(query(54, {7}), "no rows");
    // The writer refuses bad rows.
    EXPECT_FALSE(store.recordSnap("", 54, 7, 2, "x"));
    EXPECT_FALSE(store.recordSnap("/dev/sdb", 54, 7, 2, std::string(4097, 'x')));
    EXPECT_FALSE(store.getLastError().empty());
    RKMMSnapStore nowhere(dir.file("none/x.db"));
    EXPECT_FALSE(nowhere.recordSnap("/dev/sdb", 54, 7, 2, "x"));
    EXPECT_NE(nowhere.getLastError().find("cannot open"), std::string::npos);
}

TEST_F(SnapDatabase, AnUnusableDatabaseIsAnErrorOtherThanNoRowsAndIsLogged) {
    const std::tuple<const char*, std::string, int> rows[] = {
        {"no key", "[Host]\n", 2},
        {"directory missing", "[Host]\nSnapDatabase = " + dir.file("none/x.db") + "\n", 2},
        {"not a database",
         "[Host]\nSnapDatabase = " + dir.write("junk.db", std::string(4096, 'x')) + "\n", 2},
        {"wrong client kind", "[Host]\nSnapDatabase = " + path + "\n", 1},
    };
    for (const auto& [name, settings, kind] : rows) {
        config.reset();
        config.emplace("", settings);
        LogCapture log;
        EXPECT_EQ(query(54, {7}, kind), "database error") << name;
        EXPECT_FALSE(log.lines().empty()) << name;
    }
}

TEST_F(SnapDatabase, ThePlugInReadsWhileTheHostHoldsAWriteTransaction) {
    RKMMSnapStore store;
    ASSERT_TRUE(store.recordSnap("/dev/sdb", 54, 7, 2, "A*1"));
    sqlite3* host = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &host), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(host, "BEGIN IMMEDIATE; DELETE FROM snap_rows;", nullptr, nullptr, nullptr),
        SQLITE_OK);
    const std::string during = query(54, {7});
    sqlite3_exec(host, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(host);
    EXPECT_EQ(during, "/dev/sdb=A*1");
    EXPECT_EQ(query(54, {7}), "no rows");
}

TEST_F(SnapDatabase, HostWritesAndPlugInQueriesRunAtOnce) {
    constexpr int kRows = 200;
    std::atomic<bool> writing{true};
    std::atomic<int> databaseErrors{0};
    std::thread reader([&] {
        while (writing)
            if (query(54, {7}) == "database error") ++databaseErrors;
    });
    std::thread writer([&] {
        RKMMSnapStore store;
        for (int i = 0; i < kRows; ++i)
            if (!store.recordSnap("/dev/d" + std::to_string(i), 54, 7, 2, "t")) ++databaseErrors;
        writing = false;
    });
    writer.join();
    reader.join();
    EXPECT_EQ(databaseErrors.load(), 0);
    const std::string all = query(54, {7});
    EXPECT_EQ(std::count(all.begin(), all.end(), '='), kRows);
}

TEST_F(SnapDatabase, HostComponentsMigrateStepByStep) {
    RKMMSnapStore store;
    const std::vector<std::string> v2 = {"CREATE TABLE devices (name TEXT PRIMARY KEY)",
                                         "ALTER TABLE devices ADD COLUMN status INTEGER"};
    ASSERT_TRUE(store.migrate("rksnap", v2)) << store.getLastError();
    EXPECT_EQ(store.schemaVersion("rksnap"), 2);
    EXPECT_EQ(store.schemaVersion("rkhost"), 1);
    ASSERT_TRUE(store.migrate("rksnap", v2)) << "a second run applies nothing";
    // A failing step leaves neither its partial work nor a new version behind.
    std::vector<std::string> bad = v2;
    bad.push_back("CREATE TABLE half (x); THIS IS NOT SQL");
    EXPECT_FALSE(store.migrate("rksnap", bad));
    EXPECT_EQ(store.schemaVersion("rksnap"), 2);
    std::vector<std::string> v3 = v2;
    v3.push_back("CREATE TABLE half (x)");
    EXPECT_TRUE(store.migrate("rksnap", v3)) << store.getLastError();
    // A database written by a newer program is refused, by the writer and the plug-in.
    exec("UPDATE schema_version SET version = 9 WHERE component = 'rkhost'");
    RKMMSnapStore later;
    EXPECT_FALSE(later.recordSnap("/dev/sdb", 54, 7, 2, "x"));
    EXPECT_NE(later.getLastError().find("newer"), std::string::npos) << later.getLastError();
    EXPECT_EQ(query(54, {7}), "database error");
    EXPECT_FALSE(store.migrate("rksnap", v2));
}

}  // namespace
