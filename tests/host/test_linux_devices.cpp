#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "ScsiResult.h"
#include "rkso/RkDeviceTree.h"
#include "testsupport/FakeSysfs.h"
#include "testsupport/TalonConfig.h"
#include "testsupport/TempDir.h"

namespace {

using namespace testsupport;

class LinuxDevices : public ::testing::Test {
  protected:
    FakeSysfs sys;
    TempDir etc;
    std::string iscsiFile = etc.file("initiatorname.iscsi");
    std::optional<TalonConfig> config;
    void configure(const std::string& host) {
        config.reset();
        config.emplace("", host);
        RkDeviceTree::reset();
    }
    std::string settings() const {
        return "[Host]\nDeviceTree = linux\nSysfsRoot = " + sys.root() +
               "\nIscsiInitiatorFile = " + iscsiFile + "\n";
    }
    void SetUp() override { configure(settings()); }
    void TearDown() override { RkDeviceTree::reset(); }
};

TEST_F(LinuxDevices, ListingShowsMultipathMapsInsteadOfTheirPaths) {
    const std::tuple<const char*, const char*, const char*> disks[] = {
        {"sda", "ATA", "QEMU HARDDISK"}, {"sdb", "NETAPP", "INF-01-00"},
        {"sdc", "NETAPP", "INF-01-00"},  {"sdz", "LSI", "CSM"},
        {"sdaa", "DELL", "MD3000i"},     {"sdab", "DELL", "MD3000i"}};
    for (const auto& [name, vendor, model] : disks) sys.addDisk(name, vendor, model);
    sys.addMap("dm-0", "mpath-3600a0b80005e2c1a0000b4c8", "mpatha", {"sdb", "sdc"});
    sys.addMap("dm-1", "LVM-Kx1ab", "vg-root", {"sda"});  // not a multipath map
    sys.addMap("dm-2", "mpath-3600a0b80005e2c1a0000b4c9", "db_lun", {"sdab"});
    sys.addBlock("loop0");
    sys.addBlock("nvme0n1");
    std::vector<RkBlockDevice> devices;
    CUxError error;
    ASSERT_TRUE(RkDeviceTree::listDevices(devices, error)) << error.AsString();
    std::vector<std::string> got;
    for (const RkBlockDevice& d : devices) got.push_back(d.name + " " + d.vendor + "/" + d.product);
    EXPECT_EQ(got,
              (std::vector<std::string>{
                  "/dev/mapper/db_lun DELL/MD3000i", "/dev/mapper/mpatha NETAPP/INF-01-00",
                  "/dev/sda ATA/QEMU HARDDISK", "/dev/sdz LSI/CSM", "/dev/sdaa DELL/MD3000i"}));
}

TEST_F(LinuxDevices, InitiatorPortsComeFromFcHostsAndTheIscsiFile) {
    sys.addFcHost("host1", "0x10000090fa1b2c3d");
    sys.addFcHost("host2", "0x21000024FF4CAA01");
    sys.addFcHost("host3", "unknown");
    etc.write("initiatorname.iscsi",
              "## DO NOT EDIT\n#InitiatorName=iqn.old:commented\nInitiatorName=iqn.1994-05.com."
              "example:h1\n");
    std::vector<RkInitiatorPort> ports;
    CUxError error;
    ASSERT_TRUE(RkDeviceTree::getInitiatorPorts(ports, error)) << error.AsString();
    std::vector<std::string> got;
    for (const RkInitiatorPort& p : ports) got.push_back((p.iscsi ? "iscsi " : "fc ") + p.name);
    EXPECT_EQ(got, (std::vector<std::string>{"fc 10000090FA1B2C3D", "fc 21000024FF4CAA01",
                                             "iscsi iqn.1994-05.com.example:h1"}));
}

TEST_F(LinuxDevices, HostServicesFailWithTheirReason) {
    bool (*ports)(CUxError&) = [](CUxError& e) {
        std::vector<RkInitiatorPort> p;
        return RkDeviceTree::getInitiatorPorts(p, e);
    };
    bool (*list)(CUxError&) = [](CUxError& e) {
        std::vector<RkBlockDevice> d;
        return RkDeviceTree::listDevices(d, e);
    };
    const std::string noSys = "[Host]\nSysfsRoot = " + etc.file("nosys") + "\n";
    const std::tuple<const char*, std::string, bool (*)(CUxError&), const char*> rows[] = {
        {"no initiator ports", settings(), ports, "no FC or iSCSI initiator ports"},
        {"iSCSI file unreadable",
         settings() + "IscsiInitiatorFile = " + etc.mkdir("a-directory") + "\n", ports,
         "a-directory"},
        {"no sysfs", noSys, list, "nosys/block"},
        {"no SCSI hosts", noSys, RkDeviceTree::rescan, "nosys/class/scsi_host"},
        {"unknown back end", "[Host]\nDeviceTree = windows\n", RkDeviceTree::rescan,
         "unknown device tree 'windows'"},
    };
    for (const auto& [name, text, call, want] : rows) {
        configure(text);
        CUxError error;
        EXPECT_FALSE(call(error)) << name;
        EXPECT_TRUE(error.Failed()) << name;
        EXPECT_NE(error.AsString().find(want), std::string::npos)
            << name << ": " << error.AsString();
    }
}

TEST_F(LinuxDevices, RescanAsksEveryScsiHostAndNamesTheOnesThatFailed) {
    sys.addScsiHost("host0");
    sys.addScsiHost("host1");
    sys.addScsiHost("host2", false);
    CUxError error;
    EXPECT_FALSE(RkDeviceTree::rescan(error));
    EXPECT_NE(error.AsString().find("host2"), std::string::npos) << error.AsString();
    EXPECT_EQ(error.AsString().find("host0"), std::string::npos) << error.AsString();
    EXPECT_EQ(sys.scanFile("host0") + sys.scanFile("host1"), "- - -- - -");
}

TEST_F(LinuxDevices, NodesWithoutScsiPassThroughHaveNoScsiInterface) {
    const std::pair<std::string, bool> rows[] = {{etc.write("regular-file", "not a disk"), true},
                                                 {"/dev/null", true},
                                                 {etc.mkdir("a-dir"), true},
                                                 {etc.file("no-such-node"), false},
                                                 {"", false}};
    for (const auto& [name, exists] : rows) {
        CUxError error;
        std::shared_ptr<RkDevice> dev = RkDeviceTree::getDevice(name, error);
        ASSERT_EQ(dev != nullptr, exists) << name << ": " << error.AsString();
        EXPECT_EQ(dev ? dev->getInterface(RK_DEVICE_SCSI_IFACE) : nullptr, nullptr) << name;
        EXPECT_EQ(dev ? dev->getName() : "failed", exists ? name : "failed");
        EXPECT_EQ(error.AsString().empty(), exists) << name;
    }
    CUxError error;
    RkDeviceTree::getDevice(etc.file("no-such-node"), error);
    EXPECT_NE(error.AsString().find("No such file or directory"), std::string::npos);
}

TEST(ScsiFailureText, StatusAndSenseAreDecoded) {
    using Bytes = std::vector<unsigned char>;
    const Bytes fixedIllegal = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00};
    const Bytes descriptorNotReady = {0x72, 0x02, 0x04, 0x01};
    const Bytes recovered = {0xF0, 0, 0x01, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x17, 0x01};
    const Bytes unitAttention = {0x70, 0, 0x06, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0x29};
    struct Row {
        const char* name;
        int status, host, driver;
        Bytes sense;
        std::vector<std::string> want;  // parts of the text; none: success
    } rows[] = {
        // clang-format off
        {"good", 0, 0, 0, {}, {}},
        {"recovered error", 0x02, 0, 0x08, recovered, {}},
        {"illegal request, fixed", 0x02, 0, 0x08, fixedIllegal,
         {"0x12", "status 0x02 (CHECK CONDITION)", "sense key 0x5 (ILLEGAL REQUEST)",
          "ASC/ASCQ 0x24/0x00", "invalid field in CDB"}},
        {"not ready, descriptor", 0x02, 0, 0x08, descriptorNotReady,
         {"sense key 0x2 (NOT READY)", "ASC/ASCQ 0x04/0x01"}},
        {"unit attention", 0x02, 0, 0x08, unitAttention, {"UNIT ATTENTION", "0x29/0x00"}},
        {"check condition, no sense", 0x02, 0, 0, {}, {"no sense data"}},
        {"unknown sense format", 0x02, 0, 0x08, {1, 2, 3}, {"no sense data"}},
        {"transport time-out", 0, 0x03, 0, {}, {"host status 0x03 (time-out)"}},
        {"driver failure", 0, 0, 0x06, {}, {"driver status 0x06"}},
        // clang-format on
    };
    for (const Row& row : rows) {
        rkhost::ScsiOutcome o;
        o.opcode = 0x12;
        std::tie(o.status, o.hostStatus, o.driverStatus) =
            std::tie(row.status, row.host, row.driver);
        o.sense = row.sense.data();
        o.senseLength = static_cast<int>(row.sense.size());
        std::string text = rkhost::describeScsiFailure(o);
        EXPECT_EQ(text.empty(), row.want.empty()) << row.name << ": " << text;
        for (const std::string& part : row.want)
            EXPECT_NE(text.find(part), std::string::npos) << row.name << ": " << text;
    }
}

}  // namespace
