// The simulated array through our CIM client over real HTTP, on a manual clock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <cim/CIMClient.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "sim/server/TestServer.h"
#include "testsupport/SimClock.h"

namespace testsupport {

// An extrinsic call's answer.
struct Outcome {
    uint32_t rc = 0xFFFFFFFF;
    std::vector<cim::CIMParamValue> out;
    bool has(const std::string& name) const;
    cim::CIMObjectPath path(const std::string& name) const;  // a reference output
};

class SimArray {
  public:
    explicit SimArray(sim::Config config = sim::Config::defaults());

    sim::TestServer& server() { return *m_server; }
    sim::Provider& provider() { return m_server->provider(); }
    cim::CIMClient& client() { return m_client; }
    const std::string& ns() const { return m_ns; }
    const std::string& prefix() const { return m_prefix; }
    // Lets running jobs reach their final state (on the next request).
    void finishJobs() { m_clock.advance(m_jobMs + 1); }

    // The first instance of a class (a service, the shared secret...).
    cim::CIMObjectPath first(const std::string& cls);
    cim::CIMObjectPath volume(const std::string& label);
    // The instance of `cls` whose "ElementName" is `name`; an empty path when none.
    cim::CIMObjectPath named(const std::string& cls, const std::string& name);
    cim::CIMInstance instance(const cim::CIMObjectPath& path);
    std::string property(const cim::CIMObjectPath& path, const std::string& name);
    size_t count(const std::string& cls);

    // `method` of the first instance of `serviceClass` (without the prefix).
    Outcome call(const std::string& serviceClass, const std::string& method,
                 const std::vector<cim::CIMParamValue>& in);
    // "JobState" of a job output; finishes nothing.
    uint16_t jobState(const Outcome& o);

    // The arrays as the state file holds them, to compare before and after.
    nlohmann::json state();
    // Success when the arrays are as `before`; else the differences, briefly.
    ::testing::AssertionResult unchanged(const nlohmann::json& before);
    // A POST to /control/... (by default a change from outside the CIM interface); its answer.
    nlohmann::json control(const nlohmann::json& request,
                           const std::string& path = "/control/array");
    // InvokeMethod requests in the log (of `method`, or all).
    size_t invocations(const std::string& method = std::string());

  private:
    ManualClock m_clock;
    int64_t m_jobMs;
    std::unique_ptr<sim::TestServer> m_server;
    cim::CIMClient m_client;
    std::string m_ns;
    std::string m_prefix;
};

inline cim::CIMParamValue param(const std::string& name, const cim::CIMValue& value) {
    return cim::CIMParamValue(name, value);
}
inline cim::CIMValue u16(unsigned v) {
    return cim::CIMValue(static_cast<cim::Uint16>(v));
}
inline cim::CIMValue u64(uint64_t v) {
    return cim::CIMValue(static_cast<cim::Uint64>(v));
}
inline cim::CIMValue refs(std::vector<cim::CIMObjectPath> paths) {
    return cim::CIMValue(paths);
}
// The key "SettingData" of a settings-define-state reference: the PiT's path.
cim::CIMObjectPath settingData(const cim::CIMObjectPath& defineState);

}  // namespace testsupport
