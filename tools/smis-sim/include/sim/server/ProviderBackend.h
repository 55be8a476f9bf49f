// Serves a sim::Provider through the server, optionally saving the array to a
// state file after every request that may have changed it.
#pragma once

#include <mutex>
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

    // Writes the state file now (no-op without one). Throws on I/O failure.
    void saveState();

  private:
    Provider& m_provider;
    std::string m_stateFile;
    std::mutex m_saveMutex;
};

}  // namespace sim
