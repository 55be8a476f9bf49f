// Synchronization control and deletion of older-engine snapshots and clones.
#include "CloneSuite.h"

namespace clonetest {
namespace {

class Roads : public Suite {};

// Each operation sends its "Operation" on the pair's synchronization, nothing else.
TEST_F(Roads, SynchronizationOperationsActOnThePairOnly) {
    // startsJob: answered 4096 without a job to read
    struct Row {
        const char* op;
        int operation;
        const char *source, *target;
        int expected;
        const char* sent;
        bool startsJob;
    };
    // clang-format off
    const Row rows[] = {
        {"sync 2", 5, "exch_log", "clone_log", 5, "uint16:2", false},
        {"sync 8", 4, "small_lun", "snap_small", 5, "uint16:8", false},
        {"sync 4", 4, "small_lun", "snap_small", 5, "uint16:4", false},
        {"restore", 6, "small_lun", "snap_small", 22, "uint16:5", false},
        {"sync 2 nowait", 5, "exch_log", "clone_log", 5, "uint16:2", true},
    };
    // clang-format on
    for (const Row& r : rows) {
        sim.reset();
        if (r.startsJob) sim.failReturnValue(4096, 1, {"", "ModifySynchronization", ""});
        const sim::Array before = State();
        Device dev(sim);
        Bind(dev, r.source, r.target, r.operation);
        dev.snap.m_SourceDevPath = PathOf(dev, dev.snap.m_SourceDev);
        dev.snap.m_TargetDevPath = PathOf(dev, dev.snap.m_TargetDev);
        EXPECT_EQ(Perform(dev, r.op), r.expected) << r.op;
        EXPECT_EQ(dev.snap.m_SnapStatus, r.expected) << r.op;
        const auto calls = Calls("ModifySynchronization");
        ASSERT_EQ(calls.size(), 1u) << r.op;
        EXPECT_EQ(ParamText(calls[0], "Operation"), r.sent) << r.op;
        EXPECT_TRUE(!r.startsJob || sim.requests().back().method == "ModifySynchronization")
            << r.op << ": a job not waited for is never read";
        // Besides the pair's own synchronization (gone after a clone's detach), nothing changed.
        const int pair = std::string(r.source) == "exch_log" ? 1 : 0;
        nlohmann::json expected = Json(before), actual = Json(State());
        expected["syncs"].erase(pair);
        if (r.operation != 5 || r.startsJob) actual["syncs"].erase(pair);
        EXPECT_EQ(Changes(expected, actual), "[]") << r.op;
    }
}

TEST_F(Roads, MissingMembersFailWithoutAnyRequest) {
    // clang-format off
    struct Row { const char* op; int operation; const char *source, *target; int expected; };
    const Row rows[] = {
        {"sync 4", 99, "small_lun", "snap_small", 23},  // no operation requested
        {"sync 4", 4, "small_lun", "", 23},
        {"restore", 4, "small_lun", "snap_small", 23},  // a snapshot request, not a restore
        {"delete", 5, "exch_log", "", 21},
        {"detach", 4, "", "snap_small", 21},
        {"create", 5, "", "", 0},
        {"attach", 5, "exch_log", "", 0},
    };
    // clang-format on
    for (const Row& r : rows) {
        Device dev(sim);
        Bind(dev, r.source, r.target, r.operation);
        EXPECT_EQ(Perform(dev, r.op), r.expected) << r.op << " " << r.operation;
        EXPECT_TRUE(dev.logged("Invalid Parameters")) << r.op;
        EXPECT_TRUE(sim.requests().empty()) << r.op;
    }
}

// "Deleted" without a call only for a volume the provider says it does not have.
TEST_F(Roads, DeleteActsOnlyOnItsTargetAndOnlyAnAnsweredAbsenceCounts) {
    Device probe(sim);
    const std::string clone = probe.volume("clone_log").uuid;
    const std::string snap = probe.volume("snap_small").uuid;
    const std::string source = probe.volume("exch_log").uuid;
    const std::string gone = sim::makeVolumeUuid("never-created");
    const std::string clonePath = PathOf(probe, clone);
    std::string gonePath = clonePath;  // names no volume
    gonePath.replace(gonePath.find(clone), gone.size(), gone);
    // rejected: answered 401 when not empty; method, param, sent: the one call made, or none
    struct Row {
        const char *name, *op;
        int operation;
        const char* source;
        std::string target, path;
        sim::RequestKey rejected;
        int expected, hostError;
        const char *method, *param, *sent;
    };
    // clang-format off
    const Row rows[] = {
        {"snapshot", "delete", 4, "small_lun", snap, "", {}, 20, 0, "ModifySynchronization", "Operation", "uint16:2"},
        {"clone", "delete", 5, "exch_log", clone, "", {}, 20, 0, "ReturnToStoragePool", "TheElement", "reference"},
        {"clone by path", "delete", 5, "exch_log", clone, clonePath, {}, 20, 0, "ReturnToStoragePool", "TheElement", "reference"},
        {"clone by a stale path", "delete", 5, "exch_log", clone, gonePath, {}, 20, 0, "ReturnToStoragePool", "TheElement", "reference"},
        {"clone gone", "delete", 5, "exch_log", gone, "", {}, 20, 0, nullptr, "", ""},
        {"clone gone by path", "delete", 5, "exch_log", gone, gonePath, {}, 20, 0, nullptr, "", ""},
        {"snapshot gone", "delete", 4, "exch_log", gone, "", {}, 20, 0, nullptr, "", ""},
        {"detach of a gone snapshot", "detach", 4, "exch_log", gone, "", {}, 0, 60542, nullptr, "", ""},
        {"volumes unreadable", "delete", 5, "exch_log", clone, "", {"EnumerateInstances", "", "CIM_StorageVolume"}, 21, 60555, nullptr, "", ""},
        {"path unreadable", "delete", 5, "exch_log", clone, clonePath, {"GetInstance", "", ""}, 21, 60555, nullptr, "", ""},
        {"mappings unreadable", "delete", 5, "exch_log", clone, "", {"AssociatorNames", "", ""}, 21, 60555, nullptr, "", ""},
        {"mapped clone", "delete", 5, "exch_log", probe.volume("clone_mapped").uuid, "", {}, 21, 60551, nullptr, "", ""},
        {"target is the source", "delete", 5, "exch_log", source, "", {}, 21, 0, nullptr, "", ""},
        {"path names another volume", "delete", 5, "exch_log", clone, PathOf(probe, source), {}, 21, 0, nullptr, "", ""},
    };
    // clang-format on
    const sim::Array before = State();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        sim.reset();
        if (!r.rejected.operation.empty()) sim.failHttp(401, -1, r.rejected);
        Device dev(sim);
        Bind(dev, r.source, "", r.operation);
        dev.snap.m_TargetDev = r.target;
        dev.snap.m_TargetDevPath = r.path;
        EXPECT_EQ(Perform(dev, r.op), r.expected);
        EXPECT_EQ(dev.info.errorCode(), r.hostError);
        const auto calls = Calls("");
        ASSERT_EQ(calls.size(), r.method ? 1u : 0u);
        if (r.method) {
            EXPECT_EQ(calls[0].method, r.method);
            EXPECT_EQ(ParamText(calls[0], r.param).rfind(r.sent, 0), 0u);
        }
        EXPECT_EQ(Changes(r.method ? Without(before, r.target) : Json(before), Json(State())),
                  "[]");
    }
}

// Half-way failures leave the array whole and a repeated delete converges.
TEST_F(Roads, HalfWayFailuresAndThrowAwayCallsLeaveTheArrayWhole) {
    // jobMode: made to answer with a job for the job fault, null: no faults; param, invalid: of the
    // throw-away call, null when there is none
    struct Operation {
        const char* op;
        int operation;
        const char *source, *target, *method;
        const char* jobMode;
        int failure, hostError;
        const char *param, *invalid;
    };
    // clang-format off
    const Operation operations[] = {
        {"create", 5, "small_lun", "", "CreateOrModifyElementFromStoragePool", "CreateOrModifyElementFromStoragePool", 0, 60553, "Size", "uint64:0"},
        {"attach", 5, "exch_log", "spare_log", "AttachOrModifyReplica", "AttachOrModifyReplica", 0, 60554, "CopyType", "uint16:55"},
        {"sync 2", 5, "exch_log", "clone_log", "ModifySynchronization", "ModifySynchronization:2", 6, 0, "Operation", "uint16:55"},
        {"restore", 6, "small_lun", "snap_small", "ModifySynchronization", nullptr, 0, 0, "Operation", "uint16:55"},
        // The first call of a delete does the work; the repeat finds the target gone.
        {"delete", 5, "exch_log", "clone_log", "ReturnToStoragePool", "ReturnToStoragePool", 21, 0, nullptr, ""},
        {"delete", 4, "small_lun", "snap_small", "ModifySynchronization", "ModifySynchronization:2", 21, 0, nullptr, ""},
        {"detach", 4, "small_lun", "snap_small", "ModifySynchronization", nullptr, 0, 0, nullptr, ""},
    };
    // changed: the provider did the work before failing
    struct Fault { const char* name; std::function<void(sim::TestServer&, const Operation&)> arm; bool changed; };
    auto at = [](const Operation& o) { return sim::RequestKey{"InvokeMethod", o.method, ""}; };
    const Fault faults[] = {
        {"failure return", [&](sim::TestServer& s, const Operation& o) { s.failReturnValue(4, 1, at(o)); }, false},
        {"job ends in exception", [](sim::TestServer& s, const Operation& o) { s.provider().setJobMode(o.jobMode, true); s.failNextJobs(1, 10); }, false},
        // The call may have been carried out: the client never sends it again.
        {"closed unanswered", [&](sim::TestServer& s, const Operation& o) { s.addFault(sim::FaultKind::Close, 1, at(o)); }, false},
        {"cut off after the change", [&](sim::TestServer& s, const Operation& o) { s.addFault(sim::FaultKind::Truncated, 1, at(o)); }, true},
    };
    // clang-format on
    for (const Operation& op : operations) {
        const std::string name = std::string(op.op) + " " + op.method;
        // What the operation does when nothing fails.
        sim.reset();
        const nlohmann::json before = Json(State());
        int result = 0;
        {
            Device dev(sim);
            Bind(dev, op.source, op.target, op.operation);
            result = Perform(dev, op.op);
            ASSERT_NE(result, op.failure) << name;
        }
        const nlohmann::json done = Json(State());
        {
            testsupport::TalonConfig retry("RK_PEGASUS_FAULT_RETRY = 1\n");
            sim.reset();
            Device dev(sim);
            Bind(dev, op.source, op.target, op.operation);
            EXPECT_EQ(Perform(dev, op.op), result) << name << ", throw-away first";
            const auto calls = Calls(op.method);
            ASSERT_EQ(calls.size(), op.param ? 2u : 1u) << name << ", throw-away first";
            if (op.param) {
                EXPECT_EQ(ParamText(calls[0], op.param), op.invalid) << name;
                EXPECT_EQ(calls[0].returnValue.value_or(0), 5u) << name;
                EXPECT_NE(ParamText(calls[1], op.param), op.invalid) << name;
            }
            EXPECT_EQ(Changes(done, Json(State())), "[]") << name << ", throw-away first";
        }
        for (const Fault& f : faults) {
            if (!op.jobMode) break;
            const std::string row = name + ", " + f.name;
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
