// Synchronization control and deletion on the simulated array: what each operation
// sends, what it changes (exactly the asked object and its own associations), and
// that a repeat after success converges.
#include <functional>
#include <string>

#include "CloneSuite.h"

namespace clonetest {
namespace {

using Op = std::function<int(Device&)>;

class Roads : public Suite {};

TEST_F(Roads, DeleteDetachesSnapshotsAndReturnsClonesToThePool) {
    struct Row {
        const char* name;
        int operation;
        const char* source;
        const char* target;
        bool withPath;
        const char* method;  // the one call that does the work
        const char* param;
        std::string sent;
        const char* never;
    };
    const Row rows[] = {
        {"snapshot by uuid", 4, "small_lun", "snap_small", false, "ModifySynchronization",
         "Operation", "uint16:2", "ReturnToStoragePool"},
        {"snapshot by path", 4, "small_lun", "snap_small", true, "ModifySynchronization",
         "Operation", "uint16:2", "ReturnToStoragePool"},
        {"clone by uuid", 5, "exch_log", "clone_log", false, "ReturnToStoragePool", "TheElement",
         "", "ModifySynchronization"},
        {"clone by path", 5, "exch_log", "clone_log", true, "ReturnToStoragePool", "TheElement", "",
         "ModifySynchronization"},
    };
    for (const Row& r : rows) {
        sim.reset();
        const sim::Array before = State();
        Device dev(sim);
        Bind(dev, r.source, r.target, r.operation);
        if (r.withPath) dev.snap.m_TargetDevPath = PathOf(dev, dev.snap.m_TargetDev);
        EXPECT_EQ(dev.snap.SnapDelete(), 20) << r.name;
        const auto calls = Calls(r.method);
        ASSERT_EQ(calls.size(), 1u) << r.name;
        if (!r.sent.empty()) {
            EXPECT_EQ(ParamText(calls[0], r.param), r.sent) << r.name;
        }
        EXPECT_NE(ParamText(calls[0], r.param), "absent") << r.name;
        EXPECT_EQ(Invocations(r.never), 0u) << r.name;
        EXPECT_EQ(Changes(Without(before, dev.snap.m_TargetDev), Json(State())), "[]") << r.name;

        // Done once, a repeat finds the target gone and calls nothing.
        EXPECT_EQ(dev.snap.SnapDelete(), 20) << r.name;
        EXPECT_EQ(Calls(r.method).size(), 1u) << r.name;
    }
}

TEST_F(Roads, AMappedCloneIsNeverReturnedToThePool) {
    const nlohmann::json before = Json(State());
    Device dev(sim);
    Bind(dev, "ora_log", "clone_mapped", 5);
    EXPECT_EQ(dev.snap.SnapDelete(), 21);
    EXPECT_EQ(dev.info.errorCode(), 60551);
    EXPECT_TRUE(dev.logged("delete failed, Host mappings found"));
    EXPECT_EQ(Invocations("ReturnToStoragePool"), 0u);
    EXPECT_EQ(Changes(before, Json(State())), "[]");
}

// Each synchronization operation sends its operation on the pair's synchronization and
// changes no volume; a detach removes exactly the pair's synchronization.
TEST_F(Roads, SynchronizationOperationsActOnThePairOnly) {
    struct Row {
        const char* name;
        int operation;
        const char* source;
        const char* target;
        Op call;
        int expected;
        std::string sent;
        bool dropsSync;
    };
    const Row rows[] = {
        {"detach a clone", 5, "exch_log", "clone_log",
         [](Device& d) { return d.snap.SnapSyncOp(2, false); }, 5, "uint16:2", true},
        {"quiesce a snapshot", 4, "small_lun", "snap_small",
         [](Device& d) { return d.snap.SnapSyncOp(8, false); }, 5, "uint16:8", false},
        {"restart a snapshot", 4, "small_lun", "snap_small",
         [](Device& d) { return d.snap.SnapSyncOp(4, false); }, 5, "uint16:4", false},
        {"restore from a snapshot", 6, "small_lun", "snap_small",
         [](Device& d) { return d.snap.SnapRestore(0); }, 22, "uint16:5", false},
        {"detach a snapshot", 4, "small_lun", "snap_small",
         [](Device& d) { return d.snap.DetachSnap(); }, 20, "uint16:2", false},
    };
    for (const Row& r : rows) {
        sim.reset();
        const sim::Array before = State();
        Device dev(sim);
        Bind(dev, r.source, r.target, r.operation);
        dev.snap.m_SourceDevPath = PathOf(dev, dev.snap.m_SourceDev);
        dev.snap.m_TargetDevPath = PathOf(dev, dev.snap.m_TargetDev);
        EXPECT_EQ(r.call(dev), r.expected) << r.name;
        const auto calls = Calls("ModifySynchronization");
        ASSERT_EQ(calls.size(), 1u) << r.name;
        EXPECT_EQ(ParamText(calls[0], "Operation"), r.sent) << r.name;
        const sim::Array after = State();
        if (r.dropsSync) {
            EXPECT_EQ(after.syncs.size() + 1, before.syncs.size()) << r.name;
            EXPECT_EQ(Json(after)["volumes"], Json(before)["volumes"]) << r.name;
        }
    }
}

TEST_F(Roads, NoWaitTakesAStartedJobAsDoneWithoutReadingIt) {
    sim.failReturnValue(4096, 1, {"", "ModifySynchronization", ""});
    Device dev(sim);
    Bind(dev, "exch_log", "clone_log", 5);
    EXPECT_EQ(dev.snap.SnapSyncOp(2, true), 5);
    const auto all = sim.requests();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back().method, "ModifySynchronization");
}

}  // namespace
}  // namespace clonetest
