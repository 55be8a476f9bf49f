#include "engine/DeviceLog.h"

#include <cstdarg>
#include <cstdio>

#include "engine/Globals.h"

namespace rkso {

void logDevice(RKSO::SnapInfo* info, const char* tag, int deviceLevel, int moduleLevel,
               const char* format, ...) {
    char text[kMaxLogLine + 1];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) text[0] = '\0';
    if (info)
        info->logFormat(deviceLevel, tag, "%s", text);
    else
        o_logger.DebugLvl(tag, moduleLevel, "%s", text);
}

}  // namespace rkso
