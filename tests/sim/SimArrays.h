// The default array plus PiTs, views and consistency groups in the states the rules are about.
#pragma once

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/Config.h"

namespace simtest {

// ora_data1_SMIS_PG: PiTs 1 (viewed by ora_data1_V1) and 2; ora_log's group is full (32 PiTs);
// exch_log has four groups; file_share's current owner is not its preferred one. cg1 (ora_data2,
// exch_db) has one CG PiT, cgfull 32, cgempty no member. DG3: a full pool holding tiny_vol.
inline sim::Config richArray(const std::function<void(nlohmann::json&)>& edit = nullptr) {
    nlohmann::json j = sim::Config::defaults().toJson();
    nlohmann::json& a = j["arrays"][0];
    a["pools"].push_back({{"label", "DG3"}, {"capacityBytes", 1073741824}});
    a["volumes"].push_back({{"label", "tiny_vol"}, {"pool", "DG3"}, {"sizeBytes", 1073741824}});
    a["volumes"].push_back(
        {{"label", "ora_data1_V1"}, {"kind", "view"}, {"sizeBytes", 107374182400}});
    for (auto& v : a["volumes"])
        if (v["label"] == "file_share") v["currentController"] = 0;  // preferred: 1
    auto group = [&](const std::string& label, const std::string& base) {
        std::string ref = sim::makeRef("test:" + label);
        a["pitGroups"].push_back({{"label", label},
                                  {"baseVolume", base},
                                  {"ref", ref},
                                  {"repositoryBytes", 1073741824},
                                  {"nextSequence", 40}});
        return ref;
    };
    const std::string g1 = group("ora_data1_SMIS_PG", "ora_data1");
    a["pits"].push_back({{"group", g1}, {"sequence", 1}, {"whenMicros", 1000}});
    a["pits"].push_back({{"group", g1}, {"sequence", 2}, {"whenMicros", 2000}});
    const std::string full = group("ora_log_SMIS_PG", "ora_log");
    for (int i = 1; i <= 32; ++i)
        a["pits"].push_back({{"group", full}, {"sequence", i}, {"whenMicros", 3000 + i}});
    for (int i = 1; i <= 4; ++i) group("exch_log_" + std::to_string(i), "exch_log");
    a["pits"].push_back({{"group", group("file_share_SMIS_PG", "file_share")}, {"sequence", 1}});
    sim::Config c = sim::Config::fromJson(j);  // for the derived PiT ids
    a["views"].push_back(
        {{"volume", "ora_data1_V1"}, {"base", "ora_data1"}, {"pit", c.arrays[0].pits[0].id}});
    a["consistencyGroups"] = {{{"label", "cg1"}, {"members", {"ora_data2", "exch_db"}}},
                              {{"label", "cgfull"}, {"members", {"vm_store"}}},
                              {{"label", "cgempty"}}};
    const std::string cg1 = sim::makeRef(c.arrays[0].id + ":cg:cg1");
    const std::string cgfull = sim::makeRef(c.arrays[0].id + ":cg:cgfull");
    a["cgPits"].push_back({{"group", cg1}, {"sequence", 1}, {"whenMicros", 5000}});
    for (int i = 1; i <= 32; ++i)
        a["cgPits"].push_back({{"group", cgfull}, {"sequence", i}, {"whenMicros", 6000 + i}});
    if (edit) edit(j);
    return sim::Config::fromJson(j);
}

// cg1's CG view cg1_CV_0001 of cgv_w1 and cgv_w2 (mapped to iscsihost1 when `mapped`).
inline void addGroupView(nlohmann::json& j, bool mapped) {
    auto& a = j["arrays"][0];
    sim::Config c = sim::Config::fromJson(j);
    const std::string cgPit = c.arrays[0].cgPits[0].id;
    for (const char* w : {"cgv_w1", "cgv_w2"})
        a["volumes"].push_back({{"label", w}, {"kind", "view"}, {"sizeBytes", 1073741824}});
    a["cgPitViews"].push_back(
        {{"label", "cg1_CV_0001"}, {"cgPit", cgPit}, {"memberViews", {"cgv_w1", "cgv_w2"}}});
    const std::string cv = sim::makeRef(c.arrays[0].id + ":cgview:cg1_CV_0001");
    a["views"].push_back({{"volume", "cgv_w1"}, {"base", "ora_data2"}, {"cgView", cv}});
    a["views"].push_back({{"volume", "cgv_w2"}, {"base", "exch_db"}, {"cgView", cv}});
    if (mapped) a["mappings"].push_back({{"volume", "cgv_w2"}, {"to", "iscsihost1"}, {"lun", 9}});
}

// Plus an unused volume "spare", a 20 GiB "copy_target" and a legacy snapshot "snap1" of exch_log.
inline sim::Config everyMethodArray() {
    return richArray([](nlohmann::json& j) {
        auto& a = j["arrays"][0];
        a["volumes"].push_back({{"label", "spare"}, {"sizeBytes", 1073741824}});
        a["volumes"].push_back({{"label", "copy_target"}, {"sizeBytes", 21474836480}});
        a["volumes"].push_back({{"label", "snap1"},
                                {"kind", "snapshot"},
                                {"pool", "DG2"},
                                {"sizeBytes", 53687091200}});
        a["syncs"].push_back({{"type", "snapshot"}, {"source", "exch_log"}, {"target", "snap1"}});
    });
}

}  // namespace simtest
