// In-memory RKSO::SnapInfo; one mutex guards every member, so worker threads may use it.
#pragma once

#include <algorithm>
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
    // --- what a test sets up ---
    void setSnapNameValue(const std::string& v) { set(m_snapName, v); }
    void setArrayInfoText(const std::string& v) { set(m_arrayInfo, v); }
    void setDevicePathValue(const std::string& v) { set(m_devicePath, v); }
    void setSnapFlagsValue(int v) { set(m_snapFlags, v); }
    void setEngineIdValue(short v) { set(m_engineId, v); }
    void setControlHostIdValue(int v) { set(m_controlHostId, v); }
    void setSourceDeviceNameValue(const std::string& v) { set(m_sourceDeviceName, v); }
    void setConfig(const std::string& key, const std::string& v) { set(m_config[key], v); }
    void setIntValue(int number, int v) { set(m_intValues[number], v); }
    void setMetaDataText(int id, const std::string& v) { set(m_metaData[id], v); }
    // Makes the named operation (e.g. "setMetaData", "getHostId") report failure.
    void failCall(const std::string& operation) {
        Lock l(m_mu);
        m_failing.insert(operation);
    }
    // Makes logFormat throw std::runtime_error once, after recording the first line that
    // contains needle: a host callback that throws.
    void throwWhenLogged(const std::string& needle) { set(m_throwWhenLogged, needle); }
    // --- what a test reads back ---
    std::optional<std::string> metaData(int id) const;
    RKSO::SnapStatus status() const { return get(m_status); }
    int errorCode() const { return get(m_errorCode); }
    std::string errorText() const { return get(m_errorText); }
    int setErrorInfoCalls() const { return get(m_setErrorInfoCalls); }
    std::string snapDevicePath() const { return get(m_snapDevicePath); }
    std::string selectedArray() const { return get(m_selectedArray); }
    std::vector<int> snapFlagsSet() const { return get(m_snapFlagsSet); }
    std::vector<LogLine> logLines() const { return get(m_log); }
    // Every operation called, in order, by name.
    std::vector<std::string> calls() const { return get(m_calls); }
    bool called(const std::string& op) const {
        const auto c = calls();
        return std::find(c.begin(), c.end(), op) != c.end();
    }
    // True when some log line (text or tag) contains needle.
    bool logContains(const std::string& needle) const;
    // --- RKSO::SnapInfo ---
    // clang-format off
    int getSnapName(char* b, short* l) override { return give("getSnapName", m_snapName, b, l); }
    int getArrayInfo(char* b, short* l) override { return give("getArrayInfo", m_arrayInfo, b, l); }
    int getHostId(char* b, short* l) override { return give("getHostId", m_hostId, b, l); }
    int getDevicePath(char* b, short* l) override { return give("getDevicePath", m_devicePath, b, l); }
    int getSnapDevicePath(char* b, short* l) override { return give("getSnapDevicePath", m_snapDevicePath, b, l); }
    int setArrayName(const char* arrayId) override;
    void setSnapFlag(int flag) override;
    int getSnapFlags() override { return answer("getSnapFlags", m_snapFlags); }
    RKSO::SnapStatus getStatus() override { return answer("getStatus", m_status); }
    void setStatus(RKSO::SnapStatus s) override { store("setStatus", m_status, s); }
    void setSnapDevicePath(const char* p) override { store("setSnapDevicePath", m_snapDevicePath, std::string(p ? p : "")); }
    int getMetaData(int id, char* buf, short* len) override;
    int setMetaData(int id, const char* v) override { return putMetaData("setMetaData", id, v); }
    void setErrorInfo(int code, const char* msg) override;
    void getErrorInfo(int* code, char* msg, short* len) override;
    void logMessage(int level, const char* msg) override;
    void logFormat(int level, const char* tag, const char* fmt, ...) override __attribute__((format(printf, 4, 5)));
    short getSnapEngineId() override { return answer("getSnapEngineId", m_engineId); }
    void getConfigInt(const char* key, int* value) override;
    void getConfigString(const char* key, char* buf, int* len) override;
    int setMetaDataValue(int id, const char* v) override { return putMetaData("setMetaDataValue", id, v); }
    void getIntValue(int number, int* value) override;
    int getControlHostId() override { return answer("getControlHostId", m_controlHostId); }
    void getSourceDeviceName(std::string& name) override { name = answer("getSourceDeviceName", m_sourceDeviceName); }
    bool getMetaDataValue(int id, std::string& value) override { return find("getMetaDataValue", m_metaData, id, value); }
    bool getConfigValue(const std::string& key, std::string& value) override { return find("getConfigValue", m_config, key, value); }
    // clang-format on

  private:
    using Lock = std::lock_guard<std::mutex>;
    template <class T, class V>
    void set(T& field, const V& v) {
        Lock l(m_mu);
        field = v;
    }
    template <class T>
    T get(const T& field) const {
        Lock l(m_mu);
        return field;
    }
    // Records the call; the value asked for.
    template <class T>
    T answer(const char* operation, const T& field) {
        Lock l(m_mu);
        record(operation);
        return field;
    }
    // Records the call; stores v unless the operation fails.
    template <class T>
    void store(const char* operation, T& field, const T& v) {
        Lock l(m_mu);
        if (!record(operation)) field = v;
    }
    // Records the call; the value of key, false when failing or absent.
    template <class M>
    bool find(const char* operation, const M& map, const typename M::key_type& key,
              std::string& value) {
        Lock l(m_mu);
        if (record(operation)) return false;
        auto it = map.find(key);
        if (it == map.end()) return false;
        value = it->second;
        return true;
    }
    bool record(const char* operation);  // true when the call must fail
    // The host buffer protocol: 0 with the text copied, 1 when failing.
    int give(const char* operation, const std::string& value, char* buf, short* len);
    int putMetaData(const char* operation, int id, const char* value);
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
