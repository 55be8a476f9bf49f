// Small helpers shared by the E-Series operations; not part of the public API.
#pragma once

#include <string>

#include <cim/CIMObjectPath.h>

#include "rkso/SnapInfo.h"
#include "smis/RkSmisTracer.h"

namespace lsi {

// The class name of path up to, not including, its first "_" ("LSISSI").
std::string ClassPrefix(const cim::CIMObjectPath& path);
// The same for a path's text; empty when the text is not a path.
std::string ClassPrefix(const std::string& pathText);

// Key keyName of path (exact name); empty when it has none.
std::string Key(const cim::CIMObjectPath& path, const std::string& keyName);

// Who reads the configured class prefix: each traces it in its own words.
enum class PrefixReader { SecretCheck, SetArrayPW, PreferredController };

// The class prefix configured for the array ("SMCONFIG_NAME_SMIS_CIM_CLASSNAME_PREFIX"
// of info), replaced by the host's "LSI_OEM_CLASSNAME_PREFIX" when that is set; empty
// when neither is. info may be null.
std::string ConfiguredClassPrefix(const RkSmisTracer& tracer, RKSO::SnapInfo* info,
                                  const char* function, PrefixReader reader);

// Call only inside a catch handler: traces "<line>: Caught CIMException: <status>:
// <text>\n", "<line>: Caught Exception: <text>\n" or "Caught unknown exception\n".
void TraceCaughtLine(const RkSmisTracer& tracer, const char* function, int line);

// Overwrites text with zeros before it is released (passwords and secrets).
void Wipe(std::string& text);

}  // namespace lsi
