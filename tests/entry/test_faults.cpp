// Map, unmap, check and delete of a snapshot with a fault at every request the call
// makes: the device ends in a status its operation gives, nothing crashes, and a
// later unmap and delete leave the array as it was (nothing half-made).
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "testsupport/EntryRoad.h"

namespace {

using namespace testsupport;

struct Fault {
    const char* name;
    std::function<void(sim::TestServer&, int skip)> arm;
    int error = 0;  // the only error the device may hold, reported once; 0: any host code
};

const std::vector<Fault>& Faults() {
    static const std::vector<Fault> faults = {
        {"HTTP 500", [](sim::TestServer& s, int n) { s.failHttp(500, 1, {}, n); }},
        {"HTTP 401, 60555 once", [](sim::TestServer& s, int n) { s.failHttp(401, 1, {}, n); },
         60555},
        {"malformed XML",
         [](sim::TestServer& s, int n) { s.addFault(sim::FaultKind::MalformedXml, 1, {}, n); }},
        {"truncated",
         [](sim::TestServer& s, int n) { s.addFault(sim::FaultKind::Truncated, 1, {}, n); }},
        {"connection closed",
         [](sim::TestServer& s, int n) { s.addFault(sim::FaultKind::Close, 1, {}, n); }},
        {"hang",
         [](sim::TestServer& s, int n) { s.hang(std::chrono::milliseconds(20), 1, {}, n); }},
        {"provider down",
         [](sim::TestServer& s, int n) { s.addFault(sim::FaultKind::Close, -1, {}, n); }},
    };
    return faults;
}

struct Operation {
    const char* name;
    std::function<int(EntryRoad&, std::vector<RKSO::SnapInfo*>&)> before;  // clean steps first
    std::function<int(EntryRoad&, std::vector<RKSO::SnapInfo*>&)> run;
    std::set<int> statuses;  // what the device may hold afterwards
};

const std::vector<Operation>& Operations() {
    static const std::vector<Operation> ops = {
        {"map",
         [](EntryRoad&, auto&) { return 0; },
         [](EntryRoad& r, auto& d) { return r.map(d); },
         {RKSO::SNAP_STATUS_RESET, RKSO::SNAP_STATUS_MAPPED, RKSO::SNAP_STATUS_MAP_FAILED,
          RKSO::SNAP_STATUS_VISIBLE, RKSO::SNAP_STATUS_UNMAPPED}},
        {"check",
         [](EntryRoad& r, auto& d) { return r.map(d); },
         [](EntryRoad& r, auto& d) { return r.check(d); },
         {RKSO::SNAP_STATUS_RESET, RKSO::SNAP_STATUS_MAPPED, RKSO::SNAP_STATUS_MAP_FAILED,
          RKSO::SNAP_STATUS_VISIBLE}},
        {"unmap",
         [](EntryRoad& r, auto& d) { return r.map(d); },
         [](EntryRoad& r, auto& d) { return r.unmap(d); },
         {RKSO::SNAP_STATUS_UNMAPPED, RKSO::SNAP_STATUS_UNMAP_FAILED, RKSO::SNAP_STATUS_MAP_FAILED,
          RKSO::SNAP_STATUS_VISIBLE, RKSO::SNAP_STATUS_MAPPED}},
        {"delete",
         [](EntryRoad&, auto&) { return 0; },
         [](EntryRoad& r, auto& d) { return r.remove(d); },
         {RKSO::SNAP_STATUS_DELETED, RKSO::SNAP_STATUS_DELETE_FAILED,
          RKSO::SNAP_STATUS_PREPARE_FAILED}},
    };
    return ops;
}

TEST(Faults, EveryRequestOfACallMayFailWithoutLeavingAnythingHalfMade) {
    LocalMode local(true);
    for (const Operation& op : Operations()) {
        // How many requests the call makes when nothing fails.
        size_t clean = 0;
        {
            EntryRoad road({"src01"});
            auto devs = road.snapped({"src01"});
            ASSERT_EQ(op.before(road, devs), 0) << op.name;
            road.requestsSince();
            ASSERT_EQ(op.run(road, devs), 0) << op.name;
            clean = road.requestsSince();
        }
        for (const Fault& fault : Faults()) {
            for (size_t skip = 0; skip < clean; ++skip) {
                const std::string row = std::string(op.name) + ", " + fault.name + " at request " +
                                        std::to_string(skip);
                EntryRoad road({"src01"});
                auto devs = road.snapped({"src01"});
                op.before(road, devs);
                FakeSnapInfo& dev = road.host.device("src01");
                fault.arm(road.sim, static_cast<int>(skip));
                const int reportsBefore = dev.setErrorInfoCalls();
                const int result = op.run(road, devs);
                EXPECT_TRUE(result == 0 || result == 1) << row;
                EXPECT_EQ(op.statuses.count(dev.status()), 1u) << row << ": " << dev.status();
                if (fault.error != 0) {
                    EXPECT_EQ(dev.errorCode(), fault.error) << row << ": " << dev.errorText();
                    EXPECT_EQ(dev.setErrorInfoCalls() - reportsBefore, 1) << row;
                } else if (dev.errorCode() != 0) {
                    EXPECT_TRUE(dev.errorCode() >= 60000 || dev.errorCode() < 10)
                        << row << ": " << dev.errorCode();
                }
                road.sim.faults().clear();
                dev.setErrorInfo(0, "");
                EXPECT_EQ(road.unmap(devs), 0) << row;
                EXPECT_EQ(road.remove(devs), 0) << row << ": " << dev.errorText();
                EXPECT_TRUE(road.backToStart()) << row;
                if (::testing::Test::HasFailure()) return;
            }
        }
    }
}

}  // namespace
