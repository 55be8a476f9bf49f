// Helpers that need no provider: texts, method results, vendor recognition.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "smis/ProviderVendor.h"
#include "smis/RkCimUtil.h"
#include "testsupport/FakeSnapInfo.h"

namespace {

using Strings = std::vector<std::string>;

// Lists drop empty pieces, keep long ones; non-numbers read as zero; path keys match exactly.
TEST(QueryText, ListsAndKeysFromTexts) {
    RkCimUtil u;
    const std::string longPiece(5000, 'x');
    const std::pair<std::string, Strings> lists[] = {
        {"", {}},
        {",,,", {}},
        {"a,,b,", {"a", "b"}},
        {",a", {"a"}},
        {"no sep", {"no sep"}},
        {longPiece + "," + longPiece, {longPiece, longPiece}}};
    for (const auto& [text, want] : lists) EXPECT_EQ(u.Tokenize(text, ','), want) << text;
    EXPECT_EQ(u.StringToVector("p1*p2", '*'), (Strings{"p1", "p2"}));
    EXPECT_EQ(u.InputToStringArray("10000090FA1B2C3D;10000090FA1B2C3E", ';'),
              (Strings{"10000090FA1B2C3D", "10000090FA1B2C3E"}));
    EXPECT_EQ(u.InputToIntArray("1,x,3", ','), (std::vector<cim::Uint16>{1, 0, 3}));
    EXPECT_EQ(u.InputToIntArray("32768,,7", ','), (std::vector<cim::Uint16>{32768, 7}));
    cim::CIMObjectPath p(
        R"(root/x:NETAPP_StorageVolume.CreationClassName="NETAPP_StorageVolume",DeviceID="60A9",SystemName="600A")");
    EXPECT_EQ(u.GetPropByObjPath(p, "DeviceID"), "60A9");
    EXPECT_EQ(u.GetPropByObjPath(p, "deviceid"), "");
    EXPECT_EQ(u.GetPropByObjPath(p, "Missing"), "");
    EXPECT_EQ(cim::CIMObjectPath(u.GetObjectPathString(p)), p);
    EXPECT_EQ(u.GetObjectPathString(cim::CIMObjectPath()), "");
}

// Integers and decimal text only; no return value must never read as success.
TEST(QueryText, RetValAcceptsIntegersAndDecimalTextOnly) {
    RkCimUtil u;
    const std::pair<cim::CIMValue, unsigned> cases[] = {
        {cim::CIMValue(cim::Uint32(4096)), 4096u},
        {cim::CIMValue(cim::Uint32(0)), 0u},
        {cim::CIMValue(cim::Sint32(5)), 5u},
        {cim::CIMValue(std::string("4096")), 4096u},
        {cim::CIMValue(true), 99999u},
        {cim::CIMValue(cim::Uint16(1)), 99999u},
        {cim::CIMValue(std::string("job started")), 99999u},
        {cim::CIMValue(cim::CIMTYPE_UINT32, false), 99999u},
        {cim::CIMValue(std::vector<cim::Uint32>{0}), 99999u},
    };
    for (const auto& [value, want] : cases) EXPECT_EQ(u.GetRetVal(value), want) << value.toString();
}

// A text of that name is no reference; untyped output carries the path as text.
TEST(QueryText, TargetElementIsTheFirstReferenceOfThatName) {
    using P = cim::CIMParamValue;
    using V = cim::CIMValue;
    const cim::CIMObjectPath target(R"(NETAPP_StorageVolume.DeviceID="T1")"), none;
    const cim::CIMObjectPath other(R"(NETAPP_StorageVolume.DeviceID="T2")");
    std::pair<std::vector<P>, cim::CIMObjectPath> rows[] = {
        // clang-format off
        {{P("Job", V(other))}, none},
        {{P("TargetElement", V(std::string("x"))), P("TheElement", V(target)), P("TargetElement", V(other))}, target},
        {{P("TargetElement", V(std::string("not a path!")), false), P("TargetElement", V(target.toString()), false)}, target},
        {{P("TargetElement", V(cim::CIMTYPE_REFERENCE, false))}, none},
        // clang-format on
    };
    for (size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(RkCimUtil().GetTargetElementHandle(rows[i].first), rows[i].second) << "row " << i;
}

TEST(QueryText, ParamSetIsTracedAtTheAskedLevelWithoutSecrets) {
    testsupport::FakeSnapInfo info;
    RkCimUtil u;
    u.m_pLogger = &info;
    std::vector<cim::CIMParamValue> params{
        cim::CIMParamValue("ReturnCode", cim::CIMValue(cim::Uint32(4096))),
        cim::CIMParamValue("Secret", cim::CIMValue(std::string("hush-value")))};
    u.PrintParamSet(params, true);
    u.PrintParamSet(params, false);
    auto lines = info.logLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].text,
              "SMIS::PrintParamSet: Returned params[0] <ReturnCode> <uint32> = 4096");
    EXPECT_EQ(lines[0].level, 2);
    EXPECT_EQ(lines[2].level, 0);
    EXPECT_EQ(lines[1].text, "SMIS::PrintParamSet: Returned params[1] <Secret> <string> = ****");
    EXPECT_FALSE(info.logContains("hush-value"));
}

TEST(ProviderVendor, EveryVendorByClassNameAndTheTestOrder) {
    const std::tuple<const char*, RK_PROVIDER_VENDOR, const char*, const char*> rows[] = {
        {"HPEVA_StorageSystem", VENDOR_HPEVA, "HPEVA", "root/eva"},
        {"DCIM_StorageVolume", VENDOR_DELL, "DCIM", "root/DCIM/MDStorageArray13"},
        {"IBMTSSVC_Cluster", VENDOR_IBMSVC, "IBMTSSVC", "root/ibm"},
        {"TPD_StorageSystem", VENDOR_3PAR, "3PAR", "root/tpd"},
        {"NETAPP_StorageVolume", VENDOR_NETAPP, "NETAPP", "root/netapp/santricity"},
        // Markers are tested in a fixed order, anywhere in the text, case-sensitively.
        {"X_HPXP_LSISSI_Y", VENDOR_HPXP, "HPXP", "root/xp"},
        {"LSISSI_DCIM_x", VENDOR_LSI, "LSISSI", "root/LsiArray13"},
        {"MySE_Thing", VENDOR_EMC, "EMC", "root/emc"},
        {"NETAPP_BASE_Volume", VENDOR_EMC, "EMC", "root/emc"},  // "SE_" comes first
        {"FUJITSU_TPD_x", VENDOR_3PAR, "3PAR", "root/tpd"},
        {"//h/root/LsiArray13:LSISSI_StorageVolume.DeviceID=\"60080E5\"", VENDOR_LSI, "LSISSI",
         "root/LsiArray13"},
        {"lsissi_storagesystem", VENDOR_UNKNOWN, "", ""},
        {"LSISSI", VENDOR_UNKNOWN, "", ""},
        {"CIM_StorageVolume", VENDOR_UNKNOWN, "", ""},
        {"", VENDOR_UNKNOWN, "", ""},
    };
    for (const auto& [className, vendor, prefix, nameSpace] : rows) {
        EXPECT_EQ(RKProviderVendor::GetVendorId(className), vendor) << className;
        EXPECT_EQ(RKProviderVendor::GetVendorPrefix(vendor), prefix) << className;
        EXPECT_EQ(RKProviderVendor::GetVendorNameSpace(vendor), nameSpace) << className;
        if (!cim::CIMName::legal(className)) continue;
        cim::CIMObjectPath path("", "root/x", cim::CIMName(className));
        EXPECT_EQ(RKProviderVendor::GetVendorId(path), vendor) << className;
        EXPECT_EQ(RKProviderVendor::GetVendorPrefix(path), prefix) << className;
        EXPECT_EQ(RKProviderVendor::GetVendorNameSpace(path), nameSpace) << className;
    }
    EXPECT_EQ(RKProviderVendor::GetVendorId(cim::CIMObjectPath()), VENDOR_UNKNOWN);
}

}  // namespace
