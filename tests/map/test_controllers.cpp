// Controllers of a host's ports and of a volume: by privileges, by the fallback, and for "TPD".
#include "testsupport/SimMapping.h"

namespace {

using namespace testsupport;

const char* const kWorkaround = "Executing the workaround for LSI lun Mapping and Masking";
const char* const kVolumeNotFound = "Instances not found for class [CIM_StorageVolume]";

// Plus a group of the all-zero id, and iSCSI hosts whose port names prefix one another.
sim::Config LookupConfig(bool omitPrivileges, const std::string& classPrefix = "NETAPP") {
    sim::Config c = SimConfig();
    c.omitPrivileges = omitPrivileges;
    c.classPrefix = classPrefix;
    sim::Array& a = c.arrays[0];
    a.hostGroups.push_back({"0000000000000000000000000000000000000000", "zero_group"});
    a.hosts.push_back(MakeHost("host10", {"iqn.1994-05.com.example:host10"}));
    a.hosts.push_back(MakeHost("host1", {"iqn.1994-05.com.example:host1"}));
    return c;
}

TEST(Controllers, PortsFindTheirHostOrGroupAndOnlyThoseCarryingTheVolume) {
    enum Server { kPrivileges, kFallback, kTpd };
    sim::TestServer servers[] = {sim::TestServer(LookupConfig(false), PlainHttp()),
                                 sim::TestServer(LookupConfig(true), PlainHttp()),
                                 sim::TestServer(LookupConfig(false, "TPD"), PlainHttp())};
    // volumes: none: the ports' own controllers; labels, "uuid:" + label passes the UUID; tpd: the
    // row runs on the "TPD" provider only, the others on both of the rest
    // clang-format off
    struct Row {
        const char* name; std::vector<std::string> volumes; std::string ports; bool groupMapping;
        const char* talon; std::set<std::string> expected; bool tpd = false;
    } rows[] = {
        {"fc host", {}, kFc, false, "", {"fchost1"}},
        {"fc host and its group", {}, kFc, true, "", {"fchost1", "cluster1"}},
        {"one port of two known", {}, std::string("2100DEADBEEF0000,") + kFc, false, "", {"fchost1"}},
        {"host in no group never gets the default group", {}, kIscsi, true, "", {"iscsihost1"}},
        {"port in another case", {}, "iqn.1994-05.COM.EXAMPLE:ISCSIHOST1", false, "", {"iscsihost1"}},
        {"exact port wins over a longer one", {}, "iqn.1994-05.com.example:host1", true, "", {"host1"}},
        {"unknown port", {}, "2100DEADBEEF0000", true, "", {}},
        {"no ports", {}, "", true, "", {}},
        {"host's volume", {"ora_data1"}, kFc, false, "", {"fchost1"}},
        {"host's volume by uuid", {"uuid:ora_data1"}, kFc, false, "", {"fchost1"}},
        {"group's volume", {"exch_db"}, kFc, false, "", {"cluster1"}},
        {"group's volume, groups disabled", {"exch_db"}, kFc, false, "nLSIDisableCtlrAll = 1", {}},
        {"another host's volume", {"uuid:small_lun"}, kFc, false, "", {}},
        {"no ports: the volume's own", {"uuid:exch_db"}, "", false, "", {"cluster1"}},
        {"no ports, unmapped volume", {"exch_log"}, "", false, "", {}},
        {"two volumes", {"uuid:ora_data1", "uuid:ora_data2"}, kFc, false, "", {}},
        {"TPD: host's volume", {"uuid:ora_data1"}, kFc, false, "", {"fchost1"}, true},
        {"TPD: another host's volume", {"uuid:small_lun"}, kFc, false, "", {}, true},
        {"TPD: unknown port", {"uuid:ora_data1"}, "2100DEADBEEF0000", false, "", {}, true},
        {"TPD: iSCSI host's volume", {"uuid:small_lun"}, kIscsi, false, "", {"iscsihost1"}, true},
    };
    // clang-format on
    for (const Server server : {kPrivileges, kFallback, kTpd}) {
        for (const Row& r : rows) {
            if (r.tpd != (server == kTpd)) continue;
            SCOPED_TRACE(std::string(r.name) + (server == kFallback ? " (fallback)" : ""));
            TalonConfig talon(r.talon);
            SimSnapshot dev(servers[server]);
            OpenConnection open(dev);
            cim::CIMObjectPath system = open.systemPath();
            cim::Array<cim::String> ports = dev.snap.InputToStringArray(r.ports, ',');
            cim::Array<cim::String> volumes;
            for (const std::string& v : r.volumes) {
                const bool byUuid = v.rfind("uuid:", 0) == 0;
                const std::string uuid = dev.volume(byUuid ? v.substr(5) : v).uuid;
                volumes.push_back(byUuid ? uuid : open.volumePath(uuid));
            }
            const auto found =
                r.volumes.empty()
                    ? dev.snap.GetLSICtlrListByHwIDs(open.conn(), system, ports, r.groupMapping)
                    : dev.snap.GetCtlrPathList(open.conn(), system, volumes, ports);
            EXPECT_EQ(ControllerLabels(dev, open.conn(), found), r.expected);
            if (server == kTpd) continue;
            const bool portsOnly = r.volumes.empty();
            const bool fallback = (server == kFallback || r.expected.empty()) && !r.ports.empty();
            EXPECT_TRUE(!portsOnly || dev.logged(kWorkaround) == fallback);
            EXPECT_TRUE(portsOnly || dev.logged(kVolumeNotFound) == (r.volumes.size() != 1));
        }
    }
}

}  // namespace
