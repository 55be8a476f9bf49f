// Configuration: the default array, presets, every refusal of bad input, JSON and
// state-file round trips.
#include <cstdio>
#include <fstream>
#include <functional>
#include <set>
#include <string>

#include <unistd.h>

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

std::string tempPath(const char* name) {
    return ::testing::TempDir() + "simmodel_" + name + "_" + std::to_string(::getpid());
}

}  // namespace

TEST(SimConfig, PresetsSetPrefixNamespaceAndInquiryIdentity) {
    struct Case {
        const char* preset;
        const char* prefix;
        const char* ns;
    } cases[] = {{"LSISSI", "LSISSI", "root/LsiArray13"},
                 {"dcim", "DCIM", "root/DCIM/MDStorageArray13"},
                 {"NETAPP", "NETAPP", "root/netapp/santricity"}};
    for (const auto& k : cases) {
        json j = minimal();
        j["preset"] = k.preset;
        Config c = Config::fromJson(j);
        EXPECT_EQ(c.classPrefix, k.prefix);
        EXPECT_EQ(c.arrayNamespace, k.ns);
        EXPECT_EQ(c.arrays[0].vendor, Config::presetFor(k.preset).vendor);
    }
    json j = minimal();
    j["preset"] = "LSISSI";
    j["namespace"] = "root/custom";
    EXPECT_EQ(Config::fromJson(j).arrayNamespace, "root/custom");
    EXPECT_THROW(Config::presetFor("EMC"), ConfigError);
}

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
}

TEST(SimConfig, RefusesBadInputWithAClearMessage) {
    struct Case {
        const char* what;
        std::function<void(json&)> edit;
        const char* message;
    };
    const Case cases[] = {
        {"not an object", [](json& j) { j = json::array(); }, "expected an object"},
        {"unknown key", [](json& j) { j["colour"] = "red"; }, "config.colour: unknown setting"},
        {"typo in array", [](json& j) { j["arrays"][0]["volumez"] = json::array(); },
         "unknown setting"},
        {"no arrays", [](json& j) { j["arrays"] = json::array(); }, "at least one array"},
        {"bad preset", [](json& j) { j["preset"] = "EMC"; }, "unknown preset"},
        {"bad prefix", [](json& j) { j["classPrefix"] = "9X"; }, "classPrefix"},
        {"bad namespace", [](json& j) { j["namespace"] = "root//x"; }, "not a namespace"},
        {"namespace is interop", [](json& j) { j["namespace"] = "interop"; }, "must differ"},
        {"empty user", [](json& j) { j["user"] = ""; }, "user"},
        {"user with colon", [](json& j) { j["user"] = "a:b"; }, "user"},
        {"wrong type", [](json& j) { j["password"] = 5; }, "config.password: expected a string"},
        {"negative duration",
         [](json& j) {
             j["jobs"] = {{"durationMs", -1}};
         },
         "non-negative"},
        {"huge duration",
         [](json& j) {
             j["jobs"] = {{"durationMs", 1e15}};
         },
         "durationMs"},
        {"short array id", [](json& j) { j["arrays"][0]["id"] = "600A"; }, "32 hexadecimal"},
        {"array id not NAA 6", [](json& j) { j["arrays"][0]["id"] = std::string(32, 'A'); },
         "NAA type 6"},
        {"uuid not hex",
         [](json& j) { j["arrays"][0]["volumes"][0]["uuid"] = "6" + std::string(31, 'Z'); },
         "32 hexadecimal"},
        {"uuid not NAA 6",
         [](json& j) { j["arrays"][0]["volumes"][0]["uuid"] = std::string(32, '5'); },
         "NAA type 6"},
        {"label too long",
         [](json& j) { j["arrays"][0]["volumes"][0]["label"] = std::string(31, 'a'); }, "1 to 30"},
        {"label with space", [](json& j) { j["arrays"][0]["volumes"][0]["label"] = "a b"; },
         "1 to 30"},
        {"label with star", [](json& j) { j["arrays"][0]["volumes"][0]["label"] = "a*b"; },
         "1 to 30"},
        {"duplicate volume any case",
         [](json& j) {
             j["arrays"][0]["volumes"].push_back({{"label", "V1"}});
         },
         "duplicate volume"},
        {"unknown pool", [](json& j) { j["arrays"][0]["volumes"][0]["pool"] = "DG9"; },
         "no pool \"DG9\""},
        {"zero blocks", [](json& j) { j["arrays"][0]["volumes"][0]["blocks"] = 0; },
         "at least one block"},
        {"odd block size", [](json& j) { j["arrays"][0]["volumes"][0]["blockSize"] = 1000; },
         "power of two"},
        {"size not multiple", [](json& j) { j["arrays"][0]["volumes"][0]["sizeBytes"] = 1000; },
         "multiple"},
        {"both sizes",
         [](json& j) {
             j["arrays"][0]["volumes"][0]["sizeBytes"] = 1024;
             j["arrays"][0]["volumes"][0]["blocks"] = 2;
         },
         "not both"},
        {"overflowing size", [](json& j) { j["arrays"][0]["volumes"][0]["blocks"] = 1ULL << 62; },
         "exceeds"},
        {"bad controller", [](json& j) { j["arrays"][0]["volumes"][0]["preferredController"] = 2; },
         "controller"},
        {"three controllers",
         [](json& j) {
             j["arrays"][0]["controllers"] = json::array({{}, {}, {}});
         },
         "exactly two"},
        {"bad port", [](json& j) { j["arrays"][0]["hosts"][0]["ports"][0] = "12345"; },
         "neither a WWPN"},
        {"port twice",
         [](json& j) {
             j["arrays"][0]["hosts"].push_back({{"label", "h2"}, {"ports", {"10000090FA1B2C3D"}}});
         },
         "belongs to another host"},
        {"host same name as group",
         [](json& j) {
             j["arrays"][0]["hostGroups"] = json::array({{{"label", "H1"}}});
         },
         "duplicate host"},
        {"unknown group", [](json& j) { j["arrays"][0]["hosts"][0]["group"] = "g9"; },
         "no host group"},
        {"mapping to nobody",
         [](json& j) {
             j["arrays"][0]["mappings"] = json::array({{{"volume", "v1"}, {"to", "x"}}});
         },
         "no host or host group"},
        {"two mappings",
         [](json& j) {
             j["arrays"][0]["mappings"] =
                 json::array({{{"volume", "v1"}, {"to", "h1"}, {"lun", 1}},
                              {{"volume", "v1"}, {"to", "h1"}, {"lun", 2}}});
         },
         "at most one mapping"},
        {"lun out of range",
         [](json& j) {
             j["arrays"][0]["mappings"] =
                 json::array({{{"volume", "v1"}, {"to", "h1"}, {"lun", 256}}});
         },
         "exceeds"},
        {"pit in unknown group",
         [](json& j) {
             j["arrays"][0]["pits"] =
                 json::array({{{"group", std::string(40, '1')}, {"sequence", 1}}});
         },
         "no PiT group"},
        {"group name equals a volume",
         [](json& j) {
             j["arrays"][0]["consistencyGroups"] = json::array({{{"label", "v1"}}});
         },
         "is taken"},
        {"view without pit",
         [](json& j) {
             j["arrays"][0]["volumes"].push_back({{"label", "w"}, {"kind", "view"}});
             j["arrays"][0]["views"] = json::array({{{"volume", "w"}, {"base", "v1"}}});
         },
         "either a \"pit\""},
        {"sync with itself",
         [](json& j) {
             j["arrays"][0]["syncs"] = json::array({{{"source", "v1"}, {"target", "v1"}}});
         },
         "itself"},
        {"too many bulk volumes",
         [](json& j) {
             j["arrays"][0]["bulkVolumes"] = {{"count", 1000000}};
         },
         "exceeds"},
        {"duplicate array", [](json& j) { j["arrays"].push_back(j["arrays"][0]); }, "duplicate"},
    };
    for (const Case& c : cases) {
        json j = minimal();
        c.edit(j);
        std::string e = errorOf(j);
        EXPECT_NE(e.find(c.message), std::string::npos) << c.what << ": got \"" << e << "\"";
    }
}

TEST(SimConfig, JsonRoundTripKeepsEverything) {
    json j = json::parse(R"({
      "preset": "LSISSI", "omitPrivileges": true,
      "jobs": { "durationMs": 10, "retentionMs": 20, "vanish": true },
      "arrays": [ {
        "id": "600A0980006CE2B2000000005A1B2C3D", "password": "pw", "providerSecret": "old",
        "pools": [ { "label": "DG1" } ],
        "volumes": [ { "label": "src" }, { "label": "src2" }, { "label": "clone1", "kind": "clone" },
                     { "label": "view1", "kind": "view" }, { "label": "snap1", "kind": "snapshot" } ],
        "hostGroups": [ { "label": "g" } ],
        "hosts": [ { "label": "h", "group": "g", "ports": ["iqn.2000-01.x:h"] } ],
        "mappings": [ { "volume": "view1", "to": "g", "lun": 4 } ],
        "pitGroups": [ { "label": "src_SMIS_PG", "baseVolume": "src", "nextSequence": 3 } ],
        "consistencyGroups": [ { "label": "CG1", "members": ["src", "src2"] } ],
        "syncs": [ { "type": "volumeCopy", "source": "src", "target": "clone1" },
                   { "type": "snapshot", "source": "src", "target": "snap1" } ]
      } ] })");
    Config c = Config::fromJson(j);
    const std::string group = c.arrays[0].pitGroups[0].ref;
    json j2 = c.toJson();
    j2["arrays"][0]["pits"] = json::array({{{"group", group}, {"sequence", 1}, {"whenMicros", 5}},
                                           {{"group", group}, {"sequence", 2}}});
    j2["arrays"][0]["views"] = json::array({{{"volume", "view1"}, {"base", "src"}, {"pit", ""}}});
    // The view needs a PiT id: take the generated one of sequence 1.
    Config withPits = Config::fromJson([&] {
        json t = j2;
        t["arrays"][0].erase("views");
        return t;
    }());
    j2["arrays"][0]["views"][0]["pit"] = withPits.arrays[0].pits[0].id;
    Config full = Config::fromJson(j2);
    EXPECT_EQ(Config::fromJson(full.toJson()).toJson(), full.toJson());
    EXPECT_TRUE(full.omitPrivileges);
    EXPECT_TRUE(full.jobs.vanish);
    EXPECT_EQ(full.arrays[0].providerSecret, "old");
    EXPECT_EQ(full.arrays[0].pits.size(), 2u);
    EXPECT_EQ(full.arrays[0].syncs.size(), 2u);
}

TEST(SimConfig, SaveAndLoadFiles) {
    std::string path = tempPath("state.json");
    Config c = Config::defaults();
    c.saveState(path);
    Config back = Config::loadState(path, Config::defaults());
    EXPECT_EQ(back.toJson(), c.toJson());
    std::remove(path.c_str());

    EXPECT_THROW(Config::load(path), ConfigError);          // gone
    EXPECT_THROW(Config::load("/proc/self"), ConfigError);  // a directory
    {
        std::ofstream bad(path);
        bad << "{ \"arrays\": [";
    }
    try {
        Config::load(path);
        FAIL() << "truncated JSON accepted";
    } catch (const ConfigError& e) {
        EXPECT_NE(std::string(e.what()).find("not valid JSON"), std::string::npos);
    }
    std::remove(path.c_str());
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
