// Pieces of the protocol controller lookups shared by the E-Series lookup, the
// other providers' lookups and the mapping wrappers; not part of the public API.
// Like the lookups themselves, they raise provider failures to the caller.
#pragma once

#include <string>
#include <vector>

#include <cim/CIMInstance.h>
#include <cim/CIMObjectPath.h>
#include <cim/Types.h>

class RkCimUtil;
class RkCimConnection;

namespace rkctlr {

// The all-zero group id: the array's default group, which no controller stands for.
inline const char* const kDefaultGroupId = "0000000000000000000000000000000000000000";

// The "CIM_StorageHardwareID" of systemName for port, with "StorageID", "ClusterID"
// and "HostID". A "StorageID" equal to the port (any case) wins; one that merely
// contains it counts only when none is equal, so that a port name that is a prefix
// of another's never finds the other host. Uninitialized when none.
cim::CIMInstance FindHardwareId(RkCimUtil& util, RkCimConnection& conn,
                                const std::string& systemName, const std::string& port,
                                const char* function);

// The class prefix the E-Series lookups expect: the array setting
// "SMCONFIG_NAME_SMIS_CIM_CLASSNAME_PREFIX", replaced by the Talon text
// "LSI_OEM_CLASSNAME_PREFIX" when present, else the prefix of systemPath's class.
std::string ConfiguredClassPrefix(RkCimUtil& util, const cim::CIMObjectPath& systemPath,
                                  const char* function);

// Labels ("ElementName") of the host groups of systemName.
std::vector<std::string> HostGroupLabels(RkCimUtil& util, RkCimConnection& conn,
                                         const cim::CIMObjectPath& systemPath,
                                         const std::string& systemName, const char* function);

// Text of property name of the instance at path; raises what the read raises.
std::string ReadProp(RkCimUtil& util, RkCimConnection& conn, const cim::CIMObjectPath& path,
                     const std::string& name);

// True when the collection's "SystemName" key, or else its "InstanceID" key, names
// systemName.
bool OfSystem(const cim::CIMObjectPath& path, const std::string& systemName);

// The controllers of volumePaths that are also in portControllers (same "DeviceID",
// or the same path when neither has one), once per volume that carries them.
std::vector<cim::CIMObjectPath> ControllersCarrying(
    RkCimUtil& util, RkCimConnection& conn, std::vector<cim::CIMObjectPath>& volumePaths,
    const std::vector<cim::CIMObjectPath>& portControllers, const char* function);

// Adds path to list unless an identical path is there already.
void AppendOnce(std::vector<cim::CIMObjectPath>& list, const cim::CIMObjectPath& path);

// The port variants of the other providers (RkCimUtilCtlrOther.cpp).
std::vector<cim::CIMObjectPath> HpEvaCtlrsByPorts(RkCimUtil& util, RkCimConnection& conn,
                                                  cim::Array<cim::String>& ports);
std::vector<cim::CIMObjectPath> ThreeParCtlrsByPorts(RkCimUtil& util, RkCimConnection& conn,
                                                     const cim::CIMObjectPath& systemPath,
                                                     cim::Array<cim::String>& ports);
std::vector<cim::CIMObjectPath> IbmSvcCtlrsByPorts(RkCimUtil& util, RkCimConnection& conn,
                                                   cim::Array<cim::String>& ports);
std::vector<cim::CIMObjectPath> EternusCtlrsByPorts(RkCimUtil& util, RkCimConnection& conn,
                                                    const cim::CIMObjectPath& systemPath,
                                                    cim::Array<cim::String>& ports);
std::vector<cim::CIMObjectPath> EmcCtlrsByPorts(RkCimUtil& util, RkCimConnection& conn,
                                                const cim::CIMObjectPath& systemPath,
                                                cim::Array<cim::String>& ports);

}  // namespace rkctlr
