// RkThread on POSIX threads.
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <exception>
#include <mutex>

#include "rkso/EvDebug.h"
#include "rkso/RkThread.h"

struct RkThread::Impl {
    // Guards thread and the flags: a new thread may run before pthread_create
    // has stored its id, so it waits for the creator here first.
    std::mutex mu;
    pthread_t thread{};
    bool started = false;
    bool joined = false;
    RkThreadFunction function = nullptr;
    void* arg = nullptr;
    std::atomic<bool> threw{false};

    bool isCaller() {
        std::lock_guard<std::mutex> lock(mu);
        return started && pthread_equal(pthread_self(), thread);
    }
};

void* RkThread::start(void* p) {
    auto* impl = static_cast<RkThread::Impl*>(p);
    { std::lock_guard<std::mutex> lock(impl->mu); }
    try {
        impl->function(impl->arg);
    } catch (const std::exception& e) {
        impl->threw = true;
        EvDebug().DebugLvl("RkThread", 2, "Thread function ended with an exception: %s", e.what());
    } catch (...) {
        impl->threw = true;
        EvDebug().DebugLvl("RkThread", 2, "Thread function ended with an unknown exception");
    }
    return nullptr;
}

RkThread::RkThread() : m_impl(new Impl) {}

RkThread::~RkThread() {
    bool running;
    {
        std::lock_guard<std::mutex> lock(m_impl->mu);
        running = m_impl->started && !m_impl->joined;
    }
    if (running) {
        // Deleted from inside its own thread: nothing can wait for it, so let it go.
        if (m_impl->isCaller())
            pthread_detach(m_impl->thread);
        else
            pthread_join(m_impl->thread, nullptr);
    }
    delete m_impl;
}

int RkThread::createThread(RkThreadFunction function, void* arg) {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    if (!function || m_impl->started) return -EINVAL;
    m_impl->function = function;
    m_impl->arg = arg;
    int rc = pthread_create(&m_impl->thread, nullptr, start, m_impl);
    if (rc != 0) {
        EvDebug().DebugLvl("RkThread", 2, "Unable to create a thread (error %d)", rc);
        return -rc;
    }
    m_impl->started = true;
    return 0;
}

int RkThread::joinThread() {
    pthread_t thread;
    {
        std::lock_guard<std::mutex> lock(m_impl->mu);
        if (!m_impl->started || m_impl->joined) return -EINVAL;
        if (pthread_equal(pthread_self(), m_impl->thread)) return -EDEADLK;
        // Claimed before the wait, so a second joiner is refused instead of joining twice.
        m_impl->joined = true;
        thread = m_impl->thread;
    }
    int rc = pthread_join(thread, nullptr);
    return rc == 0 ? 0 : -rc;
}

bool RkThread::endedByException() const {
    return m_impl->threw.load();
}
