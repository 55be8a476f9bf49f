#include "engine/Globals.h"

EvDebug o_logger(nullptr);
std::string tempArg = "null";
