// The fabric reader of the simulated device trees: any answer body, then the
// inquiries its devices would answer. The first byte picks whether controller
// paths become devices.
#include <cstdint>
#include <cstring>
#include <string>

#include "FabricView.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool withPaths = data[0] & 1;
    std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
    rkhost::FabricView view;
    std::string error;
    if (!rkhost::parseFabricView(body, withPaths, &view, &error)) {
        if (error.empty()) __builtin_trap();
        return 0;
    }
    static const unsigned char cdbs[][6] = {{0x12, 0, 0, 0, 0xFF, 0},
                                            {0x12, 1, 0xC8, 0, 0xFF, 0},
                                            {0x12, 1, 0x80, 0x01, 0x00, 0},
                                            {0x12, 1, 0x83, 0, 0xFF, 0},
                                            {0x00, 0, 0, 0, 0, 0}};
    for (const auto& entry : view.devices) {
        if (entry.second.lun >= view.luns.size()) __builtin_trap();
        const rkhost::FabricLun& lun = view.luns[entry.second.lun];
        for (const auto& cdb : cdbs) {
            unsigned char buf[255];
            unsigned char sense[32];
            int n = rkhost::answerInquiry(lun, entry.second.path, cdb, 6, buf, sizeof buf, sense,
                                          &error);
            if (n > static_cast<int>(sizeof buf)) __builtin_trap();
        }
    }
    return 0;
}
