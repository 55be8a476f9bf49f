// The simulator through our own CIM client, end to end: every CIM error the repository
// answers and the intrinsic operations. Faults, keep-alive and TLS belong to the server's
// and the transport's own tests.
#include <gtest/gtest.h>

#include <functional>

#include <cim/CIMClient.h>

#include "sim/server/TestServer.h"

namespace {

class ClientTest : public ::testing::Test {
  protected:
    sim::TestServer simulator;
    cim::CIMClient client;
    std::string ns = simulator.arrayNamespace();

    void SetUp() override {
        client.connect("127.0.0.1", simulator.httpPort(), simulator.user(), simulator.password());
        client.setTimeout(20000);
    }

    cim::CIMObjectPath firstVolume() {
        auto names = client.enumerateInstanceNames(ns, "CIM_StorageVolume");
        EXPECT_FALSE(names.empty());
        return names.empty() ? cim::CIMObjectPath() : names.front();
    }

    cim::CIMObjectPath service(const char* cls) {
        auto names = client.enumerateInstanceNames(ns, cls);
        EXPECT_FALSE(names.empty()) << cls;
        return names.empty() ? cim::CIMObjectPath() : names.front();
    }

    // The CIM status the call fails with, or CIM_ERR_SUCCESS.
    template <class F>
    static cim::CIMStatusCode codeOf(F&& f) {
        try {
            f();
        } catch (const cim::CIMException& e) {
            return e.getCode();
        }
        return cim::CIM_ERR_SUCCESS;
    }

    cim::CIMInstance withProperty(const cim::CIMObjectPath& path, const char* name,
                                  const cim::CIMValue& value) {
        cim::CIMInstance inst(path.getClassName());
        inst.setPath(path);
        inst.addProperty(cim::CIMProperty(name, value));
        return inst;
    }
};

}  // namespace

TEST_F(ClientTest, EveryRepositoryErrorArrivesAsItsCode) {
    const auto volume = firstVolume();
    cim::CIMObjectPath gone = volume;
    std::vector<cim::CIMKeyBinding> keys;
    for (auto k : gone.getKeyBindings()) {
        if (cim::equalNoCase(k.getName().getString(), "DeviceID")) k.setValue("6000");
        keys.push_back(k);
    }
    gone.setKeyBindings(keys);
    auto modify = [&](const char* property, const cim::CIMValue& value) {
        client.modifyInstance(ns, withProperty(volume, property, value), false,
                              cim::CIMPropertyList({cim::CIMName(property)}));
    };
    cim::Array<cim::CIMParamValue> out;
    const struct {
        const char* call;
        std::function<void()> run;
        cim::CIMStatusCode code;
    } cases[] = {
        {"unknown namespace",
         [&] { client.enumerateInstanceNames("no/such", "CIM_StorageVolume"); },
         cim::CIM_ERR_INVALID_NAMESPACE},
        {"unknown class", [&] { client.enumerateInstances(ns, "NoSuch_Class"); },
         cim::CIM_ERR_INVALID_CLASS},
        {"missing instance", [&] { client.getInstance(ns, gone); }, cim::CIM_ERR_NOT_FOUND},
        {"delete", [&] { client.deleteInstance(ns, volume); }, cim::CIM_ERR_NOT_SUPPORTED},
        {"unknown association", [&] { client.associatorNames(ns, volume, "NoSuch_Association"); },
         cim::CIM_ERR_INVALID_CLASS},
        {"bad value", [&] { modify("Access", cim::CIMValue(cim::Uint16(9))); },
         cim::CIM_ERR_INVALID_PARAMETER},
        {"bad label", [&] { modify("ElementName", cim::CIMValue("no spaces allowed")); },
         cim::CIM_ERR_FAILED},
        {"unknown method",
         [&] {
             client.invokeMethod(ns, service("CIM_ReplicationService"), "NoSuchMethod", {}, out);
         },
         cim::CIM_ERR_METHOD_NOT_FOUND},
    };
    for (const auto& c : cases) EXPECT_EQ(codeOf(c.run), c.code) << c.call;

    // Every refused call is logged with its code.
    int withCode = 0;
    for (const auto& r : simulator.requests()) withCode += r.cimStatus != 0;
    EXPECT_EQ(withCode, 8);
}

TEST_F(ClientTest, IntrinsicOperationsRoundTrip) {
    auto volume = firstVolume();
    auto inst = client.getInstance(ns, volume, false);
    EXPECT_NE(inst.findProperty("ElementName"), cim::PEG_NOT_FOUND);

    auto some = client.enumerateInstances(ns, "CIM_StorageVolume", true, false, false, false,
                                          cim::CIMPropertyList({cim::CIMName("Name")}));
    ASSERT_FALSE(some.empty());
    EXPECT_NE(some[0].findProperty("Name"), cim::PEG_NOT_FOUND);
    EXPECT_EQ(some[0].findProperty("ElementName"), cim::PEG_NOT_FOUND);

    EXPECT_FALSE(client.associatorNames(ns, volume, "CIM_AllocatedFromStoragePool").empty());
    EXPECT_FALSE(client.associators(ns, volume, "CIM_AllocatedFromStoragePool").empty());
    EXPECT_FALSE(client.referenceNames(ns, volume, "CIM_AllocatedFromStoragePool").empty());
    EXPECT_FALSE(client.references(ns, volume, "CIM_AllocatedFromStoragePool").empty());

    client.modifyInstance(ns, withProperty(volume, "ElementName", cim::CIMValue("renamed_1")),
                          false, cim::CIMPropertyList({cim::CIMName("ElementName")}));
    auto after = client.getInstance(ns, volume, false);
    std::string label;
    after.getProperty(after.findProperty("ElementName")).getValue().get(label);
    EXPECT_EQ(label, "renamed_1");

    auto namespaces = client.enumerateInstanceNames(simulator.interopNamespace(), "CIM_Namespace");
    bool listed = false;
    for (const auto& n : namespaces) {
        const auto* k = n.findKeyBinding("Name");
        listed = listed || (k && k->getValue() == ns);
    }
    EXPECT_TRUE(listed);
    EXPECT_EQ(simulator.connectionCount(), 1u);
}
