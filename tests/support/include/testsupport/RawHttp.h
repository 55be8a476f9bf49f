// The simulator without our CIM client: CIM-XML over httplib, and raw TCP for what it won't send.
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
#include <memory>
#include <string>
#include <string_view>

#include <cim/xml/Codec.h>
#include <cim/xml/HttpHeaders.h>

#include "sim/server/TestServer.h"

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

// A keep-alive client logged in to the simulator.
inline std::unique_ptr<httplib::Client> client(sim::TestServer& s) {
    auto c = std::make_unique<httplib::Client>("127.0.0.1", s.httpPort());
    c->set_basic_auth(s.user(), s.password());
    c->set_keep_alive(true);
    c->set_read_timeout(30, 0);
    return c;
}

inline httplib::Headers cimHeaders(const cim::xml::Request& r) {
    return {{"CIMOperation", "MethodCall"},
            {"CIMMethod", cim::xml::cimMethodHeader(r)},
            {"CIMObject", cim::xml::cimObjectHeader(r)},
            {"CIMProtocolVersion", "1.0"}};
}

// Over an httplib::Client or SSLClient.
template <class Client>
httplib::Result postCim(Client& client, const cim::xml::Request& r) {
    return client.Post("/cimom", cimHeaders(r), cim::xml::encodeRequest(r),
                       "application/xml; charset=\"utf-8\"");
}

inline cim::xml::Request enumerateNames(const std::string& ns, const std::string& cls) {
    cim::xml::Request r;
    r.methodName = cim::xml::kEnumerateInstanceNames;
    r.nameSpace = ns;
    r.className = cim::CIMName(cls);
    return r;
}

inline cim::xml::Request volumeNames(const sim::TestServer& s) {
    return enumerateNames(s.arrayNamespace(), "CIM_StorageVolume");
}

inline cim::xml::Request getInstance(const std::string& ns, const cim::CIMObjectPath& path) {
    cim::xml::Request r;
    r.methodName = cim::xml::kGetInstance;
    r.nameSpace = ns;
    cim::CIMObjectPath local = path;
    local.setHost("");
    local.setNameSpace(cim::CIMNamespaceName());
    r.instanceName = local;
    return r;
}

inline cim::xml::Request invoke(const cim::CIMObjectPath& target, const std::string& ns,
                                const std::string& method) {
    cim::xml::Request r;
    r.intrinsic = false;
    r.methodName = method;
    r.nameSpace = ns;
    cim::CIMObjectPath local = target;
    local.setHost("");
    local.setNameSpace(ns);
    r.target = local;
    return r;
}

}  // namespace testsupport
