#include <gtest/gtest.h>

#include <string>

#include "engine/ItemText.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/LogCapture.h"

namespace {

using testsupport::FakeSnapInfo;

const char* const kRecord =
    "{hostName:10.0.0.5,hostUserName:admin,hostPassword:S3cr%t*pw,engineId:54}";

TEST(ItemText, ValuesAndTheLineEachAnswerLogs) {
    const std::string big(5000, 'v');
    // clang-format off
    struct Row {
        const char* name;
        std::string text, item;
        bool ok;
        std::string value, line;
    } rows[] = {
        {"before a comma", "{engineId:54,hostName:alpha}", "engineId", true, "54", "Item Name:Item Value [engineId:54]"},
        {"before the brace", "{engineId:54,hostName:alpha}", "hostName", true, "alpha", "Item Name:Item Value [hostName:alpha]"},
        {"verbatim, no braces", "standardinqury: LSI  INF-01-00 ,version:1}", "standardinqury", true, " LSI  INF-01-00 ", ""},
        {"empty value", "a:,b:2}", "a", true, "", ""},
        {"plain substring", "{hostNameX:1,hostName:2}", "hostName", true, "1", ""},
        {"cut to 1023", "{k:" + big + "}", "k", true, std::string(1023, 'v'), ""},
        {"exactly 1023", "{k:" + big.substr(0, 1023) + "}", "k", true, big.substr(0, 1023), ""},
        {"empty text", "", "engineId", false, "", "Either the parse string or the item to search is empty. Parse string[] Item to search[engineId]"},
        {"empty item", "{a:1}", "", false, "", "Either the parse string or the item to search is empty. Parse string[{a:1}] Item to search[]"},
        {"missing item", "{a:1}", "engineId", false, "", "The item being requested [engineId] is not in Json string [{a:1}]"},
        {"no colon", "{engineId 54}", "engineId", false, "", "Name-value separator character is not present."},
        {"no value", "{a,b:1}", "a", false, "", "No value present for item a"},
        {"no end", "x:1", "x", false, "", "Item separator character is not present"},
    };
    // clang-format on
    for (const Row& row : rows) {
        FakeSnapInfo dev;
        std::string v = "untouched";
        EXPECT_EQ(parseJsonString(&dev, row.text, row.item.c_str(), v), row.ok) << row.name;
        EXPECT_EQ(v, row.ok ? row.value : "untouched") << row.name;
        EXPECT_TRUE(row.line.empty() || dev.logContains(row.line)) << row.name;
    }
    // Without a device the line goes to the module log.
    testsupport::LogCapture log;
    std::string v;
    EXPECT_FALSE(parseJsonString(nullptr, "{a,b:1}", "a", v));
    EXPECT_TRUE(log.contains("No value present for item a"));
}

TEST(ItemText, APasswordIsReturnedButNeverLogged) {
    FakeSnapInfo dev;
    testsupport::LogCapture log;
    std::string v;
    ASSERT_TRUE(parseJsonString(&dev, kRecord, "hostPassword", v));
    EXPECT_EQ(v, "S3cr%t*pw");
    ASSERT_TRUE(parseJsonString(nullptr, kRecord, "hostPassword", v));
    EXPECT_TRUE(dev.logLines().empty());
    // A shorter name that matches inside "hostPassword" yields the password value.
    ASSERT_TRUE(parseJsonString(&dev, kRecord, "Password", v));
    ASSERT_TRUE(parseJsonString(&dev, "{hostPassword:pw1,engineId:54}", "host", v));
    EXPECT_EQ(v, "pw1");
    // Failures echo the whole record.
    EXPECT_FALSE(parseJsonString(&dev, kRecord, "missingItem", v));
    EXPECT_FALSE(parseJsonString(nullptr, kRecord, "missingItem", v));
    EXPECT_FALSE(parseJsonString(&dev, "{hostPassword:a,b,c:d}", "nothere", v));
    ASSERT_TRUE(parseJsonString(&dev, kRecord, "engineId", v));
    for (const auto& l : dev.logLines())
        for (const char* secret : {"S3cr", "pw1", "a,b"})
            EXPECT_EQ(l.text.find(secret), std::string::npos) << l.text;
    for (const auto& l : log.lines()) EXPECT_EQ(l.text.find("S3cr"), std::string::npos) << l.text;
    EXPECT_TRUE(dev.logContains("hostPassword:****"));
    EXPECT_TRUE(dev.logContains("Item Name:Item Value [engineId:54]"));

    EXPECT_EQ(rkso::maskSecretItems(kRecord),
              "{hostName:10.0.0.5,hostUserName:admin,hostPassword:****,engineId:54}");
    EXPECT_EQ(rkso::maskSecretItems("{hostPassword:a,b}"), "{hostPassword:****}");
    EXPECT_EQ(rkso::maskSecretItems("SECRET:x"), "SECRET:****");
    EXPECT_EQ(rkso::maskSecretItems("{a:1,b:2}"), "{a:1,b:2}");
}

}  // namespace
