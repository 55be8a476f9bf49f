// Connection bookkeeping for the listeners: which connections are open and what
// each is doing, so that a full pool closes the one that has waited longest for its
// client, and a task queue whose workers grow with the connections and end when idle.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include <httplib.h>

namespace sim::detail {

class Connection;
class ConnectionRegistry;

enum class ConnState {
    Waiting,    // for the client's next request (or its first)
    Receiving,  // the client is sending a request head, or the TLS handshake
    Serving,    // a request is read, answered or held
};

// The open connections of one listener. While accepted connections wait for a worker
// thread, the connections that have waited longest for their clients are shut down to
// make room: Waiting ones first, then Receiving ones; Serving ones never.
class ConnectionRegistry {
  public:
    // Ids come from `ids`, shared by the listeners so that they are unique.
    explicit ConnectionRegistry(std::atomic<uint64_t>& ids) : m_ids(ids) {}

    // A new connection on `fd`, Receiving; returns its id.
    uint64_t open(int fd);
    void setState(uint64_t id, ConnState state);
    // Forgets the connection; called before its socket is closed.
    void close(uint64_t id);
    // How many accepted connections wait for a worker thread.
    void setQueued(size_t count);
    // Shuts down every open connection.
    void shutdownAll();

  private:
    struct Entry {
        int fd;
        ConnState state;
        std::list<uint64_t>::iterator queued;  // in m_waiting or m_receiving
        bool closing = false;                  // shut down to make room
    };
    std::list<uint64_t>* queueFor(ConnState state);
    void makeRoom();

    std::atomic<uint64_t>& m_ids;
    std::mutex m_mutex;
    std::unordered_map<uint64_t, Entry> m_open;
    std::list<uint64_t> m_waiting;  // oldest first
    std::list<uint64_t> m_receiving;
    size_t m_queued = 0;
    size_t m_closing = 0;
};

// The connection served by the calling thread (id 0 and nulls outside one).
struct CurrentConnection {
    uint64_t id = 0;
    Connection* connection = nullptr;
    ConnectionRegistry* registry = nullptr;
    const char* listener = "";  // "http" or "https"
};
CurrentConnection& currentConnection();

// cpp-httplib task queue with a thread per connection up to a limit. When every
// thread is taken, the registry closes idle connections for the queued ones, so idle
// clients never lock new ones out. Threads with nothing to do end after `idleExit`.
class WorkerPool : public httplib::TaskQueue {
  public:
    WorkerPool(ConnectionRegistry& registry, size_t maxThreads, std::chrono::milliseconds idleExit,
               std::function<void(WorkerPool*, bool)> onLife);
    ~WorkerPool() override;
    void enqueue(std::function<void()> fn) override;
    void shutdown() override;

    size_t threads();
    // Waits until at most `count` threads are left.
    bool waitForThreads(size_t count, std::chrono::milliseconds timeout);

  private:
    void run(uint64_t self);
    void joinFinished();
    // Tells the registry how many jobs no thread is free or about to be free for.
    void publishQueued();

    ConnectionRegistry& m_registry;
    size_t m_maxThreads;
    std::chrono::milliseconds m_idleExit;
    std::function<void(WorkerPool*, bool)> m_onLife;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_threadEnded;
    std::deque<std::function<void()>> m_jobs;
    std::map<uint64_t, std::thread> m_threads;
    std::vector<std::thread> m_finished;  // ended by themselves, to be joined
    uint64_t m_nextThread = 1;
    size_t m_idle = 0;
    size_t m_starting = 0;  // started, not yet waiting for a job
    bool m_stop = false;
};

}  // namespace sim::detail
