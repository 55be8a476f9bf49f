#include "smis/RkCaught.h"

#include <cstring>
#include <exception>

#include <cim/Exception.h>

namespace {

const char* BaseName(const char* file) {
    if (!file) return "";
    const char* slash = std::strrchr(file, '/');
    return slash ? slash + 1 : file;
}

}  // namespace

void RkTraceCaught(const RkSmisTracer& tracer, const char* function, const char* file, int line) {
    try {
        throw;
    } catch (const cim::CIMException& e) {
        // The message starts with the status name; it is traced once.
        tracer.DEBUG_TRACE(function, "%s: %d: Caught CIMException: %s: %s", BaseName(file), line,
                           cim::cimStatusCodeToString(e.getCode()), e.getDescription().c_str());
    } catch (const cim::Exception& e) {
        tracer.DEBUG_TRACE(function, "%s: %d: Caught Exception: %s", BaseName(file), line,
                           e.getMessage().c_str());
    } catch (const std::exception& e) {
        tracer.DEBUG_TRACE(function, "%s: %d: Caught Exception: %s", BaseName(file), line,
                           e.what());
    } catch (...) {
        tracer.DEBUG_TRACE(function, "Caught unknown Exception");
    }
}
