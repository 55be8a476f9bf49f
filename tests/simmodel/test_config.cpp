// Configuration: every refusal of bad input names the setting at fault.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "sim/Config.h"

using nlohmann::json;
using sim::Config;
using sim::ConfigError;

TEST(SimConfig, RefusesBadInputWithAClearMessage) {
    const json minimal = json::parse(R"({ "arrays": [ { "id": "600A0980006CE2B2000000005A1B2C3D",
        "pools": [ { "label": "DG1" } ], "volumes": [ { "label": "v1", "pool": "DG1" } ],
        "hosts": [ { "label": "h1", "ports": ["10:00:00:90:fa:1b:2c:3d"] } ] } ] })");
    // Edits are a JSON pointer and its new value.
    struct Row {
        const char* what;
        std::vector<std::pair<std::string, json>> edits;
        const char* message;
    };
    const std::string v = "/arrays/0/volumes/0/", a = "/arrays/0/";
    // clang-format off
    const Row rows[] = {
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
        {"duplicate array", {{"/arrays/-", minimal["arrays"][0]}}, "duplicate"},
    };
    // clang-format on
    for (const Row& row : rows) {
        json j = minimal;
        for (const auto& [pointer, value] : row.edits) j[json::json_pointer(pointer)] = value;
        try {
            Config::fromJson(j);
            ADD_FAILURE() << row.what << ": accepted";
        } catch (const ConfigError& e) {
            EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos)
                << row.what << ": got \"" << e.what() << "\"";
        }
    }
}
