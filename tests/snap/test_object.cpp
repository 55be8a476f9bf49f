// The snapshot object's records and the frame every operation shares.
#include <gtest/gtest.h>

#include <string>

#include "testsupport/SimSnapshot.h"

namespace {

using testsupport::SimSnapshot;

TEST(SnapObject, RecordsKeepTheArrayNameAndOverwriteTheTarget) {
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    for (const std::string recordName : {"", "OTHER"}) {
        SimSnapshot dev(sim);
        RK_SMIS_SNAP::RkSnapParams p;
        p.m_SystemName = recordName;
        p.m_TargetDev = "600A0000000000000000000000000001";
        dev.snap.SetSnapInfo(p);
        EXPECT_EQ(dev.snap.GetSystemName(), recordName.empty() ? dev.array.id : recordName);
        RK_SMIS_SNAP::RkSnapViewParams v;  // no target: clears the one set above
        dev.snap.SetSnapViewInfo(v);
        EXPECT_EQ(dev.snap.GetSnapDevice(), "") << recordName;
    }
}

TEST(SnapObject, OperationFrame) {
    sim::TestServer sim(testsupport::SimConfig(), testsupport::PlainHttp());
    SimSnapshot dev(sim);
    ASSERT_EQ(dev.snap.m_CimConnection.ConnectCimom(), 0);
    const std::string path =
        dev.snap.GetVolObjPathByUUID(dev.snap.m_CimConnection, dev.volume("small_lun").uuid, "");
    dev.snap.m_CimConnection.DisconnectCimom();
    sim.log().clear();
    // Refusals never reach the provider.
    EXPECT_EQ(dev.snap.UnprepareSnap(), 0);
    EXPECT_EQ(dev.snap.SetSnapObjectProperty(path, "", "v"), -1);
    EXPECT_EQ(dev.snap.SetSnapObjectProperty("", "ElementName", "v"), -1);
    EXPECT_EQ(dev.countLines("Invalid Parameters"), 2);
    EXPECT_TRUE(sim.requests().empty());
    // A change reaches the array and the operation closes its connection.
    EXPECT_EQ(dev.snap.SetSnapObjectProperty(path, "ElementName", "renamed_lun"), 0);
    EXPECT_NE(sim.provider().currentState().arrays[0].findVolumeByLabel("renamed_lun"), nullptr);
    EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected());
    // No connection: error 3 under the operation's name.
    dev.snap.m_CimConnection.GetCimom().SetNameSpace("");
    EXPECT_EQ(dev.snap.SetSnapObjectProperty(path, "ElementName", "x"), -1);
    EXPECT_EQ(dev.snap.GetErrorMsg(),
              "Snapshot::SetSnapObjectProperty: Connection to CIMOM failed");
    EXPECT_EQ(dev.info.errorCode(), 60541);
}

}  // namespace
