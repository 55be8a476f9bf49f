#include "sim/server/RequestLog.h"

#include <chrono>

namespace sim {

nlohmann::json ParamRecord::toJson() const {
    nlohmann::json j{{"name", name}, {"type", type}};
    if (null) {
        j["value"] = nullptr;
    } else if (type.size() > 2 && type.compare(type.size() - 2, 2, "[]") == 0) {
        j["value"] = elements;
    } else {
        j["value"] = value;
    }
    return j;
}

ParamRecord ParamRecord::fromJson(const nlohmann::json& j) {
    ParamRecord p;
    p.name = j.value("name", std::string());
    p.type = j.value("type", std::string());
    const auto it = j.find("value");
    if (it == j.end() || it->is_null()) {
        p.null = true;
    } else if (it->is_array()) {
        for (const auto& e : *it) p.elements.push_back(e.is_string() ? e.get<std::string>() : "");
    } else if (it->is_string()) {
        p.value = it->get<std::string>();
    }
    return p;
}

nlohmann::json RequestRecord::toJson() const {
    nlohmann::json params = nlohmann::json::array();
    for (const auto& p : this->params) params.push_back(p.toJson());
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
                          {"fault", fault},
                          {"params", std::move(params)},
                          {"returnValue", returnValue ? nlohmann::json(*returnValue) : nullptr},
                          {"beginTick", beginTick},
                          {"endTick", endTick},
                          {"inFlight", inFlight},
                          {"removed", removed}};
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
    if (auto it = j.find("params"); it != j.end() && it->is_array())
        for (const auto& p : *it) r.params.push_back(ParamRecord::fromJson(p));
    if (auto it = j.find("returnValue"); it != j.end() && it->is_number_unsigned())
        r.returnValue = it->get<uint32_t>();
    r.beginTick = j.value("beginTick", uint64_t{0});
    r.endTick = j.value("endTick", uint64_t{0});
    r.inFlight = j.value("inFlight", 0);
    r.removed = j.value("removed", std::string());
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

uint64_t RequestLog::begin(const std::string& operation, const std::string& method, int& inFlight) {
    uint64_t tick;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        inFlight = ++m_inFlight[operation + "." + method];
        tick = ++m_ticks;
    }
    m_changed.notify_all();
    return tick;
}

uint64_t RequestLog::end(const std::string& operation, const std::string& method) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_inFlight.find(operation + "." + method);
    if (it != m_inFlight.end() && --it->second <= 0) m_inFlight.erase(it);
    return ++m_ticks;
}

bool RequestLog::waitForInFlight(const std::string& operation, const std::string& method, int count,
                                 std::chrono::milliseconds timeout) const {
    const std::string key = operation + "." + method;
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        auto it = m_inFlight.find(key);
        return it != m_inFlight.end() && it->second >= count;
    });
}

nlohmann::json RequestLog::toJson() const {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& r : snapshot()) list.push_back(r.toJson());
    return nlohmann::json{{"requests", std::move(list)}};
}

}  // namespace sim
