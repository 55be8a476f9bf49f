// Watching of SMI-S jobs started by provider methods.
#pragma once

#include "smis/RkCimUtil.h"

class RkSmisJob : public virtual RkCimUtil {
  public:
    RkSmisJob() = default;
    ~RkSmisJob() override = default;
};
