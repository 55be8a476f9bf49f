// The server over real sockets: login, refusals, concurrency, controls and bad start options.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "testsupport/RawHttp.h"

using testsupport::getInstance;
using testsupport::postCim;

namespace {

class ServerTest : public ::testing::Test {
  protected:
    sim::TestServer simulator;

    std::unique_ptr<httplib::Client> client() { return testsupport::client(simulator); }
    cim::xml::Request volumeNames() { return testsupport::volumeNames(simulator); }
};

}  // namespace

TEST_F(ServerTest, WrongOrMissingCredentialsGet401WithChallenge) {
    const std::string user = simulator.user(), password = simulator.password();
    // clang-format off
    struct Row { const char* name; httplib::Headers headers; } rows[] = {
        {"none", {}},
        {"wrong password", {{"Authorization", testsupport::basicAuth(user, "wrong")}}},
        {"wrong user", {{"Authorization", testsupport::basicAuth("root", password)}}},
        {"password prefix",
         {{"Authorization", testsupport::basicAuth(user, password.substr(0, 1))}}},
        {"no credentials", {{"Authorization", "Basic"}}},
        {"not base64", {{"Authorization", "Basic !!!!"}}},
        {"no colon", {{"Authorization", "Basic YWRtaW4="}}},
        {"another scheme", {{"Authorization", "Bearer abc"}}},
        {"cut base64", {{"Authorization", "Basic YQ"}}},
    };
    // clang-format on
    for (const Row& row : rows) {
        httplib::Client c("127.0.0.1", simulator.httpPort());
        httplib::Headers h = testsupport::cimHeaders(volumeNames());
        h.insert(row.headers.begin(), row.headers.end());
        auto res = c.Post("/cimom", h, cim::xml::encodeRequest(volumeNames()), "application/xml");
        ASSERT_TRUE(res) << row.name;
        EXPECT_EQ(res->status, 401) << row.name;
        EXPECT_EQ(res->get_header_value("WWW-Authenticate"), "Basic realm=\"smis-sim\"")
            << row.name;
        auto ctl = c.Get("/control/log", row.headers);
        ASSERT_TRUE(ctl) << row.name;
        EXPECT_EQ(ctl->status, 401) << row.name;
    }
    for (const auto& r : simulator.requests()) EXPECT_EQ(r.httpStatus, 401);
}

// Refused requests keep the connection; a hostile header is logged clipped.
TEST_F(ServerTest, RefusalsKeepTheConnection) {
    auto c = client();
    const auto req = volumeNames();
    const std::string body = cim::xml::encodeRequest(req);
    auto headers = testsupport::cimHeaders(req);
    auto noOperation = headers, junkMethod = headers;
    noOperation.erase("CIMOperation");
    junkMethod.erase("CIMMethod");
    junkMethod.emplace("CIMMethod", "Get\xff\xfeInstance" + std::string(5000, 'A'));
    const std::pair<httplib::Headers, std::string> rows[] = {{noOperation, ""},
                                                             {junkMethod, "header-mismatch"}};
    for (const auto& [h, cimError] : rows) {
        auto res = c->Post("/cimom", h, body, "application/xml");
        ASSERT_TRUE(res) << cimError;
        EXPECT_EQ(res->status, 400) << cimError;
        EXPECT_EQ(res->get_header_value("CIMError"), cimError);
    }
    EXPECT_EQ(postCim(*c, req)->status, 200);
    EXPECT_EQ(simulator.connectionCount(), 1u);
    auto log = c->Get("/control/log");
    ASSERT_EQ(log->status, 200);
    auto entries = nlohmann::json::parse(log->body)["requests"];
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_LE(entries[1]["operation"].get<std::string>().size(), 256u * 3);
}

TEST_F(ServerTest, ManyConcurrentClients) {
    constexpr int kThreads = 12, kRequests = 25;
    auto listed = postCim(*client(), volumeNames());
    ASSERT_TRUE(listed);
    const auto vols = cim::xml::decodeResponse(listed->body).instanceNames;
    ASSERT_FALSE(vols.empty());
    simulator.log().clear();
    simulator.setLatency(std::chrono::milliseconds(1));
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            auto c = client();
            for (int i = 0; i < kRequests; ++i) {
                auto req =
                    (i % 2) ? volumeNames()
                            : getInstance(simulator.arrayNamespace(), vols[(t + i) % vols.size()]);
                auto res = postCim(*c, req);
                ok += res && res->status == 200 && !cim::xml::decodeResponse(res->body).isError();
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(ok.load(), kThreads * kRequests);
    EXPECT_EQ(simulator.requests().size(), size_t(kThreads * kRequests));
    EXPECT_EQ(simulator.connectionCount(), size_t(kThreads));
}

TEST(ServerStart, RefusesUnusableOptions) {
    sim::Provider provider(sim::Config::defaults());
    sim::ProviderBackend backend(provider);
    sim::ServerOptions first;
    first.httpPort = 0;
    first.httpsPort = -1;
    first.user = "u";
    first.password = "p";
    sim::Server a(backend, first);
    a.start();
    ASSERT_GT(a.httpPort(), 0);
    EXPECT_EQ(a.httpUrl(), "http://127.0.0.1:" + std::to_string(a.httpPort()));
    EXPECT_TRUE(a.httpsUrl().empty());
    sim::ServerOptions noPassword = first, clash = first, halfTls = first;
    noPassword.password.clear();
    clash.httpPort = a.httpPort();
    halfTls.httpsPort = 0;
    halfTls.certFile = "/nonexistent.pem";
    for (const auto* o : {&noPassword, &clash, &halfTls}) {
        sim::Server s(backend, *o);
        EXPECT_THROW(s.start(), sim::ServerError);
    }
    a.stop();
    a.stop();
}
