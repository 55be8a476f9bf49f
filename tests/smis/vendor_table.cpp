// Provider vendor recognition and the vendor table.
#include <gtest/gtest.h>

#include <cim/CIMObjectPath.h>

#include "smis/ProviderVendor.h"

TEST(ProviderVendor, EveryVendorByClassNameAndTheTestOrder) {
    const struct {
        const char* className;
        RK_PROVIDER_VENDOR vendor;
        const char* prefix;
        const char* nameSpace;
    } rows[] = {
        {"HPEVA_StorageSystem", VENDOR_HPEVA, "HPEVA", "root/eva"},
        {"DCIM_StorageVolume", VENDOR_DELL, "DCIM", "root/DCIM/MDStorageArray13"},
        {"IBMTSSVC_Cluster", VENDOR_IBMSVC, "IBMTSSVC", "root/ibm"},
        {"TPD_StorageSystem", VENDOR_3PAR, "3PAR", "root/tpd"},
        {"NETAPP_StorageVolume", VENDOR_NETAPP, "NETAPP", "root/netapp/santricity"},
        // Markers are tested in a fixed order, anywhere in the text, case-sensitively.
        {"X_HPXP_LSISSI_Y", VENDOR_HPXP, "HPXP", "root/xp"},
        {"LSISSI_DCIM_x", VENDOR_LSI, "LSISSI", "root/LsiArray13"},
        {"MySE_Thing", VENDOR_EMC, "EMC", "root/emc"},
        {"NETAPP_BASE_Volume", VENDOR_EMC, "EMC", "root/emc"},  // "SE_" comes first
        {"FUJITSU_TPD_x", VENDOR_3PAR, "3PAR", "root/tpd"},
        {"//h/root/LsiArray13:LSISSI_StorageVolume.DeviceID=\"60080E5\"", VENDOR_LSI, "LSISSI",
         "root/LsiArray13"},
        {"lsissi_storagesystem", VENDOR_UNKNOWN, "", ""},
        {"LSISSI", VENDOR_UNKNOWN, "", ""},
        {"CIM_StorageVolume", VENDOR_UNKNOWN, "", ""},
        {"", VENDOR_UNKNOWN, "", ""},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(RKProviderVendor::GetVendorId(r.className), r.vendor) << r.className;
        EXPECT_EQ(RKProviderVendor::GetVendorPrefix(r.vendor), r.prefix) << r.className;
        EXPECT_EQ(RKProviderVendor::GetVendorNameSpace(r.vendor), r.nameSpace) << r.className;
        if (!cim::CIMName::legal(r.className)) continue;
        cim::CIMObjectPath path("", "root/x", cim::CIMName(r.className));
        EXPECT_EQ(RKProviderVendor::GetVendorId(path), r.vendor) << r.className;
        EXPECT_EQ(RKProviderVendor::GetVendorPrefix(path), r.prefix) << r.className;
        EXPECT_EQ(RKProviderVendor::GetVendorNameSpace(path), r.nameSpace) << r.className;
    }
    EXPECT_EQ(RKProviderVendor::GetVendorId(cim::CIMObjectPath()), VENDOR_UNKNOWN);
    for (int v : {0, 3, 4, 5, 6, 14, 15, -1}) {
        EXPECT_EQ(RKProviderVendor::GetVendorPrefix(static_cast<RK_PROVIDER_VENDOR>(v)), "") << v;
        EXPECT_EQ(RKProviderVendor::GetVendorNameSpace(static_cast<RK_PROVIDER_VENDOR>(v)), "")
            << v;
    }
}
