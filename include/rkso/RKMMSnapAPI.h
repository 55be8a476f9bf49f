// Host snapshot database. The plug-in asks it which snapshots the host still
// keeps; a host records and removes those rows as its snapshots come and go.
//
// The database is one SQLite file, named by the configuration store
// ([Host] SnapDatabase), opened in WAL mode with a busy time-out so that a host
// and a plug-in (even in other processes) use it at the same time.
//
// Query, as the plug-in makes it:
//
//   SMVolSnapInfo query;
//   query.setSnapShotEngineId(54);
//   query.setRetrieveValidFlags(0x1800);
//   SMControlHostInfo host;
//   host.setControlHostId(7);
//   query.addControlHost(host);
//   if (RKMMSnapAPI(2).getVolumeSnaps(query)) {
//       for (auto it = query.metaDataListBegin(); it != query.metaDataListEnd(); ++it) ...
//   } else if (query.getErrorCode() == RKMM_ERROR_NO_RECORDS) ...
#pragma once

#include <list>
#include <string>
#include <utility>
#include <vector>

// The client kind RKMMSnapAPI is built with: the snapshot database.
constexpr int RKMM_CLIENT_SNAPSHOTS = 2;
// getErrorCode after a query: no rows matched (not a failure of the database).
constexpr int RKMM_ERROR_NO_RECORDS = 60320;
// getErrorCode after a query: the database could not be used (logged).
constexpr int RKMM_ERROR_DATABASE = 60321;
// Reference type of a snapshot row.
constexpr int RKMM_REF_TYPE_SNAPSHOT = 2;

class SMControlHostInfo {
  public:
    void setControlHostId(int id) { m_id = id; }
    int getControlHostId() const { return m_id; }

  private:
    int m_id = 0;
};

// One stored row.
class SMMetaDataInfo {
  public:
    SMMetaDataInfo() = default;
    SMMetaDataInfo(std::string deviceName, int engineId, int controlHostId, int refType,
                   int metaDataType, std::string metaData)
        : m_deviceName(std::move(deviceName)),
          m_engineId(engineId),
          m_controlHostId(controlHostId),
          m_refType(refType),
          m_metaDataType(metaDataType),
          m_metaData(std::move(metaData)) {}

    // The metadata id the text was stored under (1, the snap unique identifier); 0 = unusable.
    int getMetaDataType() const { return m_metaDataType; }
    // 2 = a snapshot row.
    int getRefType() const { return m_refType; }
    const std::string& getMetaData() const { return m_metaData; }
    const std::string& getDeviceName() const { return m_deviceName; }
    int getSnapShotEngineId() const { return m_engineId; }
    int getControlHostId() const { return m_controlHostId; }

  private:
    std::string m_deviceName;
    int m_engineId = 0;
    int m_controlHostId = 0;
    int m_refType = 0;
    int m_metaDataType = 0;
    std::string m_metaData;
};

typedef std::list<SMMetaDataInfo> SMMetaDataList;

// A query and, after getVolumeSnaps, its answer.
class SMVolSnapInfo {
  public:
    // Only rows of this engine (by default rows of every engine).
    void setSnapShotEngineId(int engineId) {
        m_engineId = engineId;
        m_engineSet = true;
    }
    // Which rows count as valid. Every stored row is a valid one, so the value
    // is kept for the record and changes nothing.
    void setRetrieveValidFlags(int flags) { m_validFlags = flags; }
    // Only rows of the control hosts added (by default rows of every host).
    void addControlHost(const SMControlHostInfo& host) { m_controlHosts.push_back(host); }

    // 0 after a successful query, else RKMM_ERROR_NO_RECORDS or RKMM_ERROR_DATABASE.
    int getErrorCode() const { return m_errorCode; }

    SMMetaDataList::iterator metaDataListBegin() { return m_rows.begin(); }
    SMMetaDataList::iterator metaDataListEnd() { return m_rows.end(); }
    SMMetaDataList::const_iterator metaDataListBegin() const { return m_rows.begin(); }
    SMMetaDataList::const_iterator metaDataListEnd() const { return m_rows.end(); }

  private:
    friend class RKMMSnapAPI;
    int m_engineId = 0;
    bool m_engineSet = false;
    int m_validFlags = 0;
    std::vector<SMControlHostInfo> m_controlHosts;
    int m_errorCode = 0;
    SMMetaDataList m_rows;
};

class RKMMbase {
  public:
    explicit RKMMbase(int clientKind) : m_clientKind(clientKind) {}
    virtual ~RKMMbase() = default;
    int getClientKind() const { return m_clientKind; }

  private:
    int m_clientKind;
};

class RKMMSnapAPI : public RKMMbase {
  public:
    // clientKind must be RKMM_CLIENT_SNAPSHOTS (2); any other kind fails every query.
    explicit RKMMSnapAPI(int clientKind) : RKMMbase(clientKind) {}

    // Fills query with the matching rows, oldest first. True when at least one
    // row matched; false with RKMM_ERROR_NO_RECORDS when none did, or with
    // RKMM_ERROR_DATABASE (and a debug log line) when the database failed.
    bool getVolumeSnaps(SMVolSnapInfo& query);

  private:
    bool runQuery(SMVolSnapInfo& query);
};

// The host's side: records and removes the rows the plug-in reads. Each device
// (the host's own name for it) has at most one row. Not shared between threads
// without a lock of the caller's; separate objects may be used at once.
class RKMMSnapStore {
  public:
    // The database of the configuration store ([Host] SnapDatabase).
    RKMMSnapStore();
    explicit RKMMSnapStore(const std::string& path);
    ~RKMMSnapStore();
    RKMMSnapStore(const RKMMSnapStore&) = delete;
    RKMMSnapStore& operator=(const RKMMSnapStore&) = delete;

    // Records the device's row, replacing the one it had.
    bool recordSnap(const std::string& deviceName, int engineId, int controlHostId, int refType,
                    const std::string& metaData, int metaDataType = 1);
    // Removes the device's row; a device without a row is not an error.
    bool removeSnap(const std::string& deviceName);

    // Schema versions per component: this library's tables are "rkhost"; a
    // host adds tables of its own under its own component name. steps[i] is
    // the SQL taking the component from version i to i + 1; the steps not yet
    // applied run in order, each in its own transaction with its version. A
    // database newer than the steps given is refused and left alone.
    bool migrate(const std::string& component, const std::vector<std::string>& steps);
    // The component's version (0 for an unknown component), or -1 on failure.
    int schemaVersion(const std::string& component);

    // Why the last call failed (never holds row texts).
    std::string getLastError() const;

  private:
    struct Impl;
    Impl* m_impl;
};
