// Host texts: sized and grown buffers, record items (secrets never logged), devices, ports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <list>

#include "engine/HostBuffer.h"
#include "engine/HostBus.h"
#include "engine/ItemText.h"
#include "testsupport/FakeOSUtil.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/LogCapture.h"

namespace {

using rkso::GrowLimits;
using testsupport::FakeSnapInfo;

TEST(SizedText, SizeIsPresetAndTheTextNeverRunsPastIt) {
    std::string seen;
    auto out = rkso::readSizedText(short(1024), [&](char* buf, short* len) {
        seen = std::to_string(*len) +
               (std::all_of(buf, buf + 1024, [](char c) { return !c; }) ? " zeroed" : "");
        return std::strcpy(buf, "/dev/sdc"), 0;
    });
    EXPECT_EQ(seen + " " + out.text, "1024 zeroed /dev/sdc");
    // A host that fills every byte without a terminator is cut at the size.
    out = rkso::readSizedText(
        short(16), [](char* buf, short* len) { return std::memset(buf, 'A', size_t(*len)), 0; });
    EXPECT_EQ(out.text, std::string(16, 'A'));
    out = rkso::readSizedText(short(8), [](char*, short*) { return 1; });
    EXPECT_EQ(std::to_string(out.result) + out.text, "1");
    out = rkso::readSizedText(1023, [](char* buf, int*) { std::strcpy(buf, "v"); });
    EXPECT_EQ(out.text, "v") << "an operation without a result";
    out = rkso::readSizedText(short(0), [](char*, short*) { return ADD_FAILURE(), 0; });
    EXPECT_EQ(out.text, "");
}

// A host that needs text plus its terminator: asks for that size until given it.
std::function<int(char*, int)> needing(std::string text) {
    return [text](char* buf, int size) {
        int need = static_cast<int>(text.size()) + 1;
        if (!buf || size < need) return need;
        std::memcpy(buf, text.c_str(), static_cast<size_t>(need));
        return 0;
    };
}

TEST(GrowAndRetry, GrowsToTheSizeAskedWithinTheLimits) {
    const std::string engine = "{SnapVendorName:LSI,Capabilities:3}";
    // sizes: per call; -1 when no buffer was handed over
    // clang-format off
    struct Row {
        const char* name; GrowLimits limits; std::function<int(char*, int)> host; int result;
        std::string text; std::vector<int> sizes;
    } rows[] = {
        {"no first buffer", {0, 3, rkso::kMaxShortBuffer}, needing("a1*a2"), 0, "a1*a2", {-1, 6}},
        {"first buffer large enough", {1024, 8, rkso::kMaxShortBuffer}, needing(engine), 0, engine, {1024}},
        {"call limit", {16, 3, rkso::kMaxShortBuffer}, [](char*, int s) { return s + 10; }, 46, "", {16, 26, 36}},
        {"first size above the limit", {4096, 3, 100}, needing("abc"), 0, "abc", {100}},
        {"done before any buffer", {0, 3, 100}, [](char*, int) { return 0; }, 0, "", {-1}},
        {"size limit", {16, 5, 1000}, [](char*, int) { return 1'000'000; }, 1'000'000, "", {16}},
        {"host failure", {4096, 5, rkso::kMaxIntBuffer}, [](char*, int) { return -3; }, -3, "", {4096}},
        {"unterminated text", {8, 2, 100}, [](char* buf, int size) { return std::memset(buf, 'Z', size_t(size)), 0; }, 0, "ZZZZZZZZ", {8}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<int> sizes;
        auto out = rkso::growAndRetry(row.limits, [&](char* buf, int size) {
            sizes.push_back(buf ? size : -1);
            return row.host(buf, size);
        });
        EXPECT_EQ(out.result, row.result);
        EXPECT_EQ(out.text, row.text);
        EXPECT_EQ(sizes, row.sizes);
    }
}

const char* const kRecord =
    "{hostName:10.0.0.5,hostUserName:admin,hostPassword:S3cr%t*pw,engineId:54}";

TEST(ItemText, ValuesAndTheLineEachAnswerLogs) {
    const std::string big(5000, 'v');
    // clang-format off
    struct Row { const char* name; std::string text, item; bool ok; std::string value, line; } rows[] = {
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
        SCOPED_TRACE(row.name);
        FakeSnapInfo dev;
        std::string v = "untouched";
        EXPECT_EQ(parseJsonString(&dev, row.text, row.item.c_str(), v), row.ok);
        EXPECT_EQ(v, row.ok ? row.value : "untouched");
        EXPECT_TRUE(row.line.empty() || dev.logContains(row.line));
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

// What the mapping calls read from the host, with its answers as a host could give them.
TEST(HostBus, DeviceListSplitsOnlyBetweenDevices) {
    const std::string vm1 = "{idatype:vmware,lunuuid:600a*1,version:6}";
    const std::string vm2 = "{idatype:vmware,lunuuid:600a*2,version:6}";
    // failing: host operation made to fail or never have room
    // clang-format off
    struct Row { const char* name; std::string listed; const char* failing; bool ok; std::vector<std::string> devices; } rows[] = {
        {"plain", "/dev/sdb*/dev/sdc*/dev/sdd", nullptr, true, {"/dev/sdb", "/dev/sdc", "/dev/sdd"}},
        {"one device", "/dev/sdb", nullptr, true, {"/dev/sdb"}},
        {"VMware descriptors with '*' inside", vm1 + "*" + vm2, nullptr, true, {vm1, vm2}},
        {"empty list", "", nullptr, false, {}},
        {"host failure", "/dev/sdb", "fail", false, {}},
        {"never enough room", "/dev/sdb", "grow", false, {}},
    };
    // clang-format on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        testsupport::FakeOSUtil util;
        FakeSnapInfo info;
        util.setDevices(r.listed);
        if (r.failing && std::string(r.failing) == "fail") util.failCall("listDevices");
        if (r.failing && std::string(r.failing) == "grow") util.keepGrowing("listDevices");
        std::list<std::string> devices = {"stale"};
        EXPECT_EQ(getDeviceList(&info, devices, &util, "host", false, ""), r.ok);
        EXPECT_EQ(std::vector<std::string>(devices.begin(), devices.end()), r.devices);
    }
}

TEST(HostBus, InitiatorsOfTheKindTheHostUsesReachTheArrayInItsForm) {
    const std::string fc = std::string(1, '\0'), is = std::string(1, '\1');
    // used: queryHba's answer; text: as the array gets them
    // clang-format off
    struct Row { const char* name; std::string names, kinds; std::string used; bool usedIscsi; bool ok; std::string text; } rows[] = {
        {"FC ports", "21:00:00:24:ff:4c:aa:01,10000090fa1b2c3d", fc + fc, "21:00:00:24:ff:4c:aa:01", false, true, "21000024FF4CAA01,10000090FA1B2C3D"},
        {"FC host, iSCSI port left out", "iqn.1998-01.com.x:h1,10000090fa1b2c3d", is + fc, "10000090fa1b2c3d", false, true, "10000090FA1B2C3D"},
        {"iSCSI host", "iqn.1998-01.com.x:h1,10000090fa1b2c3d", is + fc, "iqn.1998-01.com.x:h1", true, true, "iqn.1998-01.com.x:h1"},
        {"no port of that kind", "iqn.1998-01.com.x:h1", is, "10000090fa1b2c3d", false, false, ""},
        {"no ports", "", "", "", false, false, ""},
    };
    // clang-format on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        testsupport::FakeOSUtil util;
        FakeSnapInfo info;
        util.setHbas(r.names, r.kinds, static_cast<short>(r.kinds.size()));
        util.setHba(r.used, r.usedIscsi);
        std::list<std::string> ports;
        std::string host = "host", array = "A1";
        bool iscsi = !r.usedIscsi;
        EXPECT_EQ(detectHbalist(&info, &util, ports, host, array, iscsi), r.ok);
        if (!r.ok) continue;
        EXPECT_EQ(iscsi, r.usedIscsi);
        EXPECT_EQ(convertHbaList(&info, ports, iscsi), r.text);
    }
    // A port name past 128 characters is cut before it reaches the array.
    FakeSnapInfo info;
    std::list<std::string> longPort = {std::string(200, 'a')};
    EXPECT_EQ(convertHbaList(&info, longPort, true), std::string(128, 'a'));
}

}  // namespace
