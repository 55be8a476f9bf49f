// One log line for a device: through its request object when there is one, else
// through the module logger. Texts are formatted once and passed on as "%s", so a
// '%' that came from outside is never read as a conversion.
#pragma once

#include "rkso/SnapInfo.h"

namespace rkso {

// Longest line handed on; longer texts are cut.
constexpr int kMaxLogLine = 4095;

void logDevice(RKSO::SnapInfo* info, const char* tag, int deviceLevel, int moduleLevel,
               const char* format, ...) __attribute__((format(printf, 5, 6)));

}  // namespace rkso
