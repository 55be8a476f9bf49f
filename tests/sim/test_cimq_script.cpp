// The PiT road walked with cimq against the smis-sim binary, which keeps a state
// file: after a restart the array answers the same enumerations.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <regex>

#include <nlohmann/json.hpp>

#include "sim/Config.h"
#include "testsupport/ChildProcess.h"

namespace {

using nlohmann::json;

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "cimq-script-" + std::to_string(::getpid()) + "-" + name;
}

class Script : public ::testing::Test {
  protected:
    std::string state = tempPath("state.json");
    std::string passwordFile = tempPath("password");
    std::string url;
    std::unique_ptr<testsupport::ChildProcess> sim;
    const sim::Config config = sim::Config::defaults();

    void SetUp() override {
        std::remove(state.c_str());
        std::ofstream(passwordFile) << config.password << "\n";
    }
    void TearDown() override {
        sim.reset();
        std::remove(state.c_str());
        std::remove(passwordFile.c_str());
    }
    void start() {
        sim = std::make_unique<testsupport::ChildProcess>(
            SMIS_SIM_BINARY, std::vector<std::string>{"--http-port", "0", "--https-port", "-1",
                                                      "--state-file", state});
        url = sim->readLine();
        ASSERT_TRUE(std::regex_match(url, std::regex("http://127\\.0\\.0\\.1:[0-9]+"))) << url;
    }
    int stop() { return sim->terminate(); }

    // cimq's JSON answer; fails the test on a non-zero exit.
    json cimq(std::vector<std::string> args) {
        std::vector<std::string> all = {
            "--url",           url,          "-u", config.user,
            "--password-file", passwordFile, "-n", config.arrayNamespace,
            "--json"};
        all.insert(all.end(), args.begin(), args.end());
        testsupport::ChildProcess run(CIMQ_BINARY, all);
        const std::string out = run.drain();
        const int rc = run.wait();
        EXPECT_EQ(rc, 0) << args[0] << ": " << run.drain(true);
        return json::parse(out, nullptr, false);
    }
    std::string invoke(const std::string& target, const std::string& method,
                       std::vector<std::string> params, const char* output = nullptr) {
        std::vector<std::string> args = {"im", target, method};
        args.insert(args.end(), params.begin(), params.end());
        json answer = cimq(args);
        EXPECT_EQ(answer.value("returnValue", -1), 0) << method << ": " << answer.dump();
        return output ? answer["outParameters"].value(output, "") : std::string();
    }
    // What the enumerations a host relies on answer, as text.
    std::string snapshot() {
        std::string all;
        for (const char* cls : {"CIM_StorageVolume", "CIM_SystemSpecificCollection",
                                "CIM_SynchronizationAspect", "CIM_ProtocolControllerForUnit",
                                "CIM_SettingsDefineState", "CIM_StorageSynchronized"})
            all += cimq({"ein", cls}).dump() + "\n";
        all +=
            cimq({"ei", "CIM_StorageVolume", "-p", "ElementName", "-p", "NumberOfBlocks"}).dump();
        return all;
    }
};

}  // namespace

TEST_F(Script, PiTRoadWithCimqSurvivesARestart) {
    start();
    const sim::Array& a = config.arrays[0];
    const std::string prefix = config.classPrefix;
    const std::string volume =
        prefix + "_StorageVolume.CreationClassName=\"" + prefix + "_StorageVolume\",DeviceID=\"" +
        a.findVolumeByLabel("ora_data1")->uuid + "\",SystemCreationClassName=\"" + prefix +
        "_StorageSystem\",SystemName=\"" + a.id + "\"";
    const std::string service = cimq({"ein", "CIM_ReplicationService"}).at(0);
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
    const std::string uuid = cimq({"gi", view, "-p", "Name"})[0]["properties"]["Name"];
    std::string spc;
    for (const auto& c : cimq({"ei", "CIM_SCSIProtocolController", "-p", "ElementName"}))
        if (c["properties"]["ElementName"] == "iscsihost1") spc = c["path"];
    invoke(cimq({"ein", "CIM_ControllerConfigurationService"}).at(0), "ExposePaths",
           {"LUNames=string[]:" + uuid, "DeviceAccesses=uint16[]:2",
            "ProtocolControllers=reference[]:" + spc});

    const std::string before = snapshot();
    EXPECT_NE(before.find(uuid), std::string::npos);
    EXPECT_EQ(stop(), 0);
    struct stat st {};
    ASSERT_EQ(::stat(state.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    start();
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(stop(), 0);
}
