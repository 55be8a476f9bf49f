// What the array shows besides its methods' answers: method declarations for
// clients that type their parameters from the class, and the damaged shapes edge
// tests need.
#include <gtest/gtest.h>

#include "SimArrays.h"
#include "testsupport/SimArray.h"

using cim::CIMObjectPath;
using cim::CIMValue;
using testsupport::param;
using testsupport::SimArray;
using testsupport::u16;

TEST(ArrayShapes, ServicesDeclareTheirMethodsWithTypedParameters) {
    SimArray s;
    struct Row {
        const char* cls;
        const char* method;
        const char* parameter;
        cim::CIMType type;
        bool isArray;
        const char* direction;
    };
    const Row rows[] = {
        {"_ReplicationService", "CreateGroup", "GroupName", cim::CIMTYPE_STRING, false, "IN"},
        {"_ReplicationService", "CreateGroup", "Members", cim::CIMTYPE_REFERENCE, true, "IN"},
        {"_ReplicationService", "CreateGroup", "ReplicationGroup", cim::CIMTYPE_REFERENCE, false,
         "OUT"},
        {"_ReplicationService", "ModifySettingsDefineState", "Operation", cim::CIMTYPE_UINT16,
         false, "IN"},
        {"_ReplicationService", "CreatePiTGroup", "RepositorySize", cim::CIMTYPE_UINT64, false,
         "IN"},
        {"_ControllerConfigurationService", "ExposePaths", "DeviceAccesses", cim::CIMTYPE_UINT16,
         true, "IN"},
        {"_StorageConfigurationService", "CreateOrModifyElementFromStoragePool", "TheElement",
         cim::CIMTYPE_REFERENCE, false, "OUT"},
        {"_ConcreteJob", "RequestStateChange", "RequestedState", cim::CIMTYPE_UINT16, false, "IN"},
    };
    for (const Row& row : rows) {
        cim::CIMClass c = s.client().getClass(s.ns(), s.prefix() + row.cls, false);
        cim::Uint32 m = c.findMethod(row.method);
        ASSERT_NE(m, cim::PEG_NOT_FOUND) << row.cls << "." << row.method;
        const cim::CIMMethod& method = c.getMethod(m);
        EXPECT_EQ(method.getType(), cim::CIMTYPE_UINT32) << row.method;
        cim::Uint32 p = method.findParameter(row.parameter);
        ASSERT_NE(p, cim::PEG_NOT_FOUND) << row.method << "." << row.parameter;
        const cim::CIMParameter& param = method.getParameter(p);
        EXPECT_EQ(param.getType(), row.type) << row.parameter;
        EXPECT_EQ(param.isArray(), row.isArray) << row.parameter;
        EXPECT_NE(param.findQualifier(row.direction), cim::PEG_NOT_FOUND) << row.parameter;
    }
}

TEST(ArrayShapes, DamagedShapesForEdgeTests) {
    SimArray s(simtest::richArray());
    s.control({{"action", "sharedSecrets"}, {"count", 2}});
    const CIMObjectPath service = s.first(s.prefix() + "_SharedSecretService");
    auto secrets = s.associators(service, "CIM_SharedSecretIsShared", "CIM_SharedSecret");
    ASSERT_EQ(secrets.size(), 2u);
    EXPECT_NE(s.property(secrets[1], "Secret"), "<absent>");
    s.control({{"action", "sharedSecrets"}, {"count", 0}});
    EXPECT_EQ(s.count("CIM_SharedSecret"), 0u);

    const CIMObjectPath volume = s.volume("exch_log");
    s.control({{"action", "dropSetting"}, {"volume", "exch_log"}});
    EXPECT_EQ(s.references(volume, "CIM_ElementSettingData"), 0u);
    EXPECT_EQ(s.count(s.prefix() + "_StorageVolumeSetting"), 9u) << "one of ten volumes";

    const CIMObjectPath pit = s.client().enumerateInstanceNames(s.ns(), s.prefix() + "_PiT")[0];
    s.control(
        {{"action", "extraDefineState"}, {"pit", pit.findKeyBinding("InstanceID")->getValue()}});
    auto states = s.client().referenceNames(s.ns(), pit, "CIM_SettingsDefineState");
    ASSERT_EQ(states.size(), 2u);
    for (const auto& sds : states) EXPECT_NO_THROW(s.instance(sds)) << sds.toString();

    // A failover moves the current owner only; views wait for the preferred one.
    const CIMObjectPath base = s.volume("ora_data1");
    const std::string owner = s.property(base, "CurrentManager");
    s.control({{"action", "failover"}, {"volume", "ora_data1"}});
    EXPECT_NE(s.property(base, "CurrentManager"), owner);
    const std::vector<cim::CIMParamValue> view = {param("Operation", u16(5)),
                                                  param("SettingsState", CIMValue(states[0]))};
    EXPECT_EQ(s.call("ReplicationService", "ModifySettingsDefineState", view).rc, 4u);
    s.control({{"action", "failback"}, {"volume", "ora_data1"}});
    EXPECT_EQ(s.call("ReplicationService", "ModifySettingsDefineState", view).rc, 0u);
}
