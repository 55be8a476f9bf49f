// The smis-sim binary (bad starts, printed configuration, cimq across a restart), its state file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include <nlohmann/json.hpp>

#include "SimArrays.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/SimArray.h"
#include "testsupport/TempDir.h"

namespace {

// The smis-sim binary as a child process.
class Child : public testsupport::ChildProcess {
  public:
    explicit Child(std::vector<std::string> args)
        : ChildProcess(SMIS_SIM_BINARY, std::move(args)) {}
};

// The port of the URL line it prints for its HTTP listener.
int portOf(const std::string& url) {
    std::smatch m;
    const bool ok = std::regex_match(url, m, std::regex("^http://127\\.0\\.0\\.1:([0-9]+)$"));
    return ok ? std::stoi(m[1]) : -1;
}

sim::Config secretive() {
    return simtest::richArray([](nlohmann::json& j) {
        j["password"] = "Server-Pw-7731";
        j["arrays"][0]["password"] = "Array-Pw-5521";
        j["arrays"][0]["providerSecret"] = "Old-Secret-9090";
    });
}

}  // namespace

TEST(SmisSimCli, RefusesBadStartsWithAMessage) {
    testsupport::TempDir dir;
    const std::string badJson = dir.write("bad.json", "{ \"arrays\": [ ");
    const std::string emptyPassword = dir.write("empty", "\n"), folder = dir.mkdir("folder");
    const std::string large = dir.write("large", std::string(5000, 'S'));
    const std::string nul = dir.write("nul", std::string("pass\0word\n", 10));
    const std::string locked = dir.write("locked", "SSSSSSSS\n", 0);
    const std::vector<std::string> oneListener = {"--http-port", "0", "--https-port", "-1"};
    // What the message must hold ("" for any).
    // clang-format off
    struct Row { std::vector<std::string> args; std::string says; } rows[] = {
        {{"--http-port", "abc"}, ""},
        {{"--no-such-option"}, ""},
        {{"--config", "/nonexistent/config.json"}, ""},
        {{"--config", badJson}, ""},
        {{"--preset", "ACME"}, ""},
        {{"--password-file", emptyPassword}, ""},
        {{"--cert", badJson, "--key", badJson, "--http-port", "-1", "--https-port", "0"}, ""},
        {{"--threads", "0"}, ""},
        {{"--password-file", "/dev/zero"}, "larger than 4096 bytes"},
        {{"--password-file", folder}, folder},
        {{"--password-file", large}, "larger than 4096 bytes"},
        {{"--password-file", nul}, "NUL byte"},
        // root reads a locked file anyway
        {{"--password-file", geteuid() == 0 ? nul : locked},
         geteuid() == 0 ? "NUL" : "cannot be opened"},
    };
    // clang-format on
    for (Row& row : rows) {
        std::string all;
        for (const auto& a : row.args) all += a + " ";
        if (row.args[0] != "--cert")
            row.args.insert(row.args.end(), oneListener.begin(), oneListener.end());
        Child sim(row.args);
        EXPECT_NE(sim.wait(), 0) << all;
        EXPECT_EQ(sim.drain(), "") << all;
        const std::string err = sim.drain(true);
        EXPECT_NE(err.find(row.says), std::string::npos) << all << ": " << err;
        EXPECT_FALSE(err.empty()) << all;
        EXPECT_EQ(err.find("SSSS"), std::string::npos) << all;
    }
    Child first(oneListener);
    std::string port = std::to_string(portOf(first.readLine()));
    Child clash({"--http-port", port, "--https-port", "-1"});
    EXPECT_EQ(clash.wait(), 1);
    EXPECT_NE(clash.drain(true).find(port), std::string::npos);
    EXPECT_EQ(first.terminate(), 0);
    EXPECT_EQ(first.drain(), "") << "one URL line for one listener";
}

TEST(SmisSimCli, PrintConfigShowsTheEffectivePreset) {
    Child sim({"--print-config", "--preset", "lsissi"});
    auto json = nlohmann::json::parse(sim.drain(), nullptr, false);
    EXPECT_EQ(sim.wait(), 0);
    ASSERT_FALSE(json.is_discarded());
    EXPECT_EQ(json.value("classPrefix", ""), "LSISSI");
    EXPECT_EQ(json.value("namespace", ""), "root/LsiArray13");
    // The default credentials ("admin") never appear; they are masked.
    EXPECT_EQ(json.value("password", ""), "****");
    ASSERT_FALSE(json["arrays"].empty());
    EXPECT_EQ(json["arrays"][0].value("password", ""), "****");
    EXPECT_EQ(json["arrays"][0].value("providerSecret", ""), "****");
}

TEST(SmisSimCli, PiTRoadWithCimqSurvivesARestart) {
    const sim::Config config = sim::Config::defaults();
    testsupport::TempDir dir;
    const std::string state = dir.file("state.json");
    const std::string passwordFile = dir.write("cimq-password", config.password + "\n");
    std::unique_ptr<Child> sim;
    std::string url;
    auto start = [&] {
        sim = std::make_unique<Child>(std::vector<std::string>{"--http-port", "0", "--https-port",
                                                               "-1", "--state-file", state});
        url = sim->readLine();
        ASSERT_GT(portOf(url), 0) << url;
    };
    // cimq's JSON answer; fails the test on a non-zero exit.
    auto q = [&](const std::vector<std::string>& args) {
        std::vector<std::string> all = {
            "--url",           url,          "-u", config.user,
            "--password-file", passwordFile, "-n", config.arrayNamespace,
            "--json"};
        all.insert(all.end(), args.begin(), args.end());
        testsupport::ChildProcess run(CIMQ_BINARY, all);
        const std::string out = run.drain();
        EXPECT_EQ(run.wait(), 0) << args[0] << ": " << run.drain(true);
        return nlohmann::json::parse(out, nullptr, false);
    };
    auto invoke = [&](const std::string& target, const std::string& method,
                      std::vector<std::string> params, const char* output = "") {
        params.insert(params.begin(), {"im", target, method});
        nlohmann::json answer = q(params);
        EXPECT_EQ(answer.value("returnValue", -1), 0) << method << ": " << answer.dump();
        return *output ? answer["outParameters"].value(output, "") : std::string();
    };
    // What the enumerations a host relies on answer, as text.
    auto snapshot = [&] {
        std::string all;
        for (const char* cls : {"CIM_StorageVolume", "CIM_SystemSpecificCollection",
                                "CIM_SynchronizationAspect", "CIM_ProtocolControllerForUnit",
                                "CIM_SettingsDefineState", "CIM_StorageSynchronized"})
            all += q({"ein", cls}).dump() + "\n";
        return all +
               q({"ei", "CIM_StorageVolume", "-p", "ElementName", "-p", "NumberOfBlocks"}).dump();
    };
    start();
    const sim::Array& a = config.arrays[0];
    const std::string p = config.classPrefix;
    const std::string volume =
        p + "_StorageVolume.CreationClassName=\"" + p + "_StorageVolume\",DeviceID=\"" +
        a.findVolumeByLabel("ora_data1")->uuid + "\",SystemCreationClassName=\"" + p +
        "_StorageSystem\",SystemName=\"" + a.id + "\"";
    const std::string service = q({"ein", "CIM_ReplicationService"}).at(0);
    invoke(service, "CreatePiTGroup",
           {"BaseVolume=reference:" + volume, "Label=string:ora_data1_SMIS_PG",
            "RepositorySize=uint64:42949672960"});
    const std::string sds =
        invoke(service, "CreateSynchronizationAspect",
               {"Name=string:bk1", "SyncType=uint16:7", "SourceElement=reference:" + volume},
               "SettingsState");
    const std::string view =
        invoke(service, "ModifySettingsDefineState",
               {"Operation=uint16:5", "SettingsState=reference:" + sds}, "TargetElement");
    const std::string uuid = q({"gi", view, "-p", "Name"})[0]["properties"]["Name"];
    std::string spc;
    for (const auto& c : q({"ei", "CIM_SCSIProtocolController", "-p", "ElementName"}))
        if (c["properties"]["ElementName"] == "iscsihost1") spc = c["path"];
    invoke(q({"ein", "CIM_ControllerConfigurationService"}).at(0), "ExposePaths",
           {"LUNames=string[]:" + uuid, "DeviceAccesses=uint16[]:2",
            "ProtocolControllers=reference[]:" + spc});
    const std::string before = snapshot();
    EXPECT_NE(before.find(uuid), std::string::npos);
    EXPECT_EQ(sim->terminate(), 0);
    start();
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(sim->terminate(), 0);
}

TEST(StateFile, WrittenPrivatelyWithoutCredentialsNeverThroughALink) {
    testsupport::TempDir dir;
    const std::string path = dir.file("private.json"), victim = dir.write("victim", "untouched");
    // A fixed temporary name would be written through this link.
    ASSERT_EQ(::symlink(victim.c_str(), (path + ".tmp").c_str()), 0);
    {
        testsupport::SimArray s(secretive());
        s.provider().persistTo(path);
        s.control({{"action", "write"}, {"volume", "ora_data1"}});
        s.provider().flushState();
    }
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string text = dir.read("private.json");
    for (const char* secret : {"Server-Pw-7731", "Array-Pw-5521", "Old-Secret-9090"})
        EXPECT_EQ(text.find(secret), std::string::npos) << secret;
    EXPECT_EQ(dir.read("victim"), "untouched");
    // What was current stays current after a restart; a stale secret stays stale.
    sim::Config loaded = sim::Config::loadState(path, secretive());
    EXPECT_EQ(loaded.password, "Server-Pw-7731");
    EXPECT_EQ(loaded.arrays[0].password, "Array-Pw-5521");
    EXPECT_EQ(loaded.arrays[0].providerSecret, "Old-Secret-9090");
}

// A syntax error names its place, never the text around it.
TEST(StateFile, RefusedWhenOthersMayReadItOrItIsNoPlainFileOrNoJson) {
    testsupport::TempDir dir;
    const std::string path = dir.file("refused.json"), link = dir.file("refused-link.json");
    sim::Config::defaults().saveState(path);
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    const std::string broken = dir.write(
        "broken.json", "{\n  \"user\": \"admin\",\n  \"password\": \"Pw-Near-Error\" x }", 0600);
    // clang-format off
    struct Row { const char* name; std::string file; mode_t mode; const char* says; };
    const Row rows[] = {
        {"readable by others", path, 0644, "chmod 600"},
        {"readable by the group", path, 0640, "may be read by others"},
        {"a symbolic link", link, 0600, "symbolic link"},
        {"a folder", dir.path(), 0600, "not a regular file"},
        {"missing", dir.file("missing.json"), 0600, "cannot read"},
        {"a syntax error", broken, 0600, "line 3"},
    };
    // clang-format on
    for (const Row& row : rows) {
        ::chmod(path.c_str(), row.mode);
        try {
            sim::Config::loadState(row.file, sim::Config::defaults());
            ADD_FAILURE() << row.name << ": loaded";
        } catch (const sim::ConfigError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(row.says), std::string::npos) << row.name << ": " << what;
            EXPECT_EQ(what.find("Pw-Near"), std::string::npos) << row.name << ": " << what;
        }
    }
    ::chmod(path.c_str(), 0600);
    EXPECT_NO_THROW(sim::Config::loadState(path, sim::Config::defaults()));
}
