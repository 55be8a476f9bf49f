// Which inquiry vendors and products count as E-Series arrays.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "engine/OemTable.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/LogCapture.h"
#include "testsupport/TalonConfig.h"

namespace {

TEST(OemTable, EveryListedArrayIsSupportedAsItReportsItself) {
    const char* const listed[][2] = {
        {"LSI", "INF-01-00"},
        {"IBM", "1746      FAStT"},
        {"IBM", "1726-2xx  FAStT"},
        {"IBM", "1726-3xx  FAStT"},
        {"IBM", "1726-4xx  FAStT"},
        {"IBM", "1818      FastT"},
        {"IBM", "1814      FAStT"},
        {"IBM", "1815      FAStT"},
        {"IBM", "1742-900"},
        {"IBM", "1742"},
        {"DELL", "MD32xx"},
        {"DELL", "MD32xxi"},
        {"DELL", "MD3000"},
        {"DELL", "MD3000i"},
        {"DELL", "MD36xxf"},
        {"SGI", "IS400"},
        {"SGI", "IS220"},
        {"SGI", "IS600"},
        {"SGI", "TP9700"},
        {"SGI", "TP9500"},
        {"SGI", "TP9500S"},
        {"SGI", "TP9300"},
        {"SGI", "TP9300S"},
        {"SGI", "TP9300  1G-2C"},
        {"SGI", "TP9400"},
        {"SUN", "LCSM100_S"},
        {"SUN", "LCSM100_I"},
        {"SUN", "LCSM100_F"},
        {"SUN", "CSM200_R"},
        {"SUN", "STK6580_6780"},
        {"SUN", "SUN_6180"},
        {"SUN", "CSM100_R_FC"},
        {"STK", "OPENstorage D240"},
        {"STK", "FLEXLINE 380"},
        {"STK", "OPENstorage D280"},
        {"STK", "OPENstorage D178"},
        {"STK", "BladeCtlr B210"},
        {"NETAPP", "INF-01-00"},
    };
    size_t rows = 0;
    while (OEMEntries[rows].vendor) ++rows;
    ASSERT_EQ(rows, std::size(listed));
    for (size_t i = 0; i < rows; ++i) {
        EXPECT_STREQ(OEMEntries[i].vendor, listed[i][0]) << "row " << i + 1;
        EXPECT_STREQ(OEMEntries[i].product, listed[i][1]) << "row " << i + 1;
        std::string lower = listed[i][0];
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(isSuuportedOEM(nullptr, lower, listed[i][1])) << "row " << i + 1;
    }
}

TEST(OemTable, RulesAndOverrides) {
    struct Row {
        const char* name;
        const char* talon;                         // section "Talon"
        const char *configVendor, *configProduct;  // the device's snap configuration
        const char *vendor, *product;
        bool supported;
        const char* logged;
    } rows[] = {
        {"rule 1 ignores case", "", "", "", "ibm", "1726-2xx  fastt", true, ""},
        {"inner spaces count", "", "", "", "IBM", "1726-2xx FAStT", false, ""},
        {"rule 3 longer product", "", "", "", "IBM", "1742-900X", true, ""},
        {"rule 3 underscore as space", "", "", "", "SUN", "SUN 6180", true, ""},
        {"rule 3 no dash for underscore", "", "", "", "SUN", "SUN-6180", false, ""},
        {"rule 3 case-sensitive", "", "", "", "DELL", "md32xxf", false, ""},
        {"rule 3 product too short", "", "", "", "DELL", "MD3", false, ""},
        {"rule 2 default pair", "", "", "", "LSI", "CSM", true, ""},
        {"other maker", "", "", "", "ACME", "INF-01-00", false, ""},
        {"nothing read", "", "", "", "", "", false, ""},
        {"tuning pair", "LSI_VENDOR_NAME = ACME,ZETA\nLSI_PRODUCT_ID = RAID9000", "", "", "zeta",
         "RAID9000", true, "Vendor ID [ACME,ZETA] read from regkey LSI_VENDOR_NAME"},
        {"tuning replaces the default", "LSI_VENDOR_NAME = ACME", "", "", "LSI", "CSM", false, ""},
        {"device pair", "", "ACME", "R9", "ACME", "R9", true,
         " Array Config [SMCONFIG_NAME_LSI_OEM_PRODUCT_ID:R9]"},
        {"tuning before device", "LSI_VENDOR_NAME = ACME", "OTHER", "R9", "OTHER", "R9", false, ""},
    };
    for (const Row& row : rows) {
        testsupport::TalonConfig config(row.talon);
        testsupport::FakeSnapInfo info;
        info.setConfig("SMCONFIG_NAME_LSI_OEM_VENDOR_ID", row.configVendor);
        info.setConfig("SMCONFIG_NAME_LSI_OEM_PRODUCT_ID", row.configProduct);
        EXPECT_EQ(isSuuportedOEM(&info, row.vendor, row.product), row.supported) << row.name;
        if (*row.logged) {
            EXPECT_TRUE(info.logContains(row.logged)) << row.name << ": wanted " << row.logged;
        }
    }
    // Without a device only the tuning values and the default pair count.
    testsupport::LogCapture module;
    EXPECT_TRUE(isSuuportedOEM(nullptr, "LSI", "CSM"));
    EXPECT_TRUE(module.contains(
        " Could not get array Config [SMCONFIG_NAME_LSI_OEM_VENDOR_ID] as NULL device passed"));
}

}  // namespace
