// Simulated device trees over HTTP: the simulator's fabric, or a canned server for odd answers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "FabricView.h"
#include "rkso/RkDeviceTree.h"
#include "sim/server/TestServer.h"
#include "testsupport/LoopbackServer.h"
#include "testsupport/TalonConfig.h"
#include "testsupport/TempDir.h"

namespace {

using namespace testsupport;

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string hexOf(const unsigned char* data, size_t n) {
    std::string out;
    char b[3];
    for (size_t i = 0; i < n; ++i) out += (std::snprintf(b, sizeof b, "%02X", data[i]), b);
    return out;
}

// The device's SCSI interface (kept alive in dev), or nullptr.
RkDeviceScsiIface* scsiOf(const std::string& device, std::shared_ptr<RkDevice>& dev) {
    CUxError error;
    dev = RkDeviceTree::getDevice(device, error);
    return dev ? static_cast<RkDeviceScsiIface*>(dev->getInterface(RK_DEVICE_SCSI_IFACE)) : nullptr;
}

struct Inquiry {
    int n;
    std::vector<unsigned char> data;
    std::string error;
};

Inquiry inquire(const std::string& device, unsigned char evpd, unsigned char page,
                int allocation = 255, int size = 255) {
    std::shared_ptr<RkDevice> dev;
    RkDeviceScsiIface* scsi = scsiOf(device, dev);
    if (!scsi) return {-2, {}, "no SCSI device"};
    unsigned char cdb[6] = {0x12, evpd, page, 0, static_cast<unsigned char>(allocation & 0xFF), 0};
    cdb[3] = static_cast<unsigned char>(allocation >> 8);
    std::vector<unsigned char> data(static_cast<size_t>(size), 0xEE);
    CUxError error;
    int n = scsi->sendCommand(cdb, 6, data.data(), size, 0, 1, nullptr, 0, 10, error);
    return {n, data, error.AsString()};
}

// The names the device tree lists, or the reason it cannot.
std::set<std::string> listed() {
    std::vector<RkBlockDevice> devices;
    CUxError error;
    if (!RkDeviceTree::listDevices(devices, error)) return {"failed: " + error.AsString()};
    std::set<std::string> names;
    for (const RkBlockDevice& d : devices) names.insert(d.name);
    return names;
}

class SimDevices : public ::testing::Test {
  protected:
    sim::TestServer sim;
    const sim::Array& array = sim.provider().config().arrays.at(0);
    std::optional<TalonConfig> config;
    // fchost1's first port, written as a host may write it.
    void use(const std::string& kind) {
        config.reset();
        config.emplace("", "[Host]\nDeviceTree = " + kind + "\nFabricUrl = " + sim.httpUrl() +
                               "\nInitiatorPorts = 10:00:00:90:fa:1b:2c:3d\n");
        RkDeviceTree::reset();
    }
    void SetUp() override { use("simulation"); }
    void TearDown() override { RkDeviceTree::reset(); }
    std::string uuidOf(const std::string& label) const {
        return array.findVolumeByLabel(label)->uuid;
    }
    std::string deviceOf(const std::string& label) const {
        return "/dev/mapper/3" + lower(uuidOf(label));
    }
    // Maps the volume to fchost1 on the array, as an administrator would.
    void mapLater(const std::string& label, uint32_t lun) {
        std::string uuid = uuidOf(label), host = array.findHost("fchost1")->ref;
        sim.provider().startJobWithEffect(0, [=](sim::Array& a) {
            a.mappings.push_back(sim::Mapping{uuid, host, lun, 2});
        });
    }
};

// The answer never runs past the allocation length or the buffer.
TEST_F(SimDevices, InquiriesHonourTheAllocationLengthAndRefuseOtherPages) {
    struct Row {
        const char* name;
        unsigned char evpd, page;
        int allocation, size, want;  // bytes, or -1
    } rows[] = {
        {"standard, nothing asked", 0, 0, 0, 255, 0},
        {"page C8, smaller buffer", 1, 0xC8, 255, 100, 100},
        {"page C8, 16-bit length", 1, 0xC8, 0x0100, 255, 255},
        {"page 80, 4 asked", 1, 0x80, 4, 255, 4},
        {"page without EVPD", 0, 0xC8, 255, 255, -1},
    };
    for (const Row& row : rows) {
        Inquiry got = inquire(deviceOf("ora_data1"), row.evpd, row.page, row.allocation, row.size);
        EXPECT_EQ(got.n, row.want) << row.name << ": " << got.error;
        const size_t end = static_cast<size_t>(std::max(got.n, 0));
        EXPECT_TRUE(end >= got.data.size() || got.data[end] == 0xEE) << row.name << ": wrote past";
        EXPECT_EQ(row.want < 0, got.error.find("ILLEGAL REQUEST") != std::string::npos) << row.name;
    }
}

TEST_F(SimDevices, BadCommandsAreRefusedWithSenseWhereADeviceWouldGiveIt) {
    std::shared_ptr<RkDevice> dev;
    RkDeviceScsiIface* scsi = scsiOf(deviceOf("ora_log"), dev);
    ASSERT_NE(scsi, nullptr);
    EXPECT_EQ(dev->getInterface("RkDeviceDiskIface"), nullptr);
    CUxError error;
    const unsigned char inquiry[16] = {0x12, 0, 0, 0, 0xFF, 0}, testUnitReady[6] = {0x00};
    unsigned char data[255];
    struct Row {
        const char* name;
        const unsigned char* cdb;
        int cdbLength;
        unsigned char* data;
        int size, out, in, flags, timeout;
        const char* want;
    } rows[] = {
        // clang-format off
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
        // clang-format on
    };
    unsigned char sense[RK_SCSI_SENSE_SIZE] = {};
    for (const Row& row : rows) {
        error.Success();
        EXPECT_EQ(scsi->sendCommand(row.cdb, row.cdbLength, row.data, row.size, row.out, row.in,
                                    sense, row.flags, row.timeout, error),
                  -1)
            << row.name;
        EXPECT_NE(error.AsString().find(row.want), std::string::npos)
            << row.name << ": " << error.AsString();
    }
    const unsigned char page83[6] = {0x12, 1, 0x83, 0, 0xFF, 0};
    EXPECT_EQ(scsi->sendCommand(page83, 6, data, 255, 0, 1, sense, 0, 10, error), -1);
    EXPECT_EQ(hexOf(sense, 3) + hexOf(sense + 12, 1), "70000524") << "ILLEGAL REQUEST, 0x24";
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
    std::shared_ptr<RkDevice> dev;
    RkDeviceScsiIface* scsi = scsiOf(later, dev);
    ASSERT_NE(scsi, nullptr);
    Inquiry c8 = inquire(later, 1, 0xC8);
    ASSERT_EQ(c8.n, 255) << c8.error;
    EXPECT_EQ(hexOf(&c8.data[12], 16), uuidOf("vm_store"));
    sim.provider().reset();  // the mapping is gone from the array
    EXPECT_EQ(inquire(later, 1, 0xC8).n, 255) << "still there until the host rescans";
    ASSERT_TRUE(RkDeviceTree::rescan(error)) << error.AsString();
    unsigned char cdb[6] = {0x12, 0, 0, 0, 0xFF, 0}, data[255];
    EXPECT_EQ(scsi->sendCommand(cdb, 6, data, 255, 0, 1, nullptr, 0, 10, error), -1);
    EXPECT_NE(error.AsString().find("no longer on the fabric"), std::string::npos)
        << error.AsString();
}

TEST_F(SimDevices, VmwareHostsListDescriptorTexts) {
    use("vmware");
    const std::set<std::string> names = listed();
    ASSERT_EQ(names.size(), 4u) << *names.begin();
    std::set<std::string> uuids;
    for (const std::string& name : names) {
        std::smatch m;
        // Bytes 8 to 15 of the standard inquiry (hex digits 16 to 31) hold "NETAPP  ".
        EXPECT_TRUE(std::regex_search(
            name,
            std::regex("^\\{idatype:vmware.*,version:10,.*standardinqury:.{16}4E45544150502020")))
            << name;
        ASSERT_TRUE(std::regex_search(name, m, std::regex("lunuuid:.{10}([^,]{32})[,}]"))) << name;
        uuids.insert(m[1]);
    }
    std::set<std::string> want;
    for (const char* l : {"ora_data1", "ora_data2", "ora_log", "exch_db"})
        want.insert(lower(uuidOf(l)));
    EXPECT_EQ(uuids, want);
    CUxError error;
    EXPECT_EQ(RkDeviceTree::getDevice(*names.begin(), error), nullptr);
    EXPECT_FALSE(error.AsString().empty());
}

TEST_F(SimDevices, InquiriesAndListingsDuringRescansSeeAWholeView) {
    const std::string steady = deviceOf("ora_data1"), want = uuidOf("ora_data1");
    std::atomic<bool> rescanning{true};
    std::atomic<int> wrong{0}, done{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 6; ++t)
        readers.emplace_back([&, t] {
            for (; rescanning || done < 6 * 20; ++done) {
                if (t % 2 == 0) {
                    Inquiry c8 = inquire(steady, 1, 0xC8);
                    if (c8.n != 255 || hexOf(&c8.data[12], 16) != want) ++wrong;
                    continue;
                }
                if (listed().size() < 4) ++wrong;
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
              const cimtest::Fields length{{"Content-Length", std::to_string(body.size())}};
              return cimtest::RawReply{cimtest::httpResponse(status, "Canned", length, body),
                                       cimtest::RawReply::SendAndClose};
          }) {}
    std::string url() const { return "http://127.0.0.1:" + std::to_string(server.port()); }
    cimtest::RawServer server;
};

TEST(SimFabric, CredentialsGoAlongWhenConfigured) {
    TempDir dir;
    std::string pw = dir.write("pw", "s3cret-fabric\n", 0600);
    CannedFabric fabric(200);
    for (bool withUser : {true, false}) {
        TalonConfig config(
            "", "[Host]\nDeviceTree = simulation\nFabricUrl = " + fabric.url() +
                    "\nInitiatorPorts = 10000090FA1B2C3D, iqn.1994-05.com.ex:h1\n" +
                    (withUser ? "FabricUser = host1\nFabricPasswordFile = " + pw : std::string()));
        RkDeviceTree::reset();
        ASSERT_EQ(listed(), std::set<std::string>());
        const cimtest::RawRequest req = fabric.server.requests().back();
        EXPECT_EQ(
            req.method + " " + req.target + " " + req.body,
            "POST /fabric/luns {\"initiators\":[\"10000090FA1B2C3D\",\"iqn.1994-05.com.ex:h1\"]}");
        const std::string* auth = req.header("Authorization");
        // host1:s3cret-fabric
        EXPECT_EQ(auth ? *auth : "none", withUser ? "Basic aG9zdDE6czNjcmV0LWZhYnJpYw==" : "none");
    }
    RkDeviceTree::reset();
}

TEST(SimFabric, AnUnusableFabricFailsTheListingClearly) {
    TempDir dir;
    std::string pw = dir.write("pw", "s3cret-fabric\n", 0600);
    CannedFabric refused(401), broken(500), notJson(200, "<html>"),
        wrongShape(200, "{\"luns\":{}}");
    const std::string ports = "InitiatorPorts = 10000090FA1B2C3D\n",
                      user = "FabricUser = host1\nFabricPasswordFile = ";
    auto at = [&](const CannedFabric& f) { return "FabricUrl = " + f.url() + "\n" + ports; };
    const std::string closed = std::to_string(cimtest::closedPort());
    const std::pair<std::string, const char*> rows[] = {
        // clang-format off
        {"FabricUrl = http://127.0.0.1:" + closed + "\n" + ports, "cannot read the fabric"},
        {at(refused) + user + pw + "\n", "refused the credentials (HTTP 401)"},
        {at(broken), "answered HTTP 500"},
        {at(notJson), "malformed fabric answer"},
        {at(wrongShape), "\"luns\""},
        {"FabricUrl = " + broken.url() + "\n", "no initiator ports configured"},
        {ports, "no fabric configured"},
        {"FabricUrl = ftp://127.0.0.1/\n" + ports, "http:// or https://"},
        {"FabricUrl = http://host1:pw@127.0.0.1/\n" + ports, "must not hold credentials"},
        {at(refused) + user + dir.file("nopw") + "\n", "cannot read fabric password file"},
        // clang-format on
    };
    for (const auto& [settings, want] : rows) {
        TalonConfig config("", "[Host]\nDeviceTree = simulation\n" + settings);
        RkDeviceTree::reset();
        std::vector<RkBlockDevice> devices;
        CUxError error;
        EXPECT_FALSE(RkDeviceTree::listDevices(devices, error)) << want;
        EXPECT_NE(error.AsString().find(want), std::string::npos)
            << want << ": " << error.AsString();
        EXPECT_EQ(error.AsString().find("s3cret"), std::string::npos) << want;
        EXPECT_EQ(RkDeviceTree::getDevice("/dev/mapper/3600", error), nullptr) << want;
        EXPECT_FALSE(RkDeviceTree::rescan(error)) << want;
    }
    RkDeviceTree::reset();
}

TEST(SimFabric, MalformedAnswersAreRefusedWholeAndNamed) {
    const std::string inq = "00000502" + std::string(64, '0');  // 36 bytes
    const std::string c8 = "00C8" + std::string(506, '0'), p80 = "00800004" + std::string(8, 'A');
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
        return t.replace(t.find(from), from.size(), to);
    };
    const std::string path = "{\"controller\":\"c1\",\"vpd80\":\"" + p80 + "\"}";
    const std::pair<std::string, const char*> rows[] = {
        // clang-format off
        {"", "not JSON"},
        {"{}", "no \"luns\""},
        {"{\"luns\":[1]}", "LUN 0: not an object"},
        {replace("/dev/mapper/3600a", "sdb"), "\"deviceName\""},
        {replace("/dev/mapper/3600a", "/dev/a*b"), "\"deviceName\""},
        {replace("/dev/mapper/3600a", "/dev/a\\nb"), "control character"},
        {replace(std::string(32, 'a'), "ABC"), "\"arrayId\""},
        {replace(std::string(32, 'B'), std::string(32, 'G')), "\"lunUuid\""},
        {replace(inq, "0000"), "\"standardInquiry\""},
        {replace(c8, "00C9" + std::string(506, '0')), "\"vpdC8\""},
        {replace("\"" + p80 + "\"", "80"), "\"vpd80\" is not a string"},
        {lun(",\"paths\":{}"), "\"paths\""},
        {lun(",\"paths\":[{\"controller\":\"../x\",\"vpd80\":\"" + p80 + "\"}]"), "\"controller\""},
        {lun(",\"paths\":[" + path + "," + path + "]"), "listed twice"},
        {replace("]}", "],\"unknownPorts\":7}"), "\"unknownPorts\""},
        {std::string(100, '[') + std::string(100, ']'), "nested too deeply"},
        // clang-format on
    };
    for (const auto& [body, want] : rows) {
        rkhost::FabricView untouched;
        EXPECT_FALSE(rkhost::parseFabricView(body, true, &untouched, &error))
            << want << " in " << body;
        EXPECT_NE(error.find(want), std::string::npos) << want << ": " << error;
        EXPECT_TRUE(untouched.luns.empty()) << want;
    }
    EXPECT_FALSE(
        rkhost::parseFabricView("{\"luns\":[" + one + "}," + one + "}]}", false, &view, &error));
    EXPECT_NE(error.find("listed twice"), std::string::npos) << error;
}

}  // namespace
