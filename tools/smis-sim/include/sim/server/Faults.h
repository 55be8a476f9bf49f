// Faults injected on demand: each rule lets its first `skip` matching CIM requests
// pass and then answers the next `count` of them in a broken way. Set through the
// control interface or directly in tests.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sim {

enum class FaultKind {
    Http,          // answer the HTTP status `httpStatus` (401 adds WWW-Authenticate)
    CimError,      // answer the CIM error `cimCode` with `description`
    ReturnValue,   // answer an extrinsic call with return value `returnValue`, no effect
    MalformedXml,  // answer 200 with a body that is not well-formed XML
    Truncated,     // do the request, announce the whole answer, send half, close
    Close,         // close the connection without answering
    Hang,          // never answer: hold until the client gives up, the server stops or
                   // `holdMs` pass
    Delay,         // answer normally after `delayMs`
};

// "http", "cim-error", "return-value", "malformed-xml", "truncated", "close", "hang", "delay".
const char* faultKindName(FaultKind kind);
// Throws std::invalid_argument for an unknown name.
FaultKind faultKindFromName(const std::string& name);

// What a request looks like to the matcher.
struct RequestKey {
    std::string operation;  // intrinsic name or "InvokeMethod"
    std::string method;     // extrinsic method name
    std::string className;
};

struct FaultRule {
    uint64_t id = 0;
    FaultKind kind = FaultKind::Http;
    int count = 1;  // requests left; a negative count never runs out
    int skip = 0;   // matching requests still to let pass before the first fault
    // Empty matches everything; names compare without regard to case.
    std::string operation;
    std::string method;
    std::string className;

    int httpStatus = 500;
    int cimCode = 1;
    std::string description;
    uint32_t returnValue = 0;
    int64_t delayMs = 0;
    int64_t holdMs = 0;  // hang: how long to hold; 0 takes the server's maxHoldMs

    bool matches(const RequestKey& key) const;
    nlohmann::json toJson() const;
    // Throws std::invalid_argument with a message naming the bad item.
    static FaultRule fromJson(const nlohmann::json& j);
};

class FaultInjector {
  public:
    // Returns the rule's id.
    uint64_t add(FaultRule rule);
    // The first matching rule with nothing left to skip, its count taken down by one
    // (spent rules go). Every matching rule that still skips counts the request as
    // one it let pass, whether or not another rule fires on it.
    std::optional<FaultRule> take(const RequestKey& key);
    std::vector<FaultRule> rules() const;
    void clear();

    void setLatencyMs(int64_t ms);
    int64_t latencyMs() const;

  private:
    mutable std::mutex m_mutex;
    std::vector<FaultRule> m_rules;
    uint64_t m_nextId = 1;
    int64_t m_latencyMs = 0;
};

}  // namespace sim
