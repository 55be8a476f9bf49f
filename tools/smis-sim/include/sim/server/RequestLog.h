// The log of CIM requests the simulator served. Tests and benchmarks read it to
// count round trips and TCP connections, to check what was sent, and to prove that
// two calls never overlapped without timing them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sim {

// One input parameter of an extrinsic call, as sent. Values of parameters named
// "Secret" or holding "password" (any case) are logged as "****".
struct ParamRecord {
    std::string name;
    std::string type;  // "uint16", "reference", "string[]"...; "untyped" when sent without
    bool null = false;
    std::string value;                  // a scalar's text (references: the path text)
    std::vector<std::string> elements;  // an array's elements as text

    nlohmann::json toJson() const;
    static ParamRecord fromJson(const nlohmann::json& j);
};

struct RequestRecord {
    uint64_t seq = 0;         // 1, 2, ... in arrival order
    int64_t timeMs = 0;       // milliseconds since the epoch
    uint64_t connection = 0;  // TCP connection id, unique for the server's life
    std::string listener;     // "http" or "https"
    std::string operation;    // intrinsic name, or "InvokeMethod" for extrinsic calls
    std::string method;       // extrinsic method name, empty for intrinsic calls
    std::string className;    // class of the target (class name, instance or object path)
    std::string nameSpace;    // namespace of the request
    int httpStatus = 0;       // 0 when no answer was sent (connection closed or held)
    int cimStatus = 0;        // CIM error code in the answer, 0 for none
    std::string fault;        // injected fault kind, empty for a normal answer
    // Extrinsic calls: the input parameters in the order sent, and the return value
    // answered (also an injected one); none for errors and intrinsic calls.
    std::vector<ParamRecord> params;
    std::optional<uint32_t> returnValue;
    // Requests served at the same time: ticks of one counter taken when the request
    // was read and when its answer was ready (before it is written), so two requests
    // overlapped when each began before the other ended. inFlight counts the requests
    // of the same operation and method being served when this one began, itself
    // included. All 0 for requests refused before their body was decoded.
    uint64_t beginTick = 0;
    uint64_t endTick = 0;
    int inFlight = 0;
    std::string removed;  // an object the request's arrival removed (see /control/remove)

    nlohmann::json toJson() const;
    static RequestRecord fromJson(const nlohmann::json& j);
};

class RequestLog {
  public:
    // Keeps the newest `capacity` records; older ones are dropped (sequence numbers go on).
    explicit RequestLog(size_t capacity = 100000);

    // Assigns seq and timeMs if they are 0; returns the stored seq.
    uint64_t add(RequestRecord record);
    std::vector<RequestRecord> snapshot() const;
    size_t size() const;
    void clear();

    // Waits until `pred` holds for the stored records or the timeout passes.
    bool waitUntil(const std::function<bool(const std::vector<RequestRecord>&)>& pred,
                   std::chrono::milliseconds timeout) const;
    // Waits until at least `count` records are stored.
    bool waitForCount(size_t count, std::chrono::milliseconds timeout) const;

    // Marks a request of `operation`/`method` as being served; the returned tick and
    // in-flight count go into its record. end() must follow, with the same key.
    uint64_t begin(const std::string& operation, const std::string& method, int& inFlight);
    uint64_t end(const std::string& operation, const std::string& method);
    // Waits until at least `count` requests of `operation`/`method` are being served.
    bool waitForInFlight(const std::string& operation, const std::string& method, int count,
                         std::chrono::milliseconds timeout) const;

    nlohmann::json toJson() const;

  private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::deque<RequestRecord> m_records;
    size_t m_capacity;
    uint64_t m_nextSeq = 1;
    uint64_t m_ticks = 0;
    std::map<std::string, int> m_inFlight;
};

}  // namespace sim
