#include "engine/Inquiry.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

constexpr int kVendorOffset = 8, kVendorBytes = 8;
constexpr int kProductOffset = 16, kProductBytes = 16;
constexpr int kLunUuidOffset = 12, kArrayIdOffset = 90, kIdBytes = 16;
constexpr int kSerialOffset = 4;
constexpr size_t kDescriptorUuidSkip = 10, kUuidDigits = 32;

std::string hexOf(const unsigned char* data, int n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(static_cast<size_t>(n) * 2);
    for (int i = 0; i < n; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0x0F];
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// trimSpaces over a copy of one field, so the caller's data stay as read.
std::string field(const unsigned char* data, int offset, int length) {
    unsigned char work[64] = {};
    std::memcpy(work, data + offset, static_cast<size_t>(length));
    return trimSpaces(work, length);
}

}  // namespace

std::string trimSpaces(unsigned char* data, int length) {
    if (!data || length <= 0) return std::string();
    for (int i = 0; i < length; ++i)
        if (data[i] == '*') data[i] = ' ';
    size_t end = strnlen(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    while (end > 0 && std::isspace(data[end - 1])) --end;
    return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(end));
}

namespace rkso {

void standardIdentity(const unsigned char* data, std::string& vendor, std::string& product) {
    vendor = field(data, kVendorOffset, kVendorBytes);
    product = field(data, kProductOffset, kProductBytes);
}

bool arrayPageIdentity(const unsigned char* data, int received, std::string& arrayId,
                       std::string& lunUuid) {
    if (received < kArrayIdOffset + kIdBytes) return false;
    arrayId = hexOf(data + kArrayIdOffset, kIdBytes);
    lunUuid = hexOf(data + kLunUuidOffset, kIdBytes);
    return true;
}

std::string serialFromPage(const unsigned char* data) {
    unsigned char work[kInquiryBytes] = {};
    std::memcpy(work, data, sizeof work);
    // Byte 3 may claim up to 255 bytes; only 251 follow offset 4 in the buffer.
    int length = std::min<int>(work[3], kInquiryBytes - kSerialOffset);
    return trimSpaces(work + kSerialOffset, length);
}

bool decodeHexBytes(const std::string& hex, unsigned char* out, int capacity) {
    int n = 0;
    for (size_t i = 0; i + 1 < hex.size() && n < capacity; i += 2) {
        int high = hexValue(hex[i]);
        int low = hexValue(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        out[n++] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

bool lunUuidFromDescriptor(const std::string& lunuuid, std::string& lunUuid) {
    if (lunuuid.size() < kDescriptorUuidSkip + kUuidDigits) return false;
    std::string digits = lunuuid.substr(kDescriptorUuidSkip, kUuidDigits);
    for (char& c : digits) {
        if (hexValue(c) < 0) return false;
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    lunUuid = digits;
    return true;
}

}  // namespace rkso
