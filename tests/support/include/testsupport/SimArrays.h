// Simulated arrays shared by the simulator's tests (model, server and binary).
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include <sim/Config.h>

namespace testsupport {

// An array with one of everything the copy services leave behind.
inline sim::Config richConfig(const std::string& preset = "NETAPP") {
    using nlohmann::json;
    json j = json::parse(R"({
      "arrays": [ {
        "id": "600A0980006CE2B2000000005A1B2C3D", "password": "pw",
        "pools": [ { "label": "DG1" }, { "label": "DG2" } ],
        "volumes": [ { "label": "src1", "pool": "DG1" }, { "label": "src2", "pool": "DG2" },
                     { "label": "clone1", "kind": "clone" }, { "label": "snap1", "kind": "snapshot" },
                     { "label": "view1", "kind": "view" },
                     { "label": "mv1", "kind": "view" }, { "label": "mv2", "kind": "view" } ],
        "hostGroups": [ { "label": "grp" } ],
        "hosts": [ { "label": "fc1", "group": "grp", "ports": ["10000090FA000001"] },
                   { "label": "is1", "ports": ["iqn.2001-04.com.example:is1"] } ],
        "mappings": [ { "volume": "view1", "to": "fc1", "lun": 7 }, { "volume": "src2", "to": "grp", "lun": 3 } ],
        "pitGroups": [ { "label": "src1_SMIS_PG", "baseVolume": "src1", "nextSequence": 3 } ],
        "consistencyGroups": [ { "label": "1A_2", "members": ["src1", "src2"] } ],
        "syncs": [ { "type": "volumeCopy", "source": "src1", "target": "clone1" },
                   { "type": "snapshot", "source": "src2", "target": "snap1" } ]
      } ] })");
    j["preset"] = preset;
    json& a = j["arrays"][0];
    const std::string id = a["id"], group = sim::makeRef(id + ":pitgroup:src1_SMIS_PG");
    const std::string cg = sim::makeRef(id + ":cg:1A_2"),
                      cgView = sim::makeRef(id + ":cgview:cgview1");
    a["pits"] = json::array({{{"group", group}, {"sequence", 1}, {"whenMicros", 1000}},
                             {{"group", group}, {"sequence", 2}, {"whenMicros", 2000}}});
    a["cgPits"] = json::array({{{"group", cg}, {"sequence", 1}, {"whenMicros", 3000}}});
    const sim::Config withPits = sim::Config::fromJson(j);  // for the derived PiT ids
    a["cgPitViews"] = json::array({{{"label", "cgview1"},
                                    {"cgPit", withPits.arrays[0].cgPits[0].id},
                                    {"memberViews", {"mv1", "mv2"}}}});
    a["views"] = json::array(
        {{{"volume", "view1"}, {"base", "src1"}, {"pit", withPits.arrays[0].pits[0].id}},
         {{"volume", "mv1"}, {"base", "src1"}, {"cgView", cgView}},
         {{"volume", "mv2"}, {"base", "src2"}, {"cgView", cgView}}});
    return sim::Config::fromJson(j);
}

}  // namespace testsupport
