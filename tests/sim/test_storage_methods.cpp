// The older engine's methods on the storage configuration service through our CIM
// client: legacy snapshots, clone volumes, their synchronizations, and every refusal.
#include <gtest/gtest.h>

#include <functional>

#include "SimArrays.h"
#include "testsupport/SimArray.h"

using cim::CIMObjectPath;
using cim::CIMValue;
using testsupport::local;
using testsupport::param;
using testsupport::SimArray;
using testsupport::u16;
using testsupport::u64;

namespace {

using Params = std::vector<cim::CIMParamValue>;
const char* kService = "StorageConfigurationService";

// The synchronization path hosts build for a clone, with a host and keys in order.
CIMObjectPath builtSyncPath(SimArray& s, const CIMObjectPath& source, const CIMObjectPath& clone) {
    CIMObjectPath src = source, dst = clone;
    for (CIMObjectPath* p : {&src, &dst}) p->setHost("");
    return CIMObjectPath(
        "array.example", s.ns(), s.prefix() + "_VolumeCopySynchronized",
        {cim::CIMKeyBinding("SystemElement", src.toString(), cim::CIMKeyBinding::REFERENCE),
         cim::CIMKeyBinding("SyncedElement", dst.toString(), cim::CIMKeyBinding::REFERENCE)});
}

std::string generation(SimArray& s, const std::string& volume) {
    const nlohmann::json state = s.state();
    for (const auto& v : state[0]["volumes"])
        if (v["label"] == volume) return std::to_string(v["generation"].get<uint64_t>());
    return "<none>";
}

}  // namespace

TEST(StorageMethods, CloneRoadMakesAttachesDetachesAndReturnsAVolume) {
    SimArray s;
    const CIMObjectPath source = s.volume("ora_log");
    auto make = [&] {
        return s.call(kService, "CreateOrModifyElementFromStoragePool",
                      {param("ElementName", CIMValue()), param("ElementType", u16(2)),
                       param("Size", u64(21474836480ULL + 1)),
                       param("InPool", CIMValue(s.named("CIM_StoragePool", "DG1")))});
    };
    auto first = make();
    auto second = make();
    ASSERT_EQ(first.rc, 0u);
    const CIMObjectPath clone = first.path("TheElement");
    EXPECT_EQ(s.property(clone, "NumberOfBlocks"), "41943041") << "rounded up to the block";
    EXPECT_NE(s.property(clone, "CurrentManager"),
              s.property(second.path("TheElement"), "CurrentManager"))
        << "owners alternate";
    EXPECT_EQ(s.associators(clone, "CIM_AllocatedFromStoragePool", "CIM_StoragePool").size(), 1u);

    const CIMObjectPath owner = s.first(s.prefix() + "_StorageProcessorSystem");
    EXPECT_EQ(s.call(kService, "AssignStorageResourceAffinity",
                     {param("ResourceType", u16(2)), param("StorageProcessor", CIMValue(owner)),
                      param("StorageResources", testsupport::refs({clone}))})
                  .rc,
              0u);
    EXPECT_EQ(s.property(clone, "CurrentManager"), owner.findKeyBinding("Name")->getValue());

    s.hostWrite("ora_log");
    auto attach = s.call(kService, "AttachOrModifyReplica",
                         {param("SourceElement", CIMValue(source)),
                          param("TargetElement", CIMValue(clone)), param("CopyType", u16(4))});
    ASSERT_EQ(attach.rc, 4096u) << "a copy is a job";
    EXPECT_EQ(s.references(clone, "CIM_StorageSynchronized"), 0u);
    s.finishJobs();
    EXPECT_EQ(s.jobState(attach), 7);
    const CIMObjectPath sync = builtSyncPath(s, source, clone);
    EXPECT_EQ(local(s.instance(sync).getPath()), local(sync)) << "the built path resolves";
    EXPECT_EQ(generation(s, s.property(clone, "ElementName")), generation(s, "ora_log"));

    EXPECT_EQ(s.call(kService, "ModifySynchronization",
                     {param("Operation", u16(2)), param("Synchronization", CIMValue(sync))})
                  .rc,
              0u);
    EXPECT_EQ(s.references(clone, "CIM_StorageSynchronized"), 0u);
    EXPECT_EQ(s.call(kService, "ReturnToStoragePool", {param("TheElement", CIMValue(clone))}).rc,
              0u);
    EXPECT_THROW(s.instance(clone), cim::CIMException);
    EXPECT_EQ(s.count(s.prefix() + "_StorageVolume"), 9u);
}

TEST(StorageMethods, LegacySnapshotRoadFollowsTheSourceData) {
    SimArray s;
    const CIMObjectPath source = s.volume("ora_data2");
    auto made = s.call(kService, "CreateReplica",
                       {param("ElementName", CIMValue("ora_data2_snap")), param("CopyType", u16(4)),
                        param("SourceElement", CIMValue(source)),
                        param("TargetPool", CIMValue(s.named("CIM_StoragePool", "DG2")))});
    ASSERT_EQ(made.rc, 0u);
    const CIMObjectPath snap = made.path("TargetElement");
    EXPECT_NE(snap.toString().find("Snapshot"), std::string::npos);
    auto syncs = s.client().referenceNames(s.ns(), snap, "CIM_StorageSynchronized");
    ASSERT_EQ(syncs.size(), 1u);
    auto op = [&](unsigned operation) {
        return s.call(
            kService, "ModifySynchronization",
            {param("Operation", u16(operation)), param("Synchronization", CIMValue(syncs[0]))});
    };
    EXPECT_EQ(op(8).rc, 0u);
    EXPECT_EQ(
        s.client()
            .references(s.ns(), snap, "CIM_StorageSynchronized")[0]
            .getProperty(
                s.client().references(s.ns(), snap, "CIM_StorageSynchronized")[0].findProperty(
                    "SyncState"))
            .getValue()
            .toString(),
        "9");
    s.hostWrite("ora_data2");
    EXPECT_EQ(op(4).rc, 0u);
    EXPECT_EQ(generation(s, "ora_data2_snap"), generation(s, "ora_data2")) << "retaken";
    s.hostWrite("ora_data2");
    auto restore = op(5);
    ASSERT_EQ(restore.rc, 4096u);
    s.finishJobs();
    EXPECT_EQ(s.jobState(restore), 7);
    EXPECT_EQ(generation(s, "ora_data2"), generation(s, "ora_data2_snap")) << "restored";
    EXPECT_EQ(op(2).rc, 0u);
    EXPECT_THROW(s.instance(snap), cim::CIMException) << "a detached legacy snapshot goes";

    auto clone = s.call(kService, "CreateReplica",
                        {param("CopyType", u16(5)), param("SourceElement", CIMValue(source))});
    ASSERT_EQ(clone.rc, 0u);
    EXPECT_EQ(s.references(clone.path("TargetElement"), s.prefix() + "_VolumeCopySynchronized"),
              1u);
}

TEST(StorageMethods, RefusalsAnswerTheirCodeAndChangeNothing) {
    using Args = std::function<Params(SimArray&)>;
    auto vol = [](const char* label) {
        return [=](SimArray& s) { return CIMValue(s.volume(label)); };
    };
    auto pool = [](SimArray& s) { return CIMValue(s.named("CIM_StoragePool", "DG1")); };
    auto element = [&](unsigned type, uint64_t size, bool withPool) -> Args {
        return [=](SimArray& s) {
            Params p = {param("ElementType", u16(type)), param("Size", u64(size))};
            if (withPool) p.push_back(param("InPool", pool(s)));
            return p;
        };
    };
    auto replica = [&](unsigned copyType, const char* source) -> Args {
        return [=](SimArray& s) {
            return Params{param("CopyType", u16(copyType)), param("SourceElement", vol(source)(s))};
        };
    };
    auto attach = [&](const char* source, const char* target, unsigned type) -> Args {
        return [=](SimArray& s) {
            return Params{param("SourceElement", vol(source)(s)),
                          param("TargetElement", vol(target)(s)), param("CopyType", u16(type))};
        };
    };
    auto returning = [&](const char* volume) -> Args {
        return [=](SimArray& s) { return Params{param("TheElement", vol(volume)(s))}; };
    };
    auto syncOf = [](const char* target, unsigned op) -> Args {
        return [=](SimArray& s) {
            auto syncs =
                s.client().referenceNames(s.ns(), s.volume(target), "CIM_StorageSynchronized");
            return Params{param("Operation", u16(op)),
                          param("Synchronization", CIMValue(syncs.at(0)))};
        };
    };
    struct Row {
        const char* name;
        const char* method;
        Args args;
        uint32_t rc;
    };
    const Row rows[] = {
        {"ElementType 3", "CreateOrModifyElementFromStoragePool", element(3, 1 << 20, true), 5},
        {"Size 0 (throw-away)", "CreateOrModifyElementFromStoragePool", element(2, 0, true), 5},
        {"no pool", "CreateOrModifyElementFromStoragePool", element(2, 1 << 20, false), 5},
        {"a pool too small", "CreateOrModifyElementFromStoragePool", element(2, 1ULL << 50, true),
         4},
        {"an element to modify", "CreateOrModifyElementFromStoragePool",
         [&](SimArray& s) {
             Params p = element(2, 1 << 20, true)(s);
             p.push_back(param("TheElement", vol("exch_log")(s)));
             return p;
         },
         1},
        {"an unknown pool", "CreateOrModifyElementFromStoragePool",
         [&](SimArray& s) {
             Params p = element(2, 1 << 20, false)(s);
             CIMObjectPath none = s.named("CIM_StoragePool", "DG1");
             none.setKeyBindings(
                 {cim::CIMKeyBinding("InstanceID", "nowhere", cim::CIMKeyBinding::STRING)});
             p.push_back(param("InPool", CIMValue(none)));
             return p;
         },
         640007},
        {"CopyType 15 (throw-away)", "CreateReplica", replica(15, "ora_log"), 5},
        {"5th legacy snapshot", "CreateReplica", replica(4, "exch_log"), 640004},
        {"a name taken", "CreateReplica",
         [&](SimArray& s) {
             Params p = replica(5, "ora_log")(s);
             p.push_back(param("ElementName", CIMValue("ORA_DATA1")));
             return p;
         },
         5},
        {"the source as target (throw-away)", "AttachOrModifyReplica",
         attach("ora_log", "ora_log", 4), 5},
        {"CopyType 55 (throw-away)", "AttachOrModifyReplica", attach("ora_log", "exch_db", 55), 5},
        {"a smaller target", "AttachOrModifyReplica", attach("exch_db", "ora_log", 4), 640006},
        {"a copy target already", "AttachOrModifyReplica", attach("ora_data1", "clone_t", 4),
         640006},
        {"Operation 55 (throw-away)", "ModifySynchronization", syncOf("exch_log_s1", 55), 5},
        {"detaching a mapped snapshot", "ModifySynchronization", syncOf("exch_log_s1", 2), 640001},
        {"returning a mapped volume", "ReturnToStoragePool", returning("ora_data1"), 640001},
        {"returning a view", "ReturnToStoragePool", returning("ora_data1_V1"), 5},
        {"returning a PiT group's base", "ReturnToStoragePool", returning("exch_log"), 4},
        {"returning a group member", "ReturnToStoragePool", returning("vm_store"), 4},
        {"an unknown controller", "AssignStorageResourceAffinity",
         [](SimArray& s) {
             CIMObjectPath c = s.first(s.prefix() + "_StorageProcessorSystem");
             c.setKeyBindings({c.getKeyBindings()[0],
                               cim::CIMKeyBinding("Name", "nobody", cim::CIMKeyBinding::STRING)});
             return Params{param("StorageProcessor", CIMValue(c)),
                           param("StorageResources", testsupport::refs({s.volume("exch_log")}))};
         },
         640010},
    };
    for (const Row& row : rows) {
        SimArray s(simtest::richArray([](nlohmann::json& j) {
            auto& a = j["arrays"][0];
            for (int i = 1; i <= 4; ++i) {
                std::string label = "exch_log_s" + std::to_string(i);
                a["volumes"].push_back({{"label", label},
                                        {"kind", "snapshot"},
                                        {"pool", "DG2"},
                                        {"sizeBytes", 53687091200}});
                a["syncs"].push_back(
                    {{"type", "snapshot"}, {"source", "exch_log"}, {"target", label}});
            }
            a["mappings"].push_back({{"volume", "exch_log_s1"}, {"to", "iscsihost1"}, {"lun", 7}});
            a["volumes"].push_back(
                {{"label", "clone_t"}, {"kind", "clone"}, {"sizeBytes", 107374182400}});
            a["syncs"].push_back({{"source", "ora_log"}, {"target", "clone_t"}});
        }));
        Params args = row.args(s);
        const nlohmann::json before = s.state();
        EXPECT_EQ(s.call(kService, row.method, args).rc, row.rc) << row.name;
        EXPECT_TRUE(s.unchanged(before)) << row.name;
    }
}
