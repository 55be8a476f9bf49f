// The state file: private, without credentials, refused when others may read it,
// saved after every change (also one a finishing job makes), and every state the
// array's methods produce loads again.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "SimArrays.h"
#include "testsupport/SimArray.h"

using cim::CIMValue;
using testsupport::param;
using testsupport::SimArray;
using testsupport::u16;
using testsupport::u64;

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
        s.hostWrite("ora_data1");
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
    struct Row {
        const char* name;
        std::string file;
        mode_t mode;
        const char* says;
    };
    const Row rows[] = {
        {"readable by others", path, 0644, "chmod 600"},
        {"readable by the group", path, 0640, "may be read by others"},
        {"a symbolic link", link, 0600, "symbolic link"},
        {"a folder", ::testing::TempDir(), 0600, "not a regular file"},
        {"missing", tempPath("missing.json"), 0600, "cannot read"},
    };
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

TEST(StateFile, EveryStateTheMethodsMakeLoadsAgain) {
    const std::string path = tempPath("methods.json");
    std::remove(path.c_str());
    SimArray s(simtest::richArray());
    s.provider().persistTo(path);
    s.server().setJobMode("CreatePiTGroup", true);
    const auto rs = [&](const char* method, std::vector<cim::CIMParamValue> in) {
        auto out = s.call("ReplicationService", method, in);
        EXPECT_TRUE(out.rc == 0 || out.rc == 4096) << method << " " << out.rc;
        return out;
    };
    auto group = rs("CreatePiTGroup", {param("BaseVolume", CIMValue(s.volume("small_lun"))),
                                       param("Label", CIMValue("small_lun_SMIS_PG")),
                                       param("RepositorySize", u64(1ULL << 30))});
    s.finishJobs();
    s.count(s.prefix() + "_ConcreteJob");  // a read lets the job finish; that is a change too
    auto pit =
        rs("CreateSynchronizationAspect",
           {param("SyncType", u16(7)), param("SourceElement", CIMValue(s.volume("small_lun")))});
    rs("ModifySettingsDefineState",
       {param("Operation", u16(5)), param("SettingsState", CIMValue(pit.path("SettingsState")))});
    auto cgPit = rs("CreateSynchronizationAspect",
                    {param("SyncType", u16(7)),
                     param("SourceGroup", CIMValue(s.named("CIM_ReplicationGroup", "cg1")))});
    rs("ModifySettingsDefineState",
       {param("Operation", u16(5)), param("SettingsState", CIMValue(cgPit.path("SettingsState")))});
    auto cg = rs("CreateGroup", {param("GroupName", CIMValue("7A1F_2")),
                                 param("Members", testsupport::refs({s.volume("exch_log")}))});
    auto snap =
        s.call("StorageConfigurationService", "CreateReplica",
               {param("CopyType", u16(4)), param("SourceElement", CIMValue(s.volume("ora_log")))});
    EXPECT_EQ(snap.rc, 0u);
    auto made = s.call("StorageConfigurationService", "CreateOrModifyElementFromStoragePool",
                       {param("ElementType", u16(2)), param("Size", u64(107374182400ULL)),
                        param("InPool", CIMValue(s.named("CIM_StoragePool", "DG1")))});
    EXPECT_EQ(made.rc, 0u);
    EXPECT_EQ(s.call("ControllerConfigurationService", "ExposePaths",
                     {param("LUNames", CIMValue(std::vector<std::string>{
                                           s.property(snap.path("TargetElement"), "Name")})),
                      param("DeviceAccesses", CIMValue(std::vector<cim::Uint16>{2})),
                      param("ProtocolControllers",
                            testsupport::refs({s.named("CIM_SCSIProtocolController", "fchost1")}))})
                  .rc,
              0u);
    s.hostWrite("ora_data2");
    s.provider().flushState();

    const nlohmann::json live = s.state();
    sim::Config loaded = sim::Config::loadState(path, simtest::richArray());
    EXPECT_EQ(loaded.toStateJson()["arrays"], live);
    EXPECT_EQ(sim::Provider(loaded).currentState().toStateJson()["arrays"], live);
    EXPECT_FALSE(group.has("SettingsState"));
    std::remove(path.c_str());
}
