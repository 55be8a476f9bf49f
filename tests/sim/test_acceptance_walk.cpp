// The roads of a single PiT, a consistency-group PiT and the older engine, walked
// through our CIM client against each served prefix. After every call the objects
// and association counts the roads leave, the fabric and the data generations are
// checked, and the log holds exactly one InvokeMethod per call.
#include <gtest/gtest.h>

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
const char* kHostPort = "iqn.1994-05.com.example:iscsihost1";

sim::Config presetArray(const std::string& preset) {
    nlohmann::json j = sim::Config::defaults().toJson();
    j.erase("classPrefix");
    j.erase("namespace");
    j["preset"] = preset;
    return sim::Config::fromJson(j);
}

class Walk : public ::testing::TestWithParam<std::string> {
  protected:
    SimArray s{presetArray(GetParam())};
    size_t calls = 0;

    std::string cls(const char* suffix) { return s.prefix() + suffix; }

    testsupport::Outcome call(const char* service, const char* method, const Params& in,
                              uint32_t rc = 0) {
        ++calls;
        auto out = s.call(service, method, in);
        EXPECT_EQ(out.rc, rc) << method;
        if (out.rc == 4096) {
            s.finishJobs();
            EXPECT_EQ(s.jobState(out), 7) << method;
        }
        return out;
    }
    testsupport::Outcome replication(const char* method, const Params& in, uint32_t rc = 0) {
        return call("ReplicationService", method, in, rc);
    }
    Params expose(const CIMObjectPath& volume) {
        return {param("LUNames", CIMValue(std::vector<std::string>{s.property(volume, "Name")})),
                param("DeviceAccesses", CIMValue(std::vector<cim::Uint16>{2})),
                param("ProtocolControllers",
                      refs({s.named("CIM_SCSIProtocolController", "iscsihost1")}))};
    }
    Params hide(const CIMObjectPath& volume) {
        Params p = expose(volume);
        p.erase(p.begin() + 1);
        return p;
    }
    // The data generation the host sees on `volume`, or -1 when it does not see it.
    int64_t seen(const CIMObjectPath& volume) {
        const std::string uuid = s.property(volume, "Name");
        for (const auto& l : s.fabric({kHostPort}))
            if (l["lunUuid"] == uuid) return l["dataGeneration"].get<int64_t>();
        return -1;
    }
    std::string generation(const CIMObjectPath& volume) {
        const std::string uuid = s.property(volume, "Name");
        const nlohmann::json state = s.state();
        for (const auto& v : state[0]["volumes"])
            if (v["uuid"] == uuid) return std::to_string(v["generation"].get<uint64_t>());
        return "<none>";
    }
    void rename(const CIMObjectPath& view, const std::string& name) {
        cim::CIMInstance i = s.client().getInstance(s.ns(), view, false, true, true);
        i.getProperty(i.findProperty("ElementName")).setValue(CIMValue(name));
        i.setPath(view);
        s.client().modifyInstance(s.ns(), i, true,
                                  cim::CIMPropertyList({cim::CIMName("ElementName")}));
    }
};

}  // namespace

TEST_P(Walk, OnePiTSnapshot) {
    const CIMObjectPath v = s.volume("ora_data2");
    replication("CreatePiTGroup",
                {param("BaseVolume", CIMValue(v)), param("Label", CIMValue("ora_data2_SMIS_PG")),
                 param("RepositorySize", u64(40ULL << 30))});
    const CIMObjectPath g = s.named(cls("_PiTGroup"), "ora_data2_SMIS_PG");
    s.hostWrite("ora_data2");
    auto snap = replication(
        "CreateSynchronizationAspect",
        {param("Name", CIMValue("bk1")), param("SyncType", u16(7)),
         param("Mode", CIMValue(cim::CIMTYPE_UINT16, false)), param("SourceElement", CIMValue(v))});
    const CIMObjectPath sds = snap.path("SettingsState");
    const CIMObjectPath t = testsupport::settingData(sds);
    // Hosts find the PiT by "ElementName" = the "InstanceID" they read from the output.
    EXPECT_EQ(s.property(t, "ElementName"), t.findKeyBinding("InstanceID")->getValue());
    EXPECT_EQ(s.references(t, "CIM_SettingsDefineState"), 1u);
    EXPECT_EQ(s.associators(g, "CIM_OrderedMemberOfCollection", cls("_PiT")).size(), 1u);

    const CIMObjectPath w =
        replication("ModifySettingsDefineState",
                    {param("Operation", u16(5)), param("SettingsState", CIMValue(sds))})
            .path("TargetElement");
    EXPECT_EQ(s.property(w, "ElementName").rfind("ora_data2_SV_", 0), 0u);
    EXPECT_EQ(s.property(w, "Access"), "3");
    EXPECT_EQ(s.property(w, "NumberOfBlocks"), s.property(v, "NumberOfBlocks"));
    EXPECT_EQ(s.property(w, "CurrentManager"), s.property(v, "CurrentManager"));
    rename(w, "bk1_view");
    EXPECT_EQ(s.property(w, "ElementName"), "bk1_view");
    EXPECT_EQ(s.references(w, cls("_ViewBasedOnPiT")), 1u);
    EXPECT_EQ(s.references(w, cls("_PiTViewSynchronized")), 1u);

    call("ControllerConfigurationService", "ExposePaths", expose(w));
    EXPECT_EQ(s.references(w, "CIM_ProtocolControllerForUnit"), 1u);
    s.hostWrite("ora_data2");
    EXPECT_EQ(std::to_string(seen(w)), "2") << "the view shows the PiT's data";
    call("ControllerConfigurationService", "HidePaths", hide(w));
    EXPECT_EQ(seen(w), -1);
    auto viewSync = s.client().referenceNames(s.ns(), w, cls("_PiTViewSynchronized"));
    replication("ModifyReplicaSynchronization",
                {param("Operation", u16(19)), param("Synchronization", CIMValue(viewSync[0])),
                 param("Force", CIMValue(false)), param("WaitForCopyState", u16(0))});
    EXPECT_EQ(s.count(cls("_PiTView")), 0u);
    EXPECT_EQ(s.references(t, cls("_ViewBasedOnPiT")), 0u);

    replication("ModifySettingsDefineState",
                {param("Operation", u16(32768)), param("SettingsState", CIMValue(sds))}, 4096);
    EXPECT_EQ(generation(v), "2") << "reverted to the PiT";
    // The next PiT: the next sequence number, a later time.
    auto next = replication("CreateSynchronizationAspect",
                            {param("SyncType", u16(7)), param("SourceElement", CIMValue(v))});
    const CIMObjectPath t2 = testsupport::settingData(next.path("SettingsState"));
    EXPECT_EQ(std::stoull(s.property(t2, "SequenceNumber")),
              std::stoull(s.property(t, "SequenceNumber")) + 1);
    EXPECT_LT(s.property(t, "WhenPointInTime"), s.property(t2, "WhenPointInTime"));
    replication("ModifySettingsDefineState",
                {param("Operation", u16(4)), param("SettingsState", CIMValue(sds))});
    EXPECT_EQ(s.count(cls("_PiT")), 1u);
    EXPECT_EQ(s.references(v, "CIM_SettingsDefineState"), 1u);
    EXPECT_EQ(s.count(cls("_PiTGroup")), 1u);
    EXPECT_EQ(s.invocations(), calls);
}

TEST_P(Walk, OneConsistencyGroupSnapshot) {
    const CIMObjectPath v1 = s.volume("ora_data2"), v2 = s.volume("exch_log");
    const CIMObjectPath c = replication("CreateGroup", {param("GroupName", CIMValue("1A3F_2"))})
                                .path("ReplicationGroup");
    for (const CIMObjectPath& v : {v1, v2, v1})
        replication("AddMembers",
                    {param("ReplicationGroup", CIMValue(c)), param("Members", refs({v}))});
    EXPECT_EQ(s.associators(c, "CIM_MemberOfCollection", "CIM_StorageVolume").size(), 2u)
        << "a member added again is there once";
    auto snap = replication("CreateSynchronizationAspect",
                            {param("SyncType", u16(7)), param("SourceGroup", CIMValue(c))});
    const CIMObjectPath sds = snap.path("SettingsState");
    const CIMObjectPath ct = testsupport::settingData(sds);
    EXPECT_EQ(s.associators(ct, "CIM_SettingsDefineState", "CIM_ReplicationGroup").size(), 1u);

    const CIMObjectPath cv =
        replication("ModifySettingsDefineState",
                    {param("Operation", u16(5)), param("SettingsState", CIMValue(sds))})
            .path("TargetElement");
    auto members = s.associators(cv, "CIM_OrderedMemberOfCollection", cls("_PiTView"));
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(s.references(cv, cls("_CGPiTViewSynchronized")), 1u);
    EXPECT_EQ(s.references(ct, cls("_ViewBasedOnPiT")), 1u);
    for (const auto& m : members) {
        EXPECT_EQ(s.references(m, cls("_PiTViewSynchronized")), 1u);
        call("ControllerConfigurationService", "ExposePaths", expose(m));
        EXPECT_EQ(seen(m), 1);
    }
    call("ControllerConfigurationService", "HidePaths", hide(members[0]));
    EXPECT_EQ(s.count(cls("_ConsistencyGroupPiTView")), 1u) << "kept while a member is mapped";
    call("ControllerConfigurationService", "HidePaths", hide(members[1]));
    auto cgSync = s.client().referenceNames(s.ns(), cv, cls("_CGPiTViewSynchronized"));
    replication("ModifyReplicaSynchronization",
                {param("Operation", u16(19)), param("Synchronization", CIMValue(cgSync[0]))});
    EXPECT_EQ(s.count(cls("_ConsistencyGroupPiTView")), 0u);
    EXPECT_EQ(s.count(cls("_PiTView")), 0u);
    EXPECT_EQ(s.count(cls("_ConsistencyGroupPiT")), 1u);

    s.hostWrite("ora_data2");
    s.hostWrite("exch_log");
    ++calls;
    auto restore = s.call("ReplicationService", "ModifySettingsDefineState",
                          {param("Operation", u16(32768)), param("SettingsState", CIMValue(sds))});
    ASSERT_EQ(restore.rc, 4096u) << "restoring is a job";
    EXPECT_EQ(s.jobState(restore), 4);
    EXPECT_EQ(generation(v1), "2") << "the data comes back when the job completes";
    s.finishJobs();
    EXPECT_EQ(s.jobState(restore), 7);
    EXPECT_EQ(generation(v1), "1");
    EXPECT_EQ(generation(v2), "1");
    replication("RemoveMembers",
                {param("ReplicationGroup", CIMValue(c)), param("Members", refs({v2})),
                 param("DeleteOnEmptyElement", CIMValue(false))});
    EXPECT_EQ(s.associators(c, "CIM_MemberOfCollection", "CIM_StorageVolume").size(), 1u);
    replication("DeleteGroup",
                {param("ReplicationGroup", CIMValue(c)), param("RemoveElements", CIMValue(true))});
    EXPECT_EQ(s.count("CIM_ReplicationGroup"), 0u);
    EXPECT_EQ(s.count(cls("_ConsistencyGroupPiT")), 0u) << "its CG PiTs go with it";
    EXPECT_EQ(s.references(v1, "CIM_MemberOfCollection"), 0u);
    EXPECT_EQ(s.invocations(), calls);
}

TEST_P(Walk, OlderEngineSnapshotAndClone) {
    const CIMObjectPath v = s.volume("exch_log");
    const CIMObjectPath snap =
        call("StorageConfigurationService", "CreateReplica",
             {param("ElementName", CIMValue("bk2")), param("CopyType", u16(4)),
              param("SourceElement", CIMValue(v))})
            .path("TargetElement");
    auto sync = s.client().referenceNames(s.ns(), snap, "CIM_StorageSynchronized");
    ASSERT_EQ(sync.size(), 1u);
    auto op = [&](unsigned operation, uint32_t rc = 0) {
        call("StorageConfigurationService", "ModifySynchronization",
             {param("Operation", u16(operation)), param("Synchronization", CIMValue(sync[0]))}, rc);
    };
    op(8);
    cim::CIMInstance quiesced = s.client().references(s.ns(), snap, "CIM_StorageSynchronized")[0];
    EXPECT_EQ(quiesced.getProperty(quiesced.findProperty("SyncState")).getValue().toString(), "9");
    s.hostWrite("exch_log");
    op(4);
    EXPECT_EQ(generation(snap), "2") << "retaken";
    call("ControllerConfigurationService", "ExposePaths", expose(snap));
    EXPECT_EQ(seen(snap), 2);
    call("ControllerConfigurationService", "HidePaths", hide(snap));
    s.hostWrite("exch_log");
    op(5, 4096);
    EXPECT_EQ(generation(v), "2") << "restored from the snapshot";
    op(2);
    EXPECT_EQ(s.references(v, "CIM_StorageSynchronized"), 0u);
    EXPECT_THROW(s.instance(snap), cim::CIMException);

    const CIMObjectPath clone =
        call("StorageConfigurationService", "CreateReplica",
             {param("CopyType", u16(5)), param("SourceElement", CIMValue(v))})
            .path("TargetElement");
    EXPECT_EQ(s.references(clone, cls("_VolumeCopySynchronized")), 1u);

    const CIMObjectPath k =
        call("StorageConfigurationService", "CreateOrModifyElementFromStoragePool",
             {param("ElementName", CIMValue("bk3")), param("ElementType", u16(2)),
              param("Goal", CIMValue(cim::CIMTYPE_REFERENCE, false)),
              param("Size", u64(53687091200ULL - 1)),
              param("InPool", CIMValue(s.associators(v, "CIM_AllocatedFromStoragePool",
                                                     "CIM_StoragePool")[0]))})
            .path("TheElement");
    EXPECT_EQ(s.property(k, "NumberOfBlocks"), "104857600") << "rounded up to the block";
    const CIMObjectPath k2 =
        call("StorageConfigurationService", "CreateOrModifyElementFromStoragePool",
             {param("ElementType", u16(2)), param("Size", u64(1ULL << 30)),
              param("InPool", CIMValue(s.associators(v, "CIM_AllocatedFromStoragePool",
                                                     "CIM_StoragePool")[0]))})
            .path("TheElement");
    EXPECT_NE(s.property(k, "CurrentManager"), s.property(k2, "CurrentManager"))
        << "new volumes alternate between the controllers";
    call("StorageConfigurationService", "ReturnToStoragePool", {param("TheElement", CIMValue(k2))});
    EXPECT_EQ(s.references(k, "CIM_AllocatedFromStoragePool"), 1u);
    EXPECT_EQ(s.references(k, "CIM_ElementSettingData"), 1u);
    call("StorageConfigurationService", "AssignStorageResourceAffinity",
         {param("ResourceType", u16(2)),
          param("StorageProcessor", CIMValue(s.client().enumerateInstanceNames(
                                        s.ns(), cls("_StorageProcessorSystem"))[0])),
          param("StorageResources", refs({k}))});
    call("StorageConfigurationService", "AttachOrModifyReplica",
         {param("SourceElement", CIMValue(v)), param("TargetElement", CIMValue(k)),
          param("CopyType", u16(4))},
         4096);
    EXPECT_EQ(s.references(k, cls("_VolumeCopySynchronized")), 1u);
    EXPECT_EQ(generation(k), generation(v)) << "the finished copy";
    // Hosts build the synchronization's path themselves, with a host and keys in order.
    CIMObjectPath src = v, dst = k;
    src.setHost("");
    dst.setHost("");
    const CIMObjectPath built(
        "array.example", s.ns(), cls("_VolumeCopySynchronized"),
        {cim::CIMKeyBinding("SystemElement", src.toString(), cim::CIMKeyBinding::REFERENCE),
         cim::CIMKeyBinding("SyncedElement", dst.toString(), cim::CIMKeyBinding::REFERENCE)});
    call("StorageConfigurationService", "ModifySynchronization",
         {param("Operation", u16(2)), param("Synchronization", CIMValue(built))});
    EXPECT_EQ(s.references(k, "CIM_StorageSynchronized"), 0u);
    call("StorageConfigurationService", "ReturnToStoragePool", {param("TheElement", CIMValue(k))});
    EXPECT_EQ(s.count("CIM_StorageVolume"), 9u) << "the clone of CreateReplica is left";
    EXPECT_EQ(s.invocations(), calls);
}

INSTANTIATE_TEST_SUITE_P(Presets, Walk, ::testing::Values("LSISSI", "DCIM", "NETAPP"));
