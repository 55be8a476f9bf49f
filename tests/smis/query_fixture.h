// Helpers shared by the query suites: a simulator with its own credentials, a
// connected RkCimConnection and RkCimUtil tracing into one device log, a scoped
// host configuration, volume creation on the simulated array, and the journal of
// every device log line of the program (checked for secrets at the end).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rkso/RKPlatformInfo.h"
#include "sim/server/TestServer.h"
#include "smis/RkCimConnection.h"
#include "smis/RkCimUtil.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/TalonConfig.h"

namespace querytest {

// Credentials and secrets that must never appear in any log line of the program.
inline const char* const kSimUser = "smisquery";
inline const char* const kSimPassword = "Pw-q7Z!x41";
inline const char* const kArrayPassword = "ArrPw-9k2";
inline const char* const kNewSecret = "N3w-S3cr3t-Value";

// Every device log line written by a fixture, kept for the final secret check.
struct Journal {
    static std::mutex& mutex() {
        static std::mutex mu;
        return mu;
    }
    static std::vector<std::string>& lines() {
        static std::vector<std::string> all;
        return all;
    }
    static void add(const testsupport::FakeSnapInfo& info) {
        std::lock_guard<std::mutex> lock(mutex());
        for (const auto& line : info.logLines()) lines().push_back(line.text);
    }
};

using testsupport::TalonConfig;

// The default array with our own credentials.
inline sim::Config DefaultConfig() {
    sim::Config c = sim::Config::defaults();
    c.user = kSimUser;
    c.password = kSimPassword;
    for (sim::Array& a : c.arrays) {
        a.password = kArrayPassword;
        a.providerSecret = kArrayPassword;
    }
    return c;
}

// One device: its log, a connection to the simulator and the helpers, all bound to it.
struct Device {
    testsupport::FakeSnapInfo info;
    RkCimConnection conn;
    RkCimUtil util;

    explicit Device(sim::TestServer& sim) {
        conn.m_pLogger = &info;
        util.m_pLogger = &info;
        RkCimomParams p;
        p.name = "array1";
        p.address = "127.0.0.1";
        p.port = sim.httpPort();
        p.nameSpace = sim.arrayNamespace();
        p.userName = sim.user();
        p.password = sim.password();
        conn.GetCimom().SetCimom(p);
    }
    ~Device() {
        conn.DisconnectCimom();
        Journal::add(info);
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    bool logged(const std::string& needle) const { return info.logContains(needle); }
    int countLines(const std::string& needle) const {
        int n = 0;
        for (const auto& line : info.logLines())
            if (line.text.find(needle) != std::string::npos) ++n;
        return n;
    }
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

// Requests of one operation in the simulator's log.
inline size_t CountRequests(sim::TestServer& sim, const std::string& operation,
                            const std::string& className = std::string()) {
    auto all = sim.requests();
    return static_cast<size_t>(std::count_if(all.begin(), all.end(), [&](const auto& r) {
        return r.operation == operation && (className.empty() || r.className == className);
    }));
}

// A started simulator (HTTP only) and one connected device on it.
class QueryTest : public ::testing::Test {
  protected:
    virtual sim::Config SimConfig() { return DefaultConfig(); }

    void SetUp() override {
        RkCimUtil::ClearVolumeCache();
        sim::TestServerOptions options;
        options.https = false;
        sim = std::make_unique<sim::TestServer>(SimConfig(), options);
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

}  // namespace querytest
