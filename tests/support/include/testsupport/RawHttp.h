// A raw TCP client for tests that must send what no HTTP library sends: partial
// headers, endless chunked bodies, idle connections. Header-only.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

namespace testsupport {

class RawConnection {
  public:
    // Connects to 127.0.0.1:port; every receive gives up after `receiveTimeoutSec`.
    explicit RawConnection(int port, int receiveTimeoutSec = 30)
        : m_fd(::socket(AF_INET, SOCK_STREAM, 0)) {
        timeval tv{receiveTimeoutSec, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~RawConnection() {
        if (m_fd >= 0) ::close(m_fd);
    }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    int fd() const { return m_fd; }

    // False once the peer has closed or reset the connection.
    bool send(std::string_view data) {
        while (!data.empty()) {
            ssize_t n = ::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL);
            if (n <= 0) return false;
            data.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }

    // One HTTP answer: the status line and headers, and a Content-Length body. Empty
    // when the connection ends or the receive time-out passes first.
    std::string readResponse() {
        size_t headEnd;
        while ((headEnd = m_buffer.find("\r\n\r\n")) == std::string::npos)
            if (!fill()) return {};
        std::string head = m_buffer.substr(0, headEnd);
        std::transform(head.begin(), head.end(), head.begin(), ::tolower);
        const size_t at = head.find("\ncontent-length:");
        const size_t end =
            headEnd + 4 + (at == std::string::npos ? 0 : std::stoul(head.substr(at + 16)));
        while (m_buffer.size() < end)
            if (!fill()) return {};
        std::string answer = m_buffer.substr(0, end);
        m_buffer.erase(0, end);
        return answer;
    }

    // Waits for the peer to end the connection (orderly or by reset): true when it
    // did, false when data came or the receive time-out passed.
    bool endedByPeer() {
        char c;
        ssize_t n = ::recv(m_fd, &c, 1, 0);
        return n == 0 || (n < 0 && errno == ECONNRESET);
    }

    // The status code of an answer from readResponse(), or 0.
    static int status(const std::string& answer) {
        return answer.rfind("HTTP/1.", 0) == 0 && answer.size() >= 12 ? std::atoi(&answer[9]) : 0;
    }

  private:
    bool fill() {
        char buf[16384];
        ssize_t n = ::recv(m_fd, buf, sizeof(buf), 0);
        if (n > 0) m_buffer.append(buf, static_cast<size_t>(n));
        return n > 0;
    }

    int m_fd = -1;
    std::string m_buffer;
};

// The Authorization header value for Basic authentication.
inline std::string basicAuth(const std::string& user, const std::string& password) {
    return httplib::make_basic_authentication_header(user, password).second;
}

}  // namespace testsupport
