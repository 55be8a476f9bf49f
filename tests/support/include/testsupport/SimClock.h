// A manual clock for the simulator: nothing really sleeps.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace testsupport {

struct ManualClock {
    std::shared_ptr<std::atomic<int64_t>> now =
        std::make_shared<std::atomic<int64_t>>(1700000000000);
    // Copies share the time.
    std::function<int64_t()> clock() const {
        auto n = now;
        return [n] { return n->load(); };
    }
    void advance(int64_t ms) { *now += ms; }
};

}  // namespace testsupport
