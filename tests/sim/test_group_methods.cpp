// Consistency groups and view removal through our CIM client: CreateGroup,
// AddMembers, RemoveMembers, DeleteGroup and ModifyReplicaSynchronization 19.
#include <gtest/gtest.h>

#include <functional>

#include "SimArrays.h"
#include "testsupport/SimArray.h"

using cim::CIMObjectPath;
using cim::CIMValue;
using testsupport::param;
using testsupport::refs;
using testsupport::SimArray;
using testsupport::u16;

namespace {

using Params = std::vector<cim::CIMParamValue>;
const char* kService = "ReplicationService";

// cg1 with a CG view whose member views are mapped to fchost1 (one) and none.
sim::Config arrayWithGroupView(bool mapped) {
    return simtest::richArray([mapped](nlohmann::json& j) {
        auto& a = j["arrays"][0];
        sim::Config c = sim::Config::fromJson(j);
        const std::string cgPit = c.arrays[0].cgPits[0].id;
        for (const char* w : {"cgv_w1", "cgv_w2"})
            a["volumes"].push_back({{"label", w}, {"kind", "view"}, {"sizeBytes", 1073741824}});
        a["cgPitViews"].push_back(
            {{"label", "cg1_CV_0001"}, {"cgPit", cgPit}, {"memberViews", {"cgv_w1", "cgv_w2"}}});
        const std::string cv = sim::makeRef(c.arrays[0].id + ":cgview:cg1_CV_0001");
        a["views"].push_back({{"volume", "cgv_w1"}, {"base", "ora_data2"}, {"cgView", cv}});
        a["views"].push_back({{"volume", "cgv_w2"}, {"base", "exch_db"}, {"cgView", cv}});
        if (mapped)
            a["mappings"].push_back({{"volume", "cgv_w2"}, {"to", "iscsihost1"}, {"lun", 9}});
    });
}

}  // namespace

TEST(GroupMethods, GroupLifeFromCreationToDeletion) {
    SimArray s;
    auto made = s.call(kService, "CreateGroup",
                       {param("GroupName", CIMValue("1A3F_2")),
                        param("Members", CIMValue(cim::CIMTYPE_REFERENCE, true)),
                        param("Persistent", CIMValue(cim::CIMTYPE_BOOLEAN, false))});
    ASSERT_EQ(made.rc, 0u);
    const CIMObjectPath cg = made.path("ReplicationGroup");
    EXPECT_EQ(s.property(cg, "ElementName"), "1A3F_2");
    EXPECT_EQ(s.associators(cg, "CIM_MemberOfCollection", "CIM_StorageVolume").size(), 0u);

    auto add = [&](const char* volume) {
        return s.call(
            kService, "AddMembers",
            {param("ReplicationGroup", CIMValue(cg)), param("Members", refs({s.volume(volume)}))});
    };
    EXPECT_EQ(add("ora_data1").rc, 0u);
    EXPECT_EQ(add("ora_data2").rc, 0u);
    const nlohmann::json two = s.state();
    EXPECT_EQ(add("ora_data1").rc, 0u) << "a member already";
    EXPECT_TRUE(s.unchanged(two));
    EXPECT_EQ(s.associators(cg, "CIM_MemberOfCollection", "CIM_StorageVolume").size(), 2u);

    auto take = s.call(kService, "CreateSynchronizationAspect",
                       {param("SyncType", u16(7)), param("SourceGroup", CIMValue(cg))});
    ASSERT_EQ(take.rc, 0u);
    EXPECT_EQ(s.call(kService, "RemoveMembers",
                     {param("ReplicationGroup", CIMValue(cg)),
                      param("Members", refs({s.volume("ora_data2")})),
                      param("DeleteOnEmptyElement", CIMValue(false))})
                  .rc,
              0u);
    EXPECT_EQ(s.associators(cg, "CIM_MemberOfCollection", "CIM_StorageVolume").size(), 1u);

    EXPECT_EQ(
        s.call(kService, "DeleteGroup",
               {param("ReplicationGroup", CIMValue(cg)), param("RemoveElements", CIMValue(true))})
            .rc,
        0u);
    EXPECT_THROW(s.instance(cg), cim::CIMException);
    EXPECT_EQ(s.count(s.prefix() + "_ConsistencyGroupPiT"), 0u) << "its CG PiTs go with it";
    EXPECT_EQ(s.references(s.volume("ora_data1"), "CIM_MemberOfCollection"), 0u);

    // An emptied group goes when asked to.
    auto other = s.call(
        kService, "CreateGroup",
        {param("GroupName", CIMValue("1A40_2")), param("Members", refs({s.volume("ora_log")}))});
    ASSERT_EQ(other.rc, 0u);
    EXPECT_EQ(s.call(kService, "RemoveMembers",
                     {param("ReplicationGroup", CIMValue(other.path("ReplicationGroup"))),
                      param("Members", refs({s.volume("ora_log")})),
                      param("DeleteOnEmptyElement", CIMValue(true))})
                  .rc,
              0u);
    EXPECT_EQ(s.count("CIM_ReplicationGroup"), 0u);
}

TEST(GroupMethods, RemovingAViewUnmapsItOnlyWhenForced) {
    SimArray s(arrayWithGroupView(true));
    const CIMObjectPath cv = s.named(s.prefix() + "_ConsistencyGroupPiTView", "cg1_CV_0001");
    auto sync = s.client().referenceNames(s.ns(), cv, s.prefix() + "_CGPiTViewSynchronized");
    ASSERT_EQ(sync.size(), 1u);
    auto remove = [&](bool force) {
        return s.call(kService, "ModifyReplicaSynchronization",
                      {param("Operation", u16(19)), param("Synchronization", CIMValue(sync[0])),
                       param("Force", CIMValue(force)), param("WaitForCopyState", u16(0))});
    };
    const nlohmann::json before = s.state();
    EXPECT_EQ(remove(false).rc, 640001u);
    EXPECT_TRUE(s.unchanged(before));
    EXPECT_EQ(remove(true).rc, 0u);
    EXPECT_THROW(s.instance(cv), cim::CIMException);
    EXPECT_EQ(s.count(s.prefix() + "_PiTView"), 1u) << "member views go, the single view stays";
    for (const auto& l : s.fabric({"iqn.1994-05.com.example:iscsihost1"})) EXPECT_NE(l["lun"], 9);
}

TEST(GroupMethods, RefusalsAnswerTheirCodeAndChangeNothing) {
    using Args = std::function<Params(SimArray&)>;
    auto group = [](SimArray& s, const char* name) {
        return CIMValue(s.named("CIM_ReplicationGroup", name));
    };
    auto create = [](const char* name) -> Args {
        return [=](SimArray&) { return Params{param("GroupName", CIMValue(name))}; };
    };
    auto members = [&](const char* method, const char* cg,
                       std::vector<const char*> volumes) -> Args {
        return [=](SimArray& s) {
            std::vector<CIMObjectPath> paths;
            for (const char* v : volumes) paths.push_back(s.volume(v));
            Params p = {param("ReplicationGroup", group(s, cg)), param("Members", refs(paths))};
            if (std::string(method) == "RemoveMembers")
                p.push_back(param("DeleteOnEmptyElement", CIMValue(true)));
            return p;
        };
    };
    auto remove = [&](const char* cg, bool elements) -> Args {
        return [=](SimArray& s) {
            return Params{param("ReplicationGroup", group(s, cg)),
                          param("RemoveElements", CIMValue(elements))};
        };
    };
    auto unview = [](const char* view, unsigned op) -> Args {
        return [=](SimArray& s) {
            auto sync = s.client().referenceNames(s.ns(), s.volume(view),
                                                  s.prefix() + "_PiTViewSynchronized");
            return Params{param("Operation", u16(op)),
                          param("Synchronization", CIMValue(sync.at(0)))};
        };
    };
    struct Row {
        const char* name;
        const char* method;
        Args args;
        uint32_t rc;
        bool mapped;
    };
    const Row rows[] = {
        {"a name of a volume, any case", "CreateGroup", create("ORA_LOG"), 5, false},
        {"a name of a group", "CreateGroup", create("cg1"), 5, false},
        {"a name of 31 characters", "CreateGroup", create("ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"), 5,
         false},
        {"no name", "CreateGroup", [](SimArray&) { return Params{}; }, 5, false},
        {"fifth group of a volume", "AddMembers", members("AddMembers", "cgempty", {"exch_log"}), 4,
         false},
        {"a pool short of the reserve", "AddMembers",
         members("AddMembers", "cgempty", {"tiny_vol"}), 4, false},
        {"a view as member", "AddMembers", members("AddMembers", "cgempty", {"ora_data1_V1"}), 5,
         false},
        {"no members", "AddMembers", members("AddMembers", "cgempty", {}), 5, false},
        {"not a member", "RemoveMembers", members("RemoveMembers", "cg1", {"ora_log"}), 5, false},
        {"emptying a group with a mapped view", "RemoveMembers",
         members("RemoveMembers", "cg1", {"ora_data2", "exch_db"}), 640001, true},
        {"members without RemoveElements", "DeleteGroup", remove("cg1", false), 4, false},
        {"a mapped CG view", "DeleteGroup", remove("cg1", true), 640001, true},
        {"a mapped view", "ModifyReplicaSynchronization", unview("ora_data1_V1", 19), 640001, true},
        {"one member view alone", "ModifyReplicaSynchronization", unview("cgv_w1", 19), 4, false},
        {"Operation 55 (throw-away)", "ModifyReplicaSynchronization", unview("ora_data1_V1", 55), 5,
         false},
        {"a clone's synchronization", "ModifyReplicaSynchronization",
         [](SimArray& s) {
             auto sync =
                 s.client().referenceNames(s.ns(), s.volume("cg_clone"), "CIM_StorageSynchronized");
             return Params{param("Operation", u16(19)),
                           param("Synchronization", CIMValue(sync.at(0)))};
         },
         5, false},
    };
    for (const Row& row : rows) {
        sim::Config config = arrayWithGroupView(row.mapped);
        nlohmann::json j = config.toJson();
        auto& a = j["arrays"][0];
        for (int i = 0; i < 4; ++i)
            a["consistencyGroups"].push_back(
                {{"label", "x" + std::to_string(i)}, {"members", {"exch_log"}}});
        a["volumes"].push_back(
            {{"label", "cg_clone"}, {"kind", "clone"}, {"sizeBytes", 1073741824}});
        a["syncs"].push_back({{"source", "small_lun"}, {"target", "cg_clone"}});
        if (row.mapped)
            a["mappings"].push_back({{"volume", "ora_data1_V1"}, {"to", "iscsihost1"}, {"lun", 8}});
        SimArray s(sim::Config::fromJson(j));
        Params args = row.args(s);
        const nlohmann::json before = s.state();
        EXPECT_EQ(s.call(kService, row.method, args).rc, row.rc) << row.name;
        EXPECT_TRUE(s.unchanged(before)) << row.name;
    }
}
