#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "rkso/RKPassword.h"
#include "testsupport/TalonConfig.h"
#include "testsupport/TempDir.h"

namespace {

using namespace testsupport;

const std::string kKey(64, 'a');
const std::string kOtherKey(64, 'b');

class Password : public ::testing::Test {
  protected:
    TempDir dir;
    std::string keyFile = dir.write("key", kKey + "\n", 0600);
    std::string otherKeyFile = dir.write("other", kOtherKey, 0600);
    std::string sealed(const std::string& plain) {
        std::string out;
        RKPassword pw(keyFile);
        EXPECT_TRUE(pw.encrypt(plain.c_str(), out)) << pw.getLastError();
        return out;
    }
};

// The buffer of a failed decrypt holds no byte of any password, and the error no secret.
void expectCleanFailure(RKPassword& pw, const char* encrypted, size_t size,
                        const std::vector<std::string>& secrets, const std::string& row) {
    std::vector<char> plain(size, 'Z');
    EXPECT_FALSE(pw.decrypt(encrypted, plain.data(), plain.size())) << row;
    EXPECT_EQ(std::string(plain.begin(), plain.end()), std::string(size, '\0')) << row;
    std::string error = pw.getLastError();
    EXPECT_FALSE(error.empty()) << row;
    for (const std::string& s : secrets)
        EXPECT_TRUE(s.empty() || error.find(s) == std::string::npos) << row << ": " << error;
}

TEST_F(Password, BadTextsWrongKeysAndShortBuffersFailWithoutPlainText) {
    const std::string plain = "s3cret-array-password";
    const std::string good = sealed(plain);
    EXPECT_EQ(good.find(plain), std::string::npos);
    EXPECT_NE(sealed(plain), good) << "each encryption takes a fresh nonce";
    auto changed = [&](size_t at) {
        std::string t = good;
        t[at] = t[at] == 'A' ? 'B' : 'A';
        return t;
    };
    const std::tuple<const char*, std::string, std::string, size_t> rows[] = {
        {"wrong key", good, otherKeyFile, 256},
        {"nonce changed", changed(8), keyFile, 256},
        {"cipher text changed", changed(good.size() / 2), keyFile, 256},
        {"tag changed", changed(good.size() - 6), keyFile, 256},
        {"unused bits of the last digit changed", changed(good.size() - 3), keyFile, 256},
        {"cut by one block", good.substr(0, good.size() - 4), keyFile, 256},
        {"cut to the prefix", "rkpw1:", keyFile, 256},
        {"no prefix", good.substr(6), keyFile, 256},
        {"other version", "rkpw2:" + good.substr(6), keyFile, 256},
        {"not base64", "rkpw1:" + std::string(40, '*'), keyFile, 256},
        {"white space inside", good.substr(0, 20) + " " + good.substr(21), keyFile, 256},
        {"clear text given", plain, keyFile, 256},
        {"too long", "rkpw1:" + std::string(9000, 'A'), keyFile, 256},
        {"one byte short", good, keyFile, plain.size()},
        {"1-byte buffer", good, keyFile, 1},
        {"missing key file", good, dir.file("nokey"), 256},
    };
    for (const auto& [name, text, key, size] : rows) {
        RKPassword pw(key);
        expectCleanFailure(pw, text.c_str(), size, {plain, good, kKey, kOtherKey}, name);
    }
    RKPassword pw(keyFile);
    EXPECT_FALSE(pw.decrypt(nullptr, nullptr, 0));
    char buf[8];
    EXPECT_FALSE(pw.decrypt(nullptr, buf, sizeof buf));
}

TEST_F(Password, UnsafeOrBrokenKeyFilesAreRefused) {
    const std::string good = sealed("admin");
    const std::tuple<const char*, std::string, std::string> rows[] = {
        {"readable by the group", "PasswordKeyFile = " + dir.write("g", kKey, 0640), "0640"},
        {"readable by all", "PasswordKeyFile = " + dir.write("o", kKey, 0604), "0604"},
        {"writable by all", "PasswordKeyFile = " + dir.write("w", kKey, 0602), "0602"},
        {"a directory", "PasswordKeyFile = " + dir.mkdir("d"), "not a regular file"},
        {"short key", "PasswordKeyFile = " + dir.write("s", kKey.substr(2), 0600), "256-bit"},
        {"not hex", "PasswordKeyFile = " + dir.write("h", std::string(64, 'g'), 0600), "256-bit"},
        {"huge", "PasswordKeyFile = " + dir.write("x", std::string(100000, 'a'), 0600), "256-bit"},
        {"not configured", "", "PasswordKeyFile"},
    };
    for (const auto& [name, settings, want] : rows) {
        TalonConfig config("", "[Host]\n" + settings + "\n");
        RKPassword pw;
        expectCleanFailure(pw, good.c_str(), 64, {"admin", good, kKey}, name);
        EXPECT_NE(pw.getLastError().find(want), std::string::npos)
            << name << ": " << pw.getLastError();
    }
    TalonConfig config("", "[Host]\nPasswordKeyFile = " + keyFile + "\n");
    char out[64];
    RKPassword fromConfig;
    EXPECT_TRUE(fromConfig.decrypt(good.c_str(), out, sizeof out)) << fromConfig.getLastError();
}

TEST_F(Password, KeyFilesAreCreatedPrivateWholeAndNeverReplaced) {
    const std::string path = dir.file("new.key");
    std::string error;
    ASSERT_TRUE(RKPassword::createKeyFile(path, &error)) << error;
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    const std::string key = dir.read("new.key");
    std::string text;
    RKPassword pw(path);
    ASSERT_TRUE(pw.encrypt("admin", text)) << pw.getLastError();
    EXPECT_FALSE(RKPassword::createKeyFile(path, &error));
    EXPECT_NE(error.find("exists"), std::string::npos) << error;
    EXPECT_EQ(dir.read("new.key"), key);
    EXPECT_FALSE(RKPassword::createKeyFile(dir.file("none/new.key"), &error));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".rkpw-key-"), std::string::npos)
            << "temporary file left: " << entry.path();
}

}  // namespace
