// The HTTP/HTTPS transport and CIMClient against loopback servers that answer well and badly:
// connection rules, answers that do not fit, error words the retries rely on, answers handed
// on while they arrive, and replayed answers of an independent server (each call sends what
// the recorded client sent; what the answers hold is tests/cim's).
#include <cim/CIMClient.h>
#include <cim/Exception.h>
#include <cim/HttpTransport.h>
#include <cim/xml/Codec.h>
#include <cim/xml/HttpHeaders.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <ctime>
#include <functional>
#include <set>
#include <thread>

#include <testsupport/LoopbackServer.h>

#include "testsupport/RandomCim.h"

using namespace cim;
using namespace cimtest;
using testsupport::describeResults;

namespace {

// The kind and text of the exception a call raises, so that one assertion checks both.
std::string failure(const std::function<void()>& f) {
    try {
        f();
    } catch (const cim::CannotConnectException& e) {
        return std::string("connect: ") + e.what();
    } catch (const cim::ConnectionTimeoutException& e) {
        return std::string("timeout: ") + e.what();
    } catch (const cim::ConnectionLostException& e) {
        return std::string("lost: ") + e.what();
    } catch (const cim::HttpException& e) {
        return "http " + std::to_string(e.getStatus()) + ": " + e.what();
    } catch (const cim::CIMException& e) {
        return "cim " + std::to_string(e.getCode()) + ": " + e.what() + " | " + e.getDescription();
    } catch (const cim::ParseException& e) {
        return std::string("parse: ") + e.what();
    } catch (const std::exception& e) {
        return std::string("other: ") + e.what();
    }
    return "no exception";
}

const std::string kBody = "<?xml version=\"1.0\"?><CIM/>";

RawReply ok(const std::string& body = "<CIM/>") {
    return {cimResponse(body), RawReply::Send};
}

// Echoes the body over HTTPS with the test certificate.
struct TlsServer {
    explicit TlsServer(const TestPki& pki)
        : server(pki.serverCertFile.c_str(), pki.serverKeyFile.c_str()) {
        server.Post("/cimom", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("<CIM>" + req.body + "</CIM>", "application/xml; charset=utf-8");
        });
        port = static_cast<unsigned>(server.bind_to_any_port("127.0.0.1"));
        thread = std::thread([this] { server.listen_after_bind(); });
    }
    ~TlsServer() {
        server.stop();
        thread.join();
    }
    httplib::SSLServer server;
    unsigned port = 0;
    std::thread thread;
};

const char* kNames =
    "<IRETURNVALUE>\n<INSTANCENAME CLASSNAME=\"LSISSI_StorageVolume\">\n"
    "<KEYBINDING NAME=\"DeviceID\"><KEYVALUE VALUETYPE=\"string\">V1</KEYVALUE></KEYBINDING>\n"
    "</INSTANCENAME>\n</IRETURNVALUE>\n";
const char* kCut = "<IRETURNVALUE><INSTANCENAME CLASSNAME=\"V\"><KEYBINDING NAME=\"K\">";
const CIMNamespaceName kNs("root/LsiArray13");

// Answers every request with what make() returns for the request's message ID.
struct Server {
    explicit Server(std::function<std::string(const std::string& id)> make)
        : raw([make](const RawRequest& r) {
              return RawReply{make(messageIdOf(r.body)), RawReply::Send};
          }) {
        client.connect("127.0.0.1", raw.port(), "u", "p");
    }
    RawServer raw;
    CIMClient client;
};

std::string names(const std::string& id) {
    return cimChunkedResponse(simpleResponse(id, "EnumerateInstanceNames", kNames), {});
}

const CIMObjectPath kTarget = CIMObjectPath::parse("LSISSI_StorageVolume.DeviceID=\"V1\"");

// Answers every operation with the same generated results for its method.
RawReply generated(const RawRequest& r) {
    const std::string* method = r.header("CIMMethod");
    testsupport::RandomCim g(42);
    xml::Response answer;
    answer.messageId = messageIdOf(r.body);
    answer.methodName = method ? *method : "";
    answer.hasReturnValue = true;
    const bool paths = answer.methodName.find("Names") != std::string::npos;
    const bool withNamespace = answer.methodName.rfind("Enumerate", 0) != 0;
    for (int i = 0; i < 40; ++i) {
        if (paths) {
            answer.instanceNames.push_back(g.path(0, withNamespace));
        } else {
            CIMInstance inst = g.instance();
            inst.setPath(g.path(0, withNamespace));
            answer.instances.push_back(inst);
        }
    }
    return {cimChunkedResponse(xml::encodeResponse(answer), {}, 333), RawReply::Send};
}

std::string vol(const std::string& id) {
    return "PEER_StorageVolume.CreationClassName=\"PEER_StorageVolume\",DeviceID=\"" + id +
           "\",SystemCreationClassName=\"PEER_ComputerSystem\",SystemName=\"SYS-A\"";
}

const std::string kVolume = vol("600A0B80002A1B3C0000");
const char* kSystem =
    "PEER_ComputerSystem.CreationClassName=\"PEER_ComputerSystem\",Name=\"SYS-A\"";
const char* kService =
    "PEER_TestService.CreationClassName=\"PEER_TestService\",Name=\"PeerService\","
    "SystemCreationClassName=\"CIM_ComputerSystem\",SystemName=\"peer.example\"";

CIMObjectPath P(const std::string& text) {
    return CIMObjectPath::parse(text);
}

// Replays one recorded answer (with the request's message ID) for every request.
class Replay {
  public:
    explicit Replay(const std::string& sample)
        : m_sample(sample),
          m_response(loadRecorded(sample + ".response.http")),
          m_server([this](const RawRequest& r) {
              return RawReply{replay(m_response, messageIdOf(r.body)), RawReply::Send};
          }) {
        client.connect("127.0.0.1", m_server.port(), "root", "secret");
    }
    // Ours and the recorded request, decoded and encoded again, are one text; so are the headers.
    void expectSameRequest() const {
        auto sent = m_server.requests();
        ASSERT_EQ(sent.size(), 1u);
        RecordedMessage recorded = loadRecorded(m_sample + ".request.http");
        xml::Request ours = xml::decodeRequest(sent[0].body);
        xml::Request theirs = xml::decodeRequest(recorded.body);
        ours.messageId = theirs.messageId;
        EXPECT_EQ(xml::encodeRequest(ours), xml::encodeRequest(theirs)) << m_sample;
        EXPECT_TRUE(ours.unknownParameters.empty());
        EXPECT_EQ(field(sent[0].headers, "CIMMethod"), field(recorded.headers, "CIMMethod"));
        EXPECT_EQ(xml::percentDecode(field(sent[0].headers, "CIMObject")),
                  xml::percentDecode(field(recorded.headers, "CIMObject")));
        EXPECT_EQ(field(sent[0].headers, "CIMOperation"), "MethodCall");
    }
    CIMClient client;

  private:
    std::string m_sample;
    RecordedMessage m_response;
    RawServer m_server;
};

// Properties marked as the recorded client marks them.
CIMInstance volumeInstance(const std::vector<std::pair<const char*, CIMValue>>& properties) {
    CIMInstance i("PEER_StorageVolume");
    for (const auto& [name, value] : properties)
        i.addProperty(CIMProperty(name, value, 0, CIMName(), CIMName(), true));
    return i;
}

CIMValue S(const char* text) {
    return CIMValue(std::string(text));
}

}  // namespace

TEST(HttpTransportConnect, BadEndpointsFailAtConnect) {
    // clang-format off
    const struct { std::string host; unsigned port; const char* words; } cases[] = {
        {"127.0.0.1", closedPort(), "connect: Connection failed"}, {"no-such-host.invalid", 5988, "connect: Connection failed"},
        {"", 5988, "connect: "}, {"host/cimom?x", 5988, "connect: "}, {"127.0.0.1", 0, "connect: "}, {"127.0.0.1", 70000, "connect: "}};
    // clang-format on
    for (const auto& c : cases) {
        HttpTransport t;
        const std::string got = failure([&] { t.connect(c.host, c.port, "u", "p"); });
        EXPECT_NE(got.find(c.words), std::string::npos) << c.host << ": " << got;
        EXPECT_FALSE(t.isConnected()) << c.host;
    }
}

TEST(HttpTransportRequest, SendsTheProtocolHeadersAndRefusesInjection) {
    RawServer server([](const RawRequest&) {
        return RawReply{"HTTP/1.1 100 Continue\r\n\r\n" + cimResponse("<CIM>real</CIM>"),
                        RawReply::Send};
    });
    // Proxies are for browsers: the transport talks to the array directly.
    ::setenv("http_proxy", "http://127.0.0.1:1", 1);
    ::setenv("ALL_PROXY", "http://127.0.0.1:1", 1);
    HttpTransport t;
    t.connect("127.0.0.1", server.port(), "root", "secret");
    const std::string big(5000, 'x');  // large enough for a client to think of 100-continue
    std::string failed = failure([&] {
        EXPECT_EQ(t.post("TestJobMethod", "root%2Fcimv2%3AX.Name%3D%22S%22", big).body,
                  "<CIM>real</CIM>");
    });
    ::unsetenv("http_proxy");
    ::unsetenv("ALL_PROXY");
    EXPECT_EQ(failed, "no exception");
    for (const char* bad : {"GetInstance\r\nX-Evil: 1", ""})
        EXPECT_THROW(t.post(bad, "root%2Fcimv2", kBody), cim::Exception) << bad;
    for (const char* bad : {"root/cimv2\r\nX-Evil: 1", "root cimv2"})
        EXPECT_THROW(t.post("GetInstance", bad, kBody), cim::Exception) << bad;
    HttpTransport anonymous;
    anonymous.connect("127.0.0.1", server.port(), "", "");
    anonymous.post("GetInstance", "ns", kBody);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    const RawRequest& r = requests[0];
    EXPECT_EQ(r.method + " " + r.target, "POST /cimom");
    std::string headers;
    for (const char* h : {"Content-Type", "CIMOperation", "CIMMethod", "CIMObject", "TE",
                          "Authorization", "Expect"})
        headers += std::string(h) + ": " + (r.header(h) ? *r.header(h) : "none") + "\n";
    EXPECT_EQ(headers,
              "Content-Type: application/xml; charset=\"utf-8\"\nCIMOperation: "
              "MethodCall\nCIMMethod: TestJobMethod\n"
              "CIMObject: root%2Fcimv2%3AX.Name%3D%22S%22\nTE: trailers\nAuthorization: Basic "
              "cm9vdDpzZWNyZXQ=\nExpect: none\n");  // root:secret
    EXPECT_EQ(r.body, big);
    EXPECT_EQ(requests[1].header("Authorization"), nullptr) << "no credentials, no header";
}

// Unanswered on a closed kept connection, only a read goes again: a write may have happened.
TEST(HttpTransportKeepAlive, RequestsShareOneConnectionAndOnlyReadsAreSentAgain) {
    std::atomic<int> vanish{0};
    RawServer server([&](const RawRequest& r) {
        if (r.body == "vanish" && vanish++ % 2 == 0) return RawReply{"", RawReply::SendAndClose};
        return RawReply{cimResponse("<CIM>" + r.body + "</CIM>"),
                        r.body == "close" ? RawReply::SendAndClose : RawReply::Send};
    });
    HttpTransport t;
    t.connect("127.0.0.1", server.port(), "u", "p");
    for (int i = 0; i < 25; ++i)
        EXPECT_EQ(t.post("GetInstance", "ns", std::to_string(i)).body,
                  "<CIM>" + std::to_string(i) + "</CIM>");
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(t.post("GetInstance", "ns", "vanish", {}, true).body, "<CIM>vanish</CIM>");
    EXPECT_EQ(server.requests().size(), 27u);
    EXPECT_EQ(t.post("GetInstance", "ns", "kept").body, "<CIM>kept</CIM>");
    EXPECT_THROW(t.post("DeleteGroup", "ns", "vanish"), cim::ConnectionLostException);
    EXPECT_EQ(server.requests().size(), 29u);
    EXPECT_EQ(server.connections(), 2);
    // Reads after a close: one that meets the close before its FIN arrived may go again.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(t.post("GetInstance", "ns", "close", {}, true).body, "<CIM>close</CIM>");
    EXPECT_EQ(server.connections(), 5);
    EXPECT_EQ(t.connectionsOpened(), 5u);
    t.disconnect();
    EXPECT_THROW(t.post("GetInstance", "ns", "x"), cim::NotConnectedException);
    t.connect("127.0.0.1", server.port(), "u", "p");
    EXPECT_EQ(t.post("GetInstance", "ns", "again").body, "<CIM>again</CIM>");
}

TEST(HttpTransportKeepAlive, SeparateTransportsWorkConcurrently) {
    RawServer server([](const RawRequest& r) { return ok(r.body); });
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int n = 0; n < 4; ++n) {
        threads.emplace_back([&, n] {
            try {
                HttpTransport t;
                t.connect("127.0.0.1", server.port(), "u", "p");
                for (int i = 0; i < 20; ++i) {
                    std::string body = std::to_string(n) + "/" + std::to_string(i);
                    if (t.post("GetInstance", "ns", body).body != body) ++failures;
                }
                if (t.connectionsOpened() != 1) ++failures;
            } catch (...) {
                ++failures;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(server.connections(), 4);
}

// Answered errors keep the connection; broken answers are lost ones, which the retries take.
// Recorded: 400 and 501 come without a length on an open connection, so nobody waits for a body.
TEST(HttpTransportAnswers, EachAnswerGivesItsBodyOrFailsAsWhatItIs) {
    const std::string body = "<CIM>" + std::string(3000, 'f') + "</CIM>", got = "body " + body;
    const std::string full = cimResponse(std::string(1000, 'a'));
    const std::string chunked = cimChunkedResponse(std::string(1000, 'a'), {});
    const std::string chunkedHead = httpResponse(200, "OK", {{"Transfer-Encoding", "chunked"}});
    std::string ones = chunkedHead;
    for (char ch : body) ones += std::string("1;ext=x\r\n") + ch + "\r\n";
    Fields many;
    for (int i = 0; i < 1200; ++i) many.emplace_back("X-" + std::to_string(i), "v");
    using R = RawReply;
    // clang-format off
    const struct { const char* name; std::string reply; R::Action action; std::vector<std::string> words; } cases[] = {
        {"chunks of one byte with extensions and trailers", ones + "0\r\nX-Trailer: 1\r\n\r\n", R::Send, {got}},
        {"length with leading zeros", httpResponse(200, "OK", {{"Content-Length", "0" + std::to_string(body.size())}}, body), R::Send, {got}},
        {"until the connection closes", httpResponse(200, "OK", {}, body), R::SendAndClose, {got}},
        {"HTTP/1.0", "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body, R::SendAndClose, {got}},
        {"interim answers first", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\n\r\n" + cimResponse(body), R::Send, {got}},
        {"conflicting lengths", httpResponse(200, "OK", {{"Content-Length", "10"}, {"Content-Length", "11"}}, body), R::Send, {"HTTP"}},
        {"bad chunk size", chunkedHead + "zz\r\n", R::Send, {"HTTP"}},
        {"unknown transfer coding", httpResponse(200, "OK", {{"Transfer-Encoding", "gzip"}}, body), R::Send, {"HTTP"}},
        {"chunk longer than its size", chunkedHead + "2\r\nabc\r\n0\r\n\r\n", R::Send, {"HTTP"}},
        {"header flood", httpResponse(200, "OK", many), R::Send, {"HTTP"}},
        {"header block over 64 KiB", httpResponse(200, "OK", {{"X-Big", std::string(70000, 'b')}}), R::Send, {"HTTP"}},
        {"status line of garbage", "HTTP/1.1 2x0 OK\r\n\r\n", R::Send, {"HTTP"}},
        {"401", httpResponse(401, "Unauthorized", {{"content-length", "0000000000"}, {"WWW-Authenticate", "Basic realm=\"vm\""}}),
         R::Send, {"http 401: ", "HTTP", "rejected the credentials"}},
        {"500", httpResponse(500, "Internal Server Error", {{"Content-Length", "5"}}, "oops!"), R::Send, {"http 500: ", "HTTP 500"}},
        {"400 without length", httpResponse(400, "Bad Request", {{"CIMError", "request-not-well-formed"}, {"PGErrorDetail", "Bad%20closing%20element%3A%20on%20line%209"}}),
         R::Hang, {"http 400: ", "HTTP 400", "request-not-well-formed", "Bad closing element: on line 9"}},
        {"501 without length", httpResponse(501, "Not Implemented", {{"CIMError", "unsupported-dtd-version"}}), R::Hang, {"http 501: ", "unsupported-dtd-version"}},
        {"truncated body", full.substr(0, full.size() - 600), R::SendAndClose, {"lost: ", "HTTP", "truncated"}},
        {"truncated chunked body", chunked.substr(0, 400), R::SendAndClose, {"lost: ", "HTTP"}},
        {"closed without answer", "", R::SendAndClose, {"lost: ", "HTTP", "without an answer"}},
        {"not HTTP", "SSH-2.0-OpenSSH\r\n\r\n", R::SendAndClose, {"lost: ", "HTTP"}},
        {"never answers", "", R::Hang, {"timeout: ", "timed out"}},
        {"length over the limit", httpResponse(200, "OK", {{"Content-Length", "5000"}}), R::Hang, {"limit of 4000"}},
        {"chunks over the limit", cimChunkedResponse(std::string(5000, 'z'), {}, 512), R::Send, {"limit"}},
        {"zero CIM status", cimChunkedResponse("<CIM/>", {{"CIMStatusCode", "0"}}), R::Send, {"body <CIM/>"}},
        {"CIM status in the headers", cimResponse("<CIM/>", {{"CIMStatusCode", "5"}}), R::Send, {"cim 5: CIM_ERR_INVALID_CLASS"}},
        {"CIM status in the trailers", cimChunkedResponse("<CIM/>", {{"CIMStatusCode", "6"}, {"CIMStatusCodeDescription", "CIM_ERR_NOT_FOUND%3A%20PEER_StorageVolume.DeviceID%3D%22NOPE%22"}}),
         R::Send, {"cim 6: CIM_ERR_NOT_FOUND: PEER_StorageVolume.DeviceID=\"NOPE\" | PEER_StorageVolume.DeviceID=\"NOPE\""}},
        {"CIM status of garbage", cimChunkedResponse("<CIM/>", {{"CIMStatusCode", "six"}}), R::Send, {"parse: "}},
    };
    // clang-format on
    for (const auto& c : cases) {
        RawServer server([&](const RawRequest&) { return RawReply{c.reply, c.action}; });
        HttpTransport t;
        t.setTimeout(c.action == RawReply::Hang && c.reply.empty() ? 300 : 60000);
        t.setMaxResponseSize(4000);
        t.connect("127.0.0.1", server.port(), "root", "wrongpw");
        auto post = [&] {
            std::string body;
            const std::string failed =
                failure([&] { body = t.post("GetInstance", "ns", kBody).body; });
            return failed == "no exception" ? "body " + body : failed;
        };
        const std::string first = post();
        for (const auto& w : c.words)
            EXPECT_NE(first.find(w), std::string::npos) << c.name << ": " << first;
        EXPECT_EQ(post().find("wrongpw"), std::string::npos) << c.name;
        if (c.action == RawReply::Send &&
            (first.rfind("http ", 0) == 0 || first.rfind("cim ", 0) == 0)) {
            EXPECT_EQ(server.connections(), 1) << c.name << ": the connection stays usable";
        }
    }
}

// The handshake belongs to connect; a refused certificate is not worth a connect retry.
TEST(HttpTransportTls, CallbackSeesTheCertificateAndRefusedHandshakesFailTheConnect) {
    TestPki pki;
    TlsServer tls(pki);
    cim::SSLCertificateInfo seen;
    int calls = 0;
    cim::SSLContext ctx("", [&](cim::SSLCertificateInfo& info) {
        seen = info;
        ++calls;
        return true;
    });
    HttpTransport t;
    t.connect("127.0.0.1", tls.port, ctx, "u", "p");
    for (int i = 0; i < 5; ++i) EXPECT_EQ(t.post("GetInstance", "ns", "x").body, "<CIM>x</CIM>");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(t.connectionsOpened(), 1u);
    EXPECT_NE(seen.getSubjectName().find("CN=127.0.0.1"), std::string::npos) << seen.subjectName;
    EXPECT_NE(seen.getIssuerName().find("CN=Loopback Test CA"), std::string::npos);
    EXPECT_EQ(seen.getFingerprint(), pki.serverFingerprint);
    const std::time_t now = std::time(nullptr);
    EXPECT_LT(seen.notBeforeTime, now);
    EXPECT_GT(seen.notAfterTime, now);
    EXPECT_NE(seen.getErrorCode(), 0);  // the CA is not in any trust store here
    EXPECT_NE(seen.pem.find("BEGIN CERTIFICATE"), std::string::npos);
    EXPECT_EQ(seen.getSerialNumber(), "02");
    RawServer plain([](const RawRequest&) { return ok(); });
    auto callback = [](bool answer) {
        return cim::SSLContext("", [answer](cim::SSLCertificateInfo&) { return answer; });
    };
    auto throwing = [](cim::SSLCertificateInfo&) -> bool { throw std::runtime_error("x"); };
    // clang-format off
    const struct { const char* name; cim::SSLContext ctx; unsigned port; const char* words; bool retried; } cases[] = {
        {"callback rejects", callback(false), tls.port, "rejected", false}, {"callback throws", cim::SSLContext("", throwing), tls.port, "connect: ", false},
        {"server certificate alone trusted", cim::SSLContext(pki.serverCertFile), tls.port, "verification failed", false}, {"system trust store only", cim::SSLContext(), tls.port, "connect: ", false},
        {"trust store missing", cim::SSLContext(pki.dir + "/missing.pem"), tls.port, "trust store", false}, {"plain HTTP port", callback(true), plain.port(), "Connection failed", true},
    };
    // clang-format on
    for (const auto& c : cases) {
        HttpTransport t;
        const std::string got = failure([&] { t.connect("127.0.0.1", c.port, c.ctx, "u", "p"); });
        EXPECT_EQ(got.rfind("connect: ", 0), 0u) << c.name << ": " << got;
        EXPECT_NE(got.find(c.words), std::string::npos) << c.name << ": " << got;
        EXPECT_EQ(got.find("Connection failed") != std::string::npos, c.retried) << c.name;
        EXPECT_FALSE(t.isConnected()) << c.name;
    }
    EXPECT_TRUE(plain.requests().empty());
    HttpTransport trusted;
    trusted.connect("127.0.0.1", tls.port, cim::SSLContext(pki.caCertFile), "u", "p");
    EXPECT_EQ(trusted.post("GetInstance", "ns", "a").body, "<CIM>a</CIM>");
}

TEST(CIMClientConnect, OneConnectAtATimeAndNoCallsWithoutOne) {
    CIMClient refused;
    EXPECT_THROW(refused.connect("127.0.0.1", closedPort(), SSLContext(), "u", "p"),
                 CannotConnectException);
    Server s(names);
    CIMClient& c = s.client;
    EXPECT_THROW(c.connect("127.0.0.1", s.raw.port(), "u", "p"), AlreadyConnectedException);
    EXPECT_THROW(c.connect("127.0.0.1", s.raw.port(), SSLContext(), "u", "p"),
                 AlreadyConnectedException);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(c.enumerateInstanceNames(kNs, "CIM_StorageVolume").at(0).toString(),
                  "LSISSI_StorageVolume.DeviceID=\"V1\"");
    EXPECT_EQ(s.raw.connections(), 1);
    std::set<std::string> ids;
    for (const auto& r : s.raw.requests()) ids.insert(messageIdOf(r.body));
    EXPECT_EQ(ids.size(), 10u) << "every request has its own message ID";
    // Requests that cannot be sent never leave.
    EXPECT_THROW(c.enumerateInstanceNames(CIMNamespaceName(), "CIM_StorageVolume"), Exception);
    EXPECT_THROW(c.modifyInstance(kNs, CIMInstance("X")), Exception);  // no path
    EXPECT_EQ(s.raw.requests().size(), 10u);
    c.disconnect();
    EXPECT_FALSE(c.isConnected());
    EXPECT_THROW(c.enumerateInstanceNames(kNs, "CIM_StorageVolume"), NotConnectedException);
    c.disconnect();
}

// An answer that is not the answer to this request is a ParseException naming why, unless a
// CIM error in the trailers explains it; either way the connection stays usable.
TEST(CIMClientAnswers, AnswersThatDoNotFitTheRequestAreParseErrors) {
    using Id = const std::string&;
    // clang-format off
    const struct { const char* name; std::function<std::string(Id)> answer; const char* words; } cases[] = {
        {"not CIM", [](Id) { return httpResponse(200, "OK", {{"Content-Type", "text/html"}, {"Content-Length", "22"}}, "<html>not cim</html>\r\n"); }, ""},
        {"malformed", [](Id id) {
             std::string body = simpleResponse(id, "EnumerateInstanceNames", kNames);
             return cimResponse(body.substr(0, body.size() / 2) + "</WRONG>"); }, "malformed"},
        {"empty", [](Id) { return cimResponse(""); }, ""},
        {"another message ID", [](Id) { return cimResponse(simpleResponse("999999", "EnumerateInstanceNames", kNames)); }, "message ID"},
        {"another method", [](Id id) { return cimResponse(simpleResponse(id, "EnumerateInstances", kNames)); }, ""},
        {"cut short, CIM error in the trailers", [](Id id) { return cimChunkedResponse(simpleResponse(id, "EnumerateInstanceNames", kCut), {{"CIMStatusCode", "1"}}); }, "cim 1: "},
        {"cut short, chunked", [](Id id) { return cimChunkedResponse(simpleResponse(id, "EnumerateInstanceNames", kCut), {}); }, "parse: "},
        // clang-format on
    };
    for (const auto& c : cases) {
        Server s(c.answer);
        auto call = [&] {
            return failure([&] { s.client.enumerateInstanceNames(kNs, "CIM_StorageVolume"); });
        };
        const char* prefix = std::string(c.words).rfind("cim ", 0) == 0 ? c.words : "parse: ";
        for (const std::string& got : {call(), call()}) {
            EXPECT_EQ(got.rfind(prefix, 0), 0u) << c.name << ": " << got;
            EXPECT_NE(got.find(c.words), std::string::npos) << c.name << ": " << got;
        }
        EXPECT_EQ(s.raw.connections(), 1) << c.name << ": the answer was read to its end";
    }
    Server noInstance([](const std::string& id) {
        return cimResponse(simpleResponse(id, "GetInstance", "<IRETURNVALUE>\n</IRETURNVALUE>\n"));
    });
    EXPECT_THROW(noInstance.client.getInstance(kNs, CIMObjectPath::parse("X.K=\"1\"")),
                 ParseException);
}

// A method goes to the namespace given, not the path's; an error's status name is kept once.
TEST(CIMClientRequests, MethodsGoToTheGivenNamespaceAndErrorsKeepTheirName) {
    Server s([n = 0](const std::string& id) mutable {
        if (n++ == 1)  // the second request
            return cimResponse(simpleResponse(
                id, "GetInstance",
                "<ERROR CODE=\"6\" DESCRIPTION=\"CIM_ERR_NOT_FOUND: X.K=&quot;1&quot;\"/>"));
        return cimResponse(simpleResponse(
            id, "CreateSynchronizationAspect",
            "<RETURNVALUE PARAMTYPE=\"uint32\"><VALUE>0</VALUE></RETURNVALUE>\n", false));
    });
    Array<CIMParamValue> out;
    CIMValue ret = s.client.invokeMethod(
        kNs, CIMObjectPath::parse("//otherhost/other/ns:LSISSI_ReplicationService.Name=\"R\""),
        "CreateSynchronizationAspect", {CIMParamValue("SyncType", CIMValue(Uint16(7)))}, out);
    EXPECT_EQ(ret.toString(), "0");
    const RawRequest sent = s.raw.requests().at(0);
    EXPECT_EQ(sent.header("CIMObject")->rfind("root%2FLsiArray13%3ALSISSI_ReplicationService", 0),
              0u);
    EXPECT_EQ(*sent.header("CIMMethod"), "CreateSynchronizationAspect");
    EXPECT_EQ(failure([&] { s.client.getInstance(kNs, CIMObjectPath::parse("X.K=\"1\"")); }),
              "cim 6: CIM_ERR_NOT_FOUND: X.K=\"1\" | X.K=\"1\"");
}

TEST(ClientForEach, HandsOverWhatTheCollectingFormsReturnUntilTheCallbackThrows) {
    RawServer server(generated);
    CIMClient c;
    c.connect("127.0.0.1", server.port(), "u", "p");
    std::vector<CIMInstance> instances;
    std::vector<CIMObjectPath> paths;
    auto onInstance = [&](CIMInstance&& i) { instances.push_back(std::move(i)); };
    auto onPath = [&](CIMObjectPath&& p) { paths.push_back(std::move(p)); };
    // clang-format off
    struct Case { const char* name; std::function<std::string()> collected; std::function<void()> handedOver; } cases[] = {
        {"EnumerateInstances", [&] { return describeResults(c.enumerateInstances(kNs, "CIM_StorageVolume")); }, [&] { c.forEachInstance(kNs, "CIM_StorageVolume", onInstance); }},
        {"EnumerateInstanceNames", [&] { return describeResults({}, c.enumerateInstanceNames(kNs, "CIM_StorageVolume")); }, [&] { c.forEachInstanceName(kNs, "CIM_StorageVolume", onPath); }},
        {"Associators", [&] { return describeResults(c.associators(kNs, kTarget)); }, [&] { c.forEachAssociator(kNs, kTarget, onInstance); }},
        {"AssociatorNames", [&] { return describeResults({}, c.associatorNames(kNs, kTarget)); }, [&] { c.forEachAssociatorName(kNs, kTarget, onPath); }},
        {"References", [&] { return describeResults(c.references(kNs, kTarget)); }, [&] { c.forEachReference(kNs, kTarget, onInstance); }},
        {"ReferenceNames", [&] { return describeResults({}, c.referenceNames(kNs, kTarget)); }, [&] { c.forEachReferenceName(kNs, kTarget, onPath); }},
        // clang-format on
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string expected = k.collected();
        instances.clear();
        paths.clear();
        k.handedOver();
        EXPECT_EQ(instances.size() + paths.size(), 40u);
        EXPECT_EQ(describeResults(instances, paths), expected);
    }
    EXPECT_EQ(server.connections(), 1);
    // A callback that throws stops the call and the next call works.
    int seen = 0;
    EXPECT_THROW(c.forEachInstanceName(kNs, "CIM_StorageVolume",
                                       [&](CIMObjectPath&&) {
                                           if (++seen == 3) throw std::runtime_error("found it");
                                       }),
                 std::runtime_error);
    EXPECT_EQ(seen, 3);
    // The rest of that answer was never read: the connection went, the next call opens one.
    EXPECT_EQ(c.enumerateInstanceNames(kNs, "CIM_StorageVolume").size(), 40u);
    EXPECT_EQ(server.connections(), 2);
}

TEST(WireTest, EveryRecordedExchange) {
    if (wireDir().empty()) GTEST_SKIP() << "recorded samples not present";
    using Call = std::function<std::string(CIMClient&)>;
    auto names = [](const char* cls) -> Call {
        return [=](CIMClient& c) {
            return describeResults({}, c.enumerateInstanceNames("root/cimv2", cls));
        };
    };
    auto getVolume = [](const std::string& path) -> Call {
        return
            [=](CIMClient& c) { return describeResults({c.getInstance("root/cimv2", P(path))}); };
    };
    const Call volumeNames = names("PEER_StorageVolume");
    const CIMPropertyList someProperties(
        std::vector<CIMName>{"DeviceID", "ElementName", "NumberOfBlocks", "OperationalStatus"});
    // expect: texts that each appear in what the call handed over.
    // clang-format off
    const struct { const char* sample; Call call; std::vector<std::string> expect; bool sameRequest = true; } cases[] = {
        {"01-EnumerateInstanceNames", volumeNames, {"DeviceID=\"VOL \\\"Q\\\" \\\\ 1\""}},
        {"02-EnumerateInstances", [](CIMClient& c) {
             auto all = c.enumerateInstances("root/cimv2", "CIM_StorageVolume", true, false, false, false);
             for (const auto& i : all)  // the instance carries its own path
                 if (i.getPath().findKeyBinding("DeviceID")->getValue() !=
                     i.getProperty(i.findProperty("DeviceID")).getValue().toString())
                     return std::string("PATH-MISMATCH");
             return describeResults(all);
         }, {"instance PEER_StorageVolume at PEER_StorageVolume."}},
        {"03-EnumerateInstances-propertylist", [&](CIMClient& c) { return describeResults(c.enumerateInstances("root/cimv2", "CIM_StorageVolume", true, false, false, false, someProperties)); }, {"NumberOfBlocks uint64 =2097152"}},
        // The instance carries the path it was read by.
        {"04-GetInstance", [](CIMClient& c) { return describeResults({c.getInstance("root/cimv2", P(kVolume), false, false, false)}); }, {"instance PEER_StorageVolume at root/cimv2:" + kVolume, "EnabledState uint16 =5"}},
        {"04-GetInstance-association", [](CIMClient& c) {
             CIMObjectPath assoc("", CIMNamespaceName(), "PEER_SystemDevice",
                                 {CIMKeyBinding("GroupComponent", P(kSystem)),
                                  CIMKeyBinding("PartComponent", P(vol("VOL \\\"Q\\\" \\\\ 1")))});
             return describeResults({c.getInstance("root/cimv2", assoc, false)});
         }, {"instance PEER_SystemDevice"}},
        {"06-AssociatorNames", [](CIMClient& c) { return describeResults({}, c.associatorNames("root/cimv2", P(kVolume), "PEER_SystemDevice", "PEER_ComputerSystem", "", "")); }, {"path //vm/root/cimv2:" + std::string(kSystem) + " host vm"}},
        {"07-Associators", [](CIMClient& c) { return describeResults(c.associators("root/cimv2", P(kVolume), "PEER_SystemDevice", "PEER_ComputerSystem")); }, {"instance PEER_ComputerSystem at //vm/root/cimv2:"}},
        {"08-ReferenceNames", [](CIMClient& c) { return describeResults({}, c.referenceNames("root/cimv2", P(kSystem), "PEER_SystemDevice", "")); }, {"PartComponent=", "DeviceID=\\\"VOL \\\\\\\"Q"}},
        {"09-References", [](CIMClient& c) { return describeResults(c.references("root/cimv2", P(kSystem), "PEER_SystemDevice", "", false, false, CIMPropertyList())); }, {"instance PEER_SystemDevice at //vm/"}},
        {"10-ModifyInstance-propertylist", [&](CIMClient& c) {
             CIMInstance i = volumeInstance({{"ElementName", S("vol0 renamed")},
                 {"SystemCreationClassName", S("PEER_ComputerSystem")}, {"SystemName", S("SYS-A")},
                 {"CreationClassName", S("PEER_StorageVolume")}, {"DeviceID", S("600A0B80002A1B3C0000")}});
             i.setPath(P(kVolume));
             c.modifyInstance("root/cimv2", i, false, CIMPropertyList({"ElementName"}));
             return std::string("done modify");
         }, {"done modify"}},
        {"11-DeleteInstance", [&](CIMClient& c) { c.deleteInstance("root/cimv2", P(vol("VOL-DEL"))); return std::string("done delete"); }, {"done delete"}},
        {"12-InvokeMethod", [](CIMClient& c) {
             Array<CIMParamValue> in = {CIMParamValue("ElementName", S("snap 1")),
                 CIMParamValue("Mode", CIMValue(Uint16(3))), CIMParamValue("Size", CIMValue(Uint64(1099511627776ull))),
                 CIMParamValue("Force", CIMValue(true)), CIMParamValue("SourceElement", CIMValue(P(kVolume))),
                 CIMParamValue("Members", CIMValue(Array<CIMObjectPath>{P(kVolume), P(kSystem)})),
                 CIMParamValue("Comment", CIMValue(CIMTYPE_STRING, false)),
                 CIMParamValue("Flags", CIMValue(Array<Uint16>{1, 2}))};
             xml::Response r;
             r.returnValue = c.invokeMethod("root/cimv2", P(kService), "TestJobMethod", in, r.outParameters);
             return testsupport::describeResponse(r);
         }, {"return uint32 =4096", "out Job typed reference =", "PEER:JOB:0001", "out OutSize typed uint64 =18446744073709551615"}},
        {"12-InvokeMethod-error-FAILED", [](CIMClient& c) {
             Array<CIMParamValue> out;
             c.invokeMethod("root/cimv2", P(kService), "FailMethod", {CIMParamValue("Reason", S("test"))}, out);
             return std::string("no exception");
         }, {"cim 1: CIM_ERR_FAILED", "PEER simulated failure"}},
        {"14-GetInstance-error-NOT_FOUND", getVolume(vol("NOPE")), {"cim 6: CIM_ERR_NOT_FOUND", "| ", "DeviceID=\"NOPE\""}},
        // Errors sent to a client that did not ask for trailers: ERROR in the body.
        {"14-GetInstance-error-NOT_FOUND-wbemcli", getVolume(kVolume), {"cim 6: CIM_ERR_NOT_FOUND"}, false},
        // Errors in the trailers of an enumeration.
        {"15-EnumerateInstanceNames-error-INVALID_CLASS", names("PEER_NoSuchClass"), {"cim 5: CIM_ERR_INVALID_CLASS"}},
        {"17-EnumerateInstanceNames-error-HTTP401-wrong-password", volumeNames, {"http 401: ", "HTTP", "401"}, false},
        // An HTTP-level refusal without a length on a kept connection must not hang.
        {"18-EnumerateInstanceNames-error-HTTP400-not-well-formed-handwritten", volumeNames, {"http 400: ", "HTTP"}, false},
        // The recorded answer names another method; the error is still reported as such.
        {"18-FrobnicateInstances-error-NOT_SUPPORTED-handwritten", volumeNames, {"cim 7: CIM_ERR_NOT_SUPPORTED"}, false},
        {"19-CreateInstance", [&](CIMClient& c) {
             CIMInstance i = volumeInstance({{"ElementName", S("new volume")},
                 {"OperationalStatus", CIMValue(Array<Uint16>{2, 32768})},
                 {"SystemCreationClassName", S("PEER_ComputerSystem")}, {"SystemName", S("SYS-A")},
                 {"CreationClassName", S("PEER_StorageVolume")}, {"DeviceID", S("VOL-NEW")},
                 {"BlockSize", CIMValue(Uint64(512))}, {"NumberOfBlocks", CIMValue(Uint64(2048))}});
             return describeResults({}, {c.createInstance("root/cimv2", i)});
         }, {"DeviceID=\"VOL-NEW\""}},
        {"20-GetClass", [](CIMClient& c) { return c.getClass("root/cimv2", "PEER_TestService", false, true, true).getClassName().getString(); }, {"PEER_TestService"}},
        // clang-format on
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.sample);
        Replay r(t.sample);
        r.client.setTimeout(60000);
        std::string got;
        const std::string failed = failure([&] { got = t.call(r.client); });
        if (got.empty()) got = failed;
        for (const auto& e : t.expect)
            EXPECT_NE(got.find(e), std::string::npos) << e << " in " << got;
        if (t.sameRequest) r.expectSameRequest();
    }
}
