#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/UniqueId.h"
#include "testsupport/FakeSnapInfo.h"

namespace {

using testsupport::FakeSnapInfo;

struct Parsed {
    bool ok = false;
    std::vector<std::string> f;
};

// Parses with the PiT outputs (fields 9 and 10) preset to preset.
Parsed parse(FakeSnapInfo* dev, const char* text, const std::string& preset = "<unset>") {
    Parsed p;
    p.f.assign(10, "<unset>");
    p.f[8] = p.f[9] = preset;
    p.ok = parseUniqueId(dev, text, p.f[0], p.f[1], p.f[2], p.f[3], p.f[4], p.f[5], p.f[6], p.f[7],
                         p.f[8], p.f[9]);
    return p;
}

// A device whose array record names the engine.
struct Device : FakeSnapInfo {
    explicit Device(int engine = 54) {
        setArrayInfoText("{hostName:10.0.0.5,hostUserName:u,hostPassword:p,engineId:" +
                         std::to_string(engine) + "}");
    }
};

SnapUniqueIdFields fieldsOf(const std::vector<std::string>& f, bool pit = true) {
    return {f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], pit ? f[8] : "", pit ? f[9] : ""};
}

nlohmann::json samples() {
    std::ifstream in(std::string(RKSO_TEST_DATA_DIR) + "/snap_unique_ids.json");
    return nlohmann::json::parse(in);
}

TEST(UniqueId, StoredSamplesParseToTheirFieldsAndAreWrittenBackAlike) {
    const auto data = samples();
    ASSERT_GE(data["samples"].size(), 5u);
    for (const auto& s : data["samples"]) {
        SCOPED_TRACE(s["name"].get<std::string>());
        Device dev(s["engineId"].get<int>());
        const std::string text = s["text"];
        Parsed p = parse(&dev, text.c_str(), s["pitOutputs"].get<bool>() ? "<unset>" : "null");
        ASSERT_TRUE(p.ok);
        const auto fields = s["fields"].get<std::vector<std::string>>();
        EXPECT_EQ(p.f, fields);
        if (!s["roundTrip"].get<bool>()) continue;
        std::string written, error;
        const bool pit = s["engineId"].get<int>() == 54;
        ASSERT_TRUE(formatSnapUniqueId(fieldsOf(fields, pit), pit, &written, &error)) << error;
        EXPECT_EQ(written, text);
    }
    for (const auto& s : data["invalid"]) {
        SCOPED_TRACE(s["name"].get<std::string>());
        Device dev(s["engineId"].get<int>());
        const std::string text = s["text"];
        EXPECT_FALSE(
            parse(&dev, text.c_str(), s["pitOutputs"].get<bool>() ? "<unset>" : "null").ok);
        EXPECT_TRUE(dev.logContains("Invalid unique identifier " + text));
    }
    FakeSnapInfo none;
    EXPECT_FALSE(parse(&none, nullptr).ok);
}

// Identifier 1 is stored whole or not at all: no '*' or NUL in a field, 4095 chars at most.
TEST(UniqueId, WriterRefusesWhatItsReadersWouldNotTakeBackWhole) {
    // refusal: empty when written and read back whole
    struct Row {
        std::string name;
        SnapUniqueIdFields fields;
        bool pit;
        std::string refusal;
    };
    // An identifier of exactly `total` characters.
    auto ofLength = [](size_t total, bool pit) {
        SnapUniqueIdFields f{"ARRAY", "7", "svc", "SRC", "", "", "VIEW", "vpath", "PIT", "null"};
        std::string text, error;
        EXPECT_TRUE(formatSnapUniqueId(f, pit, &text, &error)) << error;
        f.sourceDevPath.assign(total - text.size(), 'p');
        return f;
    };
    const std::string tooLong = "characters long; at most 4095 can be read back";
    // clang-format off
    std::vector<Row> rows = {
        {"PiT, 4095 characters", ofLength(4095, true), true, ""},
        {"PiT, 4096 characters", ofLength(4096, true), true, tooLong},
        {"older engine, 4095 characters", ofLength(4095, false), false, ""},
        {"older engine, 4096 characters", ofLength(4096, false), false, tooLong},
        {"separator in field 4", {"A", "4", "svc", "S*X", "", "", "T", "path", "", ""}, false, "field 4 contains the separator"},
        {"separator in the last field", {"A", "4", "svc", "S", "", "", "T", "p*ath", "", ""}, false, ""},
        {"PiT: separator in field 8", {"A", "7", "svc", "S", "", "", "T", "p*ath", "P", "C"}, true, "field 8 contains"},
        {"PiT: separator in the group", {"A", "7", "svc", "S", "", "", "T", "path", "P", "C*G"}, true, ""},
        {"NUL in the array id", {std::string("A\0B", 3), "7", "svc", "S", "", "", "T", "path", "P", "C"}, true, "field 1 contains a NUL"},
    };
    // clang-format on
    const auto data = samples();
    for (const auto& s : data["unwritable"])
        rows.push_back({s["name"], fieldsOf(s["fields"]), s["engineId"].get<int>() == 54, tooLong});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Device dev(row.pit ? 54 : 12);
        EXPECT_EQ(writeSnapUniqueId(&dev, row.fields, row.pit), row.refusal.empty());
        if (row.refusal.empty()) {
            Parsed back = parse(&dev, dev.metaData(1).value_or("").c_str());
            if (!row.pit) back.f[8] = back.f[9] = "";
            const SnapUniqueIdFields& f = row.fields;
            // clang-format off
            const std::vector<std::string> want = {f.arrayId, f.snapOperation, f.servicePath, f.sourceDev,
                f.sourceDevPath, f.targetDGPath, f.targetDev, f.targetDevPath,
                row.pit ? f.pitName : "", row.pit ? f.consistencyGroupName : ""};
            // clang-format on
            EXPECT_TRUE(back.f == want) << "not read back whole";
        } else {
            EXPECT_FALSE(dev.metaData(1).has_value()) << "nothing is stored";
            EXPECT_TRUE(dev.logContains("Cannot build unique identifier: ")) << row.refusal;
            EXPECT_TRUE(dev.logContains(row.refusal)) << row.refusal;
        }
    }
    FakeSnapInfo failing;
    failing.failCall("setMetaData");
    EXPECT_FALSE(writeSnapUniqueId(&failing, rows[0].fields, false));
    EXPECT_TRUE(failing.logContains("Failed to set metadata [id : 1]"));
    EXPECT_FALSE(writeSnapUniqueId(nullptr, rows[0].fields, false));
}

}  // namespace
