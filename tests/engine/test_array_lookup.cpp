// Finding the array that holds a volume among the arrays the host's array
// management lists, and the engine records behind it.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/ArrayLookup.h"
#include "engine/Identification.h"
#include "testsupport/FakeOSUtil.h"
#include "testsupport/LogCapture.h"
#include "testsupport/SimHost.h"
#include "testsupport/SimSnapshot.h"

namespace {

using namespace testsupport;

const char* const kEngines = "[Engines]\n54 = {SnapVendorName:LSI,Capabilities:3}\n";

std::string record(const std::string& arrayId) {
    return "{arrayId:" + arrayId + ",hostName:127.0.0.1,hostUserName:" + kSimUser +
           ",hostPassword:" + kSimPassword + ",engineId:54}";
}

// Three arrays on one provider; only the third holds volume "far", mapped to a
// host of its own.
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
    EXPECT_EQ(lunUuid, arrays[2].findVolumeByLabel("far")->uuid);
    EXPECT_EQ(arrayId, arrays[2].id);
    EXPECT_EQ(info.selectedArray(), arrays[2].id);
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
        {"no vendor", "[Engines]\n54 = {Capabilities:3}\n", none, 0, "Failed to get the SnapVendorName of Engine id [54]", "getArrayList", 0},
        {"no arrays", kEngines, [](FakeOSUtil& u) { u.setArrayList(""); }, 62005,
         "No array entries were found in Array Management for [LSI] vendor. Please ensure that the array details are configured in Array Management.",
         "getArrayList", 2},
        {"list never fits", kEngines, [](FakeOSUtil& u) { u.keepGrowing("getArrayList"); }, 62005,
         "Error:Array list returned by the DB seems to be empty  cannot go ahead", "getArrayList", 3},
        {"credentials refused", kEngines, [](FakeOSUtil& u) { u.failCall("getArrayCredentials"); }, 0,
         "Error:Unable to get login credentials for Array [A1]", "getArrayCredentials", 1},
        {"credentials never fit", kEngines, [](FakeOSUtil& u) { u.keepGrowing("getArrayCredentials"); }, 0,
         "Error:Unable to get login credentials for Array [A1]", "getArrayCredentials", 3},
        {"record without array id", kEngines, [](FakeOSUtil& u) { u.setArrayCredentials("{hostName:h}"); }, 62005,
         "Failed to initialize the Array parameters", "getArrayCredentials", 1},
        // clang-format on
    };
    for (const Row& row : rows) {
        TalonConfig config("", row.engines);
        FakeOSUtil util;
        util.setEngineId(54);
        util.setArrayList("A1*A2");
        util.setArrayCredentials(record("A1"));
        row.setup(util);
        LogCapture module;
        FakeSnapInfo info;
        std::string arrayId = "unset", lun = "600A0980006CE2B20000000000000FA3";
        EXPECT_FALSE(CheckandGetArrayID(&util, &info, arrayId, lun, false)) << row.name;
        EXPECT_EQ(arrayId, "unset") << row.name;
        EXPECT_TRUE(info.logContains(row.line)) << row.name << ": wanted " << row.line;
        EXPECT_EQ(info.errorCode(), row.wantError) << row.name;
        EXPECT_EQ(util.callCount(row.countedCall), row.wantCalls) << row.name;
        ExpectNoPassword(info, module, row.name);
    }
}

TEST(ArrayLookup, EngineVendorAndCapability) {
    struct Row {
        const char* name;
        short engineId;
        const char* engine;  // the engine's record, or null for none
        bool ok;
        const char* wantVendor;
        int wantCapability;
        const char* line;
    } rows[] = {
        // clang-format off
        {"record", 54, "{SnapVendorName:LSI,Capabilities:3}", true, "LSI", 3, ""},
        {"no engine", -1, "{SnapVendorName:LSI,Capabilities:3}", false, "", -7, "ID -1 passed as Engine ID"},
        {"no record", 54, nullptr, false, "", -7, "Failed to get engine info. EngineId [54]"},
        {"no vendor", 54, "{Capabilities:3}", false, "", -7, "Failed to get the SnapVendorName of Engine id [54]"},
        {"no capabilities", 54, "{SnapVendorName:LSI}", false, "LSI", -7, "Failed to get the Capabilities of Engine id [54]"},
        {"capabilities not a number", 54, "{SnapVendorName:LSI,Capabilities:x}", false, "LSI", -7,
         "Failed to get the Capabilities of Engine id [54]"},
        // clang-format on
    };
    for (const Row& row : rows) {
        TalonConfig config(
            "", row.engine ? "[Engines]\n54 = " + std::string(row.engine) + "\n" : std::string());
        FakeOSUtil util;
        FakeSnapInfo info;
        std::string vendor;
        int capability = -7;
        EXPECT_EQ(getSnapEngineVendorCapability(&info, &util, row.engineId, vendor, capability),
                  row.ok)
            << row.name;
        EXPECT_EQ(vendor, row.wantVendor) << row.name;
        EXPECT_EQ(capability, row.wantCapability) << row.name;
        EXPECT_TRUE(!*row.line || info.logContains(row.line)) << row.name;
    }
}

}  // namespace
