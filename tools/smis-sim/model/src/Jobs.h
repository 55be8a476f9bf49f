// Jobs advance on the provider's clock: running until their duration has passed,
// then in their final state. Not thread-safe; the provider serialises access.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>

#include "sim/Model.h"

namespace sim {

struct Job {
    std::string id;  // "InstanceID"
    size_t array = 0;
    std::string name;
    int64_t submittedMs = 0;
    int64_t durationMs = 0;
    uint16_t finalState = 7;
    std::string error;                   // reason of a failed job
    std::function<void(Array&)> effect;  // applied once, on completion (state 7)
    bool finished = false;               // the final state has been reached and handled

    int64_t endMs() const { return submittedMs + durationMs; }
    uint16_t state(int64_t nowMs) const { return nowMs >= endMs() ? finalState : 4; }
    uint16_t percent(int64_t nowMs) const;
};

class Jobs {
  public:
    // `count` next jobs end in `state` instead of their own final state.
    void failNext(int count, uint16_t state);
    void setVanish(bool vanish) { m_vanish = vanish; }
    bool vanish() const { return m_vanish; }
    void setRetention(int64_t ms) { m_retentionMs = ms; }

    Job& start(const std::string& arrayId, size_t array, std::string name, int64_t nowMs,
               int64_t durationMs, uint16_t finalState, std::function<void(Array&)> effect);
    // Finishes due jobs (running their effects on `arrays`) and drops expired ones.
    void advance(int64_t nowMs, std::vector<Array>& arrays);
    // The earliest time at which advance() has work; INT64_MAX when none.
    int64_t nextDue() const;
    const Job* find(const std::string& id) const;
    bool remove(const std::string& id);
    // Ends a running job now in `state` (8 Terminated, 9 Killed) without its effect.
    // False when the job is unknown or already finished.
    bool stop(const std::string& id, uint16_t state, int64_t nowMs);
    const std::map<std::string, Job>& all() const { return m_jobs; }
    void clear();

  private:
    std::map<std::string, Job> m_jobs;
    std::deque<uint16_t> m_failures;
    uint64_t m_counter = 0;
    bool m_vanish = false;
    int64_t m_retentionMs = 300000;
};

}  // namespace sim
