#include "sim/server/ProviderBackend.h"

#include <cstdio>
#include <iostream>

#include <cim/xml/Codec.h>

namespace sim {

ProviderBackend::ProviderBackend(Provider& provider, std::string stateFile)
    : m_provider(provider), m_stateFile(std::move(stateFile)) {}

cim::xml::Response ProviderBackend::handle(const cim::xml::Request& request) {
    cim::xml::Response response = m_provider.handle(request);
    bool changes = !request.intrinsic || request.methodName == cim::xml::kModifyInstance ||
                   request.methodName == cim::xml::kDeleteInstance ||
                   request.methodName == cim::xml::kCreateInstance;
    if (changes && !m_stateFile.empty() && !response.isError()) {
        try {
            saveState();
        } catch (const std::exception& e) {
            // The answer stands; a later save may succeed.
            std::cerr << "smis-sim: cannot save the state file: " << e.what() << std::endl;
        }
    }
    return response;
}

nlohmann::json ProviderBackend::fabricLuns(const std::vector<std::string>& initiatorPorts) {
    return m_provider.fabricLuns(initiatorPorts);
}

void ProviderBackend::failNextJobs(int count, uint16_t finalJobState) {
    m_provider.failNextJobs(count, finalJobState);
}

void ProviderBackend::setJobsVanish(bool vanish) {
    m_provider.setJobsVanish(vanish);
}

void ProviderBackend::reset() {
    m_provider.reset();
    if (!m_stateFile.empty()) saveState();
}

std::vector<std::string> ProviderBackend::removeObject(const std::string& object,
                                                       const std::string& target,
                                                       const std::string& array) {
    auto removed = m_provider.removeObject(removableKindFromName(object), target, array);
    if (!m_stateFile.empty()) {
        try {
            saveState();
        } catch (const std::exception& e) {
            std::cerr << "smis-sim: cannot save the state file: " << e.what() << std::endl;
        }
    }
    return removed;
}

nlohmann::json ProviderBackend::state() {
    return m_provider.stateJson();
}

void ProviderBackend::saveState() {
    if (m_stateFile.empty()) return;
    std::lock_guard<std::mutex> lock(m_saveMutex);
    // Written aside and renamed, so a crash never leaves half a file behind.
    std::string temp = m_stateFile + ".tmp";
    m_provider.saveState(temp);
    if (std::rename(temp.c_str(), m_stateFile.c_str()) != 0) {
        std::remove(temp.c_str());
        throw std::runtime_error("cannot replace " + m_stateFile);
    }
}

}  // namespace sim
