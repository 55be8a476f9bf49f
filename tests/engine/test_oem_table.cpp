// Which inquiry vendors and products count as E-Series arrays.
#include <gtest/gtest.h>

#include <string>

#include "engine/OemTable.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/LogCapture.h"
#include "testsupport/TalonConfig.h"

namespace {

TEST(OemTable, RulesAndOverrides) {
    struct Row {
        const char* name;
        const char* talon;                         // section "Talon"
        const char *configVendor, *configProduct;  // the device's snap configuration
        const char *vendor, *product;
        bool supported;
        const char* logged;
    } rows[] = {
        // clang-format off
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
        {"tuning pair", "LSI_VENDOR_NAME = ACME,ZETA\nLSI_PRODUCT_ID = RAID9000", "", "", "zeta", "RAID9000", true,
         "Vendor ID [ACME,ZETA] read from regkey LSI_VENDOR_NAME"},
        {"tuning replaces the default", "LSI_VENDOR_NAME = ACME", "", "", "LSI", "CSM", false, ""},
        {"device pair", "", "ACME", "R9", "ACME", "R9", true, " Array Config [SMCONFIG_NAME_LSI_OEM_PRODUCT_ID:R9]"},
        {"tuning before device", "LSI_VENDOR_NAME = ACME", "OTHER", "R9", "OTHER", "R9", false, ""},
        // clang-format on
    };
    for (const Row& row : rows) {
        testsupport::TalonConfig config(row.talon);
        testsupport::FakeSnapInfo info;
        info.setConfig("SMCONFIG_NAME_LSI_OEM_VENDOR_ID", row.configVendor);
        info.setConfig("SMCONFIG_NAME_LSI_OEM_PRODUCT_ID", row.configProduct);
        EXPECT_EQ(isSuuportedOEM(&info, row.vendor, row.product), row.supported) << row.name;
        EXPECT_TRUE(!*row.logged || info.logContains(row.logged))
            << row.name << ": wanted " << row.logged;
    }
    // Without a device only the tuning values and the default pair count.
    testsupport::LogCapture module;
    EXPECT_TRUE(isSuuportedOEM(nullptr, "LSI", "CSM"));
    EXPECT_TRUE(module.contains(
        " Could not get array Config [SMCONFIG_NAME_LSI_OEM_VENDOR_ID] as NULL device passed"));
}

}  // namespace
