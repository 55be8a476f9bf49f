// SCSI inquiry data as the plug-in reads it: vendor and product of the standard
// data, array id and LUN UUID of vital-product-data page 0xC8, the serial number
// of page 0x80. Everything here works on bytes already read and trusts none of them.
#pragma once

#include <string>

namespace rkso {

// Every inquiry asks for this many bytes.
constexpr int kInquiryBytes = 255;

// Vendor (bytes 8 to 15) and product (bytes 16 to 31) of standard inquiry data of
// kInquiryBytes bytes, each through trimSpaces.
void standardIdentity(const unsigned char* data, std::string& vendor, std::string& product);

// Array id (bytes 90 to 105) and LUN UUID (bytes 12 to 27) of page 0xC8 as 32
// upper-case hex digits each. False when fewer bytes arrived than those fields need.
bool arrayPageIdentity(const unsigned char* data, int received, std::string& arrayId,
                       std::string& lunUuid);

// Serial number of page 0x80 data of kInquiryBytes bytes: the length in byte 3,
// cut to what the buffer holds after byte 4.
std::string serialFromPage(const unsigned char* data);

// Decodes hex text two digits at a time into out (up to capacity bytes; an odd last
// digit is ignored). False when a pair is not hexadecimal.
bool decodeHexBytes(const std::string& hex, unsigned char* out, int capacity);

// 32 hex digits (the LUN UUID) that follow the first 10 characters of a VMware
// descriptor's "lunuuid", upper-cased. False when the text is too short or those
// 32 are not all hex digits.
bool lunUuidFromDescriptor(const std::string& lunuuid, std::string& lunUuid);

}  // namespace rkso

// Turns every '*' of data[0..length) into a space (the unique identifier's separator
// must never come from a device) and gives the text up to its first NUL without
// trailing white space.
std::string trimSpaces(unsigned char* data, int length);
