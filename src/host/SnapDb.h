// The SQLite side of the snapshot database: opening a connection the way host
// and plug-in share it, and the versioned schema.
#pragma once

#include <string>
#include <vector>

struct sqlite3;

namespace rkhost {

// Configuration store key naming the database file.
constexpr const char* kHostSection = "Host";
constexpr const char* kSnapDatabaseKey = "SnapDatabase";

// Longest identifier text a row holds: what fits a host metadata buffer.
constexpr size_t kMaxSnapMetaData = 4096;

class SnapDb {
  public:
    SnapDb() = default;
    ~SnapDb();
    SnapDb(const SnapDb&) = delete;
    SnapDb& operator=(const SnapDb&) = delete;

    // The file named by the configuration store, or an error naming the key.
    static bool configuredPath(std::string* path, std::string* error);

    // Opens (creating when absent) with WAL and a busy time-out, and brings this
    // library's tables to their current version.
    bool open(const std::string& path, std::string* error);
    bool isOpen() const { return m_db != nullptr; }
    sqlite3* handle() const { return m_db; }

    // See RKMMSnapStore::migrate.
    bool migrate(const std::string& component, const std::vector<std::string>& steps,
                 std::string* error);
    // -1 on failure.
    int version(const std::string& component, std::string* error);

    // The SQLite message of the last failure, prefixed with what was being done.
    std::string failure(const char* doing) const;

  private:
    bool exec(const char* sql, std::string* error);
    sqlite3* m_db = nullptr;
};

}  // namespace rkhost
