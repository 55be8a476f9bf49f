// Trace and error sink shared by every object of the SMI-S layer. Bound to a
// device's request object, lines go to the host's log for that device and errors
// become the device's error; unbound, lines go to the host debug log.
#pragma once

#include <cstdarg>

#include "rkso/SnapInfo.h"

class RkSmisTracer {
  public:
    // Trace texts are cut to this many characters.
    static constexpr int kMaxTraceChars = 4095;

    RkSmisTracer() = default;

    // Detailed line: device level 2, or debug-log level -1 when unbound.
    void DEBUG_TRACE(const char* function, const char* format, ...) const
        __attribute__((format(printf, 3, 4)));
    // Normal line: device level 0, or debug-log level 1 when unbound.
    void DEBUG_TRACE_NORMAL(const char* function, const char* format, ...) const
        __attribute__((format(printf, 3, 4)));
    // Logs text and makes it the device's error with hostErrorCode; no-op when unbound.
    void DEBUG_SET_ERROR(int hostErrorCode, const char* text) const;

    RKSO::SnapInfo* m_pLogger = nullptr;
    // Set by the connection when the CIMOM rejected the credentials.
    bool m_AuthFailed = false;

  private:
    void trace(const char* function, bool detailed, const char* format, va_list args) const;
};
