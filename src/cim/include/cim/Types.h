// Basic CIM scalar types and the CIMType enumeration.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cim {

using Boolean = bool;
using Uint8 = std::uint8_t;
using Sint8 = std::int8_t;
using Uint16 = std::uint16_t;
using Sint16 = std::int16_t;
using Uint32 = std::uint32_t;
using Sint32 = std::int32_t;
using Uint64 = std::uint64_t;
using Sint64 = std::int64_t;
using Real32 = float;
using Real64 = double;
using Char16 = char16_t;
using String = std::string;
template <class T>
using Array = std::vector<T>;

// Returned by the find* members when nothing matches.
constexpr Uint32 PEG_NOT_FOUND = static_cast<Uint32>(-1);

enum CIMType {
    CIMTYPE_BOOLEAN,
    CIMTYPE_UINT8,
    CIMTYPE_SINT8,
    CIMTYPE_UINT16,
    CIMTYPE_SINT16,
    CIMTYPE_UINT32,
    CIMTYPE_SINT32,
    CIMTYPE_UINT64,
    CIMTYPE_SINT64,
    CIMTYPE_REAL32,
    CIMTYPE_REAL64,
    CIMTYPE_CHAR16,
    CIMTYPE_STRING,
    CIMTYPE_DATETIME,
    CIMTYPE_REFERENCE,
    CIMTYPE_OBJECT,    // embedded object; carried as an embedded instance here
    CIMTYPE_INSTANCE,  // embedded instance
};

// The DSP0201 TYPE attribute text: "boolean", "uint8", ..., "string", "datetime",
// "reference", "object", "instance". Unknown values give "unknown".
const char* cimTypeToString(CIMType type);

// The reverse of cimTypeToString (exact, lower case as on the wire). False if unknown.
bool cimTypeFromString(std::string_view text, CIMType& type);

// True for the eight integer types.
bool isIntegerType(CIMType type);

}  // namespace cim
