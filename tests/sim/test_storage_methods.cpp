// The older engine's methods on the storage configuration service through our CIM
// client: legacy snapshots, clone volumes, their synchronizations, and every refusal.
#include <gtest/gtest.h>

#include <functional>

#include "SimArrays.h"
#include "testsupport/SimArray.h"

using cim::CIMObjectPath;
using cim::CIMValue;
using testsupport::param;
using testsupport::SimArray;
using testsupport::u16;
using testsupport::u64;

namespace {

using Params = std::vector<cim::CIMParamValue>;
const char* kService = "StorageConfigurationService";

}  // namespace

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

TEST(StorageMethods, AJobAnswerCanLeaveOutTheNewVolume) {
    sim::Config config = sim::Config::defaults();
    config.jobs.omitTheElement = true;
    config.jobs.methods["CreateOrModifyElementFromStoragePool"] = true;
    SimArray s(config);
    auto made = s.call(kService, "CreateOrModifyElementFromStoragePool",
                       {param("ElementName", CIMValue("bk_clone")), param("ElementType", u16(2)),
                        param("Size", u64(1ULL << 30)),
                        param("InPool", CIMValue(s.named("CIM_StoragePool", "DG1")))});
    ASSERT_EQ(made.rc, 4096u);
    EXPECT_TRUE(made.has("Job"));
    EXPECT_FALSE(made.has("TheElement"));
    s.finishJobs();
    EXPECT_EQ(s.jobState(made), 7);
    EXPECT_FALSE(s.named("CIM_StorageVolume", "bk_clone").getClassName().isNull())
        << "found by its name instead";
}
