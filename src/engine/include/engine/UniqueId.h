// The snap unique identifier: what the plug-in knows about a snapshot, stored by the
// host as metadata id 1 and handed back on every later call. Fields are joined by
// '*'; the PiT engine writes ten fields, the others eight. This is a persisted
// format: texts written by earlier versions must keep parsing.
#pragma once

#include <cstddef>
#include <string>

#include "rkso/SnapInfo.h"

struct SnapUniqueIdFields {
    std::string arrayId;
    std::string snapOperation;
    std::string servicePath;
    std::string sourceDev;
    std::string sourceDevPath;
    std::string targetDGPath;
    std::string targetDev;
    std::string targetDevPath;
    std::string pitName;               // PiT engine only
    std::string consistencyGroupName;  // PiT engine only; "null" when not in a group
};

// Longest identifier the readers take back whole: they read metadata id 1 into a
// 4096-byte buffer with its terminator.
constexpr size_t kSnapUniqueIdMaxChars = 4095;

// Builds the identifier text. Fails (with a reason) when a field holds a NUL or a
// '*' in a place where it would shift the fields of the persisted text, or when
// the text is longer than the readers take (kSnapUniqueIdMaxChars).
bool formatSnapUniqueId(const SnapUniqueIdFields& fields, bool pitEngine, std::string* text,
                        std::string* error);

// Formats the identifier and stores it as metadata id 1 of the device.
bool writeSnapUniqueId(RKSO::SnapInfo* info, const SnapUniqueIdFields& fields, bool pitEngine);

// Splits an identifier into its fields. pitName is also an input: "null" (pass
// tempArg for it and for consistencyGroupName) turns PiT parsing off.
bool parseUniqueId(RKSO::SnapInfo* info, const char* text, std::string& arrayId,
                   std::string& snapOperation, std::string& servicePath, std::string& sourceDev,
                   std::string& sourceDevPath, std::string& targetDGPath, std::string& targetDev,
                   std::string& targetDevPath, std::string& pitName,
                   std::string& consistencyGroupName);

// Field 1 of the device's identifier, or empty.
std::string getStorageArrayId(RKSO::SnapInfo* info);
// Field 7 of the device's identifier, or empty (also while a PiT has no view).
std::string getSnapDeviceUUID(RKSO::SnapInfo* info);
// The host identifier: from the host for a VMware device, else this machine's name.
bool getHostIdentifier(RKSO::SnapInfo* info, std::string& hostId);
