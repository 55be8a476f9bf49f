// The HTTP/HTTPS transport against loopback servers that answer well and badly.
#include <cim/Exception.h>
#include <cim/HttpTransport.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <ctime>
#include <thread>

#include <testsupport/LoopbackServer.h>

#include "Failure.h"

using namespace cimtest;
using cim::HttpTransport;

namespace {

const std::string kBody = "<?xml version=\"1.0\"?><CIM/>";

RawReply ok(const std::string& body = "<CIM/>") {
    return {cimResponse(body), RawReply::Send};
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

// ---- TLS ----------------------------------------------------------------------------

namespace {

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

}  // namespace

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
        {"callback rejects", callback(false), tls.port, "rejected", false},
        {"callback throws", cim::SSLContext("", throwing), tls.port, "connect: ", false},
        {"server certificate alone trusted", cim::SSLContext(pki.serverCertFile), tls.port, "verification failed", false},
        {"system trust store only", cim::SSLContext(), tls.port, "connect: ", false},
        {"trust store missing", cim::SSLContext(pki.dir + "/missing.pem"), tls.port, "trust store", false},
        {"plain HTTP port", callback(true), plain.port(), "Connection failed", true},
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
