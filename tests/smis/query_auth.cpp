// Password rejected: no lookup answers "none" (read as "deleted"); raised, -1 or LookupFailed().
#include "smis_fixture.h"

namespace smistest {

class QueryAuth : public QueryTest {
  protected:
    void SetUp() override {
        QueryTest::SetUp();
        systemPath = util().GetSystemObjPathByNameProp(conn(), systemName);
        volumePath = util().GetObjPathByProp(conn(), "CIM_StorageVolume", "DeviceID",
                                             volumes[0].uuid, systemName);
        ASSERT_FALSE(systemPath.getClassName().isNull());
        ASSERT_FALSE(volumePath.getClassName().isNull());
        volumeText = volumePath.toString();
    }
    // Whether a lookup gave an answer (found, or "none" without marking the lookup failed).
    static bool Empty(const cim::CIMObjectPath& p) { return p.getClassName().isNull(); }
    template <typename T>
    static bool Empty(const T& list) {
        return list.empty();
    }
    template <typename T>
    static bool Of(const RkCimUtil& u, const T& result) {
        return !Empty(result) || !u.LookupFailed();
    }
    static bool OfInt(const RkCimUtil& u, int rc, int found) {
        return rc == found || !u.LookupFailed();
    }
    static bool OfExistence(int rc) { return rc != -1; }
    cim::CIMObjectPath systemPath;
    cim::CIMObjectPath volumePath;
    std::string volumeText;
};

TEST_F(QueryAuth, RejectedPasswordIsNeverAnAbsence) {
    using Lookup = std::function<bool(RkCimUtil&, RkCimConnection&)>;
    const std::string uuid = volumes[0].uuid;
    std::string uuidText = uuid;
    const std::string& sys = systemName;
    cim::Array<cim::String> uuids{uuid};
    // A provider whose synchronization layout is unknown: looked up by references.
    const cim::CIMObjectPath unknownVendor("root/x:XYZ_StorageVolume.DeviceID=\"1\"");
    std::string none, sync, other, name;
    std::map<std::string, std::string> props{{"Name", ""}};
    cim::CIMObjectPath out;
    auto volumeLookupWithCaching = [&](RkCimUtil& u, RkCimConnection& c) {
        TalonConfig caching("RK_SMIS_CACHE_VOLUME_INSTANCES = 1\n");
        return Of(u, u.GetVolObjPathByUUID(c, uuid, sys));
    };
#define ROW(expr)                                                       \
    {                                                                   \
#expr, [&](RkCimUtil & u, RkCimConnection & c) { return expr; } \
    }
    const std::vector<std::pair<const char*, Lookup>> rows = {
        ROW(Of(u, u.GetObjPathByPropName(c, "CIM_StorageVolume", "Name", uuid))),
        ROW(Of(u, u.GetObjPathByPropName(c, sys, "CIM_StorageVolume", "Name", uuid, false))),
        ROW(Of(u, u.GetObjPathByPropNamev2(c, sys, "CIM_StorageVolume", "Name", uuid))),
        ROW(Of(u, u.GetObjPathByProp(c, "CIM_StorageVolume", "DeviceID", uuid, sys))),
        ROW(Of(u, u.GetObjPathListByPropNameList(c, "CIM_StorageVolume", "Name", uuids, sys))),
        ROW(Of(u, u.GetCIMProp(c, volumeText, "Name"))),
        ROW(Of(u, u.GetCIMProp(c, volumePath, "Name"))),
        ROW(OfInt(u, u.GetCIMPropList(c, volumePath, props), 1)),
        ROW(OfExistence(u.CheckInstanceExistence(c, systemName, volumeText, none))),
        ROW(OfExistence(u.CheckInstanceExistence(c, systemName, volumeText, uuidText))),
        ROW(OfExistence(u.CheckInstanceExistence(c, systemName, uuidText, none))),
        ROW(Of(u, u.GetSystemObjPathByNameProp(c, sys))),
        ROW(Of(u, u.GetSystemObjPathString(c, sys))),
        ROW(OfInt(u, u.ValidateSystemName(c, sys, "CIM_StorageVolume", out), 1)),
        ROW(Of(u, u.GetSystemServiceObject(c, systemPath, "CIM_ReplicationService"))),
        ROW(Of(u, u.GetCtlrservicePath(c, systemPath))),
        ROW(Of(u, u.GetDGByName(c, sys, "DG1"))),
        ROW(Of(u, u.GetVendorByName(c, sys))),
        ROW(Of(u, u.GetVendorNamespaceByName(c, sys))),
        ROW(Of(u, u.GetVolObjPathByUUID(c, uuid, sys))),
        ROW(volumeLookupWithCaching(u, c)),
        ROW(Of(u, u.GetEternusTPPByName(c, sys, "TPP1"))),
        ROW(Of(u, u.GetObjPathByAssnProp(c, volumePath, "CIM_AllocatedFromStoragePool", "",
                                         "ElementName", "DG1"))),
        ROW(Of(u, u.GetSystemObjPathListByPropList(c, "CIM_StorageVolume", sys))),
        ROW(Of(u, u.GetSystemObjPathByProp(c, "CIM_StorageVolume", sys))),
        ROW(Of(u, u.GetIBMSVCVolObjPathByUUID(c, uuid))),
        ROW(Of(u, u.GetPreferredNodeForIBMSVC(c, sys + ":1"))),
        ROW(Of(u, u.GetVolumeObjectPath(c, sys, uuid))),
        ROW(Of(u, u.GetSyncPath(c, nameSpace, sys, unknownVendor, unknownVendor))),
        ROW(OfInt(u, u.GetSyncPathFromSource(c, volumeText, sync, other, name), 0)),
        ROW(OfInt(u, u.GetSyncPathFromSourceBySyncType(c, 4, volumeText, sync, other), 0)),
        ROW(OfInt(u, u.GetAllSyncPathFromSource(c, volumeText, "", props), 0)),
        ROW(OfInt(u, u.GetDelSyncPathFromSource(c, volumeText, sync, other, name, ""), 0)),
        ROW(OfInt(u, u.GetSyncPathFromTarget(c, volumeText, sync, other, name), 0)),
        ROW(OfInt(u, u.GetSyncPathFromTargetAndSource(c, volumeText, volumeText, sync), 0)),
    };
#undef ROW

    for (const auto& row : rows) {
        // A fresh connection and the same one after its first rejection answer alike.
        Device bad(*sim);
        Open(bad.conn, ParamsFor(*sim, false, "not-the-password"), &bad.info);
        for (int round = 0; round < 2; ++round) {
            bool answered = false;
            try {
                answered = row.second(bad.util, bad.conn);
            } catch (const cim::Exception&) {  // raised: the caller sees the failure
            }
            EXPECT_FALSE(answered) << row.first << " (call " << round + 1 << ")";
        }
        EXPECT_LE(bad.info.setErrorInfoCalls(), 1) << row.first << ": reported once at most";
    }
}

}  // namespace smistest
