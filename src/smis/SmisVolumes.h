// Volume arguments of the older-engine wrappers: a volume named by object path or
// by UUID, and whether the provider still has it. "Gone" is an answer only when
// the provider said so; an outage or a rejected login leaves it unknown.
#pragma once

#include <string>

#include <cim/CIMObjectPath.h>

#include "smis/RkCimConnection.h"
#include "smis/RkCimUtil.h"

namespace smisvol {

enum class Presence { Present, Gone, Unknown };

// The volume whose "Name" is uuid on systemName, through the volume cache; Gone only
// when the volume list was read and holds no such volume. Never raises.
Presence FindByName(RkCimUtil& util, RkCimConnection& conn, const std::string& systemName,
                    const std::string& uuid, cim::CIMObjectPath& path);

// Reads the volume at path: Gone only on CIM_ERR_NOT_FOUND; any other failure (traced
// under function) and a rejected login give Unknown. name and elementName, when
// given, receive the volume's "Name" and "ElementName".
Presence Read(RkCimUtil& util, RkCimConnection& conn, const cim::CIMObjectPath& path,
              const char* function, std::string* name = nullptr,
              std::string* elementName = nullptr);

// text as a volume: Present with path set, Gone, or Unknown. A path is read to see
// that the volume is still there (cached and stored paths may be stale); a UUID is
// looked up, then read the same way. Traces under function; raises lookup failures.
Presence Locate(RkCimUtil& util, RkCimConnection& conn, const std::string& systemName,
                const std::string& text, const char* function, cim::CIMObjectPath& path);

}  // namespace smisvol
