// An independent client (sblim wbemcli) against the simulator: what it prints for
// enumerate instance names, enumerate instances, get instance, associator names and
// reference names, and how it reports an error and rejected credentials.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <set>
#include <sstream>

#include "sim/server/TestServer.h"

namespace {

struct WbemRun {
    int exitCode = -1;
    std::string output;  // stdout and stderr together
    std::vector<std::string> lines;
};

// Quotes a word for /bin/sh.
std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

sim::TestServerOptions httpOnly() {
    sim::TestServerOptions o;
    o.https = false;
    return o;
}

class WbemcliTest : public ::testing::Test {
  protected:
    sim::TestServer simulator{sim::Config::defaults(), httpOnly()};
    const sim::Array& array = simulator.provider().config().arrays.at(0);
    std::string ns = simulator.arrayNamespace();
    std::string prefix = simulator.provider().config().classPrefix;

    void SetUp() override {
#ifndef WBEMCLI_PROGRAM
        GTEST_SKIP() << "wbemcli is not installed";
#endif
    }

    std::string base(const std::string& password) const {
        return "http://" + simulator.user() + ":" + password +
               "@127.0.0.1:" + std::to_string(simulator.httpPort()) + "/";
    }

    WbemRun wbemcli(const std::string& args) {
        WbemRun run;
#ifdef WBEMCLI_PROGRAM
        std::string cmd = std::string(WBEMCLI_PROGRAM) + " " + args + " 2>&1";
        FILE* p = popen(cmd.c_str(), "r");
        if (!p) return run;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), p)) > 0) run.output.append(buf, n);
        int status = pclose(p);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::istringstream in(run.output);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty()) run.lines.push_back(line);
        }
#endif
        return run;
    }

    std::string volumePath(const sim::Volume& v) const {
        return prefix + "_StorageVolume.CreationClassName=\"" + prefix +
               "_StorageVolume\",DeviceID=\"" + v.uuid + "\",SystemCreationClassName=\"" + prefix +
               "_StorageSystem\",SystemName=\"" + array.id + "\"";
    }
};

}  // namespace

TEST_F(WbemcliTest, EnumerateInstanceNamesListsEveryVolume) {
    auto run = wbemcli("ein " + shellQuote(base(simulator.password()) + ns + ":CIM_StorageVolume"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::set<std::string> printed(run.lines.begin(), run.lines.end());
    ASSERT_EQ(run.lines.size(), array.volumes.size()) << run.output;
    for (const auto& v : array.volumes) {
        std::string expected =
            "127.0.0.1:" + std::to_string(simulator.httpPort()) + "/" + ns + ":" + volumePath(v);
        EXPECT_EQ(printed.count(expected), 1u) << expected << "\n" << run.output;
    }
    auto records = simulator.requests();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].operation, "EnumerateInstanceNames");
    EXPECT_EQ(records[0].httpStatus, 200);
}

TEST_F(WbemcliTest, EnumerateInstancesPrintsTheVolumeProperties) {
    auto run = wbemcli(
        "ei -nl " + shellQuote(base(simulator.password()) + ns + ":" + prefix + "_StorageVolume"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    for (const auto& v : array.volumes) {
        EXPECT_NE(run.output.find("-Name=\"" + v.uuid + "\""), std::string::npos) << v.uuid;
        EXPECT_NE(run.output.find("-ElementName=\"" + v.label + "\""), std::string::npos)
            << v.label;
    }
    EXPECT_NE(run.output.find("-BlockSize="), std::string::npos);
    EXPECT_NE(run.output.find("-NumberOfBlocks="), std::string::npos);
}

TEST_F(WbemcliTest, GetInstanceOfOneVolume) {
    const sim::Volume& v = array.volumes.at(1);
    auto run =
        wbemcli("gi -nl " + shellQuote(base(simulator.password()) + ns + ":" + volumePath(v)));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("-Name=\"" + v.uuid + "\""), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("-ElementName=\"" + v.label + "\""), std::string::npos);
    EXPECT_NE(run.output.find("-BlockSize=" + std::to_string(v.blockSize)), std::string::npos);
    EXPECT_NE(run.output.find("-NumberOfBlocks=" + std::to_string(v.blocks)), std::string::npos);
}

TEST_F(WbemcliTest, AssociatorNamesAndReferenceNamesOfAVolume) {
    const sim::Volume& v = array.volumes.at(0);
    std::string path = shellQuote(base(simulator.password()) + ns + ":" + volumePath(v));

    auto pools = wbemcli("ain -ac CIM_AllocatedFromStoragePool " + path);
    ASSERT_EQ(pools.exitCode, 0) << pools.output;
    ASSERT_EQ(pools.lines.size(), 1u) << pools.output;
    EXPECT_NE(pools.lines[0].find("/" + ns + ":" + prefix + "_StoragePool.InstanceID=\""),
              std::string::npos)
        << pools.output;
    EXPECT_NE(pools.lines[0].find(array.id), std::string::npos);

    auto all = wbemcli("ain " + path);
    ASSERT_EQ(all.exitCode, 0) << all.output;
    EXPECT_GT(all.lines.size(), pools.lines.size());

    auto refs = wbemcli("rin " + path);
    ASSERT_EQ(refs.exitCode, 0) << refs.output;
    bool allocated = false;
    for (const auto& line : refs.lines) {
        if (line.find(prefix + "_AllocatedFromStoragePool.") != std::string::npos) {
            allocated = true;
            EXPECT_NE(line.find("DeviceID=\"" + v.uuid + "\""), std::string::npos) << line;
        }
    }
    EXPECT_TRUE(allocated) << refs.output;
}

TEST_F(WbemcliTest, InteropNamespaceListsTheArrayNamespace) {
    auto run = wbemcli("ein " + shellQuote(base(simulator.password()) +
                                           simulator.interopNamespace() + ":CIM_Namespace"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Name=\"" + ns + "\""), std::string::npos) << run.output;
}

TEST_F(WbemcliTest, ErrorsAndRejectedCredentialsAreReported) {
    sim::Volume missing = array.volumes.at(0);
    missing.uuid = "600A0980000000000000000000000000";
    auto notFound =
        wbemcli("gi " + shellQuote(base(simulator.password()) + ns + ":" + volumePath(missing)));
    EXPECT_NE(notFound.exitCode, 0);
    EXPECT_NE(notFound.output.find("CIM_ERR_NOT_FOUND"), std::string::npos) << notFound.output;

    auto badClass = wbemcli("ein " + shellQuote(base(simulator.password()) + ns + ":NoSuch_Class"));
    EXPECT_NE(badClass.exitCode, 0);
    EXPECT_NE(badClass.output.find("CIM_ERR_INVALID_CLASS"), std::string::npos) << badClass.output;

    auto denied = wbemcli("ein " + shellQuote(base("wrong") + ns + ":CIM_StorageVolume"));
    EXPECT_NE(denied.exitCode, 0);
    EXPECT_NE(denied.output.find("username/password"), std::string::npos) << denied.output;
    EXPECT_EQ(simulator.requests().back().httpStatus, 401);
}

TEST_F(WbemcliTest, CallMethodCreatesAConsistencyGroup) {
    // wbemcli types the parameters from the class's method declaration.
    const std::string service = prefix + "_ReplicationService.CreationClassName=\"" + prefix +
                                "_ReplicationService\",Name=\"ReplicationService\"," +
                                "SystemCreationClassName=\"" + prefix +
                                "_StorageSystem\",SystemName=\"" + array.id + "\"";
    auto run = wbemcli("cm " + shellQuote(base(simulator.password()) + ns + ":" + service) + " " +
                       shellQuote("CreateGroup.GroupName=\"1A3F_2\""));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("CreateGroup: 0"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("ReplicationGroup (reference): " + ns + ":" + prefix +
                              "_ConsistencyGroup.InstanceID=\"" + array.id + ":"),
              std::string::npos)
        << run.output;
    const sim::Array now = simulator.provider().currentState().arrays.at(0);
    ASSERT_EQ(now.consistencyGroups.size(), 1u);
    EXPECT_EQ(now.consistencyGroups[0].label, "1A3F_2");
    EXPECT_TRUE(now.consistencyGroups[0].members.empty());
}
