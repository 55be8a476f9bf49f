// Host configuration ("Talon" and "~Talon" items) in force for the life of the object.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "rkso/RKPlatformInfo.h"

namespace testsupport {

class TalonConfig {
  public:
    // items: lines of section "Talon"; extraSections: whole further sections.
    explicit TalonConfig(const std::string& items = std::string(),
                         const std::string& extraSections = std::string()) {
        std::string error;
        EXPECT_EQ(
            RKPlatformInfo::loadConfigText("[Talon]\n" + items + "\n" + extraSections, &error), 1)
            << error;
    }
    ~TalonConfig() { RKPlatformInfo::reset(); }
    TalonConfig(const TalonConfig&) = delete;
    TalonConfig& operator=(const TalonConfig&) = delete;
};

}  // namespace testsupport
