// An in-process simulated provider for tests: a sim::Provider behind a sim::Server
// listening on 127.0.0.1 with ephemeral HTTP and HTTPS ports, started by the
// constructor and stopped by the destructor.
//
//   sim::TestServer sim;  // the default array (sim::Config::defaults())
//   cim::CIMClient client;
//   client.connect("127.0.0.1", sim.httpPort(), sim.user(), sim.password());
//   sim.failCim(cim::CIM_ERR_NOT_FOUND, "gone", 1, {"GetInstance", "", ""});
//   sim.failReturnValue(4, 1, {"", "ModifySynchronization", ""}, 2);  // the third call
//   sim.addFault(sim::FaultKind::Close);            // the next request of any kind
//   sim.failNextJobs(1, 10);                        // next job ends in Exception
//   EXPECT_EQ(sim.requests().size(), 3u);           // round trips so far
//   EXPECT_EQ(sim.connectionCount(), 1u);           // TCP connections they used
//
// The same faults are reachable over HTTP through the control interface (see
// sim/server/Server.h), for tests that run smis-sim as a separate process.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <sim/Config.h>
#include <sim/Provider.h>

#include "sim/server/Faults.h"
#include "sim/server/ProviderBackend.h"
#include "sim/server/RequestLog.h"
#include "sim/server/Server.h"

namespace sim {

struct TestServerOptions {
    bool http = true;
    bool https = true;
    Clock clock;                // empty: the system clock
    size_t maxThreads = 64;     // per listener
    int64_t maxHoldMs = 30000;  // how long a "hang" fault holds unless its rule says
    int keepAliveTimeoutSec = 30;
    int64_t headerTimeoutMs = 10000;
    int64_t bodyTimeoutMs = 10000;
    int64_t workerIdleMs = 10000;
    size_t maxRequestBytes = 64u * 1024u * 1024u;
    // Another address than loopback makes the fabric view ask for credentials; the
    // ports are still reached on 127.0.0.1 when it is "0.0.0.0".
    std::string bindAddress = "127.0.0.1";
};

class TestServer {
  public:
    explicit TestServer(Config config = Config::defaults(), TestServerOptions options = {});
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    Provider& provider();
    Server& server();

    int httpPort() const;
    int httpsPort() const;
    std::string httpUrl() const;
    std::string httpsUrl() const;
    const std::string& user() const;
    const std::string& password() const;
    const std::string& arrayNamespace() const;
    const std::string& interopNamespace() const;

    FaultInjector& faults();
    RequestLog& log();

    // After the first `skip` requests matching `match` (empty fields match anything)
    // have passed, the next `count` fail.
    uint64_t addFault(FaultRule rule);
    uint64_t addFault(FaultKind kind, int count = 1, const RequestKey& match = RequestKey(),
                      int skip = 0);
    uint64_t failHttp(int status, int count = 1, const RequestKey& match = RequestKey(),
                      int skip = 0);
    uint64_t failCim(int cimCode, const std::string& description = std::string(), int count = 1,
                     const RequestKey& match = RequestKey(), int skip = 0);
    uint64_t failReturnValue(uint32_t value, int count = 1, const RequestKey& match = RequestKey(),
                             int skip = 0);
    uint64_t delay(std::chrono::milliseconds by, int count = 1,
                   const RequestKey& match = RequestKey(), int skip = 0);
    // Never answers: held for `hold`, or until the client gives up or the server stops.
    uint64_t hang(std::chrono::milliseconds hold, int count = 1,
                  const RequestKey& match = RequestKey(), int skip = 0);
    void setLatency(std::chrono::milliseconds perRequest);
    // Removes an array object at once, as an administrator would outside the system
    // (see sim::Provider::removeObject); returns what went. Throws
    // std::invalid_argument when nothing matches.
    std::vector<std::string> removeObject(RemovableKind kind, const std::string& target);
    // The same just before the nth request from now that matches `match`; the log
    // entry of that request says what went in "removed".
    uint64_t removeBefore(RemovableKind kind, const std::string& target, const RequestKey& match,
                          int nth = 1);
    // The array state, passwords and secrets masked: compare before and after.
    nlohmann::json state() const;
    // 8 Terminated, 9 Killed, 10 Exception.
    void failNextJobs(int count, uint16_t finalJobState);
    // "Method" or "Method:Operation" answers with a job (true) or at once.
    void setJobMode(const std::string& methodOrOperation, bool job);
    // Faults, latency and log cleared; the array back to its start.
    void reset();

    std::vector<RequestRecord> requests() const;
    // Distinct TCP connections among the logged requests.
    size_t connectionCount() const;

  private:
    Config m_config;
    std::unique_ptr<Provider> m_provider;
    std::unique_ptr<ProviderBackend> m_backend;
    std::unique_ptr<Server> m_server;
};

}  // namespace sim
