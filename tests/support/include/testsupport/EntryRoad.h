// The road after prepare and snap: fabric host utility, manual clock, array readers.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "rkso/rkso.h"
#include "testsupport/EntryHost.h"
#include "testsupport/FabricOSUtil.h"
#include "testsupport/HostClockScope.h"
#include "testsupport/SimRequests.h"
#include "testsupport/TempDir.h"

namespace testsupport {

// The host database (no rows) unless the test asks for local mode.
struct LocalMode {
    explicit LocalMode(bool on) {
        on ? setenv("SNAPTEST_LOCAL_MODE", "1", 1) : unsetenv("SNAPTEST_LOCAL_MODE");
    }
    ~LocalMode() { unsetenv("SNAPTEST_LOCAL_MODE"); }
};

// Field 9 of an identifier: the PiT's name.
inline std::string PiTOf(const std::string& identifier) {
    size_t at = 0;
    for (int i = 0; i < 8 && at != std::string::npos; ++i) at = identifier.find('*', at) + 1;
    const size_t end = identifier.find('*', at);
    return identifier.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

class EntryRoad {
  public:
    explicit EntryRoad(const std::vector<std::string>& labels, EntryHostOptions options = {},
                       const std::string& preset = "NETAPP")
        : sim(EntryConfig(labels, preset), PlainHttp()),
          start(sim.state()),
          host(sim, withDatabase(options)) {}
    HostClockScope clock;
    TempDir dir;
    sim::TestServer sim;
    nlohmann::json start;  // the array before anything was made
    EntryHost host;
    FabricOSUtil util;
    // Prepared devices of these volumes.
    std::vector<RKSO::SnapInfo*> prepared(const std::vector<std::string>& labels) {
        std::vector<RKSO::SnapInfo*> devs = host.devices(labels);
        EXPECT_EQ(host.prepare(devs), 0);
        return devs;
    }
    // Prepared and snapped devices of these volumes.
    std::vector<RKSO::SnapInfo*> snapped(const std::vector<std::string>& labels) {
        std::vector<RKSO::SnapInfo*> devs = host.devices(labels);
        host.prepareAndSnap(devs);
        return devs;
    }
    int run(rkso_devices_fn fn, std::vector<RKSO::SnapInfo*>& devs) {
        return fn(devs.data(), static_cast<short>(devs.size()), &util);
    }
    int map(std::vector<RKSO::SnapInfo*>& d) { return run(rkso_mapSnaps, d); }
    int check(std::vector<RKSO::SnapInfo*>& d) { return run(rkso_isMapped, d); }
    int unmap(std::vector<RKSO::SnapInfo*>& d) { return run(rkso_unmapSnaps, d); }
    int remove(std::vector<RKSO::SnapInfo*>& d) { return run(rkso_deleteSnaps, d); }
    int revert(std::vector<RKSO::SnapInfo*>& d) { return run(rkso_revertSnaps, d); }
    int reconcile(std::vector<RKSO::SnapInfo*>& d) { return run(rkso_reconcileSnaps, d); }
    // Requests the simulator served since the last call.
    size_t requestsSince() {
        const size_t now = sim.requests().size();
        const size_t n = now - m_seen;
        m_seen = now;
        return n;
    }
    // Objects of one kind in the array state ("pits", "views", "mappings", ...).
    size_t count(const std::string& kind) {
        return sim.state()["arrays"][0].value(kind, nlohmann::json::array()).size();
    }
    // The array is as at the start, PiT groups and data generations aside (ArrayObjects).
    ::testing::AssertionResult backToStart() {
        const nlohmann::json now = ArrayObjects(sim.state()), before = ArrayObjects(start);
        if (now == before) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "array differs: " << nlohmann::json::diff(before, now).dump();
    }
    // Nothing the calls made is left, for runs in which objects were also taken away.
    ::testing::AssertionResult nothingNew() {
        const auto added = AddedObjects(ArrayObjects(start), ArrayObjects(sim.state()));
        if (added.empty()) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "left on the array: " << added[0].first << " " << added[0].second.dump();
    }
    std::string database() const { return dir.file("snaps.db"); }

  private:
    EntryHostOptions withDatabase(EntryHostOptions o) {
        o.tuning += "\n[Host]\nSnapDatabase = " + database() + "\n";
        return o;
    }
    size_t m_seen = 0;
};

}  // namespace testsupport
