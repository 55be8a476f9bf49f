// The generic per-device snapshot object of the SMI-S layer and its parameter
// records. The entry points fill one per device (always as LSISnapshot), call one
// of its operations, and read the results back from its members. Each operation
// opens and closes the object's own connection.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rkso/SnapInfo.h"
#include "smis/ErrorMap.h"
#include "smis/RkCimConnection.h"
#include "smis/RkCimom.h"
#include "smis/SmisAction.h"

namespace RK_SMIS_SNAP {

// Snapshot parameters, copied by SetSnapInfo.
struct RkSnapParams {
    std::string m_SystemName;
    std::string m_SnapName;
    int m_SnapOperation = 99;
    std::string m_SourceDev;
    std::string m_TargetDev;
    std::string m_DiskGroupName;
    bool m_UseDiskGroupOnly = false;
    std::string m_TargetSettingId;
    int m_SnapReserved = 0;  // carried only; no operation reads it
    std::string m_ServicePath;
    std::string m_SourceDevPath;
    std::string m_TargetDevPath;
    std::string m_TargetDGPath;
    std::string m_TargetSettingPath;
};

// View (mapping) parameters, copied by SetSnapViewInfo.
struct RkSnapViewParams {
    std::string m_TargetDev;
    std::string m_TargetDevPath;
    std::string m_InitiatorPorts;
    std::string m_TargetPorts;
    uint16_t m_ViewType = 0;  // carried only; no operation reads it
    uint16_t m_DeviceAccess = 99;
};

// The provider endpoint and the array's system name, copied by SetArrayInfo.
struct RkArrayParams : RkCimomParams {
    std::string m_SystemName;
};

class Snapshot : public SmisAction {
  public:
    Snapshot() = default;
    ~Snapshot() override = default;
    Snapshot(const Snapshot&) = default;
    Snapshot& operator=(const Snapshot&) = default;

    // --- Setters (SnapshotObject.cpp); nothing is validated here ---

    // Keeps a system name set earlier when the record's is empty; copies every other
    // field, empty ones included.
    void SetSnapInfo(RkSnapParams& params);
    // Overwrites the target UUID and path even with empty values.
    void SetSnapViewInfo(RkSnapViewParams& params);
    void SetArrayInfo(RkArrayParams& params);
    void SetSnapStatus(RKSO::SnapStatus status) { m_SnapStatus = status; }
    // Binds the device as the sink of this object's traces and of its connection's.
    void SetLogger(RKSO::SnapInfo* info);

    std::string GetSystemName() const { return m_SystemName; }
    std::string GetSourceDev() const { return m_SourceDev; }
    std::string GetSnapDevice() const { return m_TargetDev; }
    int GetSnapOperation() const { return m_SnapOperation; }
    std::string GetSourceDevPath() const { return m_SourceDevPath; }
    std::string GetSnapDevPath() const { return m_TargetDevPath; }

    // Vendor prefix of the array's storage system ("LSISSI", "DCIM", "NETAPP", ...);
    // empty when it cannot be read. Uses m_CimConnection, which must be open.
    std::string GetVendorName();

    // Changes one property of the instance at path: 0 done, -1 otherwise (no host
    // error is recorded; callers report).
    int SetSnapObjectProperty(std::string path, std::string propertyName, std::string newValue);

    // Records an error of the SMI-S layer (code is an SMI-S layer code) and reports
    // it to the host through the error table, unless the connection already
    // reported a credential failure.
    void setErrorMsg(int code, const char* message);

    // hostErrorCode of the first row whose smisErrorCode matches, else -1.
    int GetRkSmisErrorCode(int smisErrorCode) const;
    // smisErrorCode of the first row whose vendorErrorCode matches, else -1; *message
    // (when given) is cleared, then set to the row's text on a match.
    int GetVendorSmisErrorCode(int vendorErrorCode, std::string* message) const;

    int GetErrorCode() const { return m_ErrorCode; }
    const std::string& GetErrorMsg() const { return m_ErrorMsg; }
    const RK_SMIS_ERROR_MAP* GetErrorTable() const { return m_ErrorTable; }

    // --- Operations, in slot order; each takes its inputs from the members ---

    virtual int PrepareSnap();                                      // 1 prepared, 2 failed
    virtual int SnapCreate();                                       // 5 created, 6 failed
    virtual int UnprepareSnap();                                    // 0
    virtual int SnapRestore(short unused);                          // 22 restored, 23 failed
    virtual int MapSnap();                                          // 0 mapped, 1 failed
    virtual int UnmapSnap();                                        // 0 unmapped, 1 failed
    virtual int SnapDelete();                                       // 20 deleted, 21 failed
    virtual int IsSupported(RKSO::SNAP_TYPE type);                  // 1 supported, 0 not
    virtual int IsSnapMapped();                                     // 9, 10, 14, or 0 undecided
    virtual int GetSnapStatus();                                    // 24 target gone, else 0
    virtual int SnapSyncOp(unsigned short operation, bool noWait);  // 5, 6, 23
    virtual int CreateCloneVolume();                                // 1 created, 0 failed
    virtual int AttachCloneVolume(std::string copyType);            // 1 attached, 0 failed
    virtual int DetachSnap();                                       // 20, 21, 0 target missing
    virtual int CheckArrayExistence();                              // 0, 2 source missing, 1

    // --- Members, in declaration order ---

    RkCimConnection m_CimConnection;
    std::string m_SnapName;
    std::string m_SystemName;
    int m_SnapOperation = 99;  // 4 snapshot, 5 clone, 6 restore, 99 not set
    std::string m_SourceDev;
    std::string m_TargetDev;
    std::string m_SourceDevFriendlyName;
    std::string m_TargetDevFriendlyName;
    std::string m_DiskGroupName;
    bool m_UseDiskGroupOnly = false;
    std::string m_TargetSettingId;
    RKSO::SnapStatus m_SnapStatus = RKSO::SNAP_STATUS_RESET;
    std::vector<std::string> m_PrepareResults;
    std::string m_InitiatorPorts;
    std::string m_TargetPorts;
    uint16_t m_DeviceAccess = 99;  // 2 rw, 3 ro, 4 none, 99 not set
    uint16_t m_CloneVolumeType = 0;
    int m_ErrorCode = 0;
    std::string m_ErrorMsg;
    const RK_SMIS_ERROR_MAP* m_ErrorTable = nullptr;  // not owned
    std::string m_TargetDevPath;
    std::string m_SourceDevPath;
    std::string m_TargetDGPath;
    std::string m_TargetSettingPath;
    std::string m_ServicePath;
    std::string m_SyncPath;
    // Carried from the parameter records only.
    int m_SnapReserved = 0;
    uint16_t m_ViewType = 0;

  protected:
    // The frame of every operation: Open() connects m_CimConnection or records error
    // 3 with "<function>: Connection to CIMOM failed"; the destructor disconnects,
    // so every return of an operation closes its connection.
    class ConnectionScope {
      public:
        explicit ConnectionScope(Snapshot& owner) : m_owner(owner) {}
        ~ConnectionScope() { Close(); }
        ConnectionScope(const ConnectionScope&) = delete;
        ConnectionScope& operator=(const ConnectionScope&) = delete;

        bool Open(const char* function);
        void Close();

      private:
        Snapshot& m_owner;
        bool m_open = false;
    };

    // "Invalid Parameters\n" under function.
    void TraceInvalidParameters(const char* function) const;
};

}  // namespace RK_SMIS_SNAP
