// An independent client (sblim wbemcli) against the simulator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/server/TestServer.h"
#include "testsupport/ChildProcess.h"

#ifndef WBEMCLI_PROGRAM
#define WBEMCLI_PROGRAM ""
#endif

namespace {

TEST(Wbemcli, EveryOperationPrintsWhatTheSimulatorHolds) {
    if (std::string(WBEMCLI_PROGRAM).empty()) GTEST_SKIP() << "wbemcli is not installed";
    sim::TestServerOptions httpOnly;
    httpOnly.https = false;
    sim::TestServer simulator{sim::Config::defaults(), httpOnly};
    const sim::Array& array = simulator.provider().config().arrays.at(0);
    const std::string ns = simulator.arrayNamespace(),
                      p = simulator.provider().config().classPrefix;
    const auto base = [&](const std::string& password) {
        return "http://" + simulator.user() + ":" + password +
               "@127.0.0.1:" + std::to_string(simulator.httpPort()) + "/";
    };
    const auto at = [&](const std::string& path) {
        return base(simulator.password()) + ns + ":" + path;
    };
    // A path of an element of the array: its class (without prefix) and its own keys.
    const auto element = [&](const std::string& cls, const std::string& keys) {
        return p + cls + ".CreationClassName=\"" + p + cls + "\"," + keys +
               ",SystemCreationClassName=\"" + p + "_StorageSystem\",SystemName=\"" + array.id +
               "\"";
    };
    const auto volume = [&](const std::string& uuid) {
        return element("_StorageVolume", "DeviceID=\"" + uuid + "\"");
    };
    const sim::Volume &v0 = array.volumes.at(0), &v1 = array.volumes.at(1);
    const std::string service = element("_ReplicationService", "Name=\"ReplicationService\"");
    std::string everyName;
    for (const auto& v : array.volumes)
        everyName += "127.0.0.1:" + std::to_string(simulator.httpPort()) + "/" + ns + ":" +
                     volume(v.uuid) + "\n";
    const std::string pool = "/" + ns + ":" + p + "_StoragePool.InstanceID=\"" + array.id;
    const std::string group = "ReplicationGroup (reference): " + ns + ":" + p +
                              "_ConsistencyGroup.InstanceID=\"" + array.id + ":";
    // clang-format off
    const struct { const char* name; std::vector<std::string> args; bool ok; std::vector<std::string> printed; } rows[] = {
        {"enumerate instance names", {"ein", at("CIM_StorageVolume")}, true, {everyName}},
        {"enumerate instances", {"ei", "-nl", at(p + "_StorageVolume")}, true, {"-Name=\"" + v1.uuid + "\"", "-ElementName=\"" + v1.label + "\"", "-BlockSize="}},
        {"get instance", {"gi", "-nl", at(volume(v1.uuid))}, true, {"-Name=\"" + v1.uuid + "\"", "-NumberOfBlocks=" + std::to_string(v1.blocks)}},
        {"associator names", {"ain", "-ac", "CIM_AllocatedFromStoragePool", at(volume(v0.uuid))}, true, {pool}},
        {"reference names", {"rin", at(volume(v0.uuid))}, true, {p + "_AllocatedFromStoragePool.", "DeviceID=\"" + v0.uuid + "\""}},
        {"interop namespace", {"ein", base(simulator.password()) + simulator.interopNamespace() + ":CIM_Namespace"}, true, {"Name=\"" + ns + "\""}},
        // wbemcli types the parameters from the class's method declaration.
        {"call method", {"cm", at(service), "CreateGroup.GroupName=\"1A3F_2\""}, true, {"CreateGroup: 0", group}},
        {"missing instance", {"gi", at(volume("600A0980000000000000000000000000"))}, false, {"CIM_ERR_NOT_FOUND"}},
        {"unknown class", {"ein", at("NoSuch_Class")}, false, {"CIM_ERR_INVALID_CLASS"}},
        {"wrong password", {"ein", base("wrong") + ns + ":CIM_StorageVolume"}, false, {"username/password"}},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        testsupport::ChildProcess wbemcli(WBEMCLI_PROGRAM, row.args);
        const std::string output = wbemcli.drain() + wbemcli.drain(true);
        EXPECT_EQ(wbemcli.wait() == 0, row.ok) << output;
        for (const std::string& s : row.printed)
            EXPECT_NE(output.find(s), std::string::npos) << s << "\n" << output;
    }
    EXPECT_EQ(simulator.requests().back().httpStatus, 401);
    const sim::Array now = simulator.provider().currentState().arrays.at(0);
    ASSERT_EQ(now.consistencyGroups.size(), 1u);
    EXPECT_EQ(now.consistencyGroups[0].label, "1A3F_2");
}

}  // namespace
