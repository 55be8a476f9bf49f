#include "TextUtil.h"

#include <cmath>
#include <cstdlib>

namespace cim::detail {

namespace {
std::string_view trimSign(std::string_view s, bool& negative) {
    negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    return s;
}

bool parseMagnitude(std::string_view s, std::uint64_t& out) {
    if (s.empty()) return false;
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    auto r = std::from_chars(s.data(), s.data() + s.size(), out, base);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}
}  // namespace

bool parseUnsigned(std::string_view s, std::uint64_t& out) {
    bool neg;
    std::string_view m = trimSign(s, neg);
    std::uint64_t v;
    if (!parseMagnitude(m, v)) return false;
    if (neg && v != 0) return false;
    out = v;
    return true;
}

bool parseSigned(std::string_view s, std::int64_t& out) {
    bool neg;
    std::string_view m = trimSign(s, neg);
    std::uint64_t v;
    if (!parseMagnitude(m, v)) return false;
    if (neg) {
        if (v > static_cast<std::uint64_t>(INT64_MAX) + 1) return false;
        out = v == static_cast<std::uint64_t>(INT64_MAX) + 1 ? INT64_MIN
                                                             : -static_cast<std::int64_t>(v);
    } else {
        if (v > static_cast<std::uint64_t>(INT64_MAX)) return false;
        out = static_cast<std::int64_t>(v);
    }
    return true;
}

bool parseReal(std::string_view s, double& out) {
    // The DSP0201 real form: [sign] digits [. digits] [e [sign] digits], or INF, -INF, NaN.
    if (s == "INF" || s == "+INF") {
        out = HUGE_VAL;
        return true;
    }
    if (s == "-INF") {
        out = -HUGE_VAL;
        return true;
    }
    if (s == "NaN") {
        out = std::nan("");
        return true;
    }
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t ed = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++ed;
        if (ed == 0) return false;
    }
    if (i != s.size()) return false;
    std::string_view body = s;
    if (!body.empty() && body[0] == '+') body.remove_prefix(1);
    double v = 0;
    auto r = std::from_chars(body.data(), body.data() + body.size(), v);
    if (r.ptr != body.data() + body.size()) return false;
    if (r.ec == std::errc::result_out_of_range) {
        // Keep what from_chars does not: overflow to infinity, underflow to zero.
        v = std::strtod(std::string(body).c_str(), nullptr);
    } else if (r.ec != std::errc()) {
        return false;
    }
    out = v;
    return true;
}

bool isNumericText(std::string_view s) {
    std::int64_t i;
    std::uint64_t u;
    double d;
    return parseSigned(s, i) || parseUnsigned(s, u) || parseReal(s, d);
}

bool sameNumber(std::string_view a, std::string_view b) {
    if (a == b) return true;
    std::int64_t ia, ib;
    if (parseSigned(a, ia) && parseSigned(b, ib)) return ia == ib;
    std::uint64_t ua, ub;
    if (parseUnsigned(a, ua) && parseUnsigned(b, ub)) return ua == ub;
    double da, db;
    if (parseReal(a, da) && parseReal(b, db)) return da == db;
    return false;
}

namespace {

// Shortest text that reads back to the same value.
template <class Real>
void appendRealText(std::string& out, Real v) {
    if (std::isnan(v)) {
        out += "NaN";
        return;
    }
    if (std::isinf(v)) {
        out += v < 0 ? "-INF" : "INF";
        return;
    }
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

}  // namespace

void appendReal(std::string& out, double v) {
    appendRealText(out, v);
}
void appendReal(std::string& out, float v) {
    appendRealText(out, v);
}

bool utf8ToChar16(std::string_view s, char16_t& out) {
    if (s.empty()) return false;
    unsigned char c0 = static_cast<unsigned char>(s[0]);
    if (c0 < 0x80) {
        if (s.size() != 1) return false;
        out = c0;
        return true;
    }
    if ((c0 & 0xE0) == 0xC0 && s.size() == 2) {
        unsigned char c1 = static_cast<unsigned char>(s[1]);
        if ((c1 & 0xC0) != 0x80) return false;
        unsigned v = ((c0 & 0x1Fu) << 6) | (c1 & 0x3Fu);
        if (v < 0x80) return false;
        out = static_cast<char16_t>(v);
        return true;
    }
    if ((c0 & 0xF0) == 0xE0 && s.size() == 3) {
        unsigned char c1 = static_cast<unsigned char>(s[1]);
        unsigned char c2 = static_cast<unsigned char>(s[2]);
        if ((c1 & 0xC0) != 0x80 || (c2 & 0xC0) != 0x80) return false;
        unsigned v = ((c0 & 0x0Fu) << 12) | ((c1 & 0x3Fu) << 6) | (c2 & 0x3Fu);
        if (v < 0x800 || (v >= 0xD800 && v <= 0xDFFF)) return false;
        out = static_cast<char16_t>(v);
        return true;
    }
    return false;
}

void appendUtf8(std::string& out, char16_t c) {
    unsigned v = c;
    if (v >= 0xD800 && v <= 0xDFFF) v = 0xFFFD;  // a lone surrogate has no UTF-8 form
    if (v < 0x80) {
        out += static_cast<char>(v);
    } else if (v < 0x800) {
        out += static_cast<char>(0xC0 | (v >> 6));
        out += static_cast<char>(0x80 | (v & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (v >> 12));
        out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (v & 0x3F));
    }
}

}  // namespace cim::detail
