// Class prefix and namespace of the provider in use: stored paths are adapted to
// them (an identifier written against one OEM provider works against another), the
// array namespace is found through "interop", and one property is read by a name.
#include <array>
#include <string>
#include <vector>

#include <cim/CIMObjectPath.h>

#include "eseries/LSISnapshot.h"
#include "rkso/RKPlatformInfo.h"
#include "smis/RkCaught.h"

namespace {

// Class name up to, not including, its first "_" (all of it without one).
std::string PrefixOf(const cim::CIMObjectPath& path) {
    const std::string& name = path.getClassName().getString();
    return name.substr(0, name.find('_'));
}

// Class name up to and including its first "_"; empty without one.
std::string OldPrefixOf(const cim::CIMObjectPath& path) {
    const std::string& name = path.getClassName().getString();
    size_t underscore = name.find('_');
    return underscore == std::string::npos ? std::string() : name.substr(0, underscore + 1);
}

// Replaces every occurrence of from; the search goes on after each inserted text.
void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// Namespaces that are never the array's, in the order they are tested.
const std::array<const char*, 8> kSkippedNamespaces = {
    "interop",         "root",          "root/cim",        "root/cimv2",
    "root/emc/vmware", "root/emc/ecom", "root/reflection", "root/PG_Internal",
};

bool IsSkipped(const std::string& name) {
    for (const char* skipped : kSkippedNamespaces)
        if (name == skipped) return true;
    return false;
}

}  // namespace

std::string LSISnapshot::replaceClassPrefix(std::string& path1, std::string& path2,
                                            std::string& path3, std::string& path4) {
    const char* fn = "replaceClassPrefix";
    std::string* args[] = {&path1, &path2, &path3, &path4};
    std::string* members[] = {&m_ServicePath, &m_SourceDevPath, &m_TargetDGPath, &m_TargetDevPath};
    std::vector<size_t> present;
    for (size_t i = 0; i < 4; ++i)
        if (!args[i]->empty()) present.push_back(i);
    if (present.empty()) {
        DEBUG_TRACE(fn, "Empty object paths received.");
        return std::string();
    }
    try {
        const char* key = "SMCONFIG_NAME_SMIS_CIM_CLASSNAME_PREFIX";
        std::string prefix;
        if (m_pLogger && m_pLogger->getConfigValue(key, prefix))
            DEBUG_TRACE(fn, " Array Config [%s:%s]", key, prefix.c_str());
        std::string fromHost;
        if (RKPlatformInfo().getString("Talon", "LSI_OEM_CLASSNAME_PREFIX", &fromHost)) {
            prefix = fromHost;
            DEBUG_TRACE(fn,
                        "Additional setting to override SMI-S classname prefix found. "
                        "Setting-[%s], value-[%s]",
                        "LSI_OEM_CLASSNAME_PREFIX", prefix.c_str());
        }
        if (prefix.empty()) return PrefixOf(cim::CIMObjectPath::parse(*args[present.front()]));

        const std::string wanted = prefix + "_";
        const std::string cimomNamespace = m_CimConnection.GetNameSpace();
        std::vector<std::string> rewritten;
        for (size_t i : present) {
            std::string text = *args[i];
            const cim::CIMObjectPath path = cim::CIMObjectPath::parse(text);
            const std::string old = OldPrefixOf(path);
            // Already in the configured prefix: every stored path is taken as current.
            if (old == wanted) return prefix;
            ReplaceAll(text, old, wanted);
            const std::string pathNamespace = path.getNameSpace().getString();
            if (!pathNamespace.empty() && !cimomNamespace.empty()) {
                size_t at = text.find(pathNamespace);
                if (at != std::string::npos) text.replace(at, pathNamespace.size(), cimomNamespace);
            }
            DEBUG_TRACE(fn, "Replaced %s", text.c_str());
            rewritten.push_back(text);
        }
        for (size_t n = 0; n < present.size(); ++n) {
            const size_t i = present[n];
            *args[i] = rewritten[n];
            if (!members[i]->empty()) *members[i] = rewritten[n];
        }
        return prefix;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return std::string();
    }
}

bool LSISnapshot::GetNamespaceFromInterop(std::string& nameSpace, bool fromServicePath) {
    const char* fn = "GetNamespaceFromInterop";
    if (fromServicePath) {
        try {
            nameSpace = cim::CIMObjectPath::parse(m_ServicePath).getNameSpace().getString();
            return true;
        } catch (...) {
            RK_TRACE_CAUGHT(*this, fn);
            return false;
        }
    }
    nameSpace.clear();
    RkCimom& cimom = m_CimConnection.GetCimom();
    // The endpoint keeps its namespace unless the array's is found.
    const std::string previous = cimom.GetNameSpace();
    cimom.SetNameSpace("interop");
    if (m_CimConnection.ConnectCimom() != 0) {
        DEBUG_TRACE_NORMAL(fn, "Failed to connect CIMOM using interop namespace.");
        cimom.SetNameSpace(previous);
        return false;
    }
    try {
        std::vector<cim::CIMObjectPath> names = m_CimConnection.GetInstanceNames("CIM_Namespace");
        std::string found;
        for (const cim::CIMObjectPath& p : names) {
            std::string name = GetPropByObjPath(p, "Name");
            if (IsSkipped(name)) continue;
            found = name;
            break;
        }
        if (found.empty()) {
            DEBUG_TRACE(fn, "Unable to find array namespace from list of [%u] namespace instances",
                        static_cast<unsigned>(names.size()));
            cimom.SetNameSpace(previous);
        } else {
            DEBUG_TRACE(fn, "Found array namespace-[%s] by querying interop namespace",
                        found.c_str());
            cimom.SetNameSpace(found);
        }
        m_CimConnection.DisconnectCimom();
        nameSpace = found;
        return true;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        m_CimConnection.DisconnectCimom();
        cimom.SetNameSpace(previous);
        return false;
    }
}

std::string LSISnapshot::GetObjPropStrByName(std::string className, std::string propName,
                                             std::string propValue, std::string propRequested) {
    const char* fn = "Snapshot::GetObjPropStrByName";
    if (className.empty() || propName.empty() || propValue.empty() || propRequested.empty()) {
        DEBUG_TRACE(fn, "Invalid Arguments");
        DEBUG_TRACE(fn, "ClassName = %s, PropNameGiven = %s, PropValGiven = %s, PropRequested = %s",
                    className.c_str(), propName.c_str(), propValue.c_str(), propRequested.c_str());
        return std::string();
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return std::string();
    try {
        cim::CIMObjectPath path =
            GetObjPathByPropName(m_CimConnection, className, propName, propValue);
        if (path.toString().empty()) return std::string();
        return GetCIMProp(m_CimConnection, path, propRequested);
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return std::string();
    }
}
