#include "IniText.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace rkhost {
namespace {

const char* const kSpace = " \t\r\f\v";

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(kSpace);
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(kSpace);
    return s.substr(b, e - b + 1);
}

bool fail(std::string* error, size_t lineNo, const char* what) {
    if (error) *error = "line " + std::to_string(lineNo) + ": " + what;
    return false;
}

// strtoul/strtol accept leading spaces and signs we do not want; check first.
bool numberShape(const std::string& t, bool allowMinus, int* base) {
    if (t.empty()) return false;
    size_t i = 0;
    if (t[0] == '-') {
        if (!allowMinus) return false;
        i = 1;
    } else if (t[0] == '+') {
        i = 1;
    }
    *base = 10;
    if (t.size() > i + 1 && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
        *base = 16;
        if (t.size() == i + 2) return false;
    }
    return i < t.size();
}

}  // namespace

bool parseIniText(const std::string& text, IniSections* out, std::string* error) {
    if (text.size() > kMaxIniBytes) {
        if (error)
            *error = "configuration text larger than " + std::to_string(kMaxIniBytes) + " bytes";
        return false;
    }
    IniSections result;
    std::string section;
    bool inSection = false;
    size_t pos = 0;
    size_t lineNo = 0;
    // A UTF-8 byte order mark is skipped.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    while (pos <= text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        std::string line = trim(text.substr(pos, nl - pos));
        pos = nl + 1;
        ++lineNo;
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.find('\0') != std::string::npos) return fail(error, lineNo, "NUL character");
        if (line[0] == '[') {
            if (line.back() != ']') return fail(error, lineNo, "section header without ']'");
            section = trim(line.substr(1, line.size() - 2));
            if (section.empty()) return fail(error, lineNo, "empty section name");
            inSection = true;
            result[section];
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos) return fail(error, lineNo, "expected 'key = value'");
        if (!inSection) return fail(error, lineNo, "key outside a section");
        std::string key = trim(line.substr(0, eq));
        if (key.empty()) return fail(error, lineNo, "empty key");
        std::string value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        result[section][key] = value;
    }
    *out = std::move(result);
    return true;
}

bool parseUnsignedLong(const std::string& text, unsigned long* value) {
    std::string t = trim(text);
    int base;
    if (!numberShape(t, false, &base)) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long v = std::strtoul(t.c_str(), &end, base);
    if (errno == ERANGE || end == t.c_str() || *end != '\0') return false;
    *value = v;
    return true;
}

bool parseInt(const std::string& text, int* value) {
    std::string t = trim(text);
    int base;
    if (!numberShape(t, true, &base)) return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(t.c_str(), &end, base);
    if (errno == ERANGE || end == t.c_str() || *end != '\0') return false;
    if (v < INT_MIN || v > INT_MAX) return false;
    *value = static_cast<int>(v);
    return true;
}

}  // namespace rkhost
