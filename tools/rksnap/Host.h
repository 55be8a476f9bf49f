// rksnap's side of the host contract: the per-device request object and the
// host utility object the plug-in calls, backed by rksnap's records and
// configuration. A device writes every change through to the records at once,
// so a kill between two calls of the plug-in loses nothing it was told.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Config.h"
#include "Records.h"
#include "rkso/SnapInfo.h"

namespace rksnap {

// What every device of one call shares.
struct CallContext {
    const Config* config = nullptr;
    Records* records = nullptr;
    std::string keyFile;  // the password key file
    int controlHostId = 1;
    int64_t callId = 0;
    std::string op;  // the command's operation: prepare, snap, delete, ...
    short engineId = 0;
    bool consistencyGroup = false;
    int snapFlags = 0;
    short operationType = 0;
    std::string arrayName;  // the snapshot's array, when known
    std::string snapName;
    // A progress line (level 1 and 2) from any device, for the terminal.
    std::function<void(const std::string&)> onProgress;
};

// Tests stop rksnap with SIGKILL at a chosen point of a call: when the environment
// variable RKSNAP_DIE_AT is "<op>:<event>" (events: "identifier", a status name,
// "outcome"), just before that event is recorded.
void dieAt(const std::string& op, const std::string& event);

// The array record the plug-in reads ("arrayId", "hostName", "hostUserName",
// "hostPassword", "engineId"), with the password decrypted. Empty with a
// reason when the password cannot be decrypted or holds a character the item
// text cannot carry.
std::string arrayRecord(const ArrayEntry& array, const std::string& keyFile, short engineId,
                        std::string* error);

class HostDevice : public RKSO::SnapInfo {
  public:
    HostDevice(CallContext& call, DeviceRecord record);
    ~HostDevice() override;

    DeviceRecord record() const;
    // The array the plug-in selected (by id) during this call, if any.
    std::string selectedArray() const;
    // Why the last array lookup failed, for the user ("" when none did).
    std::string arrayProblem() const;
    // The last error line the plug-in logged for this device.
    std::string lastErrorLine() const;

    int getSnapName(char* buf, short* len) override;
    int getArrayInfo(char* buf, short* len) override;
    int setArrayName(const char* arrayId) override;
    int getHostId(char* buf, short* len) override;
    void setSnapFlag(int flag) override;
    int getSnapFlags() override;
    RKSO::SnapStatus getStatus() override;
    void setStatus(RKSO::SnapStatus status) override;
    int getDevicePath(char* buf, short* len) override;
    int getSnapDevicePath(char* buf, short* len) override;
    void setSnapDevicePath(const char* path) override;
    int getMetaData(int id, char* buf, short* len) override;
    int setMetaData(int id, const char* value) override;
    void setErrorInfo(int code, const char* msg) override;
    void getErrorInfo(int* code, char* msg, short* len) override;
    void logMessage(int level, const char* msg) override;
    void logFormat(int level, const char* tag, const char* fmt, ...) override
        __attribute__((format(printf, 4, 5)));
    short getSnapEngineId() override;
    void getConfigInt(const char* key, int* value) override;
    void getConfigString(const char* key, char* buf, int* len) override;
    int setMetaDataValue(int id, const char* value) override;
    void getIntValue(int number, int* value) override;
    int getControlHostId() override;
    void getSourceDeviceName(std::string& name) override;
    bool getMetaDataValue(int id, std::string& value) override;
    bool getConfigValue(const std::string& key, std::string& value) override;

  private:
    void save();  // caller holds m_mu
    void log(int level, const std::string& tag, const std::string& text);
    bool configValue(const std::string& key, std::string* value);
    std::string arrayText();

    CallContext& m_call;
    mutable std::mutex m_mu;
    DeviceRecord m_rec;
    std::string m_selectedArray;
    std::string m_refusedArray;  // asked for by setArrayName, not configured
    std::string m_arrayProblem;
    std::string m_lastErrorLine;
};

class HostUtil : public RKSO::RKOSUtil {
  public:
    explicit HostUtil(CallContext& call) : m_call(call) {}

    void rescanDevices(const char* hostId, const char** listA, const char** listB) override;
    short listDevices(const char* hostId, const char* vendor, char sep, int size,
                      char* buf) override;
    short getArrayList(const char* vendor, char sep, short size, char* buf) override;
    int queryHbaList(const char* hostId, const char* arrayId, char* names, short* namesLen,
                     char* kinds, short* kindsLen, short* count) override;
    int queryHba(const char* hostId, const char* arrayId, char* buf, short* len,
                 bool* isIscsi) override;
    short getArrayCredentials(const char* arrayName, char* buf, short* len) override;
    short getEngineId() override { return m_call.engineId; }
    short getOperationType() override { return m_call.operationType; }

  private:
    CallContext& m_call;
};

}  // namespace rksnap
