#include "smis/RkCimom.h"

#include <limits>

#include "rkso/RKPlatformInfo.h"

namespace {

unsigned long TalonNumber(const char* key) {
    unsigned long value = 0;
    RKPlatformInfo info;
    if (!info.getNumber("Talon", key, &value)) return 0;
    return value;
}

// The configured time-out, never below the floor and clipped to what the field holds.
uint16_t ConfiguredTimeoutSecs() {
    unsigned long secs = TalonNumber("RK_SMIS_CLIENT_TIMEOUT_IN_SEC");
    if (secs < kRkCimMinTimeoutSecs) return kRkCimMinTimeoutSecs;
    if (secs > std::numeric_limits<uint16_t>::max()) return std::numeric_limits<uint16_t>::max();
    return static_cast<uint16_t>(secs);
}

}  // namespace

RkCimomParams::RkCimomParams() {
    GetTimeoutSecs();
}

void RkCimomParams::GetTimeoutSecs() {
    timeoutSecs = ConfiguredTimeoutSecs();
}

RkCimom::RkCimom() {
    InitCimom();
}

void RkCimom::InitCimom() {
    m_Port = "5988";
    m_Version = "1.3";
    m_UseSSL = false;
    m_ConnState = RK_CIM_NOT_CONNECTED;
    m_MaxRetries = TalonNumber("RK_PEGASUS_FAULT_RETRY") != 0 ? 15 : 5;
    m_TimeoutSecs = ConfiguredTimeoutSecs();
}

void RkCimom::SetCimom(RkCimomParams& params) {
    m_Name = params.name;
    m_Address = params.address;
    m_NameSpace = params.nameSpace;
    m_UserName = params.userName;
    m_Password = params.password;
    if (params.port > 0 && params.port <= 65535) m_Port = std::to_string(params.port);
    m_TimeoutSecs = params.timeoutSecs;
    m_MaxRetries = params.maxRetries;
    m_UseSSL = params.useSSL;
}
