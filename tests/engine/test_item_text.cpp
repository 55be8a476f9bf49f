#include <gtest/gtest.h>

#include <string>

#include "engine/ItemText.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/LogCapture.h"

namespace {

using testsupport::FakeSnapInfo;

const char* const kRecord =
    "{hostName:10.0.0.5,hostUserName:admin,hostPassword:S3cr%t*pw,engineId:54}";

TEST(ItemText, ValueEndsAtCommaOrClosingBrace) {
    FakeSnapInfo dev;
    std::string v;
    ASSERT_TRUE(parseJsonString(&dev, "{engineId:54,hostName:alpha}", "engineId", v));
    EXPECT_EQ(v, "54");
    ASSERT_TRUE(parseJsonString(&dev, "{engineId:54,hostName:alpha}", "hostName", v));
    EXPECT_EQ(v, "alpha");
    auto lines = dev.logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "Item Name:Item Value [engineId:54]");
    EXPECT_EQ(lines[0].level, 0);
    EXPECT_EQ(lines[0].tag, "RkSnapLSI::parseJsonString");
    EXPECT_EQ(lines[1].text, "Item Name:Item Value [hostName:alpha]");
}

TEST(ItemText, ValuesAreVerbatimWithoutBraces) {
    std::string v;
    ASSERT_TRUE(parseJsonString(nullptr, "standardinqury: LSI  INF-01-00 ,version:1}",
                                "standardinqury", v));
    EXPECT_EQ(v, " LSI  INF-01-00 ");
    ASSERT_TRUE(parseJsonString(nullptr, "a:,b:2}", "a", v));
    EXPECT_EQ(v, "");
}

TEST(ItemText, EveryFailureHasItsMessage) {
    FakeSnapInfo dev;
    std::string v = "untouched";
    EXPECT_FALSE(parseJsonString(&dev, "", "engineId", v));
    EXPECT_FALSE(parseJsonString(&dev, "{a:1}", "", v));
    EXPECT_FALSE(parseJsonString(&dev, "{a:1}", "engineId", v));
    EXPECT_FALSE(parseJsonString(&dev, "{engineId 54}", "engineId", v));
    EXPECT_FALSE(parseJsonString(&dev, "{a,b:1}", "a", v));
    EXPECT_FALSE(parseJsonString(&dev, "x:1", "x", v));
    EXPECT_EQ(v, "untouched");
    auto lines = dev.logLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0].text,
              "Either the parse string or the item to search is empty. Parse string[] Item to "
              "search[engineId]");
    EXPECT_EQ(lines[1].text,
              "Either the parse string or the item to search is empty. Parse string[{a:1}] Item "
              "to search[]");
    EXPECT_EQ(lines[2].text, "The item being requested [engineId] is not in Json string [{a:1}]");
    EXPECT_EQ(lines[3].text, "Name-value separator character is not present.");
    EXPECT_EQ(lines[4].text, "No value present for item a");
    EXPECT_EQ(lines[5].text, "Item separator character is not present");
    for (const auto& l : lines) EXPECT_EQ(l.level, 0);
}

TEST(ItemText, WithoutDeviceLinesGoToTheModuleLogAtLevelTwo) {
    testsupport::LogCapture log;
    std::string v;
    EXPECT_FALSE(parseJsonString(nullptr, "{a,b:1}", "a", v));
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].tag, "RkSnapLSI::parseJsonString");
    EXPECT_EQ(lines[0].level, 2);
    EXPECT_EQ(lines[0].text, "No value present for item a");
}

TEST(ItemText, NameMatchesAsPlainSubstring) {
    std::string v;
    ASSERT_TRUE(parseJsonString(nullptr, "{hostNameX:1,hostName:2}", "hostName", v));
    EXPECT_EQ(v, "1");
}

TEST(ItemText, ValuesAreCutTo1023Characters) {
    std::string v;
    std::string big(5000, 'v');
    ASSERT_TRUE(parseJsonString(nullptr, "{k:" + big + "}", "k", v));
    EXPECT_EQ(v, std::string(1023, 'v'));
    ASSERT_TRUE(parseJsonString(nullptr, "{k:" + std::string(1023, 'w') + "}", "k", v));
    EXPECT_EQ(v.size(), 1023u);
}

TEST(ItemText, HostPasswordIsReturnedButNeverLogged) {
    FakeSnapInfo dev;
    testsupport::LogCapture log;
    std::string v;
    ASSERT_TRUE(parseJsonString(&dev, kRecord, "hostPassword", v));
    EXPECT_EQ(v, "S3cr%t*pw");
    ASSERT_TRUE(parseJsonString(nullptr, kRecord, "hostPassword", v));
    EXPECT_EQ(v, "S3cr%t*pw");
    EXPECT_TRUE(dev.logLines().empty());
    EXPECT_TRUE(log.lines().empty());
}

TEST(ItemText, PasswordNeverReachesALogThroughAnyOtherPath) {
    FakeSnapInfo dev;
    testsupport::LogCapture log;
    std::string v;
    // A shorter name that matches inside "hostPassword" yields the password value.
    ASSERT_TRUE(parseJsonString(&dev, kRecord, "Password", v));
    ASSERT_TRUE(parseJsonString(&dev, "{hostPassword:pw1,engineId:54}", "host", v));
    EXPECT_EQ(v, "pw1");
    // Failures echo the whole record.
    EXPECT_FALSE(parseJsonString(&dev, kRecord, "missingItem", v));
    EXPECT_FALSE(parseJsonString(nullptr, kRecord, "missingItem", v));
    EXPECT_FALSE(parseJsonString(&dev, "{hostPassword:a,b,c:d}", "nothere", v));
    ASSERT_TRUE(parseJsonString(&dev, kRecord, "engineId", v));
    for (const auto& l : dev.logLines()) {
        EXPECT_EQ(l.text.find("S3cr"), std::string::npos) << l.text;
        EXPECT_EQ(l.text.find("pw1"), std::string::npos) << l.text;
        EXPECT_EQ(l.text.find("a,b"), std::string::npos) << l.text;
    }
    for (const auto& l : log.lines()) EXPECT_EQ(l.text.find("S3cr"), std::string::npos) << l.text;
    EXPECT_TRUE(dev.logContains("hostPassword:****"));
    EXPECT_TRUE(dev.logContains("Item Name:Item Value [engineId:54]"));
}

TEST(ItemText, MaskingKeepsOtherItems) {
    EXPECT_EQ(rkso::maskSecretItems(kRecord),
              "{hostName:10.0.0.5,hostUserName:admin,hostPassword:****,engineId:54}");
    EXPECT_EQ(rkso::maskSecretItems("{hostPassword:a,b}"), "{hostPassword:****}");
    EXPECT_EQ(rkso::maskSecretItems("Secret:x"), "Secret:****");
    EXPECT_EQ(rkso::maskSecretItems("{a:1,b:2}"), "{a:1,b:2}");
    EXPECT_EQ(rkso::maskSecretItems(""), "");
    EXPECT_TRUE(rkso::isSecretItemName("hostPassword"));
    EXPECT_TRUE(rkso::isSecretItemName("SECRET"));
    EXPECT_FALSE(rkso::isSecretItemName("hostName"));
}

}  // namespace
