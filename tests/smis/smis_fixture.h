// The access layer's suites: connections bound to a simulator and a connected device.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "rkso/RKPlatformInfo.h"
#include "sim/server/TestServer.h"
#include "smis/RkCimConnection.h"
#include "smis/RkCimUtil.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/SimClock.h"
#include "testsupport/SimSnapshot.h"
#include "testsupport/TalonConfig.h"

namespace smistest {

using namespace testsupport;
using Journal = testsupport::SimJournal;
using RequestKey = sim::RequestKey;

// A secret value that must never appear in any log line of the program.
inline const char* const kNewSecret = "N3w-S3cr3t-Value";

// Lines of a device log holding needle.
inline int count(const FakeSnapInfo& info, const std::string& needle) {
    int n = 0;
    for (const auto& line : info.logLines()) n += line.text.find(needle) != std::string::npos;
    return n;
}

inline RkCimomParams ParamsFor(sim::TestServer& sim, bool https = false,
                               const std::string& password = "") {
    RkCimomParams p;
    p.name = "array1";
    p.address = "127.0.0.1";
    p.port = https ? sim.httpsPort() : sim.httpPort();
    p.nameSpace = sim.arrayNamespace();
    p.userName = sim.user();
    p.password = password.empty() ? sim.password() : password;
    p.useSSL = https;
    return p;
}

// A connection to the simulator, tracing into info, not yet connected.
inline void Bind(RkCimConnection& conn, RkCimomParams params, RKSO::SnapInfo* info) {
    conn.m_pLogger = info;
    conn.GetCimom().SetCimom(params);
}

// Bound and connected.
inline void Open(RkCimConnection& conn, RkCimomParams params, RKSO::SnapInfo* info = nullptr) {
    Bind(conn, params, info);
    ASSERT_EQ(conn.ConnectCimom(), 0) << "connect to the simulator on port " << params.port;
}

inline sim::TestServerOptions Clocked(const ManualClock& clock) {
    sim::TestServerOptions o = testsupport::PlainHttp();
    o.clock = clock.clock();
    return o;
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
};

// Adds a base volume to array arrayIndex, there for every request after this returns.
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
    virtual sim::Config Config() { return SimConfig(); }
    void SetUp() override {
        RkCimUtil::ClearVolumeCache();
        sim = std::make_unique<sim::TestServer>(Config(), testsupport::PlainHttp());
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
    bool logged(const std::string& needle) const { return dev->info.logContains(needle); }
    std::unique_ptr<sim::TestServer> sim;
    std::unique_ptr<Device> dev;
    std::string systemName, nameSpace;
    std::vector<sim::Volume> volumes;
};

}  // namespace smistest
