#include <testsupport/LoopbackServer.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace cimtest {

namespace {

bool iequals(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// Zero-padded, as the recorded server writes it.
std::string paddedLength(std::size_t n) {
    char length[32];
    std::snprintf(length, sizeof length, "%010zu", n);
    return length;
}

std::string trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r\n");
    std::size_t e = s.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// A TCP socket bound to a free loopback port, which it returns in port.
int boundSocket(unsigned& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("cannot bind to 127.0.0.1");
    port = ntohs(addr.sin_port);
    return fd;
}

void writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

Fields parseFields(std::istringstream& in) {
    Fields fields;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) break;
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        fields.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    return fields;
}

// The body in chunks of chunkSize bytes, the last chunk and the trailers.
std::string chunks(const std::string& body, std::size_t chunkSize, const Fields& trailers) {
    std::string out;
    char size[32];
    for (std::size_t i = 0; i < body.size(); i += chunkSize) {
        std::snprintf(size, sizeof size, "%zx\r\n", std::min(chunkSize, body.size() - i));
        out += size + body.substr(i, chunkSize) + "\r\n";
    }
    out += "0\r\n";
    for (const auto& t : trailers) out += t.first + ": " + t.second + "\r\n";
    return out + "\r\n";
}

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

// A self-signed CA certificate without issuer, else a server certificate for 127.0.0.1.
Cert makeCert(EVP_PKEY* key, const std::string& cn, X509* issuer, EVP_PKEY* issuerKey) {
    const bool ca = issuer == nullptr;
    Cert cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), ca ? 1 : 2);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600L * 24 * 30);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    for (auto [field, value] :
         {std::pair<const char*, std::string>{"CN", cn}, {"O", "Loopback Tests"}})
        X509_NAME_add_entry_by_txt(name, field, MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                   0);
    X509_set_issuer_name(cert.get(), ca ? name : X509_get_subject_name(issuer));
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, ca ? cert.get() : issuer, cert.get(), nullptr, nullptr, 0);
    const std::pair<int, const char*> extensions[] = {
        {NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE"},
        {ca ? NID_key_usage : NID_subject_alt_name,
         ca ? "critical,keyCertSign,cRLSign" : "IP:127.0.0.1,DNS:localhost"}};
    for (auto [nid, value] : extensions) {
        X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
        X509_add_ext(cert.get(), ext, -1);
        X509_EXTENSION_free(ext);
    }
    X509_sign(cert.get(), ca ? key : issuerKey, EVP_sha256());
    return cert;
}

void writePem(const std::string& path, X509* cert, EVP_PKEY* key) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) throw std::runtime_error("cannot write " + path);
    if (cert != nullptr) PEM_write_X509(f, cert);
    if (key != nullptr) PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(f);
}

}  // namespace

const std::string* findField(const Fields& fields, const std::string& name) {
    for (const auto& f : fields)
        if (iequals(f.first, name)) return &f.second;
    return nullptr;
}

std::string field(const Fields& fields, const std::string& name) {
    const std::string* value = findField(fields, name);
    return value != nullptr ? *value : std::string();
}

const std::string* RawRequest::header(const std::string& name) const {
    return findField(headers, name);
}

RawServer::RawServer(Handler handler) : m_handler(std::move(handler)) {
    m_listenFd = boundSocket(m_port);
    if (::listen(m_listenFd, 16) != 0) throw std::runtime_error("cannot listen on 127.0.0.1");
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

RawServer::~RawServer() {
    stop();
}

void RawServer::stop() {
    if (m_stopping.exchange(true)) return;
    ::shutdown(m_listenFd, SHUT_RDWR);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int fd : m_fds) ::shutdown(fd, SHUT_RDWR);
    }
    m_stopped.notify_all();
    if (m_acceptThread.joinable()) m_acceptThread.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        threads.swap(m_threads);
    }
    for (auto& t : threads) t.join();
    ::close(m_listenFd);
    for (int fd : m_fds) ::close(fd);
}

std::vector<RawRequest> RawServer::requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void RawServer::acceptLoop() {
    for (;;) {
        int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (m_stopping) return;
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) {
            ::close(fd);
            return;
        }
        int number = ++m_connections;
        m_fds.push_back(fd);
        m_threads.emplace_back([this, fd, number] { serve(fd, number); });
    }
}

void RawServer::serve(int fd, int connection) {
    std::string buffer;
    char chunk[16384];
    for (;;) {
        std::size_t end;
        while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) return;
            buffer.append(chunk, static_cast<std::size_t>(n));
            // Not HTTP (a TLS hello, say): refuse and close as a plain HTTP server does.
            if (!std::isupper(static_cast<unsigned char>(buffer[0]))) {
                writeAll(fd, httpResponse(400, "Bad Request", {{"Connection", "close"}}, ""));
                ::shutdown(fd, SHUT_RDWR);
                return;
            }
        }
        RawRequest request;
        request.connection = connection;
        std::istringstream head(buffer.substr(0, end + 4));
        std::string requestLine;
        std::getline(head, requestLine);
        std::istringstream rl(requestLine);
        rl >> request.method >> request.target;
        request.headers = parseFields(head);
        std::size_t length = 0;
        if (const std::string* cl = request.header("Content-Length"))
            length = std::strtoul(cl->c_str(), nullptr, 10);
        buffer.erase(0, end + 4);
        while (buffer.size() < length) {
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) return;
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
        request.body = buffer.substr(0, length);
        buffer.erase(0, length);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
        }
        RawReply reply = m_handler(request);
        writeAll(fd, reply.bytes);
        if (reply.action == RawReply::SendAndClose) {
            ::shutdown(fd, SHUT_RDWR);
            return;
        }
        if (reply.action == RawReply::Hang) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_stopped.wait(lock, [this] { return m_stopping.load(); });
            return;
        }
    }
}

std::string httpResponse(int status, const std::string& reason, const Fields& headers,
                         const std::string& body) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
    for (const auto& h : headers) out += h.first + ": " + h.second + "\r\n";
    return out + "\r\n" + body;
}

std::string cimResponse(const std::string& body, const Fields& extraHeaders) {
    Fields headers = {{"Content-Type", "application/xml; charset=utf-8"},
                      {"content-length", paddedLength(body.size())},
                      {"CIMOperation", "MethodResponse"}};
    headers.insert(headers.end(), extraHeaders.begin(), extraHeaders.end());
    return httpResponse(200, "OK", headers, body);
}

std::string cimChunkedResponse(const std::string& body, const Fields& trailers,
                               std::size_t chunkSize) {
    return httpResponse(200, "OK",
                        {{"Content-Type", "application/xml; charset=utf-8"},
                         {"transfer-encoding", "chunked"},
                         {"CIMOperation", "MethodResponse"},
                         {"Trailer", "CIMStatusCode, CIMStatusCodeDescription"}}) +
           chunks(body, chunkSize, trailers);
}

std::string simpleResponse(const std::string& messageId, const std::string& method,
                           const std::string& inner, bool intrinsic) {
    const char* element = intrinsic ? "IMETHODRESPONSE" : "METHODRESPONSE";
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n") +
           "<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">\n<MESSAGE ID=\"" + messageId +
           "\" PROTOCOLVERSION=\"1.0\">\n<SIMPLERSP>\n<" + element + " NAME=\"" + method + "\">\n" +
           inner + "</" + element + ">\n</SIMPLERSP>\n</MESSAGE>\n</CIM>\n";
}

std::string messageIdOf(const std::string& body) {
    std::size_t p = body.find("<MESSAGE ID=\"");
    if (p == std::string::npos) return {};
    p += 13;
    std::size_t e = body.find('"', p);
    return e == std::string::npos ? std::string() : body.substr(p, e - p);
}

std::string wireDir() {
    const char* fromEnv = std::getenv("RKSO_WIRE_DIR");
    const std::string dir = fromEnv != nullptr ? fromEnv : RKSO_WIRE_DIR;
    std::ifstream probe(dir + "/README.md");
    return probe ? dir : std::string();
}

std::vector<std::string> wireFiles(const std::string& suffix) {
    std::vector<std::string> out;
    if (wireDir().empty()) return out;
    for (const auto& entry : std::filesystem::directory_iterator(wireDir())) {
        const std::string n = entry.path().filename();
        if (n.size() > suffix.size() &&
            n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
            out.push_back(n);
    }
    std::sort(out.begin(), out.end());
    return out;
}

RecordedMessage loadRecorded(const std::string& fileName) {
    std::ifstream in(wireDir() + "/" + fileName, std::ios::binary);
    if (!in) throw std::runtime_error("missing sample " + fileName);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    RecordedMessage m;
    std::size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) throw std::runtime_error("no header end in " + fileName);
    std::istringstream head(raw.substr(0, end + 4));
    std::getline(head, m.startLine);
    if (!m.startLine.empty() && m.startLine.back() == '\r') m.startLine.pop_back();
    m.headers = parseFields(head);
    std::string rest = raw.substr(end + 4);
    const std::string* te = findField(m.headers, "transfer-encoding");
    if (te != nullptr && te->find("chunked") != std::string::npos) {
        m.chunked = true;
        std::size_t pos = 0;
        for (;;) {
            std::size_t eol = rest.find("\r\n", pos);
            std::size_t n = std::strtoul(rest.substr(pos, eol - pos).c_str(), nullptr, 16);
            pos = eol + 2;
            if (n == 0) break;
            m.body += rest.substr(pos, n);
            pos += n + 2;
        }
        std::istringstream trailers(rest.substr(pos));
        m.trailers = parseFields(trailers);
    } else {
        m.body = rest;
    }
    return m;
}

std::string replay(const RecordedMessage& response, const std::string& messageId) {
    std::string body = response.body;
    std::string old = messageIdOf(body);
    if (!old.empty())
        body.replace(body.find(old, body.find("<MESSAGE ID=\"")), old.size(), messageId);
    std::string out = response.startLine + "\r\n";
    for (const auto& h : response.headers) {
        const bool keep = !iequals(h.first, "content-length") ||
                          (body.empty() && h.second.find_first_not_of('0') == std::string::npos);
        out += h.first + ": " + (keep ? h.second : paddedLength(body.size())) + "\r\n";
    }
    out += "\r\n";
    return out + (response.chunked ? chunks(body, body.size() + 1, response.trailers) : body);
}

TestPki::TestPki() {
    char tmpl[] = "/tmp/cimclient-pki-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir = tmpl;
    caCertFile = dir + "/ca.pem";
    serverCertFile = dir + "/server.pem";
    serverKeyFile = dir + "/server-key.pem";
    Key caKey(EVP_EC_gen("P-256"), EVP_PKEY_free);
    Key serverKey(EVP_EC_gen("P-256"), EVP_PKEY_free);
    Cert ca = makeCert(caKey.get(), "Loopback Test CA", nullptr, nullptr);
    Cert server = makeCert(serverKey.get(), "127.0.0.1", ca.get(), caKey.get());
    writePem(caCertFile, ca.get(), nullptr);
    writePem(serverCertFile, server.get(), nullptr);
    writePem(serverKeyFile, nullptr, serverKey.get());
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    X509_digest(server.get(), EVP_sha256(), md, &len);
    char* hex = OPENSSL_buf2hexstr(md, len);  // "AB:CD:..."
    serverFingerprint = hex;
    OPENSSL_free(hex);
}

TestPki::~TestPki() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

unsigned closedPort() {
    unsigned port = 0;
    ::close(boundSocket(port));
    return port;
}

}  // namespace cimtest
