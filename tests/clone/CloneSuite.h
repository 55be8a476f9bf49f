// Copies of the default array's volumes on a manual clock: job waits move time, never sleep.
#pragma once

#include "testsupport/SimSnapshot.h"

namespace clonetest {

using Device = testsupport::BasicSimSnapshot<testsupport::ClockedLSISnapshot>;

// A copy of the volume labelled source; with a synchronization unless kind is Base.
inline sim::Volume AddCopy(sim::Array& a, const std::string& label, const std::string& source,
                           sim::VolumeKind kind) {
    sim::Volume v = *a.findVolumeByLabel(source);
    const bool snap = kind == sim::VolumeKind::Snapshot;
    const sim::Sync s{snap ? sim::SyncType::Snapshot : sim::SyncType::VolumeCopy, v.uuid,
                      sim::makeVolumeUuid(a.id + ":" + label)};
    v.uuid = s.target;
    v.label = label;
    v.kind = kind;
    a.volumes.push_back(v);
    if (kind != sim::VolumeKind::Base) a.syncs.push_back(s);
    a.reindex();
    return v;
}

inline sim::Config SuiteConfig(const std::string& classPrefix = "NETAPP", int64_t jobMs = 0) {
    sim::Config c = testsupport::SimConfig();
    c.classPrefix = classPrefix;
    c.jobs.durationMs = jobMs;
    sim::Array& a = c.arrays.at(0);
    AddCopy(a, "snap_small", "small_lun", sim::VolumeKind::Snapshot);
    AddCopy(a, "clone_log", "exch_log", sim::VolumeKind::Clone);
    AddCopy(a, "spare_log", "exch_log", sim::VolumeKind::Base);
    const std::string mapped = AddCopy(a, "clone_mapped", "ora_log", sim::VolumeKind::Clone).uuid;
    a.mappings.push_back({mapped, a.findHost("fchost1")->ref, 9, 2});
    return c;
}

// An operation by name: "create", "attach", "sync <n>[ nowait]", "restore", "delete", "detach".
inline int Perform(Device& d, const std::string& op) {
    if (op == "create") return d.snap.CreateCloneVolume();
    if (op == "attach") return d.snap.AttachCloneVolume("4");
    if (op == "restore") return d.snap.SnapRestore(0);
    if (op == "delete") return d.snap.SnapDelete();
    if (op == "detach") return d.snap.DetachSnap();
    const auto n = static_cast<unsigned short>(std::stoi(op.substr(5)));
    return d.snap.SnapSyncOp(n, op.find("nowait") != std::string::npos);
}

class Suite : public ::testing::Test {
  protected:
    explicit Suite(sim::Config config = SuiteConfig())
        : sim(std::move(config), testsupport::PlainHttp(clock.clock())) {}
    // Points dev at the volumes labelled source and target ("" for none), snap "clone_new".
    void Bind(Device& dev, const std::string& source, const std::string& target, int operation) {
        dev.snap.clock = clock;
        dev.snap.m_SnapOperation = operation;
        dev.snap.m_SnapName = "clone_new";
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
    sim::Array State() { return sim.provider().currentState().arrays.at(0); }
    std::vector<sim::RequestRecord> Calls(const std::string& m) {
        return testsupport::Calls(sim, m);
    }
    testsupport::ManualClock clock;
    sim::TestServer sim;
};

// "type:value" of a logged in-parameter, "type:null", or "absent".
inline std::string ParamText(const sim::RequestRecord& call, const std::string& name) {
    for (const sim::ParamRecord& p : call.params)
        if (p.name == name) return p.type + ":" + (p.null ? std::string("null") : p.value);
    return "absent";
}

// The array as JSON without the volume uuid and what is tied to it.
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

inline nlohmann::json Json(const sim::Array& a) {
    return Without(a, std::string());
}

// What changed from before to after as a compact JSON patch; "[]" when nothing did.
inline std::string Changes(const nlohmann::json& before, const nlohmann::json& after) {
    return nlohmann::json::diff(before, after).dump();
}

}  // namespace clonetest
