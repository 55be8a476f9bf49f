#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "rkso/RKPlatformInfo.h"
#include "rkso/SnapInfo.h"
#include "testsupport/LogCapture.h"
#include "testsupport/TempDir.h"

namespace {

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

// Each getter: present with its value, or absent with the caller's value untouched.
TEST_F(ConfigStore, GettersAnswerPresenceAndValue) {
    load(
        "\xEF\xBB\xBF# comment\r\n; another\r\n[Talon]\r\n"
        "OTHER = 1\nRK_PEGASUS_FAULT_RETRY = 0\nKEY = talon\n"
        "DEC = 42\nHEX = 0x1F\nNEG = -5\nJUNK = 12abc\nWORD = abc\nEMPTY =\n"
        "BIG = 99999999999999999999999\nINTBIG = 4294967296\nPLUS = +3\n"
        "PLAIN =  some text  \r\nHASH = pass#word;x\r\nQUOTED = \"  padded  \"\r\n"
        "EQUALS = a=b\r\n"
        "[~Talon]\nLSI_SMIS_USE_HTTPS=0\nKEY = 1\n[~Talon/LSI]\nKEY = 2\n");
    enum Getter { Number, RegInt, Text };
    // getter, section, key, value (nullptr: absent)
    const std::tuple<Getter, const char*, const char*, const char*> cases[] = {
        {Number, "Talon", "RK_SMIS_CLIENT_TIMEOUT_IN_SEC", nullptr},
        {RegInt, "~Talon", "LSI_SMIS_PORT", nullptr},
        {Text, "Talon", "LSI_VENDOR_NAME", nullptr},
        {Text, "NoSuchSection", "OTHER", nullptr},
        {Number, "Talon", "RK_PEGASUS_FAULT_RETRY", "0"},
        {RegInt, "~Talon", "LSI_SMIS_USE_HTTPS", "0"},
        // Sections are separate, sub-sections named with a slash, names exact.
        {Text, "Talon", "KEY", "talon"},
        {RegInt, "~Talon", "KEY", "1"},
        {RegInt, "~Talon/LSI", "KEY", "2"},
        {RegInt, "~talon", "KEY", nullptr},
        // Numbers are strict.
        {Number, "Talon", "DEC", "42"},
        {Number, "Talon", "HEX", "31"},
        {RegInt, "Talon", "NEG", "-5"},
        {RegInt, "Talon", "PLUS", "3"},
        // clang-format off
        {Number, "Talon", "NEG", nullptr}, {RegInt, "Talon", "INTBIG", nullptr},
        {Number, "Talon", "JUNK", nullptr}, {RegInt, "Talon", "JUNK", nullptr},
        {Number, "Talon", "WORD", nullptr}, {RegInt, "Talon", "WORD", nullptr},
        {Number, "Talon", "EMPTY", nullptr}, {RegInt, "Talon", "EMPTY", nullptr},
        {Number, "Talon", "BIG", nullptr}, {RegInt, "Talon", "BIG", nullptr},
        // clang-format on
        // Texts are verbatim after trimming.
        {Text, "Talon", "PLAIN", "some text"},
        {Text, "Talon", "HASH", "pass#word;x"},
        {Text, "Talon", "QUOTED", "  padded  "},
        {Text, "Talon", "EQUALS", "a=b"},
    };
    testsupport::LogCapture log;
    RKPlatformInfo info;
    for (const auto& [getter, section, key, value] : cases) {
        unsigned long number = 7;
        int integer = 7;
        std::string text = "7";
        int found = getter == Number   ? info.getNumber(section, key, &number)
                    : getter == RegInt ? info.getRegInt(section, key, &integer)
                                       : info.getString(section, key, &text);
        std::string got = getter == Number   ? std::to_string(number)
                          : getter == RegInt ? std::to_string(integer)
                                             : text;
        EXPECT_EQ(found != 0, value != nullptr) << section << " " << key;
        EXPECT_EQ(got, value != nullptr ? value : "7") << section << " " << key;
    }
    EXPECT_TRUE(log.contains("is not a valid")) << "a bad value is reported, not silently used";
    unsigned long n = 0;
    EXPECT_EQ(info.getNumber(nullptr, "DEC", &n) + info.getNumber("Talon", nullptr, &n) +
                  info.getNumber("Talon", "DEC", nullptr) +
                  info.getRegInt("Talon", "DEC", nullptr) + info.getString("Talon", "DEC", nullptr),
              0);
}

// Bad or oversized texts and missing or broken files are errors; the values in force stay.
TEST_F(ConfigStore, BadTextAndFilesAreRejectedAndPreviousValuesStay) {
    testsupport::TempDir dir;
    const std::string path = dir.write("rkhost.ini", "[Talon]\nKEY = 600\n");
    std::string error;
    ASSERT_EQ(RKPlatformInfo::setConfigFile(path.c_str(), &error), 1) << error;
    dir.write("rkhost.ini", "[Talon]\nKEY = 900\n");
    ASSERT_EQ(RKPlatformInfo::reload(&error), 1) << error;
    dir.write("rkhost.ini", "[Talon\n");
    EXPECT_EQ(RKPlatformInfo::reload(&error), 0);
    const std::vector<std::string> bad = {
        "[Talon\nKEY = 1\n", "KEY = 1\n", "[Talon]\njust words\n",
        "[Talon]\n = 1\n",   "[]\n",      std::string("[Talon]\nK = a\0b\n", 16)};
    for (const std::string& text : bad) {
        EXPECT_EQ(RKPlatformInfo::loadConfigText(text, &error), 0) << text;
        EXPECT_NE(error.find("line"), std::string::npos) << error;
    }
    error.clear();
    EXPECT_EQ(RKPlatformInfo::loadConfigText("[Talon]\nKEY = " + std::string(2 << 20, 'x'), &error),
              0);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(RKPlatformInfo::setConfigFile("/nonexistent/rkhost.ini", &error), 0);
    EXPECT_NE(error.find("/nonexistent/rkhost.ini"), std::string::npos);
    EXPECT_EQ(RKPlatformInfo::setConfigFile(nullptr, &error), 0);
    unsigned long n = 0;
    EXPECT_NE(RKPlatformInfo().getNumber("Talon", "KEY", &n), 0);
    EXPECT_EQ(n, 900u);
}

// RKHOST_CONFIG names the file at first use; an unreadable one is reported, the store empty.
TEST_F(ConfigStore, EnvironmentVariableNamesTheFileAtFirstUse) {
    testsupport::TempDir dir;
    for (std::string file : {dir.write("rkhost.ini", "[~Talon]\nLSI_SMIS_PORT = 15989\n"),
                             std::string("/nonexistent/rkhost.ini")}) {
        setenv("RKHOST_CONFIG", file.c_str(), 1);
        RKPlatformInfo::reset();
        testsupport::LogCapture log;
        int port = 3;
        const bool readable = file.find("nonexistent") == std::string::npos;
        EXPECT_EQ(RKPlatformInfo().getRegInt("~Talon", "LSI_SMIS_PORT", &port) != 0, readable);
        EXPECT_EQ(port, readable ? 15989 : 3);
        EXPECT_EQ(log.contains(file), !readable);
    }
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

}  // namespace
