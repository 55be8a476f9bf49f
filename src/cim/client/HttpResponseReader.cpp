#include "HttpResponseReader.h"

#include <cim/Exception.h>

#include <cstring>

namespace cim::detail {

namespace {

// Status line and header fields together, and one chunk-size line.
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr std::size_t kMaxChunkLine = 4096;
constexpr std::size_t kMaxFields = 1000;

std::string trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return std::string(s.substr(b, e - b));
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// Whether a comma-separated list of tokens holds the token, any case.
bool hasToken(const std::string& list, std::string_view token) {
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        std::size_t end = comma == std::string::npos ? list.size() : comma;
        if (iequals(trim(std::string_view(list).substr(start, end - start)), token)) return true;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return false;
}

// The last of a comma-separated list of tokens.
std::string lastToken(const std::string& list) {
    std::size_t comma = list.rfind(',');
    return trim(comma == std::string::npos ? std::string_view(list)
                                           : std::string_view(list).substr(comma + 1));
}

bool allDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

HttpResponseReader::HttpResponseReader(std::string where, std::size_t maxBody)
    : m_where(std::move(where)), m_maxBody(maxBody) {}

void HttpResponseReader::fail(const std::string& what) const {
    throw ConnectionLostException("HTTP response from " + m_where + " " + what);
}

bool HttpResponseReader::takeLine(const char*& p, const char* end) {
    const std::size_t limit = m_state == kChunkSize || m_state == kChunkEnd
                                  ? kMaxChunkLine
                                  : kMaxHeaderBytes - std::min(m_headerBytes, kMaxHeaderBytes);
    const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    const char* stop = nl ? static_cast<const char*>(nl) : end;
    if (m_line.size() + static_cast<std::size_t>(stop - p) > limit)
        fail(m_state == kChunkSize || m_state == kChunkEnd ? "has an overlong chunk line"
                                                           : "has a header block over 64 KiB");
    m_line.append(p, static_cast<std::size_t>(stop - p));
    if (!nl) {
        p = end;
        return false;
    }
    p = stop + 1;
    if (m_state != kChunkSize && m_state != kChunkEnd) m_headerBytes += m_line.size() + 1;
    if (!m_line.empty() && m_line.back() == '\r') m_line.pop_back();
    return true;
}

std::size_t HttpResponseReader::feed(const char* data, std::size_t size) {
    const char* p = data;
    const char* const end = data + size;
    while (p < end && m_state != kDone) {
        switch (m_state) {
            case kStatusLine:
                if (!takeLine(p, end)) {
                    // Say so at once rather than after 64 KiB of something else.
                    if (m_line.size() >= 5 && m_line.compare(0, 5, "HTTP/") != 0)
                        fail("is not HTTP");
                    break;
                }
                // An empty line before the status line is tolerated.
                if (!m_line.empty()) statusLine();
                m_line.clear();
                break;
            case kHeaders:
                if (!takeLine(p, end)) break;
                if (m_line.empty()) {
                    headersComplete();
                    if (m_state != kStatusLine) {
                        m_received += static_cast<std::size_t>(p - data);
                        return static_cast<std::size_t>(p - data);
                    }
                } else {
                    headerLine(false);
                }
                m_line.clear();
                break;
            case kBodyLength: {
                std::size_t n = static_cast<std::size_t>(
                    std::min<unsigned long long>(m_left, static_cast<std::size_t>(end - p)));
                body(p, n);
                p += n;
                m_left -= n;
                if (m_left == 0) m_state = kDone;
                break;
            }
            case kBodyUntilClose:
                body(p, static_cast<std::size_t>(end - p));
                p = end;
                break;
            case kChunkSize:
                if (!takeLine(p, end)) break;
                chunkSizeLine();
                m_line.clear();
                break;
            case kChunkData: {
                std::size_t n = static_cast<std::size_t>(
                    std::min<unsigned long long>(m_left, static_cast<std::size_t>(end - p)));
                body(p, n);
                p += n;
                m_left -= n;
                if (m_left == 0) m_state = kChunkEnd;
                break;
            }
            case kChunkEnd:
                if (!takeLine(p, end)) break;
                if (!m_line.empty()) fail("has a chunk longer than its size");
                m_state = kChunkSize;
                break;
            case kTrailers:
                if (!takeLine(p, end)) break;
                if (m_line.empty())
                    m_state = kDone;
                else
                    headerLine(true);
                m_line.clear();
                break;
            case kDone:
                break;
        }
    }
    m_received += static_cast<std::size_t>(p - data);
    return static_cast<std::size_t>(p - data);
}

void HttpResponseReader::statusLine() {
    // HTTP/1.1 200 OK
    if (m_line.compare(0, 5, "HTTP/") != 0) fail("is not HTTP");
    HttpResponse& r = m_response;
    r = HttpResponse();
    m_keepAlive = m_line.compare(0, 8, "HTTP/1.0") != 0;
    std::size_t sp = m_line.find(' ');
    std::string code = sp == std::string::npos ? std::string() : m_line.substr(sp + 1, 3);
    if (code.size() != 3 || !allDigits(code) || (m_line.size() > sp + 4 && m_line[sp + 4] != ' '))
        fail("has an invalid status line");
    r.status = std::stol(code);
    if (m_line.size() > sp + 5) r.reason = trim(std::string_view(m_line).substr(sp + 5));
    m_state = kHeaders;
}

void HttpResponseReader::headerLine(bool trailer) {
    auto& fields = trailer ? m_response.trailers : m_response.headers;
    if ((m_line[0] == ' ' || m_line[0] == '\t') && !fields.empty()) {
        fields.back().second += " " + trim(m_line);  // folded continuation line
        return;
    }
    std::size_t colon = m_line.find(':');
    if (colon == std::string::npos) return;  // not a field; ignore it
    if (fields.size() >= kMaxFields) fail("has too many header fields");
    fields.emplace_back(trim(std::string_view(m_line).substr(0, colon)),
                        trim(std::string_view(m_line).substr(colon + 1)));
}

void HttpResponseReader::headersComplete() {
    HttpResponse& r = m_response;
    if (r.status < 200) {  // an interim answer; the real one follows
        m_state = kStatusLine;
        return;
    }
    if (const std::string* c = r.header("Connection")) {
        if (hasToken(*c, "close")) m_keepAlive = false;
        if (hasToken(*c, "keep-alive")) m_keepAlive = true;
    }
    const std::string* te = r.header("Transfer-Encoding");
    long long length = -1;
    for (const auto& f : r.headers) {
        if (!iequals(f.first, "Content-Length")) continue;
        if (!allDigits(f.second) || f.second.size() > 18) fail("has an invalid Content-Length");
        long long v = std::stoll(f.second);
        if (length >= 0 && v != length) fail("has conflicting Content-Length fields");
        length = v;
    }
    if (te != nullptr) {
        if (!iequals(lastToken(*te), "chunked"))
            fail("uses the unsupported transfer coding \"" + te->substr(0, 40) + "\"");
        if (length >= 0) m_keepAlive = false;  // both framings: trust neither for reuse
        m_state = kChunkSize;
        return;
    }
    if (r.status == 204 || r.status == 304) {
        m_state = kDone;
        return;
    }
    if (length >= 0) {
        if (static_cast<unsigned long long>(length) > m_maxBody)
            throw ResponseTooLargeException(m_maxBody, "CIM response from " + m_where +
                                                           " is larger than the limit of " +
                                                           std::to_string(m_maxBody) + " bytes (" +
                                                           std::to_string(length) + " announced)");
        m_left = static_cast<unsigned long long>(length);
        m_state = length == 0 ? kDone : kBodyLength;
        return;
    }
    m_keepAlive = false;
    // Error answers without framing on a connection left open (seen with 400 and 501
    // carrying a CIMError header): waiting for the end of the body would hang.
    m_state = r.status >= 300 ? kDone : kBodyUntilClose;
}

void HttpResponseReader::chunkSizeLine() {
    std::string_view line(m_line);
    std::size_t semi = line.find(';');
    std::string size = trim(line.substr(0, semi));
    if (size.empty() || size.size() > 15 ||
        size.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        fail("has an invalid chunk size");
    m_left = std::stoull(size, nullptr, 16);
    m_state = m_left == 0 ? kTrailers : kChunkData;
}

void HttpResponseReader::body(const char* data, std::size_t size) {
    if (size == 0) return;
    m_bodyBytes += size;
    if (m_bodyBytes > m_maxBody)
        throw ResponseTooLargeException(m_maxBody, "CIM response from " + m_where +
                                                       " is larger than the limit of " +
                                                       std::to_string(m_maxBody) + " bytes");
    if (m_bodyOut)
        m_bodyOut(data, size);
    else
        m_response.body.append(data, size);
}

void HttpResponseReader::endOfStream() {
    if (m_state == kBodyUntilClose) m_state = kDone;
    if (m_state == kDone) return;
    if (m_received == 0)
        throw ConnectionLostException("HTTP connection to " + m_where +
                                      " closed by the server without an answer");
    fail(m_state <= kHeaders ? "truncated: the connection closed inside the header block"
                             : "truncated: the connection closed before the end of the body");
}

}  // namespace cim::detail
