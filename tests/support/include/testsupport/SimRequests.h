// Requests of no effect, so that a job the simulator holds for a number of requests ends
// meanwhile, as it would while a host waits between calls.
#pragma once

#include <cim/CIMClient.h>
#include <sim/server/TestServer.h>

namespace testsupport {

inline void PassRequests(sim::TestServer& sim, int n) {
    cim::CIMClient client;
    client.connect("127.0.0.1", static_cast<cim::Uint32>(sim.httpPort()), sim.user(),
                   sim.password());
    for (int i = 0; i < n; ++i)
        client.enumerateInstanceNames(sim.interopNamespace(), "CIM_Namespace");
    client.disconnect();
}

}  // namespace testsupport
