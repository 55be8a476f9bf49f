#include "StateSaver.h"

#include <chrono>
#include <iostream>

namespace sim {

StateSaver::StateSaver(std::string path, std::function<uint64_t()> version,
                       std::function<Config()> capture, std::function<void()> tick)
    : m_path(std::move(path)),
      m_version(std::move(version)),
      m_capture(std::move(capture)),
      m_tick(std::move(tick)) {
    m_thread = std::thread([this] { run(); });
}

StateSaver::~StateSaver() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
    try {
        flush();
    } catch (const std::exception& e) {
        std::cerr << "smis-sim: cannot save the state file: " << e.what() << std::endl;
    }
}

void StateSaver::wake() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_woken = true;
    }
    m_wake.notify_one();
}

void StateSaver::flush() {
    std::lock_guard<std::mutex> lock(m_saveMutex);
    save();
}

void StateSaver::save() {
    const uint64_t version = m_version();
    if (version == m_saved) return;
    m_capture().saveState(m_path);
    m_saved = version;
}

void StateSaver::run() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            // Jobs end on the clock: look again now and then even when nobody calls.
            m_wake.wait_for(lock, std::chrono::milliseconds(200),
                            [this] { return m_woken || m_stop; });
            if (m_stop) return;
            m_woken = false;
        }
        try {
            m_tick();
            std::lock_guard<std::mutex> lock(m_saveMutex);
            save();
            m_lastError.clear();
        } catch (const std::exception& e) {
            // Said once per cause; the next change tries again.
            if (m_lastError != e.what())
                std::cerr << "smis-sim: cannot save the state file: " << e.what() << std::endl;
            m_lastError = e.what();
        }
    }
}

}  // namespace sim
