// Lookups of PiTs and their views shared by the PiT view operations, and the way
// back from a view to its PiT.
#include "LSIPiTViewLookup.h"

#include <cim/Exception.h>

#include "smis/ProviderVendor.h"
#include "smis/RkCaught.h"

namespace lsiview {

namespace {

std::string KeyOf(const cim::CIMObjectPath& path, const char* name) {
    const cim::CIMKeyBinding* k = path.findKeyBinding(cim::CIMName(name));
    return k ? k->getValue() : std::string();
}

cim::CIMObjectPath WithNamespace(cim::CIMObjectPath path, const std::string& nameSpace) {
    if (path.getNameSpace().isNull() && !nameSpace.empty()) path.setNameSpace(nameSpace);
    return path;
}

}  // namespace

std::string PrefixOf(const cim::CIMObjectPath& path) {
    const std::string& cls = path.getClassName().getString();
    return cls.substr(0, cls.find('_'));
}

std::string ServicePrefix(LSISnapshot& snap) {
    if (!snap.m_ServicePath.empty()) return PrefixOf(cim::CIMObjectPath::parse(snap.m_ServicePath));
    return RKProviderVendor::GetVendorPrefix(
        snap.GetSystemObjPathByNameProp(snap.m_CimConnection, snap.m_SystemName));
}

cim::CIMObjectPath FindPiT(LSISnapshot& snap, bool group) {
    if (!snap.m_PiTPath.empty()) return cim::CIMObjectPath::parse(snap.m_PiTPath);
    const std::string cls = ServicePrefix(snap) + (group ? "_ConsistencyGroupPiT" : "_PiT");
    return snap.GetObjPathByPropName(snap.m_CimConnection, cls, "ElementName", snap.m_PiTName);
}

std::vector<cim::CIMObjectPath> ViewsOfPiT(RkCimConnection& conn, const cim::CIMObjectPath& pit,
                                           const std::string& viewClass) {
    const std::string prefix = PrefixOf(pit);
    std::vector<cim::CIMObjectPath> views =
        conn.GetAssociatorNames(pit, prefix + "_ViewBasedOnPiT", prefix + "_" + viewClass);
    for (cim::CIMObjectPath& v : views) v = WithNamespace(v, conn.GetNameSpace());
    return views;
}

std::vector<cim::CIMObjectPath> GroupViewsOf(RkCimConnection& conn, const std::string& prefix,
                                             const std::string& pitId) {
    std::vector<cim::CIMObjectPath> views;
    for (const cim::CIMObjectPath& link : conn.GetInstanceNames(prefix + "_ViewBasedOnPiT")) {
        const std::string antecedent = KeyOf(link, "Antecedent");
        const std::string dependent = KeyOf(link, "Dependent");
        if (antecedent.empty() || dependent.empty()) continue;
        if (KeyOf(cim::CIMObjectPath::parse(antecedent), "InstanceID") != pitId) continue;
        views.push_back(WithNamespace(cim::CIMObjectPath::parse(dependent), conn.GetNameSpace()));
    }
    return views;
}

std::vector<cim::CIMObjectPath> MembersOf(RkCimConnection& conn, const cim::CIMObjectPath& view) {
    std::vector<cim::CIMObjectPath> members =
        conn.GetAssociatorNames(view, "CIM_OrderedMemberOfCollection", PrefixOf(view) + "_PiTView");
    for (cim::CIMObjectPath& m : members) m = WithNamespace(m, conn.GetNameSpace());
    return members;
}

}  // namespace lsiview

bool LSICimUtil::GetPiTElmtNameFromTarget(RkCimConnection& connection, std::string sourceDev,
                                          std::string targetView, std::string& pitName,
                                          std::string& pitPath) {
    const char* fn = "LSICimUtil::GetPiTElmtNameFromTarget";
    RkCimConnection& conn = connection;
    try {
        const cim::CIMObjectPath view = cim::CIMObjectPath::parse(targetView);
        const std::string prefix = lsiview::PrefixOf(view);
        std::vector<cim::CIMObjectPath> pits =
            conn.GetAssociatorNames(view, prefix + "_ViewBasedOnPiT", prefix + "_PiT");
        if (pits.empty()) {
            DEBUG_TRACE(fn, "The target PiTView is not associated to any PiT");
            return true;
        }
        if (pits.size() > 1) {
            DEBUG_TRACE(fn, "The target PiTView is associated to more than one PiT");
            return true;
        }
        cim::CIMObjectPath pit = pits.front();
        if (pit.getNameSpace().isNull()) pit.setNameSpace(conn.GetNameSpace());
        const std::string pitText = pit.toString();
        std::vector<cim::CIMObjectPath> sources =
            conn.GetAssociatorNames(pit, "CIM_SettingsDefineState", "CIM_StorageVolume");
        if (sources.empty()) {
            DEBUG_TRACE(fn, "The pit[%s] is not associated to any SourceElement", pitText.c_str());
            return true;
        }
        if (sources.size() > 1) {
            DEBUG_TRACE(fn, "The  pit[%s] is associated to more than one SourceElement",
                        pitText.c_str());
            return true;
        }
        cim::CIMObjectPath source = sources.front();
        if (GetCIMProp(conn.GetInstance(source), "Name") != sourceDev) {
            DEBUG_TRACE(fn, "The  pit[%s] is not associated to SourceElement [%s]", pitText.c_str(),
                        sourceDev.c_str());
            return true;
        }
        pitName = GetCIMProp(conn.GetInstance(pit), "ElementName");
        pitPath = pitText;
        return false;
    } catch (...) {
        RK_TRACE_CAUGHT(*this, fn);
        return true;
    }
}
