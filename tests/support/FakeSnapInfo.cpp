#include "testsupport/FakeSnapInfo.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace testsupport {

using Lock = std::lock_guard<std::mutex>;

void FakeSnapInfo::setSnapNameValue(const std::string& v) {
    Lock l(m_mu);
    m_snapName = v;
}
void FakeSnapInfo::setArrayInfoText(const std::string& v) {
    Lock l(m_mu);
    m_arrayInfo = v;
}
void FakeSnapInfo::setHostIdValue(const std::string& v) {
    Lock l(m_mu);
    m_hostId = v;
}
void FakeSnapInfo::setDevicePathValue(const std::string& v) {
    Lock l(m_mu);
    m_devicePath = v;
}
void FakeSnapInfo::setSnapFlagsValue(int v) {
    Lock l(m_mu);
    m_snapFlags = v;
}
void FakeSnapInfo::setEngineIdValue(short v) {
    Lock l(m_mu);
    m_engineId = v;
}
void FakeSnapInfo::setControlHostIdValue(int v) {
    Lock l(m_mu);
    m_controlHostId = v;
}
void FakeSnapInfo::setSourceDeviceNameValue(const std::string& v) {
    Lock l(m_mu);
    m_sourceDeviceName = v;
}
void FakeSnapInfo::setConfig(const std::string& k, const std::string& v) {
    Lock l(m_mu);
    m_config[k] = v;
}
void FakeSnapInfo::setIntValue(int n, int v) {
    Lock l(m_mu);
    m_intValues[n] = v;
}
void FakeSnapInfo::setMetaDataText(int id, const std::string& v) {
    Lock l(m_mu);
    m_metaData[id] = v;
}
void FakeSnapInfo::failCall(const std::string& op) {
    Lock l(m_mu);
    m_failing.insert(op);
}

std::optional<std::string> FakeSnapInfo::metaData(int id) const {
    Lock l(m_mu);
    auto it = m_metaData.find(id);
    if (it == m_metaData.end()) return std::nullopt;
    return it->second;
}
RKSO::SnapStatus FakeSnapInfo::status() const {
    Lock l(m_mu);
    return m_status;
}
int FakeSnapInfo::errorCode() const {
    Lock l(m_mu);
    return m_errorCode;
}
std::string FakeSnapInfo::errorText() const {
    Lock l(m_mu);
    return m_errorText;
}
int FakeSnapInfo::setErrorInfoCalls() const {
    Lock l(m_mu);
    return m_setErrorInfoCalls;
}
std::string FakeSnapInfo::snapDevicePath() const {
    Lock l(m_mu);
    return m_snapDevicePath;
}
std::string FakeSnapInfo::selectedArray() const {
    Lock l(m_mu);
    return m_selectedArray;
}
std::vector<int> FakeSnapInfo::snapFlagsSet() const {
    Lock l(m_mu);
    return m_snapFlagsSet;
}
std::vector<LogLine> FakeSnapInfo::logLines() const {
    Lock l(m_mu);
    return m_log;
}
std::vector<std::string> FakeSnapInfo::calls() const {
    Lock l(m_mu);
    return m_calls;
}

bool FakeSnapInfo::called(const std::string& op) const {
    Lock l(m_mu);
    return std::find(m_calls.begin(), m_calls.end(), op) != m_calls.end();
}

bool FakeSnapInfo::logContains(const std::string& needle) const {
    Lock l(m_mu);
    for (const LogLine& line : m_log)
        if (line.text.find(needle) != std::string::npos ||
            line.tag.find(needle) != std::string::npos)
            return true;
    return false;
}

bool FakeSnapInfo::record(const char* op) {
    m_calls.push_back(op);
    return m_failing.count(op) != 0;
}

void FakeSnapInfo::copyOut(const std::string& value, char* buf, int capacity) {
    if (!buf || capacity <= 0) return;
    size_t n = std::min(value.size(), static_cast<size_t>(capacity - 1));
    std::memcpy(buf, value.data(), n);
    buf[n] = '\0';
}

int FakeSnapInfo::getSnapName(char* buf, short* len) {
    Lock l(m_mu);
    if (record("getSnapName") || !len) return 1;
    copyOut(m_snapName, buf, *len);
    return 0;
}

int FakeSnapInfo::getArrayInfo(char* buf, short* len) {
    Lock l(m_mu);
    if (record("getArrayInfo") || !len) return 1;
    copyOut(m_arrayInfo, buf, *len);
    return 0;
}

int FakeSnapInfo::setArrayName(const char* arrayId) {
    Lock l(m_mu);
    if (record("setArrayName") || !arrayId) return 1;
    m_selectedArray = arrayId;
    return 0;
}

int FakeSnapInfo::getHostId(char* buf, short* len) {
    Lock l(m_mu);
    if (record("getHostId") || !len) return 1;
    copyOut(m_hostId, buf, *len);
    return 0;
}

void FakeSnapInfo::setSnapFlag(int flag) {
    Lock l(m_mu);
    if (record("setSnapFlag")) return;
    m_snapFlagsSet.push_back(flag);
}

int FakeSnapInfo::getSnapFlags() {
    Lock l(m_mu);
    record("getSnapFlags");
    return m_snapFlags;
}

RKSO::SnapStatus FakeSnapInfo::getStatus() {
    Lock l(m_mu);
    record("getStatus");
    return m_status;
}

void FakeSnapInfo::setStatus(RKSO::SnapStatus status) {
    Lock l(m_mu);
    if (record("setStatus")) return;
    m_status = status;
}

int FakeSnapInfo::getDevicePath(char* buf, short* len) {
    Lock l(m_mu);
    if (record("getDevicePath") || !len) return 1;
    copyOut(m_devicePath, buf, *len);
    return 0;
}

int FakeSnapInfo::getSnapDevicePath(char* buf, short* len) {
    Lock l(m_mu);
    if (record("getSnapDevicePath") || !len) return 1;
    copyOut(m_snapDevicePath, buf, *len);
    return 0;
}

void FakeSnapInfo::setSnapDevicePath(const char* path) {
    Lock l(m_mu);
    if (record("setSnapDevicePath")) return;
    m_snapDevicePath = path ? path : "";
}

int FakeSnapInfo::getMetaData(int id, char* buf, short* len) {
    Lock l(m_mu);
    if (record("getMetaData") || !len) return 1;
    auto it = m_metaData.find(id);
    if (it == m_metaData.end()) {
        copyOut("", buf, *len);
        return 1;
    }
    copyOut(it->second, buf, *len);
    return 0;
}

int FakeSnapInfo::setMetaData(int id, const char* value) {
    Lock l(m_mu);
    if (record("setMetaData")) return 1;
    if (value)
        m_metaData[id] = value;
    else
        m_metaData.erase(id);
    return 0;
}

void FakeSnapInfo::setErrorInfo(int code, const char* msg) {
    Lock l(m_mu);
    if (record("setErrorInfo")) return;
    ++m_setErrorInfoCalls;
    m_errorCode = code;
    m_errorText = msg ? msg : "";
}

void FakeSnapInfo::getErrorInfo(int* code, char* msg, short* len) {
    Lock l(m_mu);
    record("getErrorInfo");
    if (code) *code = m_errorCode;
    if (msg && len) copyOut(m_errorText, msg, *len);
}

void FakeSnapInfo::logMessage(int level, const char* msg) {
    Lock l(m_mu);
    record("logMessage");
    m_log.push_back({level, std::string(), msg ? msg : ""});
}

void FakeSnapInfo::logFormat(int level, const char* tag, const char* fmt, ...) {
    std::string text;
    if (fmt) {
        va_list args;
        va_start(args, fmt);
        va_list again;
        va_copy(again, args);
        int n = std::vsnprintf(nullptr, 0, fmt, args);
        va_end(args);
        if (n > 0) {
            text.resize(static_cast<size_t>(n) + 1);
            std::vsnprintf(&text[0], text.size(), fmt, again);
            text.resize(static_cast<size_t>(n));
        }
        va_end(again);
    }
    Lock l(m_mu);
    record("logFormat");
    m_log.push_back({level, tag ? tag : "", text});
    if (!m_throwWhenLogged.empty() && text.find(m_throwWhenLogged) != std::string::npos) {
        m_throwWhenLogged.clear();  // once
        throw std::runtime_error("host log refused a line");
    }
}

void FakeSnapInfo::throwWhenLogged(const std::string& needle) {
    Lock l(m_mu);
    m_throwWhenLogged = needle;
}

short FakeSnapInfo::getSnapEngineId() {
    Lock l(m_mu);
    record("getSnapEngineId");
    return m_engineId;
}

void FakeSnapInfo::getConfigInt(const char* key, int* value) {
    Lock l(m_mu);
    if (record("getConfigInt") || !key || !value) return;
    auto it = m_config.find(key);
    if (it == m_config.end()) return;
    char* end = nullptr;
    long v = std::strtol(it->second.c_str(), &end, 10);
    if (end != it->second.c_str()) *value = static_cast<int>(v);
}

void FakeSnapInfo::getConfigString(const char* key, char* buf, int* len) {
    Lock l(m_mu);
    if (record("getConfigString") || !key || !len) return;
    auto it = m_config.find(key);
    copyOut(it == m_config.end() ? std::string() : it->second, buf, *len);
}

int FakeSnapInfo::setMetaDataValue(int id, const char* value) {
    Lock l(m_mu);
    if (record("setMetaDataValue")) return 1;
    if (value)
        m_metaData[id] = value;
    else
        m_metaData.erase(id);
    return 0;
}

void FakeSnapInfo::getIntValue(int number, int* value) {
    Lock l(m_mu);
    if (record("getIntValue") || !value) return;
    auto it = m_intValues.find(number);
    if (it != m_intValues.end()) *value = it->second;
}

int FakeSnapInfo::getControlHostId() {
    Lock l(m_mu);
    record("getControlHostId");
    return m_controlHostId;
}

void FakeSnapInfo::getSourceDeviceName(std::string& name) {
    Lock l(m_mu);
    record("getSourceDeviceName");
    name = m_sourceDeviceName;
}

bool FakeSnapInfo::getMetaDataValue(int id, std::string& value) {
    Lock l(m_mu);
    if (record("getMetaDataValue")) return false;
    auto it = m_metaData.find(id);
    if (it == m_metaData.end()) return false;
    value = it->second;
    return true;
}

bool FakeSnapInfo::getConfigValue(const std::string& key, std::string& value) {
    Lock l(m_mu);
    if (record("getConfigValue")) return false;
    auto it = m_config.find(key);
    if (it == m_config.end()) return false;
    value = it->second;
    return true;
}

}  // namespace testsupport
