#include "Connections.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <cstdlib>

namespace sim::detail {

namespace {

int portOf(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
    if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
    return -1;
}

}  // namespace

CurrentConnection& currentConnection() {
    thread_local CurrentConnection current;
    return current;
}

uint64_t ConnectionRegistry::open() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_next++;
}

void ConnectionRegistry::close(uint64_t id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open.erase(id);
}

void ConnectionRegistry::attach(uint64_t id, int fd, int localPort, int remotePort) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open[id] = Entry{fd, localPort, remotePort};
}

void ConnectionRegistry::shutdownAll() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& [id, e] : m_open) {
        // The number may have been reused since; only touch the same connection.
        if (socketMatches(e.fd, e.localPort, e.remotePort)) ::shutdown(e.fd, SHUT_RDWR);
    }
}

bool socketMatches(int fd, int localPort, int remotePort) {
    sockaddr_storage a{};
    socklen_t len = sizeof(a);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return false;
    if (portOf(a) != localPort) return false;
    len = sizeof(a);
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return false;
    return portOf(a) == remotePort;
}

int findSocket(int localPort, int remotePort) {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    int found = -1;
    const int own = dirfd(dir);
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        int fd = std::atoi(e->d_name);
        if (fd == own) continue;
        if (socketMatches(fd, localPort, remotePort)) {
            found = fd;
            break;
        }
    }
    closedir(dir);
    return found;
}

WorkerPool::WorkerPool(ConnectionRegistry& registry, size_t maxThreads)
    : m_registry(registry), m_maxThreads(maxThreads == 0 ? 1 : maxThreads) {}

WorkerPool::~WorkerPool() {
    shutdown();
}

void WorkerPool::enqueue(std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_jobs.push_back(std::move(fn));
    if (m_jobs.size() > m_idle && m_threads.size() < m_maxThreads) {
        m_threads.emplace_back([this] { run(); });
    } else {
        m_wake.notify_one();
    }
}

void WorkerPool::shutdown() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stop && m_threads.empty()) return;
        m_stop = true;
    }
    m_wake.notify_all();
    for (auto& t : m_threads) {
        if (t.joinable()) t.join();
    }
    m_threads.clear();
}

void WorkerPool::run() {
    // A peer that went away must give EPIPE here, not kill the process.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            ++m_idle;
            m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
            --m_idle;
            if (m_jobs.empty()) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        auto& current = currentConnection();
        current = CurrentConnection{m_registry.open(), -1, false};
        job();
        m_registry.close(current.id);
        current = CurrentConnection{};
    }
}

}  // namespace sim::detail
