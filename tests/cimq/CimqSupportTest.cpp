// URL, parameter and value handling of the cimq tool.
#include <gtest/gtest.h>

#include "CimqSupport.h"

using namespace cimq;

TEST(CimqUrl, SchemesPortsAndHostsAndBadUrls) {
    // clang-format off
    const struct { const char* url; bool https; const char* host; unsigned port; } good[] = {
        {"http://array1", false, "array1", 5988}, {"https://10.0.0.5", true, "10.0.0.5", 5989},
        {"https://10.0.0.5:15989/cimom", true, "10.0.0.5", 15989}, {"http://[fe80::1]:5988/", false, "fe80::1", 5988}};
    // clang-format on
    for (const auto& g : good) {
        Endpoint e = parseUrl(g.url);
        EXPECT_EQ(std::make_tuple(e.https, e.host, e.port),
                  std::make_tuple(g.https, g.host, g.port))
            << g.url;
    }
    for (const char* bad : {"array1:5988", "ftp://array1", "http://", "http://:5988", "http://a:0",
                            "http://a:65536", "http://a:12x", "http://a/other", "http://[fe80::1",
                            "http://[::1]x", "http://user:pw@array1", "http://a:999999"}) {
        EXPECT_THROW(parseUrl(bad), UsageError) << bad;
    }
}

TEST(CimqParameters, TypedScalarsArraysNullsAndBadSpecs) {
    auto params =
        parseParameters({"SyncType=uint16:7", "ElementName=string:snap 1",
                         "Members=reference[]:X.K=\"1\"", "Members=reference[]:Y.K=\"a,b\"",
                         "Force=boolean:true", "Comment=string", "Empty=string:"});
    std::string got;
    for (const auto& p : params)
        got += p.getParameterName() + " " + cim::cimTypeToString(p.getValue().getType()) +
               (p.getValue().isArray() ? "[" + std::to_string(p.getValue().getArraySize()) + "]"
                                       : "") +
               (p.getValue().isNull() ? " null" : " =" + p.getValue().toString()) + "\n";
    EXPECT_EQ(got,
              "SyncType uint16 =7\nElementName string =snap 1\n"
              "Members reference[2] =X.K=\"1\",Y.K=\"a,b\"\nForce boolean =TRUE\n"
              "Comment string null\nEmpty string =\n");
    for (const char* bad :
         {"NoEquals", "=uint16:1", "1Name=uint16:1", "X=nosuchtype:1", "X=uint16:70000",
          "X=uint16:abc", "X=boolean:maybe", "X=reference:600A0B80002A1B3C0000", "X=instance:1"}) {
        EXPECT_THROW(parseParameters({bad}), UsageError) << bad;
    }
    EXPECT_THROW(parseParameters({"X=uint16:1", "X=uint16:2"}), UsageError);
    EXPECT_THROW(parseParameters({"X=uint16[]:1", "X=uint32[]:2"}), UsageError);
    // Property values follow the property's type.
    EXPECT_EQ(parsePropertyValue(cim::CIMTYPE_UINT16, true, "2,32768").getArraySize(), 2u);
    EXPECT_EQ(parsePropertyValue(cim::CIMTYPE_UINT16, true, "").getArraySize(), 0u);
    EXPECT_EQ(parsePropertyValue(cim::CIMTYPE_STRING, false, "a,b").toString(), "a,b");
    EXPECT_THROW(parsePropertyValue(cim::CIMTYPE_UINT8, false, "256"), UsageError);
    EXPECT_THROW(parsePropertyValue(cim::CIMTYPE_SINT32, true, "1,x"), UsageError);
}

TEST(CimqJson, ValuesKeepTheirJsonTypes) {
    cim::CIMObjectPath p = cim::CIMObjectPath::parse("X.K=\"a,b\"");
    using cim::CIMValue;
    // clang-format off
    const std::pair<CIMValue, const char*> cases[] = {
        {CIMValue(cim::Uint64(18446744073709551615ull)), "18446744073709551615"}, {CIMValue(cim::Sint8(-5)), "-5"},
        {CIMValue(true), "true"}, {CIMValue(std::string("x\"y")), "\"x\\\"y\""}, {CIMValue(cim::CIMTYPE_UINT32, false), "null"},
        {CIMValue(cim::Array<cim::Uint16>{2, 3}), "[2,3]"}, {CIMValue(cim::Array<cim::CIMObjectPath>{p}), "[\"X.K=\\\"a,b\\\"\"]"}};
    // clang-format on
    for (const auto& c : cases) EXPECT_EQ(toJson(c.first).dump(), c.second) << c.second;
}
