// A raw TCP client for tests that must send what no HTTP library sends: partial
// headers, endless chunked bodies, idle connections. Header-only.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <httplib.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

namespace testsupport {

class RawConnection {
  public:
    // Connects to 127.0.0.1:port; every receive gives up after `receiveTimeoutSec`.
    explicit RawConnection(int port, int receiveTimeoutSec = 30) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (m_fd < 0) return;
        timeval tv{receiveTimeoutSec, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~RawConnection() {
        if (m_fd >= 0) ::close(m_fd);
    }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool connected() const { return m_fd >= 0; }
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
        while ((headEnd = m_buffer.find("\r\n\r\n")) == std::string::npos) {
            if (!fill()) return {};
        }
        size_t length = 0;
        const std::string head = m_buffer.substr(0, headEnd);
        const size_t at = toLower(head).find("\ncontent-length:");
        if (at != std::string::npos) length = std::stoul(head.substr(at + 16));
        while (m_buffer.size() < headEnd + 4 + length) {
            if (!fill()) return {};
        }
        std::string answer = m_buffer.substr(0, headEnd + 4 + length);
        m_buffer.erase(0, answer.size());
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
        if (answer.rfind("HTTP/1.", 0) != 0 || answer.size() < 12) return 0;
        return std::atoi(answer.c_str() + 9);
    }

  private:
    bool fill() {
        char buf[16384];
        ssize_t n = ::recv(m_fd, buf, sizeof(buf), 0);
        if (n <= 0) return false;
        m_buffer.append(buf, static_cast<size_t>(n));
        return true;
    }
    static std::string toLower(std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return s;
    }

    int m_fd = -1;
    std::string m_buffer;
};

// The Authorization header value for Basic authentication.
inline std::string basicAuth(const std::string& user, const std::string& password) {
    return httplib::make_basic_authentication_header(user, password).second;
}

}  // namespace testsupport
