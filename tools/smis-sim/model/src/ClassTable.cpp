#include "ClassTable.h"

#include <cstdint>
#include <sstream>

#include "Text.h"

namespace sim {

namespace {

struct Row {
    const char* name;  // "{P}" is the vendor prefix
    const char* super;
    const char* keys;   // comma separated
    const char* props;  // "Name:type" comma separated; "[]" after the type for arrays
    bool association;
};

// A trimmed CIM schema: the classes the array model and the host's lookups name,
// with the properties the model fills.
const Row kArrayRows[] = {
    {"CIM_ManagedElement", "", "",
     "Caption:string,Description:string,ElementName:string,InstanceID:string", false},
    {"CIM_ManagedSystemElement", "CIM_ManagedElement", "",
     "Name:string,OperationalStatus:uint16[],StatusDescriptions:string[],Status:string,HealthState:"
     "uint16",
     false},
    {"CIM_LogicalElement", "CIM_ManagedSystemElement", "", "", false},
    {"CIM_EnabledLogicalElement", "CIM_LogicalElement", "",
     "EnabledState:uint16,RequestedState:uint16", false},
    {"CIM_System", "CIM_EnabledLogicalElement", "CreationClassName,Name",
     "CreationClassName:string,NameFormat:string,PrimaryOwnerName:string", false},
    {"CIM_ComputerSystem", "CIM_System", "", "Dedicated:uint16[]", false},
    {"CIM_Service", "CIM_EnabledLogicalElement",
     "SystemCreationClassName,SystemName,CreationClassName,Name",
     "SystemCreationClassName:string,SystemName:string,CreationClassName:string", false},
    {"CIM_StorageConfigurationService", "CIM_Service", "", "", false},
    {"CIM_ControllerConfigurationService", "CIM_Service", "", "", false},
    {"CIM_ReplicationService", "CIM_Service", "", "", false},
    {"SNIA_ReplicationService", "CIM_ReplicationService", "", "", false},
    {"CIM_SecurityService", "CIM_Service", "", "", false},
    {"CIM_AuthenticationService", "CIM_SecurityService", "", "", false},
    {"CIM_SharedSecretService", "CIM_AuthenticationService", "", "Algorithm:string,Protocol:string",
     false},
    {"CIM_Credential", "CIM_ManagedElement", "", "Issued:datetime,Expires:datetime", false},
    {"CIM_SharedSecret", "CIM_Credential",
     "SystemCreationClassName,SystemName,ServiceCreationClassName,ServiceName,RemoteID",
     "SystemCreationClassName:string,SystemName:string,ServiceCreationClassName:string,"
     "ServiceName:string,RemoteID:string,Secret:string,Algorithm:string,Protocol:string",
     false},
    {"CIM_LogicalDevice", "CIM_EnabledLogicalElement",
     "SystemCreationClassName,SystemName,CreationClassName,DeviceID",
     "SystemCreationClassName:string,SystemName:string,CreationClassName:string,DeviceID:string",
     false},
    {"CIM_StorageExtent", "CIM_LogicalDevice", "",
     "BlockSize:uint64,NumberOfBlocks:uint64,ConsumableBlocks:uint64,Access:uint16,Primordial:"
     "boolean,"
     "NameFormat:uint16,NameNamespace:uint16",
     false},
    {"CIM_StorageVolume", "CIM_StorageExtent", "", "", false},
    {"CIM_ProtocolController", "CIM_LogicalDevice", "", "MaxUnitsControlled:uint32", false},
    {"CIM_SCSIProtocolController", "CIM_ProtocolController", "", "", false},
    {"CIM_ResourcePool", "CIM_LogicalElement", "InstanceID", "PoolID:string,Primordial:boolean",
     false},
    {"CIM_StoragePool", "CIM_ResourcePool", "",
     "TotalManagedSpace:uint64,RemainingManagedSpace:uint64", false},
    {"CIM_SettingData", "CIM_ManagedElement", "InstanceID", "ChangeableType:uint16", false},
    {"CIM_StorageSetting", "CIM_SettingData", "", "", false},
    {"CIM_SynchronizationAspect", "CIM_SettingData", "", "WhenPointInTime:datetime,SyncType:uint16",
     false},
    {"CIM_Collection", "CIM_ManagedElement", "", "", false},
    {"CIM_SystemSpecificCollection", "CIM_Collection", "InstanceID", "", false},
    {"CIM_ReplicationGroup", "CIM_SystemSpecificCollection", "",
     "Persistent:boolean,DeleteOnEmptyElement:boolean,DeleteOnUnassociated:boolean", false},
    {"CIM_Identity", "CIM_ManagedElement", "InstanceID", "CurrentlyAuthenticated:boolean", false},
    {"CIM_StorageHardwareID", "CIM_Identity", "", "StorageID:string,IDType:uint16", false},
    {"CIM_Privilege", "CIM_ManagedElement", "InstanceID",
     "PrivilegeGranted:boolean,Activities:uint16[]", false},
    {"CIM_AuthorizedPrivilege", "CIM_Privilege", "", "", false},
    {"CIM_Capabilities", "CIM_ManagedElement", "InstanceID", "", false},
    {"CIM_StorageReplicationCapabilities", "CIM_Capabilities", "",
     "SupportedSynchronizationType:uint16[],SupportedAsynchronousActions:uint16[],"
     "SupportedSynchronousActions:uint16[]",
     false},
    {"CIM_Job", "CIM_LogicalElement", "",
     "JobStatus:string,TimeSubmitted:datetime,StartTime:datetime,ElapsedTime:datetime,"
     "PercentComplete:uint16,DeleteOnCompletion:boolean,ErrorCode:uint16,ErrorDescription:string",
     false},
    {"CIM_ConcreteJob", "CIM_Job", "InstanceID",
     "JobState:uint16,TimeOfLastStateChange:datetime,TimeBeforeRemoval:datetime", false},

    {"CIM_Dependency", "", "Antecedent,Dependent", "Antecedent:reference,Dependent:reference",
     true},
    {"CIM_HostedDependency", "CIM_Dependency", "", "", true},
    {"CIM_HostedService", "CIM_HostedDependency", "", "", true},
    {"CIM_SharedSecretIsShared", "CIM_Dependency", "", "", true},
    {"CIM_AllocatedFromStoragePool", "CIM_Dependency", "", "SpaceConsumed:uint64", true},
    {"CIM_ProtocolControllerForDevice", "CIM_Dependency", "", "DeviceNumber:string", true},
    {"CIM_ProtocolControllerForUnit", "CIM_ProtocolControllerForDevice", "", "DeviceAccess:uint16",
     true},
    {"CIM_ElementSettingData", "", "ManagedElement,SettingData",
     "ManagedElement:reference,SettingData:reference,IsDefault:uint16,IsCurrent:uint16", true},
    {"CIM_SettingsDefineState", "", "ManagedElement,SettingData",
     "ManagedElement:reference,SettingData:reference", true},
    {"CIM_MemberOfCollection", "", "Collection,Member", "Collection:reference,Member:reference",
     true},
    {"CIM_OrderedMemberOfCollection", "CIM_MemberOfCollection", "", "AssignedSequence:uint64",
     true},
    {"CIM_AuthorizedSubject", "", "Privilege,PrivilegedElement",
     "Privilege:reference,PrivilegedElement:reference", true},
    {"CIM_AuthorizedTarget", "", "Privilege,TargetElement",
     "Privilege:reference,TargetElement:reference", true},
    {"CIM_Synchronized", "", "SystemElement,SyncedElement",
     "SystemElement:reference,SyncedElement:reference,SyncMaintained:boolean,WhenSynced:datetime",
     true},
    {"CIM_StorageSynchronized", "CIM_Synchronized", "",
     "CopyType:uint16,SyncState:uint16,ReplicaType:uint16,SyncType:uint16", true},
    {"CIM_ElementCapabilities", "", "ManagedElement,Capabilities",
     "ManagedElement:reference,Capabilities:reference", true},

    {"{P}_StorageSystem", "CIM_ComputerSystem", "", "", false},
    {"{P}_StorageProcessorSystem", "CIM_ComputerSystem", "", "", false},
    {"{P}_StorageConfigurationService", "CIM_StorageConfigurationService", "", "", false},
    {"{P}_ControllerConfigurationService", "CIM_ControllerConfigurationService", "", "", false},
    {"{P}_ReplicationService", "SNIA_ReplicationService", "", "", false},
    {"{P}_SharedSecretService", "CIM_SharedSecretService", "", "", false},
    {"{P}_SharedSecret", "CIM_SharedSecret", "", "", false},
    {"{P}_StorageReplicationCapabilities", "CIM_StorageReplicationCapabilities", "", "", false},
    {"{P}_StoragePool", "CIM_StoragePool", "", "", false},
    {"{P}_StorageVolume", "CIM_StorageVolume", "", "CurrentManager:string", false},
    {"{P}_PiTView", "CIM_StorageVolume", "", "CurrentManager:string", false},
    {"{P}_SnapshotVolume", "CIM_StorageVolume", "", "CurrentManager:string", false},
    {"{P}_StorageVolumeSetting", "CIM_StorageSetting", "",
     "PreferredManager:string,StorageVolume_DeviceID:string", false},
    {"{P}_PiTGroup", "CIM_SystemSpecificCollection", "", "", false},
    {"{P}_PiT", "CIM_SynchronizationAspect", "", "SequenceNumber:uint64", false},
    {"{P}_ConsistencyGroup", "CIM_ReplicationGroup", "", "", false},
    {"{P}_ConsistencyGroupPiT", "CIM_SynchronizationAspect", "", "SequenceNumber:uint64", false},
    {"{P}_ConsistencyGroupPiTView", "CIM_SystemSpecificCollection", "", "", false},
    {"{P}_StorageHardwareID", "CIM_StorageHardwareID", "", "ClusterID:string,HostID:string", false},
    {"{P}_HardwareIDCollection", "CIM_SystemSpecificCollection", "", "", false},
    {"{P}_Cluster", "CIM_SystemSpecificCollection", "", "", false},
    {"{P}_AuthorizedPrivilege", "CIM_AuthorizedPrivilege", "", "", false},
    {"{P}_SCSIProtocolController", "CIM_SCSIProtocolController", "", "", false},
    {"{P}_ConcreteJob", "CIM_ConcreteJob", "", "", false},

    {"{P}_HostedService", "CIM_HostedService", "", "", true},
    {"{P}_SharedSecretIsShared", "CIM_SharedSecretIsShared", "", "", true},
    {"{P}_AllocatedFromStoragePool", "CIM_AllocatedFromStoragePool", "", "", true},
    {"{P}_ElementSettingData", "CIM_ElementSettingData", "", "", true},
    {"{P}_MemberOfCollection", "CIM_MemberOfCollection", "", "", true},
    {"{P}_OrderedMemberOfCollection", "CIM_OrderedMemberOfCollection", "", "", true},
    {"{P}_AuthorizedSubject", "CIM_AuthorizedSubject", "", "", true},
    {"{P}_AuthorizedTarget", "CIM_AuthorizedTarget", "", "", true},
    {"{P}_ProtocolControllerForUnit", "CIM_ProtocolControllerForUnit", "", "", true},
    {"{P}_SettingsDefineState", "CIM_SettingsDefineState", "", "", true},
    {"{P}_ElementCapabilities", "CIM_ElementCapabilities", "", "", true},
    {"{P}_ViewBasedOnPiT", "CIM_Dependency", "", "", true},
    {"{P}_PiTViewSynchronized", "CIM_StorageSynchronized", "", "", true},
    {"{P}_CGPiTViewSynchronized", "CIM_Synchronized", "", "", true},
    {"{P}_VolumeCopySynchronized", "CIM_StorageSynchronized", "", "", true},
    {"{P}_StorageSynchronized", "CIM_StorageSynchronized", "", "", true},
};

struct MethodRow {
    const char* className;  // "{P}" is the vendor prefix
    const char* method;
    // "Name:type" comma separated: "[]" after the type for arrays, "ref(Class)" for
    // references; a leading "out " marks an output, "inout " both.
    const char* parameters;
};

const MethodRow kMethodRows[] = {
    {"{P}_ReplicationService", "CreatePiTGroup",
     "BaseVolume:ref(CIM_StorageVolume),Label:string,RepositorySize:uint64,"
     "out Job:ref(CIM_ConcreteJob)"},
    {"{P}_ReplicationService", "CreateSynchronizationAspect",
     "Name:string,SyncType:uint16,Mode:uint16,SourceElement:ref(CIM_ManagedElement),"
     "SourceGroup:ref(CIM_ReplicationGroup),Consistency:uint16,"
     "ServiceAccessPoint:ref(CIM_ManagedElement),out SettingsState:ref(CIM_SettingsDefineState),"
     "out Job:ref(CIM_ConcreteJob)"},
    {"{P}_ReplicationService", "ModifySettingsDefineState",
     "Operation:uint16,SettingsState:ref(CIM_SettingsDefineState),"
     "inout TargetElement:ref(CIM_ManagedElement),TargetGroup:ref(CIM_ReplicationGroup),"
     "TargetPool:ref(CIM_StoragePool),TargetAccessPoint:ref(CIM_ManagedElement),"
     "TargetElementCount:uint64,TargetSettingGoal:ref(CIM_SettingData),WaitForCopyState:uint16,"
     "out Job:ref(CIM_ConcreteJob)"},
    {"{P}_ReplicationService", "ModifyReplicaSynchronization",
     "Operation:uint16,Synchronization:ref(CIM_Synchronized),Force:boolean,"
     "WaitForCopyState:uint16,ReplicationSettingData:ref(CIM_SettingData),"
     "out Job:ref(CIM_ConcreteJob)"},
    {"{P}_ReplicationService", "CreateGroup",
     "GroupName:string,Members:ref[](CIM_ManagedElement),Persistent:boolean,"
     "DeleteOnEmptyElement:boolean,DeleteOnUnassociated:boolean,"
     "out ReplicationGroup:ref(CIM_ReplicationGroup),out Job:ref(CIM_ConcreteJob)"},
    {"{P}_ReplicationService", "AddMembers",
     "ReplicationGroup:ref(CIM_ReplicationGroup),Members:ref[](CIM_ManagedElement),"
     "out Job:ref(CIM_ConcreteJob)"},
    {"{P}_ReplicationService", "RemoveMembers",
     "ReplicationGroup:ref(CIM_ReplicationGroup),Members:ref[](CIM_ManagedElement),"
     "DeleteOnEmptyElement:boolean,out Job:ref(CIM_ConcreteJob)"},
    {"{P}_ReplicationService", "DeleteGroup",
     "ReplicationGroup:ref(CIM_ReplicationGroup),RemoveElements:boolean,"
     "out Job:ref(CIM_ConcreteJob)"},
    {"{P}_ControllerConfigurationService", "ExposePaths",
     "LUNames:string[],InitiatorPortIDs:string[],TargetPortIDs:string[],DeviceNumbers:string[],"
     "DeviceAccesses:uint16[],inout ProtocolControllers:ref[](CIM_SCSIProtocolController),"
     "out Job:ref(CIM_ConcreteJob)"},
    {"{P}_ControllerConfigurationService", "HidePaths",
     "LUNames:string[],InitiatorPortIDs:string[],TargetPortIDs:string[],"
     "inout ProtocolControllers:ref[](CIM_SCSIProtocolController),out Job:ref(CIM_ConcreteJob)"},
    {"{P}_StorageConfigurationService", "CreateReplica",
     "ElementName:string,CopyType:uint16,SourceElement:ref(CIM_LogicalElement),"
     "TargetSettingGoal:ref(CIM_SettingData),TargetPool:ref(CIM_StoragePool),"
     "out TargetElement:ref(CIM_LogicalElement),out Job:ref(CIM_ConcreteJob)"},
    {"{P}_StorageConfigurationService", "CreateOrModifyElementFromStoragePool",
     "ElementName:string,ElementType:uint16,Goal:ref(CIM_SettingData),inout Size:uint64,"
     "InPool:ref(CIM_StoragePool),inout TheElement:ref(CIM_LogicalElement),"
     "out Job:ref(CIM_ConcreteJob)"},
    {"{P}_StorageConfigurationService", "AssignStorageResourceAffinity",
     "ResourceType:uint16,StorageProcessor:ref(CIM_ComputerSystem),"
     "StorageResources:ref[](CIM_ManagedElement),out Job:ref(CIM_ConcreteJob)"},
    {"{P}_StorageConfigurationService", "AttachOrModifyReplica",
     "SourceElement:ref(CIM_LogicalElement),TargetElement:ref(CIM_LogicalElement),"
     "CopyType:uint16,Goal:ref(CIM_SettingData),out Job:ref(CIM_ConcreteJob)"},
    {"{P}_StorageConfigurationService", "ModifySynchronization",
     "Operation:uint16,Synchronization:ref(CIM_StorageSynchronized),"
     "out Job:ref(CIM_ConcreteJob)"},
    {"{P}_StorageConfigurationService", "ReturnToStoragePool",
     "TheElement:ref(CIM_LogicalElement),out Job:ref(CIM_ConcreteJob)"},
    {"CIM_ConcreteJob", "RequestStateChange",
     "RequestedState:uint16,TimeoutPeriod:datetime,out Job:ref(CIM_ConcreteJob)"},
};

MethodDef parseMethod(const MethodRow& row) {
    MethodDef m;
    m.name = row.method;
    std::string text = row.parameters;
    size_t at = 0;
    while (at < text.size()) {
        // Commas separate parameters; none appears inside a declaration.
        size_t end = text.find(',', at);
        if (end == std::string::npos) end = text.size();
        std::string decl = text.substr(at, end - at);
        at = end + 1;
        ParameterDef p;
        if (decl.rfind("out ", 0) == 0) {
            p.in = false;
            p.out = true;
            decl = decl.substr(4);
        } else if (decl.rfind("inout ", 0) == 0) {
            p.out = true;
            decl = decl.substr(6);
        }
        const size_t colon = decl.find(':');
        p.name = decl.substr(0, colon);
        std::string type = decl.substr(colon + 1);
        const size_t paren = type.find('(');
        if (paren != std::string::npos) {
            p.referenceClass = type.substr(paren + 1, type.size() - paren - 2);
            type.resize(paren);
        }
        if (type.size() > 2 && type.compare(type.size() - 2, 2, "[]") == 0) {
            p.isArray = true;
            type.resize(type.size() - 2);
        }
        p.type = type == "ref" ? cim::CIMTYPE_REFERENCE : cim::CIMTYPE_STRING;
        if (type != "ref") cim::cimTypeFromString(type, p.type);
        m.parameters.push_back(std::move(p));
    }
    return m;
}

const Row kInteropRows[] = {
    {"CIM_ManagedElement", "", "",
     "Caption:string,Description:string,ElementName:string,InstanceID:string", false},
    {"CIM_Namespace", "CIM_ManagedElement",
     "SystemCreationClassName,SystemName,ObjectManagerCreationClassName,ObjectManagerName,"
     "CreationClassName,Name",
     "SystemCreationClassName:string,SystemName:string,ObjectManagerCreationClassName:string,"
     "ObjectManagerName:string,CreationClassName:string,Name:string,ClassInfo:uint16",
     false},
};

std::vector<std::string> split(const std::string& s) {
    std::vector<std::string> out;
    std::stringstream in(s);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty()) out.push_back(item);
    return out;
}

std::string expand(const char* text, const std::string& prefix) {
    std::string s = text;
    auto pos = s.find("{P}");
    if (pos != std::string::npos) s.replace(pos, 3, prefix);
    return s;
}

template <size_t N>
ClassTable build(const Row (&rows)[N], const std::string& prefix, ClassTable table,
                 void (ClassTable::*add)(ClassDef)) {
    for (const Row& r : rows) {
        ClassDef d;
        d.name = expand(r.name, prefix);
        d.superClass = r.super;
        d.keys = split(r.keys);
        d.association = r.association;
        for (const std::string& p : split(r.props)) {
            auto colon = p.find(':');
            PropertyDef pd;
            pd.name = p.substr(0, colon);
            std::string type = p.substr(colon + 1);
            if (type.size() > 2 && type.compare(type.size() - 2, 2, "[]") == 0) {
                pd.isArray = true;
                type.resize(type.size() - 2);
            }
            cim::cimTypeFromString(type, pd.type);
            d.properties.push_back(pd);
        }
        (table.*add)(std::move(d));
    }
    return table;
}

}  // namespace

namespace {
inline unsigned char fold(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}
}  // namespace

size_t ClassTable::NoCaseHash::operator()(const std::string& s) const {
    size_t h = 1469598103934665603ULL;
    for (unsigned char c : s) h = (h ^ fold(c)) * 1099511628211ULL;
    return h;
}

bool ClassTable::NoCaseEqual::operator()(const std::string& a, const std::string& b) const {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

void ClassTable::add(ClassDef def) {
    m_index[def.name] = m_classes.size();
    m_classes.push_back(std::move(def));
}

void ClassTable::link() {
    m_ancestors.assign(m_classes.size(), {});
    for (size_t i = 0; i < m_classes.size(); ++i) {
        size_t k = i;
        while (k != SIZE_MAX && m_ancestors[i].size() < m_classes.size()) {
            m_ancestors[i].push_back(k);
            k = m_classes[k].superClass.empty() ? SIZE_MAX : indexOf(m_classes[k].superClass);
        }
    }
}

size_t ClassTable::indexOf(const std::string& name) const {
    auto it = m_index.find(name);
    return it == m_index.end() ? SIZE_MAX : it->second;
}

ClassTable ClassTable::forArray(const std::string& prefix) {
    ClassTable t = build(kArrayRows, prefix, ClassTable(), &ClassTable::add);
    for (const MethodRow& row : kMethodRows) {
        size_t i = t.indexOf(expand(row.className, prefix));
        if (i != SIZE_MAX) t.m_classes[i].methods.push_back(parseMethod(row));
    }
    t.link();
    return t;
}

ClassTable ClassTable::forInterop() {
    ClassTable t = build(kInteropRows, "", ClassTable(), &ClassTable::add);
    t.link();
    return t;
}

const ClassDef* ClassTable::find(const std::string& name) const {
    size_t i = indexOf(name);
    return i == SIZE_MAX ? nullptr : &m_classes[i];
}

bool ClassTable::isA(const std::string& name, const std::string& ancestor) const {
    size_t i = indexOf(name);
    size_t a = indexOf(ancestor);
    if (i == SIZE_MAX || a == SIZE_MAX) return false;
    for (size_t k : m_ancestors[i])
        if (k == a) return true;
    return false;
}

const ClassDef* ClassTable::declaring(const std::string& className,
                                      const std::string& property) const {
    const ClassDef* d = find(className);
    const ClassDef* found = nullptr;
    while (d) {
        for (const PropertyDef& p : d->properties)
            if (equalsNoCase(p.name, property)) found = d;  // keep the topmost declaration
        d = d->superClass.empty() ? nullptr : find(d->superClass);
    }
    return found;
}

const PropertyDef* ClassTable::property(const std::string& className,
                                        const std::string& property) const {
    const ClassDef* d = find(className);
    while (d) {
        for (const PropertyDef& p : d->properties)
            if (equalsNoCase(p.name, property)) return &p;
        d = d->superClass.empty() ? nullptr : find(d->superClass);
    }
    return nullptr;
}

const MethodDef* ClassTable::method(const std::string& className, const std::string& method) const {
    for (const ClassDef* d = find(className); d;
         d = d->superClass.empty() ? nullptr : find(d->superClass))
        for (const MethodDef& m : d->methods)
            if (equalsNoCase(m.name, method)) return &m;
    return nullptr;
}

const std::vector<std::string>& ClassTable::keys(const std::string& className) const {
    static const std::vector<std::string> none;
    const ClassDef* d = find(className);
    while (d) {
        if (!d->keys.empty()) return d->keys;
        d = d->superClass.empty() ? nullptr : find(d->superClass);
    }
    return none;
}

cim::CIMClass ClassTable::toCIMClass(const ClassDef& def, bool localOnly,
                                     bool includeClassOrigin) const {
    cim::CIMClass c(def.name, def.superClass);
    std::vector<const ClassDef*> chain;
    for (const ClassDef* d = &def; d; d = d->superClass.empty() ? nullptr : find(d->superClass)) {
        chain.push_back(d);
        if (localOnly) break;
    }
    const auto& keyNames = keys(def.name);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        for (const PropertyDef& p : (*it)->properties) {
            if (c.findProperty(p.name) != cim::PEG_NOT_FOUND) continue;
            cim::CIMValue v(p.type, p.isArray);
            cim::CIMProperty prop(
                p.name, v, 0,
                p.type == cim::CIMTYPE_REFERENCE ? cim::CIMName("CIM_ManagedElement")
                                                 : cim::CIMName(),
                includeClassOrigin ? cim::CIMName((*it)->name) : cim::CIMName(), *it != &def);
            for (const std::string& k : keyNames)
                if (equalsNoCase(k, p.name))
                    prop.addQualifier(cim::CIMQualifier("Key", cim::CIMValue(true)));
            c.addProperty(prop);
        }
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        for (const MethodDef& md : (*it)->methods) {
            if (c.findMethod(md.name) != cim::PEG_NOT_FOUND) continue;
            cim::CIMMethod m(md.name, cim::CIMTYPE_UINT32,
                             includeClassOrigin ? cim::CIMName((*it)->name) : cim::CIMName(),
                             *it != &def);
            for (const ParameterDef& pd : md.parameters) {
                cim::CIMParameter p(
                    pd.name, pd.type, pd.isArray, 0,
                    pd.referenceClass.empty() ? cim::CIMName() : cim::CIMName(pd.referenceClass));
                if (pd.in) p.addQualifier(cim::CIMQualifier("IN", cim::CIMValue(true)));
                if (pd.out) p.addQualifier(cim::CIMQualifier("OUT", cim::CIMValue(true)));
                m.addParameter(p);
            }
            c.addMethod(m);
        }
    }
    if (def.association) c.addQualifier(cim::CIMQualifier("Association", cim::CIMValue(true)));
    return c;
}

}  // namespace sim
