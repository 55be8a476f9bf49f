#include "sim/server/Removals.h"

#include <strings.h>

#include <limits>
#include <stdexcept>

namespace sim {

namespace {

constexpr const char* kObjects[] = {"volume",           "pit",    "pitView", "pitGroup",
                                    "consistencyGroup", "mapping"};

bool sameName(const std::string& pattern, const std::string& value) {
    return pattern.empty() || strcasecmp(pattern.c_str(), value.c_str()) == 0;
}

std::string text(const nlohmann::json& j, const char* key, size_t maxSize) {
    if (!j.contains(key)) return {};
    const auto& v = j.at(key);
    if (!v.is_string() || v.get_ref<const std::string&>().size() > maxSize)
        throw std::invalid_argument(std::string("\"") + key + "\" must be a string of at most " +
                                    std::to_string(maxSize) + " characters");
    return v.get<std::string>();
}

}  // namespace

nlohmann::json RemovalRule::toJson() const {
    nlohmann::json j{{"id", id}, {"object", object}, {"target", target}, {"array", array}};
    if (!atOnce) {
        j["operation"] = match.operation;
        j["method"] = match.method;
        j["className"] = match.className;
        j["nth"] = nth;
    }
    return j;
}

RemovalRule RemovalRule::fromJson(const nlohmann::json& j) {
    if (!j.is_object()) throw std::invalid_argument("a removal must be a JSON object");
    RemovalRule r;
    r.object = text(j, "object", 64);
    bool known = false;
    for (const char* o : kObjects) {
        if (strcasecmp(o, r.object.c_str()) == 0) {
            r.object = o;
            known = true;
        }
    }
    if (!known)
        throw std::invalid_argument(
            "\"object\" must be volume, pit, pitView, pitGroup, consistencyGroup or mapping");
    r.target = text(j, "target", 1024);
    if (r.target.empty()) throw std::invalid_argument("\"target\" names no object");
    r.array = text(j, "array", 1024);
    r.match.operation = text(j, "operation", 256);
    r.match.method = text(j, "method", 256);
    r.match.className = text(j, "className", 256);
    if (j.contains("nth")) {
        const auto& n = j.at("nth");
        if (!n.is_number_integer() || n.get<int64_t>() < 1 ||
            n.get<int64_t>() > std::numeric_limits<int>::max())
            throw std::invalid_argument("\"nth\" must be a positive integer");
        r.nth = n.get<int>();
    }
    r.atOnce = !j.contains("nth") && r.match.operation.empty() && r.match.method.empty() &&
               r.match.className.empty();
    return r;
}

uint64_t Removals::add(RemovalRule rule) {
    std::lock_guard<std::mutex> lock(m_mutex);
    rule.id = m_nextId++;
    rule.atOnce = false;
    m_rules.push_back(std::move(rule));
    return m_rules.back().id;
}

std::vector<RemovalRule> Removals::take(const RequestKey& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<RemovalRule> due;
    for (auto it = m_rules.begin(); it != m_rules.end();) {
        const RequestKey& m = it->match;
        if (sameName(m.operation, key.operation) && sameName(m.method, key.method) &&
            sameName(m.className, key.className) && --it->nth == 0) {
            due.push_back(std::move(*it));
            it = m_rules.erase(it);
        } else {
            ++it;
        }
    }
    return due;
}

std::vector<RemovalRule> Removals::rules() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_rules;
}

void Removals::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rules.clear();
}

}  // namespace sim
