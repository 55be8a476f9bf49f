// The server against clients that misbehave, over raw sockets.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include <functional>
#include <thread>
#include <vector>

#include "testsupport/RawHttp.h"

using testsupport::basicAuth;
using testsupport::cimHeaders;
using testsupport::postCim;
using testsupport::RawConnection;
using testsupport::volumeNames;

namespace {

// Options without HTTPS, edited.
sim::TestServerOptions httpOnly(const std::function<void(sim::TestServerOptions&)>& edit = {}) {
    sim::TestServerOptions o;
    o.https = false;
    if (edit) edit(o);
    return o;
}

// A request head for `path` (a volume enumeration's on /cimom), ended after `headers`.
std::string head(sim::TestServer& sim, const std::string& path, const std::string& headers,
                 bool login = true) {
    std::string h = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (path == "/cimom") {
        auto req = volumeNames(sim);
        for (const auto& [k, v] : cimHeaders(req)) h += k + ": " + v + "\r\n";
    }
    if (login) h += "Authorization: " + basicAuth(sim.user(), sim.password()) + "\r\n";
    return h + headers + "\r\n";
}

std::string volumeRequest(sim::TestServer& sim) {
    std::string body = cim::xml::encodeRequest(volumeNames(sim));
    return head(sim, "/cimom", "Content-Length: " + std::to_string(body.size()) + "\r\n") + body;
}

// One chunk of a chunked body holding `data`.
std::string chunk(const std::string& data) {
    char size[32];
    std::snprintf(size, sizeof(size), "%zx\r\n", data.size());
    return size + data + "\r\n";
}

}  // namespace

TEST(SimHardening, RequestsWithoutCredentialsAreRefusedOnTheirHead) {
    sim::TestServer sim(sim::Config::defaults(), httpOnly());
    const std::string partial = std::string(64 * 1024, 'Q');
    // clang-format off
    struct Row { const char* name; std::string request; } rows[] = {
        {"endless chunks", head(sim, "/cimom", "Transfer-Encoding: chunked\r\n", false) + chunk(std::string(1 << 20, 'Q')).substr(0, 70000)},
        {"300 MB announced", head(sim, "/cimom", "Content-Length: 314572800\r\n", false) + partial},
        {"close-delimited", head(sim, "/cimom", "", false) + partial},
        {"wrong password, chunked", head(sim, "/cimom", "Authorization: " + basicAuth(sim.user(), "wrong") + "\r\nTransfer-Encoding: chunked\r\n", false) + chunk(std::string(60000, 'Q'))},
        {"100-continue", head(sim, "/cimom", "Content-Length: 314572800\r\nExpect: 100-continue\r\n", false)},
        {"control, chunked", head(sim, "/control/faults", "Transfer-Encoding: chunked\r\n", false) + chunk(std::string(60000, 'Q'))},
        // clang-format on
    };
    for (const Row& row : rows) {
        RawConnection raw(sim.httpPort(), 10);
        ASSERT_TRUE(raw.send(row.request)) << row.name;
        std::string answer = raw.readResponse();
        EXPECT_EQ(RawConnection::status(answer), 401) << row.name << ": " << answer.substr(0, 80);
        EXPECT_NE(answer.find("WWW-Authenticate: Basic"), std::string::npos) << row.name;
        EXPECT_NE(answer.find("Connection: close"), std::string::npos) << row.name;
        ::shutdown(raw.fd(), SHUT_WR);
        EXPECT_TRUE(raw.endedByPeer()) << row.name;
    }
    auto records = sim.requests();
    ASSERT_EQ(records.size(), 5u) << "each CIM refusal is logged";
    for (const auto& r : records) EXPECT_EQ(r.httpStatus, 401);
}

TEST(SimHardening, BodiesOverTheirLimitOrBadlyFramedAreRefusedAtOnce) {
    sim::TestServer sim(sim::Config::defaults(),
                        httpOnly([](auto& o) { o.maxRequestBytes = 64 << 10; }));
    std::string chunks;
    for (int i = 0; i < 13; ++i) chunks += chunk(std::string(16 * 1024, 'Q'));
    // clang-format off
    struct Row { const char* name; std::string request; int status; } rows[] = {
        {"CIM chunks past the limit", head(sim, "/cimom", "Transfer-Encoding: chunked\r\n") + chunks, 413},
        {"CIM length past the limit", head(sim, "/cimom", "Content-Length: 204800\r\n") + chunk(std::string(100, 'Q')), 413},
        {"CIM close-delimited past the limit", head(sim, "/cimom", "") + chunks, 413},
        {"control chunks past 1 MiB", head(sim, "/control/faults", "Transfer-Encoding: chunked\r\n") + chunks + chunks + chunks + chunks + chunks + chunks, 413},
        {"fabric length past 1 MiB", head(sim, "/fabric/luns", "Content-Length: 10485760\r\n"), 413},
        {"gzip transfer coding", head(sim, "/cimom", "Transfer-Encoding: gzip\r\n") + "QQQQ", 501},
        {"chunked twice", head(sim, "/cimom", "Transfer-Encoding: chunked, chunked\r\n"), 501},
        {"compressed body", head(sim, "/cimom", "Content-Length: 4\r\nContent-Encoding: gzip\r\n") + "QQQQ", 415},
        {"chunk size not hex", head(sim, "/cimom", "Transfer-Encoding: chunked\r\n") + "QQ\r\nQQ\r\n", 400},
        {"chunk longer than its size", head(sim, "/cimom", "Transfer-Encoding: chunked\r\n") + "2\r\nQQQQ\r\n0\r\n\r\n", 400},
        {"length not a number", head(sim, "/cimom", "Content-Length: 12QQ\r\n"), 400},
        {"two lengths", head(sim, "/cimom", "Content-Length: 4\r\nContent-Length: 5\r\n") + "QQQQQ", 400},
        {"length and chunks", head(sim, "/cimom", "Content-Length: 4\r\nTransfer-Encoding: chunked\r\n"), 400},
        {"no such path", head(sim, "/nowhere", "Content-Length: 4\r\n") + "QQQQ", 404},
        // clang-format on
    };
    for (const Row& row : rows) {
        RawConnection raw(sim.httpPort(), 10);
        ASSERT_TRUE(raw.send(row.request)) << row.name;
        std::string answer = raw.readResponse();
        EXPECT_EQ(RawConnection::status(answer), row.status)
            << row.name << ": " << answer.substr(0, 80);
        EXPECT_EQ(answer.find("QQQQ"), std::string::npos) << row.name;
        EXPECT_NE(answer.find("Connection: close"), std::string::npos) << row.name;
    }
    // A body within the limit, chunked, is served as before.
    RawConnection raw(sim.httpPort(), 10);
    ASSERT_TRUE(raw.send(head(sim, "/cimom", "Transfer-Encoding: chunked\r\n") +
                         chunk(cim::xml::encodeRequest(volumeNames(sim))) + "0\r\n\r\n"));
    EXPECT_EQ(RawConnection::status(raw.readResponse()), 200);
    ASSERT_TRUE(raw.send(volumeRequest(sim)));
    EXPECT_EQ(RawConnection::status(raw.readResponse()), 200) << "the connection stays open";
}

TEST(SimHardening, IdleConnectionsNeverLockOutANewClient) {
    sim::TestServer sim(sim::Config::defaults(), httpOnly([](auto& o) {
                            o.maxThreads = 3;
                            o.keepAliveTimeoutSec = 3600;
                            o.headerTimeoutMs = 3600 * 1000;
                        }));
    // The pool held full: idle after an answer, half-way through a head, never a byte sent.
    RawConnection idle(sim.httpPort());
    ASSERT_TRUE(idle.send(volumeRequest(sim)));
    ASSERT_EQ(RawConnection::status(idle.readResponse()), 200);
    RawConnection slow(sim.httpPort());
    ASSERT_TRUE(slow.send("POST /cimom HTTP/1.1\r\nHost: x\r\n"));
    RawConnection silent(sim.httpPort());
    auto client = testsupport::client(sim);
    client->set_connection_timeout(2, 0);
    client->set_read_timeout(2, 0);
    auto res = postCim(*client, volumeNames(sim));
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, 200);
    // One of the three made room (the one idle longest, by the time it was needed).
    pollfd held[] = {
        {idle.fd(), POLLRDHUP, 0}, {slow.fd(), POLLRDHUP, 0}, {silent.fd(), POLLRDHUP, 0}};
    EXPECT_GT(::poll(held, 3, 30000), 0);
}

TEST(SimHardening, SlowAndIdleClientsAreCutOff) {
    sim::TestServer sim(sim::Config::defaults(), httpOnly([](auto& o) {
                            o.keepAliveTimeoutSec = 1;
                            o.headerTimeoutMs = o.bodyTimeoutMs = 200;
                        }));
    // The status of an answer before the end, 0 for none.
    // clang-format off
    struct Row { const char* name; std::string send; int status; } rows[] = {
        {"never sends a byte", "", 0},
        {"half a head", "POST /cimom HTTP/1.1\r\nHost: x\r\n", 400},
        {"a head past 64 KiB", "POST /cimom HTTP/1.1\r\nX-Pad: " + std::string(70000, 'Q'), 400},
        {"half a body", head(sim, "/cimom", "Content-Length: 100\r\n") + "QQQQQQQQQQ", 408},
        {"idle after an answer", volumeRequest(sim), 200},
    };
    // clang-format on
    for (const Row& row : rows) {
        RawConnection raw(sim.httpPort(), 30);
        ASSERT_TRUE(raw.send(row.send)) << row.name;
        if (row.status) {
            EXPECT_EQ(RawConnection::status(raw.readResponse()), row.status) << row.name;
        }
        EXPECT_TRUE(raw.endedByPeer()) << row.name;
    }
}

TEST(SimHardening, IdleWorkerThreadsEnd) {
    sim::TestServer sim(sim::Config::defaults(), httpOnly([](auto& o) { o.workerIdleMs = 20; }));
    std::vector<std::thread> clients;
    for (int i = 0; i < 6; ++i)
        clients.emplace_back([&] {
            RawConnection raw(sim.httpPort());
            raw.send(volumeRequest(sim));
            raw.readResponse();
        });
    for (auto& t : clients) t.join();
    ASSERT_EQ(sim.requests().size(), 6u);
    EXPECT_TRUE(sim.server().waitUntilNoWorkers(std::chrono::seconds(30)));
    EXPECT_EQ(sim.server().workerThreads(), 0u);
    RawConnection again(sim.httpPort());
    ASSERT_TRUE(again.send(volumeRequest(sim)));
    EXPECT_EQ(RawConnection::status(again.readResponse()), 200);
}

TEST(SimHardening, FabricErrorsNameTheProblemWithoutEchoing) {
    sim::TestServer sim(sim::Config::defaults(), httpOnly());
    const std::string junk(500 * 1024, 'Q');
    // clang-format off
    struct Row { const char* name; std::string body; int status; } rows[] = {
        {"empty", "", 400},
        {"no initiators", "{}", 400},
        {"not JSON", "{\"initiators\": [" + junk, 400},
        {"a bare word", junk, 400},
        {"initiators not a list", "{\"initiators\": \"" + junk + "\"}", 400},
        {"an initiator too long", "{\"initiators\": [\"" + junk.substr(0, 2000) + "\"]}", 400},
        {"an initiator not a text", R"({"initiators": [12]})", 400},
    };
    // clang-format on
    for (const Row& row : rows) {
        httplib::Client c("127.0.0.1", sim.httpPort());
        auto res = c.Post("/fabric/luns", row.body, "application/json");
        ASSERT_TRUE(res) << row.name;
        EXPECT_EQ(res->status, row.status) << row.name;
        EXPECT_LT(res->body.size(), 200u) << row.name;
        EXPECT_EQ(res->body.find("QQQQ"), std::string::npos) << row.name;
        auto j = nlohmann::json::parse(res->body, nullptr, false);
        EXPECT_TRUE(j.contains("error")) << row.name << ": " << res->body;
    }
}
