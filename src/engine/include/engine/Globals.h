// Module-wide objects of the plug-in, constructed at load.
#pragma once

#include <string>

#include "rkso/EvDebug.h"

// Log for lines that have no device at hand.
extern EvDebug o_logger;
// Holds "null"; passed as the PiT outputs of parseUniqueId by callers that do not want them.
extern std::string tempArg;
