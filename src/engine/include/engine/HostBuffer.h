// The two ways host operations hand back variable-length text.
//
// Size in/out: the caller presets a size and a zero-filled buffer; the host writes
// a NUL-terminated text. readSizedText adds one guard byte so a host that fills the
// whole buffer without a terminator is still read safely.
//
// Grow and retry: a positive result means "too small, this many bytes needed"; the
// caller allocates that many and calls again, a bounded number of times.
#pragma once

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace rkso {

struct HostText {
    int result = 0;    // the host's result of the last call (0 for operations without one)
    std::string text;  // never longer than the buffer handed over
};

// call(char* buf, Len* len) -> int or void.
template <typename Len, typename Call>
HostText readSizedText(Len size, Call&& call) {
    HostText out;
    if (size <= 0) return out;
    std::vector<char> buf(static_cast<size_t>(size) + 1, '\0');
    Len len = size;
    if constexpr (std::is_void_v<decltype(call(buf.data(), &len))>) {
        call(buf.data(), &len);
    } else {
        out.result = static_cast<int>(call(buf.data(), &len));
    }
    buf[static_cast<size_t>(size)] = '\0';
    out.text.assign(buf.data(), strnlen(buf.data(), static_cast<size_t>(size)));
    return out;
}

// Limits for grow-and-retry; operations with a short size cannot ask for more than 32767.
constexpr int kMaxShortBuffer = 32767;
constexpr int kMaxIntBuffer = 16 * 1024 * 1024;

struct GrowLimits {
    int initialSize;  // 0: the first call gets no buffer
    int maxCalls;
    int maxSize;
};

// call(char* buf, int size) -> int: >0 needs that many bytes, 0 done, <0 failure.
// result: 0 with the text, <0 the host's failure, >0 gave up (too many calls or too large).
template <typename Call>
HostText growAndRetry(const GrowLimits& limits, Call&& call) {
    HostText out;
    int size = limits.initialSize > 0 ? limits.initialSize : 0;
    if (size > limits.maxSize) size = limits.maxSize;
    for (int calls = 1;; ++calls) {
        std::vector<char> buf(static_cast<size_t>(size) + 1, '\0');
        int rc = call(size > 0 ? buf.data() : nullptr, size);
        if (rc <= 0) {
            out.result = rc;
            if (rc == 0 && size > 0) {
                buf[static_cast<size_t>(size)] = '\0';
                out.text.assign(buf.data(), strnlen(buf.data(), static_cast<size_t>(size)));
            }
            return out;
        }
        if (calls >= limits.maxCalls || rc > limits.maxSize) {
            out.result = rc;
            return out;
        }
        size = rc;
    }
}

}  // namespace rkso
