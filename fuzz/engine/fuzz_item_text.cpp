// Input: the item name, a NUL byte, then the item text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/ItemText.h"
#include "rkso/EvDebug.h"
#include "testsupport/FakeSnapInfo.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    EvDebug::setLogFile("off");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const void* nul = std::memchr(bytes, '\0', size);
    if (!nul) return 0;
    size_t itemLen = static_cast<size_t>(static_cast<const char*>(nul) - bytes);
    std::string item(bytes, itemLen);
    std::string text(bytes + itemLen + 1, size - itemLen - 1);

    testsupport::FakeSnapInfo dev;
    std::string value = "<unset>";
    bool ok = parseJsonString(&dev, text, item, value);
    if (ok) {
        require(value.size() <= kMaxItemValueChars);
        require(text.find(value) != std::string::npos);
        if (rkso::isSecretItemName(item)) require(dev.logLines().empty());
    } else {
        require(value == "<unset>");
    }
    std::string again;
    require(parseJsonString(nullptr, text, item, again) == ok);
    if (ok) require(again == value);

    // Masking never grows a secret back into the text.
    std::string masked = rkso::maskSecretItems(text);
    require(masked.size() <= text.size() + 4 * (text.size() + 1));
    return 0;
}
