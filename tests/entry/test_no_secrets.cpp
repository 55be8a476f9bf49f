// After every test of the program (all run with "PRINT_LSI_INFO_FROM_DB" on): no
// device log line or error text carries a password or the array's secret.
#include <gtest/gtest.h>

#include <string>

#include "testsupport/SimSnapshot.h"

namespace {

class NoSecretsInLogs : public ::testing::Environment {
  public:
    void TearDown() override {
        std::lock_guard<std::mutex> lock(testsupport::SimJournal::mutex());
        const auto& lines = testsupport::SimJournal::lines();
        EXPECT_FALSE(lines.empty());
        for (const std::string& line : lines) {
            EXPECT_EQ(line.find(testsupport::kSimPassword), std::string::npos) << line;
            EXPECT_EQ(line.find(testsupport::kArraySecret), std::string::npos) << line;
            EXPECT_EQ(line.find("0ther-Pw!77"), std::string::npos) << line;
        }
    }
};

[[maybe_unused]] const auto* const kRegistered =
    ::testing::AddGlobalTestEnvironment(new NoSecretsInLogs);

}  // namespace
