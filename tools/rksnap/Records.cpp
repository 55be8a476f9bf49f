#include "Records.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "Config.h"
#include "rkso/RKMMSnapAPI.h"

namespace rksnap {
namespace {

// Step i takes rksnap's tables from version i to i + 1.
const std::vector<std::string>& schemaSteps() {
    static const std::vector<std::string> steps = {
        "CREATE TABLE rksnap_snaps ("
        " id INTEGER PRIMARY KEY, name TEXT NOT NULL, engine TEXT NOT NULL,"
        " engine_id INTEGER NOT NULL, array_name TEXT NOT NULL, created_at INTEGER NOT NULL,"
        " state TEXT NOT NULL, deleted_at INTEGER, delete_outcome TEXT);"
        "CREATE UNIQUE INDEX rksnap_snaps_live ON rksnap_snaps (name) WHERE deleted_at IS NULL;"
        "CREATE TABLE rksnap_devices ("
        " snap_id INTEGER NOT NULL REFERENCES rksnap_snaps (id), position INTEGER NOT NULL,"
        " device TEXT NOT NULL, status INTEGER NOT NULL DEFAULT 0,"
        " error_code INTEGER NOT NULL DEFAULT 0, error_text TEXT NOT NULL DEFAULT '',"
        " unique_id TEXT NOT NULL DEFAULT '', capability TEXT NOT NULL DEFAULT '',"
        " snap_device TEXT NOT NULL DEFAULT '', last_op TEXT NOT NULL DEFAULT '',"
        " last_op_at INTEGER NOT NULL DEFAULT 0, intent TEXT NOT NULL DEFAULT '',"
        " PRIMARY KEY (snap_id, position));"
        "CREATE TABLE rksnap_calls ("
        " id INTEGER PRIMARY KEY, snap_id INTEGER NOT NULL, op TEXT NOT NULL,"
        " started_at INTEGER NOT NULL, ended_at INTEGER, result INTEGER,"
        " state TEXT NOT NULL);"
        "CREATE TABLE rksnap_log ("
        " id INTEGER PRIMARY KEY, call_id INTEGER, snap_id INTEGER, position INTEGER,"
        " at INTEGER NOT NULL, level INTEGER NOT NULL, tag TEXT NOT NULL, text TEXT NOT NULL);"
        "CREATE INDEX rksnap_log_snap ON rksnap_log (snap_id);",
    };
    return steps;
}

// A log line or text longer than this is cut: the plug-in cuts its own at 4095.
constexpr size_t kMaxText = 8192;

class Stmt {
  public:
    Stmt(sqlite3* db, const char* sql) {
        m_ok = sqlite3_prepare_v2(db, sql, -1, &m_s, nullptr) == SQLITE_OK;
    }
    ~Stmt() { sqlite3_finalize(m_s); }
    bool ok() const { return m_ok; }
    Stmt& text(int i, const std::string& v) {
        sqlite3_bind_text(m_s, i, v.data(), static_cast<int>(std::min(v.size(), kMaxText)),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& num(int i, int64_t v) {
        sqlite3_bind_int64(m_s, i, v);
        return *this;
    }
    int step() { return m_ok ? sqlite3_step(m_s) : SQLITE_ERROR; }
    bool done() { return step() == SQLITE_DONE; }
    std::string col(int i) {
        const unsigned char* t = sqlite3_column_text(m_s, i);
        return t ? std::string(reinterpret_cast<const char*>(t),
                               static_cast<size_t>(sqlite3_column_bytes(m_s, i)))
                 : std::string();
    }
    int64_t coln(int i) { return sqlite3_column_int64(m_s, i); }

  private:
    sqlite3_stmt* m_s = nullptr;
    bool m_ok = false;
};

std::string mirrorKey(const DeviceRecord& d) {
    return "rksnap/" + std::to_string(d.snapId) + "/" + std::to_string(d.position);
}

const char* const kSnapColumns =
    "SELECT id, name, engine, engine_id, array_name, created_at, state,"
    " COALESCE(deleted_at, 0), COALESCE(delete_outcome, '') FROM rksnap_snaps";

SnapRecord readSnap(Stmt& s) {
    SnapRecord r;
    r.id = s.coln(0);
    r.name = s.col(1);
    r.engine = s.col(2);
    r.engineId = static_cast<int>(s.coln(3));
    r.arrayName = s.col(4);
    r.createdAt = s.coln(5);
    r.state = s.col(6);
    r.deletedAt = s.coln(7);
    r.deleteOutcome = s.col(8);
    return r;
}

const char* const kDeviceColumns =
    "SELECT snap_id, position, device, status, error_code, error_text, unique_id, capability,"
    " snap_device, last_op, last_op_at, intent FROM rksnap_devices";

DeviceRecord readDevice(Stmt& s) {
    DeviceRecord d;
    d.snapId = s.coln(0);
    d.position = static_cast<int>(s.coln(1));
    d.device = s.col(2);
    d.status = static_cast<int>(s.coln(3));
    d.errorCode = static_cast<int>(s.coln(4));
    d.errorText = s.col(5);
    d.uniqueId = s.col(6);
    d.capability = s.col(7);
    d.snapDevice = s.col(8);
    d.lastOp = s.col(9);
    d.lastOpAt = s.coln(10);
    d.intent = s.col(11);
    return d;
}

}  // namespace

int64_t nowSeconds() {
    return static_cast<int64_t>(std::time(nullptr));
}

std::string Records::databasePath(const std::string& stateDir) {
    return stateDir + "/rksnap.db";
}

Records::~Records() {
    if (m_db) sqlite3_close_v2(m_db);
    if (m_lockFd >= 0) ::close(m_lockFd);  // releases the lock
}

bool Records::open(const std::string& stateDir, int controlHostId,
                   const std::function<void(const std::string&)>& onWait, std::string* error) {
    m_controlHostId = controlHostId;
    if (!makeDirs(stateDir, error)) return false;
    const std::string lockPath = stateDir + "/rksnap.lock";
    m_lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lockFd < 0) {
        *error = "cannot open lock file '" + lockPath + "': " + std::strerror(errno);
        return false;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            *error = "cannot lock '" + lockPath + "': " + std::strerror(errno);
            return false;
        }
        char pid[32] = {};
        ssize_t n = ::pread(m_lockFd, pid, sizeof pid - 1, 0);
        std::string holder = n > 0 ? std::string(pid, static_cast<size_t>(n)) : "?";
        while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' '))
            holder.pop_back();
        if (onWait)
            onWait("waiting for another rksnap (pid " + holder + ") to finish with " + stateDir);
        while (::flock(m_lockFd, LOCK_EX) != 0)
            if (errno != EINTR) {
                *error = "cannot lock '" + lockPath + "': " + std::strerror(errno);
                return false;
            }
    }
    std::string pid = std::to_string(getpid()) + "\n";
    if (::ftruncate(m_lockFd, 0) != 0 || ::pwrite(m_lockFd, pid.data(), pid.size(), 0) < 0) {
        // Only the waiting message needs the pid.
    }

    const std::string path = databasePath(stateDir);
    {
        RKMMSnapStore store(path);
        if (!store.migrate("rksnap", schemaSteps())) {
            *error = "records in '" + path + "': " + store.getLastError();
            return false;
        }
    }
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        *error = "cannot open records '" + path + "': " + (m_db ? sqlite3_errmsg(m_db) : "?");
        return false;
    }
    sqlite3_busy_timeout(m_db, 10000);
    if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL") ||
        !exec("PRAGMA foreign_keys=ON")) {
        *error = m_lastError;
        return false;
    }
    // Holding the lock, any call still running belongs to a killed rksnap.
    return transaction([&] {
               return Stmt(m_db,
                           "UPDATE rksnap_calls SET state = 'interrupted' WHERE state = 'running'")
                   .done();
           }) ||
           (*error = m_lastError, false);
}

std::string Records::lastError() const {
    std::lock_guard<std::mutex> l(m_mu);
    return m_lastError;
}

bool Records::exec(const char* sql) {
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    m_lastError = std::string(sql) + ": " + sqlite3_errmsg(m_db);
    return false;
}

bool Records::transaction(const std::function<bool()>& body) {
    if (!exec("BEGIN IMMEDIATE")) return false;
    if (body() && exec("COMMIT")) return true;
    if (m_lastError.empty()) m_lastError = sqlite3_errmsg(m_db);
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

// The host's snapshot row of a device: present while the device holds an
// identifier of a live snapshot, so that the plug-in's GetActiveSnaps sees it.
bool Records::mirror(const DeviceRecord& d, bool live) {
    if (!live || d.uniqueId.empty())
        return Stmt(m_db, "DELETE FROM snap_rows WHERE device_name = ?1")
            .text(1, mirrorKey(d))
            .done();
    int engine = 0;
    {
        Stmt s(m_db, "SELECT engine_id FROM rksnap_snaps WHERE id = ?1");
        s.num(1, d.snapId);
        if (s.step() == SQLITE_ROW) engine = static_cast<int>(s.coln(0));
    }
    return Stmt(m_db,
                "INSERT INTO snap_rows (device_name, engine_id, control_host_id, ref_type,"
                " metadata_type, metadata) VALUES (?1, ?2, ?3, 2, 1, ?4)"
                " ON CONFLICT(device_name) DO UPDATE SET engine_id = excluded.engine_id,"
                " control_host_id = excluded.control_host_id, metadata = excluded.metadata")
        .text(1, mirrorKey(d))
        .num(2, engine)
        .num(3, m_controlHostId)
        .text(4, d.uniqueId)
        .done();
}

bool Records::createSnap(SnapRecord& snap, std::string* error) {
    std::lock_guard<std::mutex> l(m_mu);
    snap.createdAt = nowSeconds();
    bool ok = transaction([&] {
        Stmt s(m_db,
               "INSERT INTO rksnap_snaps (name, engine, engine_id, array_name, created_at, state)"
               " VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
        if (!s.text(1, snap.name)
                 .text(2, snap.engine)
                 .num(3, snap.engineId)
                 .text(4, snap.arrayName)
                 .num(5, snap.createdAt)
                 .text(6, snap.state)
                 .done())
            return false;
        snap.id = sqlite3_last_insert_rowid(m_db);
        for (DeviceRecord& d : snap.devices) {
            d.snapId = snap.id;
            if (!Stmt(m_db,
                      "INSERT INTO rksnap_devices (snap_id, position, device) VALUES (?1, ?2, ?3)")
                     .num(1, d.snapId)
                     .num(2, d.position)
                     .text(3, d.device)
                     .done())
                return false;
        }
        return true;
    });
    if (!ok) {
        *error = sqlite3_extended_errcode(m_db) == SQLITE_CONSTRAINT_UNIQUE
                     ? "a snapshot named '" + snap.name + "' exists already"
                     : "cannot record snapshot '" + snap.name + "': " + m_lastError;
    }
    return ok;
}

bool Records::loadDevices(SnapRecord& snap) {
    Stmt s(m_db, (std::string(kDeviceColumns) + " WHERE snap_id = ?1 ORDER BY position").c_str());
    s.num(1, snap.id);
    snap.devices.clear();
    int rc;
    while ((rc = s.step()) == SQLITE_ROW) snap.devices.push_back(readDevice(s));
    return rc == SQLITE_DONE;
}

bool Records::findSnap(const std::string& name, bool includeDeleted, SnapRecord* out) {
    std::lock_guard<std::mutex> l(m_mu);
    std::string sql = std::string(kSnapColumns) + " WHERE name = ?1" +
                      (includeDeleted ? "" : " AND deleted_at IS NULL") +
                      " ORDER BY deleted_at IS NOT NULL, id DESC LIMIT 1";
    Stmt s(m_db, sql.c_str());
    s.text(1, name);
    if (s.step() != SQLITE_ROW) return false;
    *out = readSnap(s);
    return loadDevices(*out);
}

std::vector<SnapRecord> Records::listSnaps(bool includeDeleted) {
    std::lock_guard<std::mutex> l(m_mu);
    std::vector<SnapRecord> out;
    std::string sql = std::string(kSnapColumns) +
                      (includeDeleted ? "" : " WHERE deleted_at IS NULL") + " ORDER BY id";
    Stmt s(m_db, sql.c_str());
    while (s.step() == SQLITE_ROW) out.push_back(readSnap(s));
    for (SnapRecord& r : out) loadDevices(r);
    return out;
}

bool Records::setSnapState(int64_t snapId, const std::string& state) {
    std::lock_guard<std::mutex> l(m_mu);
    return transaction([&] {
        return Stmt(m_db, "UPDATE rksnap_snaps SET state = ?2 WHERE id = ?1")
            .num(1, snapId)
            .text(2, state)
            .done();
    });
}

bool Records::setSnapArray(int64_t snapId, const std::string& arrayName) {
    std::lock_guard<std::mutex> l(m_mu);
    return transaction([&] {
        return Stmt(m_db, "UPDATE rksnap_snaps SET array_name = ?2 WHERE id = ?1")
            .num(1, snapId)
            .text(2, arrayName)
            .done();
    });
}

bool Records::markDeleted(int64_t snapId, const std::string& outcome) {
    std::lock_guard<std::mutex> l(m_mu);
    return transaction([&] {
        if (!Stmt(m_db,
                  "UPDATE rksnap_snaps SET state = 'deleted', deleted_at = ?2, delete_outcome = ?3"
                  " WHERE id = ?1")
                 .num(1, snapId)
                 .num(2, nowSeconds())
                 .text(3, outcome)
                 .done())
            return false;
        return Stmt(m_db, "DELETE FROM snap_rows WHERE device_name LIKE ?1")
            .text(1, "rksnap/" + std::to_string(snapId) + "/%")
            .done();
    });
}

int64_t Records::beginCall(int64_t snapId, const std::string& op) {
    std::lock_guard<std::mutex> l(m_mu);
    int64_t id = 0;
    bool ok = transaction([&] {
        if (!Stmt(m_db,
                  "INSERT INTO rksnap_calls (snap_id, op, started_at, state) VALUES (?1, ?2, ?3, "
                  "'running')")
                 .num(1, snapId)
                 .text(2, op)
                 .num(3, nowSeconds())
                 .done())
            return false;
        id = sqlite3_last_insert_rowid(m_db);
        return Stmt(m_db, "UPDATE rksnap_devices SET intent = ?2 WHERE snap_id = ?1")
            .num(1, snapId)
            .text(2, op)
            .done();
    });
    return ok ? id : 0;
}

void Records::endCall(int64_t callId, int result) {
    std::lock_guard<std::mutex> l(m_mu);
    transaction([&] {
        int64_t snapId = 0;
        {
            Stmt s(m_db, "SELECT snap_id FROM rksnap_calls WHERE id = ?1");
            s.num(1, callId);
            if (s.step() == SQLITE_ROW) snapId = s.coln(0);
        }
        return Stmt(m_db,
                    "UPDATE rksnap_calls SET state = 'done', ended_at = ?2, result = ?3 WHERE id = "
                    "?1")
                   .num(1, callId)
                   .num(2, nowSeconds())
                   .num(3, result)
                   .done() &&
               Stmt(m_db, "UPDATE rksnap_devices SET intent = '' WHERE snap_id = ?1")
                   .num(1, snapId)
                   .done();
    });
}

std::vector<CallRecord> Records::calls(int64_t snapId) {
    std::lock_guard<std::mutex> l(m_mu);
    std::vector<CallRecord> out;
    Stmt s(m_db,
           "SELECT id, snap_id, op, started_at, COALESCE(ended_at, 0), COALESCE(result, -1), state"
           " FROM rksnap_calls WHERE snap_id = ?1 ORDER BY id");
    s.num(1, snapId);
    while (s.step() == SQLITE_ROW)
        out.push_back({s.coln(0), s.coln(1), s.col(2), s.coln(3), s.coln(4),
                       static_cast<int>(s.coln(5)), s.col(6)});
    return out;
}

bool Records::saveDevice(const DeviceRecord& d) {
    std::lock_guard<std::mutex> l(m_mu);
    return transaction([&] {
        if (!Stmt(m_db,
                  "UPDATE rksnap_devices SET status = ?3, error_code = ?4, error_text = ?5,"
                  " unique_id = ?6, capability = ?7, snap_device = ?8, last_op = ?9,"
                  " last_op_at = ?10 WHERE snap_id = ?1 AND position = ?2")
                 .num(1, d.snapId)
                 .num(2, d.position)
                 .num(3, d.status)
                 .num(4, d.errorCode)
                 .text(5, d.errorText)
                 .text(6, d.uniqueId)
                 .text(7, d.capability)
                 .text(8, d.snapDevice)
                 .text(9, d.lastOp)
                 .num(10, d.lastOpAt)
                 .done())
            return false;
        bool live = false;
        {
            Stmt s(m_db, "SELECT deleted_at IS NULL FROM rksnap_snaps WHERE id = ?1");
            s.num(1, d.snapId);
            live = s.step() == SQLITE_ROW && s.coln(0) != 0;
        }
        return mirror(d, live);
    });
}

void Records::addLog(int64_t callId, int64_t snapId, int position, int level,
                     const std::string& tag, const std::string& text) {
    std::lock_guard<std::mutex> l(m_mu);
    Stmt(m_db,
         "INSERT INTO rksnap_log (call_id, snap_id, position, at, level, tag, text)"
         " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)")
        .num(1, callId)
        .num(2, snapId)
        .num(3, position)
        .num(4, nowSeconds())
        .num(5, level)
        .text(6, tag)
        .text(7, text)
        .done();
}

std::vector<DeviceRecord> Records::lastPerDevice(const std::vector<std::string>& names) {
    std::lock_guard<std::mutex> l(m_mu);
    std::vector<DeviceRecord> out;
    Stmt s(m_db, (std::string(kDeviceColumns) +
                  " WHERE last_op_at > 0 ORDER BY device, last_op_at DESC, snap_id DESC")
                     .c_str());
    std::string previous;
    while (s.step() == SQLITE_ROW) {
        DeviceRecord d = readDevice(s);
        if (d.device == previous) continue;
        previous = d.device;
        bool wanted = names.empty();
        for (const std::string& n : names) wanted = wanted || n == d.device;
        if (wanted) out.push_back(d);
    }
    return out;
}

std::vector<std::string> Records::logLines(int64_t snapId) {
    std::lock_guard<std::mutex> l(m_mu);
    std::vector<std::string> out;
    Stmt s(m_db,
           "SELECT position, level, tag, text FROM rksnap_log WHERE snap_id = ?1 ORDER BY id");
    s.num(1, snapId);
    while (s.step() == SQLITE_ROW)
        out.push_back("[" + std::to_string(s.coln(0)) + "] L" + std::to_string(s.coln(1)) + " " +
                      s.col(2) + ": " + s.col(3));
    return out;
}

}  // namespace rksnap
