// Text-to-list helpers and method result helpers of RkCimUtil (no provider needed).
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST(QueryText, TargetElementIsTheFirstReferenceOfThatName) {
    RkCimUtil u;
    cim::CIMObjectPath target(R"(NETAPP_StorageVolume.DeviceID="T1")");
    cim::CIMObjectPath other(R"(NETAPP_StorageVolume.DeviceID="T2")");
    std::vector<cim::CIMParamValue> none{cim::CIMParamValue("Job", cim::CIMValue(other))};
    EXPECT_TRUE(u.GetTargetElementHandle(none).getClassName().isNull());
    // A text parameter of that name is not a reference; the reference after it wins.
    std::vector<cim::CIMParamValue> out{
        cim::CIMParamValue("TargetElement", cim::CIMValue(std::string("x"))),
        cim::CIMParamValue("TheElement", cim::CIMValue(target)),
        cim::CIMParamValue("TargetElement", cim::CIMValue(other))};
    EXPECT_EQ(u.GetTargetElementHandle(out), target);
    // Untyped output carries the path as text.
    std::vector<cim::CIMParamValue> untyped{
        cim::CIMParamValue("TargetElement", cim::CIMValue(std::string("not a path!")), false),
        cim::CIMParamValue("TargetElement", cim::CIMValue(target.toString()), false)};
    EXPECT_EQ(u.GetTargetElementHandle(untyped), target);
    std::vector<cim::CIMParamValue> nullRef{
        cim::CIMParamValue("TargetElement", cim::CIMValue(cim::CIMTYPE_REFERENCE, false))};
    EXPECT_TRUE(u.GetTargetElementHandle(nullRef).getClassName().isNull());
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

}  // namespace
