// Number and character helpers shared by the model and the codec.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace cim::detail {

// Decimal (optional sign) or 0x hex integer, or a decimal real with optional exponent.
bool isNumericText(std::string_view s);
// Numeric key values compare by value when both read as numbers.
bool sameNumber(std::string_view a, std::string_view b);

// Integer text as DSP0201 writes it: optional sign, decimal digits, or 0x/0X hex.
// False on anything else, including overflow.
bool parseSigned(std::string_view s, std::int64_t& out);
bool parseUnsigned(std::string_view s, std::uint64_t& out);
bool parseReal(std::string_view s, double& out);

// Shortest text that reads back to the same value.
void appendReal(std::string& out, double v);
void appendReal(std::string& out, float v);

// One UTF-8 character to a UTF-16 code unit (BMP only); false otherwise.
bool utf8ToChar16(std::string_view s, char16_t& out);
void appendUtf8(std::string& out, char16_t c);

template <class T>
void appendInt(std::string& out, T v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

}  // namespace cim::detail
