// Mapping checks and status: answers about the array that change nothing on it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/SimMapping.h"

namespace {

using testsupport::OpenConnection;
using testsupport::SimSnapshot;

const char* const kFc = "10000090FA1B2C3D,10000090FA1B2C3E";
const char* const kIscsi = "iqn.1994-05.com.example:iscsihost1";
const char* const kNoVolume = "60000000000000000000000000000FFF";
const char* const kNoArray = "60000000000000000000000000000BAD";

class MapCheck : public ::testing::Test {
  protected:
    sim::TestServer sim{testsupport::SimConfig(), testsupport::PlainHttp()};

    // "{SYS}", "{GONE}" (the path of a volume not on the array), "path:" or "uuid:"
    // with a label; anything else as it is.
    std::string Fill(SimSnapshot& dev, const std::string& text) {
        if (text == "{SYS}") return dev.array.id;
        OpenConnection open(dev);
        if (text == "{GONE}") {
            std::string path = open.volumePath(dev.volume("ora_log").uuid);
            return path.replace(path.find(dev.volume("ora_log").uuid), 32, kNoVolume);
        }
        if (text.rfind("uuid:", 0) == 0) return dev.volume(text.substr(5)).uuid;
        if (text.rfind("path:", 0) == 0) return open.volumePath(dev.volume(text.substr(5)).uuid);
        return text;
    }
};

TEST_F(MapCheck, IsLunMappedTellsThisHostOtherHostsNoneAndFailures) {
    struct Row {
        const char* name;
        std::vector<std::string> args;
        int failHttp;  // on every association query
        int failCim;
        unsigned int expected;
    };
    const Row rows[] = {
        {"this host", {"{SYS}", "path:ora_data1", kFc}, 0, 0, 0},
        {"this host's group, by uuid", {"{SYS}", "uuid:exch_db", kFc}, 0, 0, 0},
        {"another host", {"{SYS}", "uuid:ora_data1", kIscsi}, 0, 0, 650006},
        {"any host when no ports", {"{SYS}", "path:file_share", "null"}, 0, 0, 0},
        {"not mapped", {"{SYS}", "uuid:exch_log", kFc}, 0, 0, 650007},
        {"not mapped, no ports", {"{SYS}", "path:exch_log", "null"}, 0, 0, 650007},
        {"unknown uuid", {"{SYS}", kNoVolume, kFc}, 0, 0, 650008},
        {"path of a removed volume", {"{SYS}", "{GONE}", kFc}, 0, 0, 650008},
        {"unknown array", {kNoArray, "uuid:ora_data1", kFc}, 0, 0, 650015},
        {"too few arguments", {"{SYS}", "x"}, 0, 0, 650009},
        {"provider failure", {"{SYS}", "uuid:ora_data1", kFc}, 0, cim::CIM_ERR_FAILED, 1},
        {"rejected login is no answer", {"{SYS}", "uuid:ora_data1", kFc}, 401, 0, 1},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        std::vector<std::string> args;
        for (const std::string& a : r.args) args.push_back(Fill(dev, a));
        if (r.failHttp) sim.failHttp(r.failHttp, -1, {"AssociatorNames", "", ""});
        if (r.failCim) sim.failCim(r.failCim, "broken", -1, {"AssociatorNames", "", ""});
        OpenConnection open(dev);
        EXPECT_EQ(dev.snap.IsLunMapped(open.conn(), args), r.expected) << r.name;
        sim.faults().clear();
    }
}

TEST_F(MapCheck, IsSnapMappedTranslatesForTheHost) {
    struct Row {
        const char* name;
        std::string target;
        std::string ports;
        int failCim;
        int expected;
        int errorCode;
        int hostError;
    };
    const Row rows[] = {
        {"mapped here", "path:ora_data2", kFc, 0, 9, 0, 0},
        {"mapped to the iscsi host, asked with fc ports", "uuid:small_lun", kFc, 0, 10, 0, 0},
        {"not mapped", "path:exch_log", kFc, 0, 14, 0, 0},
        {"missing target", kNoVolume, kFc, 0, 0, 60542, 0},
        {"removed target path", "{GONE}", kFc, 0, 0, 60542, 0},
        {"provider failure", "uuid:ora_data1", kFc, cim::CIM_ERR_FAILED, 0, 3, 60541},
        {"no ports", "uuid:ora_data1", "", 0, 0, 0, 0},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        const std::string target = Fill(dev, r.target);
        (target.find(':') == std::string::npos ? dev.snap.m_TargetDev : dev.snap.m_TargetDevPath) =
            target;
        dev.snap.m_InitiatorPorts = r.ports;
        if (r.failCim) sim.failCim(r.failCim, "broken", -1, {"AssociatorNames", "", ""});
        EXPECT_EQ(dev.snap.IsSnapMapped(), r.expected) << r.name;
        EXPECT_EQ(dev.snap.GetErrorCode(), r.errorCode) << r.name;
        EXPECT_EQ(dev.info.errorCode(), r.hostError) << r.name;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
        sim.faults().clear();
    }
}

TEST_F(MapCheck, StatusAndArrayExistenceTellGoneFromUnknown) {
    struct Row {
        const char* name;
        std::string system;
        std::string volume;
        int port;  // 0: the simulator's
        int failHttp;
        int status;
        int arrayCheck;
    };
    const Row rows[] = {
        {"present", "{SYS}", "uuid:exch_log", 0, 0, 0, 0},
        {"volume gone", "{SYS}", kNoVolume, 0, 0, 24, 2},
        {"unknown array", kNoArray, "uuid:exch_log", 0, 0, 24, 1},
        {"provider down", "{SYS}", "uuid:exch_log", 1, 0, 0, 1},
        {"rejected login", "{SYS}", "uuid:exch_log", 0, 401, 0, 1},
        {"no volume given", "{SYS}", "", 0, 0, 0, 1},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        dev.snap.m_SystemName = Fill(dev, r.system);
        dev.snap.m_TargetDev = dev.snap.m_SourceDev = Fill(dev, r.volume);
        if (r.port) testsupport::Rebind(dev, sim, r.port, sim.password());
        if (r.failHttp) sim.failHttp(r.failHttp, -1);
        EXPECT_EQ(dev.snap.GetSnapStatus(), r.status) << r.name;
        EXPECT_EQ(dev.snap.CheckArrayExistence(), r.arrayCheck) << r.name;
        sim.faults().clear();
    }
}

}  // namespace
