// What the operations refuse before any method call: missing members, a target that
// is gone (only when the provider says so), and a target that is the source or
// another volume than the one named.
#include <functional>
#include <string>

#include "CloneSuite.h"

namespace clonetest {
namespace {

using Op = std::function<int(Device&)>;

class Guards : public Suite {};

TEST_F(Guards, MissingMembersFailWithoutAnyRequest) {
    struct Row {
        const char* name;
        int operation;
        const char* source;
        const char* target;
        Op call;
        int expected;
    };
    const Row rows[] = {
        {"sync op without operation", 99, "small_lun", "snap_small",
         [](Device& d) { return d.snap.SnapSyncOp(4, false); }, 23},
        {"sync op without target", 4, "small_lun", "",
         [](Device& d) { return d.snap.SnapSyncOp(4, false); }, 23},
        {"restore of a snapshot request", 4, "small_lun", "snap_small",
         [](Device& d) { return d.snap.SnapRestore(0); }, 23},
        {"delete without target", 5, "exch_log", "", [](Device& d) { return d.snap.SnapDelete(); },
         21},
        {"detach without source", 4, "", "snap_small",
         [](Device& d) { return d.snap.DetachSnap(); }, 21},
        {"clone without name", 5, "exch_log", "",
         [](Device& d) { return d.snap.CreateCloneVolume(); }, 0},
        {"attach without target", 5, "exch_log", "",
         [](Device& d) { return d.snap.AttachCloneVolume("4"); }, 0},
    };
    for (const Row& r : rows) {
        Device dev(sim);
        Bind(dev, r.source, r.target, r.operation);
        dev.snap.m_SnapName.clear();
        EXPECT_EQ(r.call(dev), r.expected) << r.name;
        EXPECT_TRUE(dev.logged("Invalid Parameters")) << r.name;
        EXPECT_TRUE(sim.requests().empty()) << r.name;
    }
}

// A delete reports "deleted" only for a volume the provider says it does not have;
// a rejected read, the source itself or a path naming another volume fail, and
// nothing reaches the array.
TEST_F(Guards, DeleteCountsOnlyAnAnsweredAbsenceAsDeleted) {
    Device probe(sim);
    const std::string gone = sim::makeVolumeUuid("never-created");
    std::string gonePath = PathOf(probe, probe.volume("clone_log").uuid);
    gonePath.replace(gonePath.find(probe.volume("clone_log").uuid), gone.size(), gone);
    const sim::RequestKey volumes{"EnumerateInstances", "", "CIM_StorageVolume"};
    const sim::RequestKey reads{"GetInstance", "", ""};
    struct Row {
        const char* name;
        int operation;
        std::string target;
        std::string targetPath;
        const sim::RequestKey* reject;  // answered 401
        Op call;
        int expected;
        int hostError;
    };
    auto del = [](Device& d) { return d.snap.SnapDelete(); };
    auto detach = [](Device& d) { return d.snap.DetachSnap(); };
    const std::string clone = probe.volume("clone_log").uuid;
    const std::string source = probe.volume("exch_log").uuid;
    const Row rows[] = {
        {"clone gone by uuid", 5, gone, "", nullptr, del, 20, 0},
        {"clone gone by path", 5, gone, gonePath, nullptr, del, 20, 0},
        {"snapshot gone by uuid", 4, gone, "", nullptr, del, 20, 0},
        {"detach of a gone snapshot", 4, gone, "", nullptr, detach, 0, 60542},
        {"volumes unreadable", 5, clone, "", &volumes, del, 21, 60555},
        {"path unreadable", 5, clone, PathOf(probe, clone), &reads, del, 21, 60555},
        {"target is the source", 5, source, "", nullptr, del, 21, 0},
        {"path names another volume", 5, clone, PathOf(probe, source), nullptr, del, 21, 0},
    };
    const nlohmann::json before = Json(State());
    for (const Row& r : rows) {
        sim.reset();
        if (r.reject) sim.failHttp(401, -1, *r.reject);
        Device dev(sim);
        Bind(dev, "exch_log", "", r.operation);
        dev.snap.m_TargetDev = r.target;
        dev.snap.m_TargetDevPath = r.targetPath;
        EXPECT_EQ(r.call(dev), r.expected) << r.name;
        EXPECT_EQ(dev.info.errorCode(), r.hostError) << r.name;
        EXPECT_EQ(Invocations(""), 0u) << r.name;
        EXPECT_EQ(Changes(before, Json(State())), "[]") << r.name;
    }
}

}  // namespace
}  // namespace clonetest
