// Generated benchmark data: storage volumes shaped like the ones an E-Series provider (and
// our simulator) reports, and the CIM-XML answers that carry them.
#pragma once

#include <string>

#include <cim/CIMInstance.h>
#include <cim/CIMObjectPath.h>

namespace benchdata {

inline const char* const kNameSpace = "root/LsiArray13";
inline const char* const kVolumeClass = "LSISSI_StorageVolume";

// The UUID of volume n: 32 upper-case hex digits of NAA type 6.
std::string volumeUuid(int n);
cim::CIMObjectPath volumePath(int n);
// The four keys and the twelve properties of a volume.
cim::CIMInstance volume(int n);

// Complete answers (message ID "@@ID@@") to EnumerateInstances and EnumerateInstanceNames
// of `count` volumes.
std::string enumerateInstancesBody(int count);
std::string enumerateInstanceNamesBody(int count);

// An answer to EnumerateInstances of small instances (one key, three properties) of about
// `bytes` bytes; count receives how many it holds.
std::string smallInstancesBody(std::size_t bytes, long& count);

// The message ID placeholder of the bodies above.
inline const char* const kIdPlaceholder = "@@ID@@";

}  // namespace benchdata
