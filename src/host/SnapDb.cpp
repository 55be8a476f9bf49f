#include "SnapDb.h"

#include <sqlite3.h>

#include "rkso/EvDebug.h"
#include "rkso/RKPlatformInfo.h"

namespace rkhost {
namespace {

// Long enough for the other side's longest transaction, short enough that a
// stuck writer is reported rather than waited on for ever.
constexpr int kBusyTimeoutMs = 10000;

// This library's own tables; step i takes the "rkhost" component from version i to i + 1.
const std::vector<std::string>& ownSteps() {
    static const std::vector<std::string> steps = {
        "CREATE TABLE snap_rows ("
        " id INTEGER PRIMARY KEY,"
        " device_name TEXT NOT NULL UNIQUE,"
        " engine_id INTEGER NOT NULL,"
        " control_host_id INTEGER NOT NULL,"
        " ref_type INTEGER NOT NULL,"
        " metadata_type INTEGER NOT NULL,"
        " metadata TEXT NOT NULL);"
        "CREATE INDEX snap_rows_engine_host ON snap_rows (engine_id, control_host_id);",
    };
    return steps;
}

// Runs on destruction unless committed: a failed step leaves nothing behind.
class Transaction {
  public:
    explicit Transaction(sqlite3* db) : m_db(db) {}
    ~Transaction() {
        if (m_open) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    bool begin() {
        return m_open =
                   sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    bool commit() {
        if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return false;
        m_open = false;
        return true;
    }

  private:
    sqlite3* m_db;
    bool m_open = false;
};

bool newer(const std::string& component, int current, int target, std::string* error) {
    *error = "schema of '" + component + "' is at version " + std::to_string(current) +
             ", newer than the " + std::to_string(target) + " this program knows";
    return false;
}

}  // namespace

SnapDb::~SnapDb() {
    if (m_db) sqlite3_close_v2(m_db);
}

bool SnapDb::configuredPath(std::string* path, std::string* error) {
    std::string value;
    if (!RKPlatformInfo().getString(kHostSection, kSnapDatabaseKey, &value) || value.empty()) {
        *error = std::string("no snapshot database configured ([") + kHostSection + "] " +
                 kSnapDatabaseKey + ")";
        return false;
    }
    *path = value;
    return true;
}

std::string SnapDb::failure(const char* doing) const {
    return std::string(doing) + ": " + (m_db ? sqlite3_errmsg(m_db) : "no database");
}

bool SnapDb::exec(const char* sql, std::string* error) {
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    *error = failure(sql);
    return false;
}

bool SnapDb::open(const std::string& path, std::string* error) {
    if (m_db) return true;
    int rc = sqlite3_open_v2(path.c_str(), &m_db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        *error = "cannot open snapshot database '" + path +
                 "': " + (m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        return false;
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    sqlite3_stmt* stmt = nullptr;
    std::string mode;
    if (sqlite3_prepare_v2(m_db, "PRAGMA journal_mode=WAL", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(stmt, 0);
        if (text) mode = reinterpret_cast<const char*>(text);
    }
    sqlite3_finalize(stmt);
    if (mode != "wal") {
        *error = "snapshot database '" + path + "' cannot use WAL: " + sqlite3_errmsg(m_db);
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        return false;
    }
    if (!exec("PRAGMA synchronous=NORMAL", error) ||
        !exec("CREATE TABLE IF NOT EXISTS schema_version ("
              " component TEXT PRIMARY KEY NOT NULL, version INTEGER NOT NULL)",
              error) ||
        !migrate("rkhost", ownSteps(), error)) {
        *error = "snapshot database '" + path + "': " + *error;
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        return false;
    }
    return true;
}

int SnapDb::version(const std::string& component, std::string* error) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, "SELECT version FROM schema_version WHERE component = ?1", -1,
                           &stmt, nullptr) != SQLITE_OK) {
        *error = failure("reading the schema version");
        return -1;
    }
    sqlite3_bind_text(stmt, 1, component.c_str(), -1, SQLITE_TRANSIENT);
    int rc = sqlite3_step(stmt);
    int v = rc == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : 0;
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        *error = failure("reading the schema version");
        return -1;
    }
    return v;
}

bool SnapDb::migrate(const std::string& component, const std::vector<std::string>& steps,
                     std::string* error) {
    if (component.empty()) {
        *error = "a schema component needs a name";
        return false;
    }
    const int target = static_cast<int>(steps.size());
    int current = version(component, error);
    if (current < 0) return false;
    if (current == target) return true;
    if (current > target) return newer(component, current, target, error);
    for (;;) {
        Transaction tx(m_db);
        if (!tx.begin()) {
            *error = failure("starting a migration");
            return false;
        }
        // Another connection may have migrated while this one waited for the lock.
        current = version(component, error);
        if (current < 0) return false;
        if (current > target) return newer(component, current, target, error);
        if (current == target) return true;
        const std::string& step = steps[static_cast<size_t>(current)];
        if (sqlite3_exec(m_db, step.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            *error =
                failure(("migrating '" + component + "' to version " + std::to_string(current + 1))
                            .c_str());
            return false;
        }
        sqlite3_stmt* stmt = nullptr;
        bool stamped =
            sqlite3_prepare_v2(m_db,
                               "INSERT INTO schema_version (component, version) VALUES (?1, ?2)"
                               " ON CONFLICT(component) DO UPDATE SET version = excluded.version",
                               -1, &stmt, nullptr) == SQLITE_OK;
        if (stamped) {
            sqlite3_bind_text(stmt, 1, component.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(stmt, 2, current + 1);
            stamped = sqlite3_step(stmt) == SQLITE_DONE;
        }
        sqlite3_finalize(stmt);
        if (!stamped || !tx.commit()) {
            *error = failure("recording a schema version");
            return false;
        }
        EvDebug().DebugLvl("RKMMSnapStore::migrate", 1, "Schema of '%s' migrated to version %d",
                           component.c_str(), current + 1);
    }
}

}  // namespace rkhost
