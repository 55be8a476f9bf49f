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

class MapCheck : public ::testing::Test {
  protected:
    sim::TestServer sim{testsupport::SimConfig(), testsupport::PlainHttp()};

    // Path text of a volume that is not on the array, in the form the array uses.
    std::string GonePath(SimSnapshot& dev) {
        OpenConnection open(dev);
        std::string path = open.volumePath(dev.volume("ora_log").uuid);
        path.replace(path.find(dev.volume("ora_log").uuid), std::string(kNoVolume).size(),
                     kNoVolume);
        return path;
    }
};

TEST_F(MapCheck, IsLunMappedTellsThisHostOtherHostsAndNone) {
    struct Row {
        const char* name;
        std::string volume;  // a label of the array, else the text itself
        bool asPath;
        std::string ports;
        unsigned int expected;
    };
    const Row rows[] = {
        {"mapped to this host", "ora_data1", true, kFc, 0},
        {"mapped to this host, by uuid", "ora_data1", false, kFc, 0},
        {"mapped to this host's group", "exch_db", true, kFc, 0},
        {"mapped to another host", "ora_data1", false, kIscsi, 650006},
        {"mapped to another host's group", "exch_db", false, kIscsi, 650006},
        {"any host when no ports", "file_share", true, "null", 0},
        {"not mapped", "exch_log", false, kFc, 650007},
        {"not mapped, no ports", "exch_log", true, "null", 650007},
        {"unknown uuid", kNoVolume, false, kFc, 650008},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        OpenConnection open(dev);
        std::string volume = r.volume;
        if (r.volume != kNoVolume) {
            volume = dev.volume(r.volume).uuid;
            if (r.asPath) volume = open.volumePath(volume);
        }
        std::vector<std::string> args = {dev.array.id, volume, r.ports};
        EXPECT_EQ(dev.snap.IsLunMapped(open.conn(), args), r.expected) << r.name;
    }
}

TEST_F(MapCheck, IsLunMappedRefusesWhatItCannotAnswer) {
    struct Row {
        const char* name;
        std::vector<std::string> args;  // "{SYS}" and "{GONE}" are filled in
        int failHttp;                   // answered to every association query
        int failCim;
        unsigned int expected;
    };
    const Row rows[] = {
        {"too few arguments", {"{SYS}", "x"}, 0, 0, 650009},
        {"unknown array", {"60000000000000000000000000000BAD", "{VOL}", kFc}, 0, 0, 650015},
        {"volume path of a removed volume", {"{SYS}", "{GONE}", kFc}, 0, 0, 650008},
        {"provider failure", {"{SYS}", "{VOL}", kFc}, 0, cim::CIM_ERR_FAILED, 1},
        {"rejected login is no answer", {"{SYS}", "{VOL}", kFc}, 401, 0, 1},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        const std::string gone = GonePath(dev);
        OpenConnection open(dev);
        std::vector<std::string> args = r.args;
        for (std::string& a : args) {
            if (a == "{SYS}") a = dev.array.id;
            if (a == "{VOL}") a = dev.volume("ora_data1").uuid;
            if (a == "{GONE}") a = gone;
        }
        if (r.failHttp) sim.failHttp(r.failHttp, -1, {"AssociatorNames", "", ""});
        if (r.failCim) sim.failCim(r.failCim, "broken", -1, {"AssociatorNames", "", ""});
        EXPECT_EQ(dev.snap.IsLunMapped(open.conn(), args), r.expected) << r.name;
        sim.faults().clear();
    }
}

TEST_F(MapCheck, IsSnapMappedTranslatesForTheHost) {
    struct Row {
        const char* name;
        std::string target;  // a label, "{GONE}" or a UUID not on the array
        bool asPath;
        std::string ports;
        int expected;
        int errorCode;
    };
    const Row rows[] = {
        {"mapped here", "ora_data2", true, kFc, 9, 0},
        {"mapped to the iscsi host, asked with fc ports", "small_lun", false, kFc, 10, 0},
        {"not mapped", "exch_log", true, kFc, 14, 0},
        {"missing target", kNoVolume, false, kFc, 0, 60542},
        {"removed target path", "{GONE}", true, kFc, 0, 60542},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        dev.snap.m_InitiatorPorts = r.ports;
        if (r.target == "{GONE}") {
            dev.snap.m_TargetDevPath = GonePath(dev);
        } else if (r.target == kNoVolume) {
            dev.snap.m_TargetDev = kNoVolume;
        } else {
            dev.snap.m_TargetDev = dev.volume(r.target).uuid;
            if (r.asPath) {
                OpenConnection open(dev);
                dev.snap.m_TargetDevPath = open.volumePath(dev.snap.m_TargetDev);
            }
        }
        EXPECT_EQ(dev.snap.IsSnapMapped(), r.expected) << r.name;
        EXPECT_EQ(dev.snap.GetErrorCode(), r.errorCode) << r.name;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
    }
}

TEST_F(MapCheck, IsSnapMappedFailuresAreUndecided) {
    struct Row {
        const char* name;
        bool noPorts;
        bool badPassword;
        bool providerFault;
        int errorCode;
        int hostError;
    };
    const Row rows[] = {
        {"invalid parameters", true, false, false, 0, 0},
        {"no connection", false, true, false, 3, 60541},
        {"provider failure", false, false, true, 3, 60541},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        dev.snap.m_TargetDev = dev.volume("ora_data1").uuid;
        if (!r.noPorts) dev.snap.m_InitiatorPorts = kFc;
        if (r.badPassword) testsupport::Rebind(dev, sim, 0, "");
        if (r.providerFault)
            sim.failCim(cim::CIM_ERR_FAILED, "broken", -1, {"AssociatorNames", "", ""});
        const size_t before = sim.requests().size();
        EXPECT_EQ(dev.snap.IsSnapMapped(), 0) << r.name;
        EXPECT_EQ(dev.snap.GetErrorCode(), r.errorCode) << r.name;
        EXPECT_EQ(dev.info.errorCode(), r.hostError) << r.name;
        if (r.noPorts || r.badPassword) {
            EXPECT_EQ(sim.requests().size(), before) << r.name;
        }
        sim.faults().clear();
    }
}

TEST_F(MapCheck, StatusAndArrayExistence) {
    struct Row {
        const char* name;
        std::string system;  // empty: the array's own
        std::string volume;  // a label, or the text itself
        bool providerDown;
        int status;
        int arrayCheck;
    };
    const Row rows[] = {
        {"present", "", "exch_log", false, 0, 0},
        {"volume gone", "", kNoVolume, false, 24, 2},
        {"unknown array", "60000000000000000000000000000BAD", "exch_log", false, 24, 1},
        {"provider down", "", "exch_log", true, 0, 1},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        if (!r.system.empty()) dev.snap.m_SystemName = r.system;
        const std::string uuid = r.volume == kNoVolume ? kNoVolume : dev.volume(r.volume).uuid;
        dev.snap.m_TargetDev = uuid;
        dev.snap.m_SourceDev = uuid;
        if (r.providerDown) testsupport::Rebind(dev, sim, 1, sim.password());
        EXPECT_EQ(dev.snap.GetSnapStatus(), r.status) << r.name;
        EXPECT_EQ(dev.snap.CheckArrayExistence(), r.arrayCheck) << r.name;
    }
    SimSnapshot dev(sim);
    EXPECT_EQ(dev.snap.GetSnapStatus(), 0) << "no target";
    EXPECT_EQ(dev.snap.CheckArrayExistence(), 1) << "no source";
    EXPECT_EQ(dev.countLines("Invalid Parameters"), 2);
}

TEST_F(MapCheck, ARejectedLoginNeverReadsAsGone) {
    SimSnapshot dev(sim);
    dev.snap.m_TargetDev = dev.volume("exch_log").uuid;
    dev.snap.m_SourceDev = dev.snap.m_TargetDev;
    sim.failHttp(401, -1);
    EXPECT_EQ(dev.snap.GetSnapStatus(), 0);
    EXPECT_EQ(dev.snap.CheckArrayExistence(), 1);
    EXPECT_EQ(dev.info.errorCode(), 60555);
}

}  // namespace
