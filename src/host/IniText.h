// Parser of the host configuration file: "[section]" headers and "key = value"
// lines; '#' or ';' starts a comment line. Values are taken verbatim after trimming
// (a value wrapped in double quotes keeps its inner spaces), so '#' may appear in them.
#pragma once

#include <map>
#include <string>

namespace rkhost {

using IniSection = std::map<std::string, std::string>;
using IniSections = std::map<std::string, IniSection>;

// Largest configuration text accepted.
constexpr size_t kMaxIniBytes = 1 << 20;

// Parses text into sections; on a malformed line returns false and names the line in *error.
bool parseIniText(const std::string& text, IniSections* out, std::string* error);

// Strict number conversions: the whole (trimmed) text must be the number.
// Decimal, or hexadecimal with a 0x prefix.
bool parseUnsignedLong(const std::string& text, unsigned long* value);
bool parseInt(const std::string& text, int* value);

}  // namespace rkhost
