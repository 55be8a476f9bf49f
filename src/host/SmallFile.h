// Reading the small text files of sysfs and /etc without trusting their size.
#pragma once

#include <string>
#include <vector>

namespace rkhost {

// Reads at most maxBytes; false (errno set) when the file cannot be read or is longer.
bool readSmallFile(const std::string& path, size_t maxBytes, std::string* text);
// The names in a directory, sorted, without "." and ".."; false (errno set) when unreadable.
bool listDirectory(const std::string& path, std::vector<std::string>* names);
// Leading and trailing white space removed.
std::string trimSpace(const std::string& text);

}  // namespace rkhost
