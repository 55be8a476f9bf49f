// Calls that must be refused before any method reaches the array: missing or bad
// arguments, objects that are not there, and nothing to unmap.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "testsupport/SimMapping.h"

namespace {

using testsupport::CountRequests;
using testsupport::OpenConnection;
using testsupport::PiTId;
using testsupport::SimSnapshot;

const char* const kFc = "10000090FA1B2C3D,10000090FA1B2C3E";
const char* const kNoVolume = "60000000000000000000000000000FFF";
const char* const kNoArray = "60000000000000000000000000000BAD";

class Refusals : public ::testing::Test {
  protected:
    sim::TestServer sim{testsupport::ViewConfig(), testsupport::PlainHttp()};

    size_t calls() { return CountRequests(sim, "InvokeMethod"); }
};

TEST_F(Refusals, ModifySettingsDefineStateChecksEverythingFirst) {
    struct Row {
        const char* name;
        std::map<std::string, std::string> change;  // "" removes the entry
        unsigned int expected;
    };
    const Row rows[] = {
        {"no operation", {{"Operation", ""}}, 5},
        {"operation not a number", {{"Operation", "5x"}}, 5},
        {"operation too large", {{"Operation", "65536"}}, 5},
        {"unknown array", {{"SystemName", kNoArray}}, 650015},
        {"unknown source", {{"sourceElement", "no_such_volume"}}, 650015},
        {"no PiT given", {{"targetSyncData", ""}}, 650009},
        {"unknown PiT", {{"targetSyncData", "{PIT9}"}}, 650015},
        {"group form, single PiT", {{"sourceElement", "cg1"}}, 650015},
        {"unknown target volume", {{"targetElement", kNoVolume}}, 650015},
        {"target without a view link", {{"targetElement", "{ORA_LOG}"}}, 650015},
        {"wait state not a number", {{"WaitForCopyState", "x"}}, 5},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        std::map<std::string, std::string> params = {{"SystemName", dev.array.id},
                                                     {"Operation", "5"},
                                                     {"sourceElement", "ora_data1"},
                                                     {"targetSyncData", PiTId(dev.array.id, 2)}};
        for (const auto& [key, value] : r.change) {
            if (value.empty()) {
                params.erase(key);
                continue;
            }
            params[key] = value == "{PIT9}"      ? PiTId(dev.array.id, 9)
                          : value == "{ORA_LOG}" ? dev.volume("ora_log").uuid
                                                 : value;
        }
        OpenConnection open(dev);
        cim::Array<cim::CIMParamValue> out;
        EXPECT_EQ(dev.snap.ModifySettingDefineState(open.conn(), params, out), r.expected)
            << r.name;
        EXPECT_EQ(calls(), 0u) << r.name;
    }
}

TEST_F(Refusals, ModifyReplicaSynchronizationNeedsBothVolumesAndTheirLink) {
    struct Row {
        const char* name;
        std::vector<std::string> args;  // {SYS}, {SRC}, {VIEW}, {BASE} filled in
        unsigned int expected;
    };
    const Row rows[] = {
        {"four arguments", {"{SYS}", "19", "{SRC}", "{VIEW}"}, 650009},
        {"operation not a number", {"{SYS}", "x", "{SRC}", "{VIEW}", "0", "0"}, 5},
        {"unknown array", {kNoArray, "19", "{SRC}", "{VIEW}", "0", "0"}, 650015},
        {"unknown source", {"{SYS}", "19", kNoVolume, "{VIEW}", "0", "0"}, 650015},
        {"unknown replica", {"{SYS}", "19", "{SRC}", kNoVolume, "0", "0"}, 650015},
        {"replica that is no view", {"{SYS}", "19", "{SRC}", "{BASE}", "0", "0"}, 650015},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        std::vector<std::string> args = r.args;
        for (std::string& a : args) {
            if (a == "{SYS}") a = dev.array.id;
            if (a == "{SRC}") a = dev.volume("ora_data1").uuid;
            if (a == "{VIEW}") a = dev.volume("ora_data1_SV_0001").uuid;
            if (a == "{BASE}") a = dev.volume("ora_data2").uuid;
        }
        OpenConnection open(dev);
        EXPECT_EQ(dev.snap.ModifyReplicaSynchronization(open.conn(), args, false), r.expected)
            << r.name;
        EXPECT_EQ(calls(), 0u) << r.name;
    }
}

TEST_F(Refusals, MaskingWrappersRefuseBeforeCalling) {
    struct Row {
        const char* name;
        bool expose;
        std::vector<std::string> args;  // {SYS} and {VOL} filled in
        unsigned int expected;
    };
    const Row rows[] = {
        {"expose, two arguments", true, {"{SYS}", "{VOL}"}, 650009},
        {"expose, unknown array", true, {kNoArray, "{VOL}", kFc}, 650015},
        {"expose, two accesses for one volume", true, {"{SYS}", "{VOL}", kFc, "null", "2,2"}, 5},
        {"expose, two numbers for one volume", true, {"{SYS}", "{VOL}", kFc, "1,2", "2"}, 5},
        {"hide, one argument", false, {"{SYS}"}, 650009},
        {"hide, unknown array", false, {kNoArray, "{VOL}", kFc}, 650015},
        {"hide, not mapped to the host", false, {"{SYS}", "{VOL}", kFc, "null", "null"}, 650007},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        std::vector<std::string> args = r.args;
        for (std::string& a : args) {
            if (a == "{SYS}") a = dev.array.id;
            if (a == "{VOL}") a = dev.volume("ora_data1_SV_0001").uuid;
        }
        OpenConnection open(dev);
        const size_t before = sim.requests().size();
        const unsigned int result = r.expose ? dev.snap.ExposePaths(open.conn(), args)
                                             : dev.snap.HidePaths(open.conn(), args);
        EXPECT_EQ(result, r.expected) << r.name;
        EXPECT_EQ(calls(), 0u) << r.name;
        if (r.expected == 650009) {
            EXPECT_EQ(sim.requests().size(), before) << r.name;
        }
    }
}

TEST_F(Refusals, OperationsWithoutTheirInputsNeverConnect) {
    SimSnapshot dev(sim);
    dev.snap.m_SystemName = dev.array.id;
    dev.snap.m_TargetDev = dev.volume("ora_data1_SV_0001").uuid;
    dev.snap.m_SnapStatus = RKSO::SNAP_STATUS_MAPPED;
    EXPECT_EQ(dev.snap.MapSnap(), 1) << "no ports, no access";
    EXPECT_EQ(dev.snap.UnmapSnap(), 1) << "no ports";
    EXPECT_EQ(dev.snap.ModifyPiT(5), 6) << "no operation in progress";
    EXPECT_EQ(dev.snap.ModifyPiT(32768), 23);
    EXPECT_EQ(dev.snap.m_SnapStatus, RKSO::SNAP_STATUS_REVERT_FAILED);
    dev.snap.m_SnapStatus = RKSO::SNAP_STATUS_MAPPED;
    EXPECT_EQ(dev.snap.PiTViewSync(19, 0), 21) << "no source";
    EXPECT_EQ(dev.snap.m_SnapStatus, RKSO::SNAP_STATUS_MAPPED) << "removal keeps the status";
    EXPECT_EQ(dev.snap.PiTViewSync(8, 0), 6);
    EXPECT_EQ(dev.snap.m_SnapStatus, RKSO::SNAP_STATUS_CREATE_FAILED);
    EXPECT_TRUE(sim.requests().empty());
    EXPECT_EQ(dev.info.setErrorInfoCalls(), 0);
}

TEST_F(Refusals, UnmapOfAnUnmappedViewSucceedsWithoutHidePaths) {
    SimSnapshot dev(sim);
    dev.snap.m_TargetDev = dev.volume("ora_data1_SV_0001").uuid;
    dev.snap.m_InitiatorPorts = kFc;
    EXPECT_EQ(dev.snap.UnmapSnap(), 0);
    EXPECT_EQ(calls(), 0u);
    EXPECT_TRUE(dev.logged("Not Mapped to any Host"));
    EXPECT_EQ(dev.info.setErrorInfoCalls(), 0);
}

}  // namespace
