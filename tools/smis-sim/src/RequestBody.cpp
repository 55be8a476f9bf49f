#include "RequestBody.h"

#include <algorithm>
#include <cstdint>

namespace sim::detail {

namespace {

constexpr size_t kMaxChunkLine = 1024;
constexpr size_t kMaxTrailers = 8 * 1024;

BodyResult fail(int status, std::string problem) {
    return BodyResult{status, std::move(problem)};
}

BodyResult tooLarge(size_t limit) {
    return fail(413, "the request body is larger than " + std::to_string(limit) + " bytes");
}

std::string trimLower(const std::string& s) {
    size_t a = s.find_first_not_of(" \t");
    size_t b = s.find_last_not_of(" \t");
    std::string out = a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool parseLength(const std::string& text, uint64_t& out) {
    std::string t = trimLower(text);
    if (t.empty() || t.size() > 40) return false;
    out = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return false;
        if (out > (UINT64_MAX - 9) / 10) return false;
        out = out * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

struct Framing {
    bool chunked = false;
    bool hasLength = false;
    uint64_t length = 0;
};

BodyResult framingOf(const httplib::Request& req, size_t limit, Framing& f) {
    const size_t encodings = req.get_header_value_count("Transfer-Encoding");
    for (size_t i = 0; i < encodings; ++i) {
        if (trimLower(req.get_header_value("Transfer-Encoding", i)) != "chunked" || f.chunked)
            return fail(501, "only the chunked transfer coding is supported");
        f.chunked = true;
    }
    const size_t lengths = req.get_header_value_count("Content-Length");
    for (size_t i = 0; i < lengths; ++i) {
        uint64_t n = 0;
        if (!parseLength(req.get_header_value("Content-Length", i), n) ||
            (f.hasLength && n != f.length))
            return fail(400, "the Content-Length header is not one decimal number");
        f.hasLength = true;
        f.length = n;
    }
    if (f.chunked && f.hasLength)
        return fail(400, "a request cannot have both Content-Length and chunks");
    for (size_t i = 0; i < req.get_header_value_count("Content-Encoding"); ++i) {
        if (trimLower(req.get_header_value("Content-Encoding", i)) != "identity")
            return fail(415, "compressed request bodies are not supported");
    }
    if (f.hasLength && f.length > limit) return tooLarge(limit);
    return {};
}

BodyResult broken() {
    return fail(408, "the request body did not arrive complete in time");
}

// Reads exactly `n` more bytes onto `body`.
bool readExactly(httplib::Stream& in, size_t n, std::string& body) {
    size_t at = body.size();
    body.resize(at + n);
    while (n > 0) {
        ssize_t got = in.read(&body[at], n);
        if (got <= 0) return false;
        at += static_cast<size_t>(got);
        n -= static_cast<size_t>(got);
    }
    return true;
}

// One line without its CR LF (`max` counts the CR); false when it runs past `max` or
// the stream ends.
bool readLine(httplib::Stream& in, size_t max, std::string& line, bool& tooLong) {
    line.clear();
    tooLong = false;
    for (;;) {
        char c;
        if (in.read(&c, 1) != 1) return false;
        if (c == '\n') break;
        if (line.size() >= max) {
            tooLong = true;
            return false;
        }
        line.push_back(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

BodyResult readChunked(httplib::Stream& in, size_t limit, std::string& body) {
    std::string line;
    bool tooLong = false;
    for (;;) {
        if (!readLine(in, kMaxChunkLine, line, tooLong))
            return tooLong ? fail(400, "a chunk size line is too long") : broken();
        std::string size = line.substr(0, line.find(';'));
        size = trimLower(size);
        if (size.empty() || size.size() > 16 ||
            size.find_first_not_of("0123456789abcdef") != std::string::npos)
            return fail(400, "a chunk size is not a hexadecimal number");
        const uint64_t n = std::stoull(size, nullptr, 16);
        if (n == 0) break;
        if (n > limit - body.size()) return tooLarge(limit);
        if (!readExactly(in, static_cast<size_t>(n), body)) return broken();
        if (!readLine(in, 1, line, tooLong) || !line.empty())
            return fail(400, "a chunk does not end where its size says");
    }
    // Trailers, up to the empty line; their content is not used.
    size_t trailers = 0;
    for (;;) {
        if (!readLine(in, kMaxTrailers, line, tooLong))
            return tooLong ? fail(400, "the trailers are too long") : broken();
        if (line.empty()) return {};
        trailers += line.size();
        if (trailers > kMaxTrailers) return fail(400, "the trailers are too long");
    }
}

BodyResult readToEnd(httplib::Stream& in, size_t limit, std::string& body) {
    char buf[16 * 1024];
    for (;;) {
        ssize_t n = in.read(buf, sizeof(buf));
        if (n == 0) return {};
        if (n < 0) return broken();
        if (static_cast<size_t>(n) > limit - body.size()) return tooLarge(limit);
        body.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace

BodyResult checkBodyHead(const httplib::Request& req, size_t limit) {
    Framing f;
    return framingOf(req, limit, f);
}

BodyResult readRequestBody(httplib::Stream& in, const httplib::Request& req, size_t limit,
                           std::string& body) {
    body.clear();
    Framing f;
    if (BodyResult r = framingOf(req, limit, f); !r.ok()) return r;
    if (f.chunked) return readChunked(in, limit, body);
    if (f.hasLength) {
        body.reserve(static_cast<size_t>(f.length));
        return readExactly(in, static_cast<size_t>(f.length), body) ? BodyResult{} : broken();
    }
    if (req.method == "POST") return readToEnd(in, limit, body);
    return {};
}

}  // namespace sim::detail
