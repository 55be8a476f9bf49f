// Removals of array objects "outside the system", as an administrator would make
// them on the array: at once, or just before the nth CIM request that matches an
// operation, method or class. Set through the control interface or in tests.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/server/Faults.h"

namespace sim {

struct RemovalRule {
    uint64_t id = 0;
    // "volume", "pit", "pitView", "pitGroup", "consistencyGroup" or "mapping".
    std::string object;
    std::string target;  // uuid, ref, InstanceID or label; a mapping by its volume
    std::string array;   // array id or name; empty: any array
    // Empty fields match anything; names compare without regard to case.
    RequestKey match;
    int nth = 1;         // fires just before the nth matching request from now
    bool atOnce = true;  // no operation, method, class or nth given

    nlohmann::json toJson() const;
    // Throws std::invalid_argument naming the bad item.
    static RemovalRule fromJson(const nlohmann::json& j);
};

class Removals {
  public:
    // Returns the rule's id.
    uint64_t add(RemovalRule rule);
    // The rules due just before this request, taken out; the others count it.
    std::vector<RemovalRule> take(const RequestKey& key);
    std::vector<RemovalRule> rules() const;
    void clear();

  private:
    mutable std::mutex m_mutex;
    std::vector<RemovalRule> m_rules;
    uint64_t m_nextId = 1;
};

}  // namespace sim
