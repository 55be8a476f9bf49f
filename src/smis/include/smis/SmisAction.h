// Wrappers of the SMI-S methods used by the snapshot operations, and the small
// helpers every wrapper shares (argument tests, the throw-away-call setting,
// the method call itself and the dump of what was sent).
//
// Wrappers take positional string arguments or a name-to-text map; an argument
// that contains "null" counts as absent. They return the provider's method
// return value (0 success, 4096 job started) or an SMI-S layer code, and never
// let an exception escape.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <cim/CIMName.h>
#include <cim/CIMObjectPath.h>
#include <cim/CIMParamValue.h>
#include <cim/CIMValue.h>
#include <cim/Types.h>

#include "smis/RkCimConnection.h"
#include "smis/RkCriticalSection.h"
#include "smis/RkSmisJob.h"

class SmisAction : public RkSmisJob {
  public:
    SmisAction() = default;
    ~SmisAction() override = default;
    SmisAction(const SmisAction&) = default;
    SmisAction& operator=(const SmisAction&) = default;

    uint16_t GetOpType() const { return m_OpType; }

    // --- Mapping (SmisMapping.cpp) ---
    unsigned int ExposePaths(RkCimConnection& conn, std::vector<std::string>& args);
    unsigned int HidePaths(RkCimConnection& conn, std::vector<std::string>& args);

    // --- Mapping checks (SnapshotMapCheck.cpp) ---
    unsigned int IsLunMapped(RkCimConnection& conn, std::vector<std::string>& args);

    // --- Replica creation (SmisReplica.cpp) ---
    bool ValidateCreateReplica(RkCimConnection& conn, std::vector<std::string>& args,
                               cim::CIMObjectPath& service);
    bool PrepareCreateReplica(RkCimConnection& conn, std::vector<std::string>& args,
                              std::vector<std::string>& results);
    unsigned int CreateReplica(RkCimConnection& conn, std::vector<std::string>& args,
                               std::string& targetPath);
    unsigned int IsCopyTypeSupported(RkCimConnection& conn, std::vector<std::string>& args);

    // --- Clone volumes (SmisClone.cpp) ---
    unsigned int CreateStorageVolParams(RkCimConnection& conn, std::vector<std::string>& args,
                                        std::string source, std::vector<std::string>& volArgs);
    unsigned int CreateStorageVolume(RkCimConnection& conn, std::vector<std::string>& volArgs,
                                     std::string& newVolumePath);
    unsigned int AttachModRep(RkCimConnection& conn, std::vector<std::string>& args,
                              std::string& syncPath);

    // --- Synchronization control and deletion (SmisSync.cpp) ---
    unsigned int ModifySync(RkCimConnection& conn, std::vector<std::string>& args, bool noWait);
    unsigned int ReSync(RkCimConnection& conn, const cim::CIMNamespaceName& ns,
                        const cim::CIMObjectPath& service,
                        const cim::Array<cim::CIMParamValue>& inParams);
    unsigned int DetachVol(RkCimConnection& conn, std::vector<std::string>& args);
    unsigned int DeleteVol(RkCimConnection& conn, std::vector<std::string>& args);

    // --- PiTs (SmisPiTCreate.cpp) ---
    unsigned int CreateSynchronizationAspect(RkCimConnection connection,
                                             std::map<std::string, std::string>& params,
                                             cim::Array<cim::CIMParamValue>& outParams);

    // --- PiT views (SmisPiTView.cpp) ---
    // Takes the caller's connection itself, so that a reconnect on a retried read
    // leaves the caller connected.
    unsigned int ModifySettingDefineState(RkCimConnection& connection,
                                          std::map<std::string, std::string>& params,
                                          cim::Array<cim::CIMParamValue>& outParams);
    unsigned int ModifyReplicaSynchronization(RkCimConnection& connection,
                                              std::vector<std::string>& args, bool noWait);

    // --- Shared by every wrapper and operation (SmisAction.cpp) ---

    // True when the Talon number "RK_PEGASUS_FAULT_RETRY" is set and non-zero: each
    // provider method that may meet a flaky provider is then preceded by one
    // throw-away call with one argument made invalid.
    static bool FaultRetryEnabled();

    // Argument i is given: inside the list and not containing "null".
    static bool ArgPresent(const std::vector<std::string>& args, size_t i);
    // Map entry key is given: present and not containing "null".
    static bool EntryPresent(const std::map<std::string, std::string>& params,
                             const std::string& key);

    // Parses text as an instance path into path. False (path untouched) when the parse
    // fails with "malformed" or gives a path without keys (a bare word such as a group's
    // ElementName): the text is then a name (UUID, ElementName) to look up. Other
    // failures are raised.
    static bool ParsePathOrName(const std::string& text, cim::CIMObjectPath& path);

    // Invokes method on target in the connection's namespace through its client and
    // returns the return value. Traces the in-parameters first (never a "Secret"
    // value). Raises what the client raises; NotConnectedException when the
    // connection is not open.
    cim::CIMValue InvokeMethod(RkCimConnection& conn, const cim::CIMObjectPath& target,
                               const std::string& method,
                               const cim::Array<cim::CIMParamValue>& inParams,
                               cim::Array<cim::CIMParamValue>& outParams);

    // One detailed line per in-parameter: name, type and value ("NULL" for a null,
    // "****" for a "Secret").
    void DumpInParams(const char* function, const cim::Array<cim::CIMParamValue>& inParams) const;

    // Serialises the creation calls of E-Series providers (CreateReplica,
    // CreateStorageVolume, AttachModRep) across the process; held only around the
    // method call and its return-value trace.
    static RkCriticalSection m_Lock;

  protected:
    uint16_t m_OpType = 0;

  private:
    // A mapping method's answer 4096 becomes its job's outcome: 0 completed, 1 not;
    // other answers pass through. (SmisMapping.cpp)
    unsigned int Settled(unsigned int result, RkCimConnection& conn,
                         cim::Array<cim::CIMParamValue>& outParams, const char* fn);
    // HPEVA: the allocation-policy setting for a new replica of source; an empty
    // path for none. (SmisReplica.cpp)
    cim::CIMObjectPath ChooseHpevaAllocation(RkCimConnection& conn,
                                             const cim::CIMObjectPath& source, int copyType);
};
