#include "testsupport/LogCapture.h"

#include <climits>

#include "rkso/EvDebug.h"

namespace testsupport {

LogCapture::LogCapture() : m_previousLevel(EvDebug::getLogLevel()) {
    EvDebug::setLogLevel(INT_MIN);
    EvDebug::setSink(&LogCapture::sink, this);
}

LogCapture::~LogCapture() {
    EvDebug::setSink(nullptr, nullptr);
    EvDebug::setLogLevel(m_previousLevel);
}

void LogCapture::sink(void* context, const char* tag, int level, const char* text) {
    auto* self = static_cast<LogCapture*>(context);
    std::lock_guard<std::mutex> lock(self->m_mu);
    self->m_lines.push_back({tag ? tag : "", level, text ? text : ""});
}

std::vector<CapturedLine> LogCapture::lines() const {
    std::lock_guard<std::mutex> lock(m_mu);
    return m_lines;
}

bool LogCapture::contains(const std::string& needle) const {
    std::lock_guard<std::mutex> lock(m_mu);
    for (const CapturedLine& l : m_lines)
        if (l.text.find(needle) != std::string::npos) return true;
    return false;
}

}  // namespace testsupport
