// Request bodies as the server reads them: the first input byte picks the framing
// (chunked, a Content-Length, or to the end of the stream), the rest is what the
// client sends. Nothing read may pass the limit, and a body read whole with a
// Content-Length is exactly that long.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "RequestBody.h"

namespace {

constexpr size_t kLimit = 4096;

// The input as a client's byte stream, a few bytes per read.
class InputStream : public httplib::Stream {
  public:
    InputStream(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool is_readable() const override { return m_pos < m_size; }
    bool is_writable() const override { return false; }
    ssize_t read(char* ptr, size_t size) override {
        size_t n = std::min({size, m_size - m_pos, size_t(7)});
        std::memcpy(ptr, m_data + m_pos, n);
        m_pos += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char*, size_t) override { return -1; }
    void get_remote_ip_and_port(std::string&, int&) const override {}
    void get_local_ip_and_port(std::string&, int&) const override {}
    socket_t socket() const override { return -1; }

  private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    httplib::Request req;
    req.method = "POST";
    const uint8_t mode = data[0] % 3;
    const size_t length = data[0] * 32u;
    if (mode == 0) req.headers.emplace("Transfer-Encoding", "chunked");
    if (mode == 1) req.headers.emplace("Content-Length", std::to_string(length));
    InputStream in(data + 1, size - 1);
    std::string body;
    sim::detail::BodyResult r = sim::detail::readRequestBody(in, req, kLimit, body);
    if (body.size() > kLimit) __builtin_trap();
    if (r.ok() && mode == 1 && body.size() != length) __builtin_trap();
    if (!r.ok() && r.problem.empty()) __builtin_trap();
    return 0;
}
