// "RK_PEGASUS_FAULT_RETRY": each operation's throw-away call carries its invalid value,
// is refused and changes nothing; the deletes' repeated call finds the work done.
#include <functional>
#include <string>

#include "CloneSuite.h"

namespace clonetest {
namespace {

using Op = std::function<int(Device&)>;

class FaultRetry : public Suite {};

TEST_F(FaultRetry, ThrowAwayCallsAreRefusedAndChangeNothing) {
    testsupport::TalonConfig retry("RK_PEGASUS_FAULT_RETRY = 1\n");
    struct Row {
        const char* name;
        int operation;
        const char* source;
        const char* target;
        Op call;
        int expected;
        const char* method;
        size_t calls;         // reaching the provider
        const char* param;    // of the throw-away call, when there is one
        std::string invalid;  // its value
        int volumes, syncs;   // what the real call changed
    };
    const Row rows[] = {
        {"sync op", 5, "exch_log", "clone_log",
         [](Device& d) { return d.snap.SnapSyncOp(2, false); }, 5, "ModifySynchronization", 2,
         "Operation", "uint16:55", 0, -1},
        {"restore", 6, "small_lun", "snap_small", [](Device& d) { return d.snap.SnapRestore(0); },
         22, "ModifySynchronization", 2, "Operation", "uint16:55", 0, 0},
        {"create", 5, "exch_log", "", [](Device& d) { return d.snap.CreateCloneVolume(); }, 1,
         "CreateOrModifyElementFromStoragePool", 2, "Size", "uint64:0", 1, 0},
        {"attach", 5, "exch_log", "spare_log",
         [](Device& d) { return d.snap.AttachCloneVolume("4"); }, 1, "AttachOrModifyReplica", 2,
         "CopyType", "uint16:55", 0, 1},
        // The first call of a delete does the work; the repeat finds the target gone.
        {"delete detaches", 4, "small_lun", "snap_small",
         [](Device& d) { return d.snap.SnapDelete(); }, 20, "ModifySynchronization", 1, nullptr, "",
         -1, -1},
        {"delete returns", 5, "exch_log", "clone_log",
         [](Device& d) { return d.snap.SnapDelete(); }, 20, "ReturnToStoragePool", 1, nullptr, "",
         -1, -1},
        {"detach makes none", 4, "small_lun", "snap_small",
         [](Device& d) { return d.snap.DetachSnap(); }, 20, "ModifySynchronization", 1, nullptr, "",
         -1, -1},
    };
    for (const Row& r : rows) {
        sim.reset();
        const sim::Array before = State();
        Device dev(sim);
        Bind(dev, r.source, r.target, r.operation);
        dev.snap.m_SnapName = "clone_new";
        EXPECT_EQ(r.call(dev), r.expected) << r.name;
        const auto calls = Calls(r.method);
        ASSERT_EQ(calls.size(), r.calls) << r.name;
        if (r.param) {
            EXPECT_EQ(ParamText(calls[0], r.param), r.invalid) << r.name;
            EXPECT_EQ(calls[0].returnValue.value_or(0), 5u) << r.name;
            EXPECT_NE(ParamText(calls[1], r.param), r.invalid) << r.name;
        }
        if (std::string(r.method) == "AttachOrModifyReplica") {
            EXPECT_EQ(ParamText(calls[0], "TargetElement"), ParamText(calls[0], "SourceElement"));
        }
        if (std::string(r.method) == "CreateOrModifyElementFromStoragePool") {
            EXPECT_EQ(ParamText(calls[0], "ElementName"), "string:null");
        }
        const sim::Array after = State();
        EXPECT_EQ(static_cast<int>(after.volumes.size() - before.volumes.size()), r.volumes)
            << r.name;
        EXPECT_EQ(static_cast<int>(after.syncs.size() - before.syncs.size()), r.syncs) << r.name;
    }
}

}  // namespace
}  // namespace clonetest
