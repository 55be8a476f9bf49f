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
        const char* jobMode;  // made to answer with a job for the job fault
        int snapOperation;
        const char* source;
        const char* target;
        std::function<int(Device&)> call;
        int failure;
        int hostError;
    };
    const Operation operations[] = {
        {"create", "CreateOrModifyElementFromStoragePool", "CreateOrModifyElementFromStoragePool",
         5, "small_lun", "", [](Device& d) { return d.snap.CreateCloneVolume(); }, 0, 60553},
        {"attach", "AttachOrModifyReplica", "AttachOrModifyReplica", 5, "exch_log", "spare_log",
         [](Device& d) { return d.snap.AttachCloneVolume("4"); }, 0, 60554},
        {"sync op", "ModifySynchronization", "ModifySynchronization:2", 5, "exch_log", "clone_log",
         [](Device& d) { return d.snap.SnapSyncOp(2, false); }, 6, 0},
        {"delete clone", "ReturnToStoragePool", "ReturnToStoragePool", 5, "exch_log", "clone_log",
         [](Device& d) { return d.snap.SnapDelete(); }, 21, 0},
        {"delete snapshot", "ModifySynchronization", "ModifySynchronization:2", 4, "small_lun",
         "snap_small", [](Device& d) { return d.snap.SnapDelete(); }, 21, 0},
    };
    struct Fault {
        const char* name;
        std::function<void(sim::TestServer&, const Operation&)> arm;
        bool changed;  // the provider did the work before failing
    };
    const Fault faults[] = {
        {"failure return",
         [](sim::TestServer& s, const Operation& o) {
             s.failReturnValue(4, 1, {"InvokeMethod", o.method, ""});
         },
         false},
        {"job ends in exception",
         [](sim::TestServer& s, const Operation& o) {
             s.provider().setJobMode(o.jobMode, true);
             s.failNextJobs(1, 10);
         },
         false},
        {"closed unanswered",
         [](sim::TestServer& s, const Operation& o) {
             // The client sends a call again once when a kept-alive connection
             // closes before any answer; both go unanswered.
             s.addFault(sim::FaultKind::Close, 2, {"InvokeMethod", o.method, ""});
         },
         false},
        {"cut off after the change",
         [](sim::TestServer& s, const Operation& o) {
             s.addFault(sim::FaultKind::Truncated, 1, {"InvokeMethod", o.method, ""});
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
            f.arm(sim, op);
            Device dev(sim);
            Bind(dev, op.source, op.target, op.snapOperation);
            dev.snap.m_SnapName = "clone_new";
            EXPECT_EQ(op.call(dev), op.failure) << row;
            EXPECT_EQ(dev.info.errorCode(), op.hostError) << row;
            const nlohmann::json after = Json(State());
            // A cut-off answer may also leave the change to a job still running.
            const bool earlier = Changes(Json(before), after) == "[]";
            const bool complete = after["volumes"].size() == done["volumes"].size() &&
                                  after["syncs"].size() == done["syncs"].size();
            EXPECT_TRUE(f.changed ? earlier || complete : earlier)
                << row << Changes(Json(before), after);
            if (op.failure == 21) {
                EXPECT_EQ(dev.snap.SnapDelete(), 20) << row;
                EXPECT_EQ(Changes(done, Json(State())), "[]") << row;
            }
        }
    }
}

}  // namespace
}  // namespace clonetest
