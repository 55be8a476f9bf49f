// The simulator's HTTP(S) server: CIM-XML operations on POST /cimom (DSP0200), the
// control interface under /control/ and the SAN fabric view on POST /fabric/luns.
//
// Control interface (JSON, same Basic authentication as CIM requests):
//   POST   /control/faults  {"kind": K, "count": N, "operation": O, "method": M,
//                            "className": C, "status": S, "code": E,
//                            "description": D, "value": V, "delayMs": T}
//                           K is one of http, cim-error, return-value, malformed-xml,
//                           truncated, close, hang, delay (see sim/server/Faults.h);
//                           count defaults to 1, -1 means every matching request;
//                           O, M, C restrict the match (empty: any). -> {"id": n}
//   GET    /control/faults  -> {"faults": [...], "latencyMs": n}
//   DELETE /control/faults  drops every fault and the latency
//   POST   /control/latency {"ms": n}  added before every CIM answer
//   POST   /control/jobs    {"outcome": "Terminated"|"Exception", "count": n, "skip": k}
//                           or {"vanish": true|false}
//                           or {"methods": {"Method[:Operation]": "job"|"sync"}}
//                           or {"holdRequests": n, "count": k}: the next k jobs stay
//                           Running until n more requests were answered
//   POST   /control/array   {"action": "write"|"failover"|..., ...} (sim::Provider::control)
//   POST   /control/reset   faults, latency and log cleared, array back to its start
//   GET    /control/log     -> {"requests": [RequestRecord...]} (sim/server/RequestLog.h)
//   DELETE /control/log
// Fabric (no authentication; the host side of a simulated SAN reads it):
//   POST   /fabric/luns     {"initiators": ["10000090FA1B2C3D", ...]} -> the LUNs
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "sim/server/Backend.h"
#include "sim/server/Faults.h"
#include "sim/server/RequestLog.h"

namespace sim {

struct ServerOptions {
    std::string bindAddress = "127.0.0.1";
    int httpPort = 5988;   // 0: any free port; negative: no HTTP listener
    int httpsPort = 5989;  // likewise for HTTPS
    std::string user;      // Basic authentication; both must be set
    std::string password;
    std::string certFile;  // PEM; both empty: a self-signed certificate made at start
    std::string keyFile;
    size_t maxThreads = 256;       // connections served at once, per listener
    int keepAliveTimeoutSec = 60;  // an idle connection is closed after this
    int64_t maxHoldMs = 600000;    // longest a "hang" fault holds a request
    size_t logCapacity = 100000;
    size_t maxRequestBytes = 64u * 1024u * 1024u;
};

class ServerError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Server {
  public:
    Server(Backend& backend, ServerOptions options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and starts the listeners; returns once they accept connections.
    // Throws ServerError when a port cannot be bound or the options are unusable.
    void start();
    // Stops the listeners, wakes held requests and closes open connections. Idempotent.
    void stop();

    int httpPort() const;          // -1 when not listening
    int httpsPort() const;         // -1 when not listening
    std::string httpUrl() const;   // "http://127.0.0.1:5988", empty when not listening
    std::string httpsUrl() const;  // "https://127.0.0.1:5989", empty when not listening

    FaultInjector& faults();
    RequestLog& log();
    const ServerOptions& options() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace sim
