#include "sim/Model.h"
#include "sim/Config.h"

#include <algorithm>
#include <cstdio>

#include "Text.h"

namespace sim {

namespace {

// Index lookup checked against the element, with a scan when the index is stale.
template <class T, class Key>
const T* indexed(const std::vector<T>& items, const std::unordered_map<std::string, size_t>& index,
                 const std::string& id, Key key) {
    auto it = index.find(id);
    if (it != index.end() && it->second < items.size() && key(items[it->second]) == id)
        return &items[it->second];
    for (const T& item : items)
        if (key(item) == id) return &item;
    return nullptr;
}

template <class T, class Key>
void rebuild(const std::vector<T>& items, std::unordered_map<std::string, size_t>& index, Key key) {
    index.clear();
    index.reserve(items.size());
    for (size_t i = 0; i < items.size(); ++i) index[key(items[i])] = i;
}

const std::string& volumeKey(const Volume& v) {
    return v.uuid;
}
const std::string& groupKey(const PiTGroup& g) {
    return g.ref;
}
const std::string& pitKey(const PiT& p) {
    return p.id;
}

template <class T, class Pred>
const T* findIf(const std::vector<T>& items, Pred pred) {
    for (const T& item : items)
        if (pred(item)) return &item;
    return nullptr;
}

}  // namespace

const Volume* Array::findVolume(const std::string& uuid) const {
    return indexed(volumes, m_volumeIndex, uuid, volumeKey);
}

Volume* Array::findVolume(const std::string& uuid) {
    return const_cast<Volume*>(static_cast<const Array*>(this)->findVolume(uuid));
}

const Volume* Array::findVolumeByLabel(const std::string& label) const {
    return findIf(volumes, [&](const Volume& v) { return equalsNoCase(v.label, label); });
}

const Pool* Array::findPool(const std::string& refOrLabel) const {
    return findIf(pools, [&](const Pool& p) {
        return p.ref == refOrLabel || equalsNoCase(p.label, refOrLabel);
    });
}

const Host* Array::findHost(const std::string& refOrLabel) const {
    return findIf(hosts, [&](const Host& h) {
        return h.ref == refOrLabel || equalsNoCase(h.label, refOrLabel);
    });
}

const HostGroup* Array::findHostGroup(const std::string& refOrLabel) const {
    return findIf(hostGroups, [&](const HostGroup& g) {
        return g.ref == refOrLabel || equalsNoCase(g.label, refOrLabel);
    });
}

const Mapping* Array::findMapping(const std::string& volumeUuid) const {
    return findIf(mappings, [&](const Mapping& m) { return m.volume == volumeUuid; });
}

const PiTGroup* Array::findPiTGroup(const std::string& ref) const {
    return indexed(pitGroups, m_pitGroupIndex, ref, groupKey);
}

PiTGroup* Array::findPiTGroup(const std::string& ref) {
    return const_cast<PiTGroup*>(static_cast<const Array*>(this)->findPiTGroup(ref));
}

const PiT* Array::findPiT(const std::string& id) const {
    return indexed(pits, m_pitIndex, id, pitKey);
}

PiT* Array::findPiT(const std::string& id) {
    return const_cast<PiT*>(static_cast<const Array*>(this)->findPiT(id));
}

const ConsistencyGroup* Array::findConsistencyGroup(const std::string& ref) const {
    return findIf(consistencyGroups, [&](const ConsistencyGroup& g) { return g.ref == ref; });
}

ConsistencyGroup* Array::findConsistencyGroup(const std::string& ref) {
    return const_cast<ConsistencyGroup*>(
        static_cast<const Array*>(this)->findConsistencyGroup(ref));
}

const CgPiT* Array::findCgPiT(const std::string& id) const {
    return findIf(cgPits, [&](const CgPiT& p) { return p.id == id; });
}

const CgPiTView* Array::findCgPiTView(const std::string& ref) const {
    return findIf(cgPitViews, [&](const CgPiTView& v) { return v.ref == ref; });
}

const View* Array::findView(const std::string& volumeUuid) const {
    return findIf(views, [&](const View& v) { return v.volume == volumeUuid; });
}

void Array::reindex() {
    rebuild(volumes, m_volumeIndex, volumeKey);
    rebuild(pitGroups, m_pitGroupIndex, groupKey);
    rebuild(pits, m_pitIndex, pitKey);
}

Volume& Array::addVolume(Volume v) {
    m_volumeIndex[v.uuid] = volumes.size();
    volumes.push_back(std::move(v));
    return volumes.back();
}

void Array::removeVolumes(const std::set<std::string>& uuids) {
    auto gone = [&](const std::string& uuid) { return uuids.count(uuid) > 0; };
    auto drop = [](auto& items, auto pred) {
        items.erase(std::remove_if(items.begin(), items.end(), pred), items.end());
    };
    drop(volumes, [&](const Volume& v) { return gone(v.uuid); });
    drop(mappings, [&](const Mapping& m) { return gone(m.volume); });
    drop(views, [&](const View& v) { return gone(v.volume) || gone(v.base); });
    drop(syncs, [&](const Sync& s) { return gone(s.source) || gone(s.target); });
    for (ConsistencyGroup& g : consistencyGroups) drop(g.members, gone);
    for (CgPiTView& cv : cgPitViews) drop(cv.memberViews, gone);
    rebuild(volumes, m_volumeIndex, volumeKey);
}

PiTGroup& Array::addPiTGroup(PiTGroup g) {
    m_pitGroupIndex[g.ref] = pitGroups.size();
    pitGroups.push_back(std::move(g));
    return pitGroups.back();
}

PiT& Array::addPiT(PiT p) {
    m_pitIndex[p.id] = pits.size();
    pits.push_back(std::move(p));
    return pits.back();
}

void Array::removePiT(const std::string& id) {
    pits.erase(std::remove_if(pits.begin(), pits.end(), [&](const PiT& p) { return p.id == id; }),
               pits.end());
    rebuild(pits, m_pitIndex, pitKey);
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
