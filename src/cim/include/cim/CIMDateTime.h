// DMTF datetime values: timestamps "yyyymmddhhmmss.mmmmmmsutc" and
// intervals "ddddddddhhmmss.mmmmmm:000" (25 characters each).
#pragma once

#include <string>
#include <string_view>

#include <cim/Types.h>

namespace cim {

class CIMDateTime {
  public:
    // The zero interval "00000000000000.000000:000".
    CIMDateTime();
    // Parses the DMTF text; throws ParseException naming the fault. '*' stands for an
    // unknown digit, as DSP0004 allows.
    explicit CIMDateTime(std::string_view text);
    // An interval of the given length, or a UTC timestamp that many microseconds after
    // 0000-01-01 00:00:00.
    CIMDateTime(Uint64 microseconds, bool isInterval);

    // False (and out unchanged) when text is not a valid DMTF datetime.
    static bool parse(std::string_view text, CIMDateTime& out);
    // The current time as a UTC timestamp.
    static CIMDateTime getCurrentDateTime();

    // The 25-character DMTF text.
    const std::string& toString() const { return m_text; }
    bool isInterval() const { return m_interval; }
    bool isTimeStamp() const { return !m_interval; }
    bool hasWildcards() const { return m_wildcards; }
    // UTC offset of a timestamp in minutes (0 for intervals).
    Sint32 getUtcOffset() const { return m_utcOffset; }
    // Intervals: their length. Timestamps: UTC microseconds since 0000-01-01.
    // Unknown ('*') digits count as 0.
    Uint64 toMicroSeconds() const { return m_usec; }

    // Timestamps compare by the instant they name (UTC offsets applied); intervals by
    // length; a timestamp never equals an interval. Values with '*' compare by text.
    bool equal(const CIMDateTime& other) const;
    friend bool operator==(const CIMDateTime& a, const CIMDateTime& b) { return a.equal(b); }
    friend bool operator!=(const CIMDateTime& a, const CIMDateTime& b) { return !a.equal(b); }
    // Orders intervals before timestamps, then by microseconds, then by text.
    friend bool operator<(const CIMDateTime& a, const CIMDateTime& b);

  private:
    std::string m_text;
    Uint64 m_usec = 0;
    Sint32 m_utcOffset = 0;
    bool m_interval = true;
    bool m_wildcards = false;
};

}  // namespace cim
