// rksnap's records: its own tables in the host snapshot database (the one the
// plug-in reads through RKMMSnapAPI), so delete and reconcile see exactly what
// rksnap recorded. Every change is one transaction; a device's identifier is
// mirrored into the host's snapshot rows in the same transaction.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;

namespace rksnap {

struct DeviceRecord {
    int64_t snapId = 0;
    int position = 0;
    std::string device;
    int status = 0;
    int errorCode = 0;
    std::string errorText;
    std::string uniqueId;    // metadata id 1
    std::string capability;  // metadata id 102
    std::string snapDevice;  // OS path of the mapped snapshot
    std::string lastOp;
    int64_t lastOpAt = 0;
    std::string intent;  // the call in flight; left set when rksnap was killed in it
};

struct SnapRecord {
    int64_t id = 0;
    std::string name;
    std::string engine;  // pit, cg, replica, clone
    int engineId = 0;
    std::string arrayName;
    int64_t createdAt = 0;
    std::string state;  // prepared, created, mapped, ..., deleted
    int64_t deletedAt = 0;
    std::string deleteOutcome;
    std::vector<DeviceRecord> devices;
};

struct CallRecord {
    int64_t id = 0;
    int64_t snapId = 0;
    std::string op;
    int64_t startedAt = 0;
    int64_t endedAt = 0;
    int result = -1;
    std::string state;  // running, done, interrupted
};

class Records {
  public:
    Records() = default;
    ~Records();
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;

    // Takes the state directory's lock (waiting, with a message through
    // onWait, while another rksnap holds it), opens the database and brings
    // the schema up to date. Calls a killed rksnap left running become "interrupted".
    bool open(const std::string& stateDir, int controlHostId,
              const std::function<void(const std::string&)>& onWait, std::string* error);
    static std::string databasePath(const std::string& stateDir);

    bool createSnap(SnapRecord& snap, std::string* error);
    // A live snapshot by name (or a deleted one, latest first, when includeDeleted).
    bool findSnap(const std::string& name, bool includeDeleted, SnapRecord* out);
    std::vector<SnapRecord> listSnaps(bool includeDeleted);
    bool setSnapState(int64_t snapId, const std::string& state);
    bool setSnapArray(int64_t snapId, const std::string& arrayName);
    // Keeps the record, marks it deleted with time and outcome, and drops its
    // identifiers from the host's snapshot rows.
    bool markDeleted(int64_t snapId, const std::string& outcome);

    // Intent before a call: the call row and each device's intent.
    int64_t beginCall(int64_t snapId, const std::string& op);
    void endCall(int64_t callId, int result);
    std::vector<CallRecord> calls(int64_t snapId);

    bool saveDevice(const DeviceRecord& device);
    void addLog(int64_t callId, int64_t snapId, int position, int level, const std::string& tag,
                const std::string& text);
    // The latest recorded state of each device name (all when names is empty).
    std::vector<DeviceRecord> lastPerDevice(const std::vector<std::string>& names);
    std::vector<std::string> logLines(int64_t snapId);

    std::string lastError() const;

  private:
    bool exec(const char* sql);
    bool transaction(const std::function<bool()>& body);
    bool loadDevices(SnapRecord& snap);
    bool mirror(const DeviceRecord& d, bool live);

    mutable std::mutex m_mu;
    sqlite3* m_db = nullptr;
    int m_lockFd = -1;
    int m_controlHostId = 1;
    std::string m_lastError;
};

int64_t nowSeconds();

}  // namespace rksnap
