// Array parameters: a management record and the configuration made into a snapshot
// object's provider endpoint, checked against the simulator over real HTTP.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/ArrayParams.h"
#include "testsupport/LogCapture.h"
#include "testsupport/SimSnapshot.h"
#include "testsupport/TalonConfig.h"

namespace {

using namespace testsupport;

std::string record(const std::string& arrayId, const std::string& user = kSimUser) {
    return "{arrayId:" + arrayId + ",hostName:127.0.0.1,hostUserName:" + user +
           ",hostPassword:" + kSimPassword + ",engineId:54}";
}

const RkCimom& endpoint(LSISnapshot& snap) {
    return snap.m_CimConnection.GetCimom();
}

TEST(ArrayParams, RecordAndSettingsBecomeTheEndpoint) {
    struct Row {
        const char* name;
        int port, secure;    // snap configuration; 0 = absent
        const char* tuning;  // section "~Talon"
        int wantPort;
        bool wantSsl;
        const char *user, *wantUser;
    } rows[] = {
        // clang-format off
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
        // clang-format on
    };
    for (const Row& row : rows) {
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
        ASSERT_TRUE(initArrayParams(snap, &info, "A1", text)) << row.name;
        const RkCimom& e = endpoint(snap);
        EXPECT_EQ(e.GetPort() + (e.GetUseSSL() ? " https " : " http ") + e.GetUserName() + " " +
                      e.GetPassword() + " " + e.GetNameSpace() + " " + snap.m_SystemName,
                  std::to_string(row.wantPort) + (row.wantSsl ? " https " : " http ") +
                      row.wantUser + " " + kSimPassword + " root/LsiArray13 A1")
            << row.name;
        EXPECT_FALSE(info.called("getArrayInfo")) << row.name << ": the record was given";
        ExpectNoPassword(info, module, row.name);
    }
}

TEST(ArrayParams, NamespaceFromInteropConfigurationOrDefault) {
    sim::TestServer sim(SimConfig("LSISSI"), PlainHttp());
    const std::string id = sim.provider().config().arrays[0].id;
    struct Row {
        const char* name;
        const char* configured;  // null: absent
        std::string tuning;      // section "Talon"
        bool interopFails;
        const char* want;
    } rows[] = {
        // clang-format off
        {"from interop", nullptr, "", false, "root/LsiArray13"},
        {"configured", "root/conf", "", false, "root/conf"},
        {"configured empty", "", "", false, "root/LsiArray13"},
        {"tuning wins", "root/conf", "LSI_OEM_NAMESPACE = root/tuned", false, "root/tuned"},
        {"nothing found", nullptr, "", true, "root/netapp/santricity"},
        {"configured without interop", "root/conf", "", true, "root/conf"},
        // clang-format on
    };
    for (const Row& row : rows) {
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
        ASSERT_TRUE(initArrayParams(snap, &info, id, true)) << row.name;
        EXPECT_EQ(endpoint(snap).GetNameSpace(), row.want) << row.name;
        EXPECT_EQ(info.selectedArray(), id) << row.name;
        // The interop lookup is the only traffic.
        const auto requests = sim.requests();
        EXPECT_FALSE(requests.empty()) << row.name;
        for (const auto& r : requests)
            EXPECT_EQ(r.nameSpace, "interop") << row.name << ": " << r.operation;
        ExpectNoPassword(info, module, row.name);
    }
}

TEST(ArrayParams, CreateFormFetchesTheRecordOnceAndAsksNoProvider) {
    sim::TestServer sim(SimConfig(), PlainHttp());
    FakeSnapInfo first, second;
    first.setArrayInfoText(record("A1"));
    std::string shared;
    LSISnapshot a, b;
    a.m_ServicePath = b.m_ServicePath =
        "//127.0.0.1/root/netapp/santricity:NETAPP_ReplicationService.Name=\"RS1\"";
    ASSERT_TRUE(initArrayParams(a, &first, "A1", shared));
    EXPECT_EQ(shared, record("A1"));
    ASSERT_TRUE(initArrayParams(b, &second, "A1", shared));
    EXPECT_FALSE(second.called("getArrayInfo"));
    EXPECT_FALSE(second.called("setArrayName"));
    EXPECT_EQ(endpoint(b).GetAddress(), "127.0.0.1");
    EXPECT_TRUE(sim.requests().empty());
}

TEST(ArrayParams, FailuresNameTheirCause) {
    using Setup = std::function<void(FakeSnapInfo&)>;
    const Setup none = [](FakeSnapInfo&) {};
    struct Row {
        const char* name;
        int form;  // 1 record, 2 array id, 3 create
        std::string arg;
        Setup setup;
        int wantError;
        std::string line;
    } rows[] = {
        // clang-format off
        {"record without array id", 1, "{hostName:h}", none, 62005, "Failed to get array info as arrayId is empty"},
        {"empty array id", 2, "", none, 62005, "Failed to get array info as arrayId is empty"},
        {"empty array id, create", 3, "", none, 62005, "Failed to get array info as arrayId is empty"},
        {"array not selectable", 1, record("A1"), [](FakeSnapInfo& i) { i.failCall("setArrayName"); }, 0,
         " Unable to set the login credentials for SMIS provider"},
        {"record unreadable", 2, "A1", [](FakeSnapInfo& i) { i.failCall("getArrayInfo"); }, 62005,
         "Failed to get array info for array id-[A1]"},
        {"record unreadable, create", 3, "A1", [](FakeSnapInfo& i) { i.failCall("getArrayInfo"); }, 62005,
         "Failed to get array info for array id [A1]"},
        {"no address", 1, "{arrayId:A1,hostUserName:u,hostPassword:p}", none, 0, "The item being requested [hostName]"},
        {"no password", 1, "{arrayId:A1,hostName:h,hostUserName:u}", none, 0, "The item being requested [hostPassword]"},
        // clang-format on
    };
    for (const Row& row : rows) {
        LogCapture module;
        FakeSnapInfo info;
        info.setArrayInfoText("{hostName:h,hostUserName:u}");
        row.setup(info);
        LSISnapshot snap;
        std::string created;
        bool ok = row.form == 1   ? initArrayParams(&info, snap, row.arg.c_str(), true)
                  : row.form == 2 ? initArrayParams(snap, &info, row.arg, true)
                                  : initArrayParams(snap, &info, row.arg, created);
        EXPECT_FALSE(ok) << row.name;
        EXPECT_TRUE(info.logContains(row.line)) << row.name << ": wanted " << row.line;
        EXPECT_EQ(info.errorCode(), row.wantError) << row.name;
        if (row.wantError) {
            EXPECT_EQ(info.errorText(), "Failed to get array info") << row.name;
        }
        EXPECT_EQ(endpoint(snap).GetAddress(), "") << row.name << ": endpoint set";
        ExpectNoPassword(info, module, row.name);
    }
}

}  // namespace
