// Lookups of PiT views on an array configured with PiTs, views and a consistency
// group: whether a PiT has a view, the PiT behind a view, group views during a
// revert, and failures contained in each lookup.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/SimMapping.h"

namespace {

using testsupport::OpenConnection;
using testsupport::PiTId;
using testsupport::SimSnapshot;

class ViewLookups : public ::testing::Test {
  protected:
    sim::TestServer sim{testsupport::ViewConfig(), testsupport::PlainHttp()};
};

TEST_F(ViewLookups, APiTIsAttachedWhenItHasAView) {
    struct Row {
        const char* name;
        int pit;  // 0: none given
        bool group;
        int expected;
    };
    const Row rows[] = {
        {"viewed PiT", 1, false, 1},         {"PiT without view", 2, false, 0},
        {"unknown PiT", 9, false, 0},        {"viewed CG PiT", 3, true, 1},
        {"CG PiT without view", 4, true, 0}, {"no PiT name", 0, false, 0},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        if (r.pit) dev.snap.m_PiTName = PiTId(dev.array.id, r.pit);
        dev.snap.m_UseConsistencyGroup = r.group;
        EXPECT_EQ(dev.snap.IsPiTAttached(), r.expected) << r.name;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
    }
}

TEST_F(ViewLookups, AViewLeadsBackToItsPiTOnlyFromItsOwnSource) {
    struct Row {
        const char* view;
        const char* source;
        bool failed;
    };
    const Row rows[] = {{"ora_data1_SV_0001", "ora_data1", false},
                        {"ora_data1_SV_0001", "ora_data2", true},
                        {"cg1_m1", "exch_log", true},
                        {"ora_data2", "ora_data1", true}};
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        dev.snap.m_LsiCimUtil.m_pLogger = &dev.info;
        OpenConnection open(dev);
        const std::string view = open.volumePath(dev.volume(r.view).uuid);
        std::string name, path;
        EXPECT_EQ(dev.snap.m_LsiCimUtil.GetPiTElmtNameFromTarget(
                      open.conn(), dev.volume(r.source).uuid, view, name, path),
                  r.failed)
            << r.view << " of " << r.source;
        EXPECT_EQ(name, r.failed ? "" : PiTId(dev.array.id, 1)) << r.view;
    }
}

TEST_F(ViewLookups, ARevertNeedsNoGroupViewAMapNeedsOne) {
    for (int operation : {14, 32768}) {
        SimSnapshot dev(sim);
        dev.snap.m_SourceDev = dev.volume("exch_log").uuid;
        dev.snap.m_PiTName = PiTId(dev.array.id, 4);
        dev.snap.m_InitiatorPorts = testsupport::HostPorts(dev.array, "fchost1");
        dev.snap.m_PiTOperation = operation;
        EXPECT_EQ(dev.snap.checkCGPiTViewMappings(), operation == 32768) << operation;
        std::string name, path;
        EXPECT_EQ(dev.snap.checkCGPiTViewCreated(name, path), 1) << operation;
    }
}

TEST_F(ViewLookups, FailuresAreContained) {
    enum Op { Created, Mappings, Attached };
    struct Row {
        Op op;
        sim::RequestKey match;
    };
    const Row rows[] = {
        {Created, {"EnumerateInstanceNames", "", ""}},  {Created, {"EnumerateInstances", "", ""}},
        {Mappings, {"EnumerateInstanceNames", "", ""}}, {Mappings, {"AssociatorNames", "", ""}},
        {Attached, {"EnumerateInstances", "", ""}},     {Attached, {"AssociatorNames", "", ""}},
    };
    for (const Row& r : rows) {
        const std::string row = std::to_string(r.op) + " " + r.match.operation;
        SimSnapshot dev(sim);
        dev.snap.m_SourceDev = dev.volume("exch_log").uuid;
        dev.snap.m_PiTName = PiTId(dev.array.id, 3);
        dev.snap.m_InitiatorPorts = testsupport::HostPorts(dev.array, "fchost1");
        dev.snap.m_UseConsistencyGroup = true;
        sim.failCim(cim::CIM_ERR_FAILED, "broken", -1, r.match);
        std::string name, path;
        const int result = r.op == Created    ? dev.snap.checkCGPiTViewCreated(name, path)
                           : r.op == Mappings ? int(dev.snap.checkCGPiTViewMappings())
                                              : dev.snap.IsPiTAttached();
        EXPECT_EQ(result, r.op == Created ? -1 : 0) << row;
        EXPECT_TRUE(dev.logged("Caught CIMException: CIM_ERR_FAILED")) << row;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << row;
        sim.faults().clear();
    }
}

}  // namespace
