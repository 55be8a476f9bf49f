// Loopback HTTP servers for client tests, CIM-XML answers, recorded samples, certificates.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace cimtest {

using Fields = std::vector<std::pair<std::string, std::string>>;
// The first field of that name (any case); nullptr or "" when there is none.
const std::string* findField(const Fields& fields, const std::string& name);
std::string field(const Fields& fields, const std::string& name);

struct RawRequest {
    std::string method, target;
    Fields headers;
    std::string body;
    int connection = 0;  // 1 for the first accepted connection, 2 for the next...
    const std::string* header(const std::string& name) const;
};

// Send keeps the connection for the next request; Hang neither reads nor closes until stop.
struct RawReply {
    enum Action { Send, SendAndClose, Hang };
    std::string bytes;
    Action action = Send;
};

class RawServer {
  public:
    using Handler = std::function<RawReply(const RawRequest&)>;
    explicit RawServer(Handler handler);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    unsigned port() const { return m_port; }
    int connections() const { return m_connections.load(); }
    std::vector<RawRequest> requests() const;
    void stop();

  private:
    void acceptLoop();
    void serve(int fd, int connection);

    Handler m_handler;
    int m_listenFd = -1;
    unsigned m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    std::vector<int> m_fds;
    std::vector<std::thread> m_threads;
    std::vector<RawRequest> m_requests;
    std::thread m_acceptThread;
};

// A CIM-XML answer with a zero-padded content-length, as the recorded server sends it.
std::string cimResponse(const std::string& body, const Fields& extraHeaders = {});
// A chunked CIM-XML answer whose CIM status travels in trailers.
std::string cimChunkedResponse(const std::string& body, const Fields& trailers,
                               std::size_t chunkSize = 64);
// Any status line, headers and body (no framing headers are added).
std::string httpResponse(int status, const std::string& reason, const Fields& headers,
                         const std::string& body = std::string());

// An IMETHODRESPONSE/METHODRESPONSE document.
std::string simpleResponse(const std::string& messageId, const std::string& method,
                           const std::string& inner, bool intrinsic = true);
// The MESSAGE ID of a CIM-XML request body ("" when none).
std::string messageIdOf(const std::string& body);

// One recorded exchange half, split into its parts (body de-chunked).
struct RecordedMessage {
    std::string startLine, body;
    Fields headers, trailers;
    bool chunked = false;
};
// Directory of the recorded samples; empty when they are not present.
std::string wireDir();
// Every file in wireDir() whose name ends with suffix, sorted.
std::vector<std::string> wireFiles(const std::string& suffix);
RecordedMessage loadRecorded(const std::string& fileName);
// Renders a recorded response again, with its MESSAGE ID replaced, in its own framing.
std::string replay(const RecordedMessage& response, const std::string& messageId);

// A throw-away CA and a server certificate for 127.0.0.1, as PEM files in a fresh folder.
struct TestPki {
    std::string dir, caCertFile, serverCertFile, serverKeyFile;
    std::string serverFingerprint;  // SHA-256, "AB:CD:..."
    TestPki();
    ~TestPki();
};

// A loopback port on which nothing listens.
unsigned closedPort();

}  // namespace cimtest
