// Host configuration for one test: loads the text into the configuration store
// (RKPlatformInfo) and clears the store again on destruction.
#pragma once

#include <string>

namespace testsupport {

class HostConfig {
  public:
    explicit HostConfig(const std::string& text = std::string());
    ~HostConfig();
    HostConfig(const HostConfig&) = delete;
    HostConfig& operator=(const HostConfig&) = delete;

    // Replaces the whole configuration.
    void load(const std::string& text);
};

}  // namespace testsupport
