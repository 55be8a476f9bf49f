// Identification of the LUNs a simulated fabric shows; failures from plain files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <set>
#include <string>
#include <vector>

#include "engine/Identification.h"
#include "engine/Inquiry.h"
#include "engine/OemTable.h"
#include "engine/UniqueId.h"
#include "testsupport/FakeOSUtil.h"
#include "testsupport/LogCapture.h"
#include "testsupport/SimHost.h"
#include "testsupport/SimSnapshot.h"
#include "testsupport/TempDir.h"

namespace {

using namespace testsupport;

std::string uuidOf(sim::TestServer& sim, const char* label) {
    return sim.provider().config().arrays[0].findVolumeByLabel(label)->uuid;
}

TEST(Identification, SupportedFamiliesAreIdentifiedAndOthersRejected) {
    // vendor "": the preset's
    // clang-format off
    struct Row { const char *name, *preset, *vendor, *product; bool supported; } rows[] = {
        {"NETAPP", "NETAPP", "", "", true}, {"LSISSI", "LSISSI", "", "", true}, {"DCIM", "DCIM", "", "", true},
        {"other maker", "NETAPP", "ACME", "INF-01-00", false},
        {"separator in the vendor", "NETAPP", "NET*APP", "INF-01-00", false},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::Config config = SimConfig(row.preset);
        if (*row.vendor) {
            config.arrays[0].vendor = row.vendor;
            config.arrays[0].product = row.product;
        }
        sim::TestServer sim(config, PlainHttp());
        SimHost host(sim);
        const sim::Array& array = sim.provider().config().arrays[0];
        std::string shown = array.vendor;  // '*' separates identifier fields
        std::replace(shown.begin(), shown.end(), '*', ' ');
        std::set<std::string> found, want;  // want: the volumes mapped to fchost1 or its group
        for (const char* label : {"ora_data1", "ora_data2", "ora_log", "exch_db"})
            if (row.supported) want.insert(uuidOf(sim, label));
        for (const std::string& device : host.devices()) {
            FakeSnapInfo info;
            std::string vendor, product, arrayId, lunUuid;
            const bool ok =
                getDevArrayInfo(nullptr, row.supported ? nullptr : &info,  // both sinks
                                device.c_str(), vendor, product, arrayId, lunUuid, false, false);
            EXPECT_EQ(ok, row.supported) << device;
            EXPECT_EQ(rkso_isSupported(device.c_str(), 0, nullptr, nullptr, 0),
                      row.supported ? 0 : 1);
            EXPECT_EQ(info.logContains("Vendor: [" + shown + "] Product line : [" + array.product +
                                       "] does not belong to LSI OEM"),
                      !row.supported);
            if (!ok) continue;
            EXPECT_EQ(arrayId, array.id);
            found.insert(lunUuid);
            // The serial number names the controller that owns the volume now.
            std::string serial;
            EXPECT_TRUE(getDeviceSerialNumber(nullptr, device, serial));
            EXPECT_EQ(serial,
                      array.controllers[size_t(array.findVolume(lunUuid)->currentController)].name)
                << device;
        }
        EXPECT_EQ(found, want);
    }
}

TEST(Identification, FailuresAreLoggedAndNeverThrown) {
    TempDir dir;
    const std::string file = dir.write("not-a-disk", "plain file\n");
    TalonConfig config("", "[Host]\nDeviceTree = linux\nSysfsRoot = " + dir.path() + "\n");
    RkDeviceTree::reset();
    const std::string inquiry = std::string(16, '0') + "4E45544150502020" +  // "NETAPP  "
                                "494E462D30312D30302020202020202020";        // "INF-01-00"
    const std::string uuid = "0200000000" + std::string(32, 'a');
    const std::string descriptor = "{idatype:vmware,version:10,standardinqury:";
    // clang-format off
    struct Row { const char* name; std::string device, line; } rows[] = {
        {"empty name", "", "Device name is not set. Cannot fetch array info."},
        {"no such node", "/nonexistent/sdzz", "RkDeviceTree::getDevice exception caught :cannot open '/nonexistent/sdzz'"},
        {"not SCSI", file, "'" + file + "' is not SCSI device"},
        {"descriptor of an old host", "{idatype:vmware,version:9,standardinqury:" + inquiry + "}", "Vendor: [] Product line : [] does not belong to LSI OEM"},
        {"descriptor without version", "{idatype:vmware,standardinqury:" + inquiry + "}", "Vendor: [] Product line : [] does not belong to LSI OEM"},
        {"descriptor inquiry not hex", descriptor + "0G}", "is not hexadecimal"},
        // Upper-case hex digits of both kinds ('4F', '5F') decode.
        {"descriptor of another maker", descriptor + std::string(16, '0') + "4F454D5F58202020}", "Vendor: [OEM_X] Product line : [] does not belong"},
        // A LUN UUID is the 32 hex digits after the first 10 characters of "lunuuid".
        {"short LUN UUID", descriptor + inquiry + ",lunuuid:" + uuid.substr(0, 41) + "}", "holds no 32-digit LUN UUID"},
        {"LUN UUID not hex", descriptor + inquiry + ",lunuuid:" + uuid.substr(0, 41) + "z}", "holds no 32-digit LUN UUID"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeSnapInfo info;
        FakeOSUtil util;
        std::string vendor, product, arrayId = "stale", lunUuid = "stale", serial;
        EXPECT_FALSE(getDevArrayInfo(&util, &info, row.device.c_str(), vendor, product, arrayId,
                                     lunUuid, false, false));
        EXPECT_TRUE(info.logContains(row.line)) << "wanted " << row.line;
        EXPECT_EQ(arrayId + lunUuid, "");
        EXPECT_TRUE(util.calls().empty()) << "no array asked";
        LogCapture module;
        EXPECT_EQ(rkso_isSupported(row.device.c_str(), 0, nullptr, nullptr, 0), 2);
        EXPECT_TRUE(module.contains("Failed to get the array info of device"));
        if (row.device.find("vmware") == std::string::npos) {
            EXPECT_FALSE(getDeviceSerialNumber(&info, row.device, serial));
        }
    }
    LogCapture module;
    EXPECT_EQ(rkso_isSupported(nullptr, 0, nullptr, nullptr, 0), 1);
    EXPECT_TRUE(module.contains("Function called with NULL character device name"));
    RkDeviceTree::reset();
}

// Inquiry data as it arrives: every field stays inside what was received.
TEST(Inquiry, PagesYieldTheirFieldsOnlyFromBytesReceived) {
    unsigned char page[rkso::kInquiryBytes];
    std::fill(page, page + sizeof page, 'S');
    page[3] = 0xFF;  // claims 255 bytes; only 251 follow offset 4 in the buffer
    EXPECT_EQ(rkso::serialFromPage(page), std::string(251, 'S'));
    page[3] = 8;
    std::memcpy(page + 4, "A*B  \0xy", 8);
    EXPECT_EQ(rkso::serialFromPage(page), "A B");
    std::fill(page, page + sizeof page, 0);
    page[12] = 0xAB;   // LUN UUID from byte 12
    page[105] = 0xCF;  // array id up to byte 105
    // clang-format off
    struct Row { int received; bool ok; } rows[] = {{255, true}, {106, true}, {105, false}, {0, false}};
    // clang-format on
    for (const Row& row : rows) {
        std::string arrayId, lunUuid;
        EXPECT_EQ(rkso::arrayPageIdentity(page, row.received, arrayId, lunUuid), row.ok)
            << row.received << " bytes";
        EXPECT_EQ(lunUuid + arrayId, row.ok ? "AB" + std::string(60, '0') + "CF" : "");
    }
}

// A request's snapshot is found by its identifier's array id and target device.
std::string identifierOf(const std::string& arrayId, const std::string& target) {
    SnapUniqueIdFields f{arrayId, "7", "", "600A0980000000000000000000000001", "", "", target,
                         "",      "",  ""};
    std::string text, error;
    EXPECT_TRUE(formatSnapUniqueId(f, false, &text, &error)) << error;
    return text;
}

TEST(IdentifyDevices, TheModelsListBecomesTheRequestsSnapshotDevices) {
    sim::TestServer sim(SimConfig(), PlainHttp());
    SimHost host(sim);
    const std::string id = sim.provider().config().arrays[0].id;
    FakeSnapInfo log, first, second, elsewhere, none, broken;
    first.setMetaDataText(1, identifierOf(id, uuidOf(sim, "ora_log")));
    second.setMetaDataText(1, identifierOf(id, uuidOf(sim, "ora_data1")));
    elsewhere.setMetaDataText(1, identifierOf(id, uuidOf(sim, "small_lun")));  // another host's
    broken.setMetaDataText(1, "no identifier");
    RKSO::SnapInfo* requests[] = {&log, &first, &second, &elsewhere, &none, &broken};
    const std::string data1 = host.deviceOf(uuidOf(sim, "ora_data1"));
    const std::string logDevice = host.deviceOf(uuidOf(sim, "ora_log"));
    const std::list<std::string> listed = {data1, "/dev/sdzz", logDevice,
                                           host.deviceOf(uuidOf(sim, "ora_data2"))};
    const RksoDevicesByModel untouched = {{kIdentifyModelKey, listed}, {"OTHER   |::|X", {"/a"}}};
    FakeOSUtil util;
    RksoDevicesByModel byModel = untouched;
    EXPECT_EQ(rkso_identifyDevices(requests, 6, &byModel, 2, nullptr, &util), 0);
    EXPECT_EQ(byModel, untouched) << "operation 2 only logs";
    EXPECT_TRUE(log.logContains("Starting to identify [6] devices."));
    EXPECT_EQ(rkso_identifyDevices(requests, 6, nullptr, 3, nullptr, &util), 1);
    EXPECT_EQ(rkso_identifyDevices(requests, 6, &byModel, 3, nullptr, &util), 0);
    EXPECT_EQ(byModel[kIdentifyModelKey], (std::list<std::string>{logDevice, data1}));
    EXPECT_EQ(byModel["OTHER   |::|X"], std::list<std::string>{"/a"});
    EXPECT_TRUE(log.logContains("Unable to get array id and lun UUID for device [/dev/sdzz]"));
    EXPECT_TRUE(none.logContains("Unable to get unique identifier metadata [1] for source device"));
    EXPECT_TRUE(broken.logContains("Unable to get snap information from unique identifier"));
    RksoDevicesByModel otherModels = {{"OTHER   |::|X", {"/a"}}};
    EXPECT_EQ(rkso_identifyDevices(requests, 1, &otherModels, 3, nullptr, &util), 0);
    EXPECT_EQ(otherModels.size(), 1u) << "no list is made for a model nobody listed";
    EXPECT_TRUE(
        log.logContains("None of the mounted devices belongs to vendor [NETAPP  ] and "
                        "product [INF-01-00       ]"));
}

// Which inquiry vendors and products count as E-Series arrays.
TEST(OemTable, RulesAndOverrides) {
    // talon: section "Talon"; configVendor, configProduct: the device's snap configuration
    // clang-format off
    struct Row {
        const char* name; const char* talon; const char *configVendor, *configProduct;
        const char *vendor, *product; bool supported; const char* logged;
    } rows[] = {
        {"rule 1 ignores case", "", "", "", "ibm", "1726-2xx  fastt", true, ""},
        {"rule 1 listed maker", "", "", "", "stk", "FLEXLINE 380", true, ""},
        {"inner spaces count", "", "", "", "IBM", "1726-2xx FAStT", false, ""},
        {"rule 3 longer product", "", "", "", "IBM", "1742-900X", true, ""},
        {"rule 3 underscore as space", "", "", "", "SUN", "SUN 6180", true, ""},
        {"rule 3 no dash for underscore", "", "", "", "SUN", "SUN-6180", false, ""},
        {"rule 3 case-sensitive", "", "", "", "DELL", "md32xxf", false, ""},
        {"rule 3 product too short", "", "", "", "DELL", "MD3", false, ""},
        {"rule 2 default pair", "", "", "", "LSI", "CSM", true, ""},
        {"other maker", "", "", "", "ACME", "INF-01-00", false, ""},
        {"nothing read", "", "", "", "", "", false, ""},
        {"tuning pair", "LSI_VENDOR_NAME = ACME,ZETA\nLSI_PRODUCT_ID = RAID9000", "", "", "zeta", "RAID9000", true, "Vendor ID [ACME,ZETA] read from regkey LSI_VENDOR_NAME"},
        {"tuning replaces the default", "LSI_VENDOR_NAME = ACME", "", "", "LSI", "CSM", false, ""},
        {"device pair", "", "ACME", "R9", "ACME", "R9", true, " Array Config [SMCONFIG_NAME_LSI_OEM_PRODUCT_ID:R9]"},
        {"tuning before device", "LSI_VENDOR_NAME = ACME", "OTHER", "R9", "OTHER", "R9", false, ""},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TalonConfig config(row.talon);
        FakeSnapInfo info;
        info.setConfig("SMCONFIG_NAME_LSI_OEM_VENDOR_ID", row.configVendor);
        info.setConfig("SMCONFIG_NAME_LSI_OEM_PRODUCT_ID", row.configProduct);
        EXPECT_EQ(isSuuportedOEM(&info, row.vendor, row.product), row.supported);
        EXPECT_TRUE(!*row.logged || info.logContains(row.logged)) << "wanted " << row.logged;
    }
    // Without a device only the tuning values and the default pair count.
    LogCapture module;
    EXPECT_TRUE(isSuuportedOEM(nullptr, "LSI", "CSM"));
    EXPECT_TRUE(module.contains(
        " Could not get array Config [SMCONFIG_NAME_LSI_OEM_VENDOR_ID] as NULL device passed"));
}

}  // namespace
