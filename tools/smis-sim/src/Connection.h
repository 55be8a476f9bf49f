// One client connection as cpp-httplib's Stream: our own socket I/O, so that every
// wait has a limit that fits what the client is doing (waiting between requests,
// sending its request head, sending a body, reading an answer) and ends at once
// when the server stops. Plain TCP or TLS over a non-blocking socket.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include <httplib.h>
#include <openssl/ssl.h>

namespace sim::detail {

struct ConnectionLimits {
    std::chrono::milliseconds idle{30000};      // for the first byte of the next request
    std::chrono::milliseconds head{10000};      // for the whole request head (and TLS handshake)
    std::chrono::milliseconds progress{10000};  // for more of a body, or room to send
    size_t maxHeadBytes = 64 * 1024;            // request line and headers together
};

class Connection : public httplib::Stream {
  public:
    // `tls` null: plain TCP. `stopFd` becomes readable when the server stops.
    Connection(int fd, SSL_CTX* tls, int stopFd, ConnectionLimits limits);
    ~Connection() override;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The TLS handshake, within the head limit; true at once for plain TCP.
    bool handshake();
    // Waits up to the idle limit for the next request; false when the client closed,
    // the limit passed or the server stops. Starts the head limit.
    bool awaitRequest();
    // The head has been read: from now on each read waits up to the progress limit.
    void headDone();
    // After this answer the connection closes (a request body is left unread).
    void closeAfterAnswer() { m_closeAfterAnswer = true; }
    bool closingAfterAnswer() const { return m_closeAfterAnswer; }
    // Ends the connection. With `unreadInput`, the sending side is shut first and
    // what the client still sends is read and dropped for a short while, so that it
    // sees the answer rather than a reset.
    void finish(bool unreadInput);
    // Waits for the client to hang up, the server to stop or `ms` to pass.
    void holdUntilHangUp(int64_t ms);
    // Shuts the socket down so that the client sees the stream end.
    void drop();

    // httplib::Stream
    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return m_fd; }

  private:
    enum class Wait { Ready, TimedOut, Failed };
    enum class Phase { Idle, Head, Body };
    using Clock = std::chrono::steady_clock;

    // Waits for `events` on the socket until `deadline`; Failed when the server stops.
    Wait waitFor(short events, Clock::time_point deadline) const;
    Clock::time_point readDeadline() const;
    // Refills the buffer; false at the end of the stream or on failure.
    bool fill();
    bool buffered() const;

    int m_fd;
    SSL* m_ssl = nullptr;
    int m_stopFd;
    ConnectionLimits m_limits;
    Phase m_phase = Phase::Idle;
    Clock::time_point m_headDeadline{};
    size_t m_headBytes = 0;
    bool m_failed = false;      // the socket broke or the server stops: nothing more
    bool m_inputEnded = false;  // a read timed out or the head grew too long; answers go on
    bool m_closeAfterAnswer = false;
    char m_buffer[16 * 1024];
    size_t m_pos = 0;
    size_t m_len = 0;
};

}  // namespace sim::detail
