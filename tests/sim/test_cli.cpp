// The smis-sim binary: refused starts, the configuration it prints, and the PiT road
// walked with cimq across a restart that keeps the state file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>

#include <nlohmann/json.hpp>

#include "sim/Config.h"
#include "testsupport/ChildProcess.h"

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
    std::regex re("^http://127\\.0\\.0\\.1:([0-9]+)$");
    if (!std::regex_match(url, m, re)) return -1;
    return std::stoi(m[1]);
}

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "/smis-sim-cli-" + std::to_string(getpid()) + "-" + name;
}

}  // namespace

TEST(SmisSimCli, RefusesBadStartsWithAMessage) {
    const std::string badJson = tempPath("bad.json"), emptyPassword = tempPath("empty");
    const std::string folder = tempPath("folder"), large = tempPath("large");
    const std::string nul = tempPath("nul"), locked = tempPath("locked");
    std::ofstream(badJson) << "{ \"arrays\": [ ";
    std::ofstream(emptyPassword) << "\n";
    ::mkdir(folder.c_str(), 0700);
    std::ofstream(large) << std::string(5000, 'S');
    std::ofstream(nul) << std::string("pass\0word\n", 10);
    std::ofstream(locked) << "SSSSSSSS\n";
    ::chmod(locked.c_str(), 0);
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
    ::rmdir(folder.c_str());
    for (const auto& f : {badJson, emptyPassword, large, nul, locked}) std::remove(f.c_str());
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

namespace {

// cimq's JSON answer; fails the test on a non-zero exit.
nlohmann::json cimq(const std::string& url, const std::string& passwordFile,
                    std::vector<std::string> args) {
    const sim::Config config = sim::Config::defaults();
    std::vector<std::string> all = {"--url",           url,          "-u", config.user,
                                    "--password-file", passwordFile, "-n", config.arrayNamespace,
                                    "--json"};
    all.insert(all.end(), args.begin(), args.end());
    testsupport::ChildProcess run(CIMQ_BINARY, all);
    const std::string out = run.drain();
    EXPECT_EQ(run.wait(), 0) << args[0] << ": " << run.drain(true);
    return nlohmann::json::parse(out, nullptr, false);
}

}  // namespace

TEST(SmisSimCli, PiTRoadWithCimqSurvivesARestart) {
    const sim::Config config = sim::Config::defaults();
    const std::string state = tempPath("state.json"), passwordFile = tempPath("cimq-password");
    std::remove(state.c_str());
    std::ofstream(passwordFile) << config.password << "\n";
    std::unique_ptr<Child> sim;
    std::string url;
    auto start = [&] {
        sim = std::make_unique<Child>(std::vector<std::string>{"--http-port", "0", "--https-port",
                                                               "-1", "--state-file", state});
        url = sim->readLine();
        ASSERT_GT(portOf(url), 0) << url;
    };
    auto q = [&](std::vector<std::string> args) { return cimq(url, passwordFile, args); };
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
    struct stat st {};
    ASSERT_EQ(::stat(state.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    start();
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(sim->terminate(), 0);
    std::remove(state.c_str());
    std::remove(passwordFile.c_str());
}
