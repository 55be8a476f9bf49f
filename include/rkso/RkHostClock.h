// Host time: the clock the host libraries and the plug-in read, and the sleep
// they wait with. Both go through one RkHostClock, so a host that replaces the
// clock replaces the sleep with it. Tests install an RkManualClock: time stands
// still except when something sleeps, and a sleep returns at once.
#pragma once

#include <cstdint>
#include <vector>

// Host sleep: waits the given number of seconds on the clock in force.
void UXSLEEP_InTeRnAl(unsigned int seconds);

class RkHostClock {
  public:
    virtual ~RkHostClock() = default;

    // Milliseconds on a monotonic scale; only differences mean anything.
    virtual int64_t nowMs() = 0;
    // Waits the milliseconds (none for 0 or less).
    virtual void sleepMs(int64_t milliseconds) = 0;

    // The clock in force: the system's monotonic clock unless a host installed another.
    static RkHostClock& current();
    // Installs clock for the whole process; null brings back the system clock.
    // The clock must outlive every call that may still be using it.
    static void install(RkHostClock* clock);
};

// A clock for tests. Each sleep advances the time by its length at once and is
// recorded. Safe to use from any number of threads.
class RkManualClock : public RkHostClock {
  public:
    explicit RkManualClock(int64_t startMs = 0);
    ~RkManualClock() override;
    RkManualClock(const RkManualClock&) = delete;
    RkManualClock& operator=(const RkManualClock&) = delete;

    int64_t nowMs() override;
    void sleepMs(int64_t milliseconds) override;

    // Moves the time on without counting it as a wait.
    void advance(int64_t milliseconds);
    // Every sleep so far, in milliseconds, in the order they were made.
    std::vector<int64_t> waits() const;
    void clearWaits();

  private:
    struct Impl;
    Impl* m_impl;
};
