// Synchronization paths: the association objects ("SystemElement" = source,
// "SyncedElement" = target) that detach, resync, restore and delete act on.
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <cim/CIMClient.h>

#include "RkCimUtilInternal.h"
#include "smis/ProviderVendor.h"
#include "smis/RkCimConnection.h"
#include "smis/RkCimUtil.h"

using rkcimutil::KeyValue;

namespace {

const char* const kStorageSynchronized = "CIM_StorageSynchronized";

// The same object whatever host or namespace either text carries.
bool SameObject(const std::string& pathText, const cim::CIMObjectPath& object) {
    if (pathText.empty()) return false;
    cim::CIMObjectPath a = cim::CIMObjectPath::parse(pathText);
    cim::CIMObjectPath b = object;
    a.setHost(std::string());
    b.setHost(std::string());
    a.setNameSpace(cim::CIMNamespaceName());
    b.setNameSpace(cim::CIMNamespaceName());
    return a == b;
}

}  // namespace

std::string RkCimUtil::MakeAssnPath(cim::String host, cim::String nameSpace, cim::String className,
                                    cim::String key1, cim::String value1, cim::String key2,
                                    cim::String value2) {
    std::vector<cim::CIMKeyBinding> keys = {
        cim::CIMKeyBinding(key1, value1, cim::CIMKeyBinding::REFERENCE),
        cim::CIMKeyBinding(key2, value2, cim::CIMKeyBinding::REFERENCE)};
    return cim::CIMObjectPath(host, nameSpace, className, keys).toString();
}

cim::CIMObjectPath RkCimUtil::GetSyncPath(RkCimConnection& conn, cim::String nameSpace,
                                          std::string /*systemName*/, cim::CIMObjectPath source,
                                          cim::CIMObjectPath target) {
    const char* fn = "SMIS::GetSyncPath";
    LookupScope scope(*this);
    try {
        const RK_PROVIDER_VENDOR vendor = RKProviderVendor::GetVendorId(source);
        const std::string sourceText = source.toString();
        const std::string targetText = target.toString();
        std::string assocClass;
        if (vendor == VENDOR_3PAR) {
            assocClass = "TPD_StorageSynchronized";
        } else if (RKProviderVendor::IsESeries(vendor) &&
                   targetText.find("Snapshot") == std::string::npos) {
            // A clone: the provider keys its copy association by the two volumes.
            const std::string& cls = source.getClassName().getString();
            assocClass = cls.substr(0, cls.find('_')) + "_VolumeCopySynchronized";
        } else if (vendor == VENDOR_IBMSVC) {
            assocClass = "IBMTSSVC_LocalStorageSynchronized";
        }
        if (!assocClass.empty())
            return cim::CIMObjectPath::parse(MakeAssnPath(source.getHost(), nameSpace, assocClass,
                                                          "SystemElement", sourceText,
                                                          "SyncedElement", targetText));

        std::vector<cim::CIMObjectPath> refs = conn.GetReferenceNames(target, kStorageSynchronized);
        if (refs.size() == 1) {
            DEBUG_TRACE(fn, "Sync Path %s", refs[0].toString().c_str());
            return refs[0];
        }
        if (refs.size() > 1) DEBUG_TRACE(fn, "Error: Multiple sync paths reported");
        return cim::CIMObjectPath();
    }
    RKCIMUTIL_TRACE_AND_RETURN(fn, cim::CIMObjectPath())
}

int RkCimUtil::GetSyncPathFromSource(RkCimConnection& conn, std::string sourcePath,
                                     std::string& syncPath, std::string& targetPath,
                                     std::string& targetName) {
    const char* fn = "SMIS::GetSyncPathFromSource";
    LookupScope scope(*this);
    try {
        cim::CIMObjectPath source = cim::CIMObjectPath::parse(sourcePath);
        const std::string sourceName = GetCIMProp(conn, source, "Name");
        std::vector<cim::CIMObjectPath> refs = conn.GetReferenceNames(source, kStorageSynchronized);
        DEBUG_TRACE(fn, "Sync paths size [%d] for source dev [%s]", static_cast<int>(refs.size()),
                    sourceName.c_str());
        for (const cim::CIMObjectPath& ref : refs) {
            // A replica that is also a target shows its own synchronization too.
            if (!SameObject(KeyValue(ref, "SystemElement"), source)) continue;
            syncPath = ref.toString();
            targetPath = KeyValue(ref, "SyncedElement");
            targetName = GetCIMProp(conn, targetPath, "Name");
            DEBUG_TRACE(fn, "Sync Path [%s]", syncPath.c_str());
            return 0;
        }
        DEBUG_TRACE(fn, "No sync paths reported for source [%s]", sourceName.c_str());
        return -1;
    }
    RKCIMUTIL_TRACE_AND_RETURN(fn, -1)
}

int RkCimUtil::GetSyncPathFromSourceBySyncType(RkCimConnection& conn, int copyType,
                                               std::string sourcePath, std::string& syncPath,
                                               std::string& targetPath) {
    const char* fn = "SMIS::GetSyncPathFromSourceBySyncType";
    LookupScope scope(*this);
    try {
        cim::CIMObjectPath source = cim::CIMObjectPath::parse(sourcePath);
        std::vector<cim::CIMInstance> syncs = conn.GetReferences(source, kStorageSynchronized);
        DEBUG_TRACE(fn, "Sync objects size [%d] for source dev [%s]",
                    static_cast<int>(syncs.size()), sourcePath.c_str());
        bool anyOfSource = false;
        for (const cim::CIMInstance& sync : syncs) {
            if (!SameObject(GetCIMProp(sync, "SystemElement"), source)) continue;
            anyOfSource = true;
            const std::string type = GetCIMProp(sync, "CopyType");
            DEBUG_TRACE(fn, "Sync Path [%s] copyType [%s]", sync.getPath().toString().c_str(),
                        type.c_str());
            if (atoi(type.c_str()) != copyType) continue;
            syncPath = sync.getPath().toString();
            targetPath = GetCIMProp(sync, "SyncedElement");
            return 0;
        }
        if (anyOfSource)
            DEBUG_TRACE(fn, "No sync paths of copy type [%d] reported for source [%s]", copyType,
                        sourcePath.c_str());
        else
            DEBUG_TRACE(fn, "No sync paths reported for source [%s]", sourcePath.c_str());
        return -1;
    }
    RKCIMUTIL_TRACE_AND_RETURN(fn, -1)
}

namespace {

// A target of the source's synchronizations, with the names the label lookups need.
struct LabelledTarget {
    cim::CIMObjectPath sync;
    std::string path;
    std::string elementName;
    std::string name;
};

// The targets of the synchronizations in which sourcePath is the source. Traces their
// count; returns false after the "none" trace when the provider reports none at all.
bool TargetsOfSource(RkCimUtil& util, RkCimConnection& conn, const char* fn,
                     const std::string& sourcePath, std::string& sourceName,
                     std::vector<LabelledTarget>& out) {
    cim::CIMObjectPath source = cim::CIMObjectPath::parse(sourcePath);
    sourceName = util.GetCIMProp(conn, source, "Name");
    std::vector<cim::CIMObjectPath> refs = conn.GetReferenceNames(source, kStorageSynchronized);
    util.DEBUG_TRACE(fn, "Sync paths size [%d] for source dev [%s]", static_cast<int>(refs.size()),
                     sourceName.c_str());
    if (refs.empty()) {
        util.DEBUG_TRACE(fn, "No sync paths reported for source [%s]", sourceName.c_str());
        return false;
    }
    for (const cim::CIMObjectPath& ref : refs) {
        if (!SameObject(KeyValue(ref, "SystemElement"), source)) continue;
        LabelledTarget t{ref, KeyValue(ref, "SyncedElement"), "", ""};
        std::map<std::string, std::string> props = {{"ElementName", ""}, {"Name", ""}};
        util.GetCIMPropList(conn, t.path, props);
        t.elementName = props["ElementName"];
        t.name = props["Name"];
        out.push_back(std::move(t));
    }
    return true;
}

}  // namespace

int RkCimUtil::GetAllSyncPathFromSource(RkCimConnection& conn, std::string sourcePath,
                                        std::string label,
                                        std::map<std::string, std::string>& targets) {
    const char* fn = "SMIS::GetAllSyncPathFromSource";
    LookupScope scope(*this);
    try {
        std::string sourceName;
        std::vector<LabelledTarget> found;
        if (!TargetsOfSource(*this, conn, fn, sourcePath, sourceName, found)) return -1;
        int entered = 0;
        for (const LabelledTarget& t : found) {
            if (t.elementName.find(label) == std::string::npos) continue;
            targets[t.name] = t.path;
            ++entered;
        }
        DEBUG_TRACE(fn, "%d targets found with label [%s]", entered, label.c_str());
        return entered > 0 ? 0 : -1;
    }
    RKCIMUTIL_TRACE_AND_RETURN(fn, -1)
}

int RkCimUtil::GetDelSyncPathFromSource(RkCimConnection& conn, std::string sourcePath,
                                        std::string& syncPath, std::string& targetPath,
                                        std::string& targetName, std::string label) {
    const char* fn = "SMIS::GetSyncPathFromSource";
    LookupScope scope(*this);
    try {
        std::string sourceName;
        std::vector<LabelledTarget> found;
        if (!TargetsOfSource(*this, conn, fn, sourcePath, sourceName, found)) return -1;
        for (const LabelledTarget& t : found) {
            if (t.elementName.find(label) == std::string::npos) continue;
            DEBUG_TRACE(fn, "Match found, target device name [%s]", t.elementName.c_str());
            syncPath = t.sync.toString();
            targetPath = t.path;
            targetName = t.name;
            DEBUG_TRACE(fn, "Target Device Name [%s]", targetName.c_str());
            DEBUG_TRACE(fn, "Sync Path [%s]", syncPath.c_str());
            return 0;
        }
        DEBUG_TRACE(fn, "No deleted state sync paths reported for source [%s]", sourceName.c_str());
        return -1;
    }
    RKCIMUTIL_TRACE_AND_RETURN(fn, -1)
}

namespace {

// What the walk from a target found.
struct TargetWalk {
    int result = -1;
    cim::CIMObjectPath sync;
    std::string source;
    std::string sourceName;
};

// The one synchronization of the target, shared by both target lookups.
TargetWalk WalkFromTarget(RkCimUtil& util, RkCimConnection& conn, const char* fn,
                          const cim::CIMObjectPath& target, const std::string& targetName) {
    TargetWalk walk;
    std::vector<cim::CIMObjectPath> refs = conn.GetReferenceNames(target, kStorageSynchronized);
    util.DEBUG_TRACE(fn, "Sync paths size [%d] for target dev [%s]", static_cast<int>(refs.size()),
                     targetName.c_str());
    if (refs.size() > 1) {
        util.DEBUG_TRACE(fn, "More than one sync path reported for target [%s]",
                         targetName.c_str());
        return walk;
    }
    if (refs.empty()) {
        util.DEBUG_TRACE(fn, "No sync paths [%s]", targetName.c_str());
        walk.result = 1;
        return walk;
    }
    walk.source = KeyValue(refs[0], "SystemElement");
    walk.sourceName = util.GetCIMProp(conn, walk.source, "Name");
    // The target itself as the source: its own synchronization is gone and it now
    // feeds another one.
    if (SameObject(walk.source, target) || walk.sourceName == targetName) {
        util.DEBUG_TRACE(fn,
                         "Returning empty sync path as It seems original sync path already "
                         "deleted, the original target now being used as source for another "
                         "synchronization operation");
        return walk;
    }
    walk.sync = refs[0];
    walk.result = 0;
    return walk;
}

}  // namespace

int RkCimUtil::GetSyncPathFromTarget(RkCimConnection& conn, std::string targetPath,
                                     std::string& syncPath, std::string& sourcePath,
                                     std::string& sourceName) {
    const char* fn = "SMIS::GetSyncPathFromTarget";
    LookupScope scope(*this);
    try {
        cim::CIMObjectPath target = cim::CIMObjectPath::parse(targetPath);
        const std::string targetName = GetCIMProp(conn, target, "Name");
        TargetWalk walk = WalkFromTarget(*this, conn, fn, target, targetName);
        if (walk.result != 0) return walk.result;
        syncPath = walk.sync.toString();
        sourcePath = walk.source;
        sourceName = walk.sourceName;
        DEBUG_TRACE(fn, "Sync Path [%s]", syncPath.c_str());
        return 0;
    }
    RKCIMUTIL_TRACE_AND_RETURN(fn, -1)
}

int RkCimUtil::GetSyncPathFromTargetAndSource(RkCimConnection& conn, const std::string& targetPath,
                                              const std::string& sourcePath,
                                              std::string& syncPath) {
    const char* fn = "SMIS::GetSyncPathFromTargetAndSource";
    LookupScope scope(*this);
    try {
        cim::CIMObjectPath target = cim::CIMObjectPath::parse(targetPath);
        cim::CIMObjectPath source = cim::CIMObjectPath::parse(sourcePath);
        const std::string targetName = GetCIMProp(conn, target, "Name");
        // Both volumes are read; the walk from the target alone decides.
        (void)GetCIMProp(conn, source, "Name");
        TargetWalk walk = WalkFromTarget(*this, conn, fn, target, targetName);
        if (walk.result != 0) return walk.result;
        syncPath = walk.sync.toString();
        DEBUG_TRACE(fn, "Sync Path [%s]", syncPath.c_str());
        return 0;
    }
    RKCIMUTIL_TRACE_AND_RETURN(fn, -1)
}
