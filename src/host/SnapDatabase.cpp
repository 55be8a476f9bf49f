// RKMMSnapAPI (the plug-in's query) and RKMMSnapStore (the host's writer).
#include <sqlite3.h>

#include <functional>

#include "SnapDb.h"
#include "rkso/EvDebug.h"
#include "rkso/RKMMSnapAPI.h"

namespace {

// SQLite allows far more, but no host has this many control hosts in one query.
constexpr size_t kMaxControlHosts = 1000;

bool fail(int& code, const std::string& why) {
    code = RKMM_ERROR_DATABASE;
    EvDebug().DebugLvl("RKMMSnapAPI::getVolumeSnaps", 2, "Snapshot query failed: %s", why.c_str());
    return false;
}

std::string columnText(sqlite3_stmt* stmt, int column) {
    const unsigned char* text = sqlite3_column_text(stmt, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<size_t>(sqlite3_column_bytes(stmt, column)))
                : std::string();
}

}  // namespace

bool RKMMSnapAPI::getVolumeSnaps(SMVolSnapInfo& query) {
    try {
        return runQuery(query);
    } catch (const std::exception& e) {
        query.m_rows.clear();
        return fail(query.m_errorCode, e.what());
    }
}

bool RKMMSnapAPI::runQuery(SMVolSnapInfo& query) {
    query.m_rows.clear();
    int& code = query.m_errorCode;
    code = 0;
    if (getClientKind() != RKMM_CLIENT_SNAPSHOTS)
        return fail(code, "client kind " + std::to_string(getClientKind()) +
                              " is not the snapshot database");
    if (query.m_controlHosts.size() > kMaxControlHosts)
        return fail(code, "too many control hosts in one query");

    std::string path, error;
    rkhost::SnapDb db;
    if (!rkhost::SnapDb::configuredPath(&path, &error) || !db.open(path, &error))
        return fail(code, error);

    std::string sql =
        "SELECT device_name, engine_id, control_host_id, ref_type, metadata_type, metadata"
        " FROM snap_rows WHERE (?1 = 0 OR engine_id = ?2)";
    if (!query.m_controlHosts.empty()) {
        sql += " AND control_host_id IN (";
        for (size_t i = 0; i < query.m_controlHosts.size(); ++i) sql += i ? ",?" : "?";
        sql += ")";
    }
    sql += " ORDER BY id";
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db.handle(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
        return fail(code, db.failure("preparing the query"));
    sqlite3_bind_int(stmt, 1, query.m_engineSet ? 1 : 0);
    sqlite3_bind_int(stmt, 2, query.m_engineId);
    int index = 3;
    for (const SMControlHostInfo& host : query.m_controlHosts)
        sqlite3_bind_int(stmt, index++, host.getControlHostId());
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        query.m_rows.emplace_back(columnText(stmt, 0), sqlite3_column_int(stmt, 1),
                                  sqlite3_column_int(stmt, 2), sqlite3_column_int(stmt, 3),
                                  sqlite3_column_int(stmt, 4), columnText(stmt, 5));
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
        query.m_rows.clear();
        return fail(code, db.failure("reading snapshot rows"));
    }
    if (query.m_rows.empty()) {
        code = RKMM_ERROR_NO_RECORDS;
        return false;
    }
    return true;
}

struct RKMMSnapStore::Impl {
    std::string path;
    bool pathKnown = false;
    rkhost::SnapDb db;
    std::string lastError;

    bool ready() {
        if (db.isOpen()) return true;
        if (!pathKnown && !rkhost::SnapDb::configuredPath(&path, &lastError)) return false;
        pathKnown = true;
        return db.open(path, &lastError);
    }

    bool run(const char* sql, const char* doing, const std::function<void(sqlite3_stmt*)>& bind);
    bool runStatement(const char* sql, const char* doing,
                      const std::function<void(sqlite3_stmt*)>& bind);
};

bool RKMMSnapStore::Impl::run(const char* sql, const char* doing,
                              const std::function<void(sqlite3_stmt*)>& bind) {
    try {
        return runStatement(sql, doing, bind);
    } catch (const std::exception& e) {
        lastError = std::string(doing) + ": " + e.what();
        return false;
    }
}

bool RKMMSnapStore::Impl::runStatement(const char* sql, const char* doing,
                                       const std::function<void(sqlite3_stmt*)>& bind) {
    if (!ready()) return false;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db.handle(), sql, -1, &stmt, nullptr) != SQLITE_OK) {
        lastError = db.failure(doing);
        return false;
    }
    bind(stmt);
    bool ok = sqlite3_step(stmt) == SQLITE_DONE;
    sqlite3_finalize(stmt);
    if (!ok) lastError = db.failure(doing);
    return ok;
}

RKMMSnapStore::RKMMSnapStore() : m_impl(new Impl) {}

RKMMSnapStore::RKMMSnapStore(const std::string& path) : m_impl(new Impl) {
    m_impl->path = path;
    m_impl->pathKnown = true;
}

RKMMSnapStore::~RKMMSnapStore() {
    delete m_impl;
}

bool RKMMSnapStore::recordSnap(const std::string& deviceName, int engineId, int controlHostId,
                               int refType, const std::string& metaData, int metaDataType) {
    if (deviceName.empty()) {
        m_impl->lastError = "a snapshot row needs a device name";
        return false;
    }
    if (metaData.size() > rkhost::kMaxSnapMetaData) {
        m_impl->lastError =
            "identifier text longer than " + std::to_string(rkhost::kMaxSnapMetaData) + " bytes";
        return false;
    }
    return m_impl->run(
        "INSERT INTO snap_rows"
        " (device_name, engine_id, control_host_id, ref_type, metadata_type, metadata)"
        " VALUES (?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT(device_name) DO UPDATE SET"
        " engine_id = excluded.engine_id, control_host_id = excluded.control_host_id,"
        " ref_type = excluded.ref_type, metadata_type = excluded.metadata_type,"
        " metadata = excluded.metadata",
        "recording a snapshot row", [&](sqlite3_stmt* stmt) {
            sqlite3_bind_text(stmt, 1, deviceName.c_str(), static_cast<int>(deviceName.size()),
                              SQLITE_TRANSIENT);
            sqlite3_bind_int(stmt, 2, engineId);
            sqlite3_bind_int(stmt, 3, controlHostId);
            sqlite3_bind_int(stmt, 4, refType);
            sqlite3_bind_int(stmt, 5, metaDataType);
            sqlite3_bind_text(stmt, 6, metaData.c_str(), static_cast<int>(metaData.size()),
                              SQLITE_TRANSIENT);
        });
}

bool RKMMSnapStore::removeSnap(const std::string& deviceName) {
    return m_impl->run("DELETE FROM snap_rows WHERE device_name = ?1", "removing a snapshot row",
                       [&](sqlite3_stmt* stmt) {
                           sqlite3_bind_text(stmt, 1, deviceName.c_str(),
                                             static_cast<int>(deviceName.size()), SQLITE_TRANSIENT);
                       });
}

bool RKMMSnapStore::migrate(const std::string& component, const std::vector<std::string>& steps) {
    return m_impl->ready() && m_impl->db.migrate(component, steps, &m_impl->lastError);
}

int RKMMSnapStore::schemaVersion(const std::string& component) {
    if (!m_impl->ready()) return -1;
    return m_impl->db.version(component, &m_impl->lastError);
}

std::string RKMMSnapStore::getLastError() const {
    return m_impl->lastError;
}
