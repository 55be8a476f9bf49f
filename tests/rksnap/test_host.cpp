// rksnap's pieces: configuration file, host objects' buffers, records from many threads.
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "Config.h"
#include "Host.h"
#include "rkso/RKPassword.h"
#include "testsupport/TalonConfig.h"
#include "testsupport/TempDir.h"

namespace {

using namespace rksnap;

const char* const kEs1 = "600A0980006CE2B2000000005A1B2C3D";
const char* const kEs2 = "600A0980006CE2B2000000005A1B2C3E";

TEST(ConfigFile, RefusesMalformedTextNamingTheLine) {
    // clang-format off
    struct Row { const char* name; std::string text; std::string says; } rows[] = {
        {"header without ]", "[Host\nDeviceTree = linux\n", "line 1: section header without ']'"},
        {"key outside a section", "DeviceTree = linux\n", "line 1: key outside a section"},
        {"no =", "[Host]\n# ok\nDeviceTree\n", "line 3: expected 'key = value'"},
        {"empty key", "[Host]\n = linux\n", "line 2: empty key"},
        {"empty section", "[  ]\n", "line 1: empty section name"},
        {"NUL", std::string("[Host]\nA = b\0c\n", 14), "line 2: NUL character"},
        {"too large", "[Host]\n" + std::string(2 << 20, '#'), "larger than"},
    };
    // clang-format on
    testsupport::TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Config c;
        std::string error;
        EXPECT_FALSE(c.load(dir.write("c.conf", row.text, 0600), true, &error));
        EXPECT_NE(error.find(row.says), std::string::npos) << error;
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
    c.putArray({"es1", kEs1, "10.0.0.5", 0, true, "admin", "rkpw1:abc", "", ""});
    c.putArray({"es2", kEs2, "10.0.0.5", 0, false, "admin", "rkpw1:abc", "", ""});
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
    ASSERT_TRUE(again.findArray(kEs2, &found));
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
    // clang-format off
    struct Row { const char* name; std::string text; unsigned mode; bool loads; } rows[] = {
        {"password, private", "[Array a]\nPassword = rkpw1:x\n", 0600, true},
        {"password, readable by others", "[Array a]\nPassword = rkpw1:x\n", 0644, false},
        {"array password, group-writable", "[Array a]\nArrayPassword = rkpw1:x\n", 0620, false},
        {"no password, readable by others", "[Host]\nDeviceTree = linux\n", 0644, true},
        {"empty password, readable by others", "[Array a]\nPassword =\n", 0644, true},
    };
    // clang-format on
    testsupport::TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = dir.write("c.conf", row.text, row.mode);
        chmod(path.c_str(), row.mode);
        Config c;
        std::string error;
        EXPECT_EQ(c.load(path, true, &error), row.loads) << error;
        EXPECT_TRUE(row.loads || error.find("chmod 600") != std::string::npos) << error;
    }
}

// A configuration with two arrays, the first one's password encrypted with a fresh key.
TEST(HostObjects, BufferTextsFitOrFailAndGrowAndRetryAnswersTheSizeNeeded) {
    testsupport::TempDir dir;
    Config config;
    const std::string keyFile = dir.file("rksnap.key");
    std::string error, encrypted;
    ASSERT_TRUE(RKPassword::createKeyFile(keyFile, &error)) << error;
    RKPassword(keyFile).encrypt("s3cret", encrypted);
    dir.write("rksnap.conf",
              "[Array es1]\nArrayId = " + std::string(kEs1) +
                  "\nAddress = 10.0.0.5\nPort = 0\nHttps = 1\nUser = admin\nPassword = " +
                  encrypted + "\n[Array es2]\nArrayId = " + kEs2 +
                  "\nAddress = h2\nPort = 6000\nHttps = 0\nUser = u\n"
                  "Password = rkpw1:not-a-password\n",
              0600);
    ASSERT_TRUE(config.load(dir.file("rksnap.conf"), true, &error)) << error;
    CallContext call;
    call.config = &config, call.keyFile = keyFile, call.engineId = 54, call.snapName = "nightly";
    DeviceRecord rec;
    rec.device = "/dev/sdb";
    rec.uniqueId = "600A0980006CE2B2000000005A1B2C3D*7*svc";
    HostDevice dev(call, rec);
    // clang-format off
    struct Row { const char* name; std::function<int(char*, short*)> get; std::string value; } rows[] = {
        {"getSnapName", [&](char* b, short* l) { return dev.getSnapName(b, l); }, "nightly"},
        {"getDevicePath", [&](char* b, short* l) { return dev.getDevicePath(b, l); }, "/dev/sdb"},
        {"getMetaData 1", [&](char* b, short* l) { return dev.getMetaData(1, b, l); }, rec.uniqueId},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        char buf[128];
        short fit = static_cast<short>(row.value.size() + 1);
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(row.get(buf, &fit), 0);
        EXPECT_EQ(std::string(buf), row.value);
        short shortBy1 = static_cast<short>(row.value.size());
        EXPECT_EQ(row.get(buf, &shortBy1), 1);
        EXPECT_EQ(buf[0], '\0') << "a cut text was handed out";
        EXPECT_EQ(row.get(buf, nullptr), 1);
    }
    char buf[64];
    short len = 16;
    EXPECT_EQ(dev.getMetaData(102, buf, &len), 1) << "absent metadata is a failure";
    EXPECT_EQ(dev.setMetaData(1, std::string(4097, 'a').c_str()), 1)
        << "longer than a host metadata buffer";
    // The utility's grow-and-retry answers: the size needed, written back where asked.
    HostUtil util(call);
    const std::string list = "es1*es2";
    EXPECT_EQ(util.getArrayList("LSI", '*', 0, nullptr), static_cast<short>(list.size() + 1));
    EXPECT_EQ(util.getArrayList("LSI", '*', static_cast<short>(list.size()), buf),
              static_cast<short>(list.size() + 1));
    EXPECT_EQ(util.getArrayList("LSI", '*', sizeof buf, buf), 0);
    EXPECT_EQ(std::string(buf), list);
    char record[16];
    len = sizeof record;
    short need = util.getArrayCredentials("es1", record, &len);
    EXPECT_GT(need, 16);
    EXPECT_EQ(len, need) << "the size needed is written back";
    std::vector<char> big(static_cast<size_t>(need));
    len = need;
    EXPECT_EQ(util.getArrayCredentials("es1", big.data(), &len), 0);
    EXPECT_NE(std::string(big.data()).find("arrayId:" + std::string(kEs1)), std::string::npos);
    len = sizeof record;
    EXPECT_LT(util.getArrayCredentials("nosuch", record, &len), 0);
    EXPECT_LT(util.getArrayCredentials("es2", record, &len), 0)
        << "an undecryptable password is no record";
}

TEST(Records, WorkerThreadsWriteTheirOwnDevicesWithoutLosingAny) {
    testsupport::TempDir dir;
    testsupport::TalonConfig host("",
                                  "[Host]\nSnapDatabase = " + dir.file("state/rksnap.db") + "\n");
    Records r;
    std::string error;
    ASSERT_TRUE(r.open(dir.file("state"), 1, nullptr, &error)) << error;
    constexpr int kDevices = 6, kWrites = 40;
    SnapRecord s;
    s.name = "w", s.engine = "pit", s.engineId = 54, s.state = "prepared";
    for (int i = 0; i < kDevices; ++i) {
        s.devices.emplace_back();
        s.devices.back().position = i;
        s.devices.back().device = "/dev/sd" + std::string(1, static_cast<char>('b' + i));
    }
    ASSERT_TRUE(r.createSnap(s, &error)) << error;
    std::vector<std::thread> workers;
    for (int i = 0; i < kDevices; ++i)
        workers.emplace_back([&, i] {
            DeviceRecord d = s.devices[static_cast<size_t>(i)];
            for (int n = 1; n <= kWrites; ++n) {
                d.status = n;
                d.uniqueId = "600A*7*" + std::to_string(i) + "*" + std::to_string(n);
                EXPECT_TRUE(r.saveDevice(d)) << r.lastError();
                r.addLog(1, s.id, i, 1, "worker", "write " + std::to_string(n));
            }
        });
    for (std::thread& t : workers) t.join();
    SnapRecord after;
    ASSERT_TRUE(r.findSnap("w", false, &after));
    for (const DeviceRecord& d : after.devices) {
        EXPECT_EQ(d.status, kWrites) << d.device;
        EXPECT_EQ(d.uniqueId,
                  "600A*7*" + std::to_string(d.position) + "*" + std::to_string(kWrites))
            << d.device;
    }
    EXPECT_EQ(r.logLines(s.id).size(), static_cast<size_t>(kDevices * kWrites));
}

}  // namespace
