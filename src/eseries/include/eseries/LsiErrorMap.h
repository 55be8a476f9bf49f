// Error table of the E-Series SMI-S provider (16 rows, the last one ends it).
#pragma once

#include "smis/ErrorMap.h"

constexpr int kLsiSmisRkErrorMapRows = 16;
extern const RK_SMIS_SNAP::RK_SMIS_ERROR_MAP LsiSmisRkErrorMap[kLsiSmisRkErrorMapRows];
