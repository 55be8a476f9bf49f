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
        const char* op;
        int operation;
        const char* source;
        const char* target;
        const char* method;
        const char* jobMode;  // made to answer with a job for the job fault
        int failure;
        int hostError;
    };
    // clang-format off
    const Operation operations[] = {
        {"create", 5, "small_lun", "", "CreateOrModifyElementFromStoragePool", "CreateOrModifyElementFromStoragePool", 0, 60553},
        {"attach", 5, "exch_log", "spare_log", "AttachOrModifyReplica", "AttachOrModifyReplica", 0, 60554},
        {"sync 2", 5, "exch_log", "clone_log", "ModifySynchronization", "ModifySynchronization:2", 6, 0},
        {"delete", 5, "exch_log", "clone_log", "ReturnToStoragePool", "ReturnToStoragePool", 21, 0},
        {"delete", 4, "small_lun", "snap_small", "ModifySynchronization", "ModifySynchronization:2", 21, 0},
    };
    // clang-format on
    struct Fault {
        const char* name;
        std::function<void(sim::TestServer&, const Operation&)> arm;
        bool changed;  // the provider did the work before failing
    };
    auto at = [](const Operation& o) { return sim::RequestKey{"InvokeMethod", o.method, ""}; };
    // clang-format off
    const Fault faults[] = {
        {"failure return", [&](sim::TestServer& s, const Operation& o) { s.failReturnValue(4, 1, at(o)); }, false},
        {"job ends in exception",
         [](sim::TestServer& s, const Operation& o) {
             s.provider().setJobMode(o.jobMode, true);
             s.failNextJobs(1, 10);
         },
         false},
        // The call may have been carried out: the client never sends it again.
        {"closed unanswered", [&](sim::TestServer& s, const Operation& o) { s.addFault(sim::FaultKind::Close, 1, at(o)); }, false},
        {"cut off after the change", [&](sim::TestServer& s, const Operation& o) { s.addFault(sim::FaultKind::Truncated, 1, at(o)); }, true},
    };
    // clang-format on
    for (const Operation& op : operations) {
        // What the operation does when nothing fails.
        sim.reset();
        const nlohmann::json before = Json(State());
        {
            Device dev(sim);
            Bind(dev, op.source, op.target, op.operation);
            ASSERT_NE(Perform(dev, op.op), op.failure) << op.method;
        }
        const nlohmann::json done = Json(State());

        for (const Fault& f : faults) {
            const std::string row = std::string(op.op) + " " + op.method + ", " + f.name;
            sim.reset();
            f.arm(sim, op);
            Device dev(sim);
            Bind(dev, op.source, op.target, op.operation);
            EXPECT_EQ(Perform(dev, op.op), op.failure) << row;
            EXPECT_EQ(dev.info.errorCode(), op.hostError) << row;
            EXPECT_TRUE(dev.snap.m_SyncPath.empty()) << row;
            // A cut-off answer may also leave the change to a job still running.
            const nlohmann::json after = Json(State());
            const bool earlier = Changes(before, after) == "[]";
            const bool complete = after["volumes"].size() == done["volumes"].size() &&
                                  after["syncs"].size() == done["syncs"].size();
            EXPECT_TRUE(f.changed ? earlier || complete : earlier) << row << Changes(before, after);
            if (op.failure == 21) {
                EXPECT_EQ(Perform(dev, "delete"), 20) << row;
                EXPECT_EQ(Changes(done, Json(State())), "[]") << row;
            }
        }
    }
}

}  // namespace
}  // namespace clonetest
