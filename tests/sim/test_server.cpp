// The server over real sockets with raw HTTP: authentication, DSP0200 refusals,
// every fault kind, keep-alive, concurrency, the control interface and the fabric.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <set>
#include <thread>

#include "SimHttp.h"
#include "sim/server/TestServer.h"

using simtest::enumerateNames;
using simtest::getInstance;
using simtest::invoke;
using simtest::postCim;

namespace {

class ServerTest : public ::testing::Test {
  protected:
    sim::TestServer simulator;

    std::unique_ptr<httplib::Client> client(bool auth = true) {
        auto c = std::make_unique<httplib::Client>("127.0.0.1", simulator.httpPort());
        if (auth) c->set_basic_auth(simulator.user().c_str(), simulator.password().c_str());
        c->set_keep_alive(true);
        c->set_read_timeout(20, 0);
        c->set_tcp_nodelay(true);
        return c;
    }

    cim::xml::Request volumeNames() {
        return enumerateNames(simulator.arrayNamespace(), "CIM_StorageVolume");
    }

    std::vector<cim::CIMObjectPath> volumes() {
        auto c = client();
        auto res = postCim(*c, volumeNames());
        EXPECT_TRUE(res);
        if (!res) return {};
        return cim::xml::decodeResponse(res->body).instanceNames;
    }

    cim::CIMObjectPath replicationService() {
        auto c = client();
        auto res =
            postCim(*c, enumerateNames(simulator.arrayNamespace(), "CIM_ReplicationService"));
        EXPECT_TRUE(res);
        auto names = cim::xml::decodeResponse(res->body).instanceNames;
        EXPECT_FALSE(names.empty());
        return names.empty() ? cim::CIMObjectPath() : names.front();
    }

    nlohmann::json controlPost(const std::string& path, const std::string& body, int expect = 200) {
        auto c = client();
        auto res = c->Post(path.c_str(), body, "application/json");
        EXPECT_TRUE(res);
        if (!res) return {};
        EXPECT_EQ(res->status, expect) << path << " " << body << " -> " << res->body;
        return nlohmann::json::parse(res->body, nullptr, false);
    }
};

}  // namespace

TEST_F(ServerTest, AnswersCimWithItsHeadersAndRecordsTheRequest) {
    auto c = client();
    auto res = postCim(*c, volumeNames());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("CIMOperation"), "MethodResponse");
    EXPECT_NE(res->get_header_value("Content-Type").find("application/xml"), std::string::npos);
    auto answer = cim::xml::decodeResponse(res->body);
    EXPECT_FALSE(answer.isError());
    ASSERT_FALSE(answer.instanceNames.empty());
    for (const auto& p : answer.instanceNames) {
        EXPECT_NE(p.getClassName().getString().find("_StorageVolume"), std::string::npos);
    }
    auto records = simulator.requests();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].operation, "EnumerateInstanceNames");
    EXPECT_EQ(records[0].className, "CIM_StorageVolume");
    EXPECT_EQ(records[0].nameSpace, simulator.arrayNamespace());
    EXPECT_EQ(records[0].listener, "http");
    EXPECT_EQ(records[0].httpStatus, 200);
    EXPECT_NE(records[0].connection, 0u);
}

TEST_F(ServerTest, WrongOrMissingCredentialsGet401WithChallenge) {
    struct Case {
        const char* what;
        std::string user, password;
        bool send;
    } cases[] = {{"none", "", "", false},
                 {"wrong password", simulator.user(), "wrong", true},
                 {"wrong user", "root", simulator.password(), true},
                 {"password prefix", simulator.user(), simulator.password().substr(0, 1), true}};
    for (const auto& cs : cases) {
        httplib::Client c("127.0.0.1", simulator.httpPort());
        if (cs.send) c.set_basic_auth(cs.user.c_str(), cs.password.c_str());
        auto res = postCim(c, volumeNames());
        ASSERT_TRUE(res) << cs.what;
        EXPECT_EQ(res->status, 401) << cs.what;
        EXPECT_EQ(res->get_header_value("WWW-Authenticate"), "Basic realm=\"smis-sim\"") << cs.what;
        auto ctl = c.Get("/control/log");
        ASSERT_TRUE(ctl);
        EXPECT_EQ(ctl->status, 401) << cs.what;
    }
    for (const char* bad : {"Basic", "Basic !!!!", "Basic YWRtaW4=", "Bearer abc", "Basic YQ"}) {
        httplib::Client c("127.0.0.1", simulator.httpPort());
        auto res = c.Post("/cimom", {{"Authorization", bad}, {"CIMOperation", "MethodCall"}}, "x",
                          "application/xml");
        ASSERT_TRUE(res) << bad;
        EXPECT_EQ(res->status, 401) << bad;
    }
    auto records = simulator.requests();
    ASSERT_FALSE(records.empty());
    for (const auto& r : records) EXPECT_EQ(r.httpStatus, 401);
}

TEST_F(ServerTest, RefusesBadRequestsAndKeepsTheConnection) {
    auto c = client();
    auto noOp =
        c->Post("/cimom", {{"CIMMethod", "EnumerateInstanceNames"}, {"CIMObject", "interop"}},
                cim::xml::encodeRequest(volumeNames()), "application/xml");
    ASSERT_TRUE(noOp);
    EXPECT_EQ(noOp->status, 400);
    EXPECT_FALSE(noOp->has_header("CIMError"));

    auto req = volumeNames();
    auto headers = simtest::cimHeaders(req);
    auto broken = c->Post("/cimom", headers, "<CIM><MESSAGE></CIM", "application/xml");
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->status, 400);
    EXPECT_EQ(broken->get_header_value("CIMError"), "request-not-well-formed");

    std::string body = cim::xml::encodeRequest(req);
    auto pos = body.find("DTDVERSION=\"");
    ASSERT_NE(pos, std::string::npos);
    body.replace(pos + 12, 3, "9.9");
    auto dtd = c->Post("/cimom", headers, body, "application/xml");
    ASSERT_TRUE(dtd);
    EXPECT_EQ(dtd->status, 501);
    EXPECT_EQ(dtd->get_header_value("CIMError"), "unsupported-dtd-version");

    headers.erase("CIMMethod");
    headers.emplace("CIMMethod", "GetInstance");
    auto mismatch = c->Post("/cimom", headers, cim::xml::encodeRequest(req), "application/xml");
    ASSERT_TRUE(mismatch);
    EXPECT_EQ(mismatch->status, 400);
    EXPECT_EQ(mismatch->get_header_value("CIMError"), "header-mismatch");

    auto good = postCim(*c, req);
    ASSERT_TRUE(good);
    EXPECT_EQ(good->status, 200);
    EXPECT_EQ(simulator.connectionCount(), 1u);
    EXPECT_EQ(simulator.requests().size(), 5u);
}

// Which error the repository gives is the model's to test; the server sends it in a 200
// answer and logs its code, for intrinsic and extrinsic calls alike.
TEST_F(ServerTest, RepositoryErrorsComeBackInTheBody) {
    auto c = client();
    const struct {
        cim::xml::Request request;
        cim::CIMStatusCode code;
    } cases[] = {
        {enumerateNames("no/such", "CIM_StorageVolume"), cim::CIM_ERR_INVALID_NAMESPACE},
        {invoke(replicationService(), simulator.arrayNamespace(), "NoSuchMethod"),
         cim::CIM_ERR_METHOD_NOT_FOUND},
    };
    simulator.log().clear();
    for (const auto& t : cases) {
        auto res = postCim(*c, t.request);
        ASSERT_TRUE(res) << t.code;
        EXPECT_EQ(res->status, 200) << t.code;
        EXPECT_EQ(cim::xml::decodeResponse(res->body).errorCode, t.code);
        EXPECT_EQ(simulator.requests().back().cimStatus, t.code);
    }
}

TEST_F(ServerTest, HttpStatusFaultsHitOnlyTheirCount) {
    auto c = client();
    for (int status : {401, 500, 503}) {
        simulator.failHttp(status, 1, {"EnumerateInstanceNames", "", ""});
        auto res = postCim(*c, volumeNames());
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, status);
        EXPECT_EQ(res->has_header("WWW-Authenticate"), status == 401);
        auto next = postCim(*c, volumeNames());
        ASSERT_TRUE(next);
        EXPECT_EQ(next->status, 200);
    }
    auto records = simulator.requests();
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[0].fault, "http");
    EXPECT_EQ(records[1].fault, "");
}

TEST_F(ServerTest, FaultsMatchOperationMethodAndClass) {
    auto c = client();
    auto vols = volumes();
    ASSERT_FALSE(vols.empty());
    std::string volumeClass = vols.front().getClassName().getString();
    simulator.failCim(cim::CIM_ERR_FAILED, "disk on fire", 1, {"GetInstance", "", volumeClass});

    auto names = postCim(*c, volumeNames());
    ASSERT_TRUE(names);
    EXPECT_FALSE(cim::xml::decodeResponse(names->body).isError());

    auto hit = postCim(*c, getInstance(simulator.arrayNamespace(), vols.front()));
    ASSERT_TRUE(hit);
    auto answer = cim::xml::decodeResponse(hit->body);
    EXPECT_EQ(answer.errorCode, cim::CIM_ERR_FAILED);
    EXPECT_EQ(answer.errorDescription, "disk on fire");

    auto again = postCim(*c, getInstance(simulator.arrayNamespace(), vols.front()));
    ASSERT_TRUE(again);
    EXPECT_FALSE(cim::xml::decodeResponse(again->body).isError());
}

TEST_F(ServerTest, ReturnValueFaultAnswersExtrinsicCallsOnly) {
    auto c = client();
    auto service = replicationService();
    simulator.failReturnValue(4, 1, {"", "CreateSynchronizationAspect", ""});
    auto other = postCim(*c, invoke(service, simulator.arrayNamespace(), "NoSuchMethod"));
    ASSERT_TRUE(other);
    EXPECT_EQ(cim::xml::decodeResponse(other->body).errorCode, cim::CIM_ERR_METHOD_NOT_FOUND);

    auto res =
        postCim(*c, invoke(service, simulator.arrayNamespace(), "CreateSynchronizationAspect"));
    ASSERT_TRUE(res);
    auto answer = cim::xml::decodeResponse(res->body);
    ASSERT_FALSE(answer.isError());
    cim::Uint32 value = 0;
    answer.returnValue.convertTo(cim::CIMTYPE_UINT32).get(value);
    EXPECT_EQ(value, 4u);
    EXPECT_EQ(simulator.requests().back().method, "CreateSynchronizationAspect");
    EXPECT_EQ(simulator.requests().back().fault, "return-value");
}

TEST_F(ServerTest, MalformedAndTruncatedAnswers) {
    auto c = client();
    simulator.addFault(sim::FaultKind::MalformedXml);
    auto bad = postCim(*c, volumeNames());
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 200);
    EXPECT_THROW(cim::xml::decodeResponse(bad->body), cim::ParseException);

    auto full = postCim(*c, volumeNames());
    ASSERT_TRUE(full);
    size_t fullSize = full->body.size();

    simulator.addFault(sim::FaultKind::Truncated);
    auto cut = postCim(*c, volumeNames());
    // The answer announces more than it sends; the client sees an error or a short body.
    if (cut) {
        EXPECT_LT(cut->body.size(), fullSize);
    }

    auto after = postCim(*c, volumeNames());
    ASSERT_TRUE(after);
    EXPECT_EQ(after->body.size(), fullSize);
    EXPECT_EQ(simulator.requests()[2].fault, "truncated");
}

TEST_F(ServerTest, CloseFaultDropsTheConnectionWithoutAnAnswer) {
    auto c = client();
    simulator.addFault(sim::FaultKind::Close, 1, {"EnumerateInstanceNames", "", ""});
    auto res = postCim(*c, volumeNames());
    EXPECT_FALSE(res);
    auto next = postCim(*c, volumeNames());
    ASSERT_TRUE(next);
    EXPECT_EQ(next->status, 200);
    auto records = simulator.requests();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].fault, "close");
    EXPECT_EQ(records[0].httpStatus, 0);
    EXPECT_NE(records[0].connection, records[1].connection);
}

TEST_F(ServerTest, DelayAndLatencyStillAnswer) {
    auto c = client();
    simulator.delay(std::chrono::milliseconds(20));
    simulator.setLatency(std::chrono::milliseconds(5));
    auto res = postCim(*c, volumeNames());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_FALSE(cim::xml::decodeResponse(res->body).isError());
    EXPECT_EQ(simulator.requests()[0].fault, "delay");
}

TEST_F(ServerTest, KeepAliveServesManyRequestsOnOneConnection) {
    auto c = client();
    for (int i = 0; i < 50; ++i) {
        auto res = postCim(*c, volumeNames());
        ASSERT_TRUE(res);
        ASSERT_EQ(res->status, 200);
    }
    EXPECT_EQ(simulator.requests().size(), 50u);
    EXPECT_EQ(simulator.connectionCount(), 1u);

    for (int i = 0; i < 3; ++i) {
        httplib::Client once("127.0.0.1", simulator.httpPort());
        once.set_basic_auth(simulator.user().c_str(), simulator.password().c_str());
        once.set_keep_alive(false);
        ASSERT_TRUE(postCim(once, volumeNames()));
    }
    EXPECT_EQ(simulator.connectionCount(), 4u);
}

TEST_F(ServerTest, ManyConcurrentClients) {
    constexpr int kThreads = 12;
    constexpr int kRequests = 25;
    auto vols = volumes();
    ASSERT_FALSE(vols.empty());
    simulator.log().clear();
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            auto c = client();
            for (int i = 0; i < kRequests; ++i) {
                auto req =
                    (i % 2) ? volumeNames()
                            : getInstance(simulator.arrayNamespace(), vols[(t + i) % vols.size()]);
                auto res = postCim(*c, req);
                if (res && res->status == 200 && !cim::xml::decodeResponse(res->body).isError())
                    ++ok;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(ok.load(), kThreads * kRequests);
    EXPECT_EQ(simulator.requests().size(), size_t(kThreads * kRequests));
    EXPECT_EQ(simulator.connectionCount(), size_t(kThreads));
}

TEST_F(ServerTest, ControlInterfaceSetsFaultsAndReportsTheLog) {
    auto id = controlPost(
        "/control/faults",
        R"({"kind":"cim-error","code":6,"description":"vanished","operation":"EnumerateInstanceNames"})");
    EXPECT_TRUE(id.contains("id"));
    auto c = client();
    auto listed = c->Get("/control/faults");
    ASSERT_TRUE(listed);
    auto faults = nlohmann::json::parse(listed->body);
    ASSERT_EQ(faults["faults"].size(), 1u);
    EXPECT_EQ(faults["faults"][0]["kind"], "cim-error");

    auto res = postCim(*c, volumeNames());
    ASSERT_TRUE(res);
    EXPECT_EQ(cim::xml::decodeResponse(res->body).errorCode, cim::CIM_ERR_NOT_FOUND);

    auto log = c->Get("/control/log");
    ASSERT_TRUE(log);
    auto entries = nlohmann::json::parse(log->body)["requests"];
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]["operation"], "EnumerateInstanceNames");
    EXPECT_EQ(entries[0]["namespace"], simulator.arrayNamespace());
    EXPECT_EQ(entries[0]["cimStatus"], 6);
    EXPECT_EQ(entries[0]["fault"], "cim-error");
    EXPECT_TRUE(entries[0].contains("timeMs"));
    EXPECT_TRUE(entries[0].contains("connection"));

    controlPost("/control/latency", R"({"ms":1})");
    controlPost("/control/jobs", R"({"outcome":"Exception","count":2})");
    controlPost("/control/jobs", R"({"outcome":"terminated"})");
    controlPost("/control/jobs", R"({"outcome":"Killed","skip":2})");
    controlPost("/control/jobs", R"({"vanish":false})");
    controlPost("/control/faults", R"({"kind":"http","status":503,"count":-1})");
    controlPost("/control/reset", "");
    EXPECT_TRUE(simulator.faults().rules().empty());
    EXPECT_EQ(simulator.faults().latencyMs(), 0);
    EXPECT_EQ(simulator.log().size(), 0u);
    auto after = postCim(*c, volumeNames());
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 200);

    auto del = c->Delete("/control/log");
    ASSERT_TRUE(del);
    EXPECT_EQ(del->status, 200);
    EXPECT_EQ(simulator.log().size(), 0u);
}

TEST_F(ServerTest, ControlInterfaceRefusesBadInput) {
    for (const char* body : {"{", "[]", R"({"kind":"boom"})", R"({"kind":"http","status":"x"})",
                             R"({"kind":"http","count":0})"}) {
        auto j = controlPost("/control/faults", body, 400);
        EXPECT_TRUE(j.contains("error")) << body;
    }
    controlPost("/control/latency", R"({"ms":-5})", 400);
    controlPost("/control/latency", R"({"ms":"fast"})", 400);
    controlPost("/control/jobs", R"({"outcome":"Exploded"})", 400);
    controlPost("/control/jobs", R"({"outcome":"Exception","count":0})", 400);
    controlPost("/control/jobs", R"({"outcome":"Exception","skip":-1})", 400);
    controlPost("/control/jobs", R"({})", 400);
    controlPost("/control/jobs", R"({"vanish":"yes"})", 400);
    EXPECT_TRUE(simulator.faults().rules().empty());
}

TEST_F(ServerTest, FabricAnswersForInitiatorPorts) {
    httplib::Client c("127.0.0.1", simulator.httpPort());
    auto res = c.Post("/fabric/luns", R"({"initiators":["10000090FA1B2C3D"]})", "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    auto j = nlohmann::json::parse(res->body, nullptr, false);
    EXPECT_FALSE(j.is_discarded());
    EXPECT_EQ(j, simulator.provider().fabricLuns({"10000090FA1B2C3D"}));

    for (const char* bad : {"", "{", R"({"initiators":"x"})", R"({"initiators":[1]})", R"({})"}) {
        auto r = c.Post("/fabric/luns", bad, "application/json");
        ASSERT_TRUE(r) << bad;
        EXPECT_EQ(r->status, 400) << bad;
    }
}

TEST_F(ServerTest, HttpsServesTheSameWithASelfSignedCertificate) {
    ASSERT_GT(simulator.httpsPort(), 0);
    httplib::SSLClient c("127.0.0.1", simulator.httpsPort());
    c.enable_server_certificate_verification(false);
    c.set_basic_auth(simulator.user().c_str(), simulator.password().c_str());
    c.set_keep_alive(true);
    for (int i = 0; i < 3; ++i) {
        auto res = postCim(c, volumeNames());
        ASSERT_TRUE(res) << httplib::to_string(res.error());
        EXPECT_EQ(res->status, 200);
    }
    auto records = simulator.requests();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].listener, "https");
    EXPECT_EQ(simulator.connectionCount(), 1u);

    simulator.addFault(sim::FaultKind::Close);
    EXPECT_FALSE(postCim(c, volumeNames()));
}

TEST(ServerStart, RefusesUnusableOptions) {
    struct NullBackend : sim::Backend {
        cim::xml::Response handle(const cim::xml::Request&) override { return {}; }
        nlohmann::json fabricLuns(const std::vector<std::string>&) override { return {}; }
        void failNextJobs(int, uint16_t) override {}
        void setJobsVanish(bool) override {}
        void reset() override {}
        std::vector<std::string> removeObject(const std::string&, const std::string&,
                                              const std::string&) override {
            return {};
        }
        nlohmann::json state() override { return {}; }
    } backend;

    sim::ServerOptions noPassword;
    noPassword.httpPort = 0;
    noPassword.httpsPort = -1;
    noPassword.user = "u";
    EXPECT_THROW(sim::Server(backend, noPassword).start(), sim::ServerError);

    sim::ServerOptions first;
    first.httpPort = 0;
    first.httpsPort = -1;
    first.user = "u";
    first.password = "p";
    sim::Server a(backend, first);
    a.start();
    ASSERT_GT(a.httpPort(), 0);
    EXPECT_EQ(a.httpsPort(), -1);
    EXPECT_EQ(a.httpUrl(), "http://127.0.0.1:" + std::to_string(a.httpPort()));
    EXPECT_TRUE(a.httpsUrl().empty());

    sim::ServerOptions clash = first;
    clash.httpPort = a.httpPort();
    sim::Server b(backend, clash);
    EXPECT_THROW(b.start(), sim::ServerError);

    sim::ServerOptions halfTls = first;
    halfTls.httpsPort = 0;
    halfTls.certFile = "/nonexistent.pem";
    EXPECT_THROW(sim::Server(backend, halfTls).start(), sim::ServerError);
    a.stop();
    a.stop();
}

TEST_F(ServerTest, LogStaysReadableAfterHostileHeaders) {
    httplib::Client c("127.0.0.1", simulator.httpPort());
    c.set_basic_auth(simulator.user().c_str(), simulator.password().c_str());
    std::string junk = "Get\xff\xfeInstance" + std::string(5000, 'A');
    auto res =
        c.Post("/cimom", {{"CIMOperation", "MethodCall"}, {"CIMMethod", junk}, {"CIMObject", "x"}},
               "<CIM/>", "application/xml");
    ASSERT_TRUE(res);
    EXPECT_TRUE(res->status == 400 || res->status == 501) << res->status;
    auto log = c.Get("/control/log");
    ASSERT_TRUE(log);
    ASSERT_EQ(log->status, 200);
    auto entries = nlohmann::json::parse(log->body)["requests"];
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_LE(entries[0]["operation"].get<std::string>().size(), 256u * 3);
}

TEST_F(ServerTest, AcceptsWhatOtherClientsSendOnTheWire) {
    // Hand-written like other clients write it: lower-case header names, a zero-padded
    // content-length, a fully encoded CIMObject, TE: trailers, untyped boolean in capitals.
    std::string body =
        "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">"
        "<MESSAGE ID=\"4711\" PROTOCOLVERSION=\"1.0\"><SIMPLEREQ><IMETHODCALL "
        "NAME=\"EnumerateInstances\">"
        "<LOCALNAMESPACEPATH><NAMESPACE NAME=\"interop\"/></LOCALNAMESPACEPATH>"
        "<IPARAMVALUE NAME=\"ClassName\"><CLASSNAME NAME=\"CIM_Namespace\"/></IPARAMVALUE>"
        "<IPARAMVALUE NAME=\"DeepInheritance\"><VALUE>TRUE</VALUE></IPARAMVALUE>"
        "<IPARAMVALUE NAME=\"LocalOnly\"><VALUE>False</VALUE></IPARAMVALUE>"
        "</IMETHODCALL></SIMPLEREQ></MESSAGE></CIM>";
    char length[32];
    std::snprintf(length, sizeof(length), "%010zu", body.size());
    std::string auth = "admin:admin";
    ASSERT_EQ(simulator.user() + ":" + simulator.password(), auth);
    std::string request = std::string("POST /cimom HTTP/1.1\r\nhost: 127.0.0.1\r\n") +
                          "content-type: application/xml; charset=\"utf-8\"\r\n" +
                          "connection: Keep-Alive, TE\r\nte: trailers\r\n" +
                          "authorization: Basic YWRtaW46YWRtaW4=\r\n" +
                          "cimprotocolversion: 1.0\r\ncimoperation: MethodCall\r\n" +
                          "cimmethod: EnumerateInstances\r\ncimobject: %69nterop\r\n" +
                          "content-length: " + length + "\r\n\r\n" + body;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(simulator.httpPort()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
    std::string answer;
    char buf[4096];
    while (answer.find("</CIM>") == std::string::npos) {
        ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
        if (n <= 0) break;
        answer.append(buf, size_t(n));
    }
    ::close(fd);
    ASSERT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer.substr(0, 200);
    auto bodyAt = answer.find("\r\n\r\n");
    ASSERT_NE(bodyAt, std::string::npos);
    auto decoded = cim::xml::decodeResponse(answer.substr(bodyAt + 4));
    EXPECT_FALSE(decoded.isError()) << decoded.errorDescription;
    EXPECT_FALSE(decoded.instances.empty());
}

TEST(ProviderBackendState, SavesAfterAChangeNotAfterARead) {
    std::string path =
        ::testing::TempDir() + "/smis-sim-state-" + std::to_string(::getpid()) + ".json";
    std::remove(path.c_str());
    sim::Config config = sim::Config::defaults();
    sim::Provider provider(config);
    sim::ProviderBackend backend(provider, path);

    auto names = backend.handle(enumerateNames(config.arrayNamespace, "CIM_StorageVolume"));
    ASSERT_FALSE(names.instanceNames.empty());
    backend.saveState();  // the first save: the array as it started
    std::remove(path.c_str());
    backend.saveState();
    EXPECT_FALSE(std::ifstream(path).good()) << "saved again after a read";

    cim::CIMObjectPath target = names.instanceNames.front();
    target.setHost("");
    target.setNameSpace(cim::CIMNamespaceName());
    cim::CIMInstance changed(target.getClassName());
    changed.setPath(target);
    changed.addProperty(cim::CIMProperty("ElementName", cim::CIMValue("saved_label")));
    cim::xml::Request modify;
    modify.methodName = cim::xml::kModifyInstance;
    modify.nameSpace = config.arrayNamespace;
    modify.modifiedInstance = changed;
    modify.propertyList = cim::CIMPropertyList({cim::CIMName("ElementName")});
    auto answer = backend.handle(modify);
    ASSERT_FALSE(answer.isError()) << answer.errorDescription;

    backend.saveState();  // saving happens off the request path; wait for it
    sim::Config saved = sim::Config::loadState(path, config);
    bool found = false;
    for (const auto& v : saved.arrays.at(0).volumes) found = found || v.label == "saved_label";
    EXPECT_TRUE(found);
    EXPECT_FALSE(std::ifstream(path + ".tmp").good());
    std::remove(path.c_str());
}
