#include <cim/CIMDateTime.h>

#include <chrono>
#include <cstdio>

#include <cim/Exception.h>

namespace cim {

namespace {

constexpr Sint64 kUsecPerSec = 1000000;
constexpr Sint64 kUsecPerMin = 60 * kUsecPerSec;
constexpr Sint64 kUsecPerHour = 60 * kUsecPerMin;
constexpr Sint64 kUsecPerDay = 24 * kUsecPerHour;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
Sint64 daysFromCivil(Sint64 y, unsigned m, unsigned d) {
    y -= m <= 2;
    const Sint64 era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<Sint64>(doe) - 719468;
}

void civilFromDays(Sint64 z, Sint64& y, unsigned& m, unsigned& d) {
    z += 719468;
    const Sint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<Sint64>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

const Sint64 kYearZero = daysFromCivil(0, 1, 1);

bool isLeap(Sint64 y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned daysInMonth(Sint64 y, unsigned m) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (m == 2 && isLeap(y)) ? 29 : kDays[m - 1];
}

// Reads digits [pos, pos+len); '*' counts as 0 and sets wild.
bool field(std::string_view s, std::size_t pos, std::size_t len, Sint64& value, bool& wild) {
    value = 0;
    bool anyWild = false;
    for (std::size_t i = pos; i < pos + len; ++i) {
        char c = s[i];
        if (c == '*') {
            anyWild = true;
            value *= 10;
        } else if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
        } else {
            return false;
        }
    }
    wild = wild || anyWild;
    return true;
}

bool hasStar(std::string_view s, std::size_t pos, std::size_t len) {
    return s.substr(pos, len).find('*') != std::string_view::npos;
}

}  // namespace

CIMDateTime::CIMDateTime() : m_text("00000000000000.000000:000") {}

CIMDateTime::CIMDateTime(std::string_view text) {
    if (!parse(text, *this)) {
        throw ParseException("invalid datetime value \"" + std::string(text.substr(0, 64)) +
                             "\" (expected the 25-character DMTF form)");
    }
}

CIMDateTime::CIMDateTime(Uint64 microseconds, bool isInterval) {
    char buf[64];
    Uint64 usec = microseconds % kUsecPerSec;
    Uint64 secs = microseconds / kUsecPerSec;
    Uint64 days = secs / 86400;
    unsigned rem = static_cast<unsigned>(secs % 86400);
    if (isInterval) {
        if (days > 99999999ULL) throw ParseException("datetime interval too long");
        std::snprintf(buf, sizeof buf, "%08llu%02u%02u%02u.%06llu:000",
                      static_cast<unsigned long long>(days), rem / 3600, rem / 60 % 60, rem % 60,
                      static_cast<unsigned long long>(usec));
    } else {
        Sint64 y;
        unsigned m, d;
        civilFromDays(static_cast<Sint64>(days) + kYearZero, y, m, d);
        if (y > 9999) throw ParseException("datetime timestamp past year 9999");
        std::snprintf(buf, sizeof buf, "%04lld%02u%02u%02u%02u%02u.%06llu+000",
                      static_cast<long long>(y), m, d, rem / 3600, rem / 60 % 60, rem % 60,
                      static_cast<unsigned long long>(usec));
    }
    m_text = buf;
    m_usec = microseconds;
    m_interval = isInterval;
}

bool CIMDateTime::parse(std::string_view s, CIMDateTime& out) {
    if (s.size() != 25 || s[14] != '.') return false;
    bool wild = false;
    Sint64 usec, hh, mi, ss;
    if (!field(s, 8, 2, hh, wild) || !field(s, 10, 2, mi, wild) || !field(s, 12, 2, ss, wild) ||
        !field(s, 15, 6, usec, wild))
        return false;
    if (hh > 23 || mi > 59 || ss > 60) return false;
    Sint64 timeOfDay = hh * kUsecPerHour + mi * kUsecPerMin + ss * kUsecPerSec + usec;
    CIMDateTime r;
    if (s[21] == ':') {
        if (s.substr(22) != "000") return false;
        if (ss > 59) return false;
        Sint64 days;
        if (!field(s, 0, 8, days, wild)) return false;
        r.m_interval = true;
        r.m_usec = static_cast<Uint64>(days * kUsecPerDay + timeOfDay);
        r.m_utcOffset = 0;
    } else if (s[21] == '+' || s[21] == '-') {
        Sint64 y, mo, d, off;
        bool offWild = false;
        if (!field(s, 0, 4, y, wild) || !field(s, 4, 2, mo, wild) || !field(s, 6, 2, d, wild) ||
            !field(s, 22, 3, off, offWild) || offWild)
            return false;
        bool monthKnown = !hasStar(s, 4, 2);
        bool dayKnown = !hasStar(s, 6, 2);
        if (monthKnown && (mo < 1 || mo > 12)) return false;
        if (dayKnown && (d < 1 || d > 31)) return false;
        if (monthKnown && dayKnown && !hasStar(s, 0, 4) &&
            d > static_cast<Sint64>(daysInMonth(y, static_cast<unsigned>(mo))))
            return false;
        if (mo < 1) mo = 1;
        if (d < 1) d = 1;
        if (mo > 12) mo = 12;
        r.m_interval = false;
        r.m_utcOffset = static_cast<Sint32>(s[21] == '-' ? -off : off);
        Sint64 days =
            daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) - kYearZero;
        Sint64 total = days * kUsecPerDay + timeOfDay - r.m_utcOffset * kUsecPerMin;
        r.m_usec = total < 0 ? 0 : static_cast<Uint64>(total);
    } else {
        return false;
    }
    r.m_wildcards = wild;
    r.m_text.assign(s.data(), s.size());
    out = std::move(r);
    return true;
}

CIMDateTime CIMDateTime::getCurrentDateTime() {
    using namespace std::chrono;
    Sint64 now = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    Sint64 sinceZero = now - kYearZero * kUsecPerDay;
    return CIMDateTime(static_cast<Uint64>(sinceZero), false);
}

bool CIMDateTime::equal(const CIMDateTime& other) const {
    if (m_interval != other.m_interval) return false;
    if (m_wildcards || other.m_wildcards) return m_text == other.m_text;
    return m_usec == other.m_usec;
}

bool operator<(const CIMDateTime& a, const CIMDateTime& b) {
    if (a.m_interval != b.m_interval) return a.m_interval;
    if (a.m_usec != b.m_usec) return a.m_usec < b.m_usec;
    return a.m_text < b.m_text && !a.equal(b);
}

}  // namespace cim
