// Input: inquiry data as a device might answer it, read as the standard page, as
// page 0xC8 (as many bytes as arrived) and as page 0x80.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/Inquiry.h"
#include "engine/OemTable.h"
#include "rkso/EvDebug.h"

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
    // Exactly the buffer an inquiry fills, zeroed past what arrived.
    unsigned char page[rkso::kInquiryBytes] = {};
    const int received = static_cast<int>(std::min(size, sizeof page));
    std::memcpy(page, data, static_cast<size_t>(received));

    std::string vendor, product;
    rkso::standardIdentity(page, vendor, product);
    require(vendor.size() <= 8 && product.size() <= 16);
    require(vendor.find('*') == std::string::npos && product.find('*') == std::string::npos);
    require(vendor.empty() || !std::isspace(static_cast<unsigned char>(vendor.back())));
    isSuuportedOEM(nullptr, vendor, product);

    std::string arrayId, lunUuid;
    if (rkso::arrayPageIdentity(page, received, arrayId, lunUuid)) {
        require(arrayId.size() == 32 && upperHex(arrayId));
        require(lunUuid.size() == 32 && upperHex(lunUuid));
    } else {
        require(received < 106 && arrayId.empty() && lunUuid.empty());
    }

    const std::string serial = rkso::serialFromPage(page);
    require(serial.size() <= std::min<size_t>(page[3], 251));
    require(serial.find('*') == std::string::npos);
    return 0;
}
