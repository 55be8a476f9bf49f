// Property reads and changes, and the existence check, against the simulator.
#include <gtest/gtest.h>

#include <map>

#include "query_fixture.h"

namespace querytest {
namespace {

using RequestKey = sim::RequestKey;

class QueryProps : public QueryTest {
  protected:
    std::string VolumePath(size_t i) {
        return util()
            .GetObjPathByProp(conn(), "CIM_StorageVolume", "DeviceID", volumes.at(i).uuid,
                              systemName)
            .toString();
    }
    std::string SecretPath() {
        auto names = conn().GetInstanceNames("CIM_SharedSecret");
        EXPECT_EQ(names.size(), 1u);
        if (names.empty()) return std::string();
        names[0].setNameSpace(nameSpace);
        return names[0].toString();
    }
    std::string ProviderSecret() { return sim->provider().currentState().arrays[0].providerSecret; }
};

TEST_F(QueryProps, ReadsPropertiesByExactName) {
    std::string path = VolumePath(2);
    EXPECT_EQ(util().GetCIMProp(conn(), path, "ElementName"), "ora_log");
    EXPECT_EQ(util().GetCIMProp(conn(), path, "Name"), volumes[2].uuid);
    EXPECT_EQ(util().GetCIMProp(conn(), path, "elementname"), "");
    EXPECT_EQ(util().GetCIMProp(conn(), path, "NoSuchProperty"), "");

    const size_t before = sim->requests().size();
    std::string notAPath = volumes[2].uuid;
    EXPECT_EQ(util().GetCIMProp(conn(), notAPath, "ElementName"), "");
    EXPECT_EQ(sim->requests().size(), before);

    sim->failCim(cim::CIM_ERR_FAILED, "", 1, RequestKey{"GetInstance", "", ""});
    EXPECT_EQ(util().GetCIMProp(conn(), path, "ElementName"), "");
    EXPECT_TRUE(dev->logged("SMIS::GetCIMProp: "));

    bool found = true;
    cim::CIMInstance inst = conn().GetInstance(cim::CIMObjectPath(path));
    EXPECT_EQ(util().GetInstanceProp(conn(), inst, "ElementName", found), "ora_log");
    EXPECT_TRUE(found);
    EXPECT_EQ(util().GetInstanceProp(conn(), inst, "Missing", found), "");
    EXPECT_FALSE(found);
}

TEST_F(QueryProps, PropertyListFillsWhatItFinds) {
    std::string path = VolumePath(0);
    std::map<std::string, std::string> props{{"ElementName", ""}, {"Name", ""}};
    EXPECT_EQ(util().GetCIMPropList(conn(), path, props), 1);
    EXPECT_EQ(props["ElementName"], "ora_data1");
    EXPECT_EQ(props["Name"], volumes[0].uuid);

    std::map<std::string, std::string> partly{{"ElementName", ""}, {"Bogus", "keep"}};
    cim::CIMObjectPath asPath(path);
    EXPECT_EQ(util().GetCIMPropList(conn(), asPath, partly), 0);
    EXPECT_EQ(partly["ElementName"], "ora_data1");
    EXPECT_EQ(partly["Bogus"], "keep");

    std::map<std::string, std::string> empty;
    const size_t before = sim->requests().size();
    EXPECT_EQ(util().GetCIMPropList(conn(), path, empty), 0);
    EXPECT_EQ(sim->requests().size(), before);

    sim->failCim(cim::CIM_ERR_NOT_FOUND, "", 1, RequestKey{"GetInstance", "", ""});
    EXPECT_EQ(util().GetCIMPropList(conn(), path, props), 0);
}

TEST_F(QueryProps, UpdatesStringAndSmallIntegerProperties) {
    std::string path = VolumePath(1);
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "ElementName", "renamed_1"), 1);
    EXPECT_EQ(util().GetCIMProp(conn(), path, "ElementName"), "renamed_1");
    EXPECT_TRUE(dev->logged("Updated the Property [ElementName] to [renamed_1]"));

    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "Access", "2"), 1);
    EXPECT_EQ(util().GetCIMProp(conn(), path, "Access"), "2");
    EXPECT_EQ(CountRequests(*sim, "ModifyInstance"), 2u);
}

TEST_F(QueryProps, UpdateRefusesBadValuesBeforeAskingTheProvider) {
    std::string path = VolumePath(1);
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "Access", "70000"), 0);
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "Access", "-1"), 0);
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "Access", "two"), 0);
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "Access", ""), 0);
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "NoSuchProperty", "1"), 0);
    EXPECT_TRUE(dev->logged("Property [NoSuchProperty] not found"));
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "BlockSize", "4096"), 0);
    EXPECT_TRUE(dev->logged("UpdateInstanceProp: Unimplemented datatype"));
    EXPECT_EQ(util().UpdateInstanceProp(conn(), "not a path", "Access", "2"), 0);
    EXPECT_EQ(CountRequests(*sim, "ModifyInstance"), 0u);
    EXPECT_EQ(util().GetCIMProp(conn(), path, "Access"), "3");
}

TEST_F(QueryProps, UpdateReportsProviderRefusalAndMissingConnection) {
    std::string path = VolumePath(1);
    // The provider accepts only 1 to 4.
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "Access", "9"), 0);
    EXPECT_TRUE(dev->logged("Caught CIMException: CIM_ERR_INVALID_PARAMETER"));
    // Read without retry: one broken answer is enough.
    sim->failHttp(500, 1, RequestKey{"GetInstance", "", ""});
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "Access", "2"), 0);

    conn().DisconnectCimom();
    const size_t before = sim->requests().size();
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "Access", "2"), 0);
    EXPECT_EQ(sim->requests().size(), before);
}

TEST_F(QueryProps, SecretIsChangedButNeverTraced) {
    std::string path = SecretPath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "Secret", kNewSecret), 1);
    EXPECT_EQ(ProviderSecret(), kNewSecret);
    EXPECT_TRUE(dev->logged("Updated the Property [Secret]"));

    // A refusal whose text echoes the value is masked.
    sim->failCim(cim::CIM_ERR_FAILED, std::string("bad secret ") + kNewSecret + "!", 1,
                 RequestKey{"ModifyInstance", "", ""});
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "Secret", kNewSecret), 0);
    EXPECT_TRUE(dev->logged("bad secret ****!"));
    EXPECT_FALSE(dev->logged(kNewSecret));
}

TEST_F(QueryProps, ExistenceOfAPath) {
    std::string sys = systemName;
    std::string path = VolumePath(3);
    std::string none;
    EXPECT_EQ(util().CheckInstanceExistence(conn(), sys, path, none), 1);
    EXPECT_TRUE(dev->logged("Instance " + path + " found"));

    std::string uuid = volumes[3].uuid;
    for (char& c : uuid) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(util().CheckInstanceExistence(conn(), sys, path, uuid), 1);
    EXPECT_TRUE(dev->logged("supplied uuid to verify is [" + uuid + "]"));

    std::string other = volumes[4].uuid;
    EXPECT_EQ(util().CheckInstanceExistence(conn(), sys, path, other), 0);
    EXPECT_TRUE(dev->logged("it must be recreated object with the same object path"));

    // An object without "Name" cannot be verified.
    std::string secret = SecretPath();
    EXPECT_EQ(util().CheckInstanceExistence(conn(), sys, secret, other), -1);
    EXPECT_TRUE(dev->logged("Name property not found for object path"));
}

TEST_F(QueryProps, DeletedOrUnknownObjectDoesNotExist) {
    std::string sys = systemName;
    std::string none;
    std::string gone = VolumePath(3);
    const std::string uuid = volumes[3].uuid;
    gone.replace(gone.find(uuid), uuid.size(), "6000000000000000000000000000DEAD");
    EXPECT_EQ(util().CheckInstanceExistence(conn(), sys, gone, none), 0);

    std::string path = VolumePath(3);
    sim->failCim(cim::CIM_ERR_NOT_FOUND, "", 1, RequestKey{"GetInstance", "", ""});
    EXPECT_EQ(util().CheckInstanceExistence(conn(), sys, path, none), 0);
}

TEST_F(QueryProps, ExistenceOfAUuidGoesByName) {
    std::string sys = systemName;
    std::string none;
    std::string uuid = volumes[6].uuid;
    EXPECT_EQ(util().CheckInstanceExistence(conn(), sys, uuid, none), 1);
    EXPECT_TRUE(dev->logged("Supplied source volume is not an object path, assuming UUID(Name)"));

    std::string otherSystem = "600AFFFF";
    EXPECT_EQ(util().CheckInstanceExistence(conn(), otherSystem, uuid, none), 0);

    std::string unknown = "6000000000000000000000000000BEEF";
    EXPECT_EQ(util().CheckInstanceExistence(conn(), sys, unknown, none), 0);
    EXPECT_TRUE(dev->logged(" Lun 6000000000000000000000000000BEEF not found"));

    // Taken as a name, an empty text would match any volume.
    std::string empty;
    const size_t before = sim->requests().size();
    EXPECT_EQ(util().CheckInstanceExistence(conn(), sys, empty, none), -1);
    EXPECT_EQ(sim->requests().size(), before);
}

TEST_F(QueryProps, ExistenceIsUndeterminedOnOtherFailures) {
    std::string sys = systemName;
    std::string none;
    std::string path = VolumePath(0);
    sim->failCim(cim::CIM_ERR_FAILED, "", 1, RequestKey{"GetInstance", "", ""});
    EXPECT_EQ(util().CheckInstanceExistence(conn(), sys, path, none), -1);

    // A malformed answer is a failure, not a sign that the text was a name.
    sim->addFault(sim::FaultKind::MalformedXml, 1, RequestKey{"GetInstance", "", ""});
    EXPECT_EQ(util().CheckInstanceExistence(conn(), sys, path, none), -1);
    EXPECT_FALSE(dev->logged("assuming UUID(Name)"));
    EXPECT_EQ(CountRequests(*sim, "EnumerateInstances"), 0u);

    std::string uuid = volumes[0].uuid;
    sim->failCim(cim::CIM_ERR_FAILED, "", 1, RequestKey{"EnumerateInstances", "", ""});
    EXPECT_EQ(util().CheckInstanceExistence(conn(), sys, uuid, none), -1);
}

}  // namespace
}  // namespace querytest
