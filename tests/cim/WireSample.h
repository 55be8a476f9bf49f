// Reads one recorded HTTP message: start line, headers, body (chunks joined) and trailers.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace cimtest {

struct HttpMessage {
    std::string startLine;
    std::map<std::string, std::string> headers;   // names in lower case
    std::map<std::string, std::string> trailers;  // names in lower case
    std::string body;
};

// Throws std::runtime_error when the file cannot be read or framed.
HttpMessage readHttpFile(const std::string& path);
// The folder of the recorded samples.
std::string wireDir();
// Every file in wireDir() whose name ends with suffix, sorted.
std::vector<std::string> wireFiles(const std::string& suffix);

}  // namespace cimtest
