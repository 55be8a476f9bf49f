// Error tables: each row connects a provider (vendor) code, this layer's SMI-S code,
// the host error code and the standard text.
#pragma once

#include <cstdint>

namespace RK_SMIS_SNAP {

struct RK_SMIS_ERROR_MAP {
    int32_t vendorErrorCode;  // 0 ends the table
    int32_t smisErrorCode;
    int32_t hostErrorCode;  // -1: never reported to the host
    const char* errorMessage;
};

}  // namespace RK_SMIS_SNAP
