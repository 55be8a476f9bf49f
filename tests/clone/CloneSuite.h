// The clone suite's array: the default one plus a legacy snapshot, an unmapped clone
// and a mapped clone, each with its synchronization, served on a manual clock so that
// job waits move time instead of sleeping.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "testsupport/SimClock.h"
#include "testsupport/SimSnapshot.h"
#include "testsupport/TalonConfig.h"

namespace clonetest {

using Device = testsupport::BasicSimSnapshot<testsupport::ClockedLSISnapshot>;

// Adds a replica of the volume labelled source to array a.
inline sim::Volume AddReplica(sim::Array& a, const std::string& label, const std::string& source,
                              sim::VolumeKind kind) {
    const sim::Volume* src = a.findVolumeByLabel(source);
    sim::Volume v = *src;
    v.uuid = sim::makeVolumeUuid(a.id + ":" + label);
    v.label = label;
    v.kind = kind;
    sim::Sync s;
    s.type =
        kind == sim::VolumeKind::Snapshot ? sim::SyncType::Snapshot : sim::SyncType::VolumeCopy;
    s.source = src->uuid;
    s.target = v.uuid;
    a.volumes.push_back(v);
    a.syncs.push_back(s);
    a.reindex();
    return v;
}

inline sim::Config SuiteConfig(const std::string& preset = "NETAPP") {
    sim::Config c = testsupport::SimConfig(preset);
    sim::Array& a = c.arrays.at(0);
    AddReplica(a, "snap_small", "small_lun", sim::VolumeKind::Snapshot);
    AddReplica(a, "clone_log", "exch_log", sim::VolumeKind::Clone);
    const sim::Volume mapped = AddReplica(a, "clone_mapped", "ora_log", sim::VolumeKind::Clone);
    a.mappings.push_back({mapped.uuid, a.findHost("fchost1")->ref, 9, 2});
    // A volume of exch_log's size tied to nothing, to attach as a clone.
    sim::Volume spare = *a.findVolumeByLabel("exch_log");
    spare.label = "spare_log";
    spare.uuid = sim::makeVolumeUuid(a.id + ":spare_log");
    a.volumes.push_back(spare);
    a.reindex();
    return c;
}

class Suite : public ::testing::Test {
  protected:
    explicit Suite(sim::Config config = SuiteConfig()) : sim(std::move(config), Options(clock)) {}

    static sim::TestServerOptions Options(const testsupport::ManualClock& clock) {
        sim::TestServerOptions o = testsupport::PlainHttp();
        o.clock = clock.clock();
        return o;
    }

    // A device on the array with source and target filled from two labels.
    void Bind(Device& dev, const std::string& source, const std::string& target, int operation) {
        dev.snap.clock = clock;
        dev.snap.m_SnapOperation = operation;
        if (!source.empty()) dev.snap.m_SourceDev = dev.volume(source).uuid;
        if (!target.empty()) dev.snap.m_TargetDev = dev.volume(target).uuid;
    }

    // The path of a volume as the provider names it.
    std::string PathOf(Device& dev, const std::string& uuid) {
        EXPECT_EQ(dev.snap.m_CimConnection.ConnectCimom(), 0);
        std::string p = dev.snap.GetVolObjPathByUUID(dev.snap.m_CimConnection, uuid, "");
        dev.snap.m_CimConnection.DisconnectCimom();
        return p;
    }

    sim::Array State() const {
        return const_cast<sim::TestServer&>(sim).provider().currentState().arrays.at(0);
    }

    size_t Invocations(const std::string& method) const {
        return testsupport::CountRequests(sim, "InvokeMethod", method);
    }

    // The calls of method, in order.
    std::vector<sim::RequestRecord> Calls(const std::string& method) const {
        std::vector<sim::RequestRecord> out;
        for (const sim::RequestRecord& r : sim.requests())
            if (r.operation == "InvokeMethod" && r.method == method) out.push_back(r);
        return out;
    }

    testsupport::ManualClock clock;
    sim::TestServer sim;
};

// The array as JSON without the volume uuid and anything tied to it.
inline nlohmann::json Without(sim::Array a, const std::string& uuid) {
    auto drop = [&](auto& list, auto pred) {
        list.erase(std::remove_if(list.begin(), list.end(), pred), list.end());
    };
    drop(a.volumes, [&](const sim::Volume& v) { return v.uuid == uuid; });
    drop(a.syncs, [&](const sim::Sync& s) { return s.source == uuid || s.target == uuid; });
    drop(a.mappings, [&](const sim::Mapping& m) { return m.volume == uuid; });
    sim::Config c;
    c.arrays = {a};
    return c.toJson()["arrays"][0];
}

// The in-parameter name of a logged call; null when it was not sent.
inline const sim::ParamRecord* Param(const sim::RequestRecord& call, const std::string& name) {
    for (const sim::ParamRecord& p : call.params)
        if (p.name == name) return &p;
    return nullptr;
}

inline std::string ParamText(const sim::RequestRecord& call, const std::string& name) {
    const sim::ParamRecord* p = Param(call, name);
    return p ? p->type + ":" + (p->null ? std::string("null") : p->value) : "absent";
}

inline nlohmann::json Json(const sim::Array& a) {
    return Without(a, std::string());
}

// What changed from before to after as a compact JSON patch; "[]" when nothing did.
inline std::string Changes(const nlohmann::json& before, const nlohmann::json& after) {
    return nlohmann::json::diff(before, after).dump();
}

}  // namespace clonetest
