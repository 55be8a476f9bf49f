// The password the simulator asks of its clients, from a file.
#pragma once

#include <string>

namespace sim::detail {

// The first line of `path` (CR and LF cut). Throws std::runtime_error naming the file
// when it cannot be read, is a folder, holds more than kMaxPasswordFileBytes or a NUL
// byte, or its first line is empty. The message never holds the file's content.
constexpr size_t kMaxPasswordFileBytes = 4096;
std::string readPasswordFile(const std::string& path);

}  // namespace sim::detail
