#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/Globals.h"
#include "engine/UniqueId.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/LogCapture.h"

namespace {

using testsupport::FakeSnapInfo;

struct Parsed {
    bool ok = false;
    std::vector<std::string> f;
};

// Parses with outputs 9 and 10 preset to pit9/pit10.
Parsed parse(FakeSnapInfo* dev, const char* text, const std::string& pit9 = "<unset>",
             const std::string& pit10 = "<unset>") {
    Parsed p;
    p.f.assign(10, "<unset>");
    p.f[8] = pit9;
    p.f[9] = pit10;
    p.ok = parseUniqueId(dev, text, p.f[0], p.f[1], p.f[2], p.f[3], p.f[4], p.f[5], p.f[6], p.f[7],
                         p.f[8], p.f[9]);
    return p;
}

std::string engineRecord(int engine) {
    return "{hostName:10.0.0.5,hostUserName:u,hostPassword:p,engineId:" + std::to_string(engine) +
           "}";
}

nlohmann::json samples() {
    std::ifstream in(std::string(RKSO_TEST_DATA_DIR) + "/snap_unique_ids.json");
    return nlohmann::json::parse(in);
}

TEST(UniqueId, StoredSamplesKeepParsingToTheSameFields) {
    auto data = samples();
    ASSERT_GE(data["samples"].size(), 5u);
    for (const auto& s : data["samples"]) {
        SCOPED_TRACE(s["name"].get<std::string>());
        FakeSnapInfo dev;
        dev.setArrayInfoText(engineRecord(s["engineId"].get<int>()));
        std::string preset = s["pitOutputs"].get<bool>() ? "<unset>" : "null";
        Parsed p = parse(&dev, s["text"].get<std::string>().c_str(), preset, preset);
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.f, s["fields"].get<std::vector<std::string>>());
    }
}

TEST(UniqueId, WriterReproducesTheStoredSamples) {
    const auto data = samples();
    for (const auto& s : data["samples"]) {
        if (!s["roundTrip"].get<bool>()) continue;
        SCOPED_TRACE(s["name"].get<std::string>());
        auto f = s["fields"].get<std::vector<std::string>>();
        bool pit = s["engineId"].get<int>() == 54;
        SnapUniqueIdFields fields{
            f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], pit ? f[8] : "", pit ? f[9] : ""};
        std::string text, error;
        ASSERT_TRUE(formatSnapUniqueId(fields, pit, &text, &error)) << error;
        EXPECT_EQ(text, s["text"].get<std::string>());
    }
}

TEST(UniqueId, StoredInvalidSamplesAreRejected) {
    const auto data = samples();
    for (const auto& s : data["invalid"]) {
        SCOPED_TRACE(s["name"].get<std::string>());
        FakeSnapInfo dev;
        dev.setArrayInfoText(engineRecord(s["engineId"].get<int>()));
        std::string preset = s["pitOutputs"].get<bool>() ? "<unset>" : "null";
        Parsed p = parse(&dev, s["text"].get<std::string>().c_str(), preset, preset);
        EXPECT_FALSE(p.ok);
        EXPECT_TRUE(dev.logContains("Invalid unique identifier " + s["text"].get<std::string>()));
    }
}

TEST(UniqueId, NonPitIdentifierKeepsEveryStarOfTheLastField) {
    FakeSnapInfo dev;
    dev.setArrayInfoText(engineRecord(12));
    Parsed p = parse(&dev, "A*4*svc*SRC*spath*dg*TGT*a*b*c");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.f[7], "a*b*c");
    EXPECT_EQ(p.f[8], "<unset>");
    EXPECT_EQ(p.f[9], "<unset>");
}

TEST(UniqueId, PitIdentifierWithEightSeparatorsLeavesTheGroupUnchanged) {
    FakeSnapInfo dev;
    dev.setArrayInfoText(engineRecord(54));
    Parsed p = parse(&dev, "A*7*svc*SRC*spath*dg*TGT*tpath*PIT*x", "want", "previous");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.f[8], "PIT");
    EXPECT_EQ(p.f[9], "x");
    p = parse(&dev, "A*7*svc*SRC*spath*dg*TGT*tpath*PIT", "want", "previous");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.f[7], "tpath");
    EXPECT_EQ(p.f[8], "PIT");
    EXPECT_EQ(p.f[9], "previous");
}

TEST(UniqueId, SevenSeparatorsAreRejectedForPitUnlessThePitFieldsAreNotWanted) {
    FakeSnapInfo dev;
    dev.setArrayInfoText(engineRecord(54));
    const char* text = "A*7*svc*SRC*spath*dg*TGT*tpath";
    EXPECT_FALSE(parse(&dev, text, "want").ok);
    auto lines = dev.logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().text, std::string("Invalid unique identifier ") + text);
    EXPECT_EQ(lines.back().level, 2);
    EXPECT_EQ(lines.back().tag, "RkSnapLSI::parseUniqueId");

    std::string f[8];
    ASSERT_TRUE(parseUniqueId(&dev, text, f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], tempArg,
                              tempArg));
    EXPECT_EQ(f[7], "tpath");
    EXPECT_EQ(tempArg, "null") << "the module string is never written";
}

TEST(UniqueId, EmptyFieldsParseAsEmptyTexts) {
    FakeSnapInfo dev;
    dev.setArrayInfoText(engineRecord(54));
    Parsed p = parse(&dev, "A*7***spath**null*null*PIT*null", "want");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.f, (std::vector<std::string>{"A", "7", "", "", "spath", "", "null", "null", "PIT",
                                             "null"}));
}

TEST(UniqueId, NullTextFailsSilently) {
    FakeSnapInfo dev;
    EXPECT_FALSE(parse(&dev, nullptr).ok);
    for (const auto& l : dev.logLines()) EXPECT_EQ(l.text.find("Invalid"), std::string::npos);
}

TEST(UniqueId, SuccessLogsTheFieldsAtDetailLevel) {
    FakeSnapInfo dev;
    dev.setArrayInfoText(engineRecord(54));
    ASSERT_TRUE(parse(&dev, "A*7*svc*SRC*spath*dg*TGT*tpath*PIT*CG", "want").ok);
    EXPECT_EQ(dev.logLines().back().text,
              " arrayId = A, snapOp = 7, snapServicePath = svc, srcDev = SRC, srcDevPath = spath "
              "targetDev = TGT, pitFName = PIT, consistencyGroup Name = CG");
    EXPECT_EQ(dev.logLines().back().level, 0);

    FakeSnapInfo old;
    old.setArrayInfoText(engineRecord(3));
    ASSERT_TRUE(parse(&old, "A*4*svc*SRC*spath*dg*TGT*tpath", "x", "y").ok);
    EXPECT_EQ(old.logLines().back().text,
              " arrayId = A, snapOp = 4, snapServicePath = svc, srcDev = SRC, srcDevPath = spath "
              "targetDev = TGT, pitFName = EMPTY, consistencyGroup Name = y");
}

TEST(UniqueId, WriterStoresMetadataOneInEitherLayout) {
    FakeSnapInfo dev;
    SnapUniqueIdFields f{"A", "7", "svc", "SRC", "spath", "", "null", "null", "PIT", "null"};
    ASSERT_TRUE(writeSnapUniqueId(&dev, f, true));
    EXPECT_EQ(dev.metaData(1).value_or("<none>"), "A*7*svc*SRC*spath**null*null*PIT*null");
    ASSERT_TRUE(writeSnapUniqueId(&dev, f, false));
    EXPECT_EQ(dev.metaData(1).value_or("<none>"), "A*7*svc*SRC*spath**null*null");
}

TEST(UniqueId, WriterReportsAFailedMetadataWrite) {
    FakeSnapInfo dev;
    dev.failCall("setMetaData");
    SnapUniqueIdFields f{"A", "4", "", "S", "", "", "T", "", "", ""};
    EXPECT_FALSE(writeSnapUniqueId(&dev, f, false));
    EXPECT_TRUE(dev.logContains("Failed to set metadata [id : 1]"));
    EXPECT_EQ(dev.logLines().back().level, 2);
    EXPECT_FALSE(writeSnapUniqueId(nullptr, f, false));
}

TEST(UniqueId, WriterRefusesFieldsThatWouldShiftTheLayout) {
    std::string text, error;
    SnapUniqueIdFields f{"A", "4", "svc", "S*X", "", "", "T", "p*ath", "", ""};
    EXPECT_FALSE(formatSnapUniqueId(f, false, &text, &error));
    EXPECT_NE(error.find("field 4"), std::string::npos);
    f.sourceDev = "S";
    ASSERT_TRUE(formatSnapUniqueId(f, false, &text, &error)) << "the last field may hold '*'";
    f.pitName = "P";
    f.consistencyGroupName = "C";
    EXPECT_FALSE(formatSnapUniqueId(f, true, &text, &error)) << "field 8 is not last for PiT";
    f.targetDevPath = "path";
    f.consistencyGroupName = "C*G";
    ASSERT_TRUE(formatSnapUniqueId(f, true, &text, &error));
    f.arrayId = std::string("A\0B", 3);
    EXPECT_FALSE(formatSnapUniqueId(f, true, &text, &error));
    FakeSnapInfo dev;
    EXPECT_FALSE(writeSnapUniqueId(&dev, f, true));
    EXPECT_FALSE(dev.metaData(1).has_value());
}

// The readers take back at most 4095 characters: the writer refuses anything
// longer, so that no stored identifier loses its last fields.
TEST(UniqueId, WriterRefusesWhatItsReadersWouldCut) {
    struct Row {
        std::string name;
        SnapUniqueIdFields fields;
        bool pit;
        bool accepted;
    };
    // A PiT (or older-engine) identifier of exactly `total` characters.
    auto ofLength = [](size_t total, bool pit) {
        SnapUniqueIdFields f{"ARRAY", "7", "svc", "SRC", "", "", "VIEW", "vpath", "PIT", "null"};
        std::string text, error;
        EXPECT_TRUE(formatSnapUniqueId(f, pit, &text, &error)) << error;
        f.sourceDevPath.assign(total - text.size(), 'p');
        return f;
    };
    std::vector<Row> rows = {
        {"PiT, 4095 characters", ofLength(4095, true), true, true},
        {"PiT, 4096 characters", ofLength(4096, true), true, false},
        {"older engine, 4095 characters", ofLength(4095, false), false, true},
        {"older engine, 4096 characters", ofLength(4096, false), false, false},
    };
    const auto data = samples();
    for (const auto& s : data["unwritable"]) {
        auto f = s["fields"].get<std::vector<std::string>>();
        rows.push_back({s["name"].get<std::string>(),
                        {f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9]},
                        s["engineId"].get<int>() == 54,
                        false});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSnapInfo dev;
        dev.setArrayInfoText(engineRecord(row.pit ? 54 : 12));
        EXPECT_EQ(writeSnapUniqueId(&dev, row.fields, row.pit), row.accepted);
        if (row.accepted) {
            EXPECT_EQ(getSnapDeviceUUID(&dev), row.fields.targetDev) << "read back whole";
            EXPECT_EQ(getStorageArrayId(&dev), row.fields.arrayId);
        } else {
            EXPECT_FALSE(dev.metaData(1).has_value()) << "nothing is stored";
            EXPECT_TRUE(dev.logContains("Cannot build unique identifier: the identifier is "));
            EXPECT_TRUE(dev.logContains("characters long; at most 4095 can be read back"));
        }
    }
}

TEST(UniqueId, StorageArrayIdIsFieldOne) {
    FakeSnapInfo dev;
    dev.setArrayInfoText(engineRecord(54));
    dev.setMetaDataText(1, "600A0B80*7*svc*SRC*spath*dg*null*null*PIT*null");
    EXPECT_EQ(getStorageArrayId(&dev), "600A0B80");

    FakeSnapInfo empty;
    EXPECT_EQ(getStorageArrayId(&empty), "");
    EXPECT_TRUE(empty.logContains("Failed to parse unique  identifier []"));
    EXPECT_EQ(getStorageArrayId(nullptr), "");
}

TEST(UniqueId, SnapDeviceUuidIsFieldSevenExceptAPitWithoutView) {
    FakeSnapInfo pit;
    pit.setArrayInfoText(engineRecord(54));
    pit.setMetaDataText(1, "A*7*svc*SRC*spath*dg*null*null*PIT*null");
    EXPECT_EQ(getSnapDeviceUUID(&pit), "");
    pit.setMetaDataText(1, "A*7*svc*SRC*spath*dg*VIEWUUID*vpath*PIT*null");
    EXPECT_EQ(getSnapDeviceUUID(&pit), "VIEWUUID");

    FakeSnapInfo old;
    old.setArrayInfoText(engineRecord(3));
    old.setMetaDataText(1, "A*4*svc*SRC*spath*dg*null*tpath");
    EXPECT_EQ(getSnapDeviceUUID(&old), "null");

    FakeSnapInfo bad;
    bad.setMetaDataText(1, "A*4");
    EXPECT_EQ(getSnapDeviceUUID(&bad), "");
    EXPECT_TRUE(bad.logContains(
        "RkSnapLSIAPI::getSnapDeviceUUID: Failed to parse unique  identifier [A*4]"));
}

TEST(UniqueId, HostIdentifierComesFromTheHostForVmwareDevices) {
    FakeSnapInfo dev;
    dev.setDevicePathValue("{vmware-descriptor:x}");
    dev.setHostIdValue("esx-host-7");
    std::string id;
    ASSERT_TRUE(getHostIdentifier(&dev, id));
    EXPECT_EQ(id, "esx-host-7");

    FakeSnapInfo failing;
    failing.setDevicePathValue("/vmfs/vmware/disk");
    failing.failCall("getHostId");
    id = "kept";
    EXPECT_FALSE(getHostIdentifier(&failing, id));
    EXPECT_EQ(id, "kept");
    EXPECT_TRUE(failing.logContains(
        "Error: RKSOLSIAPI::getHostIdentifier Unable to get the host identifier"));

    FakeSnapInfo empty;
    empty.setDevicePathValue("vmware");
    empty.setHostIdValue("");
    EXPECT_FALSE(getHostIdentifier(&empty, id));
}

TEST(UniqueId, HostIdentifierIsTheMachineNameOtherwise) {
    FakeSnapInfo dev;
    dev.setDevicePathValue("/dev/sdc");
    char name[1024] = {};
    ASSERT_EQ(gethostname(name, sizeof name - 1), 0);
    std::string id;
    ASSERT_TRUE(getHostIdentifier(&dev, id));
    EXPECT_EQ(id, name);
    EXPECT_FALSE(dev.called("getHostId"));
    EXPECT_FALSE(getHostIdentifier(nullptr, id));
}

}  // namespace
