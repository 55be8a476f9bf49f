// {P}_ControllerConfigurationService: ExposePaths and HidePaths map volumes to the
// protocol controller of a host or host group.
#include <algorithm>
#include <cctype>
#include <set>

#include "ArrayMethods.h"
#include "Text.h"

namespace sim {

namespace {

// A host's or host group's protocol controller.
struct Target {
    std::string ref;
    bool group = false;
};

// From "ProtocolControllers" (exactly one), else from the one host owning every
// "InitiatorPortIDs" port (compared as the fabric does).
Target targetOf(const ArrayCall& c) {
    if (auto spcs = c.refs("ProtocolControllers")) {
        if (spcs->size() != 1) throw Refused{kInvalidParameter, "one protocol controller"};
        Obj spc = c.object(spcs->front(), Kind::SPC);
        return {spc.id, spc.sub == 1};
    }
    const auto ports = c.texts("InitiatorPortIDs");
    if (!ports || ports->empty())
        throw Refused{kInvalidParameter, "ProtocolControllers or InitiatorPortIDs needed"};
    std::set<std::string> hosts;
    for (const std::string& port : *ports) {
        const std::string id = normalisePortId(port);
        const Host* owner = nullptr;
        for (const Host& h : c.array.hosts)
            for (const Port& p : h.ports)
                if (p.id == id) owner = &h;
        if (!owner) throw Refused{kInvalidInitiator, "an unknown initiator port"};
        hosts.insert(owner->ref);
    }
    if (hosts.size() > 1) throw Refused{kInvalidParameter, "the ports belong to several hosts"};
    return {*hosts.begin(), false};
}

std::vector<const Volume*> logicalUnits(const ArrayCall& c) {
    const auto names = ArrayCall::require(c.texts("LUNames"));
    if (names.empty()) throw Refused{kInvalidParameter, "no LUNames"};
    std::vector<const Volume*> out;
    for (const std::string& name : names) {
        const Volume* v = c.array.findVolume(name);
        if (!v) throw Refused{kInvalidLun, "an unknown logical unit"};
        out.push_back(v);
    }
    return out;
}

// LUN numbers the initiators behind `t` already see: its own, its group's or its
// member hosts'.
std::set<uint32_t> lunsSeen(const Array& a, const Target& t) {
    std::set<std::string> targets = {t.ref};
    if (t.group) {
        for (const Host& h : a.hosts)
            if (h.group == t.ref) targets.insert(h.ref);
    } else if (const Host* h = a.findHost(t.ref); h && !h->group.empty()) {
        targets.insert(h->group);
    }
    std::set<uint32_t> luns;
    for (const Mapping& m : a.mappings)
        if (targets.count(m.target)) luns.insert(m.lun);
    return luns;
}

cim::CIMObjectPath spcPath(const ArrayCall& c, const Target& t) {
    return c.repo.path({Kind::SPC, c.index, t.ref, t.group ? 1 : 0});
}

uint32_t exposePaths(ArrayCall& c) {
    const std::vector<const Volume*> units = logicalUnits(c);
    const Target target = targetOf(c);
    const auto accesses = ArrayCall::require(c.u16s("DeviceAccesses"));
    if (accesses.size() != units.size())
        throw Refused{kInvalidParameter, "one DeviceAccesses entry per logical unit"};
    for (uint16_t access : accesses)
        if (access < 2 || access > 4) throw Refused{kInvalidParameter, "DeviceAccesses 2, 3 or 4"};
    const auto numbers = c.texts("DeviceNumbers");
    if (numbers && numbers->size() != units.size())
        throw Refused{kInvalidParameter, "one DeviceNumbers entry per logical unit"};

    std::set<uint32_t> seen = lunsSeen(c.array, target);
    std::vector<Mapping> added;
    for (size_t i = 0; i < units.size(); ++i) {
        const Volume& v = *units[i];
        bool here = false, elsewhere = false;
        for (const Mapping& m : c.array.mappings)
            if (m.volume == v.uuid) (m.target == target.ref ? here : elsewhere) = true;
        if (here) continue;  // mapped through that controller already: nothing to do
        if (elsewhere && c.rules.oneMappingPerVolume)
            throw Refused{kFailed, "the volume is mapped elsewhere"};
        uint32_t lun = 0;
        if (numbers && !(*numbers)[i].empty()) {
            const std::string& text = (*numbers)[i];
            if (text.size() > 3 ||
                !std::all_of(text.begin(), text.end(),
                             [](unsigned char ch) { return std::isdigit(ch); }) ||
                std::stoul(text) > 255)
                throw Refused{kInvalidParameter, "DeviceNumbers are 0 to 255"};
            lun = static_cast<uint32_t>(std::stoul(text));
            if (seen.count(lun)) throw Refused{kLunTaken, "the LUN is taken"};
        } else {
            while (lun <= 255 && seen.count(lun)) ++lun;
            if (lun > 255) throw Refused{kNoFreeLun, "no free LUN"};
        }
        seen.insert(lun);
        added.push_back({v.uuid, target.ref, lun, accesses[i]});
    }
    c.output("ProtocolControllers",
             cim::CIMValue(std::vector<cim::CIMObjectPath>{spcPath(c, target)}));
    return c.finish([added](Array& a) -> std::string {
        for (const Mapping& m : added)
            if (!a.findVolume(m.volume)) return "A logical unit no longer exists";
        a.mappings.insert(a.mappings.end(), added.begin(), added.end());
        return {};
    });
}

uint32_t hidePaths(ArrayCall& c) {
    const std::vector<const Volume*> units = logicalUnits(c);
    const Target target = targetOf(c);
    std::set<std::string> hidden;
    for (const Volume* v : units) {
        bool found = false;
        for (const Mapping& m : c.array.mappings)
            found = found || (m.volume == v->uuid && m.target == target.ref);
        if (!found) throw Refused{kNotMapped, "not mapped through that controller"};
        hidden.insert(v->uuid);
    }
    c.output("ProtocolControllers",
             cim::CIMValue(std::vector<cim::CIMObjectPath>{spcPath(c, target)}));
    return c.finish([hidden, ref = target.ref](Array& a) -> std::string {
        a.mappings.erase(std::remove_if(a.mappings.begin(), a.mappings.end(),
                                        [&](const Mapping& m) {
                                            return m.target == ref && hidden.count(m.volume);
                                        }),
                         a.mappings.end());
        return {};
    });
}

}  // namespace

void registerMaskingMethods(Provider::Impl& impl) {
    impl.registerMethod("_ControllerConfigurationService", "ExposePaths", arrayMethod(exposePaths));
    impl.registerMethod("_ControllerConfigurationService", "HidePaths", arrayMethod(hidePaths));
}

}  // namespace sim
