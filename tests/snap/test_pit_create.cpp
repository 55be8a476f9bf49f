// The "CreateSynchronizationAspect" wrapper: what it refuses before the call.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "testsupport/SimSnapshot.h"

namespace {

using testsupport::CountRequests;
using testsupport::SimSnapshot;

TEST(SyncAspect, RefusalsBeforeTheMethod) {
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    SimSnapshot probe(sim);
    const std::string sys = probe.array.id;
    using Params = std::map<std::string, std::string>;
    struct Row {
        const char* name;
        Params params;
        unsigned int result;
        const char* trace;
    };
    const Row rows[] = {
        {"two entries",
         {{"SystemName", sys}, {"SyncType", "7"}},
         650009,
         "Validation Failed: Insufficient Parameters"},
        {"unknown system",
         {{"SystemName", "600A0000"}, {"SyncType", "7"}, {"Name", "s"}},
         650015,
         "Class SNIA_ReplicationService for system 600A0000 not found"},
        {"no SyncType",
         {{"SystemName", sys}, {"Name", "s"}, {"mode", "2"}},
         5,
         "SyncType is not provided. Cannot continue as it is required."},
        {"SyncType null",
         {{"SystemName", sys}, {"Name", "s"}, {"SyncType", "null"}},
         5,
         "SyncType is not provided."},
        {"SyncType not a number",
         {{"SystemName", sys}, {"Name", "s"}, {"SyncType", "7x"}},
         5,
         "SyncType is not provided."},
        {"SyncType over 16 bits",
         {{"SystemName", sys}, {"Name", "s"}, {"SyncType", "65543"}},
         5,
         "SyncType is not provided."},
        {"unknown volume UUID",
         {{"SystemName", sys},
          {"SyncType", "7"},
          {"SourceElement", "600A0000000000000000000000000BAD"}},
         650015,
         " LUN UUID 600A0000000000000000000000000BAD not found"},
        // A bare word parses as a class name, but it is a group's name.
        {"unknown group name",
         {{"SystemName", sys}, {"SyncType", "7"}, {"SourceGroup", "no_such_group"}},
         650015,
         " Replication Group no_such_group not found"},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        ASSERT_EQ(dev.snap.m_CimConnection.ConnectCimom(), 0) << r.name;
        Params params = r.params;
        cim::Array<cim::CIMParamValue> out;
        EXPECT_EQ(dev.snap.CreateSynchronizationAspect(dev.snap.m_CimConnection, params, out),
                  r.result)
            << r.name;
        EXPECT_TRUE(dev.logged(r.trace)) << r.name;
        dev.snap.m_CimConnection.DisconnectCimom();
    }
    EXPECT_EQ(CountRequests(sim, "InvokeMethod"), 0u);
}

}  // namespace

namespace {

// A "consistency" entry without "SourceGroup" still selects the group form: the
// volume is not sent and the group is a null reference.
TEST(SyncAspect, ConsistencyWithoutAGroupSendsTheGroupForm) {
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    SimSnapshot dev(sim);
    const sim::Volume& v = dev.volume("small_lun");
    ASSERT_EQ(dev.snap.m_CimConnection.ConnectCimom(), 0);
    std::map<std::string, std::string> params = {{"SystemName", dev.array.id},
                                                 {"SyncType", "7"},
                                                 {"SourceElement", v.uuid},
                                                 {"consistency", "2"},
                                                 {"ServiceAccessPoint", "given"}};
    cim::Array<cim::CIMParamValue> out;
    const unsigned int result =
        dev.snap.CreateSynchronizationAspect(dev.snap.m_CimConnection, params, out);
    dev.snap.m_CimConnection.DisconnectCimom();
    EXPECT_NE(result, 0u) << "a group PiT without a group";
    const auto calls = testsupport::Calls(sim, "CreateSynchronizationAspect");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(testsupport::Param(calls[0], "SourceElement").null);
    EXPECT_TRUE(testsupport::Param(calls[0], "SourceGroup").null);
    EXPECT_EQ(testsupport::Param(calls[0], "Consistency").value, "2");
    EXPECT_TRUE(testsupport::Param(calls[0], "ServiceAccessPoint").null);
    EXPECT_TRUE(testsupport::Param(calls[0], "Name").null);
    EXPECT_TRUE(sim.provider().currentState().arrays[0].pits.empty());
    EXPECT_TRUE(sim.provider().currentState().arrays[0].cgPits.empty());
}

}  // namespace
