#include "sim/Provider.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <unordered_set>

#include <cim/xml/Codec.h>

#include "Fabric.h"
#include "Jobs.h"
#include "ProviderImpl.h"
#include "Repository.h"
#include "StateSaver.h"
#include "Text.h"

namespace sim {

namespace {

using cim::CIMObjectPath;
using cim::xml::Request;
using cim::xml::Response;

int64_t systemClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

[[noreturn]] void error(cim::CIMStatusCode code, const std::string& text) {
    throw CimError(code, text);
}

enum class Space { Array, Interop };

// Properties the caller asked for; DeepInheritance false also drops those the
// requested class does not declare. Trimmed in place: the instance is our own.
cim::CIMInstance shape(const ClassTable& classes, cim::CIMInstance in,
                       const cim::CIMPropertyList& list, bool classOrigin,
                       const std::string* onlyClass) {
    if (list.isNull() && !classOrigin && !onlyClass) return in;
    for (cim::Uint32 k = in.getPropertyCount(); k-- > 0;) {
        cim::CIMProperty& p = in.getProperty(k);
        const std::string& name = p.getName().getString();
        if (!list.contains(p.getName()) || (onlyClass && !classes.property(*onlyClass, name))) {
            in.removeProperty(k);
        } else if (classOrigin) {
            const ClassDef* d = classes.declaring(in.getClassName().getString(), name);
            if (d) p.setClassOrigin(d->name);
        }
    }
    return in;
}

}  // namespace

Provider::Impl::Impl(Config c, Clock clk) : config(std::move(c)), clock(std::move(clk)) {
    if (!clock) clock = systemClockMs;
    arrays = config.arrays;
    for (Array& a : arrays) a.reindex();
    jobs.setVanish(config.jobs.vanish);
    jobs.setRetention(config.jobs.retentionMs);
    jobModes = config.jobs.methods;
}

void Provider::Impl::advanceJobs() {
    const int64_t now = clock();
    if (now < nextDue.load()) return;
    std::unique_lock<FairSharedMutex> lock(mutex);
    if (jobs.advance(now, arrays)) changed();
    nextDue.store(jobs.nextDue());
}

void Provider::Impl::changed() {
    ++changes;
    if (saver) saver->wake();
}

void Provider::Impl::countRequest() {
    if (!holding.load()) return;
    std::unique_lock<FairSharedMutex> lock(mutex);
    jobs.noteRequest(clock());
    holding.store(jobs.anyHeld());
    nextDue.store(jobs.nextDue());
}

void Provider::Impl::registerMethod(const std::string& classSuffix, const std::string& method,
                                    MethodHandler handler) {
    methods[toLower(classSuffix + "." + method)] = std::move(handler);
}

Provider::Provider(Config config, Clock clock)
    : m_impl(std::make_unique<Impl>(std::move(config), std::move(clock))) {
    registerBuiltinMethods(*m_impl);
}

Provider::~Provider() {
    m_impl->saver.reset();  // its last save reads the arrays
}

const Config& Provider::config() const {
    return m_impl->config;
}

Response Provider::handle(const Request& req) {
    Impl& im = *m_impl;
    Response resp;
    resp.messageId = req.messageId;
    resp.intrinsic = req.intrinsic;
    resp.methodName = req.methodName;
    try {
        im.advanceJobs();
        if (req.intrinsic) {
            im.intrinsic(req, resp);
        } else {
            im.invoke(req, resp);
        }
    } catch (const CimError& e) {
        resp = Response();
        resp.messageId = req.messageId;
        resp.intrinsic = req.intrinsic;
        resp.methodName = req.methodName;
        resp.errorCode = e.code;
        resp.errorDescription = e.what();
    } catch (const std::exception& e) {
        resp = Response();
        resp.messageId = req.messageId;
        resp.intrinsic = req.intrinsic;
        resp.methodName = req.methodName;
        resp.errorCode = cim::CIM_ERR_FAILED;
        resp.errorDescription = std::string("The provider failed: ") + e.what();
    }
    im.countRequest();
    return resp;
}

void Provider::Impl::intrinsic(const Request& req, Response& resp) {
    const std::string& op = req.methodName;
    Space space;
    if (equalsNoCase(req.nameSpace.getString(), config.arrayNamespace)) {
        space = Space::Array;
    } else if (equalsNoCase(req.nameSpace.getString(), config.interopNamespace)) {
        space = Space::Interop;
    } else {
        error(cim::CIM_ERR_INVALID_NAMESPACE,
              "Namespace \"" + printable(req.nameSpace.getString()) + "\" does not exist");
    }
    const ClassTable& classes = space == Space::Array
                                    ? Repository::arrayClassesFor(config.classPrefix)
                                    : Repository::interopClasses();
    auto requireClass = [&](const std::string& name) -> const ClassDef& {
        const ClassDef* d = classes.find(name);
        if (!d)
            error(cim::CIM_ERR_INVALID_CLASS, "Class \"" + printable(name) + "\" does not exist");
        return *d;
    };

    const bool isRead = op == cim::xml::kGetInstance || op == cim::xml::kEnumerateInstances ||
                        op == cim::xml::kEnumerateInstanceNames || op == cim::xml::kAssociators ||
                        op == cim::xml::kAssociatorNames || op == cim::xml::kReferences ||
                        op == cim::xml::kReferenceNames || op == cim::xml::kGetClass;
    const bool isWrite = op == cim::xml::kModifyInstance || op == cim::xml::kDeleteInstance;
    if (!isRead && !isWrite)
        error(cim::CIM_ERR_NOT_SUPPORTED, "Operation \"" + printable(op) + "\" is not supported");

    if (!req.unknownParameters.empty())
        error(cim::CIM_ERR_INVALID_PARAMETER,
              "Unknown parameter \"" + printable(req.unknownParameters.front()) + "\" for " + op);

    std::shared_lock<FairSharedMutex> readLock(mutex, std::defer_lock);
    std::unique_lock<FairSharedMutex> writeLock(mutex, std::defer_lock);
    if (isWrite) {
        writeLock.lock();
    } else {
        readLock.lock();
    }
    Repository repo(config, arrays, jobs, clock());

    if (op == cim::xml::kGetClass) {
        if (!req.className) error(cim::CIM_ERR_INVALID_PARAMETER, "GetClass needs ClassName");
        const ClassDef& d = requireClass(req.className->getString());
        resp.cimClass = classes.toCIMClass(d, req.localOnly.value_or(true),
                                           req.includeClassOrigin.value_or(false));
        resp.hasReturnValue = true;
        return;
    }

    if (op == cim::xml::kGetInstance) {
        if (!req.instanceName)
            error(cim::CIM_ERR_INVALID_PARAMETER, "GetInstance needs InstanceName");
        const CIMObjectPath& p = *req.instanceName;
        const ClassDef& d = requireClass(p.getClassName().getString());
        cim::CIMInstance inst;
        if (d.association) {
            auto link = repo.resolveLink(p);
            if (!link) error(cim::CIM_ERR_NOT_FOUND, "No instance " + printable(p.toString()));
            inst = repo.linkInstance(*link);
        } else {
            auto o = repo.resolve(p);
            if (!o) error(cim::CIM_ERR_NOT_FOUND, "No instance " + printable(p.toString()));
            inst = repo.instance(*o);
        }
        resp.instances.push_back(shape(classes, std::move(inst), req.propertyList,
                                       req.includeClassOrigin.value_or(false), nullptr));
        resp.hasReturnValue = true;
        return;
    }

    if (op == cim::xml::kEnumerateInstances || op == cim::xml::kEnumerateInstanceNames) {
        if (!req.className) error(cim::CIM_ERR_INVALID_PARAMETER, op + " needs ClassName");
        const ClassDef& d = requireClass(req.className->getString());
        const bool names = op == cim::xml::kEnumerateInstanceNames;
        const bool deep = req.deepInheritance.value_or(true);
        const bool origin = req.includeClassOrigin.value_or(false);
        const std::string onlyClass = d.name;
        resp.hasReturnValue = true;
        if (d.association) {
            repo.forEachLink(d.name, [&](const Link& l) {
                if (names) {
                    resp.instanceNames.push_back(repo.linkPath(l));
                } else {
                    resp.instances.push_back(shape(classes, repo.linkInstance(l), req.propertyList,
                                                   origin, deep ? nullptr : &onlyClass));
                }
            });
        } else if (space == Space::Interop) {
            if (classes.isA("CIM_Namespace", d.name))
                repo.forEachNamespace([&](const Obj& o) {
                    if (names) {
                        resp.instanceNames.push_back(repo.path(o));
                    } else {
                        resp.instances.push_back(shape(classes, repo.instance(o), req.propertyList,
                                                       origin, deep ? nullptr : &onlyClass));
                    }
                });
        } else {
            repo.forEachObject(d.name, [&](const Obj& o) {
                if (names) {
                    resp.instanceNames.push_back(repo.path(o));
                } else {
                    resp.instances.push_back(shape(classes, repo.instance(o, req.propertyList),
                                                   req.propertyList, origin,
                                                   deep ? nullptr : &onlyClass));
                }
            });
        }
        return;
    }

    if (op == cim::xml::kAssociators || op == cim::xml::kAssociatorNames ||
        op == cim::xml::kReferences || op == cim::xml::kReferenceNames) {
        if (!req.objectName) error(cim::CIM_ERR_INVALID_PARAMETER, op + " needs ObjectName");
        const CIMObjectPath& p = *req.objectName;
        // Unknown classes answer CIM_ERR_INVALID_CLASS, as the array's providers do;
        // clients take that as "no such objects" rather than a failure.
        if (!classes.find(p.getClassName().getString()))
            error(cim::CIM_ERR_INVALID_CLASS, "ObjectName names the unknown class \"" +
                                                  printable(p.getClassName().getString()) + "\"");
        if (p.getKeyBindings().empty())
            error(cim::CIM_ERR_NOT_SUPPORTED, "Association queries on classes are not supported");
        const bool refs = op == cim::xml::kReferences || op == cim::xml::kReferenceNames;
        const bool names = op == cim::xml::kAssociatorNames || op == cim::xml::kReferenceNames;
        auto checkFilter = [&](const std::optional<cim::CIMName>& n,
                               const char* what) -> const ClassDef* {
            if (!n || n->isNull()) return nullptr;
            const ClassDef* d = classes.find(n->getString());
            if (!d)
                error(cim::CIM_ERR_INVALID_CLASS,
                      std::string(what) + " \"" + printable(n->getString()) + "\" is not a class");
            return d;
        };
        const ClassDef* assocClass = refs ? nullptr : checkFilter(req.assocClass, "AssocClass");
        const ClassDef* resultClass = checkFilter(req.resultClass, "ResultClass");
        const std::string role = req.role.value_or("");
        const std::string resultRole = refs ? "" : req.resultRole.value_or("");
        const bool origin = req.includeClassOrigin.value_or(false);
        resp.hasReturnValue = true;
        if (space == Space::Interop) return;  // namespaces take part in no association here
        auto o = repo.resolve(p);
        if (!o) return;  // an object that does not exist has no associations
        // A pool reaches thousands of volumes: look duplicates up in a set.
        std::unordered_set<std::string> seen;
        repo.linksOf(*o, [&](const Link& l) {
            const bool mineA = l.a == *o;
            const std::string& myRole = mineA ? l.roleA : l.roleB;
            const std::string& otherRole = mineA ? l.roleB : l.roleA;
            const Obj& other = mineA ? l.b : l.a;
            if (!role.empty() && !equalsNoCase(role, myRole)) return;
            if (refs) {
                if (resultClass && !classes.isA(l.cls, resultClass->name)) return;
                if (names) {
                    resp.instanceNames.push_back(repo.linkPath(l));
                } else {
                    resp.instances.push_back(
                        shape(classes, repo.linkInstance(l), req.propertyList, origin, nullptr));
                }
                return;
            }
            if (assocClass && !classes.isA(l.cls, assocClass->name)) return;
            if (!resultRole.empty() && !equalsNoCase(resultRole, otherRole)) return;
            if (!repo.exists(other)) return;
            if (resultClass && !classes.isA(repo.className(other), resultClass->name)) return;
            std::string id = std::to_string(static_cast<int>(other.kind)) + "/" +
                             std::to_string(other.array) + "/" + std::to_string(other.sub) + "/" +
                             other.id;
            if (!seen.insert(std::move(id)).second) return;
            if (names) {
                resp.instanceNames.push_back(repo.path(other));
            } else {
                resp.instances.push_back(
                    shape(classes, repo.instance(other), req.propertyList, origin, nullptr));
            }
        });
        return;
    }

    if (op == cim::xml::kDeleteInstance) {
        if (!req.instanceName)
            error(cim::CIM_ERR_INVALID_PARAMETER, "DeleteInstance needs InstanceName");
        const CIMObjectPath& p = *req.instanceName;
        const ClassDef& d = requireClass(p.getClassName().getString());
        if (d.association) {
            if (!repo.resolveLink(p))
                error(cim::CIM_ERR_NOT_FOUND, "No instance " + printable(p.toString()));
            error(cim::CIM_ERR_NOT_SUPPORTED, "Associations of the array cannot be deleted");
        }
        auto o = repo.resolve(p);
        if (!o) error(cim::CIM_ERR_NOT_FOUND, "No instance " + printable(p.toString()));
        if (o->kind == Kind::Job) {
            const Job* j = jobs.find(o->id);
            if (clock() < j->endMs()) error(cim::CIM_ERR_FAILED, "The job is still running");
            jobs.remove(o->id);
            nextDue.store(jobs.nextDue());
            return;
        }
        error(cim::CIM_ERR_NOT_SUPPORTED,
              "Objects of the array cannot be deleted with DeleteInstance");
    }

    // ModifyInstance
    if (!req.modifiedInstance)
        error(cim::CIM_ERR_INVALID_PARAMETER, "ModifyInstance needs ModifiedInstance");
    const cim::CIMInstance& mod = *req.modifiedInstance;
    const CIMObjectPath& p = mod.getPath();
    const ClassDef& d = requireClass(p.getClassName().isNull() ? mod.getClassName().getString()
                                                               : p.getClassName().getString());
    if (d.association) {
        if (!repo.resolveLink(p))
            error(cim::CIM_ERR_NOT_FOUND, "No instance " + printable(p.toString()));
        error(cim::CIM_ERR_NOT_SUPPORTED, "Associations of the array cannot be modified");
    }
    auto o = repo.resolve(p);
    if (!o) error(cim::CIM_ERR_NOT_FOUND, "No instance " + printable(p.toString()));
    modifyInstance(repo, *o, mod, req.propertyList);
}

void Provider::Impl::modifyInstance(const Repository& repo, const Obj& o,
                                    const cim::CIMInstance& mod, const cim::CIMPropertyList& list) {
    const cim::CIMInstance current = repo.instance(o);
    const ClassTable& classes = repo.arrayClasses();
    Array& a = arrays[o.array];
    // Check every change first, then apply them all: a refused request changes nothing.
    std::optional<std::string> newSecret;
    std::optional<std::string> newLabel;
    std::optional<uint16_t> newAccess;
    for (const std::string& n : list.isNull() ? std::vector<std::string>() : [&] {
             std::vector<std::string> v;
             for (const cim::CIMName& c : list.getPropertyNameArray()) v.push_back(c.getString());
             return v;
         }()) {
        if (!classes.property(current.getClassName().getString(), n))
            error(cim::CIM_ERR_INVALID_PARAMETER, "Class " + current.getClassName().getString() +
                                                      " has no property \"" + printable(n) + "\"");
    }
    for (const cim::CIMProperty& prop : mod.getProperties()) {
        const std::string& name = prop.getName().getString();
        if (!list.contains(prop.getName())) continue;
        cim::Uint32 idx = current.findProperty(prop.getName());
        // Clients that send the whole class back send null for what the instance lacks.
        if (idx == cim::PEG_NOT_FOUND && prop.getValue().isNull()) continue;
        if (!classes.property(current.getClassName().getString(), name))
            error(cim::CIM_ERR_INVALID_PARAMETER, "Class " + current.getClassName().getString() +
                                                      " has no property \"" + printable(name) +
                                                      "\"");
        if (idx != cim::PEG_NOT_FOUND && current.getProperty(idx).getValue() == prop.getValue())
            continue;

        const cim::CIMValue& v = prop.getValue();
        const bool isString = v.getType() == cim::CIMTYPE_STRING && !v.isArray() && !v.isNull();
        if (o.kind == Kind::SharedSecret && equalsNoCase(name, "Secret")) {
            // Never echo the value: it is the array's password.
            if (!isString) error(cim::CIM_ERR_INVALID_PARAMETER, "\"Secret\" must be a string");
            std::string s;
            v.get(s);
            if (s.size() > 1024) error(cim::CIM_ERR_INVALID_PARAMETER, "\"Secret\" is too long");
            newSecret = s;
        } else if (o.kind == Kind::Volume && equalsNoCase(name, "ElementName")) {
            if (!isString)
                error(cim::CIM_ERR_INVALID_PARAMETER, "\"ElementName\" must be a string");
            std::string s;
            v.get(s);
            if (!validLabel(s))
                error(cim::CIM_ERR_FAILED,
                      "The name \"" + printable(s) +
                          "\" is not 1 to 30 letters, digits, '_', '-' or '#'");
            for (const Volume& other : a.volumes)
                if (other.uuid != o.id && equalsNoCase(other.label, s))
                    error(cim::CIM_ERR_FAILED, "The name \"" + s + "\" is used by another volume");
            for (const ConsistencyGroup& g : a.consistencyGroups)
                if (equalsNoCase(g.label, s))
                    error(cim::CIM_ERR_FAILED,
                          "The name \"" + s + "\" is used by a consistency group");
            newLabel = s;
        } else if (o.kind == Kind::Volume && equalsNoCase(name, "Access")) {
            if (v.getType() != cim::CIMTYPE_UINT16 || v.isArray() || v.isNull())
                error(cim::CIM_ERR_INVALID_PARAMETER, "\"Access\" must be a uint16");
            cim::Uint16 n = 0;
            v.get(n);
            if (n < 1 || n > 4) error(cim::CIM_ERR_INVALID_PARAMETER, "\"Access\" must be 1 to 4");
            newAccess = n;
        } else {
            error(cim::CIM_ERR_NOT_SUPPORTED, "Property \"" + printable(name) + "\" of " +
                                                  current.getClassName().getString() +
                                                  " cannot be modified");
        }
    }
    if (o.kind == Kind::Volume && (newLabel || newAccess)) {
        const Volume* vol = a.findVolume(o.id);
        if (vol->kind == VolumeKind::PiTView && a.providerSecret != a.password)
            error(cim::CIM_ERR_FAILED, "The provider's stored array password is out of date");
    }
    if (newSecret) a.providerSecret = *newSecret;
    if (Volume* vol = o.kind == Kind::Volume ? a.findVolume(o.id) : nullptr) {
        if (newLabel) vol->label = *newLabel;
        if (newAccess) vol->access = *newAccess;
    }
    changed();
}

void Provider::Impl::invoke(const Request& req, Response& resp) {
    resp.intrinsic = false;
    const CIMObjectPath& target = req.target;
    std::string ns = !target.getNameSpace().isNull() ? target.getNameSpace().getString()
                                                     : req.nameSpace.getString();
    if (!equalsNoCase(ns, config.arrayNamespace)) {
        if (equalsNoCase(ns, config.interopNamespace))
            error(cim::CIM_ERR_METHOD_NOT_FOUND, "No method \"" + printable(req.methodName) + "\"");
        error(cim::CIM_ERR_INVALID_NAMESPACE, "Namespace \"" + printable(ns) + "\" does not exist");
    }
    const ClassTable& classes = Repository::arrayClassesFor(config.classPrefix);
    if (!classes.find(target.getClassName().getString()))
        error(cim::CIM_ERR_NOT_FOUND,
              "Class \"" + printable(target.getClassName().getString()) + "\" does not exist");
    // Methods are registered by vendor class suffix ("_ReplicationService") or by the
    // full name of a standard class; the class and its superclasses are searched.
    auto lookup = [&](const std::string& className) -> const MethodHandler* {
        for (const ClassDef* d = classes.find(className); d;
             d = d->superClass.empty() ? nullptr : classes.find(d->superClass)) {
            const std::string& cn = d->name;
            const bool vendor =
                cn.size() > config.classPrefix.size() &&
                equalsNoCase(cn.substr(0, config.classPrefix.size()), config.classPrefix);
            auto it = methods.find(toLower((vendor ? cn.substr(config.classPrefix.size()) : cn) +
                                           "." + req.methodName));
            if (it != methods.end()) return &it->second;
        }
        return nullptr;
    };

    std::unique_lock<FairSharedMutex> lock(mutex);
    Repository repo(config, arrays, jobs, clock());
    const MethodHandler* handler = lookup(target.getClassName().getString());
    std::optional<Obj> obj;
    if (!target.getKeyBindings().empty()) {
        obj = repo.resolve(target);
        // A path through a superclass names the method of the object's own class.
        if (!handler && obj) handler = lookup(repo.className(*obj));
    }
    if (!handler)
        error(cim::CIM_ERR_METHOD_NOT_FOUND, "Class " + target.getClassName().getString() +
                                                 " has no method \"" + printable(req.methodName) +
                                                 "\"");
    if (!target.getKeyBindings().empty() && !obj)
        error(cim::CIM_ERR_NOT_FOUND, "No instance " + printable(target.toString()));
    MethodCall call{*this, repo, obj, req, resp};
    uint32_t rc = (*handler)(call);
    resp.returnValue = cim::CIMValue(cim::Uint32(rc));
    nextDue.store(jobs.nextDue());
    changed();
}

nlohmann::json Provider::fabricLuns(const std::vector<std::string>& initiatorPorts) const {
    m_impl->advanceJobs();
    std::shared_lock<FairSharedMutex> lock(m_impl->mutex);
    return sim::fabricLuns(m_impl->arrays, initiatorPorts);
}

void Provider::failNextJobs(int count, uint16_t finalJobState, int skip) {
    if (count < 0 || count > 1000000 || skip < 0 || skip > 1000000)
        throw std::invalid_argument("failNextJobs: count or skip out of range");
    if (finalJobState < 7 || finalJobState > 10)
        throw std::invalid_argument("failNextJobs: a final job state is 7 to 10");
    std::unique_lock<FairSharedMutex> lock(m_impl->mutex);
    m_impl->jobs.failNext(count, finalJobState, skip);
}

void Provider::setJobsVanish(bool vanish) {
    std::unique_lock<FairSharedMutex> lock(m_impl->mutex);
    m_impl->jobs.setVanish(vanish);
    m_impl->nextDue.store(m_impl->jobs.nextDue());
}

CIMObjectPath Provider::startJob(int64_t durationMs, uint16_t finalJobState) {
    if (finalJobState < 7 || finalJobState > 10)
        throw std::invalid_argument("startJob: a final job state is 7 to 10");
    std::unique_lock<FairSharedMutex> lock(m_impl->mutex);
    Impl& im = *m_impl;
    const int64_t now = im.clock();
    Job& j = im.jobs.start(im.arrays.at(0).id, 0, "Simulated job", now, durationMs, finalJobState);
    j.holdArmed = true;
    Repository repo(im.config, im.arrays, im.jobs, now);
    CIMObjectPath p = repo.path({Kind::Job, 0, j.id, 0});
    im.nextDue.store(im.jobs.nextDue());
    return p;
}

std::string Provider::startJobWithEffect(int64_t durationMs, std::function<void(Array&)> effect,
                                         size_t arrayIndex) {
    std::unique_lock<FairSharedMutex> lock(m_impl->mutex);
    Impl& im = *m_impl;
    Job& j = im.jobs.start(im.arrays.at(arrayIndex).id, arrayIndex, "Simulated job", im.clock(),
                           durationMs);
    j.holdArmed = true;
    j.effect = [effect = std::move(effect)](Array& a) {
        if (effect) effect(a);
        return std::string();
    };
    im.nextDue.store(im.jobs.nextDue());
    im.holding.store(im.jobs.anyHeld());
    return j.id;
}

void Provider::reset() {
    std::unique_lock<FairSharedMutex> lock(m_impl->mutex);
    Impl& im = *m_impl;
    im.arrays = im.config.arrays;
    for (Array& a : im.arrays) a.reindex();
    im.jobs.clear();
    im.jobs.setVanish(im.config.jobs.vanish);
    im.jobModes = im.config.jobs.methods;
    im.nextDue.store(INT64_MAX);
    im.holding.store(false);
    im.changed();
}

Config Provider::currentState() const {
    std::shared_lock<FairSharedMutex> lock(m_impl->mutex);
    Config c = m_impl->config;
    c.arrays = m_impl->arrays;
    c.jobs.vanish = m_impl->jobs.vanish();
    c.jobs.methods = m_impl->jobModes;
    return c;
}

void Provider::saveState(const std::string& path) const {
    currentState().saveState(path);
}

void Provider::persistTo(const std::string& path) {
    Impl& im = *m_impl;
    im.saver.reset();
    if (path.empty()) return;
    im.saver = std::make_unique<StateSaver>(
        path, [&im] { return im.changes.load(); }, [this] { return currentState(); },
        [&im] { im.advanceJobs(); });
}

void Provider::flushState() {
    if (m_impl->saver) {
        m_impl->advanceJobs();
        m_impl->saver->flush();
    }
}

void Provider::setJobMode(const std::string& methodOrOperation, bool job) {
    std::string key;
    try {
        key = Config::jobModeKey(methodOrOperation);
    } catch (const ConfigError& e) {
        throw std::invalid_argument(e.what());
    }
    std::unique_lock<FairSharedMutex> lock(m_impl->mutex);
    m_impl->jobModes[key] = job;
    m_impl->changed();
}

void Provider::holdNextJobs(int count, int requests) {
    if (count < 1 || count > 1000000 || requests < 1 || requests > 1000000)
        throw std::invalid_argument("holdNextJobs: count and requests are 1 to 1000000");
    std::unique_lock<FairSharedMutex> lock(m_impl->mutex);
    m_impl->jobs.holdNext(count, requests);
    m_impl->holding.store(true);
}

}  // namespace sim
