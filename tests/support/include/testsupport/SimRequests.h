// The simulator after a fault: held jobs ended, objects compared with the start.
#pragma once

#include <cim/CIMClient.h>
#include <sim/server/TestServer.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Requests a held job stays Running: past the plug-in's watch of 60 polls.
constexpr int kStuckRequests = 80;

// Requests of no effect, so that a job held for a number of requests ends meanwhile.
inline void PassRequests(sim::TestServer& sim, int n) {
    cim::CIMClient client;
    client.connect("127.0.0.1", static_cast<cim::Uint32>(sim.httpPort()), sim.user(),
                   sim.password());
    for (int i = 0; i < n; ++i)
        client.enumerateInstanceNames(sim.interopNamespace(), "CIM_Namespace");
    client.disconnect();
}

// What a job answer is set for: "Method", or "Method:Operation" where the call names one.
inline std::string JobKey(const sim::RequestRecord& q) {
    std::string key = q.method;
    for (const auto& p : q.params)
        if (p.name == "Operation") key += ":" + p.value;
    return key;
}

// The array did the work of a call to method whose answer never reached the host.
inline bool AnswerLost(sim::TestServer& sim, const std::string& method) {
    const auto log = sim.requests();
    return std::any_of(log.begin(), log.end(),
                       [&](const auto& q) { return q.method == method && q.fault == "truncated"; });
}

// The first array without what changes by design: PiT groups stay, data generations move.
inline nlohmann::json ArrayObjects(const nlohmann::json& state) {
    nlohmann::json a = state["arrays"][0];
    a.erase("pitGroups");
    for (auto& v : a["volumes"]) v.erase("dataGeneration");
    return a;
}

// The objects of now (ArrayObjects) that were not there at the start, with their kind.
inline std::vector<std::pair<std::string, nlohmann::json>> AddedObjects(const nlohmann::json& start,
                                                                        const nlohmann::json& now) {
    std::vector<std::pair<std::string, nlohmann::json>> out;
    for (const auto& kind : now.items()) {
        if (!kind.value().is_array()) continue;
        const nlohmann::json was = start.value(kind.key(), nlohmann::json::array());
        for (const nlohmann::json& o : kind.value())
            if (std::find(was.begin(), was.end(), o) == was.end()) out.push_back({kind.key(), o});
    }
    return out;
}

}  // namespace testsupport
