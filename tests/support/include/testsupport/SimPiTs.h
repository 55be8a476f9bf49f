// PiT groups, PiTs, views and consistency groups put into a simulator configuration.
#pragma once

#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <sim/Config.h>

namespace testsupport {

inline const sim::Volume& VolumeOf(const sim::Array& a, const std::string& label) {
    for (const sim::Volume& v : a.volumes)
        if (v.label == label) return v;
    throw std::out_of_range("no volume " + label);
}

// A second array with volumes of the same names (fresh UUIDs) and nothing else of the first's.
inline sim::Array& AddSecondArray(sim::Config& c) {
    sim::Array second = c.arrays.front();
    second.id = "600A0980006CE2B2000000005A1B2C99";
    second.name = "ESeries02";
    second.controllers[0].name = "021648000777";
    second.controllers[1].name = "021648000888";
    for (sim::Volume& v : second.volumes) v.uuid = sim::makeVolumeUuid("second:" + v.label);
    auto clear = [](auto&... lists) { (lists.clear(), ...); };
    clear(second.mappings, second.hosts, second.hostGroups, second.pitGroups, second.pits,
          second.views, second.consistencyGroups, second.cgPits, second.cgPitViews, second.syncs);
    c.arrays.push_back(second);
    return c.arrays.back();
}

// The PiT group "<volume>_SMIS_PG" of a base volume; returns its ref.
inline std::string AddPiTGroup(sim::Config& c, const std::string& volume, size_t array = 0) {
    sim::Array& a = c.arrays.at(array);
    sim::PiTGroup g;
    g.label = volume + "_SMIS_PG";
    g.ref = sim::makeRef(a.id + ":pitgroup:" + g.label);
    g.baseVolume = VolumeOf(a, volume).uuid;
    g.repositoryBytes = 64u << 20;
    g.nextSequence = 1;
    a.pitGroups.push_back(g);
    return g.ref;
}

// PiTs of the group with these sequence numbers, in this order; returns their identities.
inline std::vector<std::string> AddPiTs(sim::Config& c, const std::string& group,
                                        const std::vector<uint64_t>& sequences, size_t array = 0) {
    sim::Array& a = c.arrays.at(array);
    std::vector<std::string> ids;
    for (uint64_t s : sequences) {
        sim::PiT p;
        p.group = group;
        p.sequence = s;
        p.whenMicros = static_cast<int64_t>(1000000 + s);
        p.id = a.id + ":" + sim::makeRef(group + ":" + std::to_string(a.pits.size()));
        a.pits.push_back(p);
        ids.push_back(p.id);
        for (sim::PiTGroup& g : a.pitGroups)
            if (g.ref == group && g.nextSequence <= s) g.nextSequence = s + 1;
    }
    return ids;
}

// A consistency group of the named volumes; returns its ref.
inline std::string AddConsistencyGroup(sim::Config& c, const std::string& label,
                                       const std::vector<std::string>& volumes, size_t array = 0) {
    sim::Array& a = c.arrays.at(array);
    sim::ConsistencyGroup g;
    g.label = label;
    g.ref = sim::makeRef(a.id + ":cg:" + label);
    for (const std::string& v : volumes) g.members.push_back(VolumeOf(a, v).uuid);
    a.consistencyGroups.push_back(g);
    return g.ref;
}

// CG PiTs of the group taken at these times (us), in this order; returns their identities.
inline std::vector<std::string> AddCgPiTs(sim::Config& c, const std::string& group,
                                          const std::vector<int64_t>& whens, size_t array = 0) {
    sim::Array& a = c.arrays.at(array);
    std::vector<std::string> ids;
    for (int64_t when : whens) {
        sim::CgPiT p;
        p.group = group;
        p.whenMicros = when;
        for (sim::ConsistencyGroup& g : a.consistencyGroups) {
            if (g.ref != group) continue;
            p.sequence = g.nextSequence++;
            for (const std::string& m : g.members) p.members.push_back({m, 1});
        }
        p.id = a.id + ":" + sim::makeRef(group + ":cg:" + std::to_string(a.cgPits.size()));
        a.cgPits.push_back(p);
        ids.push_back(p.id);
    }
    return ids;
}

// A view volume on the PiT pit; returns the view's UUID.
inline std::string AddPiTView(sim::Config& c, const std::string& pit, size_t array = 0) {
    sim::Array& a = c.arrays.at(array);
    std::string base;
    for (const sim::PiT& p : a.pits)
        if (p.id == pit)
            for (const sim::PiTGroup& g : a.pitGroups)
                if (g.ref == p.group) base = g.baseVolume;
    sim::Volume v;
    v.label = "view_" + std::to_string(a.volumes.size());
    v.uuid = sim::makeVolumeUuid("view:" + pit);
    v.kind = sim::VolumeKind::PiTView;
    v.blocks = 2048;
    a.volumes.push_back(v);
    a.views.push_back({v.uuid, base, pit, ""});
    return v.uuid;
}

// A CG view on the CG PiT cgPit with one member view per member volume; returns its ref.
inline std::string AddCgPiTView(sim::Config& c, const std::string& cgPit, size_t array = 0) {
    sim::Array& a = c.arrays.at(array);
    sim::CgPiTView cv;
    cv.label = "cgview_" + std::to_string(a.cgPitViews.size());
    cv.ref = sim::makeRef(a.id + ":cgview:" + cgPit);
    cv.cgPit = cgPit;
    for (const sim::CgPiT& p : a.cgPits) {
        if (p.id != cgPit) continue;
        for (const sim::CgPiTMember& m : p.members) {
            sim::Volume v;
            v.label = cv.label + "_" + std::to_string(cv.memberViews.size());
            v.uuid = sim::makeVolumeUuid("cgview:" + cgPit + ":" + m.volume);
            v.kind = sim::VolumeKind::PiTView;
            v.blocks = 2048;
            a.volumes.push_back(v);
            a.views.push_back({v.uuid, m.volume, "", cv.ref});
            cv.memberViews.push_back(v.uuid);
        }
    }
    a.cgPitViews.push_back(cv);
    return cv.ref;
}

// The state without the items of list ("pits", "cgPits", ...) whose key is one of values.
inline nlohmann::json Without(nlohmann::json state, const std::string& list, const std::string& key,
                              const std::set<std::string>& values, size_t array = 0) {
    nlohmann::json& items = state["arrays"][array][list];
    nlohmann::json kept = nlohmann::json::array();
    for (const nlohmann::json& item : items)
        if (!values.count(item.at(key).get<std::string>())) kept.push_back(item);
    items = kept;
    return state;
}

}  // namespace testsupport
