// CIM query helpers of the SMI-S layer: finding systems, volumes, pools and services
// on the provider, reading and changing properties, reading method results, and
// turning delimited texts into the arrays that method calls take.
//
// Every lookup uses the caller's connection, which must be connected. Paths that a
// lookup returns carry the connection's namespace. Lookups that find objects by class
// and property or key raise provider failures again after tracing them (the calling
// operation turns them into its error); the others catch them and return their empty
// or failure result.
//
// "Not found" is an answer only when the provider gave it. An outage, a time-out, a
// provider error or rejected credentials never pass for one:
//  - the raising lookups raise (RkCimAuthFailedException once the credentials were
//    rejected, since the reads then answer empty);
//  - CheckInstanceExistence answers -1;
//  - every other lookup gives its empty or negative result with LookupFailed() true.
// So a caller that got an empty path, "", 0 or -1 asks LookupFailed() before it
// takes the object for gone.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

#include <cim/CIMInstance.h>
#include <cim/CIMObjectPath.h>
#include <cim/CIMParamValue.h>
#include <cim/CIMValue.h>
#include <cim/Types.h>

#include "smis/RkCriticalSection.h"
#include "smis/RkSmisTracer.h"

class RkCimConnection;

// One row of a method return-code text table; the table ends at the first code 0.
// A text beginning with '*' lists per-method texts: "*Method1:text1,Method2:text2".
struct RkRetCodeText {
    uint32_t code;
    const char* text;
};

class RkCimUtil : public RkSmisTracer {
  public:
    RkCimUtil() = default;
    virtual ~RkCimUtil() = default;

    // Text for an SMI-S method return code, "Error code not found!" when unknown.
    std::string GetErrorMessage(unsigned int code, std::string methodName) const;

    // True when a failure (no answer, a provider error, rejected credentials) took
    // part in the last lookup made through this object; its empty or negative result
    // then means "unknown", never "not there".
    bool LookupFailed() const { return m_LookupFailed; }

    // --- Object lookups (raise provider failures again) ---

    // First instance of className whose propName equals propValue (any case).
    cim::CIMObjectPath GetObjPathByPropName(RkCimConnection& conn, const std::string& className,
                                            std::string propName, std::string propValue);
    // Only instances whose system name ("SystemName" key, else "InstanceID") contains
    // systemName; exact false also accepts a value that contains propValue.
    cim::CIMObjectPath GetObjPathByPropName(RkCimConnection& conn, std::string systemName,
                                            std::string className, std::string propName,
                                            std::string propValue, bool exact);
    cim::CIMObjectPath GetObjPathByPropNamev2(RkCimConnection& conn, std::string systemName,
                                              std::string className, std::string propName,
                                              std::string propValue);
    // By key over instance names; an empty keyValue takes the first name. CIM_ERR_NOT_FOUND
    // gives an empty path.
    cim::CIMObjectPath GetObjPathByProp(RkCimConnection& conn, std::string className,
                                        std::string keyName, std::string keyValue,
                                        std::string systemName);
    // Every instance of the system whose propName equals one of values (exact), once per
    // matching value, in instance order. (cim::Array<cim::String> is a
    // std::vector<std::string>, so this one form serves both.)
    std::vector<cim::CIMObjectPath> GetObjPathListByPropNameList(RkCimConnection& conn,
                                                                 std::string className,
                                                                 std::string propName,
                                                                 cim::Array<cim::String>& values,
                                                                 std::string systemName);
    // Value of the first key named keyName (exact); empty when none.
    std::string GetPropByObjPath(const cim::CIMObjectPath& path, std::string keyName) const;
    std::string GetObjectPathString(const cim::CIMObjectPath& path) const;

    // --- Properties (catch failures) ---

    // Text of the first property named propName (exact); empty when none.
    std::string GetCIMProp(const cim::CIMInstance& instance, std::string propName) const;
    std::string GetCIMProp(RkCimConnection& conn, std::string& objectPath, std::string propName);
    std::string GetCIMProp(RkCimConnection& conn, cim::CIMObjectPath& path, std::string propName);
    // Fills the value of every key of props that names a property of the instance.
    // 1 when all were found; 0 otherwise, and for an empty map (no provider call).
    int GetCIMPropList(RkCimConnection& conn, const std::string& objectPath,
                       std::map<std::string, std::string>& props);
    int GetCIMPropList(RkCimConnection& conn, cim::CIMObjectPath& path,
                       std::map<std::string, std::string>& props);
    std::string GetInstanceProp(RkCimConnection& conn, const cim::CIMInstance& instance,
                                std::string propName, bool& found) const;
    // Changes one uint8, uint16 or string property. 1 accepted, 0 otherwise. The value
    // of "Secret" is never traced.
    int UpdateInstanceProp(RkCimConnection& conn, std::string objectPath, std::string propName,
                           std::string newValue);
    // 1 exists, 0 does not, -1 undetermined. volume is an object path, or a volume's
    // UUID ("Name") when it does not parse as one.
    int CheckInstanceExistence(RkCimConnection& conn, std::string& systemName, std::string& volume,
                               std::string& uuidToVerify);

    // --- Systems, services, pools, vendors ---

    // The array's storage system (raises provider failures again).
    cim::CIMObjectPath GetSystemObjPathByNameProp(RkCimConnection& conn, std::string systemName);
    std::string GetSystemObjPathString(RkCimConnection& conn, std::string systemName);
    int ValidateSystemName(RkCimConnection& conn, std::string systemName, std::string className,
                           cim::CIMObjectPath& outPath);
    // First service of the system of serviceClass (raises; CIM_ERR_NOT_FOUND gives empty).
    cim::CIMObjectPath GetSystemServiceObject(RkCimConnection& conn, cim::CIMObjectPath& systemPath,
                                              std::string serviceClass);
    cim::CIMObjectPath GetCtlrservicePath(RkCimConnection& conn, cim::CIMObjectPath& systemPath);
    // Text path of the system's pool named diskGroupName; empty when none.
    std::string GetDGByName(RkCimConnection& conn, std::string systemName,
                            std::string diskGroupName);
    std::string GetVendorByName(RkCimConnection& conn, std::string systemName);
    std::string GetVendorNamespaceByName(RkCimConnection& conn, std::string systemName);

    // Text path of the volume whose "Name" is uuid, on systemName when not empty. Uses
    // the process-wide volume cache under m_CimUtilLock.
    std::string GetVolObjPathByUUID(RkCimConnection& conn, std::string uuid,
                                    std::string systemName);

    // --- Lookups of other providers' branches ---

    std::string GetEternusTPPByName(RkCimConnection& conn, std::string systemName,
                                    std::string poolName);
    // First object associated with objectPath (through assocClass, of resultClass) whose
    // propName equals propValue (any case).
    cim::CIMObjectPath GetObjPathByAssnProp(RkCimConnection& conn, cim::CIMObjectPath& objectPath,
                                            std::string assocClass, std::string resultClass,
                                            std::string propName, std::string propValue);
    std::vector<cim::CIMObjectPath> GetSystemObjPathListByPropList(RkCimConnection& conn,
                                                                   std::string className,
                                                                   std::string systemName);
    cim::CIMObjectPath GetSystemObjPathByProp(RkCimConnection& conn, std::string className,
                                              std::string systemName);
    std::string GetIBMSVCVolObjPathByUUID(RkCimConnection& conn, std::string uuid);
    // nodePath is "<system id>:<node id>".
    cim::CIMObjectPath GetPreferredNodeForIBMSVC(RkCimConnection& conn, std::string nodePath);
    // volume is an object path, or else a "DeviceID" or "Name" of a volume of the system.
    cim::CIMObjectPath GetVolumeObjectPath(RkCimConnection& conn, std::string systemName,
                                           std::string volume);

    // --- Protocol controllers of a host or a volume (RkCimUtilCtlr.cpp) ---
    // Provider failures are traced and raised again (the mapping operations catch them).

    // The controllers of the host's ports that carry the volumes (one volume path or
    // UUID); without ports, the volumes' own controllers.
    std::vector<cim::CIMObjectPath> GetCtlrPathList(RkCimConnection& conn,
                                                    cim::CIMObjectPath systemPath,
                                                    cim::Array<cim::String>& volumes,
                                                    cim::Array<cim::String> ports);
    // Dispatch by the system's vendor.
    std::vector<cim::CIMObjectPath> GetctlrPathListByAssn(
        RkCimConnection& conn, cim::CIMObjectPath systemPath,
        cim::Array<cim::CIMObjectPath>& volumePaths, cim::Array<cim::String>& ports);
    // The controllers a volume is mapped through.
    std::vector<cim::CIMObjectPath> GetVolCtlrPaths(RkCimConnection& conn,
                                                    cim::CIMObjectPath& volumePath);
    // E-Series: the host's controllers that are also controllers of the volumes.
    std::vector<cim::CIMObjectPath> GetLSICtlrListByHwIDs(
        RkCimConnection& conn, cim::CIMObjectPath& systemPath,
        cim::Array<cim::CIMObjectPath>& volumePaths, cim::Array<cim::String>& ports);
    // E-Series: the controllers of the host (or, with groupMapping, host group) owning
    // the ports.
    std::vector<cim::CIMObjectPath> GetLSICtlrListByHwIDs(RkCimConnection& conn,
                                                          cim::CIMObjectPath& systemPath,
                                                          cim::Array<cim::String>& ports,
                                                          bool groupMapping);
    // All port identifiers of the host owning the first port.
    cim::Array<cim::String> GetLSIHwIDs(RkCimConnection& conn, cim::CIMObjectPath& systemPath,
                                        cim::Array<cim::String>& ports);
    // The "CIM_SystemSpecificCollection" whose "ElementName" is name.
    cim::CIMObjectPath GetHardwareIdCollectionPath(RkCimConnection& conn, std::string name);

    // --- Synchronization paths (RkCimUtilSync.cpp) ---
    // Provider reference lookups go straight to the client (no retry). The int lookups
    // give 0 found (outputs set), -1 nothing suitable or a provider failure, and 1 (target
    // lookups) when the target has no synchronization at all.

    // Text of the path host/nameSpace:className with two reference keys, key1 then key2.
    std::string MakeAssnPath(cim::String host, cim::String nameSpace, cim::String className,
                             cim::String key1, cim::String value1, cim::String key2,
                             cim::String value2);
    // The synchronization between source and target: built where the provider's layout
    // is known, else the one "CIM_StorageSynchronized" reference of the target (empty
    // when there are none or several).
    cim::CIMObjectPath GetSyncPath(RkCimConnection& conn, cim::String nameSpace,
                                   std::string systemName, cim::CIMObjectPath source,
                                   cim::CIMObjectPath target);
    int GetSyncPathFromSource(RkCimConnection& conn, std::string sourcePath, std::string& syncPath,
                              std::string& targetPath, std::string& targetName);
    int GetSyncPathFromSourceBySyncType(RkCimConnection& conn, int copyType, std::string sourcePath,
                                        std::string& syncPath, std::string& targetPath);
    // Targets whose "ElementName" contains label, keyed by their "Name".
    int GetAllSyncPathFromSource(RkCimConnection& conn, std::string sourcePath, std::string label,
                                 std::map<std::string, std::string>& targets);
    int GetDelSyncPathFromSource(RkCimConnection& conn, std::string sourcePath,
                                 std::string& syncPath, std::string& targetPath,
                                 std::string& targetName, std::string label);
    int GetSyncPathFromTarget(RkCimConnection& conn, std::string targetPath, std::string& syncPath,
                              std::string& sourcePath, std::string& sourceName);
    int GetSyncPathFromTargetAndSource(RkCimConnection& conn, const std::string& targetPath,
                                       const std::string& sourcePath, std::string& syncPath);

    // --- Method parameters and values ---

    // First reference output named "TargetElement" or "TheElement"; empty when none.
    cim::CIMObjectPath GetTargetElementHandle(cim::Array<cim::CIMParamValue>& outParams);
    // A method's return value: 32-bit integers as they are, a decimal string read as a
    // number; 99999 for anything else (null included).
    unsigned int GetRetVal(const cim::CIMValue& value);
    cim::CIMValue MakeCimNullVal(cim::CIMType type, bool isArray) const;
    void PrintParamSet(cim::Array<cim::CIMParamValue>& params, bool detailed);

    // --- Text to lists (empty pieces are dropped) ---

    std::vector<std::string> Tokenize(std::string input, char separator) const;
    std::vector<std::string> StringToVector(std::string input, char separator) const;
    cim::Array<cim::String> InputToStringArray(std::string input, char separator) const;
    // Each piece read with atoi: a non-number gives 0.
    cim::Array<cim::Uint16> InputToIntArray(std::string input, char separator) const;
    cim::Array<cim::String> StrVectorToStrArray(std::vector<std::string>& values) const;
    cim::Array<cim::String> StrListToStrArray(std::list<std::string>& values) const;

    // Guards the volume cache; held for a whole volume lookup.
    static RkCriticalSection m_CimUtilLock;
    // Instances in the volume cache (takes m_CimUtilLock).
    static size_t VolumeCacheSize();
    // Empties the volume cache (takes m_CimUtilLock); tests start from a known state.
    static void ClearVolumeCache();

    // Not owned; null unless a caller installs one.
    const RkRetCodeText* m_pRetCodeTable = nullptr;

  protected:
    // Held by every lookup: the outermost one clears LookupFailed() when it starts.
    class LookupScope {
      public:
        explicit LookupScope(RkCimUtil& util) : m_util(util) {
            if (m_util.m_LookupDepth++ == 0) m_util.m_LookupFailed = false;
        }
        ~LookupScope() { --m_util.m_LookupDepth; }
        LookupScope(const LookupScope&) = delete;
        LookupScope& operator=(const LookupScope&) = delete;

      private:
        RkCimUtil& m_util;
    };
    void SetLookupFailed() { m_LookupFailed = true; }

  private:
    bool m_LookupFailed = false;
    int m_LookupDepth = 0;
};
