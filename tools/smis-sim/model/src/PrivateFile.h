// Files that may hold array data nobody else should read: written 0600 through a
// fresh temporary file, read only when no one else may read them.
#pragma once

#include <string>

namespace sim {

// Creates a temporary file beside `path` (exclusive create, never through a link),
// writes, syncs and renames it over `path`. Throws ConfigError naming the path.
void writePrivateFile(const std::string& path, const std::string& text);

// Reads a regular file of at most 256 MB that neither its group nor others may
// access (it may not be a symbolic link). Throws ConfigError with the reason.
std::string readPrivateFile(const std::string& path);

}  // namespace sim
