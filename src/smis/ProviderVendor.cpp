#include "smis/ProviderVendor.h"

namespace {

struct PrefixRow {
    const char* prefix;
    RK_PROVIDER_VENDOR vendor;
};

constexpr int kVendorRows = 9;

const PrefixRow kPrefixes[kVendorRows] = {
    {"HPEVA", VENDOR_HPEVA}, {"HPXP", VENDOR_HPXP},       {"EMC", VENDOR_EMC},
    {"LSISSI", VENDOR_LSI},  {"DCIM", VENDOR_DELL},       {"IBMTSSVC", VENDOR_IBMSVC},
    {"3PAR", VENDOR_3PAR},   {"FUJITSU", VENDOR_FUJITSU}, {"NETAPP", VENDOR_NETAPP},
};

// Same row order as kPrefixes.
const char* const kNameSpaces[kVendorRows] = {
    "root/eva", "root/xp",  "root/emc",     "root/LsiArray13",        "root/DCIM/MDStorageArray13",
    "root/ibm", "root/tpd", "root/eternus", "root/netapp/santricity",
};

// Test order matters: the first marker found anywhere in the text wins.
const PrefixRow kMarkers[] = {
    {"HPEVA_", VENDOR_HPEVA}, {"HPXP_", VENDOR_HPXP},       {"LSISSI_", VENDOR_LSI},
    {"DCIM_", VENDOR_DELL},   {"IBMTSSVC_", VENDOR_IBMSVC}, {"3PAR_", VENDOR_3PAR},
    {"TPD_", VENDOR_3PAR},    {"FUJITSU_", VENDOR_FUJITSU}, {"Symm_", VENDOR_EMC},
    {"SE_", VENDOR_EMC},      {"NETAPP_", VENDOR_NETAPP},
};

}  // namespace

RK_PROVIDER_VENDOR RKProviderVendor::GetVendorId(std::string className) {
    for (const PrefixRow& m : kMarkers)
        if (className.find(m.prefix) != std::string::npos) return m.vendor;
    return VENDOR_UNKNOWN;
}

RK_PROVIDER_VENDOR RKProviderVendor::GetVendorId(const cim::CIMObjectPath& path) {
    return GetVendorId(path.getClassName().getString());
}

std::string RKProviderVendor::GetVendorPrefix(const cim::CIMObjectPath& path) {
    return GetVendorPrefix(GetVendorId(path));
}

std::string RKProviderVendor::GetVendorPrefix(RK_PROVIDER_VENDOR vendor) {
    for (const PrefixRow& row : kPrefixes)
        if (row.vendor == vendor) return row.prefix;
    return std::string();
}

std::string RKProviderVendor::GetVendorNameSpace(const cim::CIMObjectPath& path) {
    return GetVendorNameSpace(GetVendorId(path));
}

std::string RKProviderVendor::GetVendorNameSpace(RK_PROVIDER_VENDOR vendor) {
    for (int i = 0; i < kVendorRows; ++i)
        if (kPrefixes[i].vendor == vendor) return kNameSpaces[i];
    return std::string();
}
