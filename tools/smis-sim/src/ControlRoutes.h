// The control interface under /control/ (faults, removals, jobs, state, log) and the
// fabric view on POST /fabric/luns; see sim/server/Server.h for the requests.
#pragma once

#include <functional>

#include "Routes.h"
#include "sim/server/Backend.h"
#include "sim/server/Faults.h"
#include "sim/server/Removals.h"
#include "sim/server/RequestLog.h"

namespace sim::detail {

class ControlRoutes {
  public:
    ControlRoutes(Backend& backend, FaultInjector& faults, Removals& removals, RequestLog& log);
    // The fabric view asks for credentials only when `fabricNeedsLogin`.
    void add(Routes& routes, bool fabricNeedsLogin);

  private:
    // A control request: credentials, a JSON body of at most 1 MiB, and its refusals
    // as 400 answers naming the problem.
    void control(Routes& routes, const char* method, const char* path,
                 std::function<void(const nlohmann::json&, httplib::Response&)> fn);

    Backend& m_backend;
    FaultInjector& m_faults;
    Removals& m_removals;
    RequestLog& m_log;
};

}  // namespace sim::detail
