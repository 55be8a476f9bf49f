// A host configuration whose devices are the LUNs the simulator's fabric shows its ports.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include <sim/server/TestServer.h>

#include "rkso/RkDeviceTree.h"
#include "testsupport/TalonConfig.h"

namespace testsupport {

// A port of fchost1 in the simulator's default array.
inline const char* const kSimHostPort = "10000090FA1B2C3D";

class SimHost {
  public:
    // talonItems: lines of section "Talon"; extraSections: whole further sections.
    explicit SimHost(const sim::TestServer& sim, const std::string& kind = "simulation",
                     const std::string& talonItems = std::string(),
                     const std::string& extraSections = std::string(),
                     const std::string& ports = kSimHostPort)
        : m_config(talonItems, "[Host]\nDeviceTree = " + kind + "\nFabricUrl = " + sim.httpUrl() +
                                   "\nInitiatorPorts = " + ports + "\n" + extraSections) {
        RkDeviceTree::reset();
    }
    ~SimHost() { RkDeviceTree::reset(); }
    SimHost(const SimHost&) = delete;
    SimHost& operator=(const SimHost&) = delete;
    // Device names (descriptor texts on VMware) as the host lists them.
    std::vector<std::string> devices() const {
        std::vector<RkBlockDevice> listed;
        CUxError error;
        EXPECT_TRUE(RkDeviceTree::listDevices(listed, error)) << error.AsString();
        std::vector<std::string> names;
        for (const RkBlockDevice& d : listed) names.push_back(d.name);
        return names;
    }
    // The listed device of the volume, or "" when the host does not see it.
    std::string deviceOf(const std::string& uuid) const {
        std::string lower = uuid;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const std::string& name : devices())
            if (name.find(lower) != std::string::npos) return name;
        return std::string();
    }

  private:
    TalonConfig m_config;
};

}  // namespace testsupport
