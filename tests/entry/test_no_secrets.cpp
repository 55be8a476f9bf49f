// No device log, error text or module log line of the whole program holds a secret.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "testsupport/LogCapture.h"
#include "testsupport/SimSnapshot.h"

namespace {

const char* const kCredentials[] = {testsupport::kSimPassword, testsupport::kArraySecret};

struct NoSecretsInLogs : ::testing::Environment {
    std::unique_ptr<testsupport::LogCapture> m_module;
    void SetUp() override { m_module = std::make_unique<testsupport::LogCapture>(); }
    void TearDown() override {
        std::lock_guard<std::mutex> lock(testsupport::SimJournal::mutex());
        const auto& lines = testsupport::SimJournal::lines();
        for (const char* credential : kCredentials) {
            for (const std::string& line : lines)
                EXPECT_EQ(line.find(credential), std::string::npos) << line;
            EXPECT_FALSE(m_module->contains(credential)) << "module log";
        }
        m_module.reset();
    }
};

[[maybe_unused]] const auto* const kRegistered =
    ::testing::AddGlobalTestEnvironment(new NoSecretsInLogs);

}  // namespace
