// Consistency groups: which one is reused, and the four group methods change only what was asked.
#include <list>
#include "testsupport/SimSnapshot.h"

namespace {

using nlohmann::json;
using namespace testsupport;

const char* const A = "ora_data1";
const char* const B = "ora_data2";
const char* const C = "ora_log";
const char* const D = "exch_db";
const char* const E = "exch_log";
const char* const F = "file_share";

struct Group {
    const char* label;
    std::vector<std::string> members;
    size_t array = 0;
};

TEST(GetConsistencyGroup, ReusesOnlyAnExactGroupAndCountsMemberships) {
    using Arrange = std::function<void(SimSnapshot&, std::list<std::string>&)>;
    // arrange: a refusal: no member list is read
    struct Row {
        const char* name;
        std::vector<Group> groups;
        bool found;
        int index;
        const char* groupName;
        Arrange arrange = nullptr;
        int hostError = 0;
    };
    // clang-format off
    const std::vector<Group> exact = {{"2A_1", {A, B}}};
    const Row rows[] = {
        {"exact group named from 2", {{"1A_1", {A, C}}, {"2A_1", {B, A}}}, true, 2, "2A_1"},
        {"exact group named from a letter", {{"XA_1", {A, B}}}, true, -1, "XA_1"},
        {"a third member: not reused", {{"1A_1", {A, B, C}}}, false, 1, ""},
        {"A in four groups", {{"G1", {A, C}}, {"G2", {A, D}}, {"G3", {A, E}}, {"G4", {A, F}}}, false, -2, ""},
        // Each group counts afresh: B is in three, A in one.
        {"counts 1 and 3", {{"G1", {A, C}}, {"G2", {B, C}}, {"G3", {B, D}}, {"G4", {B, E}}}, false, 3, ""},
        {"no group at all", {}, false, 0, ""},
        {"the exact group is on another array", {{"2A_1", {A, B}, 1}}, false, 0, ""},
        {"no system", exact, false, -1, "", [](SimSnapshot& d, auto&) { d.snap.m_SystemName.clear(); }},
        {"no volumes", exact, false, -1, "", [](SimSnapshot&, auto& volumes) { volumes.clear(); }},
        {"no CIMOM", exact, false, -1, "", [](SimSnapshot& d, auto&) { d.unreachable(); }, 60541},
        {"login refused", exact, false, -1, "", [](SimSnapshot& d, auto&) { d.wrongPassword(); }, 60555},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        sim::Config config = SimConfig();
        AddSecondArray(config);
        size_t ours = 0;
        for (const Group& g : r.groups) {
            AddConsistencyGroup(config, g.label, g.members, g.array);
            ours += g.array == 0;
        }
        sim::TestServer sim(config, PlainHttp());
        SimSnapshot dev(sim);
        const std::string a = dev.volume(A).uuid;
        const std::string b = dev.volume(B).uuid;
        std::list<std::string> volumes = {a, b};
        if (r.arrange) r.arrange(dev, volumes);
        int index = 99;
        EXPECT_EQ(dev.snap.GetConsistencyGroup(volumes, 2, index), r.found);
        EXPECT_EQ(index, r.index);
        EXPECT_EQ(dev.snap.m_ConsistencyGroupName, r.groupName);
        EXPECT_EQ(dev.info.errorCode(), r.hostError);
        if (!r.found) {
            // One member list per group of this array, no read per member.
            EXPECT_EQ(CountRequests(sim, "AssociatorNames"), r.arrange ? 0u : ours);
            EXPECT_EQ(CountRequests(sim, "GetInstance"), 0u);
        }
        EXPECT_TRUE(r.index != -2 ||
                    dev.logged("The source volume [" + a + "] is already member of 4"));
        EXPECT_TRUE(r.index != 3 || (dev.logged("sourceCount [" + a + "] = 1") &&
                                     dev.logged("sourceCount [" + b + "] = 3")));
    }
}

// "1A_1" of A and B, "2A_1" of C with two CG PiTs, "3A_1" empty, "9Z_1" on the second array.
sim::Config GroupsConfig() {
    sim::Config config = SimConfig();
    AddSecondArray(config);
    AddConsistencyGroup(config, "1A_1", {A, B});
    AddCgPiTs(config, AddConsistencyGroup(config, "2A_1", {C}), {1000, 2000});
    AddConsistencyGroup(config, "3A_1", {});
    AddConsistencyGroup(config, "9Z_1", {A, B}, 1);
    return config;
}

json& GroupIn(json& state, const std::string& label) {
    for (json& g : state["arrays"][0]["consistencyGroups"])
        if (g["label"] == label) return g;
    throw std::out_of_range(label);
}

using Op = std::function<int(LSISnapshot&)>;
const Op kCreate = [](LSISnapshot& s) { return s.CreateConsistencyGroup(); };
const Op kAdd = [](LSISnapshot& s) { return s.AddMembersToCG(); };
const Op kRemove = [](LSISnapshot& s) { return s.RemoveMembersFromCG(); };
const Op kDelete = [](LSISnapshot& s) { return s.DeleteConsistencyGroup(1); };

TEST(GroupMethods, ChangeOnlyWhatWasAskedReportFailedJobsAndRefuseWithoutInputs) {
    sim::TestServer sim(GroupsConfig(), PlainHttp());
    // Changes edit the state before the call into the state expected after it.
    using Change = std::function<void(json & before, const SimSnapshot&)>;
    auto jobEndingIn10 = [](const char* method) {
        return [method](sim::TestServer& s) {
            s.setJobMode(method, true);
            s.failNextJobs(1, 10);
        };
    };
    auto created = [](const char* label) {
        return [label](json& before, const SimSnapshot&) {
            before["arrays"][0]["consistencyGroups"].push_back({{"label", label}});
        };
    };
    auto members = [](const char* label, std::vector<std::string> labels) {
        return [label, labels](json& before, const SimSnapshot& d) {
            json& m = GroupIn(before, label)["members"] = json::array();
            for (const std::string& l : labels) m.push_back(d.volume(l).uuid);
        };
    };
    auto deleted = [](const char* label) {
        return [label](json& before, const SimSnapshot&) {
            before = Without(before, "consistencyGroups", "label", {label});
        };
    };
    // change null: nothing changes
    struct Row {
        const char* name;
        Op op;
        const char *group, *volume;
        std::function<void(sim::TestServer&)> fault;
        int result;
        const char* method;
        size_t calls;
        Change change;
    };
    // clang-format off
    const Row rows[] = {
        {"create", kCreate, "5A_1", A, nullptr, 0, "CreateGroup", 1, created("5A_1")},
        {"create a name only the other array has", kCreate, "9Z_1", A, nullptr, 0, "CreateGroup", 1, created("9Z_1")},
        {"create an existing group", kCreate, "1A_1", A, nullptr, 0, "CreateGroup", 0, nullptr},
        {"create with a job", kCreate, "5A_1", A, [](sim::TestServer& s) { s.setJobMode("CreateGroup", true); }, 0, "CreateGroup", 1, created("5A_1")},
        {"CreateGroup job ends in 10", kCreate, "5A_1", A, jobEndingIn10("CreateGroup"), 1, "CreateGroup", 1, nullptr},
        {"CreateGroup refused", kCreate, "5A_1", A, [](sim::TestServer& s) { s.failReturnValue(4, 1, {"InvokeMethod", "CreateGroup", ""}); }, 4, "CreateGroup", 1, nullptr},
        {"add", kAdd, "3A_1", A, nullptr, 0, "AddMembers", 1, members("3A_1", {A})},
        {"add a member already in", kAdd, "1A_1", A, nullptr, 0, "AddMembers", 0, nullptr},
        {"add to a missing group", kAdd, "5A_1", A, nullptr, 5, "AddMembers", 0, nullptr},
        {"add to the other array's group", kAdd, "9Z_1", C, nullptr, 5, "AddMembers", 0, nullptr},
        {"AddMembers job ends in 10", kAdd, "3A_1", A, jobEndingIn10("AddMembers"), 1, "AddMembers", 1, nullptr},
        {"remove", kRemove, "1A_1", A, nullptr, 0, "RemoveMembers", 1, members("1A_1", {B})},
        {"remove from a missing group", kRemove, "5A_1", A, nullptr, 5, "RemoveMembers", 0, nullptr},
        {"RemoveMembers job ends in 10", kRemove, "1A_1", A, jobEndingIn10("RemoveMembers"), 1, "RemoveMembers", 1, nullptr},
        {"delete", kDelete, "3A_1", A, nullptr, 0, "DeleteGroup", 1, deleted("3A_1")},
        {"delete a group with CG PiTs", kDelete, "2A_1", C, nullptr, 1, "DeleteGroup", 0, nullptr},
        {"delete a missing group", kDelete, "5A_1", A, nullptr, 0, "DeleteGroup", 0, nullptr},
        {"delete the other array's group", kDelete, "9Z_1", A, nullptr, 0, "DeleteGroup", 0, nullptr},
        {"DeleteGroup job ends in 10", kDelete, "3A_1", A, jobEndingIn10("DeleteGroup"), 1, "DeleteGroup", 1, nullptr},
        // clang-format on
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        sim.reset();
        if (r.fault) r.fault(sim);
        SimSnapshot dev(sim);
        dev.snap.m_SourceDev = dev.volume(r.volume).uuid;
        dev.snap.m_ConsistencyGroupName = r.group;
        json expected = sim.state();
        EXPECT_EQ(r.op(dev.snap), r.result);
        EXPECT_EQ(Calls(sim, r.method).size(), r.calls);
        EXPECT_EQ(CountRequests(sim, "InvokeMethod"), r.calls);
        json after = sim.state();
        if (r.change) r.change(expected, dev);
        // A new group's ref and fields come from the array.
        for (json& g : after["arrays"][0]["consistencyGroups"]) {
            const std::string label = g["label"];
            if (label == "5A_1" || (label == "9Z_1" && r.calls)) g = {{"label", label}};
        }
        EXPECT_EQ(json::diff(expected, after), json::array());
        const bool create = r.method == std::string("CreateGroup");
        if (create && r.result == 0) {
            EXPECT_NE(dev.snap.m_PiTName.find("_ConsistencyGroup"), std::string::npos);
        }
        if (create && r.calls) {
            EXPECT_EQ(Sent(Calls(sim, r.method).at(0)),
                      "GroupName=string:" + std::string(r.group) +
                          " Members=null Persistent=null DeleteOnEmptyElement=null "
                          "DeleteOnUnassociated=null");
        }
        EXPECT_FALSE(dev.snap.m_CimConnection.IsConnected());
    }
    // Each method refused without its parameters, a provider or a login: nothing sent.
    // clang-format off
    struct Refusal {
        const char* name; std::function<void(SimSnapshot&)> arrange; int create, add, remove, del;
        int hostError;
    } refusals[] = {
        {"no group name", [](SimSnapshot& d) { d.snap.m_ConsistencyGroupName.clear(); }, -1, -1, 650009, -1, 0},
        {"no source", [](SimSnapshot& d) { d.snap.m_SourceDev.clear(); }, -1, -1, 650009, -1, 0},
        {"no CIMOM", [](SimSnapshot& d) { d.unreachable(); }, -1, -1, -1, -1, 60541},
        // A rejected login answers empty lists: no group is taken as missing or empty.
        {"login refused", [](SimSnapshot& d) { d.wrongPassword(); }, -1, -1, -1, -1, 60555},
        // clang-format on
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.name);
        const std::pair<Op, int> ops[] = {
            {kCreate, r.create}, {kAdd, r.add}, {kRemove, r.remove}, {kDelete, r.del}};
        for (const auto& [op, want] : ops) {
            sim.reset();
            SimSnapshot dev(sim);
            dev.snap.m_SourceDev = dev.volume(A).uuid;
            dev.snap.m_ConsistencyGroupName = "3A_1";
            r.arrange(dev);
            const json before = sim.state();
            EXPECT_EQ(op(dev.snap), want);
            EXPECT_EQ(CountRequests(sim, "InvokeMethod"), 0u);
            EXPECT_EQ(dev.info.errorCode(), r.hostError);
            EXPECT_EQ(json::diff(before, sim.state()), json::array());
        }
    }
}

}  // namespace
