// The log of CIM requests the simulator served. Tests and benchmarks read it to
// count round trips and TCP connections.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sim {

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

    nlohmann::json toJson() const;

  private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::deque<RequestRecord> m_records;
    size_t m_capacity;
    uint64_t m_nextSeq = 1;
};

}  // namespace sim
