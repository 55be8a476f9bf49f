#include "sim/server/Server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include <httplib.h>
#include <openssl/crypto.h>

#include <cim/xml/Codec.h>

#include "Connections.h"
#include "Tls.h"
#include "sim/server/CimHttp.h"

namespace sim {

namespace {

constexpr const char* kXmlType = "application/xml; charset=\"utf-8\"";
constexpr const char* kJsonType = "application/json";
constexpr const char* kRealm = "Basic realm=\"smis-sim\"";
constexpr size_t kStreamFrom = 256 * 1024;

// cpp-httplib keeps its listening socket protected; the default backlog of 5 drops
// connections when many clients start at once.
template <class Base>
class Listening : public Base {
  public:
    using Base::Base;
    void widenBacklog() { ::listen(this->svr_sock_.load(), SOMAXCONN); }
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

void sendJson(httplib::Response& res, int status, const nlohmann::json& body) {
    res.status = status;
    // Texts from clients (header values, error messages) need not be UTF-8.
    res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), kJsonType);
}

void sendJsonError(httplib::Response& res, int status, const std::string& message) {
    sendJson(res, status, nlohmann::json{{"error", message}});
}

// What is wrong with a JSON body, without quoting it (the library's texts do).
std::string jsonProblem(const nlohmann::json::exception& e) {
    if (const auto* p = dynamic_cast<const nlohmann::json::parse_error*>(&e))
        return "the body is not valid JSON (at byte " + std::to_string(p->byte) + ")";
    return "the body does not have the expected form";
}

std::string urlFor(const char* scheme, const std::string& address, int port) {
    if (port < 0) return {};
    std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
    return std::string(scheme) + "://" + host + ":" + std::to_string(port);
}

}  // namespace

struct Server::Impl {
    struct Listener {
        std::unique_ptr<httplib::Server> server;
        std::thread thread;
        int port = -1;
    };

    Backend& backend;
    ServerOptions options;
    FaultInjector faults;
    Removals removals;
    RequestLog log;
    detail::ConnectionRegistry connections;
    Listener http;
    Listener https;
    int stopPipe[2] = {-1, -1};
    std::mutex stopMutex;
    std::condition_variable stopSignal;
    std::atomic<bool> stopping{false};
    bool started = false;

    Impl(Backend& b, ServerOptions o)
        : backend(b), options(std::move(o)), log(options.logCapacity) {
        if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw ServerError(std::string("pipe: ") + std::strerror(errno));
        }
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

    int connectionSocket(const httplib::Request& req) {
        auto& current = detail::currentConnection();
        if (!current.searched) {
            current.searched = true;
            if (req.ssl) {
                current.fd = SSL_get_fd(req.ssl);
            } else {
                current.fd = detail::findSocket(req.local_port, req.remote_port);
            }
            if (current.fd >= 0 && current.id != 0) {
                connections.attach(current.id, current.fd, req.local_port, req.remote_port);
            }
        }
        return current.fd;
    }

    // Ends the connection without a word: the peer sees the stream close.
    void dropConnection(const httplib::Request& req) {
        int fd = connectionSocket(req);
        if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
    }

    // Holds a request until the peer closes, the server stops or `ms` pass.
    void hold(const httplib::Request& req, int64_t ms) {
        int fd = connectionSocket(req);
        pollfd fds[2] = {{stopPipe[0], POLLIN, 0}, {fd, POLLRDHUP, 0}};
        nfds_t n = fd >= 0 ? 2 : 1;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0) break;
            int rc = ::poll(fds, n, static_cast<int>(std::min<int64_t>(left, 1 << 30)));
            if (rc > 0 || (rc < 0 && errno != EINTR)) break;
        }
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

    void serveCim(const httplib::Request& req, httplib::Response& res, const char* listener) {
        RequestRecord rec;
        rec.connection = detail::currentConnection().id;
        rec.listener = listener;
        rec.operation = header(req, "CIMMethod").value_or("").substr(0, 256);
        connectionSocket(req);

        if (!authorized(req)) {
            challenge(res);
            rec.httpStatus = 401;
            log.add(std::move(rec));
            return;
        }
        if (int64_t latency = faults.latencyMs(); latency > 0 && pause(latency)) {
            rec.fault = "stopping";
            log.add(std::move(rec));
            dropConnection(req);
            return;
        }

        CimHeaders headers{header(req, "CIMOperation"), header(req, "CIMMethod"),
                           header(req, "CIMObject"), header(req, "CIMProtocolVersion")};
        cim::xml::Limits limits;
        limits.maxBytes = options.maxRequestBytes;
        CimCall call = acceptCimRequest(headers, req.body, limits);
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
                dropConnection(req);
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
                dropConnection(req);
                res.status = 500;
                return;
            case FaultKind::Hang:
                finish();
                hold(req, fault->holdMs > 0 ? fault->holdMs : options.maxHoldMs);
                dropConnection(req);
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

    bool guardControl(const httplib::Request& req, httplib::Response& res) {
        if (authorized(req)) return true;
        challenge(res);
        return false;
    }

    static nlohmann::json parseJson(const httplib::Request& req) {
        if (req.body.empty()) return nlohmann::json::object();
        return nlohmann::json::parse(req.body);  // throws parse_error
    }

    // Runs a control handler with JSON errors turned into 400 answers.
    template <class F>
    void control(const httplib::Request& req, httplib::Response& res, F&& f) {
        if (!guardControl(req, res)) return;
        try {
            f(parseJson(req));
        } catch (const nlohmann::json::exception& e) {
            sendJsonError(res, 400, jsonProblem(e));
        } catch (const std::invalid_argument& e) {
            sendJsonError(res, 400, e.what());
        }
    }

    void route(httplib::Server& s, const char* listener) {
        // Every connection that sent a request is known by its socket, so that stop()
        // can close it even while it idles between requests.
        s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
            connectionSocket(req);
            return httplib::Server::HandlerResponse::Unhandled;
        });
        s.Post("/cimom", [this, listener](const httplib::Request& req, httplib::Response& res) {
            serveCim(req, res, listener);
        });

        s.Post("/control/faults", [this](const httplib::Request& req, httplib::Response& res) {
            control(req, res, [&](const nlohmann::json& j) {
                uint64_t id = faults.add(FaultRule::fromJson(j));
                sendJson(res, 200, nlohmann::json{{"id", id}});
            });
        });
        s.Get("/control/faults", [this](const httplib::Request& req, httplib::Response& res) {
            control(req, res, [&](const nlohmann::json&) {
                nlohmann::json list = nlohmann::json::array();
                for (const auto& r : faults.rules()) list.push_back(r.toJson());
                sendJson(res, 200,
                         nlohmann::json{{"faults", list}, {"latencyMs", faults.latencyMs()}});
            });
        });
        s.Delete("/control/faults", [this](const httplib::Request& req, httplib::Response& res) {
            control(req, res, [&](const nlohmann::json&) {
                faults.clear();
                sendJson(res, 200, nlohmann::json::object());
            });
        });
        s.Post("/control/latency", [this](const httplib::Request& req, httplib::Response& res) {
            control(req, res, [&](const nlohmann::json& j) {
                if (!j.is_object() || !j.contains("ms") || !j["ms"].is_number_integer() ||
                    j["ms"].get<int64_t>() < 0 || j["ms"].get<int64_t>() > 3600 * 1000) {
                    throw std::invalid_argument("\"ms\" must be an integer from 0 to 3600000");
                }
                faults.setLatencyMs(j["ms"].get<int64_t>());
                sendJson(res, 200, nlohmann::json::object());
            });
        });
        s.Post("/control/jobs", [this](const httplib::Request& req, httplib::Response& res) {
            control(req, res, [&](const nlohmann::json& j) {
                if (!j.is_object()) throw std::invalid_argument("expected a JSON object");
                bool any = false;
                if (j.contains("vanish")) {
                    if (!j["vanish"].is_boolean())
                        throw std::invalid_argument("\"vanish\" must be true or false");
                    backend.setJobsVanish(j["vanish"].get<bool>());
                    any = true;
                }
                if (j.contains("outcome")) {
                    if (!j["outcome"].is_string())
                        throw std::invalid_argument("\"outcome\" must be a string");
                    std::string outcome = j["outcome"].get<std::string>();
                    uint16_t state;
                    if (cim::equalNoCase(outcome, "Terminated")) {
                        state = 8;
                    } else if (cim::equalNoCase(outcome, "Exception")) {
                        state = 10;
                    } else if (cim::equalNoCase(outcome, "Killed")) {
                        state = 9;
                    } else {
                        throw std::invalid_argument(
                            "\"outcome\" must be Terminated, Killed or Exception");
                    }
                    int count = 1;
                    if (j.contains("count")) {
                        if (!j["count"].is_number_integer() || j["count"].get<int64_t>() < 1 ||
                            j["count"].get<int64_t>() > 1000000) {
                            throw std::invalid_argument(
                                "\"count\" must be an integer from 1 to 1000000");
                        }
                        count = j["count"].get<int>();
                    }
                    backend.failNextJobs(count, state);
                    any = true;
                }
                if (!any) throw std::invalid_argument("expected \"outcome\" or \"vanish\"");
                sendJson(res, 200, nlohmann::json::object());
            });
        });
        s.Post("/control/remove", [this](const httplib::Request& req, httplib::Response& res) {
            control(req, res, [&](const nlohmann::json& j) {
                RemovalRule rule = RemovalRule::fromJson(j);
                if (!rule.atOnce) {
                    sendJson(res, 200, nlohmann::json{{"id", removals.add(std::move(rule))}});
                    return;
                }
                std::vector<std::string> removed;
                try {
                    removed = backend.removeObject(rule.object, rule.target, rule.array);
                } catch (const std::invalid_argument& e) {
                    sendJsonError(res, 404, e.what());
                    return;
                }
                sendJson(res, 200, nlohmann::json{{"removed", removed}});
            });
        });
        s.Get("/control/remove", [this](const httplib::Request& req, httplib::Response& res) {
            control(req, res, [&](const nlohmann::json&) {
                nlohmann::json list = nlohmann::json::array();
                for (const auto& r : removals.rules()) list.push_back(r.toJson());
                sendJson(res, 200, nlohmann::json{{"pending", list}});
            });
        });
        s.Delete("/control/remove", [this](const httplib::Request& req, httplib::Response& res) {
            control(req, res, [&](const nlohmann::json&) {
                removals.clear();
                sendJson(res, 200, nlohmann::json::object());
            });
        });
        s.Get("/control/state", [this](const httplib::Request& req, httplib::Response& res) {
            control(req, res, [&](const nlohmann::json&) { sendJson(res, 200, backend.state()); });
        });
        s.Post("/control/reset", [this](const httplib::Request& req, httplib::Response& res) {
            control(req, res, [&](const nlohmann::json&) {
                faults.clear();
                removals.clear();
                log.clear();
                backend.reset();
                sendJson(res, 200, nlohmann::json::object());
            });
        });
        s.Get("/control/log", [this](const httplib::Request& req, httplib::Response& res) {
            control(req, res, [&](const nlohmann::json&) { sendJson(res, 200, log.toJson()); });
        });
        s.Delete("/control/log", [this](const httplib::Request& req, httplib::Response& res) {
            control(req, res, [&](const nlohmann::json&) {
                log.clear();
                sendJson(res, 200, nlohmann::json::object());
            });
        });

        s.Post("/fabric/luns", [this](const httplib::Request& req, httplib::Response& res) {
            try {
                nlohmann::json j = parseJson(req);
                if (!j.is_object() || !j.contains("initiators") || !j["initiators"].is_array()) {
                    throw std::invalid_argument("expected {\"initiators\": [...]}");
                }
                const auto& list = j["initiators"];
                if (list.size() > 4096) throw std::invalid_argument("too many initiators");
                std::vector<std::string> ports;
                for (const auto& p : list) {
                    if (!p.is_string() || p.get_ref<const std::string&>().size() > 1024) {
                        throw std::invalid_argument(
                            "each initiator must be a string of at most 1024 characters");
                    }
                    ports.push_back(p.get<std::string>());
                }
                sendJson(res, 200, backend.fabricLuns(ports));
            } catch (const nlohmann::json::exception& e) {
                sendJsonError(res, 400, jsonProblem(e));
            } catch (const std::invalid_argument& e) {
                sendJsonError(res, 400, e.what());
            }
        });

        s.set_exception_handler(
            [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
                std::string what = "internal error";
                try {
                    if (ep) std::rethrow_exception(ep);
                } catch (const std::exception& e) {
                    what = e.what();
                } catch (...) {
                }
                sendJsonError(res, 500, what);
            });
    }

    void configure(httplib::Server& s, const char* listener) {
        s.new_task_queue = [this] {
            return new detail::WorkerPool(connections, options.maxThreads);
        };
        s.set_keep_alive_max_count(1000000);
        s.set_keep_alive_timeout(options.keepAliveTimeoutSec);
        s.set_read_timeout(60, 0);
        s.set_write_timeout(60, 0);
        s.set_tcp_nodelay(true);
        // cpp-httplib's default adds SO_REUSEPORT, which would let a second server
        // share the port silently instead of failing to bind.
        s.set_socket_options([](socket_t sock) {
            int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        });
        s.set_payload_max_length(options.maxRequestBytes);
        route(s, listener);
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
                configure(*s, "http");
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
                configure(*s, "https");
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
        // Idle keep-alive connections would otherwise hold their thread until they time out.
        connections.shutdownAll();
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
