// What the operations refuse before any method call: missing members, a target that
// is gone (only when the provider says so), a mapped clone, and a target that is the
// source or another volume than the one named.
#include <string>

#include "CloneSuite.h"

namespace clonetest {
namespace {

class Guards : public Suite {};

TEST_F(Guards, MissingMembersFailWithoutAnyRequest) {
    struct Row {
        const char* op;
        int operation;
        const char* source;
        const char* target;
        int expected;
    };
    // clang-format off
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

// "Deleted" only for a volume the provider says it does not have; a rejected read, a
// mapped clone, the source itself or a path naming another volume fail, and no method
// reaches the array.
TEST_F(Guards, DeleteCountsOnlyAnAnsweredAbsenceAsDeleted) {
    Device probe(sim);
    const std::string clone = probe.volume("clone_log").uuid;
    const std::string source = probe.volume("exch_log").uuid;
    const std::string gone = sim::makeVolumeUuid("never-created");
    const std::string clonePath = PathOf(probe, clone);
    std::string gonePath = clonePath;
    gonePath.replace(gonePath.find(clone), gone.size(), gone);
    const sim::RequestKey volumes{"EnumerateInstances", "", "CIM_StorageVolume"};
    const sim::RequestKey reads{"GetInstance", "", ""};
    const sim::RequestKey mappings{"AssociatorNames", "", ""};
    const sim::RequestKey none;
    struct Row {
        const char* name;
        const char* op;
        int operation;
        std::string target;
        std::string path;
        const sim::RequestKey& rejected;  // answered 401 when not empty
        int expected;
        int hostError;
    };
    // clang-format off
    const Row rows[] = {
        {"clone gone", "delete", 5, gone, "", none, 20, 0},
        {"clone gone by path", "delete", 5, gone, gonePath, none, 20, 0},
        {"snapshot gone", "delete", 4, gone, "", none, 20, 0},
        {"detach of a gone snapshot", "detach", 4, gone, "", none, 0, 60542},
        {"volumes unreadable", "delete", 5, clone, "", volumes, 21, 60555},
        {"path unreadable", "delete", 5, clone, clonePath, reads, 21, 60555},
        {"mappings unreadable", "delete", 5, clone, "", mappings, 21, 60555},
        {"mapped clone", "delete", 5, probe.volume("clone_mapped").uuid, "", none, 21, 60551},
        {"target is the source", "delete", 5, source, "", none, 21, 0},
        {"path names another volume", "delete", 5, clone, PathOf(probe, source), none, 21, 0},
    };
    // clang-format on
    const nlohmann::json before = Json(State());
    for (const Row& r : rows) {
        sim.reset();
        if (!r.rejected.operation.empty()) sim.failHttp(401, -1, r.rejected);
        Device dev(sim);
        Bind(dev, "exch_log", "", r.operation);
        dev.snap.m_TargetDev = r.target;
        dev.snap.m_TargetDevPath = r.path;
        EXPECT_EQ(Perform(dev, r.op), r.expected) << r.name;
        EXPECT_EQ(dev.info.errorCode(), r.hostError) << r.name;
        EXPECT_EQ(Calls("").size(), 0u) << r.name;
        EXPECT_EQ(Changes(before, Json(State())), "[]") << r.name;
    }
}

}  // namespace
}  // namespace clonetest
