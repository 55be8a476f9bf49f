#include "smis/RkSmisTracer.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "rkso/EvDebug.h"

void RkSmisTracer::trace(const char* function, bool detailed, const char* format,
                         va_list args) const {
    if (!function) function = "";
    char text[kMaxTraceChars + 1];
    text[0] = '\0';
    if (format) {
        int n = std::vsnprintf(text, sizeof text, format, args);
        if (n < 0) text[0] = '\0';
    }
    std::string line(text);
    if (!line.empty() && line.back() == '\n') line.pop_back();

    if (m_pLogger) {
        std::string full = std::string(function) + ": " + line;
        m_pLogger->logMessage(detailed ? 2 : 0, full.c_str());
    } else {
        EvDebug().DebugLvl(function, detailed ? -1 : 1, "%s", line.c_str());
    }
}

void RkSmisTracer::DEBUG_TRACE(const char* function, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    trace(function, true, format, args);
    va_end(args);
}

void RkSmisTracer::DEBUG_TRACE_NORMAL(const char* function, const char* format, ...) const {
    va_list args;
    va_start(args, format);
    trace(function, false, format, args);
    va_end(args);
}

void RkSmisTracer::DEBUG_SET_ERROR(int hostErrorCode, const char* text) const {
    if (!m_pLogger) return;
    if (!text) text = "";
    m_pLogger->logMessage(2, text);
    m_pLogger->setErrorInfo(hostErrorCode, text);
}
