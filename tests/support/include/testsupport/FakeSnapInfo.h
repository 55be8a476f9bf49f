// In-memory RKSO::SnapInfo: stores everything the plug-in writes, answers from
// values a test sets, records every call and log line, and can be told to fail
// a named operation. Safe to use from one worker thread while a test thread
// reads it afterwards (every member is guarded by one mutex).
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "rkso/SnapInfo.h"

namespace testsupport {

struct LogLine {
    int level;
    std::string tag;  // empty for logMessage
    std::string text;
};

class FakeSnapInfo : public RKSO::SnapInfo {
  public:
    FakeSnapInfo() = default;

    // --- what a test sets up ---
    void setSnapNameValue(const std::string& v);
    void setArrayInfoText(const std::string& v);
    void setHostIdValue(const std::string& v);
    void setDevicePathValue(const std::string& v);
    void setSnapFlagsValue(int v);
    void setEngineIdValue(short v);
    void setControlHostIdValue(int v);
    void setSourceDeviceNameValue(const std::string& v);
    void setConfig(const std::string& key, const std::string& value);
    void setIntValue(int number, int value);
    void setMetaDataText(int id, const std::string& value);
    // Makes the named operation (e.g. "setMetaData", "getHostId") report failure.
    void failCall(const std::string& operation);
    // Makes logFormat throw std::runtime_error once, after recording the first line
    // that contains needle: a host callback that throws.
    void throwWhenLogged(const std::string& needle);

    // --- what a test reads back ---
    std::optional<std::string> metaData(int id) const;
    RKSO::SnapStatus status() const;
    int errorCode() const;
    std::string errorText() const;
    int setErrorInfoCalls() const;
    std::string snapDevicePath() const;
    std::string selectedArray() const;
    std::vector<int> snapFlagsSet() const;
    std::vector<LogLine> logLines() const;
    // Every operation called, in order, by name.
    std::vector<std::string> calls() const;
    bool called(const std::string& operation) const;
    // True when some log line contains needle.
    bool logContains(const std::string& needle) const;

    // --- RKSO::SnapInfo ---
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
    bool record(const char* operation);  // returns true when the call must fail
    static void copyOut(const std::string& value, char* buf, int capacity);

    mutable std::mutex m_mu;
    int m_controlHostId = 0;
    std::string m_snapName = "snap";
    std::string m_arrayInfo;
    std::string m_selectedArray;
    std::string m_hostId = "host-1";
    std::string m_devicePath = "/dev/sdb";
    std::string m_snapDevicePath;
    int m_snapFlags = 0;
    std::vector<int> m_snapFlagsSet;
    short m_engineId = 0;
    std::string m_sourceDeviceName = "/dev/sdb";
    RKSO::SnapStatus m_status = RKSO::SNAP_STATUS_RESET;
    std::map<int, std::string> m_metaData;
    std::map<std::string, std::string> m_config;
    std::map<int, int> m_intValues;
    int m_errorCode = 0;
    std::string m_errorText;
    int m_setErrorInfoCalls = 0;
    std::vector<LogLine> m_log;
    std::vector<std::string> m_calls;
    std::set<std::string> m_failing;
    std::string m_throwWhenLogged;
};

}  // namespace testsupport
