#include "Jobs.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace sim {

uint16_t Job::percent(int64_t nowMs) const {
    if (nowMs >= endMs())
        return finalState == 7
                   ? 100
                   : static_cast<uint16_t>(std::min<int64_t>(
                         99, (nowMs - submittedMs) * 100 / std::max<int64_t>(1, durationMs)));
    if (durationMs <= 0 || nowMs <= submittedMs) return 0;
    return static_cast<uint16_t>(std::min<int64_t>(99, (nowMs - submittedMs) * 100 / durationMs));
}

void Jobs::failNext(int count, uint16_t state) {
    for (int i = 0; i < count; ++i) m_failures.push_back(state);
}

Job& Jobs::start(const std::string& arrayId, size_t array, std::string name, int64_t nowMs,
                 int64_t durationMs, uint16_t finalState, std::function<void(Array&)> effect) {
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
    job.effect = std::move(effect);
    auto [it, inserted] = m_jobs.emplace(job.id, std::move(job));
    (void)inserted;
    return it->second;
}

void Jobs::advance(int64_t nowMs, std::vector<Array>& arrays) {
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
        Job& j = it->second;
        if (!j.finished && nowMs >= j.endMs()) {
            j.finished = true;
            // A failed job leaves the array as it was.
            if (j.finalState == 7 && j.effect && j.array < arrays.size()) j.effect(arrays[j.array]);
            j.effect = nullptr;
        }
        if (j.finished && (m_vanish || nowMs >= j.endMs() + m_retentionMs)) {
            it = m_jobs.erase(it);
        } else {
            ++it;
        }
    }
}

int64_t Jobs::nextDue() const {
    int64_t due = INT64_MAX;
    for (const auto& [id, j] : m_jobs)
        due = std::min(due,
                       j.finished ? (m_vanish ? j.endMs() : j.endMs() + m_retentionMs) : j.endMs());
    return due;
}

const Job* Jobs::find(const std::string& id) const {
    auto it = m_jobs.find(id);
    return it == m_jobs.end() ? nullptr : &it->second;
}

bool Jobs::remove(const std::string& id) {
    return m_jobs.erase(id) > 0;
}

bool Jobs::stop(const std::string& id, uint16_t state, int64_t nowMs) {
    auto it = m_jobs.find(id);
    if (it == m_jobs.end() || it->second.finished || nowMs >= it->second.endMs()) return false;
    Job& j = it->second;
    j.durationMs = std::max<int64_t>(0, nowMs - j.submittedMs);
    j.finalState = state;
    j.error = state == 8 ? "The job was terminated on request" : "The job was killed on request";
    j.effect = nullptr;
    return true;
}

void Jobs::clear() {
    m_jobs.clear();
    m_failures.clear();
}

}  // namespace sim
