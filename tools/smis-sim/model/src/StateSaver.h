// Keeps the state file current off the request path: a thread writes the arrays
// whenever they changed, and lets due jobs finish (their effects are changes too)
// even while no request arrives.
#pragma once

#include <climits>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "sim/Config.h"

namespace sim {

class StateSaver {
  public:
    // `version` counts the changes so far, `capture` takes the state (including at
    // least those changes), `tick` lets due jobs finish.
    StateSaver(std::string path, std::function<uint64_t()> version, std::function<Config()> capture,
               std::function<void()> tick);
    // Saves what changed last, then stops.
    ~StateSaver();
    StateSaver(const StateSaver&) = delete;
    StateSaver& operator=(const StateSaver&) = delete;

    // Something changed: save soon.
    void wake();
    // Saves now when anything changed since the last save. Throws ConfigError.
    void flush();

  private:
    void run();
    void save();  // m_saveMutex held

    std::string m_path;
    std::function<uint64_t()> m_version;
    std::function<Config()> m_capture;
    std::function<void()> m_tick;
    std::mutex m_saveMutex;         // one writer at a time
    uint64_t m_saved = UINT64_MAX;  // change count of the last save; none yet
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_woken = false;
    bool m_stop = false;
    std::string m_lastError;
    std::thread m_thread;
};

}  // namespace sim
