// After all tests: no line of the host or device logs holds a password or shared secret.
#include "smis_fixture.h"

namespace smistest {

class NoSecretsInLog : public ::testing::Environment {
  public:
    void SetUp() override { m_capture = std::make_unique<testsupport::LogCapture>(); }
    void TearDown() override {
        std::vector<std::string> all;
        for (const auto& line : m_capture->lines()) all.push_back(line.tag + ": " + line.text);
        {
            std::lock_guard<std::mutex> lock(Journal::mutex());
            all.insert(all.end(), Journal::lines().begin(), Journal::lines().end());
        }
        m_capture.reset();
        // One test per process under ctest: an empty log is no failure.
        for (const std::string& line : all) {
            for (const char* secret :
                 {testsupport::kSimPassword, testsupport::kArraySecret, kNewSecret})
                EXPECT_EQ(line.find(secret), std::string::npos) << "secret in log: " << line;
        }
    }

  private:
    std::unique_ptr<testsupport::LogCapture> m_capture;
};

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new NoSecretsInLog);

}  // namespace smistest
