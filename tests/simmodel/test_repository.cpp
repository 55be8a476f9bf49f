// The repository through Provider::handle: presets, associations and read errors.
#include <algorithm>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "SimModelTest.h"
#include "testsupport/SimArrays.h"

using namespace simtest;
using cim::CIMObjectPath;
using nlohmann::json;
using testsupport::richConfig;

// Hosts pick the vendor by the first class prefix they find, and read only declared properties.
TEST(SimRepository, EveryPresetServesItsClassesUnderItsPrefixOnly) {
    const std::string named =
        "{P}_StorageSystem {P}_StorageProcessorSystem {P}_ReplicationService "
        "{P}_StorageConfigurationService {P}_ControllerConfigurationService "
        "{P}_SharedSecretService {P}_SharedSecret {P}_StoragePool {P}_StorageVolumeSetting "
        "{P}_StorageVolume {P}_PiTView {P}_PiTGroup {P}_PiT "
        "{P}_ConsistencyGroup {P}_ConsistencyGroupPiT {P}_ConsistencyGroupPiTView "
        "{P}_StorageHardwareID {P}_Cluster {P}_AuthorizedPrivilege "
        "{P}_SCSIProtocolController {P}_ConcreteJob {P}_ViewBasedOnPiT {P}_PiTViewSynchronized "
        "{P}_CGPiTViewSynchronized {P}_VolumeCopySynchronized "
        "CIM_ComputerSystem CIM_StorageSetting SNIA_ReplicationService CIM_SharedSecretService "
        "CIM_HostedService CIM_SharedSecretIsShared "
        "CIM_AllocatedFromStoragePool CIM_OrderedMemberOfCollection CIM_AuthorizedPrivilege "
        "CIM_ProtocolControllerForUnit CIM_StorageSynchronized "
        "CIM_SCSIProtocolController CIM_StorageHardwareID CIM_ReplicationGroup "
        "CIM_StorageReplicationCapabilities CIM_ConcreteJob";
    // clang-format off
    const char* roots[] = {"CIM_ManagedElement", "CIM_Dependency", "CIM_Synchronized", "CIM_MemberOfCollection", "CIM_AuthorizedSubject",
                           "CIM_AuthorizedTarget", "CIM_SettingsDefineState", "CIM_ElementSettingData", "CIM_ElementCapabilities"};
    const char* markers[] = {"HPEVA_", "HPXP_", "LSISSI_", "DCIM_", "IBMTSSVC_", "3PAR_", "TPD_", "FUJITSU_", "Symm_", "SE_"};
    // clang-format on
    for (const char* preset : {"LSISSI", "DCIM", "NETAPP"}) {
        const sim::Config c = richConfig(preset);
        sim::Provider p(c);
        p.startJob(1000);
        const std::string ns = c.arrayNamespace;
        std::istringstream words(named);
        for (std::string cls; words >> cls;) {
            if (cls.rfind("{P}", 0) == 0) cls.replace(0, 3, c.classPrefix);
            EXPECT_FALSE(p.handle(enumNames(cls, ns)).isError()) << preset << " " << cls;
            EXPECT_FALSE(p.handle(enumInstances(cls, {}, ns)).isError()) << preset << cls;
        }
        std::set<std::string> seen;
        for (const char* root : roots)
            for (const auto& inst : ok(p, enumInstances(root, {}, ns)).instances) {
                const std::string cls = inst.getClassName().getString();
                if (!seen.insert(cls).second) continue;
                EXPECT_EQ(cls.rfind(c.classPrefix + "_", 0), 0u) << cls;
                for (const char* m : markers) {
                    if (std::string(m) == c.classPrefix + "_") break;
                    EXPECT_EQ(cls.find(m), std::string::npos) << cls << " contains " << m;
                }
                auto gc = op(cim::xml::kGetClass, ns);
                gc.className = inst.getClassName();
                gc.localOnly = false;
                auto declared = ok(p, gc).cimClass;
                ASSERT_TRUE(declared.has_value()) << cls;
                for (const auto& prop : inst.getProperties())
                    EXPECT_NE(declared->findProperty(prop.getName()), cim::PEG_NOT_FOUND)
                        << cls << "." << prop.getName().getString();
                for (const auto& k : inst.getPath().getKeyBindings())
                    EXPECT_NE(inst.findProperty(k.getName()), cim::PEG_NOT_FOUND)
                        << cls << " key " << k.getName().getString();
            }
        EXPECT_GE(seen.size(), 35u) << preset;
    }
}

TEST(SimRepository, ReadErrorsCarryTheRightCimStatus) {
    sim::Provider p(sim::Config::defaults());
    const CIMObjectPath vol = volume(p, "ora_log");
    CIMObjectPath lessKeys = vol, otherClass = vol;
    auto keys = vol.getKeyBindings();
    keys.pop_back();
    lessKeys.setKeyBindings(keys);
    otherClass.setClassName("NETAPP_NoSuchClass");
    auto unknownParam = enumNames("CIM_StorageVolume");
    unknownParam.unknownParameters.push_back("Frobnicate");
    auto query = op("ExecQuery");
    query.unknownParameters = {"QueryLanguage", "Query"};
    auto create = op(cim::xml::kCreateInstance);
    create.newInstance = cim::CIMInstance("NETAPP_StorageVolume");
    const CIMObjectPath repl = first(p, "CIM_ReplicationService");
    CIMObjectPath noService = repl, elsewhere = repl;
    noService.setClassName("NETAPP_NoService");
    elsewhere.setNameSpace("root/none");
    const CIMObjectPath interop = ok(p, enumNames("CIM_Namespace", "interop")).instanceNames.at(0);
    auto getClass = op(cim::xml::kGetClass);
    getClass.className = cim::CIMName("NETAPP_Nope");
    // clang-format off
    const struct { const char* name; cim::xml::Request request; cim::CIMStatusCode code; } rows[] = {
        {"missing volume", getInstance(withKey(vol, "DeviceID", std::string(32, '6'))), cim::CIM_ERR_NOT_FOUND},
        {"other creation class", getInstance(withKey(vol, "CreationClassName", "NETAPP_PiTView")), cim::CIM_ERR_NOT_FOUND},
        {"a key short", getInstance(lessKeys), cim::CIM_ERR_NOT_FOUND},
        {"unknown class of path", getInstance(otherClass), cim::CIM_ERR_INVALID_CLASS},
        {"unknown class names", enumNames("CIM_NoSuchClass"), cim::CIM_ERR_INVALID_CLASS},
        {"unknown class instances", enumInstances("CIM_NoSuchClass"), cim::CIM_ERR_INVALID_CLASS},
        {"unknown class GetClass", getClass, cim::CIM_ERR_INVALID_CLASS},
        {"unknown namespace", getInstance(vol, "root/nowhere"), cim::CIM_ERR_INVALID_NAMESPACE},
        {"cimv2", enumNames("CIM_StorageVolume", "root/cimv2"), cim::CIM_ERR_INVALID_NAMESPACE},
        {"volumes in interop", enumNames("CIM_StorageVolume", "interop"), cim::CIM_ERR_INVALID_CLASS},
        {"namespaces outside interop", enumNames("CIM_Namespace"), cim::CIM_ERR_INVALID_CLASS},
        {"a namespace not listed", getInstance(withKey(interop, "Name", "root/elsewhere"), "interop"), cim::CIM_ERR_NOT_FOUND},
        {"GetInstance without name", op(cim::xml::kGetInstance), cim::CIM_ERR_INVALID_PARAMETER},
        {"EnumerateInstances without class", op(cim::xml::kEnumerateInstances), cim::CIM_ERR_INVALID_PARAMETER},
        {"AssociatorNames without object", op(cim::xml::kAssociatorNames), cim::CIM_ERR_INVALID_PARAMETER},
        {"ModifyInstance without instance", op(cim::xml::kModifyInstance), cim::CIM_ERR_INVALID_PARAMETER},
        {"DeleteInstance without name", op(cim::xml::kDeleteInstance), cim::CIM_ERR_INVALID_PARAMETER},
        {"unknown parameter", unknownParam, cim::CIM_ERR_INVALID_PARAMETER},
        {"unknown operation", op("FrobnicateInstances"), cim::CIM_ERR_NOT_SUPPORTED},
        {"query", query, cim::CIM_ERR_NOT_SUPPORTED},
        {"create", create, cim::CIM_ERR_NOT_SUPPORTED},
        {"unknown association", assocNames(vol, "CIM_NoSuchAssoc", ""), cim::CIM_ERR_INVALID_CLASS},
        {"unknown result class", assocNames(vol, "", "CIM_NoSuchClass"), cim::CIM_ERR_INVALID_CLASS},
        {"associators of unknown class", assocNames(otherClass, "", ""), cim::CIM_ERR_INVALID_CLASS},
        {"associators of a class", assocNames(CIMObjectPath("", kNs, "NETAPP_StorageVolume"), "", ""), cim::CIM_ERR_NOT_SUPPORTED},
        {"unknown method", invoke(repl, "FrobnicateVolumes"), cim::CIM_ERR_METHOD_NOT_FOUND},
        {"method of an unknown service", invoke(noService, "CreateGroup"), cim::CIM_ERR_NOT_FOUND},
        {"method in another namespace", invoke(elsewhere, "CreateGroup"), cim::CIM_ERR_INVALID_NAMESPACE},
        // clang-format on
    };
    for (const auto& row : rows) {
        auto answer = p.handle(row.request);
        EXPECT_EQ(answer.errorCode, row.code) << row.name;
        EXPECT_EQ(answer.intrinsic, row.request.intrinsic) << row.name;
        EXPECT_TRUE(answer.instances.empty()) << row.name;
        EXPECT_FALSE(answer.errorDescription.empty()) << row.name;
    }
    auto gone = p.handle(assocNames(withKey(vol, "DeviceID", std::string(32, '6')), "", ""));
    EXPECT_FALSE(gone.isError()) << "associators of a missing object are none";
    EXPECT_TRUE(gone.instanceNames.empty());
}

TEST(SimRepository, AssociationsSelectByClassAndRoleAndLeadToSecretAndCapabilities) {
    sim::Provider p(sim::Config::defaults());
    const CIMObjectPath vol = volume(p, "exch_db");
    const char *kAlloc = "CIM_AllocatedFromStoragePool", *kPCFU = "CIM_ProtocolControllerForUnit";
    const std::vector<std::string> pool = {"NETAPP_StoragePool"}, none;
    // clang-format off
    const struct {
        const char* assoc; const char* result; const char* role; const char* resultRole;
        std::vector<std::string> classes;
    } rows[] = {
        {kAlloc, "CIM_StoragePool", "", "", pool},
        {kAlloc, "", "Dependent", "", pool},
        {kAlloc, "", "Antecedent", "", none},
        {kAlloc, "", "", "Antecedent", pool},
        {kAlloc, "", "", "Dependent", none},
        {kAlloc, "CIM_StorageVolume", "", "", none},
        {"CIM_HostedService", "", "", "", none},
        {kPCFU, "", "Antecedent", "", none},
        // Without filters: pool, setting and the group's protocol controller.
        {"", "", "", "", {"NETAPP_SCSIProtocolController", "NETAPP_StoragePool", "NETAPP_StorageVolumeSetting"}},
        // clang-format on
    };
    for (const auto& row : rows) {
        const std::string name =
            std::string(row.assoc) + " " + row.result + " " + row.role + " " + row.resultRole;
        std::vector<std::string> got;
        for (const auto& n :
             ok(p, assocNames(vol, row.assoc, row.result, row.role, row.resultRole)).instanceNames)
            got.push_back(n.getClassName().getString());
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, row.classes) << name;
        // References of the same association and role lead to as many objects.
        if (!*row.result && !*row.resultRole) {
            EXPECT_EQ(ok(p, refNames(vol, row.assoc, row.role)).instanceNames.size(), got.size())
                << "references of " << name;
        }
    }
    // Associators and References answer the instances of the same objects.
    auto r = assocNames(vol, kAlloc, "CIM_StoragePool");
    const auto pools = ok(p, r).instanceNames;
    r.methodName = cim::xml::kAssociators;
    r.propertyList.set({"ElementName"});
    auto insts = ok(p, r).instances;
    ASSERT_EQ(insts.size(), 1u);
    EXPECT_EQ(insts[0].getPath(), pools.at(0));
    EXPECT_EQ(prop(insts[0], "ElementName"), "DG2");
    EXPECT_EQ(insts[0].getPropertyCount(), 1u);
    auto refs = refNames(vol, "CIM_Dependency");
    refs.methodName = cim::xml::kReferences;
    EXPECT_EQ(ok(p, refs).instances.size(), 2u) << "pool allocation and the mapping";
    // The routes from the system to the secret and from the service to its capabilities.
    const CIMObjectPath system = first(p, "NETAPP_StorageSystem");
    auto services =
        ok(p, assocNames(system, "CIM_HostedService", "CIM_SharedSecretService")).instanceNames;
    ASSERT_EQ(services.size(), 1u);
    auto secrets = ok(p, assocNames(services[0], "CIM_SharedSecretIsShared", "CIM_SharedSecret"))
                       .instanceNames;
    ASSERT_EQ(secrets.size(), 1u);
    EXPECT_EQ(prop(ok(p, getInstance(secrets[0])).instances.at(0), "Secret"), "arraypw");
    auto caps = ok(p, assocNames(first(p, "SNIA_ReplicationService"), "",
                                 "CIM_StorageReplicationCapabilities"))
                    .instanceNames;
    ASSERT_EQ(caps.size(), 1u);
    EXPECT_EQ(prop(ok(p, getInstance(caps[0])).instances.at(0), "SupportedSynchronizationType"),
              "6,7,8");
}

TEST(SimRepository, InteropListsTheArrayNamespaceAfterSkippedNames) {
    sim::Provider p(sim::Config::fromJson(
        json{{"preset", "DCIM"}, {"arrays", sim::Config::defaults().toJson()["arrays"]}}));
    auto names = ok(p, enumNames("CIM_Namespace", "interop")).instanceNames;
    ASSERT_EQ(names.size(), 3u);
    auto inst = ok(p, getInstance(names[2], "interop")).instances.at(0);
    EXPECT_EQ(prop(inst, "Name"), "root/DCIM/MDStorageArray13") << "after the skipped names";
    // A namespace written in other case is listed once.
    json j = sim::Config::defaults().toJson();
    j["namespace"] = "ROOT/cimv2";
    sim::Provider q(sim::Config::fromJson(j));
    names = ok(q, enumNames("CIM_Namespace", "interop")).instanceNames;
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1].findKeyBinding("Name")->getValue(), "root/cimv2");
    EXPECT_EQ(ok(q, enumNames("CIM_StorageVolume", "root/cimv2")).instanceNames.size(), 8u);
}

// Providers that report their own SyncType: a configured one wins over the type's own.
TEST(SimRepository, AConfiguredSyncTypeWinsOverTheTypesOwn) {
    json j = json::parse(R"({ "preset": "LSISSI", "arrays": [ {
        "id": "600A0980006CE2B2000000005A1B2C3D", "pools": [ { "label": "DG1" } ],
        "volumes": [ { "label": "src", "pool": "DG1" }, { "label": "c1", "kind": "clone" },
                     { "label": "c2", "kind": "clone" } ],
        "syncs": [ { "type": "volumeCopy", "source": "src", "target": "c1" },
                   { "type": "volumeCopy", "source": "src", "target": "c2", "syncType": 6 } ] } ] })");
    sim::Provider p(sim::Config::fromJson(j));
    auto all = ok(p, enumInstances("CIM_StorageSynchronized", {}, "root/LsiArray13")).instances;
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(prop(all[0], "SyncType") + " " + prop(all[1], "SyncType"), "8 6");
}
