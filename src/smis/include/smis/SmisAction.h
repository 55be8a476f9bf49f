// Wrappers of the SMI-S methods used by the snapshot operations.
#pragma once

#include <cstdint>

#include "smis/RkSmisJob.h"

class SmisAction : public RkSmisJob {
  public:
    SmisAction() = default;
    ~SmisAction() override = default;

    uint16_t GetOpType() const { return m_OpType; }

  protected:
    uint16_t m_OpType = 0;
};
