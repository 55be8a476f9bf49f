// The snapshot object's records, setters and operation frame.
#include <gtest/gtest.h>

#include <string>

#include "testsupport/SimSnapshot.h"

namespace {

using testsupport::CountRequests;
using testsupport::SimSnapshot;

class SnapObject : public ::testing::Test {
  protected:
    sim::TestServer sim{testsupport::SimConfig(), testsupport::PlainHttp()};
};

TEST_F(SnapObject, SnapInfoKeepsAnArrayNameOverAnEmptyOne) {
    struct Row {
        const char* name;
        std::string recordName;
        std::string expected;
    };
    SimSnapshot probe(sim);
    const Row rows[] = {
        {"empty keeps", "", probe.array.id},
        {"non-empty replaces", "OTHER", "OTHER"},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(sim);
        RK_SMIS_SNAP::RkSnapParams p;
        p.m_SystemName = r.recordName;
        p.m_SnapName = "s1";
        p.m_SnapOperation = 4;
        p.m_SourceDevPath = "path";
        dev.snap.SetSnapInfo(p);
        EXPECT_EQ(dev.snap.GetSystemName(), r.expected) << r.name;
        EXPECT_EQ(dev.snap.GetSnapOperation(), 4) << r.name;
        EXPECT_EQ(dev.snap.GetSourceDevPath(), "path") << r.name;
    }
}

TEST_F(SnapObject, ViewInfoOverwritesTheTargetEvenWithEmptyValues) {
    SimSnapshot dev(sim);
    RK_SMIS_SNAP::RkSnapParams p;
    p.m_TargetDev = "600A0000000000000000000000000001";
    p.m_TargetDevPath = "NETAPP_StorageVolume.DeviceID=\"x\"";
    dev.snap.SetSnapInfo(p);
    RK_SMIS_SNAP::RkSnapViewParams v;
    v.m_InitiatorPorts = "2100001B32A1B2C3";
    v.m_DeviceAccess = 2;
    dev.snap.SetSnapViewInfo(v);
    EXPECT_EQ(dev.snap.GetSnapDevice(), "");
    EXPECT_EQ(dev.snap.GetSnapDevPath(), "");
    EXPECT_EQ(dev.snap.m_InitiatorPorts, "2100001B32A1B2C3");
    EXPECT_EQ(dev.snap.m_DeviceAccess, 2);
}

TEST_F(SnapObject, UnprepareAndInvalidPropertyChangesNeverReachTheProvider) {
    SimSnapshot dev(sim);
    const std::string path = "NETAPP_StorageVolume.DeviceID=\"x\"";
    EXPECT_EQ(dev.snap.UnprepareSnap(), 0);
    EXPECT_EQ(dev.snap.SetSnapObjectProperty(path, "", "v"), -1);
    EXPECT_EQ(dev.snap.SetSnapObjectProperty("", "ElementName", "v"), -1);
    dev.snap.m_SystemName.clear();
    EXPECT_EQ(dev.snap.SetSnapObjectProperty(path, "ElementName", "v"), -1);
    EXPECT_EQ(dev.countLines("Invalid Parameters"), 3);
    EXPECT_TRUE(sim.requests().empty());
    EXPECT_EQ(dev.info.setErrorInfoCalls(), 0);
}

TEST_F(SnapObject, PropertyChangeReachesTheArrayAndAFailedConnectionIsError3) {
    SimSnapshot dev(sim);
    const sim::Volume& v = dev.volume("small_lun");
    std::string path = dev.snap.GetVolObjPathByUUID(dev.snap.m_CimConnection, v.uuid, "");
    EXPECT_TRUE(path.empty()) << "lookups need an open connection";
    ASSERT_EQ(dev.snap.m_CimConnection.ConnectCimom(), 0);
    path = dev.snap.GetVolObjPathByUUID(dev.snap.m_CimConnection, v.uuid, "");
    dev.snap.m_CimConnection.DisconnectCimom();
    ASSERT_FALSE(path.empty());

    EXPECT_EQ(dev.snap.SetSnapObjectProperty(path, "ElementName", "renamed_lun"), 0);
    EXPECT_NE(sim.provider().currentState().arrays[0].findVolumeByLabel("renamed_lun"), nullptr);
    EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << "the operation closes its connection";

    RK_SMIS_SNAP::RkArrayParams bad;
    bad.address = "127.0.0.1";
    bad.port = sim.httpPort();
    bad.nameSpace = sim.arrayNamespace();
    bad.userName = sim.user();  // no password: no connection
    bad.m_SystemName = dev.array.id;
    dev.snap.SetArrayInfo(bad);
    EXPECT_EQ(dev.snap.SetSnapObjectProperty(path, "ElementName", "x"), -1);
    EXPECT_EQ(dev.snap.GetErrorCode(), 3);
    EXPECT_EQ(dev.snap.GetErrorMsg(),
              "Snapshot::SetSnapObjectProperty: Connection to CIMOM failed");
    EXPECT_EQ(dev.info.errorCode(), 60541);
}

}  // namespace
