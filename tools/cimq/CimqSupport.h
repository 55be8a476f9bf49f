// Pieces of the cimq tool that are worth testing on their own: endpoint URLs, typed method
// parameters, property values and JSON renderings of CIM values.
#pragma once

#include <cim/CIMInstance.h>
#include <cim/CIMObjectPath.h>
#include <cim/CIMParamValue.h>
#include <cim/CIMValue.h>

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cimq {

// A bad command line or argument; the tool exits with status 2.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Endpoint {
    bool https = false;
    std::string host;
    unsigned port = 0;
};

// "http://host[:port][/cimom]" or "https://..."; IPv6 literals in brackets. The port
// defaults to 5988 (http) or 5989 (https).
Endpoint parseUrl(const std::string& url);

// Method parameters given as NAME=TYPE:VALUE (TYPE as on the wire: uint16, string,
// boolean, datetime, reference, ...). TYPE[] makes an array; repeating the same NAME appends
// elements. NAME=TYPE without ':' is a null value of that type.
std::vector<cim::CIMParamValue> parseParameters(const std::vector<std::string>& args);

// A new value for a property of the given type; array elements are separated by ','.
cim::CIMValue parsePropertyValue(cim::CIMType type, bool isArray, const std::string& text);

// Numbers and booleans as JSON numbers and booleans, everything else as its text form;
// arrays as JSON arrays, null as null.
nlohmann::json toJson(const cim::CIMValue& value);
nlohmann::json toJson(const cim::CIMInstance& instance);

// Human-readable text of one instance: its path, then "  Name = value" lines, with server
// texts made printable (appendPrintable).
std::string describe(const cim::CIMInstance& instance);
void describe(std::string& out, const cim::CIMInstance& instance);
// Appends text so that it cannot drive a terminal or break a line: control characters
// (C0, DEL and C1) become \n, \r, \t or \xHH / \u00HH, and bytes that are not UTF-8 become
// \xHH. Everything else is copied as it is.
void appendPrintable(std::string& out, std::string_view text);

// JSON text that survives whatever the server sent: bytes that are not UTF-8 become U+FFFD.
std::string jsonText(const nlohmann::json& value, int indent = 2);

// The first line of a password file (without its line end). Refuses, with a UsageError
// naming the file, what cannot be read, a folder, and anything longer than
// kMaxPasswordFileBytes (so /dev/zero or a log file is not taken for a password).
constexpr std::size_t kMaxPasswordFileBytes = 4096;
std::string readPasswordFile(const std::string& file);

// The --timeout value in milliseconds: 1 ms to one day.
unsigned timeoutMilliseconds(double seconds);

}  // namespace cimq
