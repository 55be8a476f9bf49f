// The E-Series snapshot object: the generic snapshot with the E-Series error table,
// the point-in-time (PiT) operations, consistency groups, the shared secret and
// controller ownership, and the helpers that adapt stored paths to the provider in use.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "eseries/LSICimUtil.h"
#include "rkso/SnapInfo.h"
#include "smis/Snapshot.h"

class LSISnapshot : public RK_SMIS_SNAP::Snapshot {
  public:
    LSISnapshot();
    ~LSISnapshot() override = default;
    LSISnapshot(const LSISnapshot&) = default;
    LSISnapshot& operator=(const LSISnapshot&) = default;

    void SetLSIErrorTable(const RK_SMIS_SNAP::RK_SMIS_ERROR_MAP* table) { m_ErrorTable = table; }

    int GetCapability() const { return m_Capability; }
    void SetCapability(int capability) { m_Capability = capability; }

    // --- Class prefix and namespace (LSIClassPrefix.cpp) ---

    // The class prefix in effect, without its "_"; "" on failure. Rewrites the four
    // paths (replication service, source volume, target pool, target volume; empty =
    // absent) and their members to the configured prefix and the endpoint's namespace.
    std::string replaceClassPrefix(std::string& path1, std::string& path2, std::string& path3,
                                   std::string& path4);
    // True when the lookup ran (nameSpace may be empty); false on a connection
    // failure or a provider failure.
    bool GetNamespaceFromInterop(std::string& nameSpace, bool fromServicePath);
    // Property propRequested of the instance of className whose propName equals
    // propValue; "" on any failure.
    std::string GetObjPropStrByName(std::string className, std::string propName,
                                    std::string propValue, std::string propRequested);

    // --- PiT groups and PiTs (LSIPiT.cpp) ---

    int PreparePiT();      // 1 prepared, 2 failed
    int CreatePiTGroup();  // 0 made or present, 1 job failed, 5 label too long, -1, codes
    int CreatePiT();       // 5 created, 6 failed

    // --- PiT views (LSIPiTView.cpp) ---

    int ModifyPiT(unsigned short operation);       // 5 / 6, or 22 / 23 for 32768
    int GetTargetPiTView(std::string& cgPiTView);  // 5 found, 6 not
    int checkCGPiTViewCreated(std::string& viewName, std::string& viewPath);  // 0, 1, -1
    int PiTViewSync(unsigned short operation, unsigned short waitType);       // 20/21 or 5/6
    int IsPiTAttached();            // 1 has a view, else 0
    bool checkCGPiTViewMappings();  // true when no member view is mapped to this host

    // --- PiT deletion (LSIPiTDelete.cpp) and status (LSIPiTStatus.cpp) ---

    int DeletePiT(std::list<std::string>& activePiTs, bool groupSweep);  // 20, 21
    int GetPiTStatus();  // 24 gone, 0 there, -1 could not ask

    // --- Consistency groups (LSIConsistencyGroup.cpp) ---

    bool GetConsistencyGroup(std::list<std::string> sourceVolumes, short count, int& groupIndex);
    int CreateConsistencyGroup();
    int AddMembersToCG();
    int RemoveMembersFromCG();
    int DeleteConsistencyGroup(int checkPiTs);

    // --- Shared secret (LSISecret.cpp) and controller ownership (LSIControllers.cpp) ---

    int CheckAndUpdateArraySecret(RKSO::SnapInfo* info);  // 1 secret written, else 0
    bool SetArrayPW(std::string& arrayName, std::string& newSecret);
    int GetLSICurrentControllerPath(std::string& controller);    // 1 found, 0 failed
    int GetLSIPreferredControllerPath(std::string& controller);  // 1 found, 0 failed

    // --- Members, in declaration order ---

    int32_t m_Capability = 0;  // 1 snapshot, 2 clone; set by the entry point
    LSICimUtil m_LsiCimUtil;
    // 7 prepare/create/map, 14 unmap, 98 delete, 32768 revert, 99 none.
    int32_t m_PiTOperation = 99;
    // The PiT's (or CG PiT's) InstanceID; in consistency-group mode before CreatePiT,
    // the consistency group's path.
    std::string m_PiTName;
    std::string m_PiTPath;
    bool m_UseConsistencyGroup = false;
    bool m_CGFollower = false;
    std::string m_ConsistencyGroupName;  // "null" outside consistency-group mode
};
