// CIM-XML requests run against the simulated array itself: every method (and
// intrinsic operation) on an array with PiTs, views, consistency groups and legacy
// snapshots, back to its start for each input. Nothing may crash, and no answer's
// error text or method output may hold the array's password or the provider's secret.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <cim/xml/Codec.h>

#include "SimArrays.h"
#include "sim/Provider.h"

namespace {

constexpr const char* kArrayPassword = "Fz-Array-Pw-3141";
constexpr const char* kSecret = "Fz-Secret-2718";

struct Target {
    int64_t now = 1700000000000;
    std::unique_ptr<sim::Provider> provider;
    Target() {
        sim::Config c = simtest::everyMethodArray();
        c.arrays[0].password = kArrayPassword;
        c.arrays[0].providerSecret = kArrayPassword;
        c.jobs.durationMs = 10;
        provider = std::make_unique<sim::Provider>(c, [this] { return now; });
    }
};

bool holds(const std::string& text, const char* secret) {
    return text.find(secret) != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Target target;
    const std::string input(reinterpret_cast<const char*>(data), size);
    cim::xml::Limits limits;
    limits.maxBytes = 1 << 20;
    cim::xml::Request request;
    try {
        request = cim::xml::decodeRequest(input, limits);
    } catch (const cim::Exception&) {
        return 0;
    }
    sim::Provider& p = *target.provider;
    p.reset();
    // The second round sees a job the first one started finish.
    for (int round = 0; round < 2; ++round) {
        cim::xml::Response response = p.handle(request);
        if (!holds(input, kArrayPassword) && !holds(input, kSecret)) {
            std::string text = response.errorDescription;
            if (!response.intrinsic) text += cim::xml::encodeResponse(response);
            if (holds(text, kArrayPassword) || holds(text, kSecret)) __builtin_trap();
        }
        target.now += 20;
    }
    return 0;
}
