#include "Text.h"

#include <cctype>
#include <cstdio>

namespace sim {

bool validLabel(const std::string& s) {
    if (s.empty() || s.size() > 30) return false;
    for (unsigned char c : s)
        if (!std::isalnum(c) && c != '_' && c != '-' && c != '#') return false;
    return true;
}

bool validNamespace(const std::string& s) {
    if (s.empty() || s.size() > 256 || s.front() == '/' || s.back() == '/') return false;
    char prev = '/';
    for (unsigned char c : s) {
        if (c == '/') {
            if (prev == '/') return false;
        } else if (!std::isalnum(c) && c != '_') {
            return false;
        }
        prev = static_cast<char>(c);
    }
    return true;
}

bool printableAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c > 0x7e) return false;
    return true;
}

bool equalsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x != y && (x | 0x20) != (y | 0x20)) return false;
        if (x != y && !std::isalpha(x)) return false;
    }
    return true;
}

std::string toUpper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string toLower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string printable(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size() && out.size() < 80; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    if (out.size() >= 80) out += "...";
    return out;
}

std::string hexEncode(const unsigned char* data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0xF];
    }
    return out;
}

std::string normalisePortId(const std::string& port) {
    std::string lower = toLower(port);
    if (lower.rfind("iqn.", 0) == 0 || lower.rfind("eui.", 0) == 0 || lower.rfind("naa.", 0) == 0)
        return lower;
    std::string out;
    for (char c : port)
        if (c != ':') out += c;
    return toUpper(out);
}

}  // namespace sim
