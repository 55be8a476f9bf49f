#include "sim/Config.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>

#include "DefaultConfig.h"
#include "PrivateFile.h"
#include "Text.h"

namespace sim {

namespace {

using nlohmann::json;

constexpr size_t kMaxVolumes = 200000;
constexpr size_t kMaxObjects = 100000;  // hosts, pools, groups, PiTs... each
constexpr size_t kMaxPorts = 64;
constexpr int64_t kMaxMs = 7LL * 24 * 3600 * 1000;

[[noreturn]] void fail(const std::string& where, const std::string& what) {
    throw ConfigError("configuration: " + where + ": " + what);
}

// Walks one JSON object, remembering its position for messages and rejecting
// keys nobody asked for (a typo must not silently fall back to a default).
class Node {
  public:
    Node(const json& j, std::string where) : m_j(j), m_where(std::move(where)) {
        if (!m_j.is_object()) fail(m_where, "expected an object");
    }
    ~Node() = default;

    bool has(const char* key) const { return m_j.contains(key) && !m_j.at(key).is_null(); }

    std::string str(const char* key, const std::string& dflt) {
        m_seen.insert(key);
        if (!has(key)) return dflt;
        const json& v = m_j.at(key);
        if (!v.is_string()) fail(at(key), "expected a string");
        std::string s = v.get<std::string>();
        if (s.size() > 4096) fail(at(key), "text too long");
        return s;
    }
    uint64_t u64(const char* key, uint64_t dflt, uint64_t max) {
        m_seen.insert(key);
        if (!has(key)) return dflt;
        const json& v = m_j.at(key);
        if (!v.is_number_unsigned() && !(v.is_number_integer() && v.get<int64_t>() >= 0))
            fail(at(key), "expected a non-negative integer");
        uint64_t n = v.get<uint64_t>();
        if (n > max)
            fail(at(key), "value " + std::to_string(n) + " exceeds " + std::to_string(max));
        return n;
    }
    bool boolean(const char* key, bool dflt) {
        m_seen.insert(key);
        if (!has(key)) return dflt;
        const json& v = m_j.at(key);
        if (!v.is_boolean()) fail(at(key), "expected true or false");
        return v.get<bool>();
    }
    const json* array(const char* key) {
        m_seen.insert(key);
        if (!has(key)) return nullptr;
        const json& v = m_j.at(key);
        if (!v.is_array()) fail(at(key), "expected an array");
        return &v;
    }
    const json* object(const char* key) {
        m_seen.insert(key);
        if (!has(key)) return nullptr;
        const json& v = m_j.at(key);
        if (!v.is_object()) fail(at(key), "expected an object");
        return &v;
    }
    const json* raw(const char* key) {
        m_seen.insert(key);
        return has(key) ? &m_j.at(key) : nullptr;
    }
    void done() const {
        for (auto it = m_j.begin(); it != m_j.end(); ++it)
            if (!m_seen.count(it.key())) fail(at(it.key()), "unknown setting");
    }
    std::string at(const std::string& key) const { return m_where + "." + key; }
    const std::string& where() const { return m_where; }

  private:
    const json& m_j;
    std::string m_where;
    std::set<std::string> m_seen;
};

bool isHex(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isxdigit(c); });
}

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string hex32(const std::string& where, const std::string& value, bool naa6) {
    if (value.size() != 32 || !isHex(value)) fail(where, "expected 32 hexadecimal digits");
    std::string u = upper(value);
    if (naa6 && u[0] != '6') fail(where, "expected an NAA type 6 identifier (starting with 6)");
    return u;
}

std::string ref40(const std::string& where, const std::string& value) {
    if (value.size() != 40 || !isHex(value)) fail(where, "expected 40 hexadecimal digits");
    return upper(value);
}

void checkLabel(const std::string& where, const std::string& label) {
    if (!validLabel(label))
        fail(where, "\"" + printable(label) +
                        "\" is not a name of 1 to 30 letters, digits, '_', '-' or '#'");
}

int controllerIndex(Node& n, const char* key, int dflt) {
    const json* v = n.raw(key);
    if (!v) return dflt;
    if (v->is_number_integer()) {
        int64_t i = v->get<int64_t>();
        if (i == 0 || i == 1) return static_cast<int>(i);
    } else if (v->is_string()) {
        std::string s = upper(v->get<std::string>());
        if (s == "A") return 0;
        if (s == "B") return 1;
    }
    fail(n.at(key), "expected controller 0 or 1 (or \"A\"/\"B\")");
}

std::string normalisePort(const std::string& where, const std::string& id, PortType& type) {
    if (id.empty() || id.size() > 223) fail(where, "initiator port id must be 1 to 223 characters");
    std::string lower = id;
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.rfind("iqn.", 0) == 0 || lower.rfind("eui.", 0) == 0 || lower.rfind("naa.", 0) == 0) {
        for (unsigned char c : id)
            if (c <= ' ' || c >= 0x7f)
                fail(where, "iSCSI name contains a space or control character");
        type = PortType::iSCSI;
        return lower;  // iSCSI names compare in lower case
    }
    std::string hex;
    for (char c : id)
        if (c != ':') hex += c;
    if (hex.size() != 16 || !isHex(hex))
        fail(where,
             "\"" + printable(id) + "\" is neither a WWPN (16 hex digits) nor an iSCSI name");
    type = PortType::FC;
    return upper(hex);
}

// Resolvers turn labels into the refs the model keeps.
struct Names {
    std::map<std::string, std::string> pools;  // upper label or ref -> ref
    std::map<std::string, std::string> vols;   // upper label or uuid -> uuid
    std::map<std::string, std::string> hosts;  // host or group label/ref -> ref
    std::set<std::string> groupRefs;
};

std::string resolve(const std::map<std::string, std::string>& m, const std::string& where,
                    const std::string& key, const char* what) {
    auto it = m.find(upper(key));
    if (it == m.end()) fail(where, std::string("no ") + what + " \"" + printable(key) + "\"");
    return it->second;
}

Array parseArray(const json& j, const std::string& where, const Preset& preset,
                 std::set<std::string>& allUuids, size_t& volumeBudget) {
    Node n(j, where);
    Array a;
    a.name = n.str("name", "");
    a.id = hex32(n.at("id"), n.str("id", makeArrayId(a.name.empty() ? where : a.name)), true);
    if (a.name.empty()) a.name = "ESeries_" + a.id.substr(24);
    checkLabel(n.at("name"), a.name);
    a.password = n.str("password", "");
    a.providerSecret = n.str("providerSecret", a.password);
    a.vendor = n.str("vendor", preset.vendor);
    a.product = n.str("product", preset.product);
    a.revision = n.str("revision", "0820");
    if (const json* st = n.array("syncTypes")) {
        a.syncTypes.clear();
        for (const json& t : *st) {
            if (!t.is_number_unsigned() || t.get<uint64_t>() > 65535)
                fail(n.at("syncTypes"), "expected an array of uint16 values");
            a.syncTypes.push_back(t.get<uint16_t>());
        }
    }
    a.sharedSecrets = static_cast<int>(n.u64("sharedSecrets", 1, 2));
    n.boolean("secretCurrent", true);  // a state file's; read by loadState
    if (a.vendor.empty() || a.vendor.size() > 8 || !printableAscii(a.vendor))
        fail(n.at("vendor"), "expected 1 to 8 printable characters");
    if (a.product.empty() || a.product.size() > 16 || !printableAscii(a.product))
        fail(n.at("product"), "expected 1 to 16 printable characters");
    if (a.revision.size() > 4 || !printableAscii(a.revision))
        fail(n.at("revision"), "expected at most 4 printable characters");

    a.controllers[0] = {"0216" + a.id.substr(24, 8), "Controller A"};
    a.controllers[1] = {"0217" + a.id.substr(24, 8), "Controller B"};
    if (const json* cs = n.array("controllers")) {
        if (cs->size() != 2)
            fail(n.at("controllers"), "an E-Series array has exactly two controllers");
        for (size_t i = 0; i < 2; ++i) {
            Node c((*cs)[i], n.at("controllers") + "[" + std::to_string(i) + "]");
            a.controllers[i].name = c.str("name", a.controllers[i].name);
            a.controllers[i].label = c.str("label", a.controllers[i].label);
            if (a.controllers[i].name.empty() || a.controllers[i].name.size() > 32 ||
                !printableAscii(a.controllers[i].name) ||
                a.controllers[i].name.find(' ') != std::string::npos)
                fail(c.at("name"), "expected a serial number of 1 to 32 printable characters");
            if (a.controllers[i].name.find(a.id) != std::string::npos)
                fail(c.at("name"), "a controller name must not contain the array id");
            c.done();
        }
        if (a.controllers[0].name == a.controllers[1].name)
            fail(n.at("controllers"), "the controllers need different names");
    }

    Names names;
    std::set<std::string> labels;  // volume and consistency group labels, upper case

    if (const json* ps = n.array("pools")) {
        if (ps->size() > kMaxObjects) fail(n.at("pools"), "too many pools");
        for (size_t i = 0; i < ps->size(); ++i) {
            Node p((*ps)[i], n.at("pools") + "[" + std::to_string(i) + "]");
            Pool pool;
            pool.label = p.str("label", "");
            checkLabel(p.at("label"), pool.label);
            pool.ref = ref40(p.at("ref"), p.str("ref", makeRef(a.id + ":pool:" + pool.label)));
            pool.capacityBytes =
                p.u64("capacityBytes", 1ULL << 44, std::numeric_limits<uint64_t>::max() / 2);
            p.done();
            if (names.pools.count(upper(pool.label)) || names.pools.count(pool.ref))
                fail(p.where(), "duplicate pool \"" + pool.label + "\"");
            names.pools[upper(pool.label)] = pool.ref;
            names.pools[pool.ref] = pool.ref;
            a.pools.push_back(std::move(pool));
        }
    }

    auto addVolume = [&](Volume v, const std::string& w) {
        if (!labels.insert(upper(v.label)).second)
            fail(w, "duplicate volume name \"" + v.label + "\" (names are unique in any case)");
        if (!allUuids.insert(v.uuid).second) fail(w, "duplicate volume uuid " + v.uuid);
        if (volumeBudget == 0) fail(w, "too many volumes");
        --volumeBudget;
        names.vols[upper(v.label)] = v.uuid;
        names.vols[v.uuid] = v.uuid;
        a.volumes.push_back(std::move(v));
    };

    auto volumeSize = [&](Node& v, Volume& vol) {
        vol.blockSize = v.u64("blockSize", 512, 1 << 20);
        if (vol.blockSize < 512 || (vol.blockSize & (vol.blockSize - 1)) != 0)
            fail(v.at("blockSize"), "expected a power of two from 512");
        const uint64_t maxBytes = 1ULL << 60;
        if (v.has("blocks") && v.has("sizeBytes"))
            fail(v.where(), "give either \"blocks\" or \"sizeBytes\", not both");
        if (v.has("sizeBytes")) {
            uint64_t bytes = v.u64("sizeBytes", 0, maxBytes);
            if (bytes == 0 || bytes % vol.blockSize != 0)
                fail(v.at("sizeBytes"), "expected a positive multiple of the block size");
            vol.blocks = bytes / vol.blockSize;
            v.u64("blocks", 0, 0);
        } else {
            vol.blocks = v.u64("blocks", 2097152, maxBytes / vol.blockSize);
            v.u64("sizeBytes", 0, 0);
            if (vol.blocks == 0) fail(v.at("blocks"), "a volume needs at least one block");
        }
    };

    if (const json* vs = n.array("volumes")) {
        for (size_t i = 0; i < vs->size(); ++i) {
            std::string w = n.at("volumes") + "[" + std::to_string(i) + "]";
            Node v((*vs)[i], w);
            Volume vol;
            vol.label = v.str("label", "");
            checkLabel(v.at("label"), vol.label);
            vol.uuid =
                hex32(v.at("uuid"), v.str("uuid", makeVolumeUuid(a.id + ":" + vol.label)), true);
            std::string kind = v.str("kind", "base");
            if (kind == "base")
                vol.kind = VolumeKind::Base;
            else if (kind == "clone")
                vol.kind = VolumeKind::Clone;
            else if (kind == "view")
                vol.kind = VolumeKind::PiTView;
            else if (kind == "snapshot")
                vol.kind = VolumeKind::Snapshot;
            else
                fail(v.at("kind"), "expected \"base\", \"clone\", \"view\" or \"snapshot\"");
            std::string pool = v.str("pool", "");
            if (vol.kind == VolumeKind::PiTView) {
                if (!pool.empty()) fail(v.at("pool"), "a PiT view has no pool");
            } else {
                if (pool.empty()) {
                    if (a.pools.empty()) fail(v.at("pool"), "the array has no pool");
                    pool = a.pools.front().ref;
                }
                vol.pool = resolve(names.pools, v.at("pool"), pool, "pool");
            }
            volumeSize(v, vol);
            vol.preferredController = controllerIndex(v, "preferredController", 0);
            vol.currentController =
                controllerIndex(v, "currentController", vol.preferredController);
            vol.access = static_cast<uint16_t>(v.u64("access", 3, 4));
            vol.generation = v.u64("generation", 1, 1ULL << 62);
            vol.repositoryBytes = v.u64("repositoryBytes", 0, 1ULL << 60);
            vol.hasSetting = v.boolean("setting", true);
            v.done();
            addVolume(std::move(vol), w);
        }
    }

    if (const json* b = n.object("bulkVolumes")) {
        Node v(*b, n.at("bulkVolumes"));
        uint64_t count = v.u64("count", 0, kMaxVolumes);
        std::string prefix = v.str("labelPrefix", "bulk_");
        if (prefix.size() > 23 || (!prefix.empty() && !validLabel(prefix)))
            fail(v.at("labelPrefix"), "expected up to 23 name characters");
        std::string pool = v.str("pool", "");
        if (pool.empty()) {
            if (a.pools.empty()) fail(v.at("pool"), "the array has no pool");
            pool = a.pools.front().ref;
        }
        pool = resolve(names.pools, v.at("pool"), pool, "pool");
        Volume tmpl;
        volumeSize(v, tmpl);
        v.done();
        for (uint64_t i = 0; i < count; ++i) {
            Volume vol = tmpl;
            vol.label = prefix + std::to_string(i);
            vol.pool = pool;
            vol.uuid = makeVolumeUuid(a.id + ":" + vol.label);
            vol.preferredController = vol.currentController = static_cast<int>(i % 2);
            addVolume(std::move(vol), v.where());
        }
    }

    if (const json* gs = n.array("hostGroups")) {
        if (gs->size() > kMaxObjects) fail(n.at("hostGroups"), "too many host groups");
        for (size_t i = 0; i < gs->size(); ++i) {
            Node g((*gs)[i], n.at("hostGroups") + "[" + std::to_string(i) + "]");
            HostGroup hg;
            hg.label = g.str("label", "");
            checkLabel(g.at("label"), hg.label);
            hg.ref = ref40(g.at("ref"), g.str("ref", makeRef(a.id + ":group:" + hg.label)));
            g.done();
            if (names.hosts.count(upper(hg.label)) || names.hosts.count(hg.ref))
                fail(g.where(), "duplicate host or host group \"" + hg.label + "\"");
            names.hosts[upper(hg.label)] = hg.ref;
            names.hosts[hg.ref] = hg.ref;
            names.groupRefs.insert(hg.ref);
            a.hostGroups.push_back(std::move(hg));
        }
    }

    std::set<std::string> ports;
    if (const json* hs = n.array("hosts")) {
        if (hs->size() > kMaxObjects) fail(n.at("hosts"), "too many hosts");
        for (size_t i = 0; i < hs->size(); ++i) {
            Node h((*hs)[i], n.at("hosts") + "[" + std::to_string(i) + "]");
            Host host;
            host.label = h.str("label", "");
            checkLabel(h.at("label"), host.label);
            host.ref = ref40(h.at("ref"), h.str("ref", makeRef(a.id + ":host:" + host.label)));
            std::string group = h.str("group", "");
            if (!group.empty()) {
                host.group = resolve(names.hosts, h.at("group"), group, "host group");
                if (!names.groupRefs.count(host.group))
                    fail(h.at("group"), "\"" + printable(group) + "\" is a host, not a host group");
            }
            if (const json* ps = h.array("ports")) {
                if (ps->size() > kMaxPorts) fail(h.at("ports"), "too many ports");
                for (size_t k = 0; k < ps->size(); ++k) {
                    std::string pw = h.at("ports") + "[" + std::to_string(k) + "]";
                    const json& pj = (*ps)[k];
                    std::string id;
                    std::string type;
                    if (pj.is_string()) {
                        id = pj.get<std::string>();
                    } else {
                        Node p(pj, pw);
                        id = p.str("id", "");
                        type = p.str("type", "");
                        p.done();
                    }
                    Port port;
                    port.id = normalisePort(pw, id, port.type);
                    if (!type.empty() && type != (port.type == PortType::FC ? "fc" : "iscsi"))
                        fail(pw, "port type \"" + printable(type) + "\" does not match its id");
                    if (!ports.insert(upper(port.id)).second)
                        fail(pw, "initiator port " + port.id + " belongs to another host already");
                    host.ports.push_back(std::move(port));
                }
            }
            h.done();
            if (names.hosts.count(upper(host.label)) || names.hosts.count(host.ref))
                fail(h.where(), "duplicate host or host group \"" + host.label + "\"");
            names.hosts[upper(host.label)] = host.ref;
            names.hosts[host.ref] = host.ref;
            a.hosts.push_back(std::move(host));
        }
    }

    if (const json* ms = n.array("mappings")) {
        std::set<std::string> mapped;
        std::map<std::string, std::set<uint32_t>> luns;  // target ref -> LUN numbers
        for (size_t i = 0; i < ms->size(); ++i) {
            Node m((*ms)[i], n.at("mappings") + "[" + std::to_string(i) + "]");
            Mapping map;
            map.volume = resolve(names.vols, m.at("volume"), m.str("volume", ""), "volume");
            map.target = resolve(names.hosts, m.at("to"), m.str("to", ""), "host or host group");
            map.lun = static_cast<uint32_t>(m.u64("lun", 0, 255));
            map.access = static_cast<uint16_t>(m.u64("access", 2, 4));
            m.done();
            if (!mapped.insert(map.volume).second)
                fail(m.where(), "a volume has at most one mapping");
            if (!luns[map.target].insert(map.lun).second)
                fail(m.at("lun"), "LUN " + std::to_string(map.lun) + " is taken already");
            a.mappings.push_back(std::move(map));
        }
        // A host sees its own LUNs and its group's: they must not collide.
        for (const Host& h : a.hosts) {
            if (h.group.empty()) continue;
            for (uint32_t l : luns[h.ref])
                if (luns[h.group].count(l))
                    fail(n.at("mappings"), "LUN " + std::to_string(l) + " of host \"" + h.label +
                                               "\" collides with its host group's");
        }
    }

    std::map<std::string, const PiTGroup*> groupByRef;
    if (const json* gs = n.array("pitGroups")) {
        if (gs->size() > kMaxObjects) fail(n.at("pitGroups"), "too many PiT groups");
        for (size_t i = 0; i < gs->size(); ++i) {
            Node g((*gs)[i], n.at("pitGroups") + "[" + std::to_string(i) + "]");
            PiTGroup pg;
            pg.label = g.str("label", "");
            checkLabel(g.at("label"), pg.label);
            pg.ref = ref40(g.at("ref"), g.str("ref", makeRef(a.id + ":pitgroup:" + pg.label)));
            pg.baseVolume =
                resolve(names.vols, g.at("baseVolume"), g.str("baseVolume", ""), "volume");
            pg.repositoryBytes = g.u64("repositoryBytes", 0, 1ULL << 60);
            pg.nextSequence = g.u64("nextSequence", 1, 1ULL << 62);
            g.done();
            a.pitGroups.push_back(std::move(pg));
        }
        for (const auto& pg : a.pitGroups)
            if (!groupByRef.emplace(pg.ref, &pg).second)
                fail(n.at("pitGroups"), "duplicate PiT group " + pg.ref);
    }

    std::set<std::string> pitIds;
    auto pitId = [&](Node& p, std::string seed) {
        // Derived ids of PiTs with equal keys would collide; later ones take another.
        if (!p.has("id"))
            while (pitIds.count(a.id + ":" + makeRef(seed))) seed += "+";
        std::string id = p.str("id", a.id + ":" + makeRef(seed));
        std::string prefix = a.id + ":";
        if (id.size() != prefix.size() + 40 || id.compare(0, prefix.size(), prefix) != 0 ||
            !isHex(id.substr(prefix.size())))
            fail(p.at("id"), "expected the array id, ':' and 40 hexadecimal digits");
        id = prefix + upper(id.substr(prefix.size()));
        if (!pitIds.insert(id).second) fail(p.at("id"), "duplicate PiT id");
        return id;
    };

    if (const json* ps = n.array("pits")) {
        if (ps->size() > kMaxObjects) fail(n.at("pits"), "too many PiTs");
        for (size_t i = 0; i < ps->size(); ++i) {
            Node p((*ps)[i], n.at("pits") + "[" + std::to_string(i) + "]");
            PiT pit;
            pit.group = ref40(p.at("group"), p.str("group", ""));
            auto g = groupByRef.find(pit.group);
            if (g == groupByRef.end()) fail(p.at("group"), "no PiT group " + pit.group);
            pit.sequence = p.u64("sequence", 0, 1ULL << 62);
            // Equal sequence numbers are allowed: hosts must keep them in listed order.
            if (pit.sequence == 0 || pit.sequence >= g->second->nextSequence)
                fail(p.at("sequence"), "expected 1 up to the group's nextSequence - 1");
            pit.whenMicros = static_cast<int64_t>(p.u64("whenMicros", 0, 1ULL << 62));
            pit.generation = p.u64("generation", 1, 1ULL << 62);
            pit.extraDefineState = p.boolean("extraDefineState", false);
            pit.id = pitId(p, a.id + ":pit:" + pit.group + ":" + std::to_string(pit.sequence));
            p.done();
            a.pits.push_back(std::move(pit));
        }
    }

    std::map<std::string, const ConsistencyGroup*> cgByRef;
    if (const json* cs = n.array("consistencyGroups")) {
        if (cs->size() > kMaxObjects)
            fail(n.at("consistencyGroups"), "too many consistency groups");
        for (size_t i = 0; i < cs->size(); ++i) {
            Node c((*cs)[i], n.at("consistencyGroups") + "[" + std::to_string(i) + "]");
            ConsistencyGroup cg;
            cg.label = c.str("label", "");
            checkLabel(c.at("label"), cg.label);
            if (!labels.insert(upper(cg.label)).second)
                fail(c.at("label"), "\"" + cg.label + "\" is taken by a volume or another group");
            cg.ref = ref40(c.at("ref"), c.str("ref", makeRef(a.id + ":cg:" + cg.label)));
            if (const json* ms = c.array("members")) {
                for (size_t k = 0; k < ms->size(); ++k) {
                    std::string mw = c.at("members") + "[" + std::to_string(k) + "]";
                    if (!(*ms)[k].is_string()) fail(mw, "expected a volume name or uuid");
                    std::string uuid =
                        resolve(names.vols, mw, (*ms)[k].get<std::string>(), "volume");
                    if (std::find(cg.members.begin(), cg.members.end(), uuid) != cg.members.end())
                        fail(mw, "volume listed twice");
                    cg.members.push_back(uuid);
                }
            }
            cg.nextSequence = c.u64("nextSequence", 1, 1ULL << 62);
            c.done();
            a.consistencyGroups.push_back(std::move(cg));
        }
        for (const auto& cg : a.consistencyGroups)
            if (!cgByRef.emplace(cg.ref, &cg).second)
                fail(n.at("consistencyGroups"), "duplicate consistency group " + cg.ref);
    }

    std::set<std::string> cgPitIds;
    if (const json* ps = n.array("cgPits")) {
        if (ps->size() > kMaxObjects) fail(n.at("cgPits"), "too many CG PiTs");
        for (size_t i = 0; i < ps->size(); ++i) {
            Node p((*ps)[i], n.at("cgPits") + "[" + std::to_string(i) + "]");
            CgPiT pit;
            pit.group = ref40(p.at("group"), p.str("group", ""));
            if (!cgByRef.count(pit.group)) fail(p.at("group"), "no consistency group " + pit.group);
            pit.sequence = p.u64("sequence", i + 1, 1ULL << 62);
            pit.whenMicros = static_cast<int64_t>(p.u64("whenMicros", 0, 1ULL << 62));
            if (const json* ms = p.array("members")) {
                for (size_t k = 0; k < ms->size(); ++k) {
                    std::string mw = p.at("members") + "[" + std::to_string(k) + "]";
                    Node m((*ms)[k], mw);
                    CgPiTMember member;
                    member.volume =
                        resolve(names.vols, m.at("volume"), m.str("volume", ""), "volume");
                    member.generation = m.u64("generation", 1, 1ULL << 62);
                    m.done();
                    pit.members.push_back(std::move(member));
                }
            }
            pit.id = pitId(p, a.id + ":cgpit:" + pit.group + ":" + std::to_string(pit.sequence));
            p.done();
            ConsistencyGroup* cg = a.findConsistencyGroup(pit.group);
            if (cg->nextSequence <= pit.sequence) cg->nextSequence = pit.sequence + 1;
            cgPitIds.insert(pit.id);
            a.cgPits.push_back(std::move(pit));
        }
    }

    std::set<std::string> cgViewRefs;
    if (const json* vs = n.array("cgPitViews")) {
        for (size_t i = 0; i < vs->size(); ++i) {
            Node v((*vs)[i], n.at("cgPitViews") + "[" + std::to_string(i) + "]");
            CgPiTView cv;
            cv.label = v.str("label", "");
            checkLabel(v.at("label"), cv.label);
            cv.ref = ref40(v.at("ref"), v.str("ref", makeRef(a.id + ":cgview:" + cv.label)));
            cv.cgPit = v.str("cgPit", "");
            if (!cgPitIds.count(cv.cgPit))
                fail(v.at("cgPit"), "no CG PiT \"" + printable(cv.cgPit) + "\"");
            if (const json* ms = v.array("memberViews")) {
                for (size_t k = 0; k < ms->size(); ++k) {
                    std::string mw = v.at("memberViews") + "[" + std::to_string(k) + "]";
                    if (!(*ms)[k].is_string()) fail(mw, "expected a view volume");
                    cv.memberViews.push_back(
                        resolve(names.vols, mw, (*ms)[k].get<std::string>(), "volume"));
                }
            }
            v.done();
            if (!cgViewRefs.insert(cv.ref).second) fail(v.where(), "duplicate CG PiT view");
            a.cgPitViews.push_back(std::move(cv));
        }
    }

    if (const json* vs = n.array("views")) {
        std::set<std::string> seen;
        for (size_t i = 0; i < vs->size(); ++i) {
            Node v((*vs)[i], n.at("views") + "[" + std::to_string(i) + "]");
            View view;
            view.volume = resolve(names.vols, v.at("volume"), v.str("volume", ""), "volume");
            view.base = resolve(names.vols, v.at("base"), v.str("base", ""), "volume");
            view.pit = v.str("pit", "");
            view.cgView = v.str("cgView", "");
            v.done();
            if (view.pit.empty() == view.cgView.empty())
                fail(v.where(), "a view belongs to either a \"pit\" or a \"cgView\"");
            if (!view.pit.empty() && !std::any_of(a.pits.begin(), a.pits.end(),
                                                  [&](const PiT& p) { return p.id == view.pit; }))
                fail(v.at("pit"), "no PiT \"" + printable(view.pit) + "\"");
            if (!view.cgView.empty()) {
                view.cgView = upper(view.cgView);
                if (!cgViewRefs.count(view.cgView))
                    fail(v.at("cgView"), "no CG PiT view " + view.cgView);
            }
            if (!seen.insert(view.volume).second) fail(v.at("volume"), "volume is a view twice");
            if (view.volume == view.base) fail(v.where(), "a view cannot be its own base");
            a.views.push_back(std::move(view));
        }
    }

    if (const json* ss = n.array("syncs")) {
        for (size_t i = 0; i < ss->size(); ++i) {
            Node s((*ss)[i], n.at("syncs") + "[" + std::to_string(i) + "]");
            Sync sync;
            std::string type = s.str("type", "volumeCopy");
            if (type == "volumeCopy")
                sync.type = SyncType::VolumeCopy;
            else if (type == "snapshot")
                sync.type = SyncType::Snapshot;
            else
                fail(s.at("type"), "expected \"volumeCopy\" or \"snapshot\"");
            sync.source = resolve(names.vols, s.at("source"), s.str("source", ""), "volume");
            sync.target = resolve(names.vols, s.at("target"), s.str("target", ""), "volume");
            sync.copyType = static_cast<uint16_t>(s.u64("copyType", 4, 65535));
            sync.syncState = static_cast<uint16_t>(s.u64("syncState", 6, 65535));
            sync.syncType = static_cast<uint16_t>(s.u64("syncType", 0, 65535));
            s.done();
            if (sync.source == sync.target)
                fail(s.where(), "a volume cannot synchronize with itself");
            a.syncs.push_back(std::move(sync));
        }
    }
    n.done();

    a.reindex();
    // The volume kinds decide the class; keep them consistent with the links.
    for (const View& v : a.views)
        if (a.findVolume(v.volume)->kind != VolumeKind::PiTView)
            fail(where + ".views",
                 "volume " + v.volume + " is a view but its kind is not \"view\"");
    for (const Sync& s : a.syncs)
        if (s.type == SyncType::Snapshot && a.findVolume(s.target)->kind != VolumeKind::Snapshot)
            fail(where + ".syncs", "the target of a snapshot sync must be of kind \"snapshot\"");
    // Counters start from what the array holds, so no generation or time repeats.
    for (const Volume& v : a.volumes) a.lastGeneration = std::max(a.lastGeneration, v.generation);
    for (const PiT& p : a.pits) {
        a.lastGeneration = std::max(a.lastGeneration, p.generation);
        a.lastWhenMicros = std::max(a.lastWhenMicros, p.whenMicros);
    }
    for (const CgPiT& p : a.cgPits) {
        a.lastWhenMicros = std::max(a.lastWhenMicros, p.whenMicros);
        for (const CgPiTMember& m : p.members)
            a.lastGeneration = std::max(a.lastGeneration, m.generation);
    }
    return a;
}

const char* kindName(VolumeKind k) {
    switch (k) {
        case VolumeKind::Base:
            return "base";
        case VolumeKind::Clone:
            return "clone";
        case VolumeKind::PiTView:
            return "view";
        case VolumeKind::Snapshot:
            return "snapshot";
    }
    return "base";
}

}  // namespace

namespace {

// The array's extrinsic methods, as job modes name them.
const char* const kMethodNames[] = {
    "CreatePiTGroup",
    "CreateSynchronizationAspect",
    "ModifySettingsDefineState",
    "ModifyReplicaSynchronization",
    "CreateGroup",
    "AddMembers",
    "RemoveMembers",
    "DeleteGroup",
    "ExposePaths",
    "HidePaths",
    "CreateReplica",
    "CreateOrModifyElementFromStoragePool",
    "AssignStorageResourceAffinity",
    "AttachOrModifyReplica",
    "ModifySynchronization",
    "ReturnToStoragePool",
};

}  // namespace

std::string Config::jobModeKey(const std::string& text) {
    const size_t colon = text.find(':');
    const std::string method = text.substr(0, colon);
    std::string op;
    if (colon != std::string::npos) {
        op = text.substr(colon + 1);
        if (op.empty() || op.size() > 5 ||
            !std::all_of(op.begin(), op.end(), [](unsigned char ch) { return std::isdigit(ch); }) ||
            std::stoul(op) > 65535)
            throw ConfigError("configuration: job mode \"" + printable(text) +
                              "\": the operation must be a number from 0 to 65535");
        op = ":" + std::to_string(std::stoul(op));
    }
    for (const char* m : kMethodNames)
        if (equalsNoCase(method, m)) return m + op;
    throw ConfigError("configuration: job mode \"" + printable(text) +
                      "\": the array has no such method");
}

const std::vector<Preset>& Config::presets() {
    static const std::vector<Preset> all = {
        {"LSISSI", "LSISSI", "root/LsiArray13", "LSI", "INF-01-00"},
        {"DCIM", "DCIM", "root/DCIM/MDStorageArray13", "DELL", "MD32xx"},
        {"NETAPP", "NETAPP", "root/netapp/santricity", "NETAPP", "INF-01-00"},
    };
    return all;
}

Preset Config::presetFor(const std::string& name) {
    std::string u = upper(name);
    for (const Preset& p : presets())
        if (p.name == u) return p;
    throw ConfigError("configuration: preset: unknown preset \"" + printable(name) +
                      "\" (expected LSISSI, DCIM or NETAPP)");
}

Config Config::fromJson(const nlohmann::json& j) {
    Node n(j, "config");
    Config c;
    c.user = n.str("user", c.user);
    c.password = n.str("password", c.password);
    if (c.user.empty() || c.user.find(':') != std::string::npos || !printableAscii(c.user))
        fail(n.at("user"), "expected a non-empty user name without ':'");
    std::string presetName = n.str("preset", "NETAPP");
    Preset preset;
    try {
        preset = presetFor(presetName);
    } catch (const ConfigError&) {
        fail(n.at("preset"),
             "unknown preset \"" + printable(presetName) + "\" (expected LSISSI, DCIM or NETAPP)");
    }
    c.preset = preset.name;
    c.classPrefix = n.str("classPrefix", preset.classPrefix);
    if (c.classPrefix.empty() || c.classPrefix.size() > 32 ||
        !std::isalpha(static_cast<unsigned char>(c.classPrefix[0])) ||
        !std::all_of(c.classPrefix.begin(), c.classPrefix.end(),
                     [](unsigned char ch) { return std::isalnum(ch); }))
        fail(n.at("classPrefix"), "expected 1 to 32 letters and digits, starting with a letter");
    c.arrayNamespace = n.str("namespace", preset.arrayNamespace);
    c.interopNamespace = n.str("interopNamespace", "interop");
    if (!validNamespace(c.arrayNamespace)) fail(n.at("namespace"), "not a namespace name");
    if (!validNamespace(c.interopNamespace)) fail(n.at("interopNamespace"), "not a namespace name");
    if (equalsNoCase(c.arrayNamespace, c.interopNamespace))
        fail(n.at("namespace"), "the array namespace must differ from the interop namespace");
    c.serverName = n.str("serverName", c.serverName);
    if (c.serverName.empty() || !printableAscii(c.serverName))
        fail(n.at("serverName"), "expected a host name");

    if (const json* jobs = n.object("jobs")) {
        Node jn(*jobs, n.at("jobs"));
        c.jobs.durationMs = static_cast<int64_t>(jn.u64("durationMs", 2000, kMaxMs));
        c.jobs.retentionMs = static_cast<int64_t>(jn.u64("retentionMs", 300000, kMaxMs));
        c.jobs.vanish = jn.boolean("vanish", false);
        c.jobs.omitTheElement = jn.boolean("omitTheElement", false);
        if (const json* ms = jn.object("methods")) {
            for (auto it = ms->begin(); it != ms->end(); ++it) {
                const std::string w = jn.at("methods") + "." + printable(it.key());
                std::string key;
                try {
                    key = jobModeKey(it.key());
                } catch (const ConfigError& e) {
                    fail(w, "not a method of the array (\"Method\" or \"Method:Operation\")");
                }
                if (!it.value().is_string() || (it.value() != "job" && it.value() != "sync"))
                    fail(w, "expected \"job\" or \"sync\"");
                c.jobs.methods[key] = it.value() == "job";
            }
        }
        jn.done();
    }

    if (const json* rj = n.object("rules")) {
        Node r(*rj, n.at("rules"));
        RuleSettings& rs = c.rules;
        rs.staleSecret = r.boolean("staleSecret", rs.staleSecret);
        rs.names = r.boolean("names", rs.names);
        rs.oldestFirst = r.boolean("oldestFirst", rs.oldestFirst);
        rs.keepViewedPiTs = r.boolean("keepViewedPiTs", rs.keepViewedPiTs);
        rs.preferredOwnerForViews = r.boolean("preferredOwnerForViews", rs.preferredOwnerForViews);
        rs.oneMappingPerVolume = r.boolean("oneMappingPerVolume", rs.oneMappingPerVolume);
        rs.keepMapped = r.boolean("keepMapped", rs.keepMapped);
        rs.poolSpace = r.boolean("poolSpace", rs.poolSpace);
        rs.minimumRepository = r.boolean("minimumRepository", rs.minimumRepository);
        rs.roundUpRepository = r.boolean("roundUpRepository", rs.roundUpRepository);
        auto limit = [&](const char* key, uint32_t dflt) {
            return static_cast<uint32_t>(r.u64(key, dflt, 1000000));
        };
        rs.maxPiTGroupsPerVolume = limit("maxPiTGroupsPerVolume", rs.maxPiTGroupsPerVolume);
        rs.maxPiTsPerGroup = limit("maxPiTsPerGroup", rs.maxPiTsPerGroup);
        rs.maxCgPiTsPerGroup = limit("maxCgPiTsPerGroup", rs.maxCgPiTsPerGroup);
        rs.maxConsistencyGroupsPerVolume =
            limit("maxConsistencyGroupsPerVolume", rs.maxConsistencyGroupsPerVolume);
        rs.maxLegacySnapshotsPerVolume =
            limit("maxLegacySnapshotsPerVolume", rs.maxLegacySnapshotsPerVolume);
        rs.reservePercent = static_cast<uint32_t>(r.u64("reservePercent", rs.reservePercent, 100));
        r.done();
    }

    c.omitPrivileges = n.boolean("omitPrivileges", false);

    const json* arrays = n.array("arrays");
    if (!arrays || arrays->empty()) fail(n.at("arrays"), "at least one array is needed");
    if (arrays->size() > 64) fail(n.at("arrays"), "too many arrays");
    std::set<std::string> ids;
    std::set<std::string> uuids;
    size_t budget = kMaxVolumes;
    for (size_t i = 0; i < arrays->size(); ++i) {
        std::string w = n.at("arrays") + "[" + std::to_string(i) + "]";
        c.arrays.push_back(parseArray((*arrays)[i], w, preset, uuids, budget));
        if (!ids.insert(c.arrays.back().id).second) fail(w + ".id", "duplicate array id");
    }
    n.done();
    return c;
}

Config Config::defaults() {
    return fromJson(json::parse(kDefaultConfigJson));
}

namespace {

// The parser's own message quotes the text it stopped at, which may be a password:
// only the position is reported.
json parseJsonText(const std::string& text, const std::string& path) {
    try {
        return json::parse(text);
    } catch (const json::parse_error& e) {
        size_t line = 1, column = 1;
        for (size_t i = 0; i + 1 < e.byte && i < text.size(); ++i) {
            if (text[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        throw ConfigError("configuration: \"" + printable(path) +
                          "\" is not valid JSON: syntax error at line " + std::to_string(line) +
                          ", column " + std::to_string(column));
    }
}

}  // namespace

Config Config::load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ConfigError("configuration: cannot read \"" + printable(path) + "\"");
    // The largest array we describe takes some tens of megabytes.
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0 || size > (std::streamoff(256) << 20))
        throw ConfigError("configuration: \"" + printable(path) +
                          "\" is not a regular file of at most 256 MB");
    std::ostringstream text;
    text << in.rdbuf();
    return fromJson(parseJsonText(text.str(), path));
}

nlohmann::json Config::toJson() const {
    json j;
    j["user"] = user;
    j["password"] = password;
    j["preset"] = preset;
    j["classPrefix"] = classPrefix;
    j["namespace"] = arrayNamespace;
    j["interopNamespace"] = interopNamespace;
    j["serverName"] = serverName;
    j["omitPrivileges"] = omitPrivileges;
    j["jobs"] = {{"durationMs", jobs.durationMs},
                 {"retentionMs", jobs.retentionMs},
                 {"vanish", jobs.vanish},
                 {"omitTheElement", jobs.omitTheElement},
                 {"methods", json::object()}};
    for (const auto& [key, job] : jobs.methods) j["jobs"]["methods"][key] = job ? "job" : "sync";
    j["rules"] = {{"staleSecret", rules.staleSecret},
                  {"names", rules.names},
                  {"oldestFirst", rules.oldestFirst},
                  {"keepViewedPiTs", rules.keepViewedPiTs},
                  {"preferredOwnerForViews", rules.preferredOwnerForViews},
                  {"oneMappingPerVolume", rules.oneMappingPerVolume},
                  {"keepMapped", rules.keepMapped},
                  {"poolSpace", rules.poolSpace},
                  {"minimumRepository", rules.minimumRepository},
                  {"roundUpRepository", rules.roundUpRepository},
                  {"maxPiTGroupsPerVolume", rules.maxPiTGroupsPerVolume},
                  {"maxPiTsPerGroup", rules.maxPiTsPerGroup},
                  {"maxCgPiTsPerGroup", rules.maxCgPiTsPerGroup},
                  {"maxConsistencyGroupsPerVolume", rules.maxConsistencyGroupsPerVolume},
                  {"maxLegacySnapshotsPerVolume", rules.maxLegacySnapshotsPerVolume},
                  {"reservePercent", rules.reservePercent}};
    j["arrays"] = json::array();
    for (const Array& a : arrays) {
        json ja;
        ja["id"] = a.id;
        ja["name"] = a.name;
        ja["password"] = a.password;
        ja["providerSecret"] = a.providerSecret;
        ja["vendor"] = a.vendor;
        ja["product"] = a.product;
        ja["revision"] = a.revision;
        ja["syncTypes"] = a.syncTypes;
        ja["sharedSecrets"] = a.sharedSecrets;
        ja["controllers"] = json::array();
        for (const Controller& c : a.controllers)
            ja["controllers"].push_back({{"name", c.name}, {"label", c.label}});
        ja["pools"] = json::array();
        for (const Pool& p : a.pools)
            ja["pools"].push_back(
                {{"ref", p.ref}, {"label", p.label}, {"capacityBytes", p.capacityBytes}});
        ja["volumes"] = json::array();
        for (const Volume& v : a.volumes) {
            json jv = {{"uuid", v.uuid},
                       {"label", v.label},
                       {"kind", kindName(v.kind)},
                       {"blockSize", v.blockSize},
                       {"blocks", v.blocks},
                       {"preferredController", v.preferredController},
                       {"currentController", v.currentController},
                       {"access", v.access},
                       {"generation", v.generation}};
            if (!v.pool.empty()) jv["pool"] = v.pool;
            if (v.repositoryBytes != 0) jv["repositoryBytes"] = v.repositoryBytes;
            if (!v.hasSetting) jv["setting"] = false;
            ja["volumes"].push_back(std::move(jv));
        }
        ja["hostGroups"] = json::array();
        for (const HostGroup& g : a.hostGroups)
            ja["hostGroups"].push_back({{"ref", g.ref}, {"label", g.label}});
        ja["hosts"] = json::array();
        for (const Host& h : a.hosts) {
            json jh = {{"ref", h.ref}, {"label", h.label}, {"ports", json::array()}};
            if (!h.group.empty()) jh["group"] = h.group;
            for (const Port& p : h.ports)
                jh["ports"].push_back(
                    {{"id", p.id}, {"type", p.type == PortType::FC ? "fc" : "iscsi"}});
            ja["hosts"].push_back(std::move(jh));
        }
        ja["mappings"] = json::array();
        for (const Mapping& m : a.mappings)
            ja["mappings"].push_back(
                {{"volume", m.volume}, {"to", m.target}, {"lun", m.lun}, {"access", m.access}});
        ja["pitGroups"] = json::array();
        for (const PiTGroup& g : a.pitGroups)
            ja["pitGroups"].push_back({{"ref", g.ref},
                                       {"label", g.label},
                                       {"baseVolume", g.baseVolume},
                                       {"repositoryBytes", g.repositoryBytes},
                                       {"nextSequence", g.nextSequence}});
        ja["pits"] = json::array();
        for (const PiT& p : a.pits) {
            ja["pits"].push_back({{"id", p.id},
                                  {"group", p.group},
                                  {"sequence", p.sequence},
                                  {"whenMicros", p.whenMicros},
                                  {"generation", p.generation}});
            if (p.extraDefineState) ja["pits"].back()["extraDefineState"] = true;
        }
        ja["consistencyGroups"] = json::array();
        for (const ConsistencyGroup& g : a.consistencyGroups)
            ja["consistencyGroups"].push_back({{"ref", g.ref},
                                               {"label", g.label},
                                               {"members", g.members},
                                               {"nextSequence", g.nextSequence}});
        ja["cgPits"] = json::array();
        for (const CgPiT& p : a.cgPits) {
            json members = json::array();
            for (const CgPiTMember& m : p.members)
                members.push_back({{"volume", m.volume}, {"generation", m.generation}});
            ja["cgPits"].push_back({{"id", p.id},
                                    {"group", p.group},
                                    {"sequence", p.sequence},
                                    {"whenMicros", p.whenMicros},
                                    {"members", std::move(members)}});
        }
        ja["cgPitViews"] = json::array();
        for (const CgPiTView& v : a.cgPitViews)
            ja["cgPitViews"].push_back({{"ref", v.ref},
                                        {"label", v.label},
                                        {"cgPit", v.cgPit},
                                        {"memberViews", v.memberViews}});
        ja["views"] = json::array();
        for (const View& v : a.views) {
            json jv = {{"volume", v.volume}, {"base", v.base}};
            if (!v.pit.empty()) jv["pit"] = v.pit;
            if (!v.cgView.empty()) jv["cgView"] = v.cgView;
            ja["views"].push_back(std::move(jv));
        }
        ja["syncs"] = json::array();
        for (const Sync& s : a.syncs) {
            ja["syncs"].push_back(
                {{"type", s.type == SyncType::VolumeCopy ? "volumeCopy" : "snapshot"},
                 {"source", s.source},
                 {"target", s.target},
                 {"copyType", s.copyType},
                 {"syncState", s.syncState}});
            if (s.syncType != 0) ja["syncs"].back()["syncType"] = s.syncType;
        }
        j["arrays"].push_back(std::move(ja));
    }
    return j;
}

nlohmann::json Config::toStateJson() const {
    json j = toJson();
    j.erase("user");
    j.erase("password");
    for (size_t i = 0; i < arrays.size(); ++i) {
        json& ja = j["arrays"][i];
        ja.erase("password");
        ja.erase("providerSecret");
        ja["secretCurrent"] = arrays[i].providerSecret == arrays[i].password;
    }
    return j;
}

void Config::saveState(const std::string& path) const {
    writePrivateFile(path, toStateJson().dump(2) + "\n");
}

Config Config::loadState(const std::string& path, const Config& base) {
    json j = parseJsonText(readPrivateFile(path), path);
    // The flag is ours, not a configuration setting.
    auto refuseCredential = [&](const json& o, const char* key) {
        if (o.is_object() && o.contains(key))
            throw ConfigError("configuration: state file \"" + printable(path) + "\" holds \"" +
                              key + "\"; credentials come from the configuration");
    };
    refuseCredential(j, "user");
    refuseCredential(j, "password");
    if (j.is_object() && j.contains("arrays") && j["arrays"].is_array())
        for (const json& ja : j["arrays"]) {
            refuseCredential(ja, "password");
            refuseCredential(ja, "providerSecret");
        }
    Config c = fromJson(j);  // checks "secretCurrent" among the rest
    std::vector<bool> current;
    for (const json& ja : j["arrays"]) current.push_back(ja.value("secretCurrent", true));
    c.user = base.user;
    c.password = base.password;
    for (size_t i = 0; i < c.arrays.size(); ++i) {
        Array& a = c.arrays[i];
        a.password.clear();
        a.providerSecret.clear();
        for (const Array& b : base.arrays)
            if (b.id == a.id) {
                a.password = b.password;
                // A stale secret stays stale: the configured one if it differs, else none.
                a.providerSecret = current[i]                       ? b.password
                                   : b.providerSecret != b.password ? b.providerSecret
                                                                    : std::string();
            }
    }
    return c;
}

}  // namespace sim
