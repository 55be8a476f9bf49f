// Object, system, service, pool and vendor lookups against the simulator.
#include "smis_fixture.h"

namespace smistest {

bool IsEmpty(const cim::CIMObjectPath& p) {
    return p.getClassName().isNull();
}

class QueryObjects : public QueryTest {
  protected:
    std::string KeyOf(const cim::CIMObjectPath& p, const char* key) {
        return util().GetPropByObjPath(p, key);
    }
};

// Values match in any case, keys exactly; systems by SystemName or a pool's InstanceID.
TEST_F(QueryObjects, LookupsByPropertyKeyAndSystem) {
    std::string lower = volumes[4].uuid;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::vector<std::string> wanted{volumes[5].uuid, volumes[0].uuid, volumes[0].uuid,
                                    "6000000000000000000000000000FFFF"};
    auto u = [&] { return &util(); };
    // What each lookup found: its namespace and DeviceID (InstanceID of pools); "" for none.
    auto found = [&](const cim::CIMObjectPath& p) {
        return IsEmpty(p) ? std::string()
                          : p.getNameSpace().getString() + " " + KeyOf(p, "DeviceID") +
                                KeyOf(p, "InstanceID").substr(0, systemName.size());
    };
    auto list = [&](const std::string& system) {
        std::string out;
        for (const auto& p :
             u()->GetObjPathListByPropNameList(conn(), "CIM_StorageVolume", "Name", wanted, system))
            out += found(p) + ";";
        return out;
    };
    const std::string ns = nameSpace + " ";
    const std::pair<std::string, std::string> rows[] = {
        // clang-format off
        {found(u()->GetObjPathByPropName(conn(), "CIM_StorageVolume", "ElementName", "ORA_DATA2")), ns + volumes[1].uuid},
        {found(u()->GetObjPathByPropName(conn(), "CIM_StorageVolume", "ElementName", "no_such")), ""},
        {found(u()->GetObjPathByPropName(conn(), systemName, "CIM_StoragePool", "ElementName", "DG2", true)), ns + systemName},
        {found(u()->GetObjPathByPropName(conn(), "600A0980FFFFFFFF", "CIM_StoragePool", "ElementName", "DG2", true)), ""},
        {found(u()->GetObjPathByPropNamev2(conn(), systemName, "CIM_StorageVolume", "Name", volumes[3].uuid)), ns + volumes[3].uuid},
        {found(u()->GetObjPathByProp(conn(), "CIM_StorageVolume", "DeviceID", volumes[4].uuid, systemName)), ns + volumes[4].uuid},
        {found(u()->GetObjPathByProp(conn(), "CIM_StorageVolume", "DeviceID", volumes[4].uuid, "600AFFFF")), ""},
        {found(u()->GetObjPathByProp(conn(), "CIM_StorageVolume", "DeviceID", lower, systemName)), ""},
        {found(u()->GetObjPathByProp(conn(), "CIM_StorageVolume", "DeviceID", "", "")), ns + volumes[0].uuid},  // the first
        {list(systemName), ns + volumes[0].uuid + ";" + ns + volumes[0].uuid + ";" + ns + volumes[5].uuid + ";"},
        {list("600AFFFF"), ""},
        // clang-format on
    };
    for (size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(rows[i].first, rows[i].second) << "row " << i;
    cim::CIMObjectPath p =
        util().GetObjPathByPropName(conn(), "CIM_StorageVolume", "ElementName", "ORA_DATA2");
    EXPECT_EQ(util().GetCIMProp(conn(), p, "ElementName"), "ora_data2");
}

TEST_F(QueryObjects, FindingLookupsRaiseProviderFailuresAfterTracingThem) {
    const RequestKey names{"EnumerateInstanceNames", "", ""};
    sim->failCim(cim::CIM_ERR_FAILED, "provider busy", 1, RequestKey{"EnumerateInstances", "", ""});
    EXPECT_THROW(util().GetObjPathByPropName(conn(), "CIM_StorageVolume", "Name", "x"),
                 cim::CIMException);
    EXPECT_TRUE(logged("Caught CIMException: CIM_ERR_FAILED"));
    sim->failCim(cim::CIM_ERR_FAILED, "provider busy", 1, names);
    EXPECT_THROW(util().GetSystemObjPathByNameProp(conn(), systemName), cim::CIMException);
    sim->failCim(cim::CIM_ERR_ACCESS_DENIED, "", 1, names);
    EXPECT_THROW(util().GetObjPathByProp(conn(), "CIM_StorageVolume", "DeviceID", "x", ""),
                 cim::CIMException);
    sim->addFault(sim::FaultKind::MalformedXml, 1, RequestKey{"EnumerateInstances", "", ""});
    EXPECT_THROW(util().GetObjPathByPropName(conn(), "CIM_StorageVolume", "Name", "x"),
                 cim::Exception);
    // Not found is an answer, not a failure.
    sim->failCim(cim::CIM_ERR_NOT_FOUND, "", 1, names);
    EXPECT_TRUE(
        IsEmpty(util().GetObjPathByProp(conn(), "CIM_StorageVolume", "DeviceID", "V1", "")));
    // Callers that catch give their empty result.
    sim->failCim(cim::CIM_ERR_FAILED, "", 3, names);
    EXPECT_EQ(util().GetSystemObjPathString(conn(), systemName), "");
    EXPECT_EQ(util().GetDGByName(conn(), systemName, "DG1"), "");
    EXPECT_EQ(util().GetVendorByName(conn(), systemName), "");
}

TEST_F(QueryObjects, StorageSystemClassFollowsTheVendorPrefix) {
    cim::CIMObjectPath p = util().GetSystemObjPathByNameProp(conn(), systemName);
    EXPECT_EQ(p.getClassName().getString(), "NETAPP_StorageSystem");
    EXPECT_EQ(p.getNameSpace().getString(), nameSpace);
    EXPECT_EQ(util().GetSystemObjPathString(conn(), systemName), p.toString());
    EXPECT_EQ(util().GetVendorByName(conn(), systemName), "NETAPP");
    EXPECT_EQ(util().GetVendorByName(conn(), "600AFFFFFFFF"), "");
    EXPECT_TRUE(IsEmpty(util().GetSystemObjPathByNameProp(conn(), "600AFFFFFFFF")));
    // The array setting names another prefix: the NETAPP system no longer qualifies.
    dev->info.setConfig("SMCONFIG_NAME_SMIS_CIM_CLASSNAME_PREFIX", "DCIM");
    EXPECT_TRUE(IsEmpty(util().GetSystemObjPathByNameProp(conn(), systemName)));
    EXPECT_TRUE(logged("LSI OEM classname [DCIM_StorageSystem]"));
    // The host setting wins over the array setting.
    TalonConfig talon("LSI_OEM_CLASSNAME_PREFIX = NETAPP\n");
    p = util().GetSystemObjPathByNameProp(conn(), systemName);
    EXPECT_EQ(p.getClassName().getString(), "NETAPP_StorageSystem");
}

TEST_F(QueryObjects, SystemNameValidationAndServices) {
    cim::CIMObjectPath out;
    EXPECT_EQ(util().ValidateSystemName(conn(), systemName, "CIM_StorageVolume", out), 1);
    EXPECT_EQ(KeyOf(out, "SystemName"), systemName);
    cim::CIMObjectPath untouched;
    EXPECT_EQ(util().ValidateSystemName(conn(), "600AFFFF", "CIM_StorageVolume", untouched), 0);
    EXPECT_TRUE(IsEmpty(untouched));
    EXPECT_EQ(util().ValidateSystemName(conn(), systemName, "CIM_ConcreteJob", untouched), 0);
    // A class the provider does not know is caught.
    EXPECT_EQ(util().ValidateSystemName(conn(), systemName, "XYZ_NoSuchClass", untouched), 0);
    cim::CIMObjectPath system = util().GetSystemObjPathByNameProp(conn(), systemName);
    auto className = [](const cim::CIMObjectPath& p) { return p.getClassName().getString(); };
    EXPECT_EQ(
        className(util().GetCtlrservicePath(conn(), system)) + " " +
            className(util().GetSystemServiceObject(conn(), system, "CIM_ReplicationService")),
        "NETAPP_ControllerConfigurationService NETAPP_ReplicationService");
    // A system that does not exist has no services.
    cim::CIMObjectPath gone(
        R"(NETAPP_StorageSystem.CreationClassName="NETAPP_StorageSystem",Name="600AFFFF")");
    EXPECT_TRUE(IsEmpty(util().GetCtlrservicePath(conn(), gone)));
    sim->failCim(cim::CIM_ERR_FAILED, "", 1, RequestKey{"AssociatorNames", "", ""});
    EXPECT_THROW(util().GetCtlrservicePath(conn(), system), cim::CIMException);
}

TEST_F(QueryObjects, DiskGroupByName) {
    std::string dg = util().GetDGByName(conn(), systemName, "dg2");
    EXPECT_EQ(util().GetCIMProp(conn(), dg, "ElementName"), "DG2");
    const size_t before = sim->requests().size();
    EXPECT_EQ(util().GetDGByName(conn(), systemName, ""), "");
    EXPECT_EQ(sim->requests().size(), before) << "an empty name asks nothing";
    EXPECT_EQ(util().GetDGByName(conn(), "600AFFFF", "DG2"), "");
    EXPECT_EQ(util().GetDGByName(conn(), systemName, "DG9"), "");
    // A loose match takes a pool whose name holds the name; the disk group lookup is loose.
    cim::CIMObjectPath loose = util().GetObjPathByPropName(conn(), systemName, "CIM_StoragePool",
                                                           "ElementName", "DG", false);
    EXPECT_EQ(util().GetCIMProp(conn(), loose, "ElementName"), "DG1");
    EXPECT_TRUE(IsEmpty(util().GetObjPathByPropName(conn(), systemName, "CIM_StoragePool",
                                                    "ElementName", "DG", true)));
    EXPECT_EQ(cim::CIMObjectPath(util().GetDGByName(conn(), systemName, "DG")), loose);
}

TEST_F(QueryObjects, LookupsOfOtherProvidersBranchesWorkOnAnyProvider) {
    cim::CIMObjectPath byId = util().GetVolumeObjectPath(conn(), systemName, volumes[1].uuid);
    ASSERT_FALSE(IsEmpty(byId));
    EXPECT_EQ(util().GetVolumeObjectPath(conn(), systemName, byId.toString()), byId);
    EXPECT_TRUE(IsEmpty(
        util().GetVolumeObjectPath(conn(), systemName, "6000000000000000000000000000BEEF")));
    EXPECT_TRUE(IsEmpty(util().GetVolumeObjectPath(conn(), systemName, "")));
    cim::CIMObjectPath system = util().GetSystemObjPathByNameProp(conn(), systemName);
    cim::CIMObjectPath rs = util().GetObjPathByAssnProp(
        conn(), system, "CIM_HostedService", "CIM_Service", "ElementName", "replicationservice");
    EXPECT_EQ(rs.getClassName().getString(), "NETAPP_ReplicationService");
    EXPECT_FALSE(IsEmpty(util().GetSystemObjPathByProp(conn(), "CIM_StorageVolume", systemName)));
    EXPECT_EQ(util().GetSystemObjPathListByPropList(conn(), "CIM_StorageVolume", systemName).size(),
              volumes.size());
    EXPECT_TRUE(IsEmpty(util().GetPreferredNodeForIBMSVC(conn(), "no-colon")));
}

}  // namespace smistest
