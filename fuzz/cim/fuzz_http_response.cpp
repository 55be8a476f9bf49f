// HTTP response reader: no crash and no growth past its limits on any bytes, fed in pieces;
// a response it completes has a body no larger than the limit, and the same bytes fed at
// once give the same response.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <cim/Exception.h>

#include "HttpResponseReader.h"

namespace {

constexpr std::size_t kMaxBody = 1 << 16;

// The body, or "!" when the reader refused the bytes.
std::string read(const char* data, std::size_t size, std::size_t piece) {
    cim::detail::HttpResponseReader reader("fuzz:1", kMaxBody);
    try {
        std::size_t at = 0;
        while (at < size && !reader.complete()) {
            const std::size_t n = std::min(piece, size - at);
            const std::size_t used = reader.feed(data + at, n);
            if (used == 0 && !reader.complete() && !reader.headersDone()) std::abort();
            at += used;
        }
        if (!reader.complete()) reader.endOfStream();
    } catch (const cim::Exception&) {
        return "!";
    }
    const std::string& body = reader.response().body;
    if (body.size() > kMaxBody) std::abort();
    return body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 61;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    if (read(bytes, size - 1, piece) != read(bytes, size - 1, size)) std::abort();
    return 0;
}
