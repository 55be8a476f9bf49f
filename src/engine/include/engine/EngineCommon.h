// Helpers every entry point uses.
#pragma once

#include "rkso/SnapInfo.h"

// Records a host error on the device unless one is already recorded (first error wins).
void setError(RKSO::SnapInfo* info, int code, const char* msg);

// The device's snapshot engine type: item "engineId" of its array record, 0 when missing.
short getSnapEngineType(RKSO::SnapInfo* info);

namespace rkso {

// 0 when every device succeeded (or there was none), 1 when none did, 2 otherwise.
int resultFromSuccesses(int successes, int total);

// False (after logging on the module logger under tag) when the call names no
// usable device: count below 1, a null array or a null entry.
bool checkDevices(const char* tag, RKSO::SnapInfo** devices, short count);

}  // namespace rkso
