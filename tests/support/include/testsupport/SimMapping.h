// Mapping and PiT view helpers over the in-process simulator.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <cim/CIMObjectPath.h>

#include "testsupport/SimSnapshot.h"

namespace testsupport {

// The ports of the default array's "fchost1" and of its "iscsihost1".
inline const char* const kFc = "10000090FA1B2C3D,10000090FA1B2C3E";
inline const char* const kIscsi = "iqn.1994-05.com.example:iscsihost1";

// Connects the device's own connection and closes it at the end of the scope.
class OpenConnection {
  public:
    explicit OpenConnection(SimSnapshot& dev) : m_dev(dev) {
        EXPECT_EQ(dev.snap.m_CimConnection.ConnectCimom(), 0);
    }
    ~OpenConnection() { m_dev.snap.m_CimConnection.DisconnectCimom(); }
    OpenConnection(const OpenConnection&) = delete;
    OpenConnection& operator=(const OpenConnection&) = delete;

    RkCimConnection& conn() { return m_dev.snap.m_CimConnection; }
    cim::CIMObjectPath systemPath() {
        return m_dev.snap.GetSystemObjPathByNameProp(conn(), m_dev.array.id);
    }
    std::string volumePath(const std::string& uuid) {
        return m_dev.snap.GetVolObjPathByUUID(conn(), uuid, "");
    }

  private:
    SimSnapshot& m_dev;
};

// "ElementName" of each controller (the host or host group it stands for).
inline std::set<std::string> ControllerLabels(SimSnapshot& dev, RkCimConnection& conn,
                                              std::vector<cim::CIMObjectPath> paths) {
    std::set<std::string> labels;
    for (cim::CIMObjectPath& p : paths) labels.insert(dev.snap.GetCIMProp(conn, p, "ElementName"));
    return labels;
}

// The host's ports, comma-separated, as the entry points hand them over.
inline std::string HostPorts(const sim::Array& array, const std::string& hostLabel) {
    std::string ports;
    for (const sim::Host& h : array.hosts)
        if (h.label == hostLabel)
            for (const sim::Port& p : h.ports) ports += (ports.empty() ? "" : ",") + p.id;
    if (ports.empty()) ADD_FAILURE() << "no host " << hostLabel;
    return ports;
}

// UUIDs of the LUNs the fabric shows to these ports.
inline std::set<std::string> LunsSeenBy(sim::TestServer& sim, const std::string& commaPorts) {
    std::vector<std::string> ports;
    std::istringstream in(commaPorts);
    for (std::string p; std::getline(in, p, ',');) ports.push_back(p);
    std::set<std::string> uuids;
    const nlohmann::json seen = sim.provider().fabricLuns(ports);
    for (const auto& lun : seen["luns"]) uuids.insert(lun["lunUuid"].get<std::string>());
    return uuids;
}

// A host of the array's own making: ref from the label, ports typed by their names.
inline sim::Host MakeHost(const std::string& label, const std::vector<std::string>& ports) {
    sim::Host h;
    h.ref = sim::makeRef("host:" + label);
    h.label = label;
    for (const std::string& id : ports)
        h.ports.push_back(
            {id, id.rfind("iqn.", 0) == 0 ? sim::PortType::iSCSI : sim::PortType::FC});
    return h;
}

inline std::string PiTId(const std::string& arrayId, int n) {
    char tail[41];
    std::snprintf(tail, sizeof tail, "%040d", n);
    return arrayId + ":" + tail;
}

// PiTs 1 (viewed) and 2 of ora_data1; CG PiTs 3 (viewed) and 4 of "cg1"; views unmapped.
inline sim::Config ViewConfig(const std::string& preset = "NETAPP") {
    // file_share is a group member here; its own mapping would only get in the way.
    const sim::Config base = SimConfig(preset);
    const std::string fileShare = base.arrays[0].findVolumeByLabel("file_share")->uuid;
    nlohmann::json j = Without(base.toJson(), "mappings", "volume", {fileShare});
    nlohmann::json& a = j["arrays"][0];
    const std::string id = a["id"].get<std::string>();
    for (const char* label : {"ora_data1_SV_0001", "cg1_m1", "cg1_m2", "cg1_m3"})
        a["volumes"].push_back({{"label", label}, {"kind", "view"}, {"sizeBytes", 1073741824}});
    const std::string pg = sim::makeRef("pitgroup:ora_data1"), cg = sim::makeRef("cg:cg1"),
                      cv = sim::makeRef("cgview:cg1_view");
    const nlohmann::json members = {
        {{"volume", "exch_log"}}, {{"volume", "file_share"}}, {{"volume", "vm_store"}}};
    // clang-format off
    a["pitGroups"] = {{{"label", "ora_data1_SMIS_PG"}, {"ref", pg}, {"baseVolume", "ora_data1"}, {"nextSequence", 3}}};
    a["pits"] = {{{"group", pg}, {"sequence", 1}, {"id", PiTId(id, 1)}}, {{"group", pg}, {"sequence", 2}, {"id", PiTId(id, 2)}}};
    a["consistencyGroups"] = {{{"label", "cg1"}, {"ref", cg}, {"members", {"exch_log", "file_share", "vm_store"}}}};
    a["cgPits"] = {{{"group", cg}, {"sequence", 1}, {"id", PiTId(id, 3)}, {"members", members}},
                   {{"group", cg}, {"sequence", 2}, {"id", PiTId(id, 4)}, {"members", members}}};
    a["cgPitViews"] = {{{"label", "cg1_view"}, {"ref", cv}, {"cgPit", PiTId(id, 3)}, {"memberViews", {"cg1_m1", "cg1_m2", "cg1_m3"}}}};
    a["views"] = {{{"volume", "ora_data1_SV_0001"}, {"base", "ora_data1"}, {"pit", PiTId(id, 1)}},
                  {{"volume", "cg1_m1"}, {"base", "exch_log"}, {"cgView", cv}},
                  {{"volume", "cg1_m2"}, {"base", "file_share"}, {"cgView", cv}},
                  {{"volume", "cg1_m3"}, {"base", "vm_store"}, {"cgView", cv}}};
    // clang-format on
    sim::Config c = sim::Config::fromJson(j);
    c.jobs.durationMs = 0;  // a watched job is final at its first poll: nothing sleeps
    return c;
}

// The device as the map road finds it for PiT pitId; for host, its ports, read-write.
inline void ForMap(SimSnapshot& dev, const std::string& volumeLabel, const std::string& pitId,
                   const std::string& host = "") {
    OpenConnection open(dev);
    cim::CIMObjectPath service;
    dev.snap.ValidateSystemName(open.conn(), dev.array.id, "SNIA_ReplicationService", service);
    dev.snap.m_ServicePath = service.toString();
    dev.snap.m_SourceDev = dev.volume(volumeLabel).uuid;
    dev.snap.m_SourceDevPath = open.volumePath(dev.snap.m_SourceDev);
    dev.snap.m_PiTName = pitId;
    dev.snap.m_SnapName = "nightly_snap";
    dev.snap.m_PiTOperation = 7;
    if (host.empty()) return;
    dev.snap.m_InitiatorPorts = HostPorts(dev.array, host);
    dev.snap.m_DeviceAccess = 2;
}

// The last call of method in the simulator's log (an empty record, and a failure, if none).
inline sim::RequestRecord LastCall(const sim::TestServer& sim, const std::string& method) {
    const std::vector<sim::RequestRecord> calls = Calls(sim, method);
    if (calls.empty()) ADD_FAILURE() << "no call of " << method;
    return calls.empty() ? sim::RequestRecord() : calls.back();
}

// One step of a road as the entry points run it, with its clean result.
struct RoadStep {
    const char* name;
    std::function<int(SimSnapshot&)> run;
    int clean;
};

// Map of a PiT view: the view, its name and access, the mapping to dev's ports.
inline const std::vector<RoadStep>& MapRoad() {
    // clang-format off
    static const std::vector<RoadStep> steps = {
        {"ModifyPiT", [](SimSnapshot& d) { return d.snap.ModifyPiT(5); }, 5},
        {"ElementName", [](SimSnapshot& d) { auto& s = d.snap; return s.SetSnapObjectProperty(s.m_TargetDevPath, "ElementName", s.m_SnapName); }, 0},
        {"Access", [](SimSnapshot& d) { return d.snap.SetSnapObjectProperty(d.snap.m_TargetDevPath, "Access", "3"); }, 0},
        {"MapSnap", [](SimSnapshot& d) { return d.snap.MapSnap(); }, 0},
    };
    // clang-format on
    return steps;
}

// Unmap of a mapped PiT view: the mapping, then the view.
inline const std::vector<RoadStep>& UnmapRoad() {
    // clang-format off
    static const std::vector<RoadStep> steps = {
        {"UnmapSnap", [](SimSnapshot& d) { d.snap.m_PiTOperation = 14; return d.snap.UnmapSnap(); }, 0},
        {"PiTViewSync", [](SimSnapshot& d) { return d.snap.PiTViewSync(19, 0); }, 20},
    };
    // clang-format on
    return steps;
}

}  // namespace testsupport
