// Calls that must be refused before any method reaches the array: missing or bad
// arguments, and objects that are not there.
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

class Refusals : public ::testing::Test {
  protected:
    sim::TestServer sim{testsupport::ViewConfig(), testsupport::PlainHttp()};
};

TEST_F(Refusals, WrappersCheckEverythingBeforeCalling) {
    enum Wrapper { Define, Sync, Expose, Hide };
    struct Row {
        const char* name;
        Wrapper wrapper;
        std::vector<std::string> args;  // Define: key=value pairs over a valid call
        unsigned int expected;
    };
    const Row rows[] = {
        {"define: no operation", Define, {"Operation="}, 5},
        {"define: unknown source", Define, {"sourceElement=no_such_volume"}, 650015},
        {"define: unknown PiT", Define, {"targetSyncData={PIT9}"}, 650015},
        {"define: target without a view link", Define, {"targetElement={ORA_LOG}"}, 650015},
        {"sync: four arguments", Sync, {"{SYS}", "19", "{SRC}", "{VIEW}"}, 650009},
        {"sync: replica that is no view",
         Sync,
         {"{SYS}", "19", "{SRC}", "{BASE}", "0", "0"},
         650015},
        {"expose: two accesses, one volume", Expose, {"{SYS}", "{VIEW}", kFc, "null", "2,2"}, 5},
        {"hide: one argument", Hide, {"{SYS}"}, 650009},
        {"hide: not mapped to the host", Hide, {"{SYS}", "{VIEW}", kFc, "null", "null"}, 650007},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        auto fill = [&](const std::string& a) {
            return a == "{SYS}"       ? dev.array.id
                   : a == "{SRC}"     ? dev.volume("ora_data1").uuid
                   : a == "{VIEW}"    ? dev.volume("ora_data1_SV_0001").uuid
                   : a == "{BASE}"    ? dev.volume("ora_data2").uuid
                   : a == "{ORA_LOG}" ? dev.volume("ora_log").uuid
                   : a == "{PIT9}"    ? PiTId(dev.array.id, 9)
                                      : a;
        };
        std::vector<std::string> args;
        for (const std::string& a : r.args) args.push_back(fill(a));
        OpenConnection open(dev);
        unsigned int result = 0;
        if (r.wrapper == Define) {
            std::map<std::string, std::string> params = {
                {"SystemName", dev.array.id},
                {"Operation", "5"},
                {"sourceElement", "ora_data1"},
                {"targetSyncData", PiTId(dev.array.id, 2)}};
            for (const std::string& a : r.args) {
                const std::string key = a.substr(0, a.find('=')), value = a.substr(key.size() + 1);
                if (value.empty())
                    params.erase(key);
                else
                    params[key] = fill(value);
            }
            cim::Array<cim::CIMParamValue> out;
            result = dev.snap.ModifySettingDefineState(open.conn(), params, out);
        } else if (r.wrapper == Sync) {
            result = dev.snap.ModifyReplicaSynchronization(open.conn(), args, false);
        } else {
            result = r.wrapper == Expose ? dev.snap.ExposePaths(open.conn(), args)
                                         : dev.snap.HidePaths(open.conn(), args);
        }
        EXPECT_EQ(result, r.expected) << r.name;
        EXPECT_EQ(CountRequests(sim, "InvokeMethod"), 0u) << r.name;
    }
}

TEST_F(Refusals, OperationsWithoutTheirInputsNeverConnect) {
    SimSnapshot dev(sim);
    dev.snap.m_TargetDev = dev.volume("ora_data1_SV_0001").uuid;
    dev.snap.m_SnapStatus = RKSO::SNAP_STATUS_MAPPED;
    EXPECT_EQ(dev.snap.MapSnap(), 1) << "no ports, no access";
    EXPECT_EQ(dev.snap.ModifyPiT(32768), 23) << "no operation in progress";
    dev.snap.m_SnapStatus = RKSO::SNAP_STATUS_MAPPED;
    EXPECT_EQ(dev.snap.PiTViewSync(19, 0), 21) << "no source";
    EXPECT_EQ(dev.snap.m_SnapStatus, RKSO::SNAP_STATUS_MAPPED) << "removal keeps the status";
    EXPECT_TRUE(sim.requests().empty());
}

}  // namespace
