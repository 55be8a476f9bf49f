// The state file: private, without credentials, never written through a link, refused
// when others may read it; what was stale stays stale.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "SimArrays.h"
#include "testsupport/SimArray.h"

using testsupport::SimArray;

namespace {

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "state-" + std::to_string(::getpid()) + "-" + name;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

sim::Config secretive() {
    return simtest::richArray([](nlohmann::json& j) {
        j["password"] = "Server-Pw-7731";
        j["arrays"][0]["password"] = "Array-Pw-5521";
        j["arrays"][0]["providerSecret"] = "Old-Secret-9090";
    });
}

}  // namespace

TEST(StateFile, WrittenPrivatelyWithoutCredentialsNeverThroughALink) {
    const std::string path = tempPath("private.json");
    const std::string victim = tempPath("victim");
    std::remove(path.c_str());
    { std::ofstream(victim) << "untouched"; }
    // A fixed temporary name would be written through this link.
    ASSERT_EQ(::symlink(victim.c_str(), (path + ".tmp").c_str()), 0);
    {
        SimArray s(secretive());
        s.provider().persistTo(path);
        s.control({{"action", "write"}, {"volume", "ora_data1"}});
        s.provider().flushState();
    }
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string text = slurp(path);
    for (const char* secret : {"Server-Pw-7731", "Array-Pw-5521", "Old-Secret-9090"})
        EXPECT_EQ(text.find(secret), std::string::npos) << secret;
    EXPECT_EQ(slurp(victim), "untouched");
    // What was current stays current after a restart; a stale secret stays stale.
    sim::Config loaded = sim::Config::loadState(path, secretive());
    EXPECT_EQ(loaded.password, "Server-Pw-7731");
    EXPECT_EQ(loaded.arrays[0].password, "Array-Pw-5521");
    EXPECT_EQ(loaded.arrays[0].providerSecret, "Old-Secret-9090");
    for (const std::string& p : {path, victim, path + ".tmp"}) std::remove(p.c_str());
}

TEST(StateFile, RefusedWhenOthersMayReadItOrItIsNoPlainFile) {
    const std::string path = tempPath("refused.json");
    const std::string link = tempPath("refused-link.json");
    sim::Config::defaults().saveState(path);
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    // clang-format off
    struct Row { const char* name; std::string file; mode_t mode; const char* says; };
    const Row rows[] = {
        {"readable by others", path, 0644, "chmod 600"},
        {"readable by the group", path, 0640, "may be read by others"},
        {"a symbolic link", link, 0600, "symbolic link"},
        {"a folder", ::testing::TempDir(), 0600, "not a regular file"},
        {"missing", tempPath("missing.json"), 0600, "cannot read"},
    };
    // clang-format on
    for (const Row& row : rows) {
        ::chmod(path.c_str(), row.mode);
        try {
            sim::Config::loadState(row.file, sim::Config::defaults());
            ADD_FAILURE() << row.name << ": loaded";
        } catch (const sim::ConfigError& e) {
            EXPECT_NE(std::string(e.what()).find(row.says), std::string::npos)
                << row.name << ": " << e.what();
        }
    }
    ::chmod(path.c_str(), 0600);
    EXPECT_NO_THROW(sim::Config::loadState(path, sim::Config::defaults()));
    std::remove(link.c_str());
    std::remove(path.c_str());
}

TEST(StateFile, ASyntaxErrorNamesItsPlaceNotTheTextAroundIt) {
    const std::string path = tempPath("broken.json");
    { std::ofstream(path) << "{\n  \"user\": \"admin\",\n  \"password\": \"Pw-Near-Error\" x }"; }
    try {
        sim::Config::load(path);
        ADD_FAILURE() << "broken JSON loaded";
    } catch (const sim::ConfigError& e) {
        const std::string what = e.what();
        EXPECT_EQ(what.find("Pw-Near"), std::string::npos) << what;
        EXPECT_NE(what.find("line 3"), std::string::npos) << what;
    }
    std::remove(path.c_str());
}
