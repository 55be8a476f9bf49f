// Helpers shared by the access layer's suites: endpoint parameters for a simulator, a
// device log that can be awaited, counts of log lines and of the simulator's requests,
// a connected device for the lookup suites, and the journal of every device log line of
// the program (checked for secrets at the end).
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rkso/RKPlatformInfo.h"
#include "sim/server/TestServer.h"
#include "smis/RkCimConnection.h"
#include "smis/RkCimUtil.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/SimClock.h"
#include "testsupport/SimSnapshot.h"
#include "testsupport/TalonConfig.h"

namespace smistest {

using testsupport::FakeSnapInfo;
using testsupport::ManualClock;
using testsupport::TalonConfig;

// Credentials and secrets that must never appear in any log line of the program.
inline const char* const kSimUser = "smisquery";
inline const char* const kSimPassword = "Pw-q7Z!x41";
inline const char* const kArrayPassword = "ArrPw-9k2";
inline const char* const kNewSecret = "N3w-S3cr3t-Value";

// Lines of a device log holding needle.
inline int count(const FakeSnapInfo& info, const std::string& needle) {
    int n = 0;
    for (const auto& line : info.logLines())
        if (line.text.find(needle) != std::string::npos) ++n;
    return n;
}

// Index of the first line holding needle; -1 when none.
inline int lineIndex(const FakeSnapInfo& info, const std::string& needle) {
    auto lines = info.logLines();
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].text.find(needle) != std::string::npos) return static_cast<int>(i);
    return -1;
}

// Requests of one operation (and class) in the simulator's log.
inline size_t countRequests(sim::TestServer& sim, const std::string& operation,
                            const std::string& className = std::string()) {
    auto all = sim.requests();
    return static_cast<size_t>(std::count_if(all.begin(), all.end(), [&](const auto& r) {
        return r.operation == operation && (className.empty() || r.className == className);
    }));
}

// Device log whose lines can be awaited; every line also goes to an optional journal
// together with the writing thread.
class AwaitableInfo : public FakeSnapInfo {
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

    int count(const std::string& needle) const { return smistest::count(*this, needle); }

  private:
    Journal* m_journal;
    std::mutex m_mu;
    std::condition_variable m_cv;
};

// A local port that refuses connections: bound, never listening, held while it lives.
class RefusingPort {
  public:
    RefusingPort() {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~RefusingPort() { ::close(m_fd); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int port() const { return m_port; }

  private:
    int m_fd;
    int m_port = 0;
};

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

inline sim::TestServerOptions plainHttp(const ManualClock* clock = nullptr) {
    sim::TestServerOptions o;
    o.https = false;
    if (clock) o.clock = clock->clock();
    return o;
}

// Points conn at the simulator's HTTP listener and connects it.
inline void connectTo(sim::TestServer& sim, RkCimConnection& conn) {
    RkCimomParams params = ParamsFor(sim);
    conn.m_Cimom.SetCimom(params);
    ASSERT_EQ(conn.ConnectCimom(), 0) << "connect to the simulator on port " << sim.httpPort();
}

// Every device log line written by a Device, kept for the final secret check.
using Journal = testsupport::SimJournal;

// The default array with our own credentials.
inline sim::Config DefaultConfig() {
    sim::Config c = sim::Config::defaults();
    c.user = kSimUser;
    c.password = kSimPassword;
    for (sim::Array& a : c.arrays) a.password = a.providerSecret = kArrayPassword;
    return c;
}

// One device: its log, a connection to the simulator and the helpers, all bound to it.
struct Device {
    FakeSnapInfo info;
    RkCimConnection conn;
    RkCimUtil util;

    explicit Device(sim::TestServer& sim) {
        Bind(conn, ParamsFor(sim), &info);
        util.m_pLogger = &info;
    }
    ~Device() {
        conn.DisconnectCimom();
        Journal::add(info);
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    bool logged(const std::string& needle) const { return info.logContains(needle); }
};

// Adds a base volume to array arrayIndex; it exists for every request that arrives
// after this returns (the simulator applies the change before answering).
inline std::string AddVolume(sim::TestServer& sim, const std::string& label, size_t arrayIndex = 0,
                             std::string uuid = std::string()) {
    if (uuid.empty()) uuid = sim::makeVolumeUuid("query-test:" + label);
    sim.provider().startJobWithEffect(
        0,
        [uuid, label](sim::Array& a) {
            sim::Volume v;
            v.uuid = uuid;
            v.label = label;
            v.pool = a.pools.front().ref;
            v.blocks = 2048;
            a.volumes.push_back(v);
            a.reindex();
        },
        arrayIndex);
    return uuid;
}

// A started simulator (HTTP only) and one connected device on it.
class QueryTest : public ::testing::Test {
  protected:
    virtual sim::Config SimConfig() { return DefaultConfig(); }

    void SetUp() override {
        RkCimUtil::ClearVolumeCache();
        sim = std::make_unique<sim::TestServer>(SimConfig(), plainHttp());
        dev = std::make_unique<Device>(*sim);
        ASSERT_EQ(dev->conn.ConnectCimom(), 0);
        const sim::Config state = sim->provider().currentState();
        systemName = state.arrays.front().id;
        volumes = state.arrays.front().volumes;
        nameSpace = sim->arrayNamespace();
    }

    void TearDown() override {
        dev.reset();
        sim.reset();
        RkCimUtil::ClearVolumeCache();
        RKPlatformInfo::reset();
    }

    RkCimConnection& conn() { return dev->conn; }
    RkCimUtil& util() { return dev->util; }

    std::unique_ptr<sim::TestServer> sim;
    std::unique_ptr<Device> dev;
    std::string systemName;
    std::string nameSpace;
    std::vector<sim::Volume> volumes;
};

}  // namespace smistest
