// Which inquiry vendors and products are E-Series arrays: the arrays of the maker
// and their OEM-labelled twins, plus one configurable extra pair.
#pragma once

#include <string>

#include "rkso/SnapInfo.h"

struct OEMEntry {
    const char* vendor;  // null ends the table
    const char* product;
};

// The supported (vendor, product) pairs, in match order; inner spaces are part of
// the products.
extern const OEMEntry OEMEntries[];

// Both non-empty, of the same length and equal after upper-casing.
bool ignoreCaseCompare(std::string a, std::string b);
// Both non-empty and the upper-cased part occurs in the upper-cased text.
bool ignoreCaseFind(std::string text, std::string part);

// True when the inquiry vendor and product belong to a supported array. The extra
// pair comes from "LSI_VENDOR_NAME"/"LSI_PRODUCT_ID" (section "Talon"), else from
// the device's "SMCONFIG_NAME_LSI_OEM_VENDOR_ID"/"SMCONFIG_NAME_LSI_OEM_PRODUCT_ID",
// else "LSI"/"CSM". info may be null.
bool isSuuportedOEM(RKSO::SnapInfo* info, std::string vendor, std::string product);
