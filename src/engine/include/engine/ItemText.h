// Reader of the host's item texts: "{name:value,name:value}", no quoting, no nesting.
#pragma once

#include <string>

#include "rkso/SnapInfo.h"

// Values are cut to this many characters.
constexpr size_t kMaxItemValueChars = 1023;

// Finds item in text and stores its value. Lines go to info (level 0) or, when info
// is null, to the module logger (level 2). Secret values are never logged.
bool parseJsonString(RKSO::SnapInfo* info, std::string text, std::string item, std::string& value);

namespace rkso {

// True for item names whose values must never be logged (passwords, secrets).
bool isSecretItemName(const std::string& name);

// The text with the value of every secret item replaced by "****", for logging.
std::string maskSecretItems(const std::string& text);

}  // namespace rkso
