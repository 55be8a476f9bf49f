// Helpers every entry point uses.
#pragma once

#include <string>

#include "rkso/SnapInfo.h"

// Host error codes more than one entry point reports.
constexpr int kErrNotSupported = 60557;    // the device's vendor step failed
constexpr int kErrHostIdentifier = 62002;  // no host identifier
constexpr int kErrInitiators = 62003;      // no initiator ports
constexpr int kErrArrayInfo = 62005;       // the device's array record is missing

std::string upperCase(std::string s);
std::string lowerCase(std::string s);

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
