#include "testsupport/FakeSnapInfo.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace testsupport {

std::optional<std::string> FakeSnapInfo::metaData(int id) const {
    Lock l(m_mu);
    auto it = m_metaData.find(id);
    if (it == m_metaData.end()) return std::nullopt;
    return it->second;
}

bool FakeSnapInfo::logContains(const std::string& needle) const {
    Lock l(m_mu);
    return std::any_of(m_log.begin(), m_log.end(), [&](const LogLine& line) {
        return line.text.find(needle) != std::string::npos ||
               line.tag.find(needle) != std::string::npos;
    });
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

int FakeSnapInfo::give(const char* op, const std::string& value, char* buf, short* len) {
    Lock l(m_mu);
    if (record(op) || !len) return 1;
    copyOut(value, buf, *len);
    return 0;
}

int FakeSnapInfo::putMetaData(const char* op, int id, const char* value) {
    Lock l(m_mu);
    if (record(op)) return 1;
    if (value)
        m_metaData[id] = value;
    else
        m_metaData.erase(id);
    return 0;
}

int FakeSnapInfo::setArrayName(const char* arrayId) {
    Lock l(m_mu);
    if (record("setArrayName") || !arrayId) return 1;
    m_selectedArray = arrayId;
    return 0;
}

void FakeSnapInfo::setSnapFlag(int flag) {
    Lock l(m_mu);
    if (!record("setSnapFlag")) m_snapFlagsSet.push_back(flag);
}

int FakeSnapInfo::getMetaData(int id, char* buf, short* len) {
    Lock l(m_mu);
    if (record("getMetaData") || !len) return 1;
    auto it = m_metaData.find(id);
    copyOut(it == m_metaData.end() ? std::string() : it->second, buf, *len);
    return it == m_metaData.end() ? 1 : 0;
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
        va_list args, again;
        va_start(args, fmt);
        va_copy(again, args);
        text.resize(static_cast<size_t>(std::max(std::vsnprintf(nullptr, 0, fmt, args), 0)) + 1);
        std::vsnprintf(&text[0], text.size(), fmt, again);
        text.pop_back();
        va_end(again);
        va_end(args);
    }
    Lock l(m_mu);
    record("logFormat");
    m_log.push_back({level, tag ? tag : "", text});
    if (!m_throwWhenLogged.empty() && text.find(m_throwWhenLogged) != std::string::npos) {
        m_throwWhenLogged.clear();  // once
        throw std::runtime_error("host log refused a line");
    }
}

void FakeSnapInfo::getConfigInt(const char* key, int* value) {
    Lock l(m_mu);
    if (record("getConfigInt") || !key || !value || !m_config.count(key)) return;
    const std::string& text = m_config.at(key);
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str()) *value = static_cast<int>(v);
}

void FakeSnapInfo::getConfigString(const char* key, char* buf, int* len) {
    Lock l(m_mu);
    if (record("getConfigString") || !key || !len) return;
    auto it = m_config.find(key);
    copyOut(it == m_config.end() ? std::string() : it->second, buf, *len);
}

void FakeSnapInfo::getIntValue(int number, int* value) {
    Lock l(m_mu);
    if (record("getIntValue") || !value) return;
    auto it = m_intValues.find(number);
    if (it != m_intValues.end()) *value = it->second;
}

}  // namespace testsupport
