// The simulator's HTTP(S) server: CIM-XML operations on POST /cimom (DSP0200), the
// control interface under /control/ and the SAN fabric view on POST /fabric/luns.
//
// Control interface (JSON, same Basic authentication as CIM requests):
//   POST   /control/faults  {"kind": K, "count": N, "skip": S, "operation": O,
//                            "method": M, "className": C, "status": H, "code": E,
//                            "description": D, "value": V, "delayMs": T, "holdMs": L}
//                           K is one of http, cim-error, return-value, malformed-xml,
//                           truncated, close, hang, delay (see sim/server/Faults.h);
//                           the first S (default 0) matching requests pass, then N
//                           (default 1, -1: every one after) fail; O, M, C restrict
//                           the match (empty: any). -> {"id": n}
//   GET    /control/faults  -> {"faults": [...], "latencyMs": n}
//   DELETE /control/faults  drops every fault and the latency
//   POST   /control/latency {"ms": n}  added before every CIM answer
//   POST   /control/jobs    {"outcome": "Terminated"|"Exception", "count": n}
//                           or {"vanish": true|false}
//                           or {"methods": {"Method[:Operation]": "job"|"sync"}}
//                           or {"holdRequests": n, "count": k}: the next k jobs stay
//                           Running until n more requests were answered
//   POST   /control/remove  {"object": volume|pit|pitView|pitGroup|consistencyGroup|
//                            mapping, "target": T, "array": A, "operation": O,
//                            "method": M, "className": C, "nth": N}
//                           removes T and what depends on it as an administrator
//                           would: at once -> {"removed": [...]} (404 when T is not
//                           there), or, with O, M, C or N, just before the Nth
//                           (default 1) matching CIM request -> {"id": n}
//   GET    /control/remove  -> {"pending": [...]};  DELETE drops the pending ones
//   POST   /control/array   {"action": "write"|"failover"|..., ...} (sim::Provider::control)
//   GET    /control/state   -> the array state, passwords and secrets as "****"
//   POST   /control/reset   faults, removals, latency and log cleared, array back
//                           to its start
//   GET    /control/log     -> {"requests": [RequestRecord...]} (sim/server/RequestLog.h)
//   DELETE /control/log
// Fabric (the host side of a simulated SAN reads it; credentials only when bound to
// an address other than loopback):
//   POST   /fabric/luns     {"initiators": ["10000090FA1B2C3D", ...]} -> the LUNs
//
// Credentials are checked on the request head, before any body is read; refused
// requests and bodies over their limit are answered at once and the connection closed.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "sim/server/Backend.h"
#include "sim/server/Faults.h"
#include "sim/server/Removals.h"
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
    // Connections served at once, per listener. When all are taken, a new client makes
    // the one that has waited longest for its client close.
    size_t maxThreads = 256;
    int keepAliveTimeoutSec = 30;     // an idle connection is closed after this
    int64_t headerTimeoutMs = 10000;  // a request head (and TLS handshake) must arrive within this
    int64_t bodyTimeoutMs = 10000;    // a body, or an answer being sent, must move on within this
    int64_t workerIdleMs = 10000;     // a worker thread without a connection ends after this
    int64_t maxHoldMs = 600000;       // how long a "hang" fault holds unless its rule says
    size_t logCapacity = 100000;
    // CIM request bodies (also chunked or close-delimited) above this get 413 at once;
    // control and fabric bodies are limited to 1 MiB.
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

    // Worker threads alive in both listeners, and a wait until none is left (idle
    // workers end after workerIdleMs).
    size_t workerThreads();
    bool waitUntilNoWorkers(std::chrono::milliseconds timeout);

    FaultInjector& faults();
    Removals& removals();
    RequestLog& log();
    const ServerOptions& options() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace sim
