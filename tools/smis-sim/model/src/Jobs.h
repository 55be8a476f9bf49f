// Jobs advance on the provider's clock: running until their duration has passed,
// then in their final state. Not thread-safe; the provider serialises access.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim/Model.h"

namespace sim {

struct Job {
    std::string id;  // "InstanceID"
    size_t array = 0;
    std::string name;
    int64_t submittedMs = 0;
    int64_t durationMs = 0;
    uint16_t finalState = 7;
    std::string error;  // reason of a failed job
    // Applied once, on completion (state 7); a non-empty answer fails the job (10)
    // with that reason, and then the effect must have changed nothing.
    std::function<std::string(Array&)> effect;
    // For a method whose effect came at once: takes it back when the job fails.
    std::function<void(Array&)> undo;
    // What the job will add, so that limits count it while it runs: key -> amount.
    std::vector<std::pair<std::string, uint64_t>> claims;
    int holdRequests = 0;    // stays Running for this many more requests
    bool holdArmed = false;  // the request that started it does not count
    bool finished = false;   // the final state has been reached and handled

    int64_t endMs() const { return submittedMs + durationMs; }
    bool held() const { return holdRequests > 0; }
    uint16_t state(int64_t nowMs) const { return !held() && nowMs >= endMs() ? finalState : 4; }
    uint16_t percent(int64_t nowMs) const;
};

class Jobs {
  public:
    // `count` next jobs end in `state` instead of their own final state.
    void failNext(int count, uint16_t state);
    // The next `count` jobs stay Running until `requests` more requests were served.
    void holdNext(int count, int requests);
    void setVanish(bool vanish) { m_vanish = vanish; }
    bool vanish() const { return m_vanish; }
    void setRetention(int64_t ms) { m_retentionMs = ms; }

    Job& start(const std::string& arrayId, size_t array, std::string name, int64_t nowMs,
               int64_t durationMs, uint16_t finalState = 7);
    // Finishes due jobs (running their effects, or the undo of failed ones, on
    // `arrays`) and drops expired ones. True when a job finished.
    bool advance(int64_t nowMs, std::vector<Array>& arrays);
    // One more request was served: held jobs count down.
    void noteRequest(int64_t nowMs);
    bool anyHeld() const;
    // The earliest time at which advance() has work; INT64_MAX when none.
    int64_t nextDue() const;
    const Job* find(const std::string& id) const;
    bool remove(const std::string& id);
    // Ends a running job now in `state` (8 Terminated, 9 Killed) without its effect.
    // False when the job is unknown or already finished.
    bool stop(const std::string& id, uint16_t state, int64_t nowMs, std::vector<Array>& arrays);
    // What running jobs on `array` claim under `key`.
    uint64_t pending(size_t array, const std::string& key) const;
    const std::map<std::string, Job>& all() const { return m_jobs; }
    void clear();

  private:
    void finish(Job& j, std::vector<Array>& arrays);

    std::map<std::string, Job> m_jobs;
    std::deque<uint16_t> m_failures;
    std::deque<int> m_holds;
    uint64_t m_counter = 0;
    bool m_vanish = false;
    int64_t m_retentionMs = 300000;
};

}  // namespace sim
