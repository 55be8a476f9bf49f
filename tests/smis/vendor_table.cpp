// Provider vendor recognition and the vendor table.
#include <gtest/gtest.h>

#include <cim/CIMObjectPath.h>

#include "smis/ProviderVendor.h"

TEST(ProviderVendor, EverySupportedVendorByClassName) {
    struct Row {
        const char* className;
        RK_PROVIDER_VENDOR vendor;
        const char* prefix;
        const char* nameSpace;
    };
    const Row rows[] = {
        {"HPEVA_StorageSystem", VENDOR_HPEVA, "HPEVA", "root/eva"},
        {"HPXP_StorageSystem", VENDOR_HPXP, "HPXP", "root/xp"},
        {"Symm_StorageSystem", VENDOR_EMC, "EMC", "root/emc"},
        {"LSISSI_StorageSystem", VENDOR_LSI, "LSISSI", "root/LsiArray13"},
        {"DCIM_StorageVolume", VENDOR_DELL, "DCIM", "root/DCIM/MDStorageArray13"},
        {"IBMTSSVC_Cluster", VENDOR_IBMSVC, "IBMTSSVC", "root/ibm"},
        {"3PAR_StorageSystem", VENDOR_3PAR, "3PAR", "root/tpd"},
        {"TPD_StorageSystem", VENDOR_3PAR, "3PAR", "root/tpd"},
        {"FUJITSU_StorageVolume", VENDOR_FUJITSU, "FUJITSU", "root/eternus"},
        {"NETAPP_StorageVolume", VENDOR_NETAPP, "NETAPP", "root/netapp/santricity"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(RKProviderVendor::GetVendorId(r.className), r.vendor) << r.className;
        EXPECT_EQ(RKProviderVendor::GetVendorPrefix(r.vendor), r.prefix) << r.className;
        EXPECT_EQ(RKProviderVendor::GetVendorNameSpace(r.vendor), r.nameSpace) << r.className;
        cim::CIMObjectPath path("", "root/x", cim::CIMName(r.className));
        EXPECT_EQ(RKProviderVendor::GetVendorId(path), r.vendor) << r.className;
        EXPECT_EQ(RKProviderVendor::GetVendorPrefix(path), r.prefix) << r.className;
        EXPECT_EQ(RKProviderVendor::GetVendorNameSpace(path), r.nameSpace) << r.className;
    }
}

TEST(ProviderVendor, TestOrderAndSubstringRules) {
    EXPECT_EQ(RKProviderVendor::GetVendorId("X_HPXP_LSISSI_Y"), VENDOR_HPXP);
    EXPECT_EQ(RKProviderVendor::GetVendorId("LSISSI_DCIM_x"), VENDOR_LSI);
    EXPECT_EQ(RKProviderVendor::GetVendorId("MySE_Thing"), VENDOR_EMC) << "\"SE_\" anywhere";
    EXPECT_EQ(RKProviderVendor::GetVendorId("SE_StorageSystem"), VENDOR_EMC);
    // "SE_" is tested before "NETAPP_", so a NETAPP class whose name holds "SE_" is EMC's.
    EXPECT_EQ(RKProviderVendor::GetVendorId("NETAPP_BASE_Volume"), VENDOR_EMC);
    EXPECT_EQ(RKProviderVendor::GetVendorId("FUJITSU_TPD_x"), VENDOR_3PAR);
    // A whole object path text works as well as a class name.
    EXPECT_EQ(RKProviderVendor::GetVendorId(
                  "//h/root/LsiArray13:LSISSI_StorageVolume.DeviceID=\"60080E5\""),
              VENDOR_LSI);
    EXPECT_EQ(RKProviderVendor::GetVendorId("lsissi_storagesystem"), VENDOR_UNKNOWN)
        << "markers are case-sensitive";
    EXPECT_EQ(RKProviderVendor::GetVendorId("LSISSI"), VENDOR_UNKNOWN) << "needs the underscore";
}

TEST(ProviderVendor, UnknownGivesEmptyPrefixAndNamespace) {
    EXPECT_EQ(RKProviderVendor::GetVendorId("CIM_StorageVolume"), VENDOR_UNKNOWN);
    EXPECT_EQ(RKProviderVendor::GetVendorId(""), VENDOR_UNKNOWN);
    EXPECT_EQ(RKProviderVendor::GetVendorId(cim::CIMObjectPath()), VENDOR_UNKNOWN);
    EXPECT_EQ(RKProviderVendor::GetVendorPrefix(
                  cim::CIMObjectPath("", "root/x", cim::CIMName("CIM_StorageVolume"))),
              "");
    EXPECT_EQ(RKProviderVendor::GetVendorNameSpace(
                  cim::CIMObjectPath("", "root/x", cim::CIMName("CIM_StorageVolume"))),
              "");
    for (int v : {0, 3, 4, 5, 6, 14, 15, -1}) {
        EXPECT_EQ(RKProviderVendor::GetVendorPrefix(static_cast<RK_PROVIDER_VENDOR>(v)), "") << v;
        EXPECT_EQ(RKProviderVendor::GetVendorNameSpace(static_cast<RK_PROVIDER_VENDOR>(v)), "")
            << v;
    }
}
