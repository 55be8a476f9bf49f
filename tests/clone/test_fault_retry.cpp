// "RK_PEGASUS_FAULT_RETRY": each operation's throw-away call carries its invalid value,
// is refused and changes nothing; a delete's repeated call finds the work done.
#include <string>

#include "CloneSuite.h"

namespace clonetest {
namespace {

class FaultRetry : public Suite {};

TEST_F(FaultRetry, ThrowAwayCallsAreRefusedAndChangeNothing) {
    testsupport::TalonConfig retry("RK_PEGASUS_FAULT_RETRY = 1\n");
    struct Row {
        const char* op;
        int operation;
        const char* source;
        const char* target;
        int expected;
        const char* method;
        size_t calls;       // reaching the provider
        const char* param;  // of the throw-away call; null when there is none
        const char* invalid;
        int volumes, syncs;  // what the real call changed
    };
    // clang-format off
    const Row rows[] = {
        {"sync 2", 5, "exch_log", "clone_log", 5, "ModifySynchronization", 2, "Operation", "uint16:55", 0, -1},
        {"restore", 6, "small_lun", "snap_small", 22, "ModifySynchronization", 2, "Operation", "uint16:55", 0, 0},
        {"create", 5, "exch_log", "", 1, "CreateOrModifyElementFromStoragePool", 2, "Size", "uint64:0", 1, 0},
        {"attach", 5, "exch_log", "spare_log", 1, "AttachOrModifyReplica", 2, "CopyType", "uint16:55", 0, 1},
        // The first call of a delete does the work; the repeat finds the target gone.
        {"delete", 4, "small_lun", "snap_small", 20, "ModifySynchronization", 1, nullptr, "", -1, -1},
        {"delete", 5, "exch_log", "clone_log", 20, "ReturnToStoragePool", 1, nullptr, "", -1, -1},
        {"detach", 4, "small_lun", "snap_small", 20, "ModifySynchronization", 1, nullptr, "", -1, -1},
    };
    // clang-format on
    for (const Row& r : rows) {
        const std::string row = std::string(r.op) + " " + r.method;
        sim.reset();
        const sim::Array before = State();
        Device dev(sim);
        Bind(dev, r.source, r.target, r.operation);
        EXPECT_EQ(Perform(dev, r.op), r.expected) << row;
        const auto calls = Calls(r.method);
        ASSERT_EQ(calls.size(), r.calls) << row;
        if (r.param) {
            EXPECT_EQ(ParamText(calls[0], r.param), r.invalid) << row;
            EXPECT_EQ(calls[0].returnValue.value_or(0), 5u) << row;
            EXPECT_NE(ParamText(calls[1], r.param), r.invalid) << row;
        }
        const std::string method = r.method;
        if (method == "AttachOrModifyReplica") {
            EXPECT_EQ(ParamText(calls[0], "TargetElement"), ParamText(calls[0], "SourceElement"));
        }
        if (method == "CreateOrModifyElementFromStoragePool") {
            EXPECT_EQ(ParamText(calls[0], "ElementName"), "string:null");
        }
        const sim::Array after = State();
        EXPECT_EQ(after.volumes.size() - before.volumes.size(), static_cast<size_t>(r.volumes))
            << row;
        EXPECT_EQ(after.syncs.size() - before.syncs.size(), static_cast<size_t>(r.syncs)) << row;
    }
}

}  // namespace
}  // namespace clonetest
