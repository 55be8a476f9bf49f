#include "Capacity.h"

namespace sim {

uint64_t reserveBytes(const Volume& v, uint32_t percent) {
    const uint64_t bytes = volumeBytes(v);
    return bytes / 100 * percent + (bytes % 100 * percent + 99) / 100;
}

uint64_t poolUsedBytes(const Array& a, const std::string& pool, uint32_t reservePercent) {
    uint64_t used = 0;
    for (const Volume& v : a.volumes)
        if (v.pool == pool)
            used += v.kind == VolumeKind::Snapshot ? v.repositoryBytes : volumeBytes(v);
    for (const PiTGroup& g : a.pitGroups) {
        const Volume* base = a.findVolume(g.baseVolume);
        if (base && base->pool == pool) used += g.repositoryBytes;
    }
    for (const ConsistencyGroup& g : a.consistencyGroups)
        for (const std::string& m : g.members) {
            const Volume* v = a.findVolume(m);
            if (v && v->pool == pool) used += reserveBytes(*v, reservePercent);
        }
    return used;
}

}  // namespace sim
