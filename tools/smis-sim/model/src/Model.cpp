#include "sim/Model.h"
#include "sim/Config.h"

#include <cstdio>

#include "Text.h"

namespace sim {

const Volume* Array::findVolume(const std::string& uuid) const {
    auto it = m_volumeIndex.find(uuid);
    if (it != m_volumeIndex.end() && it->second < volumes.size() &&
        volumes[it->second].uuid == uuid)
        return &volumes[it->second];
    for (const Volume& v : volumes)  // index stale after an edit without reindex()
        if (v.uuid == uuid) return &v;
    return nullptr;
}

Volume* Array::findVolume(const std::string& uuid) {
    return const_cast<Volume*>(static_cast<const Array*>(this)->findVolume(uuid));
}

const Volume* Array::findVolumeByLabel(const std::string& label) const {
    for (const Volume& v : volumes)
        if (equalsNoCase(v.label, label)) return &v;
    return nullptr;
}

const Pool* Array::findPool(const std::string& refOrLabel) const {
    for (const Pool& p : pools)
        if (p.ref == refOrLabel || equalsNoCase(p.label, refOrLabel)) return &p;
    return nullptr;
}

const Host* Array::findHost(const std::string& refOrLabel) const {
    for (const Host& h : hosts)
        if (h.ref == refOrLabel || equalsNoCase(h.label, refOrLabel)) return &h;
    return nullptr;
}

const HostGroup* Array::findHostGroup(const std::string& refOrLabel) const {
    for (const HostGroup& g : hostGroups)
        if (g.ref == refOrLabel || equalsNoCase(g.label, refOrLabel)) return &g;
    return nullptr;
}

const Mapping* Array::findMapping(const std::string& volumeUuid) const {
    for (const Mapping& m : mappings)
        if (m.volume == volumeUuid) return &m;
    return nullptr;
}

void Array::reindex() {
    m_volumeIndex.clear();
    m_volumeIndex.reserve(volumes.size());
    for (size_t i = 0; i < volumes.size(); ++i) m_volumeIndex[volumes[i].uuid] = i;
}

namespace {

// FNV-1a, 64 bits; two seeds give enough digits for one identity.
uint64_t fnv(const std::string& s, uint64_t basis) {
    uint64_t h = basis;
    for (unsigned char c : s) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::string hexDigits(const std::string& seed, size_t count) {
    std::string out;
    uint64_t basis = 0xcbf29ce484222325ULL;
    while (out.size() < count) {
        char buf[17];
        std::snprintf(buf, sizeof buf, "%016llX",
                      static_cast<unsigned long long>(fnv(seed, basis)));
        out += buf;
        basis = basis * 31 + 0x9e3779b97f4a7c15ULL;
    }
    out.resize(count);
    return out;
}

}  // namespace

std::string makeRef(const std::string& seed) {
    return hexDigits(seed, 40);
}

std::string makeVolumeUuid(const std::string& seed) {
    // 6 = NAA IEEE Registered Extended; 00A098 is the array maker's company id.
    return "600A098" + hexDigits(seed, 25);
}

std::string makeArrayId(const std::string& seed) {
    return "600A098" + hexDigits("array:" + seed, 25);
}

}  // namespace sim
