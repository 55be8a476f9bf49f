// Helpers shared by the connection suites: a device log that can be awaited, a
// scoped host configuration, and endpoint parameters pointing at a simulator.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rkso/RKPlatformInfo.h"
#include "sim/server/TestServer.h"
#include "smis/RkCimConnection.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/TalonConfig.h"

namespace conntest {

// Device log whose lines can be awaited; every line is also appended to an
// optional shared journal together with the writing thread.
class AwaitableInfo : public testsupport::FakeSnapInfo {
  public:
    struct Entry {
        std::thread::id thread;
        std::string text;
    };
    struct Journal {
        std::mutex mu;
        std::vector<Entry> entries;
    };

    explicit AwaitableInfo(Journal* journal = nullptr) : m_journal(journal) {}

    void logMessage(int level, const char* msg) override {
        FakeSnapInfo::logMessage(level, msg);
        if (m_journal) {
            std::lock_guard<std::mutex> l(m_journal->mu);
            m_journal->entries.push_back({std::this_thread::get_id(), msg ? msg : ""});
        }
        std::lock_guard<std::mutex> l(m_mu);
        m_cv.notify_all();
    }

    // Waits until a line contains needle; the bound only guards against a hang.
    bool waitFor(const std::string& needle) {
        std::unique_lock<std::mutex> l(m_mu);
        return m_cv.wait_for(l, std::chrono::seconds(30), [&] { return logContains(needle); });
    }

    int count(const std::string& needle) const {
        int n = 0;
        for (const auto& line : logLines())
            if (line.text.find(needle) != std::string::npos) ++n;
        return n;
    }

  private:
    Journal* m_journal;
    std::mutex m_mu;
    std::condition_variable m_cv;
};

using testsupport::TalonConfig;

inline RkCimomParams ParamsFor(sim::TestServer& sim, bool https = false) {
    RkCimomParams p;
    p.name = "array1";
    p.address = "127.0.0.1";
    p.port = https ? sim.httpsPort() : sim.httpPort();
    p.nameSpace = sim.arrayNamespace();
    p.userName = sim.user();
    p.password = sim.password();
    p.useSSL = https;
    return p;
}

// A connection to the simulator, tracing into info, not yet connected.
inline void Bind(RkCimConnection& conn, RkCimomParams params, RKSO::SnapInfo* info) {
    conn.m_pLogger = info;
    conn.GetCimom().SetCimom(params);
}

}  // namespace conntest
