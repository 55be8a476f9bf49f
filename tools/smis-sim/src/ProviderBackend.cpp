#include "sim/server/ProviderBackend.h"

#include <cim/xml/Codec.h>

namespace sim {

ProviderBackend::ProviderBackend(Provider& provider, std::string stateFile) : m_provider(provider) {
    if (!stateFile.empty()) m_provider.persistTo(stateFile);
}

cim::xml::Response ProviderBackend::handle(const cim::xml::Request& request) {
    return m_provider.handle(request);
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
}

void ProviderBackend::setJobMode(const std::string& methodOrOperation, bool job) {
    m_provider.setJobMode(methodOrOperation, job);
}

void ProviderBackend::holdNextJobs(int count, int requests) {
    m_provider.holdNextJobs(count, requests);
}

nlohmann::json ProviderBackend::arrayControl(const nlohmann::json& request) {
    return m_provider.control(request);
}

std::vector<std::string> ProviderBackend::removeObject(const std::string& object,
                                                       const std::string& target,
                                                       const std::string& array) {
    return m_provider.removeObject(removableKindFromName(object), target, array);
}

nlohmann::json ProviderBackend::state() {
    return m_provider.stateJson();
}

void ProviderBackend::saveState() {
    m_provider.flushState();
}

}  // namespace sim
