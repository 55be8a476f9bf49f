// A record and settings made into a provider endpoint; the array of a volume found by asking.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/ArrayLookup.h"
#include "engine/ArrayParams.h"
#include "engine/Identification.h"
#include "testsupport/FakeOSUtil.h"
#include "testsupport/LogCapture.h"
#include "testsupport/SimHost.h"
#include "testsupport/SimSnapshot.h"
#include "testsupport/TalonConfig.h"

namespace {

using namespace testsupport;

std::string record(const std::string& arrayId, const std::string& user = kSimUser) {
    return "{arrayId:" + arrayId + ",hostName:127.0.0.1,hostUserName:" + user +
           ",hostPassword:" + kSimPassword + ",engineId:54}";
}

const char* const kEngines = "[Engines]\n54 = {SnapVendorName:LSI,Capabilities:3}\n";

const RkCimom& endpoint(LSISnapshot& snap) {
    return snap.m_CimConnection.GetCimom();
}

TEST(ArrayParams, RecordAndSettingsBecomeTheEndpoint) {
    // port, secure: snap configuration, 0 = absent; tuning: section "~Talon"
    // clang-format off
    struct Row {
        const char* name; int port, secure; const char* tuning; int wantPort; bool wantSsl;
        const char *user, *wantUser;
    } rows[] = {
        {"nothing set", 0, 0, "", 5988, false, "snapuser", "snapuser"},
        {"secure", 0, 1, "", 5989, true, "snapuser", "snapuser"},
        {"secure on a port", 5990, 1, "", 5990, true, "snapuser", "snapuser"},
        {"port only", 6000, 0, "", 6000, false, "snapuser", "snapuser"},
        {"tuning: no HTTPS", 0, 1, "LSI_SMIS_USE_HTTPS = 0", 5988, false, "snapuser", "snapuser"},
        {"tuning: HTTPS", 0, 0, "LSI_SMIS_USE_HTTPS = 1", 5989, true, "snapuser", "snapuser"},
        {"tuning port wins", 5990, 0, "LSI_SMIS_PORT = 7000", 7000, false, "snapuser", "snapuser"},
        {"highest TCP port", 65535, 0, "", 65535, false, "snapuser", "snapuser"},
        {"one above the TCP ports", 65536, 0, "", 5988, false, "snapuser", "snapuser"},
        {"doubled backslash", 0, 0, "", 5988, false, "dom\\\\user", "dom\\user"},
        {"single backslash", 0, 0, "", 5988, false, "dom\\user", "dom\\user"},
        {"backslashes apart", 0, 0, "", 5988, false, "a\\b\\c", "a\\bc"},
        {"three backslashes", 0, 0, "", 5988, false, "a\\\\\\b", "a\\\\b"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TalonConfig config("", "[~Talon]\n" + std::string(row.tuning) + "\n");
        LogCapture module;
        FakeSnapInfo info;
        if (row.port) info.setConfig("SMCONFIG_NAME_SMIS_SERVER_PORT", std::to_string(row.port));
        if (row.secure) info.setConfig("SMCONFIG_NAME_USE_SECURE_CONNECTION_TO_SMIS_SERVER", "1");
        LSISnapshot snap;
        snap.m_ServicePath =
            "//127.0.0.1/root/LsiArray13:LSISSI_ReplicationService.CreationClassName="
            "\"LSISSI_ReplicationService\",Name=\"RS1\"";
        std::string text = record("A1", row.user);
        ASSERT_TRUE(initArrayParams(snap, &info, "A1", text));
        const RkCimom& e = endpoint(snap);
        EXPECT_EQ(e.GetPort() + (e.GetUseSSL() ? " https " : " http ") + e.GetUserName() + " " +
                      e.GetPassword() + " " + e.GetNameSpace() + " " + snap.m_SystemName,
                  std::to_string(row.wantPort) + (row.wantSsl ? " https " : " http ") +
                      row.wantUser + " " + kSimPassword + " root/LsiArray13 A1");
        // The port the device log reports is the one taken (the endpoint keeps only valid ones).
        EXPECT_TRUE(info.logContains(" Array params A1 127.0.0.1 " + std::string(row.wantUser) +
                                     " " + std::to_string(row.wantPort)));
        EXPECT_FALSE(info.called("getArrayInfo")) << "the record was given";
        ExpectNoPassword(info, module, row.name);
    }
}

TEST(ArrayParams, NamespaceFromInteropConfigurationOrDefault) {
    sim::TestServer sim(SimConfig("LSISSI"), PlainHttp());
    const std::string id = sim.provider().config().arrays[0].id;
    // configured: null when absent; tuning: section "Talon"
    // clang-format off
    struct Row { const char* name; const char* configured; std::string tuning; bool interopFails; const char* want; } rows[] = {
        {"from interop", nullptr, "", false, "root/LsiArray13"},
        {"configured", "root/conf", "", false, "root/conf"},
        {"configured empty", "", "", false, "root/LsiArray13"},
        {"tuning wins", "root/conf", "LSI_OEM_NAMESPACE = root/tuned", false, "root/tuned"},
        {"nothing found", nullptr, "", true, "root/netapp/santricity"},
        {"configured without interop", "root/conf", "", true, "root/conf"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TalonConfig config(row.tuning);
        LogCapture module;
        sim.reset();
        if (row.interopFails)
            sim.failCim(cim::CIM_ERR_FAILED, "", -1, {"EnumerateInstanceNames", "", ""});
        FakeSnapInfo info;
        info.setArrayInfoText(record(id));
        info.setConfig("SMCONFIG_NAME_SMIS_SERVER_PORT", std::to_string(sim.httpPort()));
        if (row.configured) info.setConfig("SMCONFIG_NAME_SMIS_NAMESPACE", row.configured);
        LSISnapshot snap;
        snap.SetLogger(&info);
        ASSERT_TRUE(initArrayParams(snap, &info, id, true));
        EXPECT_EQ(endpoint(snap).GetNameSpace(), row.want);
        EXPECT_EQ(info.selectedArray(), id);
        // The interop lookup is the only traffic.
        const auto requests = sim.requests();
        EXPECT_FALSE(requests.empty());
        for (const auto& r : requests) EXPECT_EQ(r.nameSpace, "interop") << r.operation;
        ExpectNoPassword(info, module, row.name);
    }
}

TEST(ArrayParams, FailuresNameTheirCause) {
    using Setup = std::function<void(FakeSnapInfo&)>;
    const Setup none = [](FakeSnapInfo&) {};
    // form: 1 record, 2 array id, 3 create
    // clang-format off
    struct Row { const char* name; int form; std::string arg; Setup setup; int wantError; std::string line; } rows[] = {
        {"record without array id", 1, "{hostName:h}", none, 62005, "Failed to get array info as arrayId is empty"},
        {"empty array id", 2, "", none, 62005, "Failed to get array info as arrayId is empty"},
        {"empty array id, create", 3, "", none, 62005, "Failed to get array info as arrayId is empty"},
        {"array not selectable", 1, record("A1"), [](FakeSnapInfo& i) { i.failCall("setArrayName"); }, 0, " Unable to set the login credentials for SMIS provider"},
        {"record unreadable", 2, "A1", [](FakeSnapInfo& i) { i.failCall("getArrayInfo"); }, 62005, "Failed to get array info for array id-[A1]"},
        {"record unreadable, create", 3, "A1", [](FakeSnapInfo& i) { i.failCall("getArrayInfo"); }, 62005, "Failed to get array info for array id [A1]"},
        {"no address", 1, "{arrayId:A1,hostUserName:u,hostPassword:p}", none, 0, "The item being requested [hostName]"},
        {"no password", 1, "{arrayId:A1,hostName:h,hostUserName:u}", none, 0, "The item being requested [hostPassword]"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LogCapture module;
        FakeSnapInfo info;
        info.setArrayInfoText("{hostName:h,hostUserName:u}");
        row.setup(info);
        LSISnapshot snap;
        std::string created;
        bool ok = row.form == 1   ? initArrayParams(&info, snap, row.arg.c_str(), true)
                  : row.form == 2 ? initArrayParams(snap, &info, row.arg, true)
                                  : initArrayParams(snap, &info, row.arg, created);
        EXPECT_FALSE(ok);
        EXPECT_TRUE(info.logContains(row.line)) << "wanted " << row.line;
        EXPECT_EQ(
            std::to_string(info.errorCode()) + " " + info.errorText(),
            std::to_string(row.wantError) + (row.wantError ? " Failed to get array info" : " "));
        EXPECT_EQ(endpoint(snap).GetAddress(), "") << "endpoint set";
        ExpectNoPassword(info, module, row.name);
    }
}

// Three arrays on one provider; only the third holds "far", mapped to a host of its own.
sim::Config threeArrays() {
    nlohmann::json arrays = nlohmann::json::array();
    for (int i = 1; i <= 3; ++i) {
        nlohmann::json a = {
            {"name", "ESeries0" + std::to_string(i)},
            {"password", kArraySecret},
            {"pools", {{{"label", "DG1"}}}},
            {"volumes", {{{"label", "only" + std::to_string(i)}, {"pool", "DG1"}}}}};
        if (i == 3) {
            a["volumes"].push_back({{"label", "far"}, {"pool", "DG1"}});
            a["hosts"] = {{{"label", "esx1"}, {"ports", {"10000090FA0000E1"}}}};
            a["mappings"] = {{{"volume", "far"}, {"to", "esx1"}, {"lun", 4}}};
        }
        arrays.push_back(a);
    }
    return sim::Config::fromJson(
        {{"user", kSimUser}, {"password", kSimPassword}, {"arrays", arrays}});
}

TEST(ArrayLookup, AVolumeOfTheThirdArrayIsFoundAfterTwoMisses) {
    sim::TestServer sim(threeArrays(), PlainHttp());
    const auto& arrays = sim.provider().config().arrays;
    FakeOSUtil util;
    util.setEngineId(54);
    util.setArrayList(arrays[0].name + "*" + arrays[1].name + "*" + arrays[2].name);
    for (const sim::Array& a : arrays) util.setArrayCredentialsFor(a.name, record(a.id));
    // A VMware host's descriptor names the LUN; the array is found by asking.
    SimHost host(sim, "vmware", "", kEngines, "10000090FA0000E1");
    const std::vector<std::string> devices = host.devices();
    ASSERT_EQ(devices.size(), 1u);
    LogCapture module;
    FakeSnapInfo info;
    info.setConfig("SMCONFIG_NAME_SMIS_SERVER_PORT", std::to_string(sim.httpPort()));
    std::string vendor, product, arrayId, lunUuid;
    ASSERT_TRUE(getDevArrayInfo(&util, &info, devices[0].c_str(), vendor, product, arrayId, lunUuid,
                                false, true));
    EXPECT_EQ(lunUuid + " " + arrayId + " " + info.selectedArray(),
              arrays[2].findVolumeByLabel("far")->uuid + " " + arrays[2].id + " " + arrays[2].id);
    EXPECT_EQ(util.callCount("getArrayCredentials"), 3);
    EXPECT_EQ(CountRequests(sim, "EnumerateInstanceNames", "CIM_ComputerSystem"), 3u);
    ExpectNoPassword(info, module, "search");
}

TEST(ArrayLookup, TheSearchEndsAtTheFirstHostFailure) {
    using Setup = std::function<void(FakeOSUtil&)>;
    struct Row {
        const char* name;
        std::string engines;
        Setup setup;
        int wantError;
        std::string line;
        const char* countedCall;
        int wantCalls;
    };
    const Setup none = [](FakeOSUtil&) {};
    const Row rows[] = {
        // clang-format off
        {"no engine record", "", none, 0, "Failed to get engine info. EngineId [54]", "getArrayList", 0},
        {"no arrays", kEngines, [](FakeOSUtil& u) { u.setArrayList(""); }, 62005, "No array entries were found in Array Management for [LSI] vendor. Please ensure that the array details are configured in Array Management.", "getArrayList", 2},
        {"list never fits", kEngines, [](FakeOSUtil& u) { u.keepGrowing("getArrayList"); }, 62005, "Error:Array list returned by the DB seems to be empty  cannot go ahead", "getArrayList", 3},
        {"credentials refused", kEngines, [](FakeOSUtil& u) { u.failCall("getArrayCredentials"); }, 0, "Error:Unable to get login credentials for Array [A1]", "getArrayCredentials", 1},
        {"credentials never fit", kEngines, [](FakeOSUtil& u) { u.keepGrowing("getArrayCredentials"); }, 0, "Error:Unable to get login credentials for Array [A1]", "getArrayCredentials", 3},
        {"record without array id", kEngines, [](FakeOSUtil& u) { u.setArrayCredentials("{hostName:h}"); }, 62005, "Failed to initialize the Array parameters", "getArrayCredentials", 1},
        // clang-format on
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TalonConfig config("", row.engines);
        FakeOSUtil util;
        util.setEngineId(54);
        util.setArrayList("A1*A2");
        util.setArrayCredentials(record("A1"));
        row.setup(util);
        LogCapture module;
        FakeSnapInfo info;
        std::string arrayId = "unset", lun = "600A0980006CE2B20000000000000FA3";
        EXPECT_FALSE(CheckandGetArrayID(&util, &info, arrayId, lun, false));
        EXPECT_EQ(arrayId, "unset");
        EXPECT_TRUE(info.logContains(row.line)) << "wanted " << row.line;
        EXPECT_EQ(info.errorCode(), row.wantError);
        EXPECT_EQ(util.callCount(row.countedCall), row.wantCalls);
        ExpectNoPassword(info, module, row.name);
    }
}

TEST(ArrayLookup, EngineVendorAndCapability) {
    // engine: the engine's record, null for none
    // clang-format off
    struct Row {
        const char* name; short engineId; const char* engine; bool ok; const char* wantVendor;
        int wantCapability; const char* line;
    } rows[] = {
        {"record", 54, "{SnapVendorName:LSI,Capabilities:3}", true, "LSI", 3, ""},
        {"no engine", -1, "{SnapVendorName:LSI,Capabilities:3}", false, "", -7, "ID -1 passed as Engine ID"},
        {"no record", 54, nullptr, false, "", -7, "Failed to get engine info. EngineId [54]"},
        {"no vendor", 54, "{Capabilities:3}", false, "", -7, "Failed to get the SnapVendorName of Engine id [54]"},
        {"no capabilities", 54, "{SnapVendorName:LSI}", false, "LSI", -7, "Failed to get the Capabilities of Engine id [54]"},
        {"capabilities not a number", 54, "{SnapVendorName:LSI,Capabilities:x}", false, "LSI", -7, "Failed to get the Capabilities of Engine id [54]"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TalonConfig config(
            "", row.engine ? "[Engines]\n54 = " + std::string(row.engine) + "\n" : std::string());
        FakeOSUtil util;
        FakeSnapInfo info;
        std::string vendor;
        int capability = -7;
        EXPECT_EQ(getSnapEngineVendorCapability(&info, &util, row.engineId, vendor, capability),
                  row.ok);
        EXPECT_EQ(vendor + " " + std::to_string(capability),
                  row.wantVendor + (" " + std::to_string(row.wantCapability)));
        EXPECT_TRUE(!*row.line || info.logContains(row.line));
    }
}

}  // namespace
