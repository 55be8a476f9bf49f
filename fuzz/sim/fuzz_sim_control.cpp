// Fault and removal rules from the control interface's JSON, and the matchers they feed.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "sim/server/Faults.h"
#include "sim/server/Removals.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto json = nlohmann::json::parse(data, data + size, nullptr, false);
    if (json.is_discarded()) return 0;
    try {
        sim::FaultRule rule = sim::FaultRule::fromJson(json);
        if (rule.count == 0) __builtin_trap();
        // What a rule prints must read back as the same rule.
        if (sim::FaultRule::fromJson(rule.toJson()).toJson() != rule.toJson()) __builtin_trap();
        sim::FaultInjector faults;
        faults.add(rule);
        faults.take({rule.operation, rule.method, rule.className});
    } catch (const std::invalid_argument&) {
    }
    try {
        sim::RemovalRule rule = sim::RemovalRule::fromJson(json);
        if (rule.nth < 1 || rule.target.empty()) __builtin_trap();
        sim::Removals removals;
        removals.add(rule);
        removals.take(rule.match);
    } catch (const std::invalid_argument&) {
    }
    return 0;
}
