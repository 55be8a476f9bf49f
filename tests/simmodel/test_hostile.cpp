// Requests no well-behaved client sends get a result or a CIM error, never a crash.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SimModelTest.h"

using namespace simtest;
using cim::CIMKeyBinding;
using cim::CIMObjectPath;

namespace {

// clang-format off
const char* const kOps[] = {"GetInstance", "EnumerateInstances", "EnumerateInstanceNames", "Associators",
                            "AssociatorNames", "References", "ReferenceNames", "ModifyInstance",
                            "DeleteInstance", "GetClass", "CreateInstance", "", "getinstance"};
const char* const kClasses[] = {"NETAPP_StorageVolume", "CIM_StorageVolume", "CIM_ManagedElement",
                                "NETAPP_PiT", "CIM_Dependency", "NETAPP_ViewBasedOnPiT", "CIM_Namespace",
                                "NETAPP_ConcreteJob", "CIM_StorageSynchronized", "", "X",
                                "NETAPP_SCSIProtocolController"};
const char* const kKeys[] = {"DeviceID", "SystemName", "InstanceID", "CreationClassName", "Antecedent",
                             "Dependent", "Name", "SystemCreationClassName", "SettingData", "Collection",
                             "RemoteID", ""};
// clang-format on

template <size_t N>
const char* pick(std::mt19937& rng, const char* const (&from)[N]) {
    return from[rng() % N];
}

std::string randomText(std::mt19937& rng, const std::vector<std::string>& samples) {
    const unsigned kind = rng() % 6;
    if (kind == 0) return "";
    if (kind == 1) return std::string(rng() % 5000, static_cast<char>('A' + rng() % 26));
    if (kind == 2) return samples[rng() % samples.size()];
    if (kind == 3) return samples[rng() % samples.size()] + ":" + std::to_string(rng());
    if (kind == 5) return "600A0980006CE2B2000000005A1B2C3D:" + std::string(40, '0');
    std::string s;
    for (int i = 0; i < 40; ++i) s += static_cast<char>(rng() % 256);
    return s;
}

CIMObjectPath randomPath(std::mt19937& rng, const std::vector<std::string>& samples, int depth) {
    std::vector<CIMKeyBinding> keys;
    int n = static_cast<int>(rng() % 6);
    for (int i = 0; i < n; ++i) {
        const char* name = pick(rng, kKeys);
        if (depth < 3 && rng() % 3 == 0) {
            keys.emplace_back(name, randomPath(rng, samples, depth + 1));
        } else {
            keys.emplace_back(name, randomText(rng, samples),
                              static_cast<CIMKeyBinding::Type>(rng() % 4));
        }
    }
    return CIMObjectPath(rng() % 2 ? "host" : "", rng() % 2 ? kNs : "", pick(rng, kClasses), keys);
}

}  // namespace

TEST(SimHostile, EveryMalformedRequestGetsAnAnswer) {
    sim::Provider p(sim::Config::defaults());
    // Real values mixed in, so that some requests get deep into the lookups.
    std::vector<std::string> samples;
    for (const auto& n : ok(p, enumNames("CIM_ManagedElement")).instanceNames) {
        samples.push_back(n.toString());
        for (const auto& k : n.getKeyBindings()) samples.push_back(k.getValue());
    }
    std::mt19937 rng(20261206);
    int errors = 0;
    for (int i = 0; i < 3000; ++i) {
        cim::xml::Request r;
        r.intrinsic = rng() % 8 != 0;
        r.methodName = r.intrinsic ? pick(rng, kOps) : randomText(rng, samples);
        r.nameSpace = rng() % 5 == 0 ? "interop" : rng() % 7 == 0 ? "root/none" : kNs;
        if (rng() % 2) r.instanceName = randomPath(rng, samples, 0);
        if (rng() % 2) r.objectName = randomPath(rng, samples, 0);
        if (rng() % 2) r.className = cim::CIMName(pick(rng, kClasses));
        if (rng() % 3 == 0) r.assocClass = cim::CIMName(pick(rng, kClasses));
        if (rng() % 3 == 0) r.resultClass = cim::CIMName(pick(rng, kClasses));
        if (rng() % 3 == 0) r.role = pick(rng, kKeys);
        if (rng() % 3 == 0) r.resultRole = pick(rng, kKeys);
        if (rng() % 3 == 0) r.deepInheritance = rng() % 2 == 0;
        if (rng() % 3 == 0) r.includeClassOrigin = rng() % 2 == 0;
        if (rng() % 3 == 0) r.propertyList.set({cim::CIMName(pick(rng, kKeys))});
        if (rng() % 3 == 0) {
            cim::CIMInstance inst(pick(rng, kClasses));
            inst.setPath(randomPath(rng, samples, 0));
            inst.addProperty(cim::CIMProperty("ElementName", randomText(rng, samples)));
            if (rng() % 2) inst.addProperty(cim::CIMProperty("Access", cim::Uint16(rng() % 10)));
            if (rng() % 2) inst.addProperty(cim::CIMProperty("Secret", randomText(rng, samples)));
            r.modifiedInstance = inst;
        }
        r.target = randomPath(rng, samples, 0);
        cim::xml::Response resp;
        ASSERT_NO_THROW(resp = p.handle(r)) << i;
        EXPECT_EQ(resp.messageId, r.messageId);
        if (resp.isError()) {
            ++errors;
            EXPECT_TRUE(resp.instances.empty() && resp.instanceNames.empty());
            // Only changes may fail on the array's rules; anything else failing is a fault.
            if (resp.errorCode == cim::CIM_ERR_FAILED) {
                EXPECT_TRUE(r.methodName == "ModifyInstance" || r.methodName == "DeleteInstance")
                    << i << " " << r.methodName << ": " << resp.errorDescription;
            }
        }
    }
    EXPECT_GT(errors, 100);
    // The array is still whole.
    EXPECT_EQ(ok(p, enumNames("CIM_StorageVolume")).instanceNames.size(), 8u);
}
