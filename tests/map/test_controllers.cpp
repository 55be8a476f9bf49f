// Controllers of a host's ports and those carrying a volume: by privileges, and by the fallback.
#include "testsupport/SimMapping.h"

namespace {

using namespace testsupport;


// Plus a group of the all-zero id, and iSCSI hosts whose port names prefix one another.
sim::Config LookupConfig(bool omitPrivileges) {
    sim::Config c = SimConfig();
    c.omitPrivileges = omitPrivileges;
    sim::Array& a = c.arrays[0];
    a.hostGroups.push_back({"0000000000000000000000000000000000000000", "zero_group"});
    a.hosts.push_back(MakeHost("host10", {"iqn.1994-05.com.example:host10"}));
    a.hosts.push_back(MakeHost("host1", {"iqn.1994-05.com.example:host1"}));
    return c;
}

class Controllers : public ::testing::Test {
  protected:
    sim::TestServer servers[2] = {sim::TestServer(LookupConfig(false), PlainHttp()),
                                  sim::TestServer(LookupConfig(true), PlainHttp())};
};

TEST_F(Controllers, PortsFindTheirHostAndOnRequestItsGroup) {
    // clang-format off
    struct Row { const char* name; std::string ports; bool groupMapping; std::set<std::string> expected; } rows[] = {
        {"fc host", kFc, false, {"fchost1"}},
        {"fc host and its group", kFc, true, {"fchost1", "cluster1"}},
        {"one port of two known", std::string("2100DEADBEEF0000,") + kFc, false, {"fchost1"}},
        {"host in no group never gets the default group", kIscsi, true, {"iscsihost1"}},
        {"port in another case", "iqn.1994-05.COM.EXAMPLE:ISCSIHOST1", false, {"iscsihost1"}},
        {"exact port wins over a longer one", "iqn.1994-05.com.example:host1", true, {"host1"}},
        {"unknown port", "2100DEADBEEF0000", true, {}},
        {"no ports", "", true, {}},
    };
    // clang-format on
    for (int omit = 0; omit < 2; ++omit) {
        for (const Row& r : rows) {
            SCOPED_TRACE(std::string(r.name) + (omit ? " (fallback)" : ""));
            SimSnapshot dev(servers[omit]);
            OpenConnection open(dev);
            cim::CIMObjectPath system = open.systemPath();
            cim::Array<cim::String> ports = dev.snap.InputToStringArray(r.ports, ',');
            EXPECT_EQ(ControllerLabels(dev, open.conn(),
                                       dev.snap.GetLSICtlrListByHwIDs(open.conn(), system, ports,
                                                                      r.groupMapping)),
                      r.expected);
            EXPECT_EQ(dev.logged("Executing the workaround for LSI lun Mapping and Masking"),
                      (omit || r.expected.empty()) && !r.ports.empty());
        }
    }
}

TEST_F(Controllers, AVolumeIsCarriedOnlyByControllersOfThePorts) {
    // volumes: labels; "uuid:" + label passes the UUID
    // clang-format off
    struct Row { const char* name; std::vector<std::string> volumes; std::string ports; const char* talon; std::set<std::string> expected; } rows[] = {
        {"host's volume", {"ora_data1"}, kFc, "", {"fchost1"}},
        {"host's volume by uuid", {"uuid:ora_data1"}, kFc, "", {"fchost1"}},
        {"group's volume", {"exch_db"}, kFc, "", {"cluster1"}},
        {"group's volume, groups disabled", {"exch_db"}, kFc, "nLSIDisableCtlrAll = 1", {}},
        {"another host's volume", {"uuid:small_lun"}, kFc, "", {}},
        {"no ports: the volume's own", {"uuid:exch_db"}, "", "", {"cluster1"}},
        {"no ports, unmapped volume", {"exch_log"}, "", "", {}},
        {"two volumes", {"uuid:ora_data1", "uuid:ora_data2"}, kFc, "", {}},
    };
    // clang-format on
    for (int omit = 0; omit < 2; ++omit) {
        for (const Row& r : rows) {
            SCOPED_TRACE(std::string(r.name) + (omit ? " (fallback)" : ""));
            TalonConfig talon(r.talon);
            SimSnapshot dev(servers[omit]);
            OpenConnection open(dev);
            cim::Array<cim::String> volumes;
            for (const std::string& v : r.volumes) {
                const bool byUuid = v.rfind("uuid:", 0) == 0;
                const std::string uuid = dev.volume(byUuid ? v.substr(5) : v).uuid;
                volumes.push_back(byUuid ? uuid : open.volumePath(uuid));
            }
            std::vector<cim::CIMObjectPath> found = dev.snap.GetCtlrPathList(
                open.conn(), open.systemPath(), volumes, dev.snap.InputToStringArray(r.ports, ','));
            EXPECT_EQ(ControllerLabels(dev, open.conn(), found), r.expected);
            EXPECT_EQ(dev.logged("Instances not found for class [CIM_StorageVolume]"),
                      r.volumes.size() != 1);
        }
    }
}

// "TPD" finds a host's controllers through its collection's privileges, matched by name.
TEST(ThreeParControllers, PortsFindTheHostsControllersCarryingTheVolume) {
    sim::Config c = LookupConfig(false);
    c.classPrefix = "TPD";
    sim::TestServer sim(c, PlainHttp());
    // clang-format off
    struct Row { const char* name; const char* volume; std::string ports; std::set<std::string> expected; } rows[] = {
        {"host's volume", "ora_data1", kFc, {"fchost1"}},
        {"another host's volume", "small_lun", kFc, {}},
        {"unknown port", "ora_data1", "2100DEADBEEF0000", {}},
        {"iSCSI host's volume", "small_lun", kIscsi, {"iscsihost1"}},
    };
    // clang-format on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        SimSnapshot dev(sim);
        OpenConnection open(dev);
        cim::Array<cim::String> volumes = {dev.volume(r.volume).uuid};
        std::vector<cim::CIMObjectPath> found = dev.snap.GetCtlrPathList(
            open.conn(), open.systemPath(), volumes, dev.snap.InputToStringArray(r.ports, ','));
        EXPECT_EQ(ControllerLabels(dev, open.conn(), found), r.expected);
    }
}

}  // namespace
