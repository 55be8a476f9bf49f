// What the server needs from the simulated provider. The server owns no array
// state; ProviderBackend (sim/server/ProviderBackend.h) adapts sim::Provider.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace cim::xml {
struct Request;
struct Response;
}  // namespace cim::xml

namespace sim {

class Backend {
  public:
    virtual ~Backend() = default;
    // Answers one decoded request; called from many threads at once.
    virtual cim::xml::Response handle(const cim::xml::Request& request) = 0;
    // The fabric view: the LUNs the initiator ports see.
    virtual nlohmann::json fabricLuns(const std::vector<std::string>& initiatorPorts) = 0;
    // The next `count` jobs end in `finalJobState` (8 Terminated, 10 Exception).
    virtual void failNextJobs(int count, uint16_t finalJobState) = 0;
    virtual void setJobsVanish(bool vanish) = 0;
    // Back to the starting array.
    virtual void reset() = 0;
    // Removes an array object as an administrator would (see sim::Provider::removeObject);
    // returns what went. Throws std::invalid_argument when nothing matches.
    virtual std::vector<std::string> removeObject(const std::string& object,
                                                  const std::string& target,
                                                  const std::string& array) = 0;
    // The array state as JSON, passwords and secrets masked.
    virtual nlohmann::json state() = 0;
    // Job modes per method ("Method" or "Method:Operation" -> job), and jobs that stay
    // Running for the next requests; std::invalid_argument for bad values.
    virtual void setJobMode(const std::string& /*methodOrOperation*/, bool /*job*/) {
        throw std::invalid_argument("job modes are not supported");
    }
    virtual void holdNextJobs(int /*count*/, int /*requests*/) {
        throw std::invalid_argument("held jobs are not supported");
    }
    // A change from outside the CIM interface (sim::Provider::control).
    virtual nlohmann::json arrayControl(const nlohmann::json& /*request*/) {
        throw std::invalid_argument("array controls are not supported");
    }
};

}  // namespace sim
