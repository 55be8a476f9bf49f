// Which inquiry vendors and products count as E-Series arrays.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/Inquiry.h"
#include "engine/OemTable.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/LogCapture.h"
#include "testsupport/TalonConfig.h"

namespace {

using testsupport::FakeSnapInfo;
using testsupport::TalonConfig;

TEST(OemTable, EveryListedArrayIsSupportedAsItReportsItself) {
    const std::vector<std::pair<std::string, std::string>> listed = {
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
    ASSERT_EQ(rows, listed.size());
    for (size_t i = 0; i < rows; ++i) {
        EXPECT_EQ(OEMEntries[i].vendor, listed[i].first) << "row " << i + 1;
        EXPECT_EQ(OEMEntries[i].product, listed[i].second) << "row " << i + 1;
        std::string lower = listed[i].first;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(isSuuportedOEM(nullptr, lower, listed[i].second)) << "row " << i + 1;
    }
}

TEST(OemTable, RulesAndOverrides) {
    struct Row {
        const char* name;
        std::string talon;                                        // section "Talon" lines
        std::vector<std::pair<std::string, std::string>> config;  // the device's
        bool withDevice;
        const char* vendor;
        const char* product;
        bool supported;
        const char* logged;  // a line the decision leaves, or ""
    } rows[] = {
        {"rule 1 ignores case", "", {}, true, "ibm", "1726-2xx  fastt", true, ""},
        {"inner spaces count", "", {}, true, "IBM", "1726-2xx FAStT", false, ""},
        {"rule 3 longer product", "", {}, true, "IBM", "1742-900X", true, ""},
        {"rule 3 underscore as space", "", {}, true, "SUN", "SUN 6180", true, ""},
        {"rule 3 no dash for underscore", "", {}, true, "SUN", "SUN-6180", false, ""},
        {"rule 3 case-sensitive", "", {}, true, "DELL", "md32xxf", false, ""},
        {"rule 3 device product too short", "", {}, true, "DELL", "MD3", false, ""},
        {"rule 2 default pair",
         "",
         {},
         false,
         "LSI",
         "CSM",
         true,
         " Could not get array Config [SMCONFIG_NAME_LSI_OEM_VENDOR_ID] as NULL device passed"},
        {"rule 2 names in one setting",
         "LSI_VENDOR_NAME = ACME,ZETA\nLSI_PRODUCT_ID = RAID9000",
         {},
         true,
         "zeta",
         "RAID9000",
         true,
         ""},
        {"other maker", "", {}, true, "ACME", "INF-01-00", false, ""},
        {"nothing read", "", {}, true, "", "", false, ""},
        {"tuning pair",
         "LSI_VENDOR_NAME = ACME\nLSI_PRODUCT_ID = RAID9000",
         {},
         true,
         "ACME",
         "RAID9000",
         true,
         "Vendor ID [ACME] read from regkey LSI_VENDOR_NAME"},
        {"tuning pair replaces the default",
         "LSI_VENDOR_NAME = ACME\nLSI_PRODUCT_ID = RAID9000",
         {},
         true,
         "LSI",
         "CSM",
         false,
         ""},
        {"device pair",
         "",
         {{"SMCONFIG_NAME_LSI_OEM_VENDOR_ID", "ACME"}, {"SMCONFIG_NAME_LSI_OEM_PRODUCT_ID", "R9"}},
         true,
         "ACME",
         "R9",
         true,
         " Array Config [SMCONFIG_NAME_LSI_OEM_PRODUCT_ID:R9]"},
        {"tuning before device",
         "LSI_VENDOR_NAME = ACME",
         {{"SMCONFIG_NAME_LSI_OEM_VENDOR_ID", "OTHER"}, {"SMCONFIG_NAME_LSI_OEM_PRODUCT_ID", "R9"}},
         true,
         "OTHER",
         "R9",
         false,
         ""},
    };
    for (const Row& row : rows) {
        TalonConfig config(row.talon);
        testsupport::LogCapture module;
        FakeSnapInfo info;
        for (const auto& [key, value] : row.config) info.setConfig(key, value);
        EXPECT_EQ(isSuuportedOEM(row.withDevice ? &info : nullptr, row.vendor, row.product),
                  row.supported)
            << row.name;
        if (*row.logged) {
            EXPECT_TRUE(info.logContains(row.logged) || module.contains(row.logged)) << row.name;
        }
    }
}

TEST(OemTable, InquiryFieldsAndTextMatches) {
    struct Trim {
        std::string bytes;
        int length;
        const char* want;
    } trims[] = {
        {"NETAPP  ", 8, "NETAPP"},
        {"A*B*    ", 8, "A B"},
        {"  LSI \t ", 8, "  LSI"},
        {"        ", 8, ""},
        {std::string("AB\0CD   ", 8), 8, "AB"},
        {"LSIXYZ", 3, "LSI"},
        {"LSI", 0, ""},
    };
    for (const Trim& t : trims) {
        std::string data = t.bytes;
        EXPECT_EQ(trimSpaces(reinterpret_cast<unsigned char*>(&data[0]), t.length), t.want)
            << t.bytes;
        EXPECT_EQ(data.substr(0, static_cast<size_t>(t.length)).find('*'), std::string::npos)
            << t.bytes << ": '*' left in the data";
    }
    EXPECT_TRUE(ignoreCaseCompare("NetApp", "NETAPP"));
    EXPECT_FALSE(ignoreCaseCompare("NETAPP", "NETAPP "));
    EXPECT_FALSE(ignoreCaseCompare("", ""));
    EXPECT_TRUE(ignoreCaseFind("LSI,ENGENIO", "engenio"));
    EXPECT_FALSE(ignoreCaseFind("LSI", ""));
    EXPECT_FALSE(ignoreCaseFind("", "LSI"));
}

}  // namespace
