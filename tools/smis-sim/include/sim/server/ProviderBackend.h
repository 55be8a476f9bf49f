// Serves a sim::Provider through the server, optionally keeping the array in a
// state file (saved by the provider off the request path).
#pragma once

#include <string>

#include <sim/Provider.h>

#include "sim/server/Backend.h"

namespace sim {

class ProviderBackend : public Backend {
  public:
    // An empty stateFile saves nothing.
    explicit ProviderBackend(Provider& provider, std::string stateFile = std::string());

    cim::xml::Response handle(const cim::xml::Request& request) override;
    nlohmann::json fabricLuns(const std::vector<std::string>& initiatorPorts) override;
    void failNextJobs(int count, uint16_t finalJobState) override;
    void setJobsVanish(bool vanish) override;
    void reset() override;
    std::vector<std::string> removeObject(const std::string& object, const std::string& target,
                                          const std::string& array) override;
    nlohmann::json state() override;
    void setJobMode(const std::string& methodOrOperation, bool job) override;
    void holdNextJobs(int count, int requests) override;
    nlohmann::json arrayControl(const nlohmann::json& request) override;

    // Writes the state file now if the array changed (no-op without one). Throws on
    // I/O failure.
    void saveState();

  private:
    Provider& m_provider;
};

}  // namespace sim
