// Tuning values from the host's configuration store: integers in section "~Talon",
// texts in section "Talon". An absent key leaves the caller's default in place.
#pragma once

#include <string>

// Reads an integer of section "~Talon" (or "~Talon/<subSection>" when one is given);
// non-zero when the key exists, and only then is *value written.
int GetRegInt(const char* subSection, const char* name, int* value);

namespace rkso {

// Reads a text of section "Talon"; true when the key exists.
bool getTalonString(const char* name, std::string& value);

}  // namespace rkso
