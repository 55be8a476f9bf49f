// rksnap's configuration file: bad input refused with its line, edits that keep
// what the administrator wrote, and passwords kept private.
#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "Config.h"
#include "testsupport/TempDir.h"

namespace {

using rksnap::ArrayEntry;
using rksnap::Config;

TEST(ConfigFile, RefusesMalformedTextNamingTheLine) {
    struct Row {
        const char* name;
        std::string text;
        std::string says;
    } rows[] = {
        {"header without ]", "[Host\nDeviceTree = linux\n", "line 1: section header without ']'"},
        {"key outside a section", "DeviceTree = linux\n", "line 1: key outside a section"},
        {"no =", "[Host]\n# ok\nDeviceTree\n", "line 3: expected 'key = value'"},
        {"empty key", "[Host]\n = linux\n", "line 2: empty key"},
        {"empty section", "[  ]\n", "line 1: empty section name"},
        {"NUL", std::string("[Host]\nA = b\0c\n", 14), "line 2: NUL character"},
        {"too large", "[Host]\n" + std::string(2 << 20, '#'), "larger than"},
    };
    testsupport::TempDir dir;
    for (const Row& row : rows) {
        Config c;
        std::string error;
        EXPECT_FALSE(c.load(dir.write("c.conf", row.text, 0600), true, &error)) << row.name;
        EXPECT_NE(error.find(row.says), std::string::npos) << row.name << ": " << error;
    }
}

TEST(ConfigFile, EditsKeepCommentsAndOrderAndWriteAPrivateFile) {
    testsupport::TempDir dir;
    const std::string path =
        dir.write("etc/rksnap.conf",
                  "# site settings\n[Host]\nDeviceTree = simulation  ; fabric\n\n"
                  "[Talon]\n# tuning\nLSI_OEM_NAMESPACE = \"root/x\"\n",
                  0600);
    Config c;
    std::string error;
    ASSERT_TRUE(c.load(path, true, &error)) << error;
    EXPECT_EQ(c.get("Talon", "LSI_OEM_NAMESPACE"), "root/x");
    ArrayEntry a;
    a.name = "es1";
    a.arrayId = "600A0980006CE2B2000000005A1B2C3D";
    a.address = "10.0.0.5";
    a.user = "admin";
    a.password = "rkpw1:abc";
    c.putArray(a);
    a.name = "es2";
    a.arrayId = "600A0980006CE2B2000000005A1B2C3E";
    a.https = false;
    c.putArray(a);
    ASSERT_TRUE(c.removeArray("es1"));
    c.set("Host", "ControlHostId", "7");
    ASSERT_TRUE(c.save(&error)) << error;

    Config again;
    ASSERT_TRUE(again.load(path, true, &error)) << error;
    EXPECT_EQ(again.text(), c.text());
    for (const char* kept : {"# site settings", "; fabric", "# tuning"})
        EXPECT_NE(again.text().find(kept), std::string::npos) << kept;
    EXPECT_LT(again.text().find("ControlHostId"), again.text().find("[Talon]"));
    ArrayEntry found;
    EXPECT_FALSE(again.findArray("es1", &found));
    ASSERT_TRUE(again.findArray("600A0980006CE2B2000000005A1B2C3E", &found));
    EXPECT_EQ(found.name, "es2");
    EXPECT_EQ(found.effectivePort(), 5988);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Nothing but the file itself is left in its folder.
    auto entries = std::filesystem::directory_iterator(dir.file("etc"));
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 1);
}

TEST(ConfigFile, OthersMayNotReadPasswords) {
    struct Row {
        const char* name;
        std::string text;
        unsigned mode;
        bool loads;
    } rows[] = {
        {"password, private", "[Array a]\nPassword = rkpw1:x\n", 0600, true},
        {"password, readable by others", "[Array a]\nPassword = rkpw1:x\n", 0644, false},
        {"array password, group-writable", "[Array a]\nArrayPassword = rkpw1:x\n", 0620, false},
        {"no password, readable by others", "[Host]\nDeviceTree = linux\n", 0644, true},
        {"empty password, readable by others", "[Array a]\nPassword =\n", 0644, true},
    };
    testsupport::TempDir dir;
    for (const Row& row : rows) {
        const std::string path = dir.write("c.conf", row.text, row.mode);
        chmod(path.c_str(), row.mode);
        Config c;
        std::string error;
        EXPECT_EQ(c.load(path, true, &error), row.loads) << row.name << ": " << error;
        if (!row.loads) {
            EXPECT_NE(error.find("chmod 600"), std::string::npos) << row.name;
        }
    }
}

}  // namespace
