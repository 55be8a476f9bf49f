// CIM query helpers of the SMI-S layer. For now: the method return-code texts.
#pragma once

#include <cstdint>
#include <string>

#include "smis/RkSmisTracer.h"

// One row of a method return-code text table; the table ends at the first code 0.
// A text beginning with '*' lists per-method texts: "*Method1:text1,Method2:text2".
struct RkRetCodeText {
    uint32_t code;
    const char* text;
};

class RkCimUtil : public RkSmisTracer {
  public:
    RkCimUtil() = default;
    virtual ~RkCimUtil() = default;

    // Text for an SMI-S method return code, "Error code not found!" when unknown.
    std::string GetErrorMessage(unsigned int code, std::string methodName) const;

    // Not owned; null unless a caller installs one.
    const RkRetCodeText* m_pRetCodeTable = nullptr;
};
