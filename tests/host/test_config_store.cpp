#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "rkso/RKPlatformInfo.h"
#include "rkso/SnapInfo.h"
#include "testsupport/LogCapture.h"

namespace {

class TempFile {
  public:
    TempFile() {
        char name[] = "/tmp/rkhost-config-XXXXXX";
        int fd = mkstemp(name);
        if (fd >= 0) close(fd);
        m_path = name;
    }
    ~TempFile() { std::remove(m_path.c_str()); }
    void write(const std::string& text) const { std::ofstream(m_path, std::ios::binary) << text; }
    const std::string& path() const { return m_path; }

  private:
    std::string m_path;
};

class ConfigStore : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("RKHOST_CONFIG");
        RKPlatformInfo::reset();
    }
    void TearDown() override { RKPlatformInfo::reset(); }

    static void load(const std::string& text) {
        std::string error;
        ASSERT_EQ(RKPlatformInfo::loadConfigText(text, &error), 1) << error;
    }
};

TEST_F(ConfigStore, AbsentKeysAnswerAbsentAndKeepTheCallersValue) {
    load("[Talon]\nOTHER = 1\n");
    RKPlatformInfo info;
    unsigned long number = 300;
    int integer = 7;
    std::string text = "keep";
    EXPECT_EQ(info.getNumber("Talon", "RK_SMIS_CLIENT_TIMEOUT_IN_SEC", &number), 0);
    EXPECT_EQ(info.getRegInt("~Talon", "LSI_SMIS_PORT", &integer), 0);
    EXPECT_EQ(info.getString("Talon", "LSI_VENDOR_NAME", &text), 0);
    EXPECT_EQ(info.getString("NoSuchSection", "OTHER", &text), 0);
    EXPECT_EQ(number, 300u);
    EXPECT_EQ(integer, 7);
    EXPECT_EQ(text, "keep");
}

TEST_F(ConfigStore, KeyPresentWithZeroIsPresent) {
    load("[Talon]\nRK_PEGASUS_FAULT_RETRY = 0\n[~Talon]\nLSI_SMIS_USE_HTTPS=0\n");
    RKPlatformInfo info;
    unsigned long number = 99;
    int integer = 99;
    EXPECT_NE(info.getNumber("Talon", "RK_PEGASUS_FAULT_RETRY", &number), 0);
    EXPECT_EQ(number, 0u);
    EXPECT_NE(info.getRegInt("~Talon", "LSI_SMIS_USE_HTTPS", &integer), 0);
    EXPECT_EQ(integer, 0);
}

TEST_F(ConfigStore, SectionsAreSeparateAndSubSectionsAreNamedWithSlash) {
    load("[Talon]\nKEY = talon\n[~Talon]\nKEY = 1\n[~Talon/LSI]\nKEY = 2\n");
    RKPlatformInfo info;
    std::string text;
    int value = 0;
    EXPECT_NE(info.getString("Talon", "KEY", &text), 0);
    EXPECT_EQ(text, "talon");
    EXPECT_NE(info.getRegInt("~Talon", "KEY", &value), 0);
    EXPECT_EQ(value, 1);
    EXPECT_NE(info.getRegInt("~Talon/LSI", "KEY", &value), 0);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(info.getRegInt("~talon", "KEY", &value), 0) << "section names are exact";
}

TEST_F(ConfigStore, NumbersAreStrict) {
    load(
        "[Talon]\n"
        "DEC = 42\nHEX = 0x1F\nNEG = -5\nJUNK = 12abc\nWORD = abc\nEMPTY =\n"
        "BIG = 99999999999999999999999\nINTBIG = 4294967296\nPLUS = +3\n");
    RKPlatformInfo info;
    unsigned long n = 1;
    int i = 1;
    EXPECT_NE(info.getNumber("Talon", "DEC", &n), 0);
    EXPECT_EQ(n, 42u);
    EXPECT_NE(info.getNumber("Talon", "HEX", &n), 0);
    EXPECT_EQ(n, 31u);
    EXPECT_NE(info.getRegInt("Talon", "NEG", &i), 0);
    EXPECT_EQ(i, -5);
    EXPECT_NE(info.getRegInt("Talon", "PLUS", &i), 0);
    EXPECT_EQ(i, 3);

    testsupport::LogCapture log;
    n = 7;
    i = 7;
    for (const char* key : {"NEG", "JUNK", "WORD", "EMPTY", "BIG"}) {
        EXPECT_EQ(info.getNumber("Talon", key, &n), 0) << key;
        EXPECT_EQ(n, 7u) << key;
    }
    for (const char* key : {"JUNK", "WORD", "EMPTY", "BIG", "INTBIG"}) {
        EXPECT_EQ(info.getRegInt("Talon", key, &i), 0) << key;
        EXPECT_EQ(i, 7) << key;
    }
    EXPECT_TRUE(log.contains("is not a valid")) << "a bad value is reported, not silently used";
}

TEST_F(ConfigStore, TextValuesAreVerbatimAfterTrimming) {
    load(
        "\xEF\xBB\xBF# comment\r\n; another\r\n[Talon]\r\n"
        "PLAIN =  some text  \r\nHASH = pass#word;x\r\nQUOTED = \"  padded  \"\r\n"
        "EQUALS = a=b\r\n");
    RKPlatformInfo info;
    std::string v;
    EXPECT_NE(info.getString("Talon", "PLAIN", &v), 0);
    EXPECT_EQ(v, "some text");
    EXPECT_NE(info.getString("Talon", "HASH", &v), 0);
    EXPECT_EQ(v, "pass#word;x");
    EXPECT_NE(info.getString("Talon", "QUOTED", &v), 0);
    EXPECT_EQ(v, "  padded  ");
    EXPECT_NE(info.getString("Talon", "EQUALS", &v), 0);
    EXPECT_EQ(v, "a=b");
}

TEST_F(ConfigStore, MalformedTextIsRejectedAndPreviousValuesStay) {
    load("[Talon]\nKEY = old\n");
    const std::vector<std::string> bad = {
        "[Talon\nKEY = 1\n", "KEY = 1\n", "[Talon]\njust words\n",
        "[Talon]\n = 1\n",   "[]\n",      std::string("[Talon]\nK = a\0b\n", 16)};
    for (const std::string& text : bad) {
        std::string error;
        EXPECT_EQ(RKPlatformInfo::loadConfigText(text, &error), 0) << text;
        EXPECT_NE(error.find("line"), std::string::npos) << error;
    }
    std::string v;
    EXPECT_NE(RKPlatformInfo().getString("Talon", "KEY", &v), 0);
    EXPECT_EQ(v, "old");
}

TEST_F(ConfigStore, OversizedTextIsRejected) {
    std::string huge = "[Talon]\nKEY = " + std::string(2 << 20, 'x') + "\n";
    std::string error;
    EXPECT_EQ(RKPlatformInfo::loadConfigText(huge, &error), 0);
    EXPECT_FALSE(error.empty());
}

TEST_F(ConfigStore, NullArgumentsAnswerAbsent) {
    load("[Talon]\nKEY = 1\n");
    RKPlatformInfo info;
    unsigned long n = 0;
    EXPECT_EQ(info.getNumber(nullptr, "KEY", &n), 0);
    EXPECT_EQ(info.getNumber("Talon", nullptr, &n), 0);
    EXPECT_EQ(info.getNumber("Talon", "KEY", nullptr), 0);
    EXPECT_EQ(info.getRegInt("Talon", "KEY", nullptr), 0);
    EXPECT_EQ(info.getString("Talon", "KEY", nullptr), 0);
}

TEST_F(ConfigStore, FileIsReadAndReloaded) {
    TempFile file;
    file.write("[Talon]\nRK_SMIS_CLIENT_TIMEOUT_IN_SEC = 600\n");
    std::string error;
    ASSERT_EQ(RKPlatformInfo::setConfigFile(file.path().c_str(), &error), 1) << error;
    unsigned long n = 0;
    EXPECT_NE(RKPlatformInfo().getNumber("Talon", "RK_SMIS_CLIENT_TIMEOUT_IN_SEC", &n), 0);
    EXPECT_EQ(n, 600u);

    file.write("[Talon]\nRK_SMIS_CLIENT_TIMEOUT_IN_SEC = 900\n");
    ASSERT_EQ(RKPlatformInfo::reload(&error), 1) << error;
    EXPECT_NE(RKPlatformInfo().getNumber("Talon", "RK_SMIS_CLIENT_TIMEOUT_IN_SEC", &n), 0);
    EXPECT_EQ(n, 900u);

    // A broken file on reload keeps the values in force.
    file.write("[Talon\n");
    EXPECT_EQ(RKPlatformInfo::reload(&error), 0);
    EXPECT_NE(RKPlatformInfo().getNumber("Talon", "RK_SMIS_CLIENT_TIMEOUT_IN_SEC", &n), 0);
    EXPECT_EQ(n, 900u);
}

TEST_F(ConfigStore, MissingFileIsAnErrorAndNothingChanges) {
    load("[Talon]\nKEY = kept\n");
    std::string error;
    EXPECT_EQ(RKPlatformInfo::setConfigFile("/nonexistent/rkhost.ini", &error), 0);
    EXPECT_NE(error.find("/nonexistent/rkhost.ini"), std::string::npos);
    EXPECT_EQ(RKPlatformInfo::setConfigFile(nullptr, &error), 0);
    std::string v;
    EXPECT_NE(RKPlatformInfo().getString("Talon", "KEY", &v), 0);
    EXPECT_EQ(v, "kept");
}

TEST_F(ConfigStore, EnvironmentVariableNamesTheFileAtFirstUse) {
    TempFile file;
    file.write("[~Talon]\nLSI_SMIS_PORT = 15989\n");
    setenv("RKHOST_CONFIG", file.path().c_str(), 1);
    RKPlatformInfo::reset();
    int port = 0;
    EXPECT_NE(RKPlatformInfo().getRegInt("~Talon", "LSI_SMIS_PORT", &port), 0);
    EXPECT_EQ(port, 15989);
    unsetenv("RKHOST_CONFIG");
}

TEST_F(ConfigStore, UnreadableEnvironmentFileIsReportedAndLeavesTheStoreEmpty) {
    setenv("RKHOST_CONFIG", "/nonexistent/rkhost.ini", 1);
    RKPlatformInfo::reset();
    testsupport::LogCapture log;
    int v = 3;
    EXPECT_EQ(RKPlatformInfo().getRegInt("~Talon", "ANY", &v), 0);
    EXPECT_EQ(v, 3);
    EXPECT_TRUE(log.contains("/nonexistent/rkhost.ini"));
    unsetenv("RKHOST_CONFIG");
}

TEST_F(ConfigStore, ConcurrentReadersSeeWholeValuesWhileTheFileIsReloaded) {
    load("[Talon]\nA = 1\n[~Talon]\nB = 1\n");
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            RKPlatformInfo info;
            while (!stop.load()) {
                unsigned long a = 0;
                int b = 0;
                std::string s;
                if (!info.getNumber("Talon", "A", &a) || (a != 1 && a != 2)) ++bad;
                if (!info.getRegInt("~Talon", "B", &b) || (b != 1 && b != 2)) ++bad;
                if (!info.getString("Talon", "A", &s) || (s != "1" && s != "2")) ++bad;
            }
        });
    }
    for (int i = 0; i < 300; ++i) {
        std::string v = std::to_string(1 + i % 2);
        ASSERT_EQ(
            RKPlatformInfo::loadConfigText("[Talon]\nA = " + v + "\n[~Talon]\nB = " + v + "\n"), 1);
    }
    stop = true;
    for (auto& r : readers) r.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST_F(ConfigStore, EngineRecordsFollowTheGrowAndRetryProtocol) {
    load("[Engines]\n54 = {SnapVendorName:LSI,Capabilities:3}\n");
    struct Util : RKSO::RKOSUtil {
        void rescanDevices(const char*, const char**, const char**) override {}
        short listDevices(const char*, const char*, char, int, char*) override { return -1; }
        short getArrayList(const char*, char, short, char*) override { return -1; }
        int queryHbaList(const char*, const char*, char*, short*, char*, short*, short*) override {
            return 0;
        }
        int queryHba(const char*, const char*, char*, short*, bool*) override { return 0; }
        short getArrayCredentials(const char*, char*, short*) override { return -1; }
        short getEngineId() override { return 54; }
        short getOperationType() override { return 0; }
    } util;
    const std::string record = "{SnapVendorName:LSI,Capabilities:3}";
    EXPECT_EQ(util.getEngineInfoByEngineID(54, nullptr, 0), static_cast<short>(record.size() + 1));
    char small[8] = {};
    EXPECT_EQ(util.getEngineInfoByEngineID(54, small, sizeof small),
              static_cast<short>(record.size() + 1));
    EXPECT_EQ(std::string(small, sizeof small), std::string(8, '\0')) << "too small: untouched";
    char exact[64] = {};
    EXPECT_EQ(util.getEngineInfoByEngineID(54, exact, static_cast<short>(record.size() + 1)), 0);
    EXPECT_EQ(std::string(exact), record);

    testsupport::LogCapture log;
    EXPECT_LT(util.getEngineInfoByEngineID(17, exact, sizeof exact), 0);
    EXPECT_TRUE(log.contains("No engine record for engine id 17"));
}

}  // namespace
