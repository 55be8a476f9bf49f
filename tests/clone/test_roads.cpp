// Synchronization control and deletion on the simulated array: what each operation
// sends, and that it changes only the asked object and its own associations.
#include <string>

#include "CloneSuite.h"

namespace clonetest {
namespace {

class Roads : public Suite {};

TEST_F(Roads, DeleteDetachesSnapshotsAndReturnsClonesToThePool) {
    struct Row {
        const char* name;
        int operation;
        const char* source;
        const char* target;
        const char* path;    // "", "real" or "stale" (naming no volume)
        const char* method;  // the one call that does the work
        const char* param;
        const char* sent;
        const char* never;
    };
    // clang-format off
    const Row rows[] = {
        {"snapshot", 4, "small_lun", "snap_small", "", "ModifySynchronization", "Operation", "uint16:2", "ReturnToStoragePool"},
        {"snapshot by path", 4, "small_lun", "snap_small", "real", "ModifySynchronization", "Operation", "uint16:2", "ReturnToStoragePool"},
        {"clone", 5, "exch_log", "clone_log", "", "ReturnToStoragePool", "TheElement", "reference", "ModifySynchronization"},
        {"clone by path", 5, "exch_log", "clone_log", "real", "ReturnToStoragePool", "TheElement", "reference", "ModifySynchronization"},
        {"clone by a stale path", 5, "exch_log", "clone_log", "stale", "ReturnToStoragePool", "TheElement", "reference", "ModifySynchronization"},
    };
    // clang-format on
    for (const Row& r : rows) {
        sim.reset();
        const sim::Array before = State();
        Device dev(sim);
        Bind(dev, r.source, r.target, r.operation);
        const std::string uuid = dev.snap.m_TargetDev, path = r.path;
        if (!path.empty()) dev.snap.m_TargetDevPath = PathOf(dev, uuid);
        if (path == "stale") {
            const std::string other = sim::makeVolumeUuid("elsewhere");
            dev.snap.m_TargetDevPath.replace(dev.snap.m_TargetDevPath.find(uuid), other.size(),
                                             other);
        }
        EXPECT_EQ(Perform(dev, "delete"), 20) << r.name;
        const auto calls = Calls(r.method);
        ASSERT_EQ(calls.size(), 1u) << r.name;
        EXPECT_EQ(ParamText(calls[0], r.param).rfind(r.sent, 0), 0u) << r.name;
        EXPECT_TRUE(Calls(r.never).empty()) << r.name;
        EXPECT_EQ(Changes(Without(before, dev.snap.m_TargetDev), Json(State())), "[]") << r.name;
    }
}

// Each operation sends its "Operation" on the pair's synchronization and changes
// nothing else.
TEST_F(Roads, SynchronizationOperationsActOnThePairOnly) {
    struct Row {
        const char* op;
        int operation;
        const char* source;
        const char* target;
        int expected;
        const char* sent;
        bool startsJob;  // answered 4096 without a job to read
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
        // A job not waited for is never read.
        if (r.startsJob) {
            EXPECT_EQ(sim.requests().back().method, "ModifySynchronization");
        }
        // Besides the pair's own synchronization (gone after a clone's detach), nothing
        // changed.
        const int pair = std::string(r.source) == "exch_log" ? 1 : 0;
        nlohmann::json expected = Json(before), actual = Json(State());
        expected["syncs"].erase(pair);
        if (r.operation != 5 || r.startsJob) actual["syncs"].erase(pair);
        EXPECT_EQ(Changes(expected, actual), "[]") << r.op;
    }
}

}  // namespace
}  // namespace clonetest
