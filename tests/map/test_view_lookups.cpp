// Lookups of PiT views on an array configured with PiTs, views and a consistency
// group: whether a PiT has a view, the PiT behind a view, the group view of a CG
// PiT and this volume's member of it, and whether members are still mapped.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/SimMapping.h"

namespace {

using testsupport::OpenConnection;
using testsupport::PiTId;
using testsupport::SimSnapshot;

const char* const kFc = "10000090FA1B2C3D,10000090FA1B2C3E";

class ViewLookups : public ::testing::Test {
  protected:
    sim::TestServer sim{testsupport::ViewConfig(), testsupport::PlainHttp()};

    std::string pit(int n) { return PiTId(sim.provider().config().arrays[0].id, n); }
};

TEST_F(ViewLookups, APiTIsAttachedWhenItHasAView) {
    struct Row {
        const char* name;
        int pit;
        bool group;
        bool byPath;
        int expected;
    };
    const Row rows[] = {
        {"viewed PiT", 1, false, false, 1},       {"viewed PiT by its path", 1, false, true, 1},
        {"PiT without view", 2, false, false, 0}, {"unknown PiT", 9, false, false, 0},
        {"viewed CG PiT", 3, true, false, 1},     {"CG PiT without view", 4, true, false, 0},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        dev.snap.m_PiTName = pit(r.pit);
        dev.snap.m_UseConsistencyGroup = r.group;
        if (r.byPath) {
            OpenConnection open(dev);
            dev.snap.m_PiTPath =
                dev.snap.GetObjPathByPropName(open.conn(), "NETAPP_PiT", "ElementName", pit(r.pit))
                    .toString();
        }
        EXPECT_EQ(dev.snap.IsPiTAttached(), r.expected) << r.name;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
    }
    SimSnapshot dev(sim);
    EXPECT_EQ(dev.snap.IsPiTAttached(), 0) << "no PiT name";
    EXPECT_TRUE(dev.logged("Invalid Parameters"));
}

TEST_F(ViewLookups, AViewLeadsBackToItsPiTOnlyFromItsOwnSource) {
    struct Row {
        const char* name;
        const char* view;
        const char* source;
        bool failed;
        int pit;
    };
    const Row rows[] = {
        {"view of the source", "ora_data1_SV_0001", "ora_data1", false, 1},
        {"view of another source", "ora_data1_SV_0001", "ora_data2", true, 0},
        {"a group member view", "cg1_m1", "exch_log", true, 0},
        {"a base volume", "ora_data2", "ora_data1", true, 0},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        dev.snap.m_LsiCimUtil.m_pLogger = &dev.info;
        OpenConnection open(dev);
        const std::string view = open.volumePath(dev.volume(r.view).uuid);
        std::string name, path;
        EXPECT_EQ(dev.snap.m_LsiCimUtil.GetPiTElmtNameFromTarget(
                      open.conn(), dev.volume(r.source).uuid, view, name, path),
                  r.failed)
            << r.name;
        EXPECT_EQ(name, r.failed ? "" : pit(r.pit)) << r.name;
        EXPECT_EQ(path.empty(), r.failed) << r.name;
    }
}

TEST_F(ViewLookups, AGroupViewAndEachVolumesMember) {
    {
        SimSnapshot dev(sim);
        dev.snap.m_SourceDev = dev.volume("exch_log").uuid;
        dev.snap.m_PiTName = pit(3);
        std::string name, path;
        EXPECT_EQ(dev.snap.checkCGPiTViewCreated(name, path), 0);
        EXPECT_EQ(name, "cg1_view");
        EXPECT_NE(path.find("NETAPP_ConsistencyGroupPiTView"), std::string::npos) << path;
        EXPECT_NE(dev.snap.m_PiTPath.find("NETAPP_ConsistencyGroupPiT."), std::string::npos);

        struct Row {
            const char* source;
            const char* member;  // empty: none
        };
        const Row rows[] = {{"exch_log", "cg1_m1"}, {"vm_store", "cg1_m3"}, {"ora_log", ""}};
        for (const Row& r : rows) {
            dev.snap.m_SourceDev = dev.volume(r.source).uuid;
            dev.snap.m_TargetDev = "stale";
            const int expected = *r.member ? 5 : 6;
            EXPECT_EQ(dev.snap.GetTargetPiTView(path), expected) << r.source;
            EXPECT_EQ(dev.snap.m_SnapStatus, expected) << r.source;
            EXPECT_EQ(dev.snap.m_TargetDev, *r.member ? dev.volume(r.member).uuid : "") << r.source;
            EXPECT_EQ(dev.snap.m_TargetDevPath.empty(), !*r.member) << r.source;
        }
    }
    SimSnapshot dev(sim);
    dev.snap.m_SourceDev = dev.volume("exch_log").uuid;
    dev.snap.m_PiTName = pit(4);
    std::string name, path;
    EXPECT_EQ(dev.snap.checkCGPiTViewCreated(name, path), 1);
    EXPECT_TRUE(dev.logged("is not associated to any ConsistencyGroupPiTView"));
    dev.snap.m_PiTName.clear();
    EXPECT_EQ(dev.snap.checkCGPiTViewCreated(name, path), -1);
    EXPECT_EQ(dev.snap.GetTargetPiTView(path), 6) << "no group view given";
}

TEST_F(ViewLookups, GroupViewMembersStillMappedToThisHost) {
    struct Row {
        const char* name;
        const char* mapped;  // member view mapped, empty: none
        const char* to;
        int pit;
        int operation;
        bool expected;
    };
    const Row rows[] = {
        {"no member mapped", "", "", 3, 14, true},
        {"one of three mapped here", "cg1_m2", "fchost1", 3, 14, false},
        {"one mapped to this host's group", "cg1_m3", "cluster1", 3, 14, false},
        {"one mapped to another host", "cg1_m1", "iscsihost1", 3, 14, false},
        {"no group view", "", "", 4, 14, false},
        {"no group view during a revert", "", "", 4, 32768, true},
    };
    for (const Row& r : rows) {
        sim::Config c = testsupport::ViewConfig();
        if (*r.mapped) testsupport::AddMapping(c, r.mapped, r.to, 40);
        sim::TestServer server(c, testsupport::PlainHttp());
        SimSnapshot dev(server);
        dev.snap.m_SourceDev = dev.volume("exch_log").uuid;
        dev.snap.m_PiTName = PiTId(dev.array.id, r.pit);
        dev.snap.m_InitiatorPorts = kFc;
        dev.snap.m_PiTOperation = r.operation;
        EXPECT_EQ(dev.snap.checkCGPiTViewMappings(), r.expected) << r.name;
    }
}

TEST_F(ViewLookups, FailuresAreContained) {
    enum Op { Created, Mappings, Attached };
    struct Row {
        const char* name;
        Op op;
        sim::RequestKey match;
    };
    const Row rows[] = {
        {"group view links", Created, {"EnumerateInstanceNames", "", ""}},
        {"group PiT by name", Created, {"EnumerateInstances", "", ""}},
        {"group view links", Mappings, {"EnumerateInstanceNames", "", ""}},
        {"group view members", Mappings, {"AssociatorNames", "", ""}},
        {"PiT by name", Attached, {"EnumerateInstances", "", ""}},
        {"views of the PiT", Attached, {"AssociatorNames", "", ""}},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        dev.snap.m_SourceDev = dev.volume("exch_log").uuid;
        dev.snap.m_PiTName = pit(3);
        dev.snap.m_InitiatorPorts = kFc;
        dev.snap.m_UseConsistencyGroup = true;
        sim.failCim(cim::CIM_ERR_FAILED, "broken", -1, r.match);
        std::string name, path;
        const int failure = r.op == Created ? -1 : 0;
        const int result = r.op == Created    ? dev.snap.checkCGPiTViewCreated(name, path)
                           : r.op == Mappings ? int(dev.snap.checkCGPiTViewMappings())
                                              : dev.snap.IsPiTAttached();
        EXPECT_EQ(result, failure) << r.name;
        EXPECT_TRUE(dev.logged("Caught CIMException: CIM_ERR_FAILED")) << r.name;
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << r.name;
        sim.faults().clear();
    }
}

}  // namespace
