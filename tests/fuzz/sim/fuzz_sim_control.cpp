// Fault rules from the control interface's JSON, and the matcher they feed.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "sim/server/Faults.h"

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
    return 0;
}
