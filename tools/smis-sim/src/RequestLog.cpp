#include "sim/server/RequestLog.h"

#include <chrono>

namespace sim {

nlohmann::json RequestRecord::toJson() const {
    return nlohmann::json{{"seq", seq},
                          {"timeMs", timeMs},
                          {"connection", connection},
                          {"listener", listener},
                          {"operation", operation},
                          {"method", method},
                          {"className", className},
                          {"namespace", nameSpace},
                          {"httpStatus", httpStatus},
                          {"cimStatus", cimStatus},
                          {"fault", fault}};
}

RequestRecord RequestRecord::fromJson(const nlohmann::json& j) {
    RequestRecord r;
    r.seq = j.value("seq", uint64_t{0});
    r.timeMs = j.value("timeMs", int64_t{0});
    r.connection = j.value("connection", uint64_t{0});
    r.listener = j.value("listener", std::string());
    r.operation = j.value("operation", std::string());
    r.method = j.value("method", std::string());
    r.className = j.value("className", std::string());
    r.nameSpace = j.value("namespace", std::string());
    r.httpStatus = j.value("httpStatus", 0);
    r.cimStatus = j.value("cimStatus", 0);
    r.fault = j.value("fault", std::string());
    return r;
}

RequestLog::RequestLog(size_t capacity) : m_capacity(capacity == 0 ? 1 : capacity) {}

uint64_t RequestLog::add(RequestRecord record) {
    uint64_t seq;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (record.seq == 0) record.seq = m_nextSeq++;
        if (record.timeMs == 0) {
            record.timeMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
        }
        seq = record.seq;
        m_records.push_back(std::move(record));
        while (m_records.size() > m_capacity) m_records.pop_front();
    }
    m_changed.notify_all();
    return seq;
}

std::vector<RequestRecord> RequestLog::snapshot() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_records.begin(), m_records.end()};
}

size_t RequestLog::size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records.size();
}

void RequestLog::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.clear();
}

bool RequestLog::waitUntil(const std::function<bool(const std::vector<RequestRecord>&)>& pred,
                           std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        return pred(std::vector<RequestRecord>(m_records.begin(), m_records.end()));
    });
}

bool RequestLog::waitForCount(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_records.size() >= count; });
}

nlohmann::json RequestLog::toJson() const {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& r : snapshot()) list.push_back(r.toJson());
    return nlohmann::json{{"requests", std::move(list)}};
}

}  // namespace sim
