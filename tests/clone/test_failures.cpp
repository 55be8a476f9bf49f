// Failures half-way: each method fails with a failure return, a job ending in
// Exception, a connection closed without an answer, and an answer cut off after the
// change. The operation reports its documented failure, the array holds its earlier
// state or exactly the completed change, and a repeated delete converges.
#include <functional>
#include <string>

#include "CloneSuite.h"

namespace clonetest {
namespace {

class Failures : public Suite {};

TEST_F(Failures, HalfWayFailuresLeaveTheArrayWholeAndDeletesConverge) {
    struct Operation {
        const char* name;
        const char* method;
        int snapOperation;
        const char* source;
        const char* target;
        std::function<int(Device&)> call;
        int failure;
        int hostError;
    };
    const Operation operations[] = {
        {"create", "CreateOrModifyElementFromStoragePool", 5, "small_lun", "",
         [](Device& d) { return d.snap.CreateCloneVolume(); }, 0, 60553},
        {"attach", "AttachOrModifyReplica", 5, "exch_log", "spare_log",
         [](Device& d) { return d.snap.AttachCloneVolume("4"); }, 0, 60554},
        {"sync op", "ModifySynchronization", 5, "exch_log", "clone_log",
         [](Device& d) { return d.snap.SnapSyncOp(2, false); }, 6, 0},
        {"delete clone", "ReturnToStoragePool", 5, "exch_log", "clone_log",
         [](Device& d) { return d.snap.SnapDelete(); }, 21, 0},
        {"delete snapshot", "ModifySynchronization", 4, "small_lun", "snap_small",
         [](Device& d) { return d.snap.SnapDelete(); }, 21, 0},
    };
    struct Fault {
        const char* name;
        std::function<void(sim::TestServer&, const sim::RequestKey&)> arm;
        bool changed;  // the provider did the work before failing
    };
    const Fault faults[] = {
        {"failure return",
         [](sim::TestServer& s, const sim::RequestKey& k) { s.failReturnValue(4, 1, k); }, false},
        {"job ends in exception",
         [](sim::TestServer& s, const sim::RequestKey&) { s.failNextJobs(1, 10); }, false},
        {"closed unanswered",
         [](sim::TestServer& s, const sim::RequestKey& k) {
             s.addFault(sim::FaultKind::Close, 1, k);
         },
         false},
        {"cut off after the change",
         [](sim::TestServer& s, const sim::RequestKey& k) {
             s.addFault(sim::FaultKind::Truncated, 1, k);
         },
         true},
    };
    for (const Operation& op : operations) {
        // What the operation does when nothing fails.
        sim.reset();
        const sim::Array before = State();
        {
            Device dev(sim);
            Bind(dev, op.source, op.target, op.snapOperation);
            dev.snap.m_SnapName = "clone_new";
            ASSERT_NE(op.call(dev), op.failure) << op.name;
        }
        const nlohmann::json done = Json(State());

        for (const Fault& f : faults) {
            const std::string row = std::string(op.name) + ", " + f.name;
            sim.reset();
            f.arm(sim, {"InvokeMethod", op.method, ""});
            Device dev(sim);
            Bind(dev, op.source, op.target, op.snapOperation);
            dev.snap.m_SnapName = "clone_new";
            EXPECT_EQ(op.call(dev), op.failure) << row;
            EXPECT_EQ(dev.info.errorCode(), op.hostError) << row;
            const nlohmann::json after = Json(State());
            if (f.changed) {
                // New objects get fresh identities, so only their count is known.
                EXPECT_EQ(after["volumes"].size(), done["volumes"].size()) << row;
                EXPECT_EQ(after["syncs"].size(), done["syncs"].size()) << row;
            } else {
                EXPECT_EQ(after, Json(before)) << row;
            }
            if (op.failure == 21) {
                EXPECT_EQ(dev.snap.SnapDelete(), 20) << row;
                EXPECT_EQ(Json(State()), done) << row;
            }
        }
    }
}

}  // namespace
}  // namespace clonetest
