// A manual host clock while in scope: every host sleep returns at once and is recorded.
#pragma once

#include <cstdint>
#include <vector>

#include "rkso/RkHostClock.h"

namespace testsupport {

class HostClockScope {
  public:
    HostClockScope() { RkHostClock::install(&m_clock); }
    ~HostClockScope() { RkHostClock::install(nullptr); }
    HostClockScope(const HostClockScope&) = delete;
    HostClockScope& operator=(const HostClockScope&) = delete;
    // Waits in whole seconds, in order.
    std::vector<int64_t> waitSeconds() const {
        std::vector<int64_t> s;
        for (int64_t ms : m_clock.waits()) s.push_back(ms / 1000);
        return s;
    }
    void clear() { m_clock.clearWaits(); }

  private:
    RkManualClock m_clock;
};

}  // namespace testsupport
