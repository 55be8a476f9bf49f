// The HTTP/HTTPS transport against loopback servers that answer well and badly.
#include <cim/Exception.h>
#include <cim/HttpTransport.h>

#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <set>
#include <thread>

#include <testsupport/LoopbackServer.h>

using namespace cimtest;
using cim::HttpTransport;

namespace {

const std::string kBody = "<?xml version=\"1.0\"?><CIM/>";

RawReply ok(const std::string& body = "<CIM/>") {
    return {cimResponse(body), RawReply::Send};
}

template <class E>
E expectThrow(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "unexpected exception type: " << e.what();
        throw;
    }
    ADD_FAILURE() << "no exception";
    throw std::runtime_error("no exception");
}

}  // namespace

TEST(HttpTransportConnect, RefusedPortFailsAtConnect) {
    HttpTransport t;
    auto e = expectThrow<cim::CannotConnectException>(
        [&] { t.connect("127.0.0.1", closedPort(), "u", "p"); });
    EXPECT_NE(std::string(e.what()).find("Connection failed"), std::string::npos) << e.what();
    EXPECT_FALSE(t.isConnected());
}

TEST(HttpTransportConnect, UnresolvableHostFailsAtConnect) {
    HttpTransport t;
    auto e = expectThrow<cim::CannotConnectException>(
        [&] { t.connect("no-such-host.invalid", 5988, "u", "p"); });
    EXPECT_NE(std::string(e.what()).find("Connection failed"), std::string::npos);
}

TEST(HttpTransportConnect, BadHostOrPortIsRefusedWithoutNetwork) {
    HttpTransport t;
    EXPECT_THROW(t.connect("", 5988, "u", "p"), cim::CannotConnectException);
    EXPECT_THROW(t.connect("host/cimom?x", 5988, "u", "p"), cim::CannotConnectException);
    EXPECT_THROW(t.connect("a b", 5988, "u", "p"), cim::CannotConnectException);
    EXPECT_THROW(t.connect("127.0.0.1", 0, "u", "p"), cim::CannotConnectException);
    EXPECT_THROW(t.connect("127.0.0.1", 70000, "u", "p"), cim::CannotConnectException);
    EXPECT_FALSE(t.isConnected());
}

TEST(HttpTransportConnect, SecondConnectRaisesAlreadyConnectedAndDisconnectIsIdempotent) {
    RawServer server([](const RawRequest&) { return ok(); });
    HttpTransport t;
    t.connect("127.0.0.1", server.port(), "u", "p");
    EXPECT_THROW(t.connect("127.0.0.1", server.port(), "u", "p"), cim::AlreadyConnectedException);
    t.disconnect();
    t.disconnect();
    EXPECT_FALSE(t.isConnected());
    EXPECT_THROW(t.post("GetInstance", "root%2Fcimv2", kBody), cim::NotConnectedException);
    t.connect("127.0.0.1", server.port(), "u", "p");  // reconnect after disconnect works
    EXPECT_EQ(t.post("GetInstance", "root%2Fcimv2", kBody).body, "<CIM/>");
}

TEST(HttpTransportRequest, SendsDsp0200HeadersAndBasicAuth) {
    RawServer server([](const RawRequest&) { return ok(); });
    HttpTransport t;
    t.connect("127.0.0.1", server.port(), "root", "secret");
    const std::string big(5000, 'x');  // large enough for a client to think of 100-continue
    t.post("TestJobMethod", "root%2Fcimv2%3APEER_TestService.Name%3D%22S%22", big);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const RawRequest& r = requests[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/cimom");
    ASSERT_NE(r.header("Content-Type"), nullptr);
    EXPECT_EQ(*r.header("Content-Type"), "application/xml; charset=\"utf-8\"");
    EXPECT_EQ(*r.header("CIMOperation"), "MethodCall");
    EXPECT_EQ(*r.header("CIMMethod"), "TestJobMethod");
    EXPECT_EQ(*r.header("CIMObject"), "root%2Fcimv2%3APEER_TestService.Name%3D%22S%22");
    ASSERT_NE(r.header("TE"), nullptr);
    EXPECT_NE(r.header("TE")->find("trailers"), std::string::npos);
    EXPECT_EQ(*r.header("Authorization"), "Basic cm9vdDpzZWNyZXQ=");  // root:secret
    EXPECT_EQ(r.header("Expect"), nullptr);
    EXPECT_EQ(r.body, big);
}

TEST(HttpTransportRequest, NoCredentialsMeansNoAuthorizationHeader) {
    RawServer server([](const RawRequest&) { return ok(); });
    HttpTransport t;
    t.connect("127.0.0.1", server.port(), "", "");
    t.post("GetInstance", "root%2Fcimv2", kBody);
    EXPECT_EQ(server.requests().at(0).header("Authorization"), nullptr);
}

TEST(HttpTransportRequest, HeaderInjectionIsRefusedBeforeSending) {
    RawServer server([](const RawRequest&) { return ok(); });
    HttpTransport t;
    t.connect("127.0.0.1", server.port(), "u", "p");
    EXPECT_THROW(t.post("GetInstance\r\nX-Evil: 1", "root%2Fcimv2", kBody), cim::Exception);
    EXPECT_THROW(t.post("GetInstance", "root/cimv2\r\nX-Evil: 1", kBody), cim::Exception);
    EXPECT_THROW(t.post("GetInstance", "root cimv2", kBody), cim::Exception);
    EXPECT_THROW(t.post("", "root%2Fcimv2", kBody), cim::Exception);
    EXPECT_TRUE(server.requests().empty());
}

TEST(HttpTransportKeepAlive, ManyRequestsShareOneConnection) {
    RawServer server([](const RawRequest& r) { return ok("<CIM>" + r.body + "</CIM>"); });
    HttpTransport t;
    t.connect("127.0.0.1", server.port(), "u", "p");
    for (int i = 0; i < 25; ++i) {
        EXPECT_EQ(t.post("GetInstance", "root%2Fcimv2", std::to_string(i)).body,
                  "<CIM>" + std::to_string(i) + "</CIM>");
    }
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(t.connectionsOpened(), 1u);
    for (const auto& r : server.requests()) EXPECT_EQ(r.connection, 1);
}

TEST(HttpTransportKeepAlive, ServerClosingAfterAnAnswerLeadsToAFreshConnection) {
    RawServer server([](const RawRequest&) {
        return RawReply{cimResponse("<CIM/>"), RawReply::SendAndClose};
    });
    HttpTransport t;
    t.connect("127.0.0.1", server.port(), "u", "p");
    // Reads: one that meets the close before its FIN arrived may go again.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(t.post("GetInstance", "ns", kBody, {}, true).body, "<CIM/>");
    EXPECT_EQ(server.connections(), 3);
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

TEST(HttpTransportErrors, Http401NamesTheStatusButNotThePassword) {
    RawServer server([](const RawRequest&) {
        return RawReply{httpResponse(401, "Unauthorized",
                                     {{"content-length", "0000000000"},
                                      {"WWW-Authenticate", "Basic realm=\"vm\""}}),
                        RawReply::Send};
    });
    HttpTransport t;
    t.connect("127.0.0.1", server.port(), "root", "wrongpw");
    auto e =
        expectThrow<cim::HttpException>([&] { t.post("EnumerateInstanceNames", "ns", kBody); });
    EXPECT_EQ(e.getStatus(), 401);
    std::string msg = e.what();
    EXPECT_NE(msg.find("401"), std::string::npos);
    EXPECT_NE(msg.find("HTTP"), std::string::npos);
    EXPECT_NE(msg.find("rejected the credentials"), std::string::npos) << msg;
    EXPECT_EQ(msg.find("wrongpw"), std::string::npos);
    // The connection stays usable after an answered error.
    EXPECT_THROW(t.post("EnumerateInstanceNames", "ns", kBody), cim::HttpException);
    EXPECT_EQ(server.connections(), 1);
}

TEST(HttpTransportErrors, Http500IsAnHttpFailure) {
    RawServer server([](const RawRequest&) {
        return RawReply{
            httpResponse(500, "Internal Server Error", {{"Content-Length", "5"}}, "oops!"),
            RawReply::Send};
    });
    HttpTransport t;
    t.connect("127.0.0.1", server.port(), "u", "p");
    auto e = expectThrow<cim::HttpException>([&] { t.post("GetInstance", "ns", kBody); });
    EXPECT_EQ(e.getStatus(), 500);
    EXPECT_NE(std::string(e.what()).find("HTTP 500"), std::string::npos);
}

// Recorded behaviour: 400/501 carry a CIMError header, no length, and the connection stays
// open. A client waiting for the body would hang until its time-out instead.
TEST(HttpTransportErrors, Http400WithoutLengthOnAnOpenConnectionDoesNotHang) {
    RawServer server([](const RawRequest&) {
        return RawReply{
            httpResponse(400, "Bad Request",
                         {{"CIMError", "request-not-well-formed"},
                          {"PGErrorDetail", "Bad%20closing%20element%3A%20on%20line%209"}}),
            RawReply::Hang};
    });
    HttpTransport t;
    t.setTimeout(60000);
    t.connect("127.0.0.1", server.port(), "u", "p");
    auto e =
        expectThrow<cim::HttpException>([&] { t.post("EnumerateInstanceNames", "ns", kBody); });
    EXPECT_EQ(e.getStatus(), 400);
    std::string msg = e.what();
    EXPECT_NE(msg.find("HTTP 400"), std::string::npos);
    EXPECT_NE(msg.find("request-not-well-formed"), std::string::npos);
    EXPECT_NE(msg.find("Bad closing element: on line 9"), std::string::npos);
}

TEST(HttpTransportErrors, Http501UnsupportedDtdDoesNotHang) {
    RawServer server([](const RawRequest&) {
        return RawReply{
            httpResponse(501, "Not Implemented", {{"CIMError", "unsupported-dtd-version"}}),
            RawReply::Hang};
    });
    HttpTransport t;
    t.setTimeout(60000);
    t.connect("127.0.0.1", server.port(), "u", "p");
    auto e =
        expectThrow<cim::HttpException>([&] { t.post("EnumerateInstanceNames", "ns", kBody); });
    EXPECT_EQ(e.getStatus(), 501);
    EXPECT_NE(std::string(e.what()).find("unsupported-dtd-version"), std::string::npos);
}

// Broken answers are lost connections (with "HTTP" in the text), which the retry
// rules repeat on a new connection.
TEST(HttpTransportErrors, BrokenAnswersAreHttpFailures) {
    struct Case {
        const char* name;
        std::string reply;
        const char* word;  // a further word the message must carry, or null
    };
    const std::string full = cimResponse(std::string(1000, 'a'));
    const std::string chunked = cimChunkedResponse(std::string(1000, 'a'), {});
    const Case cases[] = {
        {"truncated body", full.substr(0, full.size() - 600), "truncated"},
        {"truncated chunked body", chunked.substr(0, 400), nullptr},
        {"closed without answer", "", "without an answer"},
        {"not HTTP", "SSH-2.0-OpenSSH\r\n\r\n", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string reply = c.reply;
        RawServer server([reply](const RawRequest&) {
            return RawReply{reply, RawReply::SendAndClose};
        });
        HttpTransport t;
        t.connect("127.0.0.1", server.port(), "u", "p");
        auto e =
            expectThrow<cim::ConnectionLostException>([&] { t.post("GetInstance", "ns", kBody); });
        EXPECT_NE(std::string(e.what()).find("HTTP"), std::string::npos) << e.what();
        if (c.word) {
            EXPECT_NE(std::string(e.what()).find(c.word), std::string::npos) << e.what();
        }
    }
}

TEST(HttpTransportErrors, ServerThatNeverAnswersTimesOut) {
    RawServer server([](const RawRequest&) { return RawReply{"", RawReply::Hang}; });
    HttpTransport t;
    t.setTimeout(300);
    t.connect("127.0.0.1", server.port(), "u", "p");
    auto e =
        expectThrow<cim::ConnectionTimeoutException>([&] { t.post("GetInstance", "ns", kBody); });
    EXPECT_NE(std::string(e.what()).find("timed out"), std::string::npos);
}

TEST(HttpTransportErrors, ResponseLargerThanTheLimitIsRefused) {
    RawServer server([](const RawRequest& r) {
        std::string body(5000, 'z');
        if (r.body == "chunked") return RawReply{cimChunkedResponse(body, {}, 512), RawReply::Send};
        return RawReply{cimResponse(body), RawReply::Send};
    });
    HttpTransport t;
    t.setMaxResponseSize(1000);
    t.connect("127.0.0.1", server.port(), "u", "p");
    auto e = expectThrow<cim::Exception>([&] { t.post("GetInstance", "ns", "length"); });
    EXPECT_NE(std::string(e.what()).find("limit"), std::string::npos);
    e = expectThrow<cim::Exception>([&] { t.post("GetInstance", "ns", "chunked"); });
    EXPECT_NE(std::string(e.what()).find("limit"), std::string::npos);
    t.setMaxResponseSize(5000);
    EXPECT_EQ(t.post("GetInstance", "ns", "chunked").body.size(), 5000u);
}

TEST(HttpTransportCimStatus, ZeroPaddedContentLengthIsReadExactly) {
    const std::string body(1234, 'q');
    RawServer server([&](const RawRequest&) { return ok(body); });
    HttpTransport t;
    t.connect("127.0.0.1", server.port(), "u", "p");
    cim::HttpResponse r = t.post("GetInstance", "ns", kBody);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, body);
    ASSERT_NE(r.header("content-length"), nullptr);
    EXPECT_EQ(*r.header("Content-Length"), "0000001234");
}

TEST(HttpTransportCimStatus, ErrorInTrailersBecomesCimException) {
    RawServer server([](const RawRequest&) {
        return RawReply{cimChunkedResponse(
                            "<CIM><MESSAGE><SIMPLERSP><IMETHODRESPONSE "
                            "NAME=\"GetInstance\"/></SIMPLERSP></MESSAGE></CIM>",
                            {{"CIMStatusCode", "6"},
                             {"CIMStatusCodeDescription",
                              "CIM_ERR_NOT_FOUND%3A%20PEER_StorageVolume.DeviceID%3D%22NOPE%22"}}),
                        RawReply::Send};
    });
    HttpTransport t;
    t.connect("127.0.0.1", server.port(), "u", "p");
    auto e = expectThrow<cim::CIMException>([&] { t.post("GetInstance", "ns", kBody); });
    EXPECT_EQ(e.getCode(), cim::CIM_ERR_NOT_FOUND);
    EXPECT_EQ(std::string(e.what()), "CIM_ERR_NOT_FOUND: PEER_StorageVolume.DeviceID=\"NOPE\"");
    EXPECT_EQ(e.getDescription(), "PEER_StorageVolume.DeviceID=\"NOPE\"");
}

TEST(HttpTransportCimStatus, ZeroStatusTrailerAndStatusHeaderForms) {
    RawServer server([](const RawRequest& r) {
        if (r.body == "zero")
            return RawReply{cimChunkedResponse("<CIM/>", {{"CIMStatusCode", "0"}}), RawReply::Send};
        if (r.body == "header")
            return RawReply{cimResponse("<CIM/>", {{"CIMStatusCode", "5"}}), RawReply::Send};
        return RawReply{cimChunkedResponse("<CIM/>", {{"CIMStatusCode", "six"}}), RawReply::Send};
    });
    HttpTransport t;
    t.connect("127.0.0.1", server.port(), "u", "p");
    EXPECT_EQ(t.post("GetInstance", "ns", "zero").body, "<CIM/>");
    auto e = expectThrow<cim::CIMException>([&] { t.post("GetInstance", "ns", "header"); });
    EXPECT_EQ(e.getCode(), cim::CIM_ERR_INVALID_CLASS);
    EXPECT_NE(std::string(e.what()).find("CIM_ERR_INVALID_CLASS"), std::string::npos);
    EXPECT_THROW(t.post("GetInstance", "ns", "bad"), cim::ParseException);
}

// ---- TLS ----------------------------------------------------------------------------

namespace {

class TlsServer {
  public:
    explicit TlsServer(const TestPki& pki)
        : m_server(pki.serverCertFile.c_str(), pki.serverKeyFile.c_str()) {
        m_server.Post("/cimom", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_remotePorts.insert(req.remote_port);
            res.set_content("<CIM>" + req.body + "</CIM>", "application/xml; charset=utf-8");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }
    ~TlsServer() {
        m_server.stop();
        m_thread.join();
    }
    unsigned port() const { return static_cast<unsigned>(m_port); }
    std::size_t connectionsSeen() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_remotePorts.size();
    }

  private:
    httplib::SSLServer m_server;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::set<int> m_remotePorts;
};

}  // namespace

TEST(HttpTransportTls, CallbackSeesTheServerCertificateAndAccepts) {
    TestPki pki;
    TlsServer server(pki);
    cim::SSLCertificateInfo seen;
    int calls = 0;
    cim::SSLContext ctx("", [&](cim::SSLCertificateInfo& info) {
        seen = info;
        ++calls;
        return true;
    });
    HttpTransport t;
    t.connect("127.0.0.1", server.port(), ctx, "u", "p");
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(t.post("GetInstance", "ns", std::to_string(i)).body,
                  "<CIM>" + std::to_string(i) + "</CIM>");
    }
    EXPECT_EQ(calls, 1);  // one handshake for all five requests
    EXPECT_EQ(server.connectionsSeen(), 1u);
    EXPECT_NE(seen.getSubjectName().find("CN=127.0.0.1"), std::string::npos) << seen.subjectName;
    EXPECT_NE(seen.getIssuerName().find("CN=Loopback Test CA"), std::string::npos);
    EXPECT_EQ(seen.getFingerprint(), pki.serverFingerprint);
    const std::time_t now = std::time(nullptr);
    EXPECT_LT(seen.notBeforeTime, now);
    EXPECT_GT(seen.notAfterTime, now);
    EXPECT_EQ(seen.getNotBefore().size(), 20u);
    EXPECT_NE(seen.getErrorCode(), 0);  // the CA is not in any trust store here
    EXPECT_NE(seen.pem.find("BEGIN CERTIFICATE"), std::string::npos);
    EXPECT_EQ(seen.getSerialNumber(), "02");
}

TEST(HttpTransportTls, CallbackRejectingFailsTheConnect) {
    TestPki pki;
    TlsServer server(pki);
    cim::SSLContext ctx("", [](cim::SSLCertificateInfo&) { return false; });
    HttpTransport t;
    auto e = expectThrow<cim::CannotConnectException>(
        [&] { t.connect("127.0.0.1", server.port(), ctx, "u", "p"); });
    std::string msg = e.what();
    EXPECT_NE(msg.find("rejected"), std::string::npos) << msg;
    EXPECT_EQ(msg.find("Connection failed"), std::string::npos) << msg;  // not worth a retry
    EXPECT_FALSE(t.isConnected());
}

TEST(HttpTransportTls, CallbackThrowingCountsAsRejection) {
    TestPki pki;
    TlsServer server(pki);
    cim::SSLContext ctx("",
                        [](cim::SSLCertificateInfo&) -> bool { throw std::runtime_error("x"); });
    HttpTransport t;
    EXPECT_THROW(t.connect("127.0.0.1", server.port(), ctx, "u", "p"), cim::CannotConnectException);
}

// The handshake belongs to connect: a port that does not speak TLS fails there, as a
// connection failure that the connect retries take, and no request is ever sent to it.
TEST(HttpTransportTls, HttpsConnectToAPlainHttpPortFailsAtConnect) {
    RawServer server([](const RawRequest&) { return ok(); });
    HttpTransport t;
    cim::SSLContext ctx("", [](cim::SSLCertificateInfo&) { return true; });
    auto e = expectThrow<cim::CannotConnectException>(
        [&] { t.connect("127.0.0.1", server.port(), ctx, "u", "p"); });
    EXPECT_NE(std::string(e.what()).find("Connection failed"), std::string::npos) << e.what();
    EXPECT_FALSE(t.isConnected());
    EXPECT_TRUE(server.requests().empty());
}

TEST(HttpTransportTls, TrustStoreWithoutCallbackVerifiesChainAndHost) {
    TestPki pki;
    TlsServer server(pki);
    {
        HttpTransport t;
        t.connect("127.0.0.1", server.port(), cim::SSLContext(pki.caCertFile), "u", "p");
        EXPECT_EQ(t.post("GetInstance", "ns", "a").body, "<CIM>a</CIM>");
    }
    {
        // Trusting the server certificate alone does not make its issuing CA trusted.
        HttpTransport t;
        auto e = expectThrow<cim::CannotConnectException>([&] {
            t.connect("127.0.0.1", server.port(), cim::SSLContext(pki.serverCertFile), "u", "p");
        });
        EXPECT_NE(std::string(e.what()).find("verification failed"), std::string::npos) << e.what();
    }
    {
        HttpTransport t;  // system trust store only
        EXPECT_THROW(t.connect("127.0.0.1", server.port(), cim::SSLContext(), "u", "p"),
                     cim::CannotConnectException);
    }
    {
        HttpTransport t;
        auto e = expectThrow<cim::CannotConnectException>([&] {
            t.connect("127.0.0.1", server.port(), cim::SSLContext(pki.dir + "/missing.pem"), "u",
                      "p");
        });
        EXPECT_NE(std::string(e.what()).find("trust store"), std::string::npos) << e.what();
    }
}

TEST(HttpTransportRequest, ProxyEnvironmentIsIgnored) {
    RawServer server([](const RawRequest&) { return ok(); });
    ::setenv("http_proxy", "http://127.0.0.1:1", 1);
    ::setenv("HTTPS_PROXY", "http://127.0.0.1:1", 1);
    ::setenv("ALL_PROXY", "http://127.0.0.1:1", 1);
    HttpTransport t;
    t.connect("127.0.0.1", server.port(), "u", "p");
    std::string body;
    try {
        body = t.post("GetInstance", "ns", kBody).body;
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
    }
    ::unsetenv("http_proxy");
    ::unsetenv("HTTPS_PROXY");
    ::unsetenv("ALL_PROXY");
    EXPECT_EQ(body, "<CIM/>");
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST(HttpTransportRequest, InterimContinueBeforeTheAnswerIsSkipped) {
    RawServer server([](const RawRequest&) {
        return RawReply{"HTTP/1.1 100 Continue\r\n\r\n" + cimResponse("<CIM>real</CIM>"),
                        RawReply::Send};
    });
    HttpTransport t;
    t.connect("127.0.0.1", server.port(), "u", "p");
    cim::HttpResponse r = t.post("GetInstance", "ns", kBody);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "<CIM>real</CIM>");
    EXPECT_NE(r.header("CIMOperation"), nullptr);
}
