#include "Jobs.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace sim {

uint16_t Job::percent(int64_t nowMs) const {
    const int64_t elapsed = nowMs - submittedMs;
    const int64_t rising =
        durationMs <= 0 || elapsed <= 0 ? 0 : std::min<int64_t>(99, elapsed * 100 / durationMs);
    if (state(nowMs) == 7) return 100;
    return static_cast<uint16_t>(rising);
}

void Jobs::failNext(int count, uint16_t state) {
    for (int i = 0; i < count; ++i) m_failures.push_back(state);
}

void Jobs::holdNext(int count, int requests) {
    for (int i = 0; i < count; ++i) m_holds.push_back(requests);
}

Job& Jobs::start(const std::string& arrayId, size_t array, std::string name, int64_t nowMs,
                 int64_t durationMs, uint16_t finalState) {
    Job job;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%010llu", static_cast<unsigned long long>(++m_counter));
    job.id = arrayId + ":Job:" + buf;
    job.array = array;
    job.name = std::move(name);
    job.submittedMs = nowMs;
    job.durationMs = std::max<int64_t>(0, durationMs);
    job.finalState = finalState;
    if (!m_failures.empty() && finalState == 7) {
        job.finalState = m_failures.front();
        m_failures.pop_front();
    }
    if (job.finalState != 7) job.error = "The job failed: fault injected by the simulator";
    if (!m_holds.empty()) {
        job.holdRequests = m_holds.front();
        m_holds.pop_front();
    }
    auto [it, inserted] = m_jobs.emplace(job.id, std::move(job));
    (void)inserted;
    return it->second;
}

void Jobs::finish(Job& j, std::vector<Array>& arrays) {
    j.finished = true;
    Array* a = j.array < arrays.size() ? &arrays[j.array] : nullptr;
    if (a && j.finalState == 7 && j.effect) {
        std::string failure = j.effect(*a);
        if (!failure.empty()) {
            j.finalState = 10;
            j.error = std::move(failure);
        }
    }
    // A failed job leaves the array as it was.
    if (a && j.finalState != 7 && j.undo) j.undo(*a);
    j.effect = nullptr;
    j.undo = nullptr;
    j.claims.clear();
}

bool Jobs::advance(int64_t nowMs, std::vector<Array>& arrays) {
    bool any = false;
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
        Job& j = it->second;
        if (!j.finished && !j.held() && nowMs >= j.endMs()) {
            finish(j, arrays);
            any = true;
        }
        if (j.finished && (m_vanish || nowMs >= j.endMs() + m_retentionMs)) {
            it = m_jobs.erase(it);
        } else {
            ++it;
        }
    }
    return any;
}

bool Jobs::anyHeld() const {
    for (const auto& [id, j] : m_jobs)
        if (j.held()) return true;
    return !m_holds.empty();
}

void Jobs::noteRequest(int64_t nowMs) {
    for (auto& [id, j] : m_jobs) {
        if (j.holdRequests <= 0) continue;
        if (!j.holdArmed) {
            j.holdArmed = true;
        } else if (--j.holdRequests == 0) {
            j.durationMs = std::max(j.durationMs, nowMs - j.submittedMs);
        }
    }
}

int64_t Jobs::nextDue() const {
    int64_t due = INT64_MAX;
    for (const auto& [id, j] : m_jobs) {
        if (j.held()) continue;
        due = std::min(due,
                       j.finished ? (m_vanish ? j.endMs() : j.endMs() + m_retentionMs) : j.endMs());
    }
    return due;
}

const Job* Jobs::find(const std::string& id) const {
    auto it = m_jobs.find(id);
    return it == m_jobs.end() ? nullptr : &it->second;
}

bool Jobs::remove(const std::string& id) {
    return m_jobs.erase(id) > 0;
}

bool Jobs::stop(const std::string& id, uint16_t state, int64_t nowMs, std::vector<Array>& arrays) {
    auto it = m_jobs.find(id);
    if (it == m_jobs.end() || it->second.finished || it->second.state(nowMs) != 4) return false;
    Job& j = it->second;
    j.durationMs = std::max<int64_t>(0, nowMs - j.submittedMs);
    j.holdRequests = 0;
    j.finalState = state;
    j.error = state == 8 ? "The job was terminated on request" : "The job was killed on request";
    j.effect = nullptr;
    finish(j, arrays);
    return true;
}

uint64_t Jobs::pending(size_t array, const std::string& key) const {
    uint64_t total = 0;
    for (const auto& [id, j] : m_jobs)
        if (!j.finished && j.array == array)
            for (const auto& [k, amount] : j.claims)
                if (k == key) total += amount;
    return total;
}

void Jobs::clear() {
    m_jobs.clear();
    m_failures.clear();
    m_holds.clear();
}

}  // namespace sim
