// Every method of the array, one row each: a stale provider secret answers 4, an
// injected return value and a job ending in 10 reach it, its throw-away call (where
// hosts make one) answers 5, and none of these changes the array; the row's own
// call then succeeds and does.
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
using testsupport::u64;

namespace {

using Params = std::vector<cim::CIMParamValue>;
using Args = std::function<Params(SimArray&)>;

CIMObjectPath defineState(SimArray& s, size_t pit) {
    auto pits = s.client().enumerateInstanceNames(s.ns(), s.prefix() + "_PiT");
    return s.client().referenceNames(s.ns(), pits.at(pit), "CIM_SettingsDefineState").at(0);
}

CIMObjectPath syncOf(SimArray& s, const char* volume, const std::string& cls) {
    return s.client().referenceNames(s.ns(), s.volume(volume), cls).at(0);
}

CIMValue names(SimArray& s, const char* volume) {
    return CIMValue(std::vector<std::string>{s.property(s.volume(volume), "Name")});
}

CIMValue spc(SimArray& s, const char* host) {
    return refs({s.named("CIM_SCSIProtocolController", host)});
}

void setSecret(SimArray& s, const std::string& secret) {
    const CIMObjectPath path = s.first("CIM_SharedSecret");
    cim::CIMInstance i = s.instance(path);
    i.getProperty(i.findProperty("Secret")).setValue(CIMValue(secret));
    i.setPath(path);
    s.client().modifyInstance(s.ns(), i, true, cim::CIMPropertyList({cim::CIMName("Secret")}));
}

void replace(Params& p, const char* name, const CIMValue& v) {
    for (auto& x : p)
        if (x.getParameterName() == name) x.setValue(v);
}

struct Row {
    const char* service;
    const char* method;
    Args args;
    std::function<void(Params&)> throwAway;  // empty: hosts make none
};

const Row kRows[] = {
    {"ReplicationService", "CreatePiTGroup",
     [](SimArray& s) {
         return Params{param("BaseVolume", CIMValue(s.volume("small_lun"))),
                       param("Label", CIMValue("small_lun_SMIS_PG")),
                       param("RepositorySize", u64(1ULL << 30))};
     },
     nullptr},
    {"ReplicationService", "CreateSynchronizationAspect",
     [](SimArray& s) {
         return Params{param("Name", CIMValue("h")), param("SyncType", u16(7)),
                       param("SourceElement", CIMValue(s.volume("ora_data1")))};
     },
     [](Params& p) { replace(p, "SyncType", u16(15)); }},
    {"ReplicationService", "ModifySettingsDefineState",
     [](SimArray& s) {
         return Params{param("Operation", u16(5)),
                       param("SettingsState", CIMValue(defineState(s, 1)))};
     },
     [](Params& p) { replace(p, "Operation", u16(55)); }},
    {"ReplicationService", "ModifyReplicaSynchronization",
     [](SimArray& s) {
         return Params{
             param("Operation", u16(19)),
             param("Synchronization",
                   CIMValue(syncOf(s, "ora_data1_V1", s.prefix() + "_PiTViewSynchronized"))),
             param("Force", CIMValue(false)), param("WaitForCopyState", u16(0))};
     },
     [](Params& p) { replace(p, "Operation", u16(55)); }},
    {"ReplicationService", "CreateGroup",
     [](SimArray&) { return Params{param("GroupName", CIMValue("7B2C_1"))}; }, nullptr},
    {"ReplicationService", "AddMembers",
     [](SimArray& s) {
         return Params{param("ReplicationGroup", CIMValue(s.named("CIM_ReplicationGroup", "cg1"))),
                       param("Members", refs({s.volume("ora_log")}))};
     },
     nullptr},
    {"ReplicationService", "RemoveMembers",
     [](SimArray& s) {
         return Params{param("ReplicationGroup", CIMValue(s.named("CIM_ReplicationGroup", "cg1"))),
                       param("Members", refs({s.volume("ora_data2")})),
                       param("DeleteOnEmptyElement", CIMValue(false))};
     },
     nullptr},
    {"ReplicationService", "DeleteGroup",
     [](SimArray& s) {
         return Params{
             param("ReplicationGroup", CIMValue(s.named("CIM_ReplicationGroup", "cgempty"))),
             param("RemoveElements", CIMValue(true))};
     },
     nullptr},
    {"ControllerConfigurationService", "ExposePaths",
     [](SimArray& s) {
         return Params{param("LUNames", names(s, "exch_log")),
                       param("DeviceAccesses", CIMValue(std::vector<cim::Uint16>{2})),
                       param("ProtocolControllers", spc(s, "fchost1"))};
     },
     [](Params& p) { replace(p, "DeviceAccesses", CIMValue(std::vector<cim::Uint16>{23})); }},
    {"ControllerConfigurationService", "HidePaths",
     [](SimArray& s) {
         return Params{param("LUNames", names(s, "ora_data1")),
                       param("ProtocolControllers", spc(s, "fchost1"))};
     },
     nullptr},
    {"StorageConfigurationService", "CreateReplica",
     [](SimArray& s) {
         return Params{param("ElementName", CIMValue("bk1")), param("CopyType", u16(4)),
                       param("SourceElement", CIMValue(s.volume("ora_log")))};
     },
     [](Params& p) { replace(p, "CopyType", u16(15)); }},
    {"StorageConfigurationService", "CreateOrModifyElementFromStoragePool",
     [](SimArray& s) {
         return Params{param("ElementName", CIMValue("bk2")), param("ElementType", u16(2)),
                       param("Size", u64(1ULL << 30)),
                       param("InPool", CIMValue(s.named("CIM_StoragePool", "DG1")))};
     },
     [](Params& p) {
         replace(p, "ElementName", CIMValue(cim::CIMTYPE_STRING, false));
         replace(p, "Size", u64(0));
     }},
    {"StorageConfigurationService", "AssignStorageResourceAffinity",
     [](SimArray& s) {
         auto controllers =
             s.client().enumerateInstanceNames(s.ns(), s.prefix() + "_StorageProcessorSystem");
         return Params{param("ResourceType", u16(2)),
                       param("StorageProcessor", CIMValue(controllers.at(1))),
                       param("StorageResources", refs({s.volume("exch_log")}))};
     },
     nullptr},
    {"StorageConfigurationService", "AttachOrModifyReplica",
     [](SimArray& s) {
         return Params{param("SourceElement", CIMValue(s.volume("ora_log"))),
                       param("TargetElement", CIMValue(s.volume("copy_target"))),
                       param("CopyType", u16(4))};
     },
     [](Params& p) {
         replace(p, "CopyType", u16(55));
         p[1].setValue(p[0].getValue());  // the source as target
     }},
    {"StorageConfigurationService", "ModifySynchronization",
     [](SimArray& s) {
         return Params{
             param("Operation", u16(8)),
             param("Synchronization", CIMValue(syncOf(s, "snap1", "CIM_StorageSynchronized")))};
     },
     [](Params& p) { replace(p, "Operation", u16(55)); }},
    {"StorageConfigurationService", "ReturnToStoragePool",
     [](SimArray& s) { return Params{param("TheElement", CIMValue(s.volume("spare")))}; }, nullptr},
};

}  // namespace

TEST(EveryMethod, RefusedFaultedAndFailedCallsLeaveTheArrayAlone) {
    for (const Row& row : kRows) {
        SimArray s(simtest::everyMethodArray());
        const Params args = row.args(s);
        const nlohmann::json before = s.state();
        auto call = [&](const Params& p) { return s.call(row.service, row.method, p); };

        setSecret(s, "stale");
        EXPECT_EQ(call(args).rc, 4u) << row.method << ": stale secret";
        setSecret(s, "arraypw");
        EXPECT_TRUE(s.unchanged(before)) << row.method << ": stale secret";

        s.server().failReturnValue(7777, 1, {"", row.method, ""});
        EXPECT_EQ(call(args).rc, 7777u) << row.method << ": return-value fault";
        EXPECT_TRUE(s.unchanged(before)) << row.method << ": return-value fault";

        s.server().setJobMode(row.method, true);
        s.server().failNextJobs(1, 10);
        auto failed = call(args);
        ASSERT_EQ(failed.rc, 4096u) << row.method;
        s.finishJobs();
        EXPECT_EQ(s.jobState(failed), 10) << row.method;
        EXPECT_TRUE(s.unchanged(before)) << row.method << ": job ending in 10";

        if (row.throwAway) {
            Params bad = args;
            row.throwAway(bad);
            EXPECT_EQ(call(bad).rc, 5u) << row.method << ": throw-away call";
            EXPECT_TRUE(s.unchanged(before)) << row.method << ": throw-away call";
        }

        auto done = call(args);
        ASSERT_EQ(done.rc, 4096u) << row.method;
        s.finishJobs();
        EXPECT_EQ(s.jobState(done), 7) << row.method;
        EXPECT_FALSE(s.unchanged(before)) << row.method << ": the call itself changed nothing";
        EXPECT_EQ(s.invocations(row.method), row.throwAway ? 5u : 4u) << row.method;
    }
}
