// Faults injected on demand: each rule answers the next `count` matching CIM
// requests in a broken way. Set through the control interface or directly in tests.
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
    Hang,          // never answer: hold until the client gives up or the server stops
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
    // Empty matches everything; names compare without regard to case.
    std::string operation;
    std::string method;
    std::string className;

    int httpStatus = 500;
    int cimCode = 1;
    std::string description;
    uint32_t returnValue = 0;
    int64_t delayMs = 0;

    bool matches(const RequestKey& key) const;
    nlohmann::json toJson() const;
    // Throws std::invalid_argument with a message naming the bad item.
    static FaultRule fromJson(const nlohmann::json& j);
};

class FaultInjector {
  public:
    // Returns the rule's id.
    uint64_t add(FaultRule rule);
    // The first rule that matches, with its count taken down by one (spent rules go).
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
