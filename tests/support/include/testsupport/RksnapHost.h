// rksnap as a process on a temporary configuration with one array of the simulator.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "sim/server/TestServer.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TempDir.h"

#ifndef RKSNAP_BINARY
#error "RKSNAP_BINARY names the rksnap program"
#endif

namespace testsupport {

// The default array with jobs that finish at once, so a host poll never waits long.
inline sim::Config fastJobs() {
    sim::Config c = sim::Config::defaults();
    c.jobs.durationMs = 10;
    return c;
}

struct RksnapResult {
    int exitCode = -1;
    std::string out;
    std::string err;
    nlohmann::json doc;  // stdout as JSON, when it is
};

// args after --json.
inline std::vector<std::string> Json(std::vector<std::string> args) {
    args.insert(args.begin(), "--json");
    return args;
}

// A loopback port nothing listens on: a provider that is down.
using cimtest::closedPort;

// How the host is set up; the defaults give a working host.
struct RksnapSetup {
    std::string providerPassword;  // what `array add` stores; "" = the simulator's
    int httpsPort = 0;             // 0 = the simulator's
    std::string initiatorPorts = "10000090FA1B2C3D";
    std::vector<std::string> addArgs;  // more `array add` options
    int clockScale = 100;              // host waits run this much faster; at most 1000
};

class RksnapHost {
  public:
    explicit RksnapHost(sim::TestServer& sim, RksnapSetup setup = RksnapSetup()) : m_sim(sim) {
        m_config = m_dir.write("etc/rksnap.conf",
                               "[Host]\nDeviceTree = simulation\nFabricUrl = " + sim.httpUrl() +
                                   "\nInitiatorPorts = " + setup.initiatorPorts +
                                   "\nClockScale = " + std::to_string(setup.clockScale) + "\n",
                               0600);
        m_passwordFile = m_dir.write(
            "pw", (setup.providerPassword.empty() ? sim.password() : setup.providerPassword) + "\n",
            0600);
        // clang-format off
        std::vector<std::string> add = {"array", "add", "sim1", "--address", "127.0.0.1", "--port",
            std::to_string(setup.httpsPort ? setup.httpsPort : sim.httpsPort()), "--array-id", arrayId(),
            "--user", sim.user(), "--password-file", m_passwordFile};
        // clang-format on
        add.insert(add.end(), setup.addArgs.begin(), setup.addArgs.end());
        RksnapResult r = run(add);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        RksnapResult d = run({"devices", "--json"});
        for (const auto& dev : d.doc.value("devices", nlohmann::json::array()))
            m_devices.push_back(dev.value("device", std::string()));
    }
    RksnapResult run(std::vector<std::string> args) const {
        ChildProcess child = start(std::move(args));
        return finish(child);
    }
    // Started, not awaited: for tests that stop it on their own. "$0", "$1": device(0), (1).
    ChildProcess start(std::vector<std::string> args) const {
        for (std::string& a : args)
            if (a == "$0" || a == "$1") a = device(a == "$1");
        args.insert(args.begin(), {"--config", m_config, "--state-dir", stateDir()});
        return ChildProcess(RKSNAP_BINARY, args);
    }
    static RksnapResult finish(ChildProcess& child) {
        RksnapResult r;
        r.out = child.drain();
        r.err = child.drain(true);
        r.exitCode = child.wait();
        r.doc = nlohmann::json::parse(r.out, nullptr, false);
        return r;
    }
    std::string arrayId() const { return m_sim.provider().config().arrays.at(0).id; }
    // The nth LUN the fabric shows this host.
    std::string device(size_t n) const { return n < m_devices.size() ? m_devices[n] : "/dev/none"; }
    std::string stateDir() const { return m_dir.file("state"); }
    const std::string& configPath() const { return m_config; }
    const TempDir& dir() const { return m_dir; }

  private:
    sim::TestServer& m_sim;
    TempDir m_dir;
    std::string m_config;
    std::string m_passwordFile;
    std::vector<std::string> m_devices;
};

}  // namespace testsupport
