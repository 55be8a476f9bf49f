#include <cim/HttpTransport.h>

#include <cim/Exception.h>
#include <cim/xml/HttpHeaders.h>

#include <curl/curl.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "HttpResponseReader.h"
#include "TlsCertificate.h"

namespace cim {

namespace {

bool iequals(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool iendsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           iequals(text.substr(text.size() - suffix.size()), suffix);
}

const std::string* findField(const std::vector<std::pair<std::string, std::string>>& fields,
                             const std::string& name) {
    for (const auto& f : fields) {
        if (iequals(f.first, name)) return &f.second;
    }
    return nullptr;
}

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
        --e;
    return s.substr(b, e - b);
}

// A CIM method name: letters, digits and '_', not starting with a digit. Anything else could
// smuggle header text into the request.
bool isCimName(const std::string& s) {
    if (s.empty() || s.size() > 256) return false;
    if (std::isdigit(static_cast<unsigned char>(s[0]))) return false;
    for (char c : s) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    }
    return true;
}

// Visible ASCII only: an encoded header value has no spaces, CR or LF.
bool isHeaderToken(const std::string& s) {
    if (s.empty() || s.size() > 64 * 1024) return false;
    for (char c : s) {
        if (c < 0x21 || c > 0x7e) return false;
    }
    return true;
}

// Host names and IP literals only: no URL syntax, whitespace or control characters.
bool isValidHost(const std::string& h) {
    if (h.empty() || h.size() > 253) return false;
    for (char c : h) {
        unsigned char u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '.' || c == '-' || c == '_' || c == ':' || c == '%') continue;
        return false;
    }
    return true;
}

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

int sslExIndex() {
    static int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// Connects a TCP socket to host:port within timeoutMs; the socket is left non-blocking.
int tcpConnect(const std::string& host, unsigned port, unsigned timeoutMs) {
    const std::string where = host + ":" + std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (rc != 0) {
        throw CannotConnectException("Connection failed: cannot resolve " + host + ": " +
                                     ::gai_strerror(rc));
    }
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> guard(list, ::freeaddrinfo);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string lastError = "no address";
    bool timedOut = false;
    for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                          ai->ai_protocol);
        if (fd < 0) {
            lastError = std::strerror(errno);
            continue;
        }
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) return fd;
        if (errno != EINPROGRESS) {
            lastError = std::strerror(errno);
            ::close(fd);
            continue;
        }
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0) {
                timedOut = true;
                break;
            }
            pollfd p{fd, POLLOUT, 0};
            int n = ::poll(&p, 1, static_cast<int>(left));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                timedOut = (n == 0);
                if (n < 0) lastError = std::strerror(errno);
                break;
            }
            int err = 0;
            socklen_t len = sizeof(err);
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            if (err == 0) return fd;
            lastError = std::strerror(err);
            break;
        }
        ::close(fd);
        if (timedOut) break;
    }
    if (timedOut) {
        throw CannotConnectException("Connection failed: connecting to " + where +
                                     " timed out after " + std::to_string(timeoutMs) + " ms");
    }
    throw CannotConnectException("Connection failed: " + where + ": " + lastError);
}

}  // namespace

const std::string* HttpResponse::header(const std::string& name) const {
    return findField(headers, name);
}

const std::string* HttpResponse::trailer(const std::string& name) const {
    return findField(trailers, name);
}

namespace {

using Clock = std::chrono::steady_clock;

// The connection broke or closed before any byte of the answer: on a kept connection the
// server may have closed it just before the request went out, so it is worth once more.
// A request that went out whole may have been carried out: only a read is sent again.
struct ClosedBeforeAnswer {
    std::string message;
    bool requestSent = true;
};

std::string basicAuthorization(const std::string& user, const std::string& password) {
    std::string plain = user + ":" + password;
    std::string out(4 * ((plain.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                            reinterpret_cast<const unsigned char*>(plain.data()),
                            static_cast<int>(plain.size()));
    OPENSSL_cleanse(&plain[0], plain.size());
    std::string header = "Basic ";
    header.append(out.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
    OPENSSL_cleanse(&out[0], out.size());
    return header;
}

}  // namespace

struct HttpTransport::Impl {
    std::string host;
    unsigned port = 0;
    std::string where;       // "host:port", for messages
    std::string hostHeader;  // "host:port", IPv6 literals in brackets
    bool tls = false;
    std::string authorization;  // the Authorization header value; empty for none
    std::string trustStore;
    SSLCertificateVerifyFunction verify;

    // The open connection.
    CURL* curl = nullptr;
    curl_socket_t fd = CURL_SOCKET_BAD;
    unsigned requestsOnConnection = 0;
    int preconnected = -1;  // our connected socket, until libcurl takes it
    int handedOver = -1;    // the socket libcurl took from us
    unsigned connections = 0;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    std::vector<char> buffer = std::vector<char>(64 * 1024);

    struct {
        bool leafDecided = false;
        bool leafAccepted = false;
        int firstError = 0;
        int firstErrorDepth = 0;
        std::string failure;  // why the certificate was refused, for the exception text
    } tlsState;

    ~Impl() {
        close();
        if (!authorization.empty()) OPENSSL_cleanse(&authorization[0], authorization.size());
    }

    bool isOpen() const { return curl != nullptr; }

    void close() {
        if (curl != nullptr) curl_easy_cleanup(curl);
        curl = nullptr;
        fd = CURL_SOCKET_BAD;
        if (preconnected >= 0) ::close(preconnected);
        preconnected = -1;
        handedOver = -1;
        requestsOnConnection = 0;
    }

    // A new connection, with the TLS handshake over HTTPS.
    void open(unsigned timeoutMs) {
        close();
        preconnected = tcpConnect(host, port, timeoutMs);
        ++connections;
        curl = curl_easy_init();
        if (curl == nullptr) {
            close();
            throw Exception("Cannot initialise the HTTP library");
        }
        CURL* c = curl;
        const std::string url = std::string(tls ? "https" : "http") + "://" + hostHeader + "/cimom";
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_easy_setopt(c, CURLOPT_CONNECT_ONLY, 1L);
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, tls ? "https" : "http");
        curl_easy_setopt(c, CURLOPT_PROXY, "");  // never route the provider traffic via a proxy
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs));
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
        curl_easy_setopt(c, CURLOPT_OPENSOCKETFUNCTION, &Impl::onOpenSocket);
        curl_easy_setopt(c, CURLOPT_OPENSOCKETDATA, this);
        curl_easy_setopt(c, CURLOPT_SOCKOPTFUNCTION, &Impl::onSocketOption);
        curl_easy_setopt(c, CURLOPT_SOCKOPTDATA, this);
        if (tls) {
            // Certificate checks are ours (onSslContext/onVerify), so that a callback can decide.
            curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
            curl_easy_setopt(c, CURLOPT_SSL_CTX_FUNCTION, &Impl::onSslContext);
            curl_easy_setopt(c, CURLOPT_SSL_CTX_DATA, this);
        }
        errorBuffer[0] = '\0';
        tlsState = {};
        const CURLcode rc = curl_easy_perform(c);
        if (rc != CURLE_OK) {
            const std::string detail =
                errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(rc);
            const std::string failure = tlsState.failure;
            close();
            if (!failure.empty())
                throw CannotConnectException("Cannot connect to " + where +
                                             ": TLS handshake failed: " + failure);
            if (rc == CURLE_OPERATION_TIMEDOUT)
                throw CannotConnectException(
                    "Connection failed: " + std::string(tls ? "TLS handshake with " : "") + where +
                    " timed out after " + std::to_string(timeoutMs) + " ms");
            throw CannotConnectException(
                "Connection failed: " + std::string(tls ? "TLS handshake with " : "") + where +
                ": " + detail);
        }
        curl_easy_getinfo(c, CURLINFO_ACTIVESOCKET, &fd);
        if (fd == CURL_SOCKET_BAD) {
            close();
            throw CannotConnectException("Connection failed: " + where + ": no socket");
        }
    }

    // Whether a kept connection was closed (or spoken on) by the server since its last answer.
    bool closedSinceLastAnswer() const {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 0) != 0;
    }

    // Waits until the socket is ready or the deadline passes.
    void wait(short events, Clock::time_point deadline, const std::string& method,
              unsigned timeoutMs) {
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0)
                throw ConnectionTimeoutException("CIM request " + method + " to " + where +
                                                 " timed out after " + std::to_string(timeoutMs) +
                                                 " ms");
            pollfd p{fd, events, 0};
            const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1 << 30)));
            if (n < 0 && errno == EINTR) continue;
            if (n != 0) return;
        }
    }

    void send(const std::string& data, Clock::time_point deadline, const std::string& method,
              unsigned timeoutMs) {
        std::size_t done = 0;
        while (done < data.size()) {
            std::size_t n = 0;
            const CURLcode rc = curl_easy_send(curl, data.data() + done, data.size() - done, &n);
            if (rc == CURLE_AGAIN) {
                wait(POLLOUT, deadline, method, timeoutMs);
                continue;
            }
            if (rc != CURLE_OK)
                throw ClosedBeforeAnswer{
                    "HTTP request to " + where + " failed: " + curl_easy_strerror(rc), false};
            done += n;
        }
    }

    // Some bytes of the answer; 0 when the server closed the connection.
    std::size_t receive(Clock::time_point deadline, const std::string& method, unsigned timeoutMs) {
        for (;;) {
            std::size_t n = 0;
            const CURLcode rc = curl_easy_recv(curl, buffer.data(), buffer.size(), &n);
            if (rc == CURLE_AGAIN) {
                wait(POLLIN, deadline, method, timeoutMs);
                continue;
            }
            if (rc != CURLE_OK)
                throw ClosedBeforeAnswer{"HTTP connection to " + where +
                                         " broke: " + curl_easy_strerror(rc)};
            return n;
        }
    }

    static curl_socket_t onOpenSocket(void* user, curlsocktype purpose, curl_sockaddr* addr) {
        auto* self = static_cast<Impl*>(user);
        if (purpose == CURLSOCKTYPE_IPCXN && self->preconnected >= 0) {
            self->handedOver = self->preconnected;
            self->preconnected = -1;
            return self->handedOver;
        }
        int fd = ::socket(addr->family, addr->socktype | SOCK_CLOEXEC, addr->protocol);
        if (fd < 0) return CURL_SOCKET_BAD;
        ++self->connections;
        return fd;
    }

    static int onSocketOption(void* user, curl_socket_t fd, curlsocktype) {
        auto* self = static_cast<Impl*>(user);
        if (fd == self->handedOver) {
            self->handedOver = -1;
            return CURL_SOCKOPT_ALREADY_CONNECTED;
        }
        return CURL_SOCKOPT_OK;
    }

    static CURLcode onSslContext(CURL*, void* sslContext, void* user) {
        auto* self = static_cast<Impl*>(user);
        auto* ctx = static_cast<SSL_CTX*>(sslContext);
        self->tlsState = {};
        if (!self->trustStore.empty()) {
            struct stat st {};
            const bool isDir = ::stat(self->trustStore.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
            int ok = isDir ? SSL_CTX_load_verify_locations(ctx, nullptr, self->trustStore.c_str())
                           : SSL_CTX_load_verify_locations(ctx, self->trustStore.c_str(), nullptr);
            ERR_clear_error();
            if (ok != 1) {
                self->tlsState.failure = "cannot load the trust store " + self->trustStore;
                return CURLE_SSL_CACERT_BADFILE;
            }
        } else {
            SSL_CTX_set_default_verify_paths(ctx);
            ERR_clear_error();
        }
        if (!self->verify) {
            X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
            if (X509_VERIFY_PARAM_set1_ip_asc(param, self->host.c_str()) != 1) {
                X509_VERIFY_PARAM_set1_host(param, self->host.c_str(), 0);
            }
            ERR_clear_error();
        }
        SSL_CTX_set_ex_data(ctx, sslExIndex(), self);
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, &Impl::onVerify);
        return CURLE_OK;
    }

    static int onVerify(int ok, X509_STORE_CTX* store) {
        auto* ssl = static_cast<SSL*>(
            X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        if (ssl == nullptr) return 0;
        auto* self = static_cast<Impl*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), sslExIndex()));
        if (self == nullptr) return 0;
        auto& st = self->tlsState;
        const int depth = X509_STORE_CTX_get_error_depth(store);
        const int err = X509_STORE_CTX_get_error(store);
        if (!ok && st.firstError == 0) {
            st.firstError = err;
            st.firstErrorDepth = depth;
        }
        if (!self->verify) {
            if (!ok && st.failure.empty()) {
                st.failure = std::string("server certificate verification failed: ") +
                             X509_verify_cert_error_string(err);
            }
            return ok;
        }
        if (depth > 0) return 1;
        if (st.leafDecided) return st.leafAccepted ? 1 : 0;
        SSLCertificateInfo info = describeCertificate(X509_STORE_CTX_get_current_cert(store));
        info.errorCode = st.firstError;
        info.errorDepth = st.firstErrorDepth;
        info.errorString = X509_verify_cert_error_string(st.firstError);
        bool accepted = false;
        try {
            accepted = self->verify(info);
        } catch (...) {
            accepted = false;
        }
        st.leafDecided = true;
        st.leafAccepted = accepted;
        if (!accepted) {
            st.failure = "the server certificate (subject " + info.subjectName +
                         ") was rejected by the verification callback";
        }
        return accepted ? 1 : 0;
    }
};

HttpTransport::HttpTransport() {
    globalInit();
}

HttpTransport::~HttpTransport() = default;

bool HttpTransport::isConnected() const {
    return m_impl != nullptr;
}

unsigned HttpTransport::connectionsOpened() const {
    return m_impl != nullptr ? m_impl->connections : 0;
}

void HttpTransport::setTimeout(unsigned milliseconds) {
    m_timeoutMs = milliseconds == 0 ? kDefaultTimeoutMs : milliseconds;
}

void HttpTransport::connect(const std::string& host, unsigned port, const std::string& userName,
                            const std::string& password) {
    open(host, port, nullptr, userName, password);
}

void HttpTransport::connect(const std::string& host, unsigned port, const SSLContext& sslContext,
                            const std::string& userName, const std::string& password) {
    open(host, port, &sslContext, userName, password);
}

void HttpTransport::disconnect() {
    m_impl.reset();
}

void HttpTransport::open(const std::string& host, unsigned port, const SSLContext* ssl,
                         const std::string& userName, const std::string& password) {
    if (m_impl != nullptr) throw AlreadyConnectedException();
    if (!isValidHost(host)) throw CannotConnectException("Cannot connect: invalid host name");
    if (port == 0 || port > 65535) {
        throw CannotConnectException("Cannot connect to " + host + ": invalid port " +
                                     std::to_string(port));
    }
    auto impl = std::make_unique<Impl>();
    impl->host = host;
    impl->port = port;
    impl->where = host + ":" + std::to_string(port);
    const bool ipv6 = host.find(':') != std::string::npos;
    impl->hostHeader = (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
    impl->tls = ssl != nullptr;
    if (!userName.empty()) impl->authorization = basicAuthorization(userName, password);
    if (ssl != nullptr) {
        impl->trustStore = ssl->getTrustStore();
        impl->verify = ssl->getVerifyFunction();
    }
    impl->open(m_timeoutMs);
    m_impl = std::move(impl);
}

HttpResponse HttpTransport::post(const std::string& cimMethod, const std::string& cimObjectHeader,
                                 const std::string& body, const BodySink& sink, bool repeatable) {
    if (m_impl == nullptr) throw NotConnectedException();
    if (!isCimName(cimMethod)) throw Exception("Invalid CIM method name for a request");
    if (!isHeaderToken(cimObjectHeader)) throw Exception("Invalid CIMObject header value");
    Impl& im = *m_impl;

    std::string request;
    request.reserve(512 + body.size());
    request += "POST /cimom HTTP/1.1\r\nHost: " + im.hostHeader + "\r\n";
    request += "Content-Type: application/xml; charset=\"utf-8\"\r\n";
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    request += "CIMOperation: MethodCall\r\nCIMMethod: " + cimMethod + "\r\n";
    request += "CIMObject: " + cimObjectHeader + "\r\n";
    // Ask for the CIM status in trailers; both answer forms are handled below.
    request += "TE: trailers\r\n";
    if (!im.authorization.empty()) request += "Authorization: " + im.authorization + "\r\n";
    request += "\r\n";
    request += body;
    struct Cleanse {
        std::string& s;
        ~Cleanse() {
            if (!s.empty()) OPENSSL_cleanse(&s[0], s.size());
        }
    } cleanse{request};

    HttpResponse r;
    for (int attempt = 0;; ++attempt) {
        if (im.isOpen() && im.requestsOnConnection > 0 && im.closedSinceLastAnswer()) im.close();
        if (!im.isOpen()) reopen();
        const bool reused = im.requestsOnConnection > 0;
        ++im.requestsOnConnection;
        try {
            r = exchange(cimMethod, request, sink, repeatable && reused && attempt == 0);
            break;
        } catch (const ClosedBeforeAnswer& e) {
            im.close();
            if (!reused || attempt > 0 || (e.requestSent && !repeatable))
                throw ConnectionLostException(e.message);
        } catch (...) {
            // Somewhere inside an answer: the connection cannot carry another one.
            im.close();
            throw;
        }
    }
    return evaluate(std::move(r));
}

void HttpTransport::reopen() {
    Impl& im = *m_impl;
    if (!im.tls || !m_handshakeGuard) {
        im.open(m_timeoutMs);
        return;
    }
    m_handshakeGuard(true);
    try {
        im.open(m_timeoutMs);
    } catch (...) {
        m_handshakeGuard(false);
        throw;
    }
    m_handshakeGuard(false);
}

HttpResponse HttpTransport::exchange(const std::string& cimMethod, const std::string& request,
                                     const BodySink& sink, bool mayRepeat) {
    Impl& im = *m_impl;
    const std::string& where = im.where;
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_timeoutMs);
    im.send(request, deadline, cimMethod, m_timeoutMs);

    detail::HttpResponseReader reader(where, m_maxResponseBytes);
    bool routed = false;
    bool leftover = false;
    for (;;) {
        std::size_t n;
        try {
            n = im.receive(deadline, cimMethod, m_timeoutMs);
        } catch (const ClosedBeforeAnswer& e) {
            if (reader.nothingReceived() && mayRepeat) throw;
            throw ConnectionLostException(e.message);
        }
        if (n == 0) {
            if (reader.nothingReceived() && mayRepeat)
                throw ClosedBeforeAnswer{"HTTP connection to " + where +
                                         " closed by the server without an answer"};
            reader.endOfStream();
            break;
        }
        std::size_t used = 0;
        while (used < n && !reader.complete()) {
            used += reader.feed(im.buffer.data() + used, n - used);
            if (reader.headersDone() && !routed) {
                routed = true;
                const HttpResponse& r = reader.response();
                const std::string* code = r.header("CIMStatusCode");
                const bool cimError = code != nullptr && trim(*code) != "0";
                if (r.status < 200 || r.status > 299 || cimError)
                    reader.setBodyOut([](const char*, std::size_t) {});  // not CIM-XML results
                else if (sink)
                    reader.setBodyOut(sink);
            }
        }
        if (reader.complete()) {
            leftover = used < n;
            break;
        }
    }
    // Bytes after the answer, or a server that will close: no further request on this one.
    if (leftover || !reader.keepAlive()) im.close();
    return std::move(reader.response());
}

HttpResponse HttpTransport::evaluate(HttpResponse&& r) const {
    const std::string& where = m_impl->where;
    if (r.status < 200 || r.status > 299) {
        std::string msg = "HTTP " + std::to_string(r.status);
        if (!r.reason.empty()) msg += " " + r.reason;
        if (r.status == 401) msg += ": the server rejected the credentials";
        if (const std::string* e = r.header("CIMError")) msg += ": CIMError " + *e;
        for (const auto& h : r.headers) {
            if (iendsWith(h.first, "ErrorDetail")) msg += " (" + xml::percentDecode(h.second) + ")";
        }
        throw HttpException(static_cast<int>(r.status), msg);
    }

    const std::string* code = r.trailer("CIMStatusCode");
    const std::string* description = r.trailer("CIMStatusCodeDescription");
    if (code == nullptr) {
        code = r.header("CIMStatusCode");
        description = r.header("CIMStatusCodeDescription");
    }
    if (code != nullptr) {
        const std::string v = trim(*code);
        if (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != v.npos) {
            throw ParseException("Invalid CIMStatusCode in the answer of " + where + ": " +
                                 v.substr(0, 40));
        }
        const int value = std::stoi(v);
        if (value != 0) {
            const auto status = static_cast<CIMStatusCode>(value);
            std::string text = description != nullptr ? xml::percentDecode(*description) : "";
            // The server repeats the status name in front of its description; keep it once.
            const std::string prefix = std::string(cimStatusCodeToString(status)) + ": ";
            if (text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
            throw CIMException(status, text);
        }
    }
    return std::move(r);
}

}  // namespace cim
