// PiT deletion (only the oldest of a group goes, none with a view) and PiT status.
#include <list>
#include "testsupport/SimSnapshot.h"

namespace {

using namespace testsupport;

const char* const kVolume = "ora_log";
const char* const kGroup = "5C_1";
constexpr int kSweep = -1;

// PiTs or CG PiTs by age in listed order (none: no group), those kept, those viewed, the target.
struct Scene {
    bool cg = false;
    std::vector<uint64_t> ages;
    std::set<size_t> active;
    std::set<size_t> viewed;
    int target = 0;
};

struct Fixture {
    std::vector<std::string> pits;
    sim::TestServer sim;
    static sim::Config Configure(const Scene& s, std::vector<std::string>& pits) {
        sim::Config c = SimConfig();
        // The second array has a group of the same name and its own PiTs: none may go.
        AddSecondArray(c);
        AddPiTs(c, AddPiTGroup(c, kVolume, 1), {1, 2}, 1);
        AddCgPiTs(c, AddConsistencyGroup(c, kGroup, {kVolume}, 1), {1000, 2000}, 1);
        // Beside the group under test: another group with a viewed PiT.
        AddPiTView(c, AddPiTs(c, AddPiTGroup(c, "exch_db"), {1})[0]);
        const std::vector<int64_t> whens(s.ages.begin(), s.ages.end());
        if (!s.ages.empty())
            pits = s.cg
                       ? AddCgPiTs(c, AddConsistencyGroup(c, kGroup, {kVolume, "ora_data1"}), whens)
                       : AddPiTs(c, AddPiTGroup(c, kVolume), s.ages);
        for (size_t i : s.viewed) s.cg ? AddCgPiTView(c, pits.at(i)) : AddPiTView(c, pits.at(i));
        return c;
    }
    explicit Fixture(const Scene& s) : sim(Configure(s, pits), PlainHttp()) {}
    // A prepared device for the volume, asking to delete the scene's target.
    void Prepare(SimSnapshot& dev, const Scene& s, std::list<std::string>& active) {
        dev.forPiT(kVolume);
        ASSERT_EQ(dev.snap.PreparePiT(), 1);
        dev.snap.m_PiTOperation = 98;
        dev.snap.m_UseConsistencyGroup = s.cg;
        dev.snap.m_ConsistencyGroupName = s.cg ? kGroup : "null";
        dev.snap.m_PiTName = s.target >= 0 && !pits.empty() ? pits.at(s.target) : "none";
        dev.snap.m_SnapStatus = RKSO::SNAP_STATUS_CREATED;
        for (size_t i : s.active) active.push_back(pits.at(i));
        sim.log().clear();
    }
    std::vector<std::string> Ids(const std::vector<size_t>& indexes) const {
        std::vector<std::string> ids;
        for (size_t i : indexes) ids.push_back(pits.at(i));
        return ids;
    }
};

// The PiTs calls deleted, in call order: answered 0, or 4096 with the PiT gone now.
std::vector<std::string> Deleted(const sim::TestServer& sim, const std::vector<std::string>& pits) {
    const std::string state = sim.state().dump();
    std::vector<std::string> ids;
    for (const sim::RequestRecord& r : Calls(sim, "ModifySettingsDefineState")) {
        if (Param(r, "Operation").value != "4") continue;
        if (r.returnValue != 0u && r.returnValue != 4096u) continue;
        for (const std::string& id : pits)
            if (Param(r, "SettingsState").value.find(id) != std::string::npos &&
                (r.returnValue == 0u || state.find(id) == std::string::npos))
                ids.push_back(id);
    }
    return ids;
}

// The state before, less the PiTs named by indexes, is the state now.
void ExpectOnlyGone(const Fixture& f, const nlohmann::json& before, bool cg,
                    const std::vector<size_t>& indexes, const std::string& row) {
    const std::vector<std::string> ids = f.Ids(indexes);
    const auto expected = Without(before, cg ? "cgPits" : "pits", "id", {ids.begin(), ids.end()});
    EXPECT_EQ(nlohmann::json::diff(expected, f.sim.state()), nlohmann::json::array()) << row;
}

TEST(DeletePiT, OldestFirstVirtualDeletionStopsAndRefusals) {
    using Arrange = std::function<void(sim::TestServer&, SimSnapshot&)>;
    // deleted: in order, one call each; swept: by a sweep that follows; none when empty
    struct Row {
        const char* name;
        Scene scene;
        int result;
        RKSO::SnapStatus status;
        std::vector<size_t> deleted;
        const char* trace;
        Arrange arrange = nullptr;
        int hostError = 0;
        std::vector<size_t> swept = {};
    };
    const auto kDeleted = RKSO::SNAP_STATUS_DELETED, kFailed = RKSO::SNAP_STATUS_DELETE_FAILED,
               kCreated = RKSO::SNAP_STATUS_CREATED;
    const Scene three{false, {10, 11, 12}, {}, {}, 0};
    const Scene sweep{false, {10, 11, 12}, {}, {}, kSweep};
    // clang-format off
    const Row rows[] = {
        {"younger PiT: virtual", {false, {10, 11, 12}, {1, 2}, {}, 1}, 20, kDeleted, {}, "Virtually deleting the PiT/ConsistencyGroupPiT["},
        {"oldest, the others active", {false, {10, 11, 12}, {1, 2}, {}, 0}, 20, kDeleted, {0}, "is currently active"},
        {"oldest, 11 deleted virtually, 12 active", {false, {10, 11, 12}, {2}, {}, 0}, 20, kDeleted, {0, 1}, "Deleted [2] PiTs/ConsistencyGroupPiTs"},
        {"oldest viewed", {false, {10, 11, 12}, {}, {0}, 0}, 21, kFailed, {}, "stopping the further deletion"},
        {"sweep, oldest viewed", {false, {10, 11, 12}, {}, {0}, kSweep}, 20, kCreated, {}, "stopping the further deletion"},
        {"a younger view stops the run", {false, {10, 11, 12}, {}, {1}, 0}, 20, kDeleted, {0}, "Deleted [1]"},
        {"sweep, nothing kept", sweep, 20, kDeleted, {0, 1, 2}, "Deleted [3]"},
        {"equal keys keep their listed order", {false, {12, 10, 11, 10}, {0}, {}, 3}, 20, kDeleted, {1, 3, 2}, "Deleted [3]"},
        {"sweep without a group", {false, {}, {}, {}, kSweep}, 20, kCreated, {}, "doesn't exist"},
        {"CG: younger CG PiT: virtual", {true, {1000, 2000, 3000}, {1, 2}, {}, 1}, 20, kDeleted, {}, "Virtually deleting"},
        {"CG: oldest viewed", {true, {1000, 2000, 3000}, {}, {0}, 0}, 21, kFailed, {}, "stopping the further deletion"},
        // The younger CG PiT's own view stops the run: no call is tried on it.
        {"CG: a younger CG view stops the run", {true, {1000, 2000, 3000}, {}, {1}, 0}, 20, kDeleted, {0}, "Deleted [1]"},
        {"CG: equal times keep their listed order", {true, {3000, 1000, 1000}, {}, {}, kSweep}, 20, kDeleted, {1, 2, 0}, "Deleted [3]"},
        {"CG: sweep without a group", {true, {}, {}, {}, kSweep}, 20, kCreated, {}, "doesn't exist"},
        // A failure mid-run keeps what was deleted and leaves the rest for the next sweep.
        {"second call fails", three, 20, kDeleted, {0}, "Deleted [1]", [](sim::TestServer& s, SimSnapshot&) { s.failReturnValue(4, 1, {"InvokeMethod", "ModifySettingsDefineState", ""}, 1); }, 0, {1, 2}},
        {"second job ends in 10", three, 20, kDeleted, {0}, "Deleted [1]", [](sim::TestServer& s, SimSnapshot&) { s.setJobMode("ModifySettingsDefineState:4", true); s.failNextJobs(1, 10, 1); }, 0, {1, 2}},
        {"second call closed unanswered", three, 20, kDeleted, {0}, "Deleted [1]", [](sim::TestServer& s, SimSnapshot&) { s.addFault(sim::FaultKind::Close, 1, {"InvokeMethod", "ModifySettingsDefineState", ""}, 1); }, 0, {1, 2}},
        // A read that fails after a deletion: what was deleted counts.
        {"view read fails after a deletion", three, 20, kDeleted, {0}, "Deleted [1]", [](sim::TestServer& s, SimSnapshot&) { s.failCim(cim::CIM_ERR_FAILED, "busy", 1, {"AssociatorNames", "", ""}, 3); }, 0, {1, 2}},
        {"no service", three, 21, kFailed, {}, "Dumping Parameters", [](sim::TestServer&, SimSnapshot& d) { d.snap.m_ServicePath.clear(); }},
        {"no PiT", three, 21, kFailed, {}, "Dumping Parameters", [](sim::TestServer&, SimSnapshot& d) { d.snap.m_PiTName.clear(); }},
        {"no CIMOM", three, 21, kFailed, {}, "", [](sim::TestServer&, SimSnapshot& d) { d.unreachable(); }, 60541},
        // Every read answers empty: no group or view may pass for missing.
        {"login refused", three, 21, kFailed, {}, "", [](sim::TestServer&, SimSnapshot& d) { d.wrongPassword(); }, 60555},
        {"sweep, login refused", sweep, 21, kFailed, {}, "", [](sim::TestServer&, SimSnapshot& d) { d.wrongPassword(); }, 60555},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Fixture f(r.scene);
        nlohmann::json before;
        {
            SimSnapshot dev(f.sim);
            std::list<std::string> active;
            f.Prepare(dev, r.scene, active);
            if (r.arrange) r.arrange(f.sim, dev);
            before = f.sim.state();  // after the row's setup: the state lists job modes
            EXPECT_EQ(dev.snap.DeletePiT(active, r.scene.target == kSweep), r.result);
            EXPECT_EQ(dev.snap.m_SnapStatus, r.status);
            EXPECT_EQ(dev.info.errorCode(), r.hostError);
            const std::vector<std::string> want = f.Ids(r.deleted);
            EXPECT_EQ(Deleted(f.sim, f.pits), want);
            if (r.swept.empty()) {
                EXPECT_EQ(Calls(f.sim, "ModifySettingsDefineState").size(), want.size());
            }
            EXPECT_TRUE(dev.logged(r.trace));
            ExpectOnlyGone(f, before, r.scene.cg, r.deleted, r.name);
            EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected());
        }
        if (r.swept.empty()) continue;
        SimSnapshot dev(f.sim);
        std::list<std::string> active;
        Scene next = r.scene;
        next.target = kSweep;
        f.Prepare(dev, next, active);
        EXPECT_EQ(dev.snap.DeletePiT(active, true), 20);
        EXPECT_EQ(Deleted(f.sim, f.pits), f.Ids(r.swept)) << ", then a sweep";
        std::vector<size_t> all = r.deleted;
        all.insert(all.end(), r.swept.begin(), r.swept.end());
        ExpectOnlyGone(f, before, r.scene.cg, all, std::string(r.name) + ", then a sweep");
    }
}

TEST(DeletePiT, EachDeletionIsPrecededByAThrowAwayCallWhenTheHostAsks) {
    TalonConfig talon("RK_PEGASUS_FAULT_RETRY = 1");
    const Scene scene{false, {10, 11}, {}, {}, kSweep};
    Fixture f(scene);
    SimSnapshot dev(f.sim);
    std::list<std::string> active;
    f.Prepare(dev, scene, active);
    EXPECT_EQ(dev.snap.DeletePiT(active, true), 20);
    std::vector<std::string> sent;
    for (const sim::RequestRecord& r : Calls(f.sim, "ModifySettingsDefineState"))
        sent.push_back(Param(r, "Operation").value + ":" +
                       std::to_string(r.returnValue.value_or(99)));
    EXPECT_EQ(sent, (std::vector<std::string>{"55:5", "4:0", "55:5", "4:0"}));
    EXPECT_EQ(Deleted(f.sim, f.pits), (std::vector<std::string>{f.pits[0], f.pits[1]}));
}

TEST(GetPiTStatus, GoneOnlyWhenTheProviderSaysSo) {
    sim::Config config = SimConfig();
    const std::string pit = AddPiTs(config, AddPiTGroup(config, "ora_log"), {1, 2})[0];
    const std::string cgPit =
        AddCgPiTs(config, AddConsistencyGroup(config, "5C_1", {"ora_log", "ora_data1"}), {1000})[0];
    AddSecondArray(config);
    const std::string elsewhere = AddPiTs(config, AddPiTGroup(config, "ora_log", 1), {1}, 1)[0];
    sim::TestServer sim(config, PlainHttp());
    struct Row {
        const char* name;
        std::string pit;
        bool cg;
        std::function<void(SimSnapshot&)> arrange;
        int result, hostError;
        bool requests;
    };
    auto removed = [&](const std::string& id) {
        return [&sim, id](SimSnapshot&) { sim.removeObject(sim::RemovableKind::PiT, id); };
    };
    // clang-format off
    const Row rows[] = {
        {"present", pit, false, nullptr, 0, 0, true},
        {"removed on the array", pit, false, removed(pit), 24, 0, true},
        {"named by a path that is gone", pit, false, [&](SimSnapshot& d) { d.snap.m_PiTName = "root/netapp/santricity:NETAPP_PiT.InstanceID=\"" + pit + "x\""; }, 24, 0, true},
        {"another array's PiT is not ours", elsewhere, false, nullptr, 24, 0, true},
        {"CG PiT present", cgPit, true, nullptr, 0, 0, true},
        {"CG PiT removed", cgPit, true, removed(cgPit), 24, 0, true},
        {"provider error", pit, false, [&](SimSnapshot&) { sim.failCim(cim::CIM_ERR_FAILED, "busy", 1, {"EnumerateInstances", "", ""}); }, -1, 0, true},
        {"login refused", pit, false, [](SimSnapshot& d) { d.wrongPassword(); }, -1, 60555, true},
        {"no CIMOM", pit, false, [](SimSnapshot& d) { d.unreachable(); }, -1, 60541, false},
        {"no PiT", "", false, nullptr, -1, 0, false},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        sim.reset();
        SimSnapshot dev(sim);
        dev.forPiT("ora_log");
        ASSERT_EQ(dev.snap.PreparePiT(), 1);
        dev.snap.m_PiTName = r.pit;
        dev.snap.m_UseConsistencyGroup = r.cg;
        dev.snap.m_SnapStatus = RKSO::SNAP_STATUS_CREATED;
        if (r.arrange) r.arrange(dev);
        sim.log().clear();
        EXPECT_EQ(dev.snap.GetPiTStatus(), r.result);
        EXPECT_EQ(dev.snap.m_SnapStatus, RKSO::SNAP_STATUS_CREATED);
        EXPECT_EQ(dev.info.errorCode(), r.hostError);
        EXPECT_LE(dev.info.setErrorInfoCalls(), 1);
        EXPECT_EQ(CountRequests(sim, "InvokeMethod"), 0u);
        EXPECT_EQ(!sim.requests().empty(), r.requests);
        if (r.result == 0) {
            EXPECT_NE(dev.snap.m_PiTPath.find(r.pit), std::string::npos);
        }
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected());
    }
}

}  // namespace
