// Manual clocks for the simulator and the host: nothing really sleeps.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "rkso/RkHostClock.h"

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

// The host clock, for the life of the object, of a test whose simulator runs on
// sim: every host sleep (UXSLEEP_InTeRnAl, job waits) returns at once, moves the
// simulator's time by as much and is recorded.
class SimHostClock : public RkHostClock {
  public:
    explicit SimHostClock(ManualClock sim) : m_sim(sim) { RkHostClock::install(this); }
    ~SimHostClock() override { RkHostClock::install(nullptr); }
    SimHostClock(const SimHostClock&) = delete;
    SimHostClock& operator=(const SimHostClock&) = delete;

    int64_t nowMs() override { return m_manual.nowMs(); }
    void sleepMs(int64_t milliseconds) override {
        m_manual.sleepMs(milliseconds);
        if (milliseconds > 0) m_sim.advance(milliseconds);
    }
    std::vector<int64_t> waits() const { return m_manual.waits(); }

  private:
    RkManualClock m_manual;
    ManualClock m_sim;
};

}  // namespace testsupport
