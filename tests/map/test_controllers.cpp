// Which protocol controllers stand for a host's ports, and which of them carry a
// volume: through privileges, and through the fallback when the array shows none.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "testsupport/SimMapping.h"
#include "testsupport/TalonConfig.h"

namespace {

using testsupport::ControllerLabels;
using testsupport::OpenConnection;
using testsupport::SimSnapshot;

const char* const kFc = "10000090FA1B2C3D,10000090FA1B2C3E";
const char* const kIscsi = "iqn.1994-05.com.example:iscsihost1";
const char* const kZeroRef = "0000000000000000000000000000000000000000";

// The default array plus a group standing for the all-zero id, and two iSCSI hosts
// whose port names are prefixes of one another, the longer one listed first.
sim::Config LookupConfig(bool omitPrivileges) {
    sim::Config c = testsupport::SimConfig();
    c.omitPrivileges = omitPrivileges;
    sim::Array& a = c.arrays[0];
    sim::HostGroup zero;
    zero.ref = kZeroRef;
    zero.label = "zero_group";
    a.hostGroups.push_back(zero);
    a.hosts.push_back(testsupport::MakeHost("host10", {"iqn.1994-05.com.example:host10"}));
    a.hosts.push_back(testsupport::MakeHost("host1", {"iqn.1994-05.com.example:host1"}));
    return c;
}

class Controllers : public ::testing::Test {
  protected:
    sim::TestServer withPrivileges{LookupConfig(false), testsupport::PlainHttp()};
    sim::TestServer withoutPrivileges{LookupConfig(true), testsupport::PlainHttp()};

    sim::TestServer& server(bool omitPrivileges) {
        return omitPrivileges ? withoutPrivileges : withPrivileges;
    }
};

TEST_F(Controllers, PortsFindTheirHostAndOnRequestItsGroup) {
    struct Row {
        const char* name;
        std::string ports;
        bool groupMapping;
        std::set<std::string> expected;
    };
    const Row rows[] = {
        {"fc host", kFc, false, {"fchost1"}},
        {"fc host and its group", kFc, true, {"fchost1", "cluster1"}},
        {"one port of two known", std::string("2100DEADBEEF0000,") + kFc, false, {"fchost1"}},
        {"iscsi host in no group", kIscsi, true, {"iscsihost1"}},
        {"port in another case", "iqn.1994-05.COM.EXAMPLE:ISCSIHOST1", false, {"iscsihost1"}},
        {"exact port wins over a longer one", "iqn.1994-05.com.example:host1", true, {"host1"}},
        {"longer port", "iqn.1994-05.com.example:host10", true, {"host10"}},
        {"unknown port", "2100DEADBEEF0000", true, {}},
        {"no ports", "", true, {}},
    };
    for (bool omit : {false, true}) {
        for (const Row& r : rows) {
            const std::string row = std::string(r.name) + (omit ? " (fallback)" : "");
            SimSnapshot dev(server(omit));
            OpenConnection open(dev);
            cim::CIMObjectPath system = open.systemPath();
            cim::Array<cim::String> ports = dev.snap.InputToStringArray(r.ports, ',');
            std::vector<cim::CIMObjectPath> found =
                dev.snap.GetLSICtlrListByHwIDs(open.conn(), system, ports, r.groupMapping);
            EXPECT_EQ(ControllerLabels(dev, open.conn(), found), r.expected) << row;
            EXPECT_EQ(dev.logged("Executing the workaround for LSI lun Mapping and Masking"),
                      (omit || r.expected.empty()) && !r.ports.empty())
                << row;
        }
    }
}

TEST_F(Controllers, TheDefaultGroupIdNeverStandsForAGroup) {
    SimSnapshot dev(withoutPrivileges);
    OpenConnection open(dev);
    cim::CIMObjectPath system = open.systemPath();
    cim::Array<cim::String> ports = {kIscsi};
    std::vector<cim::CIMObjectPath> found =
        dev.snap.GetLSICtlrListByHwIDs(open.conn(), system, ports, true);
    EXPECT_EQ(ControllerLabels(dev, open.conn(), found), std::set<std::string>{"iscsihost1"});
    EXPECT_TRUE(dev.logged("Skipping, ControllerID [" + std::string(kZeroRef) +
                           "] as it represents the Default Group"));
}

TEST_F(Controllers, AVolumeIsCarriedOnlyByControllersOfThePorts) {
    struct Row {
        const char* name;
        const char* volume;
        std::string ports;
        bool byUuid;
        const char* talon;
        std::set<std::string> expected;
    };
    const Row rows[] = {
        {"host's volume", "ora_data1", kFc, false, "", {"fchost1"}},
        {"host's volume by uuid", "ora_data1", kFc, true, "", {"fchost1"}},
        {"group's volume", "exch_db", kFc, false, "", {"cluster1"}},
        {"group's volume, groups disabled", "exch_db", kFc, false, "nLSIDisableCtlrAll = 1", {}},
        {"another host's volume", "small_lun", kFc, true, "", {}},
        {"iscsi host's volume", "small_lun", kIscsi, false, "", {"iscsihost1"}},
        {"no ports: the volume's own", "exch_db", "", true, "", {"cluster1"}},
        {"no ports, unmapped volume", "exch_log", "", false, "", {}},
    };
    for (bool omit : {false, true}) {
        for (const Row& r : rows) {
            const std::string row = std::string(r.name) + (omit ? " (fallback)" : "");
            testsupport::TalonConfig talon(r.talon);
            SimSnapshot dev(server(omit));
            OpenConnection open(dev);
            const std::string uuid = dev.volume(r.volume).uuid;
            cim::Array<cim::String> volumes = {r.byUuid ? uuid : open.volumePath(uuid)};
            std::vector<cim::CIMObjectPath> found = dev.snap.GetCtlrPathList(
                open.conn(), open.systemPath(), volumes, dev.snap.InputToStringArray(r.ports, ','));
            EXPECT_EQ(ControllerLabels(dev, open.conn(), found), r.expected) << row;
        }
    }
}

TEST_F(Controllers, NoSingleVolumeMeansNoControllersAndNoRequest) {
    struct Row {
        const char* name;
        std::vector<std::string> volumes;
    };
    const Row rows[] = {
        {"two volumes", {"6000000000000000000000000000000A", "6000000000000000000000000000000B"}},
        {"none", {}},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(withPrivileges);
        OpenConnection open(dev);
        cim::CIMObjectPath system = open.systemPath();
        const size_t before = withPrivileges.requests().size();
        cim::Array<cim::String> volumes = r.volumes;
        EXPECT_TRUE(dev.snap.GetCtlrPathList(open.conn(), system, volumes, {kIscsi}).empty())
            << r.name;
        EXPECT_EQ(withPrivileges.requests().size(), before) << r.name;
        EXPECT_TRUE(dev.logged("Instances not found for class [CIM_StorageVolume]")) << r.name;
    }
}

TEST_F(Controllers, ProviderFailuresReachTheCaller) {
    struct Row {
        const char* name;
        sim::RequestKey match;
        bool volumeForm;
    };
    const Row rows[] = {
        {"hardware ids", {"EnumerateInstances", "", "CIM_StorageHardwareID"}, false},
        {"privileges", {"AssociatorNames", "", ""}, false},
        {"volume's controllers", {"AssociatorNames", "", ""}, true},
    };
    for (const Row& r : rows) {
        SimSnapshot dev(withPrivileges);
        OpenConnection open(dev);
        cim::CIMObjectPath system = open.systemPath();
        const std::string uuid = dev.volume("small_lun").uuid;
        withPrivileges.failCim(cim::CIM_ERR_FAILED, "provider broke", 1, r.match);
        cim::Array<cim::String> volumes = {uuid};
        cim::Array<cim::String> ports = {kIscsi};
        if (r.volumeForm)
            EXPECT_THROW(dev.snap.GetCtlrPathList(open.conn(), system, volumes, {}),
                         cim::CIMException)
                << r.name;
        else
            EXPECT_THROW(dev.snap.GetLSICtlrListByHwIDs(open.conn(), system, ports, false),
                         cim::CIMException)
                << r.name;
        EXPECT_TRUE(dev.logged("Caught CIMException: CIM_ERR_FAILED")) << r.name;
        withPrivileges.faults().clear();
    }
}

TEST_F(Controllers, HostPortsAndCollectionsByName) {
    SimSnapshot dev(withPrivileges);
    OpenConnection open(dev);
    cim::CIMObjectPath system = open.systemPath();
    cim::Array<cim::String> ports = {"10000090FA1B2C3E"};
    cim::Array<cim::String> all = dev.snap.GetLSIHwIDs(open.conn(), system, ports);
    EXPECT_EQ(std::set<std::string>(all.begin(), all.end()),
              (std::set<std::string>{"10000090FA1B2C3D", "10000090FA1B2C3E"}));
    cim::CIMObjectPath group = dev.snap.GetHardwareIdCollectionPath(open.conn(), "cluster1");
    EXPECT_EQ(dev.snap.GetCIMProp(open.conn(), group, "ElementName"), "cluster1");
    EXPECT_TRUE(
        dev.snap.GetHardwareIdCollectionPath(open.conn(), "nohost").getClassName().isNull());
}

}  // namespace
