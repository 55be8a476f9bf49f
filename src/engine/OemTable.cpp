#include "engine/OemTable.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "engine/DeviceLog.h"
#include "engine/EngineCommon.h"
#include "engine/Tuning.h"

const OEMEntry OEMEntries[] = {
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
    {nullptr, nullptr},
};

namespace {

const char* const kOemTableTag = "RkSnapLSI::isSuuportedOEM";
// Inquiry products hold 16 bytes; a longer text is looked at no further than this.
constexpr size_t kProductCompareBytes = 32;

// Rule 3: the row's product is a prefix of the device's, where the row's '-' and
// '_' also stand for a space.
bool productStartsLike(const std::string& device, const char* row) {
    const std::string head = device.substr(0, std::min(device.size(), kProductCompareBytes));
    size_t i = 0;
    for (; row[i] != '\0'; ++i) {
        if (i >= head.size()) return false;
        const char want = row[i];
        const char got = head[i];
        if (got == want) continue;
        if ((want == '-' || want == '_') && got == ' ') continue;
        return false;
    }
    return i > 0;
}

// The extra supported vendor or product: tuning value, then the device's snap
// configuration, then the built-in default.
std::string extraValue(RKSO::SnapInfo* info, const char* what, const char* tuningKey,
                       const char* configKey, const char* fallback) {
    std::string value;
    if (rkso::getTalonString(tuningKey, value) && !value.empty()) {
        rkso::logDevice(info, kOemTableTag, 1, 1, "%s ID [%s] read from regkey %s", what,
                        value.c_str(), tuningKey);
        return value;
    }
    if (!info) {
        rkso::logDevice(nullptr, kOemTableTag, 1, 1,
                        " Could not get array Config [%s] as NULL device passed", configKey);
        return fallback;
    }
    std::vector<char> buf(RKSO::CONFIG_STRING_BUFFER_SIZE + 1, '\0');
    int len = RKSO::CONFIG_STRING_BUFFER_SIZE;
    info->getConfigString(configKey, buf.data(), &len);
    buf.back() = '\0';
    value = buf.data();
    if (value.empty()) return fallback;
    rkso::logDevice(info, kOemTableTag, 1, 1, " Array Config [%s:%s]", configKey, value.c_str());
    return value;
}

}  // namespace

bool ignoreCaseCompare(std::string a, std::string b) {
    return !a.empty() && !b.empty() && a.size() == b.size() && upperCase(a) == upperCase(b);
}

bool ignoreCaseFind(std::string text, std::string part) {
    return !text.empty() && !part.empty() &&
           upperCase(text).find(upperCase(part)) != std::string::npos;
}

bool isSuuportedOEM(RKSO::SnapInfo* info, std::string vendor, std::string product) {
    const std::string extraVendor =
        extraValue(info, "Vendor", "LSI_VENDOR_NAME", "SMCONFIG_NAME_LSI_OEM_VENDOR_ID", "LSI");
    const std::string extraProduct =
        extraValue(info, "Product", "LSI_PRODUCT_ID", "SMCONFIG_NAME_LSI_OEM_PRODUCT_ID", "CSM");
    // Rule 2 holds for every row alike: the extra pair contains the device's values.
    if (ignoreCaseFind(extraVendor, vendor) && ignoreCaseFind(extraProduct, product)) return true;
    for (const OEMEntry* row = OEMEntries; row->vendor; ++row) {
        if (!ignoreCaseCompare(vendor, row->vendor)) continue;
        if (ignoreCaseCompare(product, row->product)) return true;  // rule 1
        if (productStartsLike(product, row->product)) return true;  // rule 3
    }
    return false;
}
