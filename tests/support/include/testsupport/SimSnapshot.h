// An E-Series snapshot object bound to an in-process simulator, and its request log read.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <sim/Config.h>
#include <sim/server/TestServer.h>

#include "eseries/LSISnapshot.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/LogCapture.h"
#include "testsupport/SimClock.h"
#include "testsupport/SimPiTs.h"
#include "testsupport/TalonConfig.h"

namespace testsupport {

// Credentials that no log line may ever carry.
inline const char* const kSimUser = "snapuser";
inline const char* const kSimPassword = "Sn4p-Pw!x93";
inline const char* const kArraySecret = "ArrSecret-7Qk";

// The default array under preset ("LSISSI", "DCIM", "NETAPP"); jobs end at once: no sleep.
inline sim::Config SimConfig(const std::string& preset = "NETAPP") {
    sim::Config c = sim::Config::defaults();
    const sim::Preset p = sim::Config::presetFor(preset);
    c.preset = p.name;
    c.classPrefix = p.classPrefix;
    c.arrayNamespace = p.arrayNamespace;
    c.user = kSimUser;
    c.password = kSimPassword;
    c.jobs.durationMs = 0;
    for (sim::Array& a : c.arrays) {
        a.password = kArraySecret;
        a.providerSecret = kArraySecret;
    }
    return c;
}

// No line of the device's log or of the module log carries the provider password.
inline void ExpectNoPassword(const FakeSnapInfo& info, const LogCapture& module,
                             const std::string& row) {
    for (const LogLine& line : info.logLines())
        EXPECT_EQ(line.text.find(kSimPassword), std::string::npos) << row << ": " << line.text;
    EXPECT_FALSE(module.contains(kSimPassword)) << row;
}

// Adds base volumes of 1 GiB (512-byte blocks) in the first pool of the first array.
inline void AddVolumes(sim::Config& c, const std::vector<std::string>& labels) {
    sim::Array& a = c.arrays.front();
    for (const std::string& label : labels) {
        sim::Volume v;
        v.uuid = sim::makeVolumeUuid("snap-test:" + label);
        v.label = label;
        v.pool = a.pools.front().ref;
        v.blocks = 2097152;
        a.volumes.push_back(v);
    }
}

// Plain HTTP; the simulator's time from clock when one is given.
inline sim::TestServerOptions PlainHttp(std::function<int64_t()> clock = nullptr) {
    sim::TestServerOptions o;
    o.https = false;
    if (clock) o.clock = clock;
    return o;
}

// Requests in the simulator's log; empty fields match anything.
inline size_t CountRequests(const sim::TestServer& sim, const std::string& operation,
                            const std::string& methodOrClass = std::string()) {
    auto all = sim.requests();
    return static_cast<size_t>(std::count_if(all.begin(), all.end(), [&](const auto& r) {
        return r.operation == operation &&
               (methodOrClass.empty() || r.method == methodOrClass || r.className == methodOrClass);
    }));
}

// The extrinsic calls of method ("" for any) in the simulator's log, in arrival order.
inline std::vector<sim::RequestRecord> Calls(const sim::TestServer& sim,
                                             const std::string& method) {
    std::vector<sim::RequestRecord> calls;
    for (const sim::RequestRecord& r : sim.requests())
        if (r.operation == "InvokeMethod" && (method.empty() || r.method == method))
            calls.push_back(r);
    return calls;
}

// The in-parameter name of a logged call; throws when it was not sent.
inline const sim::ParamRecord& Param(const sim::RequestRecord& call, const std::string& name) {
    for (const sim::ParamRecord& p : call.params)
        if (p.name == name) return p;
    throw std::out_of_range(call.method + " was sent without " + name);
}

// The in-parameters of a logged call in order: "name=type:value", "name=ref", "name=null".
inline std::string Sent(const sim::RequestRecord& call) {
    std::string sent;
    for (const sim::ParamRecord& p : call.params)
        sent += (sent.empty() ? "" : " ") + p.name + "=" +
                (p.null                  ? "null"
                 : p.type == "reference" ? "ref"
                                         : p.type + ":" + p.value);
    return sent;
}

// Every device log line of the program, for a final check that no credential leaked.
struct SimJournal {
    static std::mutex& mutex() { return mu; }
    static std::vector<std::string>& lines() { return all; }
    static void add(const FakeSnapInfo& info) {
        std::lock_guard<std::mutex> lock(mu);
        for (const auto& line : info.logLines()) all.push_back(line.text);
        all.push_back(info.errorText());
    }
    static inline std::mutex mu;
    static inline std::vector<std::string> all;
};

// An LSISnapshot whose job waits move a manual clock instead of sleeping.
class ClockedLSISnapshot : public LSISnapshot {
  public:
    ManualClock clock;
    // Called before each wait, on the waiting thread.
    std::function<void()> beforeSleep;

  protected:
    void SleepSeconds(unsigned int seconds) override {
        if (beforeSleep) beforeSleep();
        clock.advance(1000LL * seconds);
    }
};

// One device: its host log and a snapshot object pointed at the simulator's first array.
template <class Snap>
struct BasicSimSnapshot {
    FakeSnapInfo info;
    Snap snap;
    sim::Array array;  // the array as it was when the device was made

    explicit BasicSimSnapshot(sim::TestServer& sim, size_t arrayIndex = 0) {
        array = sim.provider().currentState().arrays.at(arrayIndex);
        snap.SetLogger(&info);
        bind(sim.httpPort(), sim.arrayNamespace(), sim.user(), sim.password());
        snap.m_SystemName = array.id;
    }
    ~BasicSimSnapshot() { SimJournal::add(info); }
    BasicSimSnapshot(const BasicSimSnapshot&) = delete;
    BasicSimSnapshot& operator=(const BasicSimSnapshot&) = delete;

    const sim::Volume& volume(const std::string& label) const { return VolumeOf(array, label); }

    // The endpoint on 127.0.0.1; port 0 keeps the one in use. The system stays.
    void bind(int port, const std::string& nameSpace, const std::string& user,
              const std::string& password) {
        RK_SMIS_SNAP::RkArrayParams p;
        p.name = array.name;
        p.address = "127.0.0.1";
        p.port = port;
        p.nameSpace = nameSpace;
        p.userName = user;
        p.password = password;
        p.m_SystemName = snap.m_SystemName;
        snap.SetArrayInfo(p);
    }
    // Points the device at a closed port: every connection fails.
    void unreachable() { bind(1, "root/none", "u", "p"); }
    // Keeps the endpoint but offers a password the provider refuses (HTTP 401).
    void wrongPassword() {
        bind(0, snap.m_CimConnection.GetNameSpace(), snap.m_CimConnection.GetCimom().GetUserName(),
             "not-the-password");
    }

    // A PiT request for the volume labelled label: snapshot name, source UUID, operation 7.
    void forPiT(const std::string& label, const std::string& snapName = "snap1") {
        snap.m_SnapName = snapName;
        snap.m_SourceDev = volume(label).uuid;
        snap.m_PiTOperation = 7;
    }

    bool logged(const std::string& needle) const { return info.logContains(needle); }
};

using SimSnapshot = BasicSimSnapshot<LSISnapshot>;

}  // namespace testsupport
