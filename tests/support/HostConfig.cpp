#include "testsupport/HostConfig.h"

#include <stdexcept>

#include "rkso/RKPlatformInfo.h"

namespace testsupport {

HostConfig::HostConfig(const std::string& text) {
    load(text);
}

HostConfig::~HostConfig() {
    RKPlatformInfo::reset();
}

void HostConfig::load(const std::string& text) {
    std::string error;
    if (!RKPlatformInfo::loadConfigText(text, &error))
        throw std::runtime_error("test configuration: " + error);
}

}  // namespace testsupport
