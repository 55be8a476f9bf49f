#include "engine/EngineCommon.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "engine/Globals.h"
#include "engine/HostBuffer.h"
#include "engine/ItemText.h"

void setError(RKSO::SnapInfo* info, int code, const char* msg) {
    if (!info || !msg) return;
    int recorded = 0;
    info->getErrorInfo(&recorded, nullptr, nullptr);
    if (recorded != 0) return;
    info->logMessage(2, msg);
    info->setErrorInfo(code, msg);
}

short getSnapEngineType(RKSO::SnapInfo* info) {
    if (!info) return 0;
    rkso::HostText record =
        rkso::readSizedText(RKSO::ARRAY_INFO_BUFFER_SIZE,
                            [info](char* buf, short* len) { return info->getArrayInfo(buf, len); });
    std::string value;
    if (!parseJsonString(info, record.text, "engineId", value)) return 0;
    // Like atoi, the leading number counts; one that does not fit a short is no engine.
    errno = 0;
    long type = std::strtol(value.c_str(), nullptr, 10);
    if (errno == ERANGE || type < -32768 || type > 32767) return 0;
    return static_cast<short>(type);
}

namespace rkso {

int resultFromSuccesses(int successes, int total) {
    if (successes >= total) return 0;
    if (successes <= 0) return 1;
    return 2;
}

bool checkDevices(const char* tag, RKSO::SnapInfo** devices, short count) {
    if (count < 1) {
        o_logger.DebugLvl(tag, -1, "No device passed for SNAP operation");
        return false;
    }
    if (!devices) {
        o_logger.DebugLvl(tag, 2, "Null device list passed for SNAP operation");
        return false;
    }
    for (short i = 0; i < count; ++i) {
        if (!devices[i]) {
            o_logger.DebugLvl(tag, 2, "Device entry [%d] of [%d] is null; nothing done", i, count);
            return false;
        }
    }
    return true;
}

}  // namespace rkso

std::string upperCase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string lowerCase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
