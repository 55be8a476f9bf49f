// CIM-XML over HTTP/HTTPS (DSP0200): one TCP or TLS connection per connected transport,
// reused for every request (keep-alive). libcurl opens the connection and does TLS; the
// HTTP/1.1 exchange itself is ours, so that an answer's body can be handed on while it
// arrives.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <cim/SSLContext.h>

namespace cim {

// One received HTTP response. Header and trailer names keep the case the server sent.
struct HttpResponse {
    long status = 0;
    std::string reason;
    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<std::pair<std::string, std::string>> trailers;
    std::string body;

    // Value of the first header (or trailer) of that name, any case; nullptr when absent.
    const std::string* header(const std::string& name) const;
    const std::string* trailer(const std::string& name) const;
};

// Not thread-safe: one thread at a time per transport. Different transports may be used
// from different threads at the same time.
class HttpTransport {
  public:
    static constexpr unsigned kDefaultTimeoutMs = 20000;
    static constexpr std::size_t kDefaultMaxResponseBytes = std::size_t(256) << 20;

    HttpTransport();
    ~HttpTransport();
    HttpTransport(const HttpTransport&) = delete;
    HttpTransport& operator=(const HttpTransport&) = delete;

    // Opens the connection now, over HTTPS with the TLS handshake and the certificate check,
    // so that a refused or unreachable endpoint, or one that does not speak TLS, fails here
    // with CannotConnectException ("Connection failed ..."). A certificate that the trust
    // store or the verification callback refuses raises CannotConnectException without
    // "Connection failed" (trying again would not help). A connected transport raises
    // AlreadyConnectedException. The password is kept only for Basic authentication.
    void connect(const std::string& host, unsigned port, const std::string& userName,
                 const std::string& password);
    void connect(const std::string& host, unsigned port, const SSLContext& sslContext,
                 const std::string& userName, const std::string& password);
    // Closes the connection; a no-op when not connected.
    void disconnect();
    bool isConnected() const;

    // Limit for connecting and for each whole request; 0 means the default.
    void setTimeout(unsigned milliseconds);
    unsigned getTimeout() const { return m_timeoutMs; }
    // Bodies above this size are refused (the transfer stops as soon as it is exceeded).
    void setMaxResponseSize(std::size_t bytes) { m_maxResponseBytes = bytes; }
    std::size_t getMaxResponseSize() const { return m_maxResponseBytes; }

    // Called with true before and false after each TLS handshake that a request makes on
    // a new connection (after the server closed the kept one), so that a caller who keeps
    // handshakes apart (as connect is kept) still does. Must not throw. Empty: none.
    using HandshakeGuard = std::function<void(bool entering)>;
    void setHandshakeGuard(HandshakeGuard guard) { m_handshakeGuard = std::move(guard); }

    // Receives the body of a 2xx answer piece by piece, as it arrives.
    using BodySink = std::function<void(const char* data, std::size_t size)>;

    // POSTs one CIM-XML message to /cimom with the CIMOperation, CIMMethod and CIMObject
    // headers. cimObjectHeader is the header value, already percent-encoded (see
    // <cim/xml/HttpHeaders.h>); texts with spaces or control characters are refused.
    // Returns the response of a 2xx answer; with a sink, its body went to the sink instead
    // of HttpResponse::body (an answer whose CIMStatusCode header reports an error never
    // goes to the sink). When the server has closed a kept connection, a new one is opened
    // (with a TLS handshake over HTTPS). A repeatable request (a read) that met a kept
    // connection closed before any answer is sent once more on a new one; any other request
    // may already have been carried out, so it fails. Raises:
    //  - NotConnectedException when not connected;
    //  - ConnectionTimeoutException ("timed out") when no full answer came in time;
    //  - CannotConnectException when a needed reconnect fails (its handshake runs inside
    //    the handshake guard);
    //  - HttpException (status, "HTTP ...") for any non-2xx answer, with a CIMError header's
    //    value in the message; "401" for rejected credentials;
    //  - CIMException when a CIMStatusCode header or trailer reports a CIM error;
    //  - ResponseTooLargeException when the body exceeds the limit;
    //  - ConnectionLostException ("HTTP ...") when the connection broke or the answer was
    //    cut or garbled;
    //  - whatever the sink throws (the connection is then closed).
    HttpResponse post(const std::string& cimMethod, const std::string& cimObjectHeader,
                      const std::string& body, const BodySink& sink = BodySink(),
                      bool repeatable = false);

    // Number of TCP connections opened so far by this transport (for diagnostics and tests).
    unsigned connectionsOpened() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    unsigned m_timeoutMs = kDefaultTimeoutMs;
    std::size_t m_maxResponseBytes = kDefaultMaxResponseBytes;
    HandshakeGuard m_handshakeGuard;

    void open(const std::string& host, unsigned port, const SSLContext* ssl,
              const std::string& userName, const std::string& password);
    // A new connection for a request, inside the handshake guard over HTTPS.
    void reopen();
    HttpResponse exchange(const std::string& cimMethod, const std::string& request,
                          const BodySink& sink, bool mayRepeat);
    // Raises for an HTTP or CIM error the complete answer reports.
    HttpResponse evaluate(HttpResponse&& response) const;
};

}  // namespace cim
