// The simulated device trees over real HTTP: the fabric of an in-process
// simulated array (sim::TestServer), or a canned loopback server for the
// answers the simulator never gives.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <testsupport/LoopbackServer.h>
#include "FabricView.h"
#include "rkso/RkDeviceTree.h"
#include "sim/server/TestServer.h"
#include "testsupport/TalonConfig.h"
#include "testsupport/TempDir.h"

namespace {

using testsupport::TalonConfig;
using testsupport::TempDir;

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string hexOf(const unsigned char* data, size_t n) {
    std::string out;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02X", data[i]);
        out += b;
    }
    return out;
}

struct Inquiry {
    int n;
    std::vector<unsigned char> data;
    std::string error;
};

Inquiry inquire(const std::string& device, unsigned char evpd, unsigned char page,
                int allocation = 255, int size = 255) {
    CUxError error;
    std::shared_ptr<RkDevice> dev = RkDeviceTree::getDevice(device, error);
    if (!dev) return {-2, {}, error.AsString()};
    auto* scsi = static_cast<RkDeviceScsiIface*>(dev->getInterface(RK_DEVICE_SCSI_IFACE));
    if (!scsi) return {-3, {}, "no SCSI interface"};
    unsigned char cdb[6] = {0x12,
                            evpd,
                            page,
                            static_cast<unsigned char>(allocation >> 8),
                            static_cast<unsigned char>(allocation & 0xFF),
                            0};
    std::vector<unsigned char> data(static_cast<size_t>(size), 0xEE);
    int n = scsi->sendCommand(cdb, 6, data.data(), size, 0, 1, nullptr, 0, 10, error);
    return {n, data, error.AsString()};
}

class SimDevices : public ::testing::Test {
  protected:
    sim::TestServer sim{sim::Config::defaults(), options()};
    const sim::Array& array = sim.provider().config().arrays.at(0);
    std::optional<TalonConfig> config;

    static sim::TestServerOptions options() {
        sim::TestServerOptions o;
        o.https = false;
        return o;
    }
    // fchost1's first port, written as a host may write it.
    std::string settings(const std::string& kind, const std::string& extra = "") {
        return "[Host]\nDeviceTree = " + kind + "\nFabricUrl = " + sim.httpUrl() +
               "\nInitiatorPorts = 10:00:00:90:fa:1b:2c:3d\n" + extra;
    }
    void use(const std::string& text) {
        config.reset();
        config.emplace("", text);
        RkDeviceTree::reset();
    }
    void SetUp() override { use(settings("simulation")); }
    void TearDown() override { RkDeviceTree::reset(); }

    std::string uuidOf(const std::string& label) const {
        return array.findVolumeByLabel(label)->uuid;
    }
    std::string deviceOf(const std::string& label) const {
        return "/dev/mapper/3" + lower(uuidOf(label));
    }
    std::set<std::string> listed() {
        std::vector<RkBlockDevice> devices;
        CUxError error;
        EXPECT_TRUE(RkDeviceTree::listDevices(devices, error)) << error.AsString();
        std::set<std::string> names;
        for (const RkBlockDevice& d : devices) names.insert(d.name);
        return names;
    }
    // Maps the volume to fchost1 on the array, as an administrator would.
    void mapLater(const std::string& label, uint32_t lun) {
        std::string uuid = uuidOf(label);
        std::string host = array.findHost("fchost1")->ref;
        sim.provider().startJobWithEffect(0, [=](sim::Array& a) {
            a.mappings.push_back(sim::Mapping{uuid, host, lun, 2});
        });
    }
};

TEST_F(SimDevices, EveryLunTheHostSeesIsADeviceThatNamesItsArrayAndVolume) {
    const std::vector<std::string> labels = {"ora_data1", "ora_data2", "ora_log", "exch_db"};
    std::set<std::string> want;
    for (const std::string& l : labels) want.insert(deviceOf(l));
    EXPECT_EQ(listed(), want);
    for (const std::string& label : labels) {
        const sim::Volume& v = *array.findVolumeByLabel(label);
        Inquiry standard = inquire(deviceOf(label), 0, 0);
        ASSERT_GE(standard.n, 36) << label << ": " << standard.error;
        EXPECT_EQ(std::string(standard.data.begin() + 8, standard.data.begin() + 32),
                  "NETAPP  INF-01-00       ")
            << label;
        Inquiry c8 = inquire(deviceOf(label), 1, 0xC8);
        ASSERT_EQ(c8.n, 255) << label << ": " << c8.error;
        EXPECT_EQ(hexOf(&c8.data[12], 16), v.uuid) << label;
        EXPECT_EQ(hexOf(&c8.data[90], 16), array.id) << label;
        Inquiry serial = inquire(deviceOf(label), 1, 0x80);
        ASSERT_GT(serial.n, 4) << label << ": " << serial.error;
        EXPECT_EQ(std::string(serial.data.begin() + 4, serial.data.begin() + serial.n),
                  array.controllers[static_cast<size_t>(v.currentController)].name)
            << label;
    }
    CUxError error;
    EXPECT_EQ(RkDeviceTree::getDevice(deviceOf("small_lun"), error), nullptr)
        << "mapped to another host";
    EXPECT_NE(error.AsString().find("no such device"), std::string::npos) << error.AsString();
}

TEST_F(SimDevices, InquiriesHonourTheAllocationLengthAndRefuseOtherPages) {
    const std::string dev = deviceOf("ora_data1");
    struct Row {
        const char* name;
        unsigned char evpd, page;
        int allocation, size;
        int want;  // bytes, or -1
    } rows[] = {
        {"standard, 36 asked", 0, 0, 36, 255, 36},
        {"standard, nothing asked", 0, 0, 0, 255, 0},
        {"page C8, smaller buffer", 1, 0xC8, 255, 100, 100},
        {"page C8, 16-bit length", 1, 0xC8, 0x0100, 255, 255},
        {"page 80, 4 asked", 1, 0x80, 4, 255, 4},
        {"page 83", 1, 0x83, 255, 255, -1},
        {"page without EVPD", 0, 0xC8, 255, 255, -1},
    };
    for (const Row& row : rows) {
        Inquiry got = inquire(dev, row.evpd, row.page, row.allocation, row.size);
        EXPECT_EQ(got.n, row.want) << row.name << ": " << got.error;
        if (got.n >= 0 && got.n < row.size) {
            EXPECT_EQ(got.data[static_cast<size_t>(got.n)], 0xEE) << row.name << ": wrote past";
        }
        if (row.want < 0) {
            EXPECT_NE(got.error.find("ILLEGAL REQUEST"), std::string::npos)
                << row.name << ": " << got.error;
        }
    }
}

TEST_F(SimDevices, BadCommandsAreRefusedWithSenseWhereADeviceWouldGiveIt) {
    CUxError error;
    std::shared_ptr<RkDevice> dev = RkDeviceTree::getDevice(deviceOf("ora_log"), error);
    ASSERT_TRUE(dev) << error.AsString();
    EXPECT_EQ(dev->getInterface("RkDeviceDiskIface"), nullptr);
    auto* scsi = static_cast<RkDeviceScsiIface*>(dev->getInterface(RK_DEVICE_SCSI_IFACE));
    ASSERT_NE(scsi, nullptr);
    const unsigned char inquiry[16] = {0x12, 0, 0, 0, 0xFF, 0};
    const unsigned char testUnitReady[6] = {0x00};
    unsigned char data[255];
    struct Row {
        const char* name;
        const unsigned char* cdb;
        int cdbLength;
        unsigned char* data;
        int size, out, in, flags, timeout;
        const char* want;
    } rows[] = {
        {"no command block", nullptr, 6, data, 255, 0, 1, 0, 10, "command block"},
        {"5-byte block", inquiry, 5, data, 255, 0, 1, 0, 10, "command block"},
        {"no buffer", inquiry, 6, nullptr, 255, 0, 1, 0, 10, "buffer"},
        {"negative size", inquiry, 6, data, -1, 0, 1, 0, 10, "buffer"},
        {"data out", inquiry, 6, data, 255, 1, 1, 0, 10, "send data"},
        {"no data in", inquiry, 6, data, 255, 0, 0, 0, 10, "read data"},
        {"flags", inquiry, 6, data, 255, 0, 1, 4, 10, "flags"},
        {"no time", inquiry, 6, data, 255, 0, 1, 0, 0, "time-out"},
        {"10-byte INQUIRY", inquiry, 10, data, 255, 0, 1, 0, 10, "invalid field in CDB"},
        {"other command", testUnitReady, 6, data, 255, 0, 1, 0, 10, "invalid command operation"},
    };
    for (const Row& row : rows) {
        unsigned char sense[RK_SCSI_SENSE_SIZE] = {};
        error.Success();
        EXPECT_EQ(scsi->sendCommand(row.cdb, row.cdbLength, row.data, row.size, row.out, row.in,
                                    sense, row.flags, row.timeout, error),
                  -1)
            << row.name;
        EXPECT_NE(error.AsString().find(row.want), std::string::npos)
            << row.name << ": " << error.AsString();
    }
    unsigned char sense[RK_SCSI_SENSE_SIZE] = {};
    const unsigned char page83[6] = {0x12, 1, 0x83, 0, 0xFF, 0};
    EXPECT_EQ(scsi->sendCommand(page83, 6, data, 255, 0, 1, sense, 0, 10, error), -1);
    EXPECT_EQ(sense[0], 0x70);
    EXPECT_EQ(sense[2] & 0x0F, 0x05) << "ILLEGAL REQUEST";
    EXPECT_EQ(sense[12], 0x24);
}

TEST_F(SimDevices, ALunMappedOrUnmappedLaterChangesNothingUntilARescan) {
    const std::string later = deviceOf("vm_store");
    EXPECT_EQ(listed().count(later), 0u);
    mapLater("vm_store", 20);

    CUxError error;
    EXPECT_EQ(RkDeviceTree::getDevice(later, error), nullptr) << "seen before a rescan";
    EXPECT_EQ(listed().count(later), 0u);
    ASSERT_TRUE(RkDeviceTree::rescan(error)) << error.AsString();
    EXPECT_EQ(listed().count(later), 1u);
    std::shared_ptr<RkDevice> dev = RkDeviceTree::getDevice(later, error);
    ASSERT_TRUE(dev) << error.AsString();
    Inquiry c8 = inquire(later, 1, 0xC8);
    ASSERT_EQ(c8.n, 255) << c8.error;
    EXPECT_EQ(hexOf(&c8.data[12], 16), uuidOf("vm_store"));

    sim.provider().reset();  // the mapping is gone from the array
    EXPECT_EQ(inquire(later, 1, 0xC8).n, 255) << "still there until the host rescans";
    ASSERT_TRUE(RkDeviceTree::rescan(error)) << error.AsString();
    auto* scsi = static_cast<RkDeviceScsiIface*>(dev->getInterface(RK_DEVICE_SCSI_IFACE));
    unsigned char cdb[6] = {0x12, 0, 0, 0, 0xFF, 0};
    unsigned char data[255];
    EXPECT_EQ(scsi->sendCommand(cdb, 6, data, 255, 0, 1, nullptr, 0, 10, error), -1);
    EXPECT_NE(error.AsString().find("no longer on the fabric"), std::string::npos)
        << error.AsString();
}

TEST_F(SimDevices, WithPathsEachControllerPathIsADeviceWithItsOwnSerial) {
    use(settings("simulation", "FabricPaths = 1\n"));
    const sim::Volume& v = *array.findVolumeByLabel("ora_data2");
    std::set<std::string> names = listed();
    EXPECT_EQ(names.size(), 4u * 3u) << "each LUN and its two paths";
    for (const sim::Controller& c : array.controllers) {
        std::string path = rkhost::fabricPathDevice(v.uuid, c.name);
        ASSERT_EQ(names.count(path), 1u) << path;
        Inquiry serial = inquire(path, 1, 0x80);
        ASSERT_GT(serial.n, 4) << serial.error;
        EXPECT_EQ(std::string(serial.data.begin() + 4, serial.data.begin() + serial.n), c.name);
        Inquiry c8 = inquire(path, 1, 0xC8);
        ASSERT_EQ(c8.n, 255) << c8.error;
        EXPECT_EQ(hexOf(&c8.data[12], 16), v.uuid);
    }
}

TEST_F(SimDevices, VmwareHostsListDescriptorTexts) {
    use(settings("vmware"));
    std::vector<RkBlockDevice> devices;
    CUxError error;
    ASSERT_TRUE(RkDeviceTree::listDevices(devices, error)) << error.AsString();
    ASSERT_EQ(devices.size(), 4u);
    std::set<std::string> uuids;
    for (const RkBlockDevice& d : devices) {
        EXPECT_EQ(d.name.rfind("{idatype:vmware", 0), 0u) << d.name;
        EXPECT_NE(d.name.find(",version:10,"), std::string::npos) << d.name;
        size_t at = d.name.find("lunuuid:");
        ASSERT_NE(at, std::string::npos) << d.name;
        std::string lunuuid = d.name.substr(at + 8, d.name.find(',', at) - at - 8);
        ASSERT_EQ(lunuuid.size(), 42u) << d.name;
        uuids.insert(lunuuid.substr(10));
        at = d.name.find("standardinqury:");
        ASSERT_NE(at, std::string::npos) << d.name;
        // Bytes 8 to 15 (hex digits 16 to 31) hold the vendor, "NETAPP  ".
        EXPECT_EQ(d.name.substr(at + 15 + 16, 16), "4E45544150502020") << d.name;
    }
    EXPECT_EQ(uuids, (std::set<std::string>{lower(uuidOf("ora_data1")), lower(uuidOf("ora_data2")),
                                            lower(uuidOf("ora_log")), lower(uuidOf("exch_db"))}));
    EXPECT_EQ(RkDeviceTree::getDevice(devices[0].name, error), nullptr);
    EXPECT_FALSE(error.AsString().empty());
}

TEST_F(SimDevices, InquiriesAndListingsDuringRescansSeeAWholeView) {
    const std::string steady = deviceOf("ora_data1");
    const std::string want = uuidOf("ora_data1");
    std::atomic<bool> rescanning{true};
    std::atomic<int> wrong{0}, done{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 6; ++t)
        readers.emplace_back([&, t] {
            while (rescanning || done < 6 * 20) {
                if (t % 2 == 0) {
                    Inquiry c8 = inquire(steady, 1, 0xC8);
                    if (c8.n != 255 || hexOf(&c8.data[12], 16) != want) ++wrong;
                } else {
                    std::vector<RkBlockDevice> devices;
                    CUxError error;
                    if (!RkDeviceTree::listDevices(devices, error) || devices.size() < 4) ++wrong;
                }
                ++done;
            }
        });
    CUxError error;
    for (int i = 0; i < 40; ++i) {
        if (i % 2 == 0)
            mapLater("vm_store", 20);
        else
            sim.provider().reset();
        if (!RkDeviceTree::rescan(error)) ++wrong;
    }
    rescanning = false;
    for (std::thread& r : readers) r.join();
    EXPECT_EQ(wrong.load(), 0) << error.AsString();
}

// A canned fabric: answers every request with one reply and keeps the requests.
struct CannedFabric {
    explicit CannedFabric(int status, std::string body = "{\"luns\":[]}")
        : server([=](const cimtest::RawRequest&) {
              cimtest::RawReply r;
              r.bytes = cimtest::httpResponse(status, "Canned",
                                              {{"Content-Type", "application/json"},
                                               {"Content-Length", std::to_string(body.size())}},
                                              body);
              r.action = cimtest::RawReply::SendAndClose;
              return r;
          }) {}
    std::string url() const { return "http://127.0.0.1:" + std::to_string(server.port()); }
    cimtest::RawServer server;
};

TEST(SimFabric, CredentialsGoAlongWhenConfigured) {
    TempDir dir;
    std::string pw = dir.write("pw", "s3cret-fabric\n", 0600);
    CannedFabric fabric(200);
    for (bool withUser : {true, false}) {
        TalonConfig config("",
                           "[Host]\nDeviceTree = simulation\nFabricUrl = " + fabric.url() +
                               "\nInitiatorPorts = 10000090FA1B2C3D, iqn.1994-05.com.example:h1\n" +
                               (withUser ? "FabricUser = host1\nFabricPasswordFile = " + pw + "\n"
                                         : std::string()));
        RkDeviceTree::reset();
        std::vector<RkBlockDevice> devices;
        CUxError error;
        ASSERT_TRUE(RkDeviceTree::listDevices(devices, error)) << error.AsString();
        const cimtest::RawRequest req = fabric.server.requests().back();
        EXPECT_EQ(req.method, "POST");
        EXPECT_EQ(req.target, "/fabric/luns");
        EXPECT_EQ(req.body,
                  "{\"initiators\":[\"10000090FA1B2C3D\",\"iqn.1994-05.com.example:h1\"]}");
        const std::string* auth = req.header("Authorization");
        if (withUser) {
            ASSERT_NE(auth, nullptr);
            EXPECT_EQ(*auth, "Basic aG9zdDE6czNjcmV0LWZhYnJpYw==");  // host1:s3cret-fabric
        } else {
            EXPECT_EQ(auth, nullptr);
        }
    }
    RkDeviceTree::reset();
}

TEST(SimFabric, AnUnusableFabricFailsTheListingClearly) {
    TempDir dir;
    std::string pw = dir.write("pw", "s3cret-fabric\n", 0600);
    CannedFabric refused(401), broken(500), notJson(200, "<html>"),
        wrongShape(200, "{\"luns\":{}}");
    const std::string ports = "InitiatorPorts = 10000090FA1B2C3D\n";
    const std::string user = "FabricUser = host1\nFabricPasswordFile = " + pw + "\n";
    struct Row {
        const char* name;
        std::string config;
        const char* want;
    } rows[] = {
        {"nothing listens",
         "FabricUrl = http://127.0.0.1:" + std::to_string(cimtest::closedPort()) + "\n" + ports,
         "cannot read the fabric"},
        {"credentials refused", "FabricUrl = " + refused.url() + "\n" + ports + user,
         "refused the credentials (HTTP 401)"},
        {"server error", "FabricUrl = " + broken.url() + "\n" + ports, "answered HTTP 500"},
        {"not JSON", "FabricUrl = " + notJson.url() + "\n" + ports, "malformed fabric answer"},
        {"LUNs not a list", "FabricUrl = " + wrongShape.url() + "\n" + ports, "\"luns\""},
        {"no ports", "FabricUrl = " + broken.url() + "\n", "no initiator ports configured"},
        {"no address", ports, "no fabric configured"},
        {"not HTTP", "FabricUrl = ftp://127.0.0.1/\n" + ports, "http:// or https://"},
        {"credentials in the address", "FabricUrl = http://host1:pw@127.0.0.1/\n" + ports,
         "must not hold credentials"},
        {"password file missing",
         "FabricUrl = " + refused.url() + "\n" + ports +
             "FabricUser = host1\nFabricPasswordFile = " + dir.file("nopw") + "\n",
         "cannot read fabric password file"},
    };
    for (const Row& row : rows) {
        TalonConfig config("", "[Host]\nDeviceTree = simulation\n" + row.config);
        RkDeviceTree::reset();
        std::vector<RkBlockDevice> devices;
        CUxError error;
        EXPECT_FALSE(RkDeviceTree::listDevices(devices, error)) << row.name;
        EXPECT_NE(error.AsString().find(row.want), std::string::npos)
            << row.name << ": " << error.AsString();
        EXPECT_EQ(error.AsString().find("s3cret"), std::string::npos) << row.name;
        EXPECT_EQ(RkDeviceTree::getDevice("/dev/mapper/3600", error), nullptr) << row.name;
        EXPECT_FALSE(RkDeviceTree::rescan(error)) << row.name;
    }
    RkDeviceTree::reset();
}

TEST(SimFabric, MalformedAnswersAreRefusedWholeAndNamed) {
    const std::string inq = "00000502" + std::string(64, '0');  // 36 bytes
    const std::string c8 = "00C8" + std::string(506, '0');
    const std::string p80 = "00800004" + std::string(8, 'A');
    const std::string one = "{\"deviceName\":\"/dev/mapper/3600a\",\"arrayId\":\"" +
                            std::string(32, 'a') + "\",\"lunUuid\":\"" + std::string(32, 'B') +
                            "\",\"standardInquiry\":\"" + inq + "\",\"vpdC8\":\"" + c8 +
                            "\",\"vpd80\":\"" + p80 + "\"";
    auto lun = [&](const std::string& fields) { return "{\"luns\":[" + one + fields + "}]}"; };
    rkhost::FabricView view;
    std::string error;
    ASSERT_TRUE(rkhost::parseFabricView(lun(""), true, &view, &error)) << error;
    EXPECT_EQ(view.luns.at(0).arrayId, std::string(32, 'A'));
    auto replace = [&](const std::string& from, const std::string& to) {
        std::string t = lun("");
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    struct Row {
        const char* name;
        std::string body;
        const char* want;
    } rows[] = {
        {"empty", "", "not JSON"},
        {"no LUNs", "{}", "no \"luns\""},
        {"LUN not an object", "{\"luns\":[1]}", "LUN 0: not an object"},
        {"relative device", replace("/dev/mapper/3600a", "sdb"), "\"deviceName\""},
        {"separator in device", replace("/dev/mapper/3600a", "/dev/a*b"), "\"deviceName\""},
        {"control character", replace("/dev/mapper/3600a", "/dev/a\\nb"), "control character"},
        {"short array id", replace(std::string(32, 'a'), "ABC"), "\"arrayId\""},
        {"LUN UUID not hex", replace(std::string(32, 'B'), std::string(32, 'G')), "\"lunUuid\""},
        {"short inquiry", replace(inq, "0000"), "\"standardInquiry\""},
        {"page C8 of another page", replace(c8, "00C9" + std::string(506, '0')), "\"vpdC8\""},
        {"number for text", replace("\"" + p80 + "\"", "80"), "\"vpd80\" is not a string"},
        {"paths not a list", lun(",\"paths\":{}"), "\"paths\""},
        {"bad controller", lun(",\"paths\":[{\"controller\":\"../x\",\"vpd80\":\"" + p80 + "\"}]"),
         "\"controller\""},
        {"same path twice",
         lun(",\"paths\":[{\"controller\":\"c1\",\"vpd80\":\"" + p80 +
             "\"},{\"controller\":\"c1\",\"vpd80\":\"" + p80 + "\"}]"),
         "listed twice"},
        {"unknown ports not a list", replace("]}", "],\"unknownPorts\":7}"), "\"unknownPorts\""},
        {"deeply nested", std::string(100, '[') + std::string(100, ']'), "nested too deeply"},
    };
    for (const Row& row : rows) {
        rkhost::FabricView untouched;
        EXPECT_FALSE(rkhost::parseFabricView(row.body, true, &untouched, &error)) << row.name;
        EXPECT_NE(error.find(row.want), std::string::npos) << row.name << ": " << error;
        EXPECT_TRUE(untouched.luns.empty()) << row.name;
    }
    EXPECT_FALSE(
        rkhost::parseFabricView("{\"luns\":[" + one + "}," + one + "}]}", false, &view, &error));
    EXPECT_NE(error.find("listed twice"), std::string::npos) << error;
}

}  // namespace
