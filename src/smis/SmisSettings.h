// Host settings read by the older-engine wrappers: numbers, integers and texts of
// section "Talon", and the array's own settings from the device's request object.
#pragma once

#include <string>

#include "rkso/RKPlatformInfo.h"
#include "rkso/SnapInfo.h"

namespace smisset {

// The Talon number key, or fallback when it is absent or unreadable.
inline unsigned long TalonNumber(const char* key, unsigned long fallback = 0) {
    unsigned long value = fallback;
    if (!RKPlatformInfo().getNumber("Talon", key, &value)) return fallback;
    return value;
}

inline bool TalonNumberSet(const char* key, unsigned long& value) {
    value = 0;
    return RKPlatformInfo().getNumber("Talon", key, &value) != 0;
}

inline int TalonInt(const char* key, int fallback = 0) {
    int value = fallback;
    if (!RKPlatformInfo().getRegInt("Talon", key, &value)) return fallback;
    return value;
}

inline bool TalonString(const char* key, std::string& value) {
    return RKPlatformInfo().getString("Talon", key, &value) != 0;
}

// An array setting of the device (up to 1023 characters); empty without a device.
inline std::string ArrayConfigString(RKSO::SnapInfo* device, const char* key) {
    if (!device) return std::string();
    char buf[1024] = {0};
    int len = sizeof buf;
    device->getConfigString(key, buf, &len);
    buf[sizeof buf - 1] = '\0';
    return buf;
}

inline int ArrayConfigInt(RKSO::SnapInfo* device, const char* key, int fallback = 0) {
    int value = fallback;
    if (device) device->getConfigInt(key, &value);
    return value;
}

}  // namespace smisset
