// Property reads and changes, and the existence check, against the simulator.
#include "smis_fixture.h"

namespace smistest {

class QueryProps : public QueryTest {
  protected:
    std::string VolumePath(size_t i) {
        return util().GetVolObjPathByUUID(conn(), volumes.at(i).uuid, systemName);
    }
    std::string SecretPath() {
        auto names = conn().GetInstanceNames("CIM_SharedSecret");
        EXPECT_EQ(names.size(), 1u);
        if (names.empty()) return std::string();
        names[0].setNameSpace(nameSpace);
        return names[0].toString();
    }
    // Requests the provider got since the last call.
    size_t Asked() {
        const size_t before = seen;
        return (seen = sim->requests().size()) - before;
    }
    size_t seen = 0;
};

// A list is filled with what is found; 1 only when everything was; an empty list asks nothing.
TEST_F(QueryProps, ReadsPropertyListsByExactName) {
    const std::string path = VolumePath(2);
    std::map<std::string, std::string> props{{"ElementName", ""}, {"Name", ""}},
        partly{{"ElementName", ""}, {"elementname", "keep"}}, empty;
    EXPECT_EQ(util().GetCIMPropList(conn(), path, props), 1);
    EXPECT_EQ(props["ElementName"] + " " + props["Name"], "ora_log " + volumes[2].uuid);
    cim::CIMObjectPath asPath(path);
    EXPECT_EQ(util().GetCIMPropList(conn(), asPath, partly), 0);
    EXPECT_EQ(partly["ElementName"] + " " + partly["elementname"], "ora_log keep");
    Asked();
    EXPECT_EQ(util().GetCIMPropList(conn(), path, empty), 0);
    EXPECT_EQ(Asked(), 0u);
    sim->failCim(cim::CIM_ERR_NOT_FOUND, "", 1, RequestKey{"GetInstance", "", ""});
    EXPECT_EQ(util().GetCIMPropList(conn(), path, props), 0);
}

// Bad values are refused unasked; a refusal, a broken read or no connection give 0.
TEST_F(QueryProps, UpdatesOnlyWhatTheProviderAccepts) {
    std::string path = VolumePath(1);
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "ElementName", "renamed_1"), 1);
    EXPECT_EQ(util().GetCIMProp(conn(), path, "ElementName"), "renamed_1");
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "Access", "2"), 1);
    EXPECT_EQ(util().GetCIMProp(conn(), path, "Access"), "2");
    EXPECT_EQ(CountRequests(*sim, "ModifyInstance"), 2u);
    const std::pair<const char*, const char*> refused[] = {
        {"Access", "70000"}, {"Access", "-1"},        {"Access", "two"},
        {"Access", ""},      {"NoSuchProperty", "1"}, {"BlockSize", "4096"}};
    for (const auto& [property, value] : refused)
        EXPECT_EQ(util().UpdateInstanceProp(conn(), path, property, value), 0) << property << value;
    EXPECT_EQ(util().UpdateInstanceProp(conn(), "not a path", "Access", "2"), 0);
    EXPECT_EQ(CountRequests(*sim, "ModifyInstance"), 2u);
    // The provider accepts only 1 to 4.
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "Access", "9"), 0);
    EXPECT_TRUE(logged("Caught CIMException: CIM_ERR_INVALID_PARAMETER"));
    // Read without retry: one broken answer is enough.
    sim->failHttp(500, 1, RequestKey{"GetInstance", "", ""});
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "Access", "3"), 0);
    EXPECT_EQ(util().GetCIMProp(conn(), path, "Access"), "2");
    conn().DisconnectCimom();
    Asked();
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "Access", "2"), 0);
    EXPECT_EQ(Asked(), 0u);
}

TEST_F(QueryProps, SecretIsChangedButNeverTraced) {
    std::string path = SecretPath();
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "Secret", kNewSecret), 1);
    EXPECT_EQ(sim->provider().currentState().arrays[0].providerSecret, kNewSecret);
    // A refusal whose text echoes the value is masked.
    sim->failCim(cim::CIM_ERR_FAILED, std::string("bad secret ") + kNewSecret + "!", 1,
                 RequestKey{"ModifyInstance", "", ""});
    EXPECT_EQ(util().UpdateInstanceProp(conn(), path, "Secret", kNewSecret), 0);
    EXPECT_TRUE(logged("bad secret ****!"));
    EXPECT_FALSE(logged(kNewSecret));
}

// 1: exists (and has the given UUID); 0: the provider says not; -1: cannot be told.
TEST_F(QueryProps, ExistenceOfAPathOrAUuid) {
    std::string path = VolumePath(3);
    std::string gone = path;
    gone.replace(gone.find(volumes[3].uuid), volumes[3].uuid.size(),
                 "6000000000000000000000000000DEAD");
    std::string lower = volumes[3].uuid;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::tuple<const char*, std::string, std::string, std::string, int> cases[] = {
        {"path", systemName, path, "", 1},
        {"path of that UUID, any case", systemName, path, lower, 1},
        {"path now of another volume", systemName, path, volumes[4].uuid, 0},
        {"object without Name", systemName, SecretPath(), volumes[4].uuid, -1},
        {"deleted path", systemName, gone, "", 0},
        {"UUID", systemName, volumes[6].uuid, "", 1},
        {"UUID on another system", "600AFFFF", volumes[6].uuid, "", 0},
        {"unknown UUID", systemName, "6000000000000000000000000000BEEF", "", 0},
        // Taken as a name, an empty text would match any volume.
        {"empty text", systemName, "", "", -1},
    };
    for (auto [name, system, object, uuid, want] : cases)
        EXPECT_EQ(util().CheckInstanceExistence(conn(), system, object, uuid), want) << name;
    std::string none, uuid = volumes[0].uuid;
    sim->failCim(cim::CIM_ERR_NOT_FOUND, "", 1, RequestKey{"GetInstance", "", ""});
    EXPECT_EQ(util().CheckInstanceExistence(conn(), systemName, path, none), 0);
    sim->failCim(cim::CIM_ERR_FAILED, "", 1, RequestKey{"GetInstance", "", ""});
    EXPECT_EQ(util().CheckInstanceExistence(conn(), systemName, path, none), -1);
    // A malformed answer is a failure, not a sign that the text was a name.
    sim->log().clear();
    sim->addFault(sim::FaultKind::MalformedXml, 1, RequestKey{"GetInstance", "", ""});
    EXPECT_EQ(util().CheckInstanceExistence(conn(), systemName, path, none), -1);
    EXPECT_EQ(CountRequests(*sim, "EnumerateInstances"), 0u);
    sim->failCim(cim::CIM_ERR_FAILED, "", 1, RequestKey{"EnumerateInstances", "", ""});
    EXPECT_EQ(util().CheckInstanceExistence(conn(), systemName, uuid, none), -1);
}

}  // namespace smistest
