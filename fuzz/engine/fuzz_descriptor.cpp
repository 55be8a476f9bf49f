// Input: the rest of a VMware device descriptor after "{idatype:vmware,", read by
// getDevArrayInfo as a host's descriptor would be.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/Identification.h"
#include "rkso/EvDebug.h"
#include "testsupport/FakeOSUtil.h"
#include "testsupport/FakeSnapInfo.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

bool upperHex(const std::string& s) {
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)) && (c < 'A' || c > 'F')) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    EvDebug::setLogFile("off");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string descriptor =
        "{idatype:vmware," + std::string(reinterpret_cast<const char*>(data), size);
    testsupport::FakeSnapInfo info;
    testsupport::FakeOSUtil util;  // no engine record: the array search stops early
    util.setEngineId(54);
    std::string vendor, product, arrayId = "x", lunUuid = "x";
    bool ok = getDevArrayInfo(&util, &info, descriptor.c_str(), vendor, product, arrayId, lunUuid,
                              false, false);
    require(!ok);
    require(vendor.size() <= 8 && product.size() <= 16);
    require(vendor.find('*') == std::string::npos && product.find('*') == std::string::npos);
    require(arrayId.empty());
    require(lunUuid.empty() || (lunUuid.size() == 32 && upperHex(lunUuid)));
    return 0;
}
