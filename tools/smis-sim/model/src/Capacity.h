// How much of a pool the array's objects take.
#pragma once

#include <cstdint>
#include <string>

#include "sim/Model.h"

namespace sim {

// Bytes of a volume.
inline uint64_t volumeBytes(const Volume& v) {
    return v.blockSize * v.blocks;
}

// What `pool` gives away: its volumes (a legacy snapshot only its repository), the
// repositories of PiT groups on its volumes, and `reservePercent` of every
// consistency-group member it holds.
uint64_t poolUsedBytes(const Array& a, const std::string& pool, uint32_t reservePercent);

// `percent` of a volume, rounded up.
uint64_t reserveBytes(const Volume& v, uint32_t percent);

}  // namespace sim
