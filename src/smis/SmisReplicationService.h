// The array's replication service, for the PiT and view wrappers; not part of the
// public API.
#pragma once

#include <cstdlib>
#include <string>

#include <cim/CIMObjectPath.h>

#include "RkCimUtilInternal.h"
#include "smis/RkCimConnection.h"
#include "smis/RkCimUtil.h"

namespace smisaction {

// The first "SNIA_ReplicationService" whose "SystemName" contains systemName, traced
// as ValidateSystemName does; empty when there is none. Unlike ValidateSystemName it
// raises provider failures, so that an outage is never taken for a missing service.
inline cim::CIMObjectPath ReplicationService(RkCimUtil& util, RkCimConnection& conn,
                                             const std::string& systemName, const char* fn) {
    const char* const cls = "SNIA_ReplicationService";
    for (const cim::CIMObjectPath& p : conn.GetInstanceNames(cls))
        if (rkcimutil::Contains(rkcimutil::KeyValue(p, "SystemName"), systemName)) {
            cim::CIMObjectPath service = rkcimutil::InNamespace(p, conn.GetNameSpace());
            util.DEBUG_TRACE(fn, "ObjectPath:  %s", service.toString().c_str());
            return service;
        }
    util.DEBUG_TRACE(fn, "Class %s for system %s not found", cls, systemName.c_str());
    return cim::CIMObjectPath();
}

// Class prefix of a path's class: the text before its first '_'.
inline std::string PrefixOf(const cim::CIMObjectPath& path) {
    const std::string& cls = path.getClassName().getString();
    return cls.substr(0, cls.find('_'));
}

// A whole decimal number that fits 16 bits.
inline bool ReadUint16(const std::string& text, cim::Uint16& value) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long n = std::strtoul(text.c_str(), nullptr, 10);
    if (n > 0xFFFF) return false;
    value = static_cast<cim::Uint16>(n);
    return true;
}

}  // namespace smisaction
