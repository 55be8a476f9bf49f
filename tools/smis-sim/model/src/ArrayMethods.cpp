#include "ArrayMethods.h"

#include <algorithm>
#include <cstdio>

#include "Capacity.h"
#include "Text.h"

namespace sim {

namespace {

template <class T>
std::optional<T> as(const cim::CIMValue* v) {
    if (!v) return std::nullopt;
    T out{};
    v->get(out);
    return out;
}

}  // namespace

ArrayCall::ArrayCall(MethodCall& call, const MethodDef& declaration)
    : provider(call.provider),
      repo(call.repo),
      index(call.target->array),
      array(call.provider.arrays[call.target->array]),
      rules(call.provider.config.rules),
      nowMs(call.provider.clock()),
      m_call(call),
      m_declaration(declaration) {
    for (const cim::CIMParamValue& p : call.request.inParameters) {
        const ParameterDef* d = nullptr;
        for (const ParameterDef& pd : m_declaration.parameters)
            if (pd.in && equalsNoCase(pd.name, p.getParameterName())) d = &pd;
        if (!d) throw Refused{kInvalidParameter, "the method has no such parameter"};
        const std::string key = toLower(d->name);
        if (m_params.count(key)) throw Refused{kInvalidParameter, "a parameter came twice"};
        const cim::CIMValue& v = p.getValue();
        if (v.isNull()) continue;  // as if not sent
        if (v.isArray() != d->isArray) throw Refused{kInvalidParameter, "array or not"};
        if (v.getType() == d->type) {
            m_params[key] = v;
            continue;
        }
        // Untyped values arrive as text; typed ones of another type are refused.
        if (p.isTyped() || v.getType() != cim::CIMTYPE_STRING)
            throw Refused{kInvalidParameter, "a parameter of the wrong type"};
        try {
            m_params[key] = v.convertTo(d->type);
        } catch (const cim::Exception&) {
            throw Refused{kInvalidParameter, "a value that does not convert"};
        }
    }
}

const cim::CIMValue* ArrayCall::param(const char* name) const {
    auto it = m_params.find(toLower(name));
    return it == m_params.end() ? nullptr : &it->second;
}

bool ArrayCall::given(const char* name) const {
    return param(name) != nullptr;
}
std::optional<uint16_t> ArrayCall::u16(const char* name) const {
    return as<cim::Uint16>(param(name));
}
std::optional<uint64_t> ArrayCall::u64(const char* name) const {
    return as<cim::Uint64>(param(name));
}
std::optional<bool> ArrayCall::flag(const char* name) const {
    return as<cim::Boolean>(param(name));
}
std::optional<std::string> ArrayCall::text(const char* name) const {
    return as<std::string>(param(name));
}
std::optional<cim::CIMObjectPath> ArrayCall::ref(const char* name) const {
    return as<cim::CIMObjectPath>(param(name));
}
std::optional<std::vector<std::string>> ArrayCall::texts(const char* name) const {
    return as<std::vector<std::string>>(param(name));
}
std::optional<std::vector<uint16_t>> ArrayCall::u16s(const char* name) const {
    return as<std::vector<cim::Uint16>>(param(name));
}
std::optional<std::vector<cim::CIMObjectPath>> ArrayCall::refs(const char* name) const {
    return as<std::vector<cim::CIMObjectPath>>(param(name));
}

const Volume& ArrayCall::volume(const cim::CIMObjectPath& path) const {
    auto o = repo.resolve(path);
    if (!o || o->array != index) throw Refused{kNoVolume, "no such volume on this array"};
    if (o->kind != Kind::Volume) throw Refused{kInvalidParameter, "not a volume"};
    return *array.findVolume(o->id);
}

const Pool& ArrayCall::pool(const cim::CIMObjectPath& path) const {
    auto o = repo.resolve(path);
    if (!o || o->array != index) throw Refused{kNoPool, "no such pool on this array"};
    if (o->kind != Kind::Pool) throw Refused{kInvalidParameter, "not a pool"};
    return *array.findPool(o->id);
}

Obj ArrayCall::object(const cim::CIMObjectPath& path, Kind kind) const {
    auto o = repo.resolve(path);
    if (!o || o->array != index) throw Refused{kNoObject, "no such object on this array"};
    if (o->kind != kind) throw Refused{kInvalidParameter, "an object of another kind"};
    return *o;
}

Link ArrayCall::link(const cim::CIMObjectPath& path) const {
    const ClassDef* d = repo.arrayClasses().find(path.getClassName().getString());
    if (!d || !d->association) throw Refused{kInvalidParameter, "not an association"};
    auto l = repo.resolveLink(path);
    if (!l || l->a.array != index) throw Refused{kNoObject, "no such association on this array"};
    return *l;
}

bool ArrayCall::nameTaken(const std::string& label) const {
    for (const Volume& v : array.volumes)
        if (equalsNoCase(v.label, label)) return true;
    for (const ConsistencyGroup& g : array.consistencyGroups)
        if (equalsNoCase(g.label, label)) return true;
    return pending("name:" + toUpper(label)) > 0;
}

void ArrayCall::checkName(const std::string& label) const {
    // Always a valid name, so that every saved state loads again.
    if (!validLabel(label)) throw Refused{kInvalidParameter, "not 1 to 30 name characters"};
    if (rules.names && nameTaken(label)) throw Refused{kInvalidParameter, "the name is taken"};
}

void ArrayCall::checkPoolSpace(const std::string& poolRef, uint64_t bytes) const {
    if (!rules.poolSpace) return;
    const Pool* p = array.findPool(poolRef);
    if (!p) throw Refused{kNoPool, "no such pool"};
    const uint64_t used =
        poolUsedBytes(array, poolRef, rules.reservePercent) + pending("pool:" + poolRef);
    if (used > p->capacityBytes || p->capacityBytes - used < bytes)
        throw Refused{kFailed, "the pool is short of space"};
}

bool ArrayCall::mapped(const std::string& volumeUuid) const {
    return array.findMapping(volumeUuid) != nullptr;
}

uint64_t ArrayCall::pending(const std::string& key) const {
    return provider.jobs.pending(index, key);
}

std::string ArrayCall::newRef(const char* what) {
    auto used = [&](const std::string& ref) {
        return array.findPiTGroup(ref) || array.findConsistencyGroup(ref) ||
               array.findCgPiTView(ref);
    };
    std::string ref;
    do {
        ref = makeRef(array.id + ":" + what + ":" + std::to_string(++array.serial));
    } while (used(ref));
    return ref;
}

std::string ArrayCall::newVolumeUuid() {
    std::string uuid;
    do {
        uuid = makeVolumeUuid(array.id + ":volume:" + std::to_string(++array.serial));
    } while (array.findVolume(uuid));
    return uuid;
}

std::string ArrayCall::newPiTId() {
    std::string id;
    do {
        id = array.id + ":" + newRef("pit");
    } while (array.findPiT(id) || array.findCgPiT(id));
    return id;
}

std::string ArrayCall::newVolumeName(const std::string& stem, const char* suffix) {
    for (;;) {
        char number[24];
        std::snprintf(number, sizeof number, "_%s_%04llu", suffix,
                      static_cast<unsigned long long>(++array.serial % 1000000));
        const std::string tail = number;
        // Cut the stem, never the number, to keep within the 30 characters.
        std::string name = stem.substr(0, tail.size() < 30 ? 30 - tail.size() : 0) + tail;
        if (!nameTaken(name)) return name;
    }
}

int64_t ArrayCall::nextWhenMicros() {
    array.lastWhenMicros = std::max(nowMs * 1000, array.lastWhenMicros + 1);
    return array.lastWhenMicros;
}

uint64_t ArrayCall::newGeneration() {
    return ++array.lastGeneration;
}

void ArrayCall::output(const char* name, const cim::CIMValue& value) {
    m_call.output(name, value);
}

cim::CIMObjectPath ArrayCall::volumePath(const std::string& uuid, VolumeKind kind) const {
    return repo.volumePath(index, uuid, kind);
}

bool ArrayCall::jobMode(std::optional<uint16_t> operation) const {
    const auto& modes = provider.jobModes;
    if (operation) {
        auto it = modes.find(m_declaration.name + ":" + std::to_string(*operation));
        if (it != modes.end()) return it->second;
    }
    auto it = modes.find(m_declaration.name);
    return it != modes.end() && it->second;
}

uint32_t ArrayCall::finish(Effect effect, Claims claims, std::optional<uint16_t> operation) {
    if (!jobMode(operation)) {
        // Checked under the same lock just now, so the effect cannot fail here.
        return effect(array).empty() ? kDone : kFailed;
    }
    Job& j = provider.jobs.start(array.id, index, m_declaration.name, nowMs,
                                 provider.config.jobs.durationMs);
    j.effect = std::move(effect);
    j.claims = std::move(claims);
    if (provider.config.jobs.omitTheElement) {
        auto& outs = m_call.response.outParameters;
        outs.erase(std::remove_if(outs.begin(), outs.end(),
                                  [](const cim::CIMParamValue& p) {
                                      return equalsNoCase(p.getParameterName(), "TheElement");
                                  }),
                   outs.end());
    }
    output("Job", cim::CIMValue(repo.path({Kind::Job, index, j.id, 0})));
    return kJobStarted;
}

uint32_t ArrayCall::finishAtOnce(const std::function<void(Array&)>& effect,
                                 std::function<void(Array&)> undo) {
    effect(array);
    if (!jobMode(std::nullopt)) return kDone;
    Job& j = provider.jobs.start(array.id, index, m_declaration.name, nowMs,
                                 provider.config.jobs.durationMs);
    j.undo = std::move(undo);
    output("Job", cim::CIMValue(repo.path({Kind::Job, index, j.id, 0})));
    return kJobStarted;
}

MethodHandler arrayMethod(std::function<uint32_t(ArrayCall&)> handler) {
    return [handler = std::move(handler)](MethodCall& call) -> uint32_t {
        if (!call.target)
            throw CimError(cim::CIM_ERR_INVALID_PARAMETER,
                           "\"" + printable(call.request.methodName) +
                               "\" is a method of a service instance, not of its class");
        const MethodDef* declaration = call.repo.arrayClasses().method(
            call.repo.className(*call.target), call.request.methodName);
        if (!declaration)
            throw CimError(cim::CIM_ERR_METHOD_NOT_FOUND,
                           "No method \"" + printable(call.request.methodName) + "\"");
        const Array& a = call.provider.arrays[call.target->array];
        if (call.provider.config.rules.staleSecret && a.providerSecret != a.password)
            return kFailed;  // the provider's stored array password is out of date
        try {
            ArrayCall c(call, *declaration);
            return handler(c);
        } catch (const Refused& r) {
            call.response.outParameters.clear();
            return r.code;
        }
    };
}

}  // namespace sim
