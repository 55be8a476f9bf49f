// Small text helpers shared by the configuration and the repository.
#pragma once

#include <string>

namespace sim {

// 1 to 30 letters, digits, '_', '-' or '#' (the array's naming rule).
bool validLabel(const std::string& s);
// Segments of letters, digits and '_' separated by single '/'.
bool validNamespace(const std::string& s);
bool printableAscii(const std::string& s);
bool equalsNoCase(const std::string& a, const std::string& b);
std::string toUpper(std::string s);
std::string toLower(std::string s);
// Outside text made safe for a message: control bytes escaped, cut to 80 characters.
std::string printable(const std::string& s);
std::string hexEncode(const unsigned char* data, size_t size);
// An initiator port id as the array keeps it: iSCSI names in lower case, WWPNs in
// upper case without ':'.
std::string normalisePortId(const std::string& port);

}  // namespace sim
