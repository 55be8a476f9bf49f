// Configuration: the default array, presets, every refusal of bad input, the JSON
// round trip.
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "sim/Config.h"

using nlohmann::json;
using sim::Config;
using sim::ConfigError;

namespace {

json minimal() {
    return json::parse(R"({
      "arrays": [ {
        "id": "600A0980006CE2B2000000005A1B2C3D",
        "pools": [ { "label": "DG1" } ],
        "volumes": [ { "label": "v1", "pool": "DG1" } ],
        "hosts": [ { "label": "h1", "ports": ["10:00:00:90:fa:1b:2c:3d"] } ]
      } ] })");
}

std::string errorOf(const json& j) {
    try {
        Config::fromJson(j);
    } catch (const ConfigError& e) {
        return e.what();
    }
    return "<accepted>";
}

}  // namespace

TEST(SimConfig, NormalisesIdentitiesAndFillsDefaults) {
    json j = minimal();
    j["arrays"][0]["id"] = "600a0980006ce2b2000000005a1b2c3d";
    j["arrays"][0]["hosts"][0]["ports"].push_back("IQN.1994-05.com.Example:h1");
    Config c = Config::fromJson(j);
    const sim::Array& a = c.arrays[0];
    EXPECT_EQ(a.id, "600A0980006CE2B2000000005A1B2C3D");
    EXPECT_EQ(a.hosts[0].ports[0].id, "10000090FA1B2C3D");
    EXPECT_EQ(a.hosts[0].ports[1].id, "iqn.1994-05.com.example:h1");
    EXPECT_EQ(a.hosts[0].ref.size(), 40u);
    EXPECT_NE(a.controllers[0].name, a.controllers[1].name);
    EXPECT_EQ(a.controllers[0].name.find(a.id), std::string::npos);
    // Generated ids are stable from one load to the next.
    EXPECT_EQ(Config::fromJson(j).arrays[0].volumes[0].uuid, a.volumes[0].uuid);
    // A namespace of one's own wins over the preset's.
    j["preset"] = "lsissi";
    j["namespace"] = "root/custom";
    const Config preset = Config::fromJson(j);
    EXPECT_EQ(preset.classPrefix + " " + preset.arrayNamespace, "LSISSI root/custom");
}

TEST(SimConfig, RefusesBadInputWithAClearMessage) {
    struct Row {
        const char* what;
        std::vector<std::pair<std::string, json>> edits;  // JSON pointer, new value
        const char* message;
    };
    const std::string v = "/arrays/0/volumes/0/", a = "/arrays/0/";
    const Row rows[] = {
        // clang-format off
        {"not an object", {{"", json::array()}}, "expected an object"},
        {"unknown key", {{"/colour", "red"}}, "config.colour: unknown setting"},
        {"typo in array", {{a + "volumez", json::array()}}, "unknown setting"},
        {"no arrays", {{"/arrays", json::array()}}, "at least one array"},
        {"bad preset", {{"/preset", "EMC"}}, "unknown preset"},
        {"bad prefix", {{"/classPrefix", "9X"}}, "classPrefix"},
        {"bad namespace", {{"/namespace", "root//x"}}, "not a namespace"},
        {"namespace is interop", {{"/namespace", "interop"}}, "must differ"},
        {"empty user", {{"/user", ""}}, "user"},
        {"user with colon", {{"/user", "a:b"}}, "user"},
        {"wrong type", {{"/password", 5}}, "config.password: expected a string"},
        {"negative duration", {{"/jobs", {{"durationMs", -1}}}}, "non-negative"},
        {"huge duration", {{"/jobs", {{"durationMs", 1e15}}}}, "durationMs"},
        {"short array id", {{a + "id", "600A"}}, "32 hexadecimal"},
        {"array id not NAA 6", {{a + "id", std::string(32, 'A')}}, "NAA type 6"},
        {"uuid not hex", {{v + "uuid", "6" + std::string(31, 'Z')}}, "32 hexadecimal"},
        {"uuid not NAA 6", {{v + "uuid", std::string(32, '5')}}, "NAA type 6"},
        {"label too long", {{v + "label", std::string(31, 'a')}}, "1 to 30"},
        {"label with space", {{v + "label", "a b"}}, "1 to 30"},
        {"label with star", {{v + "label", "a*b"}}, "1 to 30"},
        {"duplicate volume any case", {{a + "volumes/-", {{"label", "V1"}}}}, "duplicate volume"},
        {"unknown pool", {{v + "pool", "DG9"}}, "no pool \"DG9\""},
        {"zero blocks", {{v + "blocks", 0}}, "at least one block"},
        {"odd block size", {{v + "blockSize", 1000}}, "power of two"},
        {"size not multiple", {{v + "sizeBytes", 1000}}, "multiple"},
        {"both sizes", {{v + "sizeBytes", 1024}, {v + "blocks", 2}}, "not both"},
        {"overflowing size", {{v + "blocks", 1ULL << 62}}, "exceeds"},
        {"bad controller", {{v + "preferredController", 2}}, "controller"},
        {"three controllers", {{a + "controllers", json::array({{}, {}, {}})}}, "exactly two"},
        {"bad port", {{a + "hosts/0/ports/0", "12345"}}, "neither a WWPN"},
        {"port twice", {{a + "hosts/-", {{"label", "h2"}, {"ports", {"10000090FA1B2C3D"}}}}}, "belongs to another host"},
        {"host same name as group", {{a + "hostGroups", json::array({{{"label", "H1"}}})}}, "duplicate host"},
        {"unknown group", {{a + "hosts/0/group", "g9"}}, "no host group"},
        {"mapping to nobody", {{a + "mappings", json::array({{{"volume", "v1"}, {"to", "x"}}})}}, "no host or host group"},
        {"two mappings", {{a + "mappings", json::array({{{"volume", "v1"}, {"to", "h1"}, {"lun", 1}}, {{"volume", "v1"}, {"to", "h1"}, {"lun", 2}}})}}, "at most one mapping"},
        {"lun out of range", {{a + "mappings", json::array({{{"volume", "v1"}, {"to", "h1"}, {"lun", 256}}})}}, "exceeds"},
        {"pit in unknown group", {{a + "pits", json::array({{{"group", std::string(40, '1')}, {"sequence", 1}}})}}, "no PiT group"},
        {"group name equals a volume", {{a + "consistencyGroups", json::array({{{"label", "v1"}}})}}, "is taken"},
        {"view without pit", {{a + "volumes/-", {{"label", "w"}, {"kind", "view"}}}, {a + "views", json::array({{{"volume", "w"}, {"base", "v1"}}})}}, "either a \"pit\""},
        {"sync with itself", {{a + "syncs", json::array({{{"source", "v1"}, {"target", "v1"}}})}}, "itself"},
        {"too many bulk volumes", {{a + "bulkVolumes", {{"count", 1000000}}}}, "exceeds"},
        {"duplicate array", {{"/arrays/-", minimal()["arrays"][0]}}, "duplicate"},
        // clang-format on
    };
    for (const Row& row : rows) {
        json j = minimal();
        for (const auto& [pointer, value] : row.edits) j[json::json_pointer(pointer)] = value;
        std::string e = errorOf(j);
        EXPECT_NE(e.find(row.message), std::string::npos) << row.what << ": got \"" << e << "\"";
    }
}

// The objects of an array round-trip through the state file (see the every-method
// test); here the settings only a configuration carries.
TEST(SimConfig, JsonRoundTripKeepsTheSettings) {
    json j = minimal();
    j["preset"] = "LSISSI";
    j["omitPrivileges"] = true;
    j["jobs"] = {{"durationMs", 10}, {"retentionMs", 20}, {"vanish", true}};
    j["arrays"][0]["providerSecret"] = "old";
    const json out = Config::fromJson(j).toJson();
    EXPECT_EQ(Config::fromJson(out).toJson(), out);
    EXPECT_EQ(out["omitPrivileges"], true);
    EXPECT_EQ(out["jobs"]["vanish"], true);
    EXPECT_EQ(out["jobs"]["retentionMs"], 20);
    EXPECT_EQ(out["arrays"][0]["providerSecret"], "old");
}

TEST(SimConfig, BulkVolumesDescribeALargeArray) {
    json j = minimal();
    j["arrays"][0]["bulkVolumes"] = {{"count", 10000}, {"labelPrefix", "b_"}, {"blocks", 2048}};
    Config c = Config::fromJson(j);
    ASSERT_EQ(c.arrays[0].volumes.size(), 10001u);
    std::set<std::string> uuids;
    for (const auto& v : c.arrays[0].volumes) uuids.insert(v.uuid);
    EXPECT_EQ(uuids.size(), 10001u);
    EXPECT_EQ(c.arrays[0].volumes.back().label, "b_9999");
}
