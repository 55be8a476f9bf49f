// The subsystem's catch format, for operations that contain provider failures:
//
//   try { ... }
//   catch (...) { RK_TRACE_CAUGHT(*this, fn); conn.DisconnectCimom(); return failure; }
//
// traces "<file>: <line>: Caught CIMException: <status>: <text>" for a CIM error,
// "<file>: <line>: Caught Exception: <text>" for other client and standard
// failures, and "Caught unknown Exception" for anything else.
#pragma once

#include "smis/RkSmisTracer.h"

// Call only inside a catch handler; it never throws.
void RkTraceCaught(const RkSmisTracer& tracer, const char* function, const char* file, int line);

#define RK_TRACE_CAUGHT(tracer, function) RkTraceCaught((tracer), (function), __FILE__, __LINE__)
