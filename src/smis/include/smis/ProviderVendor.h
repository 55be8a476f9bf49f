// Which vendor's SMI-S provider a class name or object path comes from, and that
// vendor's class prefix and namespace.
#pragma once

#include <string>

#include <cim/CIMObjectPath.h>

enum RK_PROVIDER_VENDOR {
    VENDOR_HPEVA = 1,
    VENDOR_HPXP = 2,
    VENDOR_EMC = 7,
    VENDOR_LSI = 8,
    VENDOR_DELL = 9,
    VENDOR_IBMSVC = 10,
    VENDOR_3PAR = 11,
    VENDOR_FUJITSU = 12,
    VENDOR_NETAPP = 13,
    VENDOR_UNKNOWN = 14,
};

// Pure functions of their argument; callable from any thread.
class RKProviderVendor {
  public:
    // Looks for the vendor's marker anywhere in the text, so a whole object path
    // text works as well as a class name.
    static RK_PROVIDER_VENDOR GetVendorId(std::string className);
    static RK_PROVIDER_VENDOR GetVendorId(const cim::CIMObjectPath& path);

    // Class prefix without the trailing '_'; empty for an unknown vendor.
    static std::string GetVendorPrefix(const cim::CIMObjectPath& path);
    static std::string GetVendorPrefix(RK_PROVIDER_VENDOR vendor);

    // Empty for an unknown vendor.
    static std::string GetVendorNameSpace(const cim::CIMObjectPath& path);
    static std::string GetVendorNameSpace(RK_PROVIDER_VENDOR vendor);

    // Providers of the E-Series family (LSI, DELL- and NETAPP-labelled).
    static bool IsESeries(RK_PROVIDER_VENDOR vendor) {
        return vendor == VENDOR_LSI || vendor == VENDOR_DELL || vendor == VENDOR_NETAPP;
    }
};
