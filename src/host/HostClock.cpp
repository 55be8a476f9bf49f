// The host clock and sleep.
#include <time.h>

#include <cerrno>

#include <atomic>
#include <mutex>

#include "rkso/RkHostClock.h"

namespace {

class SystemClock : public RkHostClock {
  public:
    int64_t nowMs() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    }
    void sleepMs(int64_t milliseconds) override {
        if (milliseconds <= 0) return;
        timespec ts{static_cast<time_t>(milliseconds / 1000),
                    static_cast<long>(milliseconds % 1000) * 1000000L};
        // Signals cut nanosleep short; carry on with what is left.
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
    }
};

SystemClock& systemClock() {
    static SystemClock clock;
    return clock;
}

std::atomic<RkHostClock*> installed{nullptr};

}  // namespace

RkHostClock& RkHostClock::current() {
    RkHostClock* clock = installed.load(std::memory_order_acquire);
    return clock ? *clock : systemClock();
}

void RkHostClock::install(RkHostClock* clock) {
    installed.store(clock, std::memory_order_release);
}

void UXSLEEP_InTeRnAl(unsigned int seconds) {
    RkHostClock::current().sleepMs(static_cast<int64_t>(seconds) * 1000);
}

struct RkManualClock::Impl {
    mutable std::mutex mu;
    int64_t now = 0;
    std::vector<int64_t> waits;
};

RkManualClock::RkManualClock(int64_t startMs) : m_impl(new Impl) {
    m_impl->now = startMs;
}

RkManualClock::~RkManualClock() {
    delete m_impl;
}

int64_t RkManualClock::nowMs() {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->now;
}

void RkManualClock::sleepMs(int64_t milliseconds) {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->waits.push_back(milliseconds);
    if (milliseconds > 0) m_impl->now += milliseconds;
}

void RkManualClock::advance(int64_t milliseconds) {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    if (milliseconds > 0) m_impl->now += milliseconds;
}

std::vector<int64_t> RkManualClock::waits() const {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    return m_impl->waits;
}

void RkManualClock::clearWaits() {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    m_impl->waits.clear();
}
