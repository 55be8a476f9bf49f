// Connection bookkeeping for the HTTP listeners. cpp-httplib serves a whole
// keep-alive connection inside one task of its task queue, so our own queue gives
// each task a connection id in a thread-local slot, which handlers read. The socket
// itself is found once per connection, when a handler first needs it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <httplib.h>

namespace sim::detail {

struct CurrentConnection {
    uint64_t id = 0;
    int fd = -1;
    bool searched = false;
};

// The connection served by the calling thread.
CurrentConnection& currentConnection();

class ConnectionRegistry {
  public:
    uint64_t open();
    void close(uint64_t id);
    // Remembers the socket of an open connection so that shutdownAll() can reach it.
    void attach(uint64_t id, int fd, int localPort, int remotePort);
    // Shuts down every attached socket that still is what was attached.
    void shutdownAll();

  private:
    struct Entry {
        int fd;
        int localPort;
        int remotePort;
    };
    std::mutex m_mutex;
    uint64_t m_next = 1;
    std::map<uint64_t, Entry> m_open;
};

// The socket with these local and peer ports, or -1.
int findSocket(int localPort, int remotePort);
bool socketMatches(int fd, int localPort, int remotePort);

// cpp-httplib task queue that grows a thread per waiting connection up to a limit,
// so idle keep-alive connections never starve new clients.
class WorkerPool : public httplib::TaskQueue {
  public:
    WorkerPool(ConnectionRegistry& registry, size_t maxThreads);
    ~WorkerPool() override;
    void enqueue(std::function<void()> fn) override;
    void shutdown() override;

  private:
    void run();

    ConnectionRegistry& m_registry;
    size_t m_maxThreads;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    size_t m_idle = 0;
    bool m_stop = false;
};

}  // namespace sim::detail
