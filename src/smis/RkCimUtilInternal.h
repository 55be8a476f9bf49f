// Helpers shared by the RkCimUtil sources; not part of the public API.
#pragma once

#include <cstring>
#include <string>

#include <cim/CIMObjectPath.h>
#include <cim/Exception.h>

#include "smis/RkCimConnection.h"
#include "smis/RkSmisTracer.h"

namespace rkcimutil {

// Source file name without its directories, for failure traces.
inline const char* BaseName(const char* file) {
    const char* slash = std::strrchr(file, '/');
    return slash ? slash + 1 : file;
}

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Value of the first key named name (exact), or empty.
inline std::string KeyValue(const cim::CIMObjectPath& path, const std::string& name) {
    for (const cim::CIMKeyBinding& k : path.getKeyBindings())
        if (k.getName().getString() == name) return k.getValue();
    return std::string();
}

// The system an object belongs to: its "SystemName" key, else its "InstanceID" key
// (objects keyed by InstanceID carry the system id in it).
inline std::string SystemNameOf(const cim::CIMObjectPath& path) {
    for (const cim::CIMKeyBinding& k : path.getKeyBindings())
        if (k.getName().getString() == "SystemName") return k.getValue();
    return KeyValue(path, "InstanceID");
}

// Paths from enumerations come without a namespace; ours carry the connection's.
inline cim::CIMObjectPath InNamespace(cim::CIMObjectPath path, const std::string& nameSpace) {
    if (path.getNameSpace().isNull() && !nameSpace.empty()) path.setNameSpace(nameSpace);
    return path;
}

// The message of a CIMException starts with the status name; the trace names it once.
inline void TraceCimException(const RkSmisTracer& tracer, const char* function, const char* file,
                              int line, const cim::CIMException& e) {
    tracer.DEBUG_TRACE(function, "%s: %d: Caught CIMException: %s: %s", BaseName(file), line,
                       cim::cimStatusCodeToString(e.getCode()), e.getDescription().c_str());
}

inline void TraceException(const RkSmisTracer& tracer, const char* function, const char* file,
                           int line, const cim::Exception& e) {
    tracer.DEBUG_TRACE(function, "%s: %d: Caught Exception: %s", BaseName(file), line,
                       e.getMessage().c_str());
}

inline bool IsNotFound(const cim::CIMException& e) {
    return e.getCode() == cim::CIM_ERR_NOT_FOUND;
}

// The reads answer empty once the credentials were rejected: a lookup calls this
// after reading, so that such an answer never passes for "none".
inline void ThrowIfAuthFailed(const RkCimConnection& conn) {
    if (conn.AuthFailed()) throw RkCimAuthFailedException();
}

}  // namespace rkcimutil

// The catch blocks of the lookups (members of RkCimUtil): every one marks the
// lookup as failed, so that a caller never takes its result for "none".

// Traces a failure that is not a CIM error under function and raises it again.
#define RKCIMUTIL_TRACE_OTHERS_AND_RETHROW(function)                       \
    catch (const cim::Exception& e) {                                      \
        SetLookupFailed();                                                 \
        rkcimutil::TraceException(*this, function, __FILE__, __LINE__, e); \
        throw;                                                             \
    }                                                                      \
    catch (...) {                                                          \
        SetLookupFailed();                                                 \
        DEBUG_TRACE(function, "Caught unknown Exception");                 \
        throw;                                                             \
    }

// Traces the failure under function and raises it again.
#define RKCIMUTIL_TRACE_AND_RETHROW(function)                                 \
    catch (const cim::CIMException& e) {                                      \
        SetLookupFailed();                                                    \
        rkcimutil::TraceCimException(*this, function, __FILE__, __LINE__, e); \
        throw;                                                                \
    }                                                                         \
    RKCIMUTIL_TRACE_OTHERS_AND_RETHROW(function)

// Traces the failure under function and gives result.
#define RKCIMUTIL_TRACE_AND_RETURN(function, result)                          \
    catch (const cim::CIMException& e) {                                      \
        SetLookupFailed();                                                    \
        rkcimutil::TraceCimException(*this, function, __FILE__, __LINE__, e); \
        return result;                                                        \
    }                                                                         \
    catch (const cim::Exception& e) {                                         \
        SetLookupFailed();                                                    \
        rkcimutil::TraceException(*this, function, __FILE__, __LINE__, e);    \
        return result;                                                        \
    }                                                                         \
    catch (...) {                                                             \
        SetLookupFailed();                                                    \
        DEBUG_TRACE(function, "Caught unknown Exception");                    \
        return result;                                                        \
    }
