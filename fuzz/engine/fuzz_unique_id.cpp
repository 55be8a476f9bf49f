// Input: one flag byte (bit 0: the device uses the PiT engine, bit 1: the caller
// wants the PiT fields), then the identifier text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/Globals.h"
#include "engine/UniqueId.h"
#include "rkso/EvDebug.h"
#include "testsupport/FakeSnapInfo.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

std::string join(const std::string* f, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) {
        if (i) out += '*';
        out += f[i];
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    EvDebug::setLogFile("off");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool pitEngine = data[0] & 1;
    const bool wantPit = data[0] & 2;
    std::string raw(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string text = raw.c_str();  // what a C caller sees

    testsupport::FakeSnapInfo dev;
    dev.setArrayInfoText(pitEngine ? "{engineId:54}" : "{engineId:4}");
    std::string f[10];
    f[8] = wantPit ? "<unset9>" : "null";
    f[9] = "<unset10>";
    bool ok = parseUniqueId(&dev, raw.c_str(), f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8],
                            f[9]);
    const bool pit = pitEngine && wantPit;
    if (ok) {
        // The fields put back together give the text again.
        if (!pit) {
            require(join(f, 8) == text);
            require(f[8] == (wantPit ? "<unset9>" : "null") && f[9] == "<unset10>");
        } else if (f[9] == "<unset10>" && join(f, 9) == text) {
            // eight separators
        } else {
            require(join(f, 10) == text);
        }
        // Writing the parsed fields and parsing again is stable when the writer accepts them.
        SnapUniqueIdFields fields{f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9]};
        std::string again, error;
        if (formatSnapUniqueId(fields, pit, &again, &error)) {
            std::string g[10];
            g[8] = pit ? "want" : "null";
            require(parseUniqueId(&dev, again.c_str(), g[0], g[1], g[2], g[3], g[4], g[5], g[6],
                                  g[7], g[8], g[9]) == true);
            for (int i = 0; i < 8; ++i) require(g[i] == f[i]);
        }
    }
    require(tempArg == "null");

    // The readers that fetch the identifier from the host.
    dev.setMetaDataText(1, text);
    (void)getStorageArrayId(&dev);
    (void)getSnapDeviceUUID(&dev);
    return 0;
}
