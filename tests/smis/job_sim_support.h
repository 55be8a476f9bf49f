// Shared by the job and synchronization suites: an in-process simulator on a manual
// clock, a connection to it, and readers for the traces a device received.
#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sim/server/TestServer.h>

#include "smis/RkCimConnection.h"
#include "smis/RkCimom.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/SimClock.h"

namespace jobsync {

// The provider's clock; jobs advance only when a test moves it.
using ManualClock = testsupport::ManualClock;

inline sim::TestServerOptions plainHttp(const ManualClock& clock) {
    sim::TestServerOptions o;
    o.https = false;
    o.clock = clock.clock();
    return o;
}

// Points conn at the simulator's HTTP listener and connects it.
inline void connectTo(sim::TestServer& sim, RkCimConnection& conn) {
    RkCimomParams params;
    params.address = "127.0.0.1";
    params.port = static_cast<decltype(params.port)>(sim.httpPort());
    params.nameSpace = sim.arrayNamespace();
    params.userName = sim.user();
    params.password = sim.password();
    conn.m_Cimom.SetCimom(params);
    ASSERT_EQ(conn.ConnectCimom(), 0) << "connect to the simulator on port " << sim.httpPort();
}

// Texts of the lines a device received, without the level.
inline std::vector<std::string> texts(const testsupport::FakeSnapInfo& dev) {
    std::vector<std::string> out;
    for (const auto& l : dev.logLines()) out.push_back(l.text);
    return out;
}

inline size_t countLines(const testsupport::FakeSnapInfo& dev, const std::string& needle) {
    auto all = texts(dev);
    return static_cast<size_t>(std::count_if(all.begin(), all.end(), [&](const std::string& t) {
        return t.find(needle) != std::string::npos;
    }));
}

// Index of the first line containing needle; -1 when none.
inline int lineIndex(const testsupport::FakeSnapInfo& dev, const std::string& needle) {
    auto all = texts(dev);
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].find(needle) != std::string::npos) return static_cast<int>(i);
    return -1;
}

// Requests of one operation in the simulator's log.
inline size_t countRequests(sim::TestServer& sim, const std::string& operation) {
    auto all = sim.requests();
    return static_cast<size_t>(std::count_if(
        all.begin(), all.end(), [&](const auto& r) { return r.operation == operation; }));
}

}  // namespace jobsync
