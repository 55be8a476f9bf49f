#include "Connections.h"

#include <signal.h>
#include <sys/socket.h>

namespace sim::detail {

CurrentConnection& currentConnection() {
    thread_local CurrentConnection current;
    return current;
}

std::list<uint64_t>* ConnectionRegistry::queueFor(ConnState state) {
    switch (state) {
        case ConnState::Waiting:
            return &m_waiting;
        case ConnState::Receiving:
            return &m_receiving;
        case ConnState::Serving:
            break;
    }
    return nullptr;
}

uint64_t ConnectionRegistry::open(int fd) {
    std::lock_guard<std::mutex> lock(m_mutex);
    uint64_t id = m_ids++;
    m_receiving.push_back(id);
    m_open.emplace(id, Entry{fd, ConnState::Receiving, std::prev(m_receiving.end())});
    makeRoom();
    return id;
}

void ConnectionRegistry::setState(uint64_t id, ConnState state) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_open.find(id);
    if (it == m_open.end() || it->second.closing || it->second.state == state) return;
    if (auto* q = queueFor(it->second.state)) q->erase(it->second.queued);
    it->second.state = state;
    if (auto* q = queueFor(state)) it->second.queued = q->insert(q->end(), id);
    makeRoom();
}

void ConnectionRegistry::close(uint64_t id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_open.find(id);
    if (it == m_open.end()) return;
    if (it->second.closing) {
        --m_closing;
    } else if (auto* q = queueFor(it->second.state)) {
        q->erase(it->second.queued);
    }
    m_open.erase(it);
}

void ConnectionRegistry::setQueued(size_t count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queued = count;
    makeRoom();
}

void ConnectionRegistry::makeRoom() {
    while (m_queued > m_closing) {
        auto* q = !m_waiting.empty() ? &m_waiting : !m_receiving.empty() ? &m_receiving : nullptr;
        if (!q) return;
        Entry& e = m_open.at(q->front());
        q->pop_front();
        e.closing = true;
        ++m_closing;
        // The socket stays open until its thread has forgotten it (close() under this
        // lock), so the number cannot belong to another connection yet.
        ::shutdown(e.fd, SHUT_RDWR);
    }
}

void ConnectionRegistry::shutdownAll() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& [id, e] : m_open) ::shutdown(e.fd, SHUT_RDWR);
}

WorkerPool::WorkerPool(ConnectionRegistry& registry, size_t maxThreads,
                       std::chrono::milliseconds idleExit,
                       std::function<void(WorkerPool*, bool)> onLife)
    : m_registry(registry),
      m_maxThreads(maxThreads == 0 ? 1 : maxThreads),
      m_idleExit(idleExit),
      m_onLife(std::move(onLife)) {
    if (m_onLife) m_onLife(this, true);
}

WorkerPool::~WorkerPool() {
    shutdown();
    if (m_onLife) m_onLife(this, false);
}

void WorkerPool::enqueue(std::function<void()> fn) {
    joinFinished();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_jobs.push_back(std::move(fn));
    if (m_jobs.size() <= m_idle + m_starting) {
        m_wake.notify_one();
    } else if (m_threads.size() < m_maxThreads) {
        uint64_t id = m_nextThread++;
        ++m_starting;
        m_threads.emplace(id, std::thread([this, id] { run(id); }));
    }
    publishQueued();
}

void WorkerPool::publishQueued() {
    const size_t free = m_idle + m_starting;
    m_registry.setQueued(m_jobs.size() > free ? m_jobs.size() - free : 0);
}

void WorkerPool::shutdown() {
    std::map<uint64_t, std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        threads.swap(m_threads);
    }
    m_wake.notify_all();
    for (auto& [id, t] : threads) t.join();
    joinFinished();
}

size_t WorkerPool::threads() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_threads.size();
}

bool WorkerPool::waitForThreads(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_threadEnded.wait_for(lock, timeout, [&] { return m_threads.size() <= count; });
}

void WorkerPool::joinFinished() {
    std::vector<std::thread> done;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        done.swap(m_finished);
    }
    for (auto& t : done) t.join();
}

void WorkerPool::run(uint64_t self) {
    // A peer that went away must give EPIPE here, not kill the process.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    bool starting = true;
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (starting) {
                --m_starting;
                starting = false;
            }
            ++m_idle;
            bool woken =
                m_wake.wait_for(lock, m_idleExit, [this] { return m_stop || !m_jobs.empty(); });
            --m_idle;
            if (m_jobs.empty()) {
                if (!woken) {
                    // Idle too long: leave, to be joined by the next enqueue or shutdown.
                    auto it = m_threads.find(self);
                    if (it != m_threads.end()) {
                        m_finished.push_back(std::move(it->second));
                        m_threads.erase(it);
                    }
                    m_threadEnded.notify_all();
                }
                return;
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            publishQueued();
        }
        try {
            job();
        } catch (...) {
            // A connection's failure must not end the server.
        }
    }
}

}  // namespace sim::detail
