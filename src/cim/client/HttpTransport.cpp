#include <cim/HttpTransport.h>

#include <cim/Exception.h>
#include <cim/xml/HttpHeaders.h>

#include <curl/curl.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
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

struct HttpTransport::Impl {
    CURL* curl = nullptr;
    std::string host;
    unsigned port = 0;
    bool tls = false;
    std::string userName;
    std::string password;
    int preconnected = -1;  // our connected socket, until libcurl takes it
    int handedOver = -1;    // the socket libcurl took from us
    unsigned connections = 0;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    // TLS
    std::string trustStore;
    SSLCertificateVerifyFunction verify;
    struct {
        bool leafDecided = false;
        bool leafAccepted = false;
        int firstError = 0;
        int firstErrorDepth = 0;
        std::string failure;  // why the handshake was refused, for the exception text
    } tlsState;

    // The response being received.
    HttpResponse response;
    bool headersDone = false;
    bool stoppedAfterHeaders = false;
    bool tooLarge = false;
    std::size_t maxBytes = 0;

    ~Impl() {
        if (curl != nullptr) curl_easy_cleanup(curl);
        if (preconnected >= 0) ::close(preconnected);
        if (!password.empty()) OPENSSL_cleanse(&password[0], password.size());
    }

    // At the end of the header block: decide whether a body follows at all.
    bool onHeadersComplete() {
        const std::string* te = response.header("Transfer-Encoding");
        const bool chunked = te != nullptr && te->find("chunked") != std::string::npos;
        const std::string* cl = response.header("Content-Length");
        long long length = -1;
        if (cl != nullptr) {
            std::string v = trim(*cl);
            if (!v.empty() && v.size() <= 18 && v.find_first_not_of("0123456789") == v.npos)
                length = std::stoll(v);
        }
        // Error answers without framing and with the connection left open (seen with 400 and
        // 501 carrying a CIMError header): waiting for the end of the body would hang.
        if (response.status >= 300 && length < 0 && !chunked) {
            stoppedAfterHeaders = true;
            return false;
        }
        if (length >= 0) {
            if (static_cast<unsigned long long>(length) > maxBytes) {
                tooLarge = true;
                return false;
            }
            // A length is only a claim; grow beyond this as the bytes actually arrive.
            constexpr long long kMaxReserve = 64LL << 20;
            response.body.reserve(static_cast<std::size_t>(std::min(length, kMaxReserve)));
        }
        return true;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        const size_t n = size * count;
        std::string line(data, n);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        HttpResponse& r = self->response;
        if (line.compare(0, 5, "HTTP/") == 0) {
            // A new status line: an interim 1xx answer is followed by the real one.
            r.status = 0;
            r.reason.clear();
            r.headers.clear();
            r.trailers.clear();
            r.body.clear();
            self->headersDone = false;
            std::size_t sp = line.find(' ');
            if (sp != std::string::npos) {
                std::size_t sp2 = line.find(' ', sp + 1);
                std::string code = line.substr(sp + 1, sp2 == line.npos ? line.npos : sp2 - sp - 1);
                if (code.size() == 3 && code.find_first_not_of("0123456789") == code.npos)
                    r.status = std::stol(code);
                if (sp2 != std::string::npos) r.reason = trim(line.substr(sp2 + 1));
            }
            return n;
        }
        if (line.empty()) {
            if (!self->headersDone && r.status >= 200) {
                self->headersDone = true;
                if (!self->onHeadersComplete()) return 0;
            }
            return n;
        }
        auto& fields = self->headersDone ? r.trailers : r.headers;
        if ((line[0] == ' ' || line[0] == '\t') && !fields.empty()) {
            fields.back().second += " " + trim(line);  // folded continuation line
            return n;
        }
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) return n;  // not a field; ignore it
        if (fields.size() >= 1000) return 0;       // a header flood is not a CIM answer
        fields.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
        return n;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        const size_t n = size * count;
        if (self->response.body.size() + n > self->maxBytes) {
            self->tooLarge = true;
            return 0;
        }
        self->response.body.append(data, n);
        return n;
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
    if (m_impl != nullptr) {
        curl_easy_setopt(m_impl->curl, CURLOPT_TIMEOUT_MS, static_cast<long>(m_timeoutMs));
        curl_easy_setopt(m_impl->curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_timeoutMs));
    }
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
    impl->tls = ssl != nullptr;
    impl->userName = userName;
    impl->password = password;
    if (ssl != nullptr) {
        impl->trustStore = ssl->getTrustStore();
        impl->verify = ssl->getVerifyFunction();
    }
    impl->curl = curl_easy_init();
    if (impl->curl == nullptr) throw Exception("Cannot initialise the HTTP library");

    impl->preconnected = tcpConnect(host, port, m_timeoutMs);
    impl->connections = 1;

    CURL* c = impl->curl;
    const bool ipv6 = host.find(':') != std::string::npos;
    const std::string url = std::string(impl->tls ? "https" : "http") + "://" +
                            (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port) +
                            "/cimom";
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, impl->tls ? "https" : "http");
    curl_easy_setopt(c, CURLOPT_PROXY, "");  // never route the provider traffic via a proxy
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_MAXCONNECTS, 1L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(m_timeoutMs));
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_timeoutMs));
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, impl->errorBuffer);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, impl.get());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Impl::onBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, impl.get());
    curl_easy_setopt(c, CURLOPT_OPENSOCKETFUNCTION, &Impl::onOpenSocket);
    curl_easy_setopt(c, CURLOPT_OPENSOCKETDATA, impl.get());
    curl_easy_setopt(c, CURLOPT_SOCKOPTFUNCTION, &Impl::onSocketOption);
    curl_easy_setopt(c, CURLOPT_SOCKOPTDATA, impl.get());
    if (!userName.empty()) {
        curl_easy_setopt(c, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(c, CURLOPT_USERNAME, impl->userName.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, impl->password.c_str());
    }
    if (impl->tls) {
        // Certificate checks are ours (onSslContext/onVerify), so that a callback can decide.
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(c, CURLOPT_SSL_CTX_FUNCTION, &Impl::onSslContext);
        curl_easy_setopt(c, CURLOPT_SSL_CTX_DATA, impl.get());
    }
    m_impl = std::move(impl);
}

HttpResponse HttpTransport::post(const std::string& cimMethod, const std::string& cimObjectHeader,
                                 const std::string& body) {
    if (m_impl == nullptr) throw NotConnectedException();
    if (!isCimName(cimMethod)) throw Exception("Invalid CIM method name for a request");
    if (!isHeaderToken(cimObjectHeader)) throw Exception("Invalid CIMObject header value");
    Impl& im = *m_impl;
    CURL* c = im.curl;
    const std::string where = im.host + ":" + std::to_string(im.port);

    struct HeaderList {
        curl_slist* list = nullptr;
        ~HeaderList() { curl_slist_free_all(list); }
        void add(const std::string& h) { list = curl_slist_append(list, h.c_str()); }
    } headers;
    headers.add("Content-Type: application/xml; charset=\"utf-8\"");
    headers.add("CIMOperation: MethodCall");
    headers.add("CIMMethod: " + cimMethod);
    headers.add("CIMObject: " + cimObjectHeader);
    // Ask for the CIM status in trailers; both answer forms are handled below.
    headers.add("TE: trailers");
    headers.add("Expect:");  // no 100-continue round trip
    headers.add("Accept:");

    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));

    im.response = HttpResponse();
    im.headersDone = false;
    im.stoppedAfterHeaders = false;
    im.tooLarge = false;
    im.maxBytes = m_maxResponseBytes;
    im.errorBuffer[0] = '\0';

    CURLcode rc = curl_easy_perform(c);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, nullptr);

    const std::string detail = im.errorBuffer[0] != '\0' ? im.errorBuffer : curl_easy_strerror(rc);
    if (im.tooLarge) {
        throw Exception("CIM response from " + where + " is larger than the limit of " +
                        std::to_string(m_maxResponseBytes) + " bytes");
    }
    if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && im.stoppedAfterHeaders)) {
        switch (rc) {
            case CURLE_OPERATION_TIMEDOUT:
                throw ConnectionTimeoutException("CIM request " + cimMethod + " to " + where +
                                                 " timed out after " + std::to_string(m_timeoutMs) +
                                                 " ms");
            case CURLE_COULDNT_CONNECT:
            case CURLE_COULDNT_RESOLVE_HOST:
                throw CannotConnectException("Connection failed: " + where + ": " + detail);
            case CURLE_SSL_CONNECT_ERROR:
            case CURLE_PEER_FAILED_VERIFICATION:
            case CURLE_SSL_CERTPROBLEM:
            case CURLE_SSL_CIPHER:
            case CURLE_SSL_CACERT_BADFILE:
            case CURLE_SSL_ENGINE_INITFAILED:
                throw CannotConnectException(
                    "Cannot connect to " + where + ": TLS handshake failed: " +
                    (im.tlsState.failure.empty() ? detail : im.tlsState.failure));
            case CURLE_GOT_NOTHING:
                throw ConnectionLostException("HTTP connection to " + where +
                                              " closed by the server without an answer");
            case CURLE_PARTIAL_FILE:
                throw ConnectionLostException("HTTP response from " + where +
                                              " truncated: " + detail);
            default:
                throw ConnectionLostException("HTTP request to " + where + " failed: " + detail);
        }
    }

    HttpResponse& r = im.response;
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
