#include "sim/server/Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <type_traits>

#include <httplib.h>
#include <openssl/crypto.h>

#include <cim/xml/Codec.h>

#include "Connection.h"
#include "Connections.h"
#include "ControlRoutes.h"
#include "RequestBody.h"
#include "Routes.h"
#include "Tls.h"
#include "sim/server/CimHttp.h"

namespace sim {

namespace {

constexpr const char* kXmlType = "application/xml; charset=\"utf-8\"";
constexpr const char* kRealm = "Basic realm=\"smis-sim\"";
constexpr size_t kStreamFrom = 256 * 1024;

// cpp-httplib parses request heads and writes answers; the connection itself (its
// socket I/O, limits and bodies) is ours, served by `onSocket`.
template <class Base>
class Listening : public Base {
  public:
    using Base::Base;
    // Its default backlog of 5 drops connections when many clients start at once.
    void widenBacklog() { ::listen(this->svr_sock_.load(), SOMAXCONN); }
    // One request on `stream`: head, routing (our pre-routing handler) and answer.
    bool serveRequest(httplib::Stream& stream, bool& closeAfter) {
        return this->process_request(stream, false, closeAfter, nullptr);
    }
    std::function<void(socket_t)> onSocket;

  private:
    bool process_and_close_socket(socket_t sock) override {
        onSocket(sock);
        return true;
    }
};

std::optional<std::string> header(const httplib::Request& req, const char* name) {
    if (!req.has_header(name)) return std::nullopt;
    return req.get_header_value(name);
}

// RFC 4648 base64 with padding; whitespace is not allowed.
bool decodeBase64(const std::string& in, std::string& out) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    if (in.size() % 4 != 0) return false;
    out.clear();
    for (size_t i = 0; i < in.size(); i += 4) {
        int v[4];
        int pad = 0;
        for (int k = 0; k < 4; ++k) {
            char c = in[i + k];
            if (c == '=') {
                if (i + 4 != in.size() || k < 2) return false;
                v[k] = 0;
                ++pad;
            } else {
                if (pad) return false;
                v[k] = value(c);
                if (v[k] < 0) return false;
            }
        }
        uint32_t n = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
        out.push_back(static_cast<char>((n >> 16) & 0xff));
        if (pad < 2) out.push_back(static_cast<char>((n >> 8) & 0xff));
        if (pad < 1) out.push_back(static_cast<char>(n & 0xff));
    }
    return true;
}

std::optional<uint32_t> returnValueOf(const cim::xml::Response& response) {
    if (response.intrinsic || response.isError() || response.returnValue.isNull()) return {};
    try {
        cim::Uint32 v = 0;
        response.returnValue.convertTo(cim::CIMTYPE_UINT32).get(v);
        return v;
    } catch (const cim::Exception&) {
        return {};
    }
}

bool sameSecret(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string urlFor(const char* scheme, const std::string& address, int port) {
    if (port < 0) return {};
    std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
    return std::string(scheme) + "://" + host + ":" + std::to_string(port);
}

bool isLoopback(const std::string& address) {
    if (address == "localhost") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    return false;
}

}  // namespace

struct Server::Impl {
    struct Listener {
        std::unique_ptr<httplib::Server> server;
        std::thread thread;
        int port = -1;
        std::unique_ptr<detail::ConnectionRegistry> connections;
    };

    Backend& backend;
    ServerOptions options;
    FaultInjector faults;
    Removals removals;
    RequestLog log;
    std::atomic<uint64_t> connectionIds{1};
    detail::Routes routes;
    detail::ControlRoutes controlRoutes;
    Listener http;
    Listener https;
    int stopPipe[2] = {-1, -1};
    std::mutex stopMutex;
    std::condition_variable stopSignal;
    std::atomic<bool> stopping{false};
    bool started = false;
    std::mutex poolsMutex;
    std::set<detail::WorkerPool*> pools;

    Impl(Backend& b, ServerOptions o)
        : backend(b),
          options(std::move(o)),
          log(options.logCapacity),
          controlRoutes(backend, faults, removals, log) {
        if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw ServerError(std::string("pipe: ") + std::strerror(errno));
        }
        detail::Route cim;
        cim.cim = true;
        cim.maxBody = options.maxRequestBytes;
        cim.handler = [this](const httplib::Request& req, const std::string& body,
                             httplib::Response& res) { serveCim(req, body, res); };
        routes.add("POST", "/cimom", std::move(cim));
        // The fabric view is open on loopback only: elsewhere it takes the CIM login.
        controlRoutes.add(routes, !isLoopback(options.bindAddress));
    }

    ~Impl() {
        for (int fd : stopPipe) {
            if (fd >= 0) ::close(fd);
        }
    }

    // Waits `ms`; true when the server started stopping meanwhile.
    bool pause(int64_t ms) {
        std::unique_lock<std::mutex> lock(stopMutex);
        return stopSignal.wait_for(lock, std::chrono::milliseconds(ms),
                                   [this] { return stopping.load(); });
    }

    detail::ConnectionLimits limits() const {
        detail::ConnectionLimits l;
        l.idle = std::chrono::seconds(options.keepAliveTimeoutSec);
        l.head = std::chrono::milliseconds(options.headerTimeoutMs);
        l.progress = std::chrono::milliseconds(options.bodyTimeoutMs);
        return l;
    }

    // One client connection from accept to close, request after request.
    void serveConnection(int fd, SSL_CTX* tls, const char* listener,
                         detail::ConnectionRegistry& connections,
                         const std::function<bool(httplib::Stream&, bool&)>& serveRequest) {
        if (stopping) {
            ::close(fd);
            return;
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
        const uint64_t id = connections.open(fd);
        {
            detail::Connection conn(fd, tls, stopPipe[0], limits());
            auto& current = detail::currentConnection();
            current = detail::CurrentConnection{id, &conn, &connections, listener};
            bool unreadInput = false;
            if (conn.handshake()) {
                for (;;) {
                    connections.setState(id, detail::ConnState::Waiting);
                    if (!conn.awaitRequest()) break;
                    connections.setState(id, detail::ConnState::Receiving);
                    bool closeAfter = false;
                    bool ok = serveRequest(conn, closeAfter);
                    if (conn.closingAfterAnswer()) {
                        unreadInput = true;
                        break;
                    }
                    if (!ok || closeAfter || stopping) break;
                }
            }
            // A refused client may still be sending: let a new client have this one first.
            connections.setState(id, detail::ConnState::Waiting);
            conn.finish(unreadInput);
            current = detail::CurrentConnection{};
        }
        connections.close(id);
        ::close(fd);
    }

    bool authorized(const httplib::Request& req) {
        auto value = header(req, "Authorization");
        if (!value) return false;
        const std::string& v = *value;
        size_t sp = v.find(' ');
        if (sp == std::string::npos || !cim::equalNoCase(v.substr(0, sp), "Basic")) return false;
        size_t start = v.find_first_not_of(' ', sp);
        if (start == std::string::npos) return false;
        std::string decoded;
        if (!decodeBase64(v.substr(start), decoded)) return false;
        size_t colon = decoded.find(':');
        if (colon == std::string::npos) return false;
        // Both compared in full so the time taken says nothing about which was wrong.
        bool userOk = sameSecret(decoded.substr(0, colon), options.user);
        bool passOk = sameSecret(decoded.substr(colon + 1), options.password);
        return userOk && passOk;
    }

    static void challenge(httplib::Response& res) {
        res.status = 401;
        res.set_header("WWW-Authenticate", kRealm);
    }

    // Answers a request whose body stays unread; the connection closes after it.
    static void refuse(detail::Connection& conn, httplib::Response& res, int status,
                       const std::string& problem) {
        conn.closeAfterAnswer();
        res.set_header("Connection", "close");
        if (status == 401) {
            challenge(res);
        } else {
            detail::sendJsonError(res, status, problem);
        }
    }

    // The checks on the request head: path, method, credentials, framing and declared
    // length. A refused request gets its answer in `res`, and its body is never read.
    const detail::Route* admit(const httplib::Request& req, httplib::Response& res) {
        detail::Connection& conn = *detail::currentConnection().connection;
        int status = 0;
        const detail::Route* route = routes.find(req.method, req.path, status);
        if (!route) {
            refuse(conn, res, status, status == 404 ? "no such path" : "not for this path");
            return nullptr;
        }
        detail::BodyResult head;
        if (route->needsLogin && !authorized(req)) {
            head.httpStatus = 401;
        } else {
            head = detail::checkBodyHead(req, route->maxBody);
        }
        if (head.ok()) return route;
        refuse(conn, res, head.httpStatus, head.problem);
        if (route->cim) {
            RequestRecord rec = cimRecord(req);
            rec.httpStatus = head.httpStatus;
            log.add(std::move(rec));
        }
        return nullptr;
    }

    // Every request comes here once its head is read (cpp-httplib's pre-routing).
    void dispatch(const httplib::Request& req, httplib::Response& res) {
        const auto& current = detail::currentConnection();
        detail::Connection& conn = *current.connection;
        conn.headDone();
        current.registry->setState(current.id, detail::ConnState::Serving);
        const detail::Route* route = admit(req, res);
        if (!route) return;
        std::string body;
        detail::BodyResult read = detail::readRequestBody(conn, req, route->maxBody, body);
        if (!read.ok()) {
            refuse(conn, res, read.httpStatus, read.problem);
            if (route->cim) {
                RequestRecord rec = cimRecord(req);
                rec.httpStatus = read.httpStatus;
                log.add(std::move(rec));
            }
            return;
        }
        try {
            route->handler(req, body, res);
        } catch (const std::exception&) {
            detail::sendJsonError(res, 500, "internal error");
        }
    }

    static void sendXml(httplib::Response& res, std::string body) {
        res.status = 200;
        res.set_header("CIMOperation", "MethodResponse");
        if (body.size() < kStreamFrom) {
            res.set_content(body, kXmlType);
            return;
        }
        // Large enumerations are sent from the encoded text itself rather than a copy.
        auto shared = std::make_shared<std::string>(std::move(body));
        res.set_content_provider(shared->size(), kXmlType,
                                 [shared](size_t offset, size_t length, httplib::DataSink& sink) {
                                     size_t n = std::min<size_t>(length, 256 * 1024);
                                     return sink.write(shared->data() + offset, n);
                                 });
    }

    // The provider's answer, encoded; its status and return value go into the record.
    std::string answer(const cim::xml::Request& request, RequestRecord& rec) {
        cim::xml::Response response;
        try {
            response = backend.handle(request);
        } catch (const std::exception& e) {
            rec.cimStatus = cim::CIM_ERR_FAILED;
            return encodeCimError(request, cim::CIM_ERR_FAILED, e.what());
        }
        response.messageId = request.messageId;
        response.intrinsic = request.intrinsic;
        if (response.methodName.empty()) response.methodName = request.methodName;
        rec.cimStatus = response.errorCode;
        rec.returnValue = returnValueOf(response);
        return cim::xml::encodeResponse(response);
    }

    // A CIM request as logged before it is decoded: its connection and CIMMethod header.
    static RequestRecord cimRecord(const httplib::Request& req) {
        const auto& current = detail::currentConnection();
        RequestRecord rec;
        rec.connection = current.id;
        rec.listener = current.listener;
        rec.operation = header(req, "CIMMethod").value_or("").substr(0, 256);
        return rec;
    }

    void serveCim(const httplib::Request& req, const std::string& body, httplib::Response& res) {
        detail::Connection& conn = *detail::currentConnection().connection;
        RequestRecord rec = cimRecord(req);
        if (int64_t latency = faults.latencyMs(); latency > 0 && pause(latency)) {
            rec.fault = "stopping";
            log.add(std::move(rec));
            conn.drop();
            return;
        }

        CimHeaders headers{header(req, "CIMOperation"), header(req, "CIMMethod"),
                           header(req, "CIMObject"), header(req, "CIMProtocolVersion")};
        cim::xml::Limits limits;
        limits.maxBytes = options.maxRequestBytes;
        CimCall call = acceptCimRequest(headers, body, limits);
        if (!call.ok()) {
            res.status = call.rejection.status;
            if (!call.rejection.cimError.empty())
                res.set_header("CIMError", call.rejection.cimError);
            rec.httpStatus = res.status;
            log.add(std::move(rec));
            return;
        }
        const cim::xml::Request& request = *call.request;
        RequestKey key = requestKey(request);
        rec.operation = key.operation;
        rec.method = key.method;
        rec.className = key.className;
        rec.nameSpace = request.intrinsic || request.target.getNameSpace().isNull()
                            ? request.nameSpace.getString()
                            : request.target.getNameSpace().getString();
        rec.params = loggedParameters(request);
        rec.beginTick = log.begin(key.operation, key.method, rec.inFlight);
        for (const RemovalRule& r : removals.take(key)) {
            if (!rec.removed.empty()) rec.removed += "; ";
            rec.removed += removeNow(r);
        }
        // Logged when the answer is ready and before it is written, so the client
        // cannot have seen it (and started another call) before the end tick.
        auto finish = [&] {
            rec.endTick = log.end(key.operation, key.method);
            log.add(std::move(rec));
        };

        std::optional<FaultRule> fault = faults.take(key);
        if (fault && fault->kind == FaultKind::Delay) {
            if (pause(fault->delayMs)) {
                rec.fault = "stopping";
                finish();
                conn.drop();
                return;
            }
        }
        if (fault) rec.fault = faultKindName(fault->kind);

        if (!fault || fault->kind == FaultKind::Delay) {
            std::string body = answer(request, rec);
            rec.httpStatus = 200;
            finish();
            sendXml(res, std::move(body));
            return;
        }

        switch (fault->kind) {
            case FaultKind::Http:
                res.status = fault->httpStatus;
                if (res.status == 401) res.set_header("WWW-Authenticate", kRealm);
                rec.httpStatus = res.status;
                finish();
                return;
            case FaultKind::CimError:
                rec.cimStatus = fault->cimCode;
                rec.httpStatus = 200;
                finish();
                sendXml(res,
                        encodeCimError(request, static_cast<cim::CIMStatusCode>(fault->cimCode),
                                       fault->description));
                return;
            case FaultKind::ReturnValue:
                rec.httpStatus = 200;
                rec.returnValue = fault->returnValue;
                finish();
                sendXml(res, encodeReturnValue(request, fault->returnValue));
                return;
            case FaultKind::MalformedXml:
                rec.httpStatus = 200;
                finish();
                sendXml(res, malformedAnswer(request));
                return;
            case FaultKind::Truncated: {
                auto body = std::make_shared<std::string>(answer(request, rec));
                rec.httpStatus = 200;
                finish();
                res.status = 200;
                res.set_header("CIMOperation", "MethodResponse");
                // Announces the whole body, sends half of it, then fails the write so
                // that the connection is closed.
                res.set_content_provider(body->size(), kXmlType,
                                         [body](size_t offset, size_t, httplib::DataSink& sink) {
                                             if (offset == 0)
                                                 sink.write(body->data(), body->size() / 2);
                                             return false;
                                         });
                return;
            }
            case FaultKind::Close:
                finish();
                conn.drop();
                res.status = 500;
                return;
            case FaultKind::Hang:
                finish();
                conn.holdUntilHangUp(fault->holdMs > 0 ? fault->holdMs : options.maxHoldMs);
                conn.drop();
                res.status = 500;
                return;
            case FaultKind::Delay:
                break;
        }
    }

    // What a due removal took, as one line for the log.
    std::string removeNow(const RemovalRule& r) {
        try {
            std::string line;
            for (const std::string& item : backend.removeObject(r.object, r.target, r.array))
                line += (line.empty() ? "" : ", ") + item;
            return line;
        } catch (const std::exception& e) {
            return std::string("nothing removed: ") + e.what();
        }
    }

    template <class S>
    void configure(S& s, const char* listener, Listener& l) {
        l.connections = std::make_unique<detail::ConnectionRegistry>(connectionIds);
        detail::ConnectionRegistry& connections = *l.connections;
        s.new_task_queue = [this, &connections] {
            return new detail::WorkerPool(connections, options.maxThreads,
                                          std::chrono::milliseconds(options.workerIdleMs),
                                          [this](detail::WorkerPool* pool, bool alive) {
                                              std::lock_guard<std::mutex> lock(poolsMutex);
                                              if (alive) {
                                                  pools.insert(pool);
                                              } else {
                                                  pools.erase(pool);
                                              }
                                          });
        };
        SSL_CTX* tls = nullptr;
        if constexpr (std::is_base_of_v<httplib::SSLServer, S>) tls = s.ssl_context();
        s.onSocket = [this, &s, tls, listener, &connections](socket_t sock) {
            serveConnection(sock, tls, listener, connections,
                            [&s](httplib::Stream& stream, bool& closeAfter) {
                                return s.serveRequest(stream, closeAfter);
                            });
        };
        s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            dispatch(req, res);
            return httplib::Server::HandlerResponse::Handled;
        });
        // "Expect: 100-continue" gets its refusal before the client sends the body.
        s.set_expect_100_continue_handler(
            [this](const httplib::Request& req, httplib::Response& res) {
                return admit(req, res) ? 100 : res.status;
            });
        // cpp-httplib's default adds SO_REUSEPORT, which would let a second server
        // share the port silently instead of failing to bind.
        s.set_socket_options([](socket_t sock) {
            int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        });
    }

    template <class S>
    void launch(Listener& l, std::unique_ptr<S> s, int port) {
        if (!s->is_valid())
            throw ServerError("the HTTPS listener cannot be set up (certificate or key)");
        int bound = -1;
        if (port == 0) {
            bound = s->bind_to_any_port(options.bindAddress);
        } else if (s->bind_to_port(options.bindAddress, port)) {
            bound = port;
        }
        if (bound <= 0) {
            throw ServerError("cannot listen on " + options.bindAddress + ":" +
                              std::to_string(port) + ": " + std::strerror(errno));
        }
        s->widenBacklog();
        S* raw = s.get();
        l.server = std::move(s);
        l.port = bound;
        l.thread = std::thread([raw] { raw->listen_after_bind(); });
        for (int i = 0; i < 10000 && !raw->is_running(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    void start() {
        if (started) throw ServerError("the server is already started");
        if (options.user.empty() || options.password.empty()) {
            throw ServerError("a user name and a password are needed");
        }
        if (options.certFile.empty() != options.keyFile.empty()) {
            throw ServerError("a certificate needs its key and a key its certificate");
        }
        started = true;
        stopping = false;
        char drain[16];
        while (::read(stopPipe[0], drain, sizeof(drain)) > 0) {
        }
        try {
            if (options.httpPort >= 0) {
                auto s = std::make_unique<Listening<httplib::Server>>();
                configure(*s, "http", http);
                launch(http, std::move(s), options.httpPort);
            }
            if (options.httpsPort >= 0) {
                std::unique_ptr<Listening<httplib::SSLServer>> s;
                if (!options.certFile.empty()) {
                    s = std::make_unique<Listening<httplib::SSLServer>>(options.certFile.c_str(),
                                                                        options.keyFile.c_str());
                } else {
                    detail::TlsIdentity id = detail::makeSelfSigned(options.bindAddress);
                    s = std::make_unique<Listening<httplib::SSLServer>>(id.cert, id.key);
                }
                configure(*s, "https", https);
                launch(https, std::move(s), options.httpsPort);
            }
        } catch (...) {
            stop();
            throw;
        }
    }

    void stop() {
        if (!started) return;
        stopping = true;
        { std::lock_guard<std::mutex> lock(stopMutex); }
        stopSignal.notify_all();
        char byte = 1;
        if (::write(stopPipe[1], &byte, 1) < 0) {
            // The pipe is full only when it was written before; either way it is readable.
        }
        for (Listener* l : {&http, &https}) {
            if (l->server) l->server->stop();
        }
        // Every client sees its connection end now, even one whose thread is still busy.
        for (Listener* l : {&http, &https}) {
            if (l->connections) l->connections->shutdownAll();
        }
        for (Listener* l : {&http, &https}) {
            if (l->thread.joinable()) l->thread.join();
            l->server.reset();
            l->port = -1;
        }
        started = false;
    }
};

Server::Server(Backend& backend, ServerOptions options)
    : m_impl(std::make_unique<Impl>(backend, std::move(options))) {}

Server::~Server() {
    m_impl->stop();
}

void Server::start() {
    m_impl->start();
}
void Server::stop() {
    m_impl->stop();
}

int Server::httpPort() const {
    return m_impl->http.port;
}
int Server::httpsPort() const {
    return m_impl->https.port;
}
std::string Server::httpUrl() const {
    return urlFor("http", m_impl->options.bindAddress, m_impl->http.port);
}
std::string Server::httpsUrl() const {
    return urlFor("https", m_impl->options.bindAddress, m_impl->https.port);
}

size_t Server::workerThreads() {
    std::lock_guard<std::mutex> lock(m_impl->poolsMutex);
    size_t n = 0;
    for (auto* p : m_impl->pools) n += p->threads();
    return n;
}

bool Server::waitUntilNoWorkers(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::lock_guard<std::mutex> lock(m_impl->poolsMutex);
    for (auto* p : m_impl->pools) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (!p->waitForThreads(0, std::max(left, std::chrono::milliseconds(0)))) return false;
    }
    return true;
}

FaultInjector& Server::faults() {
    return m_impl->faults;
}
Removals& Server::removals() {
    return m_impl->removals;
}
RequestLog& Server::log() {
    return m_impl->log;
}
const ServerOptions& Server::options() const {
    return m_impl->options;
}

}  // namespace sim
