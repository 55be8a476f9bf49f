// After every test of the program: no device log line carries a credential.
#include <gtest/gtest.h>

#include <string>

#include "testsupport/SimSnapshot.h"

namespace {

class NoSecretsInLogs : public ::testing::Environment {
  public:
    void TearDown() override {
        std::lock_guard<std::mutex> lock(testsupport::SimJournal::mutex());
        const auto& lines = testsupport::SimJournal::lines();
        for (const std::string& line : lines) {
            EXPECT_EQ(line.find(testsupport::kSimPassword), std::string::npos) << line;
            EXPECT_EQ(line.find(testsupport::kArraySecret), std::string::npos) << line;
        }
    }
};

[[maybe_unused]] const auto* const kRegistered =
    ::testing::AddGlobalTestEnvironment(new NoSecretsInLogs);

}  // namespace
