#include "Connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <openssl/err.h>

namespace sim::detail {

namespace {

// What a client still sends after a refusal is dropped up to this much and this long.
constexpr size_t kLingerBytes = 1024 * 1024;
constexpr std::chrono::milliseconds kLingerTime{2000};

void addressOf(const sockaddr_storage& a, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(a);
        inet_ntop(AF_INET, &in.sin_addr, text, sizeof(text));
        port = ntohs(in.sin_port);
    } else if (a.ss_family == AF_INET6) {
        const auto& in = reinterpret_cast<const sockaddr_in6&>(a);
        inet_ntop(AF_INET6, &in.sin6_addr, text, sizeof(text));
        port = ntohs(in.sin6_port);
    }
    ip = text;
}

}  // namespace

Connection::Connection(int fd, SSL_CTX* tls, int stopFd, ConnectionLimits limits)
    : m_fd(fd), m_stopFd(stopFd), m_limits(limits) {
    if (tls) {
        m_ssl = SSL_new(tls);
        if (!m_ssl || SSL_set_fd(m_ssl, fd) != 1) m_failed = true;
    }
}

Connection::~Connection() {
    if (m_ssl) SSL_free(m_ssl);
}

Connection::Wait Connection::waitFor(short events, Clock::time_point deadline) const {
    pollfd fds[2] = {{m_fd, events, 0}, {m_stopFd, POLLIN, 0}};
    for (;;) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0) left = 0;
        int rc = ::poll(fds, 2, static_cast<int>(std::min<int64_t>(left, INT_MAX)));
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0 || fds[1].revents) return Wait::Failed;
        if (rc > 0) return Wait::Ready;
        if (left == 0) return Wait::TimedOut;
    }
}

Connection::Clock::time_point Connection::readDeadline() const {
    return m_phase == Phase::Body ? Clock::now() + m_limits.progress : m_headDeadline;
}

bool Connection::buffered() const {
    return m_pos < m_len || (m_ssl && SSL_pending(m_ssl) > 0);
}

bool Connection::handshake() {
    if (!m_ssl || m_failed) return !m_failed;
    const auto deadline = Clock::now() + m_limits.head;
    for (;;) {
        ERR_clear_error();
        int rc = SSL_accept(m_ssl);
        if (rc == 1) return true;
        int err = SSL_get_error(m_ssl, rc);
        short events = err == SSL_ERROR_WANT_READ    ? POLLIN
                       : err == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                     : 0;
        if (events == 0 || waitFor(events, deadline) != Wait::Ready) {
            m_failed = true;
            return false;
        }
    }
}

bool Connection::awaitRequest() {
    m_phase = Phase::Idle;
    m_headBytes = 0;
    if (m_failed || m_inputEnded || m_closeAfterAnswer) return false;
    if (!buffered() && waitFor(POLLIN, Clock::now() + m_limits.idle) != Wait::Ready) return false;
    m_phase = Phase::Head;
    m_headDeadline = Clock::now() + m_limits.head;
    return true;
}

void Connection::headDone() {
    m_phase = Phase::Body;
}

bool Connection::fill() {
    m_pos = m_len = 0;
    for (;;) {
        short events = POLLIN;
        if (m_ssl) {
            ERR_clear_error();
            int rc = SSL_read(m_ssl, m_buffer, sizeof(m_buffer));
            if (rc > 0) {
                m_len = static_cast<size_t>(rc);
                return true;
            }
            int err = SSL_get_error(m_ssl, rc);
            // A peer that closes without close_notify ends the stream all the same.
            if (err == SSL_ERROR_ZERO_RETURN || (err == SSL_ERROR_SYSCALL && errno == 0))
                return false;
            if (err == SSL_ERROR_WANT_WRITE) {
                events = POLLOUT;
            } else if (err != SSL_ERROR_WANT_READ) {
                m_failed = true;
                return false;
            }
        } else {
            ssize_t n = ::recv(m_fd, m_buffer, sizeof(m_buffer), 0);
            if (n > 0) {
                m_len = static_cast<size_t>(n);
                return true;
            }
            if (n == 0) return false;
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                m_failed = true;
                return false;
            }
        }
        Wait w = waitFor(events, readDeadline());
        if (w != Wait::Ready) {
            (w == Wait::TimedOut ? m_inputEnded : m_failed) = true;
            return false;
        }
    }
}

ssize_t Connection::read(char* ptr, size_t size) {
    if (m_failed || m_inputEnded) return -1;
    if (m_pos == m_len && !fill()) return m_failed || m_inputEnded ? -1 : 0;
    size_t n = std::min(size, m_len - m_pos);
    if (m_phase != Phase::Body) {
        // The head is read a byte at a time: never let it grow past its limit.
        if (m_headBytes + n > m_limits.maxHeadBytes) {
            m_inputEnded = true;
            return -1;
        }
        m_headBytes += n;
    }
    std::memcpy(ptr, m_buffer + m_pos, n);
    m_pos += n;
    return static_cast<ssize_t>(n);
}

ssize_t Connection::write(const char* ptr, size_t size) {
    if (m_failed) return -1;
    size_t done = 0;
    while (done < size) {
        short events = POLLOUT;
        if (m_ssl) {
            ERR_clear_error();
            int chunk = static_cast<int>(std::min<size_t>(size - done, INT_MAX));
            int rc = SSL_write(m_ssl, ptr + done, chunk);
            if (rc > 0) {
                done += static_cast<size_t>(rc);
                continue;
            }
            int err = SSL_get_error(m_ssl, rc);
            if (err == SSL_ERROR_WANT_READ) {
                events = POLLIN;
            } else if (err != SSL_ERROR_WANT_WRITE) {
                m_failed = true;
                return -1;
            }
        } else {
            ssize_t n = ::send(m_fd, ptr + done, size - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                m_failed = true;
                return -1;
            }
        }
        if (waitFor(events, Clock::now() + m_limits.progress) != Wait::Ready) {
            m_failed = true;
            return -1;
        }
    }
    return static_cast<ssize_t>(size);
}

bool Connection::is_readable() const {
    return buffered() || waitFor(POLLIN, readDeadline()) == Wait::Ready;
}

bool Connection::is_writable() const {
    if (m_failed) return false;
    pollfd stop{m_stopFd, POLLIN, 0};
    return ::poll(&stop, 1, 0) == 0;
}

void Connection::get_remote_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage a{};
    socklen_t len = sizeof(a);
    if (getpeername(m_fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) addressOf(a, ip, port);
}

void Connection::get_local_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage a{};
    socklen_t len = sizeof(a);
    if (getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) addressOf(a, ip, port);
}

void Connection::holdUntilHangUp(int64_t ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    // Only the client's hang-up wakes the hold; more requests from it do not.
    waitFor(POLLRDHUP, deadline);
}

void Connection::drop() {
    ::shutdown(m_fd, SHUT_RDWR);
    m_failed = true;
}

void Connection::finish(bool unreadInput) {
    if (m_ssl && !m_failed) {
        ERR_clear_error();
        SSL_shutdown(m_ssl);  // close_notify; the client's reply is not awaited
    }
    if (!unreadInput || m_failed) return;
    ::shutdown(m_fd, SHUT_WR);
    const auto deadline = Clock::now() + kLingerTime;
    size_t dropped = 0;
    char sink[16 * 1024];
    while (dropped < kLingerBytes) {
        ssize_t n = ::recv(m_fd, sink, sizeof(sink), 0);
        if (n > 0) {
            dropped += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (waitFor(POLLIN, deadline) != Wait::Ready) return;
        } else {
            return;
        }
    }
}

}  // namespace sim::detail
