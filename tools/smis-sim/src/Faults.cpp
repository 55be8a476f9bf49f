#include "sim/server/Faults.h"

#include <strings.h>

#include <limits>

namespace sim {

namespace {

struct KindName {
    FaultKind kind;
    const char* name;
};

constexpr KindName kKinds[] = {
    {FaultKind::Http, "http"},
    {FaultKind::CimError, "cim-error"},
    {FaultKind::ReturnValue, "return-value"},
    {FaultKind::MalformedXml, "malformed-xml"},
    {FaultKind::Truncated, "truncated"},
    {FaultKind::Close, "close"},
    {FaultKind::Hang, "hang"},
    {FaultKind::Delay, "delay"},
};

bool sameName(const std::string& pattern, const std::string& value) {
    return pattern.empty() || strcasecmp(pattern.c_str(), value.c_str()) == 0;
}

template <typename T>
T getNumber(const nlohmann::json& j, const char* key, T fallback, T lo, T hi) {
    if (!j.contains(key)) return fallback;
    const auto& v = j.at(key);
    if (!v.is_number_integer()) {
        throw std::invalid_argument(std::string("\"") + key + "\" must be an integer");
    }
    if (v.is_number_unsigned()) {
        auto u = v.get<uint64_t>();
        bool belowLow = lo > 0 && u < static_cast<uint64_t>(lo);
        if (belowLow || u > static_cast<uint64_t>(hi)) {
            throw std::invalid_argument(std::string("\"") + key + "\" is out of range");
        }
        return static_cast<T>(u);
    }
    auto s = v.get<int64_t>();
    if (s < static_cast<int64_t>(lo) || s > static_cast<int64_t>(hi)) {
        throw std::invalid_argument(std::string("\"") + key + "\" is out of range");
    }
    return static_cast<T>(s);
}

std::string getString(const nlohmann::json& j, const char* key) {
    if (!j.contains(key)) return {};
    const auto& v = j.at(key);
    if (!v.is_string()) {
        throw std::invalid_argument(std::string("\"") + key + "\" must be a string");
    }
    return v.get<std::string>();
}

}  // namespace

const char* faultKindName(FaultKind kind) {
    for (const auto& k : kKinds) {
        if (k.kind == kind) return k.name;
    }
    return "unknown";
}

FaultKind faultKindFromName(const std::string& name) {
    for (const auto& k : kKinds) {
        if (strcasecmp(k.name, name.c_str()) == 0) return k.kind;
    }
    throw std::invalid_argument(
        "\"kind\" must be http, cim-error, return-value, malformed-xml, truncated, close, "
        "hang or delay");
}

bool FaultRule::matches(const RequestKey& key) const {
    // A return value only makes sense for an extrinsic call.
    if (kind == FaultKind::ReturnValue && key.method.empty()) return false;
    return sameName(operation, key.operation) && sameName(method, key.method) &&
           sameName(className, key.className);
}

nlohmann::json FaultRule::toJson() const {
    nlohmann::json j{{"id", id},
                     {"kind", faultKindName(kind)},
                     {"count", count},
                     {"skip", skip},
                     {"operation", operation},
                     {"method", method},
                     {"className", className}};
    switch (kind) {
        case FaultKind::Http:
            j["status"] = httpStatus;
            break;
        case FaultKind::CimError:
            j["code"] = cimCode;
            j["description"] = description;
            break;
        case FaultKind::ReturnValue:
            j["value"] = returnValue;
            break;
        case FaultKind::Delay:
            j["delayMs"] = delayMs;
            break;
        case FaultKind::Hang:
            j["holdMs"] = holdMs;
            break;
        default:
            break;
    }
    return j;
}

FaultRule FaultRule::fromJson(const nlohmann::json& j) {
    if (!j.is_object()) throw std::invalid_argument("a fault must be a JSON object");
    FaultRule r;
    if (!j.contains("kind")) throw std::invalid_argument("\"kind\" is missing");
    r.kind = faultKindFromName(getString(j, "kind"));
    r.count = getNumber<int>(j, "count", 1, -1, std::numeric_limits<int>::max());
    if (r.count == 0) throw std::invalid_argument("\"count\" must not be 0");
    r.skip = getNumber<int>(j, "skip", 0, 0, std::numeric_limits<int>::max());
    r.operation = getString(j, "operation");
    r.method = getString(j, "method");
    r.className = getString(j, "className");
    r.httpStatus = getNumber<int>(j, "status", 500, 100, 599);
    r.cimCode = getNumber<int>(j, "code", 1, 1, 1000);
    r.description = getString(j, "description");
    r.returnValue = getNumber<uint32_t>(j, "value", 0, 0, std::numeric_limits<uint32_t>::max());
    r.delayMs = getNumber<int64_t>(j, "delayMs", 0, 0, 3600 * 1000);
    r.holdMs = getNumber<int64_t>(j, "holdMs", 0, 0, 24 * 3600 * 1000);
    return r;
}

uint64_t FaultInjector::add(FaultRule rule) {
    std::lock_guard<std::mutex> lock(m_mutex);
    rule.id = m_nextId++;
    m_rules.push_back(std::move(rule));
    return m_rules.back().id;
}

std::optional<FaultRule> FaultInjector::take(const RequestKey& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::optional<FaultRule> hit;
    for (auto it = m_rules.begin(); it != m_rules.end();) {
        if (!it->matches(key)) {
            ++it;
            continue;
        }
        if (it->skip > 0) {
            --it->skip;
            ++it;
            continue;
        }
        if (hit) {
            ++it;
            continue;
        }
        hit = *it;
        if (it->count > 0 && --it->count == 0) {
            it = m_rules.erase(it);
        } else {
            ++it;
        }
    }
    return hit;
}

std::vector<FaultRule> FaultInjector::rules() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_rules;
}

void FaultInjector::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rules.clear();
    m_latencyMs = 0;
}

void FaultInjector::setLatencyMs(int64_t ms) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_latencyMs = ms < 0 ? 0 : ms;
}

int64_t FaultInjector::latencyMs() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_latencyMs;
}

}  // namespace sim
