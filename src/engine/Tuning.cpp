#include "engine/Tuning.h"

#include "rkso/RKPlatformInfo.h"

int GetRegInt(const char* subSection, const char* name, int* value) {
    if (!name || !value) return 0;
    std::string section = "~Talon";
    if (subSection && *subSection) section += std::string("/") + subSection;
    return RKPlatformInfo().getRegInt(section.c_str(), name, value);
}

namespace rkso {

bool getTalonString(const char* name, std::string& value) {
    if (!name) return false;
    std::string read;
    if (!RKPlatformInfo().getString("Talon", name, &read)) return false;
    value = read;
    return true;
}

}  // namespace rkso
