// URL, parameter and value handling of the cimq tool.
#include <gtest/gtest.h>

#include "CimqSupport.h"

using namespace cimq;

TEST(CimqUrl, SchemesPortsAndHosts) {
    Endpoint e = parseUrl("http://array1");
    EXPECT_FALSE(e.https);
    EXPECT_EQ(e.host, "array1");
    EXPECT_EQ(e.port, 5988u);
    e = parseUrl("https://10.0.0.5");
    EXPECT_TRUE(e.https);
    EXPECT_EQ(e.port, 5989u);
    e = parseUrl("https://10.0.0.5:15989/cimom");
    EXPECT_EQ(e.port, 15989u);
    e = parseUrl("http://[fe80::1]:5988/");
    EXPECT_EQ(e.host, "fe80::1");
    EXPECT_EQ(e.port, 5988u);
}

TEST(CimqUrl, BadUrlsAreUsageErrors) {
    for (const char* bad : {"array1:5988", "ftp://array1", "http://", "http://:5988", "http://a:0",
                            "http://a:65536", "http://a:12x", "http://a/other", "http://[fe80::1",
                            "http://[::1]x", "http://user:pw@array1", "http://a:999999"}) {
        EXPECT_THROW(parseUrl(bad), UsageError) << bad;
    }
}

TEST(CimqParameters, TypedScalarsArraysAndNulls) {
    auto params =
        parseParameters({"SyncType=uint16:7", "ElementName=string:snap 1",
                         "Members=reference[]:X.K=\"1\"", "Members=reference[]:Y.K=\"a,b\"",
                         "Force=boolean:true", "Comment=string", "Empty=string:"});
    ASSERT_EQ(params.size(), 6u);
    EXPECT_EQ(params[0].getParameterName(), "SyncType");
    EXPECT_EQ(params[0].getValue().getType(), cim::CIMTYPE_UINT16);
    EXPECT_EQ(params[0].getValue().toString(), "7");
    EXPECT_EQ(params[1].getValue().toString(), "snap 1");
    EXPECT_TRUE(params[2].getValue().isArray());
    EXPECT_EQ(params[2].getValue().getArraySize(), 2u);
    EXPECT_EQ(params[2].getValue().getType(), cim::CIMTYPE_REFERENCE);
    EXPECT_EQ(params[3].getValue().toString(), "TRUE");
    EXPECT_TRUE(params[4].getValue().isNull());
    EXPECT_EQ(params[4].getValue().getType(), cim::CIMTYPE_STRING);
    EXPECT_FALSE(params[5].getValue().isNull());
    EXPECT_EQ(params[5].getValue().toString(), "");
}

TEST(CimqParameters, BadSpecsAreUsageErrors) {
    for (const char* bad :
         {"NoEquals", "=uint16:1", "1Name=uint16:1", "X=nosuchtype:1", "X=uint16:70000",
          "X=uint16:abc", "X=boolean:maybe", "X=reference:600A0B80002A1B3C0000", "X=instance:1"}) {
        EXPECT_THROW(parseParameters({bad}), UsageError) << bad;
    }
    EXPECT_THROW(parseParameters({"X=uint16:1", "X=uint16:2"}), UsageError);
    EXPECT_THROW(parseParameters({"X=uint16[]:1", "X=uint32[]:2"}), UsageError);
}

TEST(CimqValues, PropertyValuesFollowThePropertyType) {
    EXPECT_EQ(parsePropertyValue(cim::CIMTYPE_UINT16, false, "3").toString(), "3");
    cim::CIMValue a = parsePropertyValue(cim::CIMTYPE_UINT16, true, "2,32768");
    EXPECT_EQ(a.getArraySize(), 2u);
    EXPECT_EQ(parsePropertyValue(cim::CIMTYPE_UINT16, true, "").getArraySize(), 0u);
    EXPECT_EQ(parsePropertyValue(cim::CIMTYPE_STRING, false, "a,b").toString(), "a,b");
    EXPECT_THROW(parsePropertyValue(cim::CIMTYPE_UINT8, false, "256"), UsageError);
    EXPECT_THROW(parsePropertyValue(cim::CIMTYPE_SINT32, true, "1,x"), UsageError);
}

TEST(CimqJson, ValuesKeepTheirJsonTypes) {
    EXPECT_EQ(toJson(cim::CIMValue(cim::Uint64(18446744073709551615ull))).dump(),
              "18446744073709551615");
    EXPECT_EQ(toJson(cim::CIMValue(cim::Sint8(-5))).dump(), "-5");
    EXPECT_EQ(toJson(cim::CIMValue(true)).dump(), "true");
    EXPECT_EQ(toJson(cim::CIMValue(std::string("x\"y"))).dump(), "\"x\\\"y\"");
    EXPECT_TRUE(toJson(cim::CIMValue(cim::CIMTYPE_UINT32, false)).is_null());
    EXPECT_EQ(toJson(cim::CIMValue(cim::Array<cim::Uint16>{2, 3})).dump(), "[2,3]");
    cim::CIMObjectPath p = cim::CIMObjectPath::parse("X.K=\"a,b\"");
    nlohmann::json refs = toJson(cim::CIMValue(cim::Array<cim::CIMObjectPath>{p, p}));
    ASSERT_EQ(refs.size(), 2u);
    EXPECT_EQ(refs[0], p.toString());
}
