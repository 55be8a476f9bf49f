// The map and unmap roads of a PiT view against the simulator: what the array holds
// afterwards, what the fabric shows to which ports, what was sent, and how many
// requests and connections each step takes (pinned as the baseline for later
// performance work).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/SimMapping.h"

namespace {

using testsupport::CountRequests;
using testsupport::PiTId;
using testsupport::SimSnapshot;

class MapRoad : public ::testing::Test {
  protected:
    sim::TestServer sim{testsupport::ViewConfig(), testsupport::PlainHttp()};

    sim::Array state() { return sim.provider().currentState().arrays[0]; }

    // A device for the unviewed PiT 2 of ora_data1, with the ports of host.
    void Prepare(SimSnapshot& dev, const std::string& host) {
        testsupport::ForMap(dev, "ora_data1", PiTId(dev.array.id, 2));
        dev.snap.m_InitiatorPorts = testsupport::HostPorts(dev.array, host);
        dev.snap.m_DeviceAccess = 2;
        sim.log().clear();
    }

    // Runs the steps, checking each result; requests and connections per step.
    void Run(SimSnapshot& dev, const std::vector<testsupport::RoadStep>& steps,
             std::vector<size_t>& requests, std::vector<size_t>& connections) {
        for (const auto& step : steps) {
            sim.log().clear();
            EXPECT_EQ(step.run(dev), step.clean) << step.name;
            EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected()) << step.name;
            requests.push_back(sim.requests().size());
            connections.push_back(sim.connectionCount());
        }
    }
};

TEST_F(MapRoad, OneMapAndUnmapPerHost) {
    struct Row {
        const char* host;
        const char* otherHost;
        std::vector<size_t> mapRequests;  // ModifyPiT, ElementName, Access, MapSnap
        std::vector<size_t> unmapRequests;
    };
    const Row rows[] = {
        {"iscsihost1", "fchost1", {7, 2, 2, 10}, {12, 4}},
        {"fchost1", "iscsihost1", {7, 2, 2, 22}, {34, 4}},
    };
    for (const Row& r : rows) {
        sim.reset();
        SimSnapshot dev(sim);
        Prepare(dev, r.host);
        const size_t viewsBefore = state().views.size();
        std::vector<size_t> requests, connections;
        Run(dev, testsupport::MapRoad(), requests, connections);
        EXPECT_EQ(requests, r.mapRequests) << r.host;
        EXPECT_EQ(connections, std::vector<size_t>(requests.size(), 1)) << r.host;

        const sim::Array a = state();
        ASSERT_EQ(a.views.size(), viewsBefore + 1) << r.host;
        const sim::View& view = a.views.back();
        EXPECT_EQ(view.volume, dev.snap.m_TargetDev) << r.host;
        EXPECT_EQ(view.pit, dev.snap.m_PiTName) << r.host;
        EXPECT_EQ(view.base, dev.snap.m_SourceDev) << r.host;
        const sim::Volume* w = a.findVolume(view.volume);
        ASSERT_NE(w, nullptr) << r.host;
        EXPECT_EQ(w->label, "nightly_snap") << r.host;
        EXPECT_EQ(w->access, 3) << r.host;
        const sim::Mapping* m = a.findMapping(view.volume);
        ASSERT_NE(m, nullptr) << r.host;
        EXPECT_EQ(m->target, a.findHost(r.host)->ref) << r.host;
        EXPECT_EQ(testsupport::LunsSeenBy(sim, dev.snap.m_InitiatorPorts).count(view.volume), 1u)
            << r.host;
        EXPECT_EQ(
            testsupport::LunsSeenBy(sim, testsupport::HostPorts(a, r.otherHost)).count(view.volume),
            0u)
            << r.host;
        const auto params = testsupport::LastCallParams(sim, "ExposePaths");
        const sim::ParamRecord* ports = testsupport::Param(params, "InitiatorPortIDs");
        const sim::ParamRecord* spcs = testsupport::Param(params, "ProtocolControllers");
        ASSERT_TRUE(ports && spcs) << r.host;
        EXPECT_TRUE(ports->null) << r.host;
        ASSERT_EQ(spcs->elements.size(), 1u) << r.host;
        EXPECT_NE(spcs->elements[0].find(a.findHost(r.host)->ref), std::string::npos) << r.host;

        EXPECT_EQ(dev.snap.IsSnapMapped(), 9) << r.host;
        SimSnapshot other(sim);
        other.snap.m_TargetDev = dev.snap.m_TargetDev;
        other.snap.m_TargetDevPath = dev.snap.m_TargetDevPath;
        other.snap.m_InitiatorPorts = testsupport::HostPorts(a, r.otherHost);
        EXPECT_EQ(other.snap.IsSnapMapped(), 10) << r.host;

        requests.clear();
        connections.clear();
        Run(dev, testsupport::UnmapRoad(), requests, connections);
        EXPECT_EQ(requests, r.unmapRequests) << r.host;
        EXPECT_EQ(connections, std::vector<size_t>(requests.size(), 1)) << r.host;
        const sim::Array after = state();
        EXPECT_EQ(after.views.size(), viewsBefore) << r.host;
        EXPECT_EQ(after.findVolume(view.volume), nullptr) << r.host;
        EXPECT_EQ(after.findMapping(view.volume), nullptr) << r.host;
        EXPECT_EQ(after.pits.size(), a.pits.size()) << r.host << ": the PiT stays";
        EXPECT_EQ(dev.snap.IsPiTAttached(), 0) << r.host;
        sim.log().clear();
        EXPECT_EQ(dev.snap.UnmapSnap(), 0) << r.host << ": again";
        EXPECT_EQ(CountRequests(sim, "InvokeMethod"), 0u) << r.host;
        for (const auto& line : dev.info.logLines()) {
            EXPECT_EQ(line.text.find(testsupport::kSimPassword), std::string::npos) << line.text;
            EXPECT_EQ(line.text.find(testsupport::kArraySecret), std::string::npos) << line.text;
        }
    }
}

}  // namespace
