// What the host's array management knows: the snapshot engine's vendor and
// capability, and which configured array holds a volume.
#pragma once

#include <string>

#include "rkso/SnapInfo.h"

// Finds the configured array (of the host's current engine's vendor) on which the
// volume lunUuid exists, asking each array's provider in list order.
bool CheckandGetArrayID(RKSO::RKOSUtil* osUtil, RKSO::SnapInfo* info, std::string& arrayId,
                        std::string& lunUuid, bool select);

// Vendor name and capability bits (1 snapshot, 2 clone) of the engine's record.
bool getSnapEngineVendorCapability(RKSO::SnapInfo* info, RKSO::RKOSUtil* osUtil, short engineId,
                                   std::string& vendorName, int& capability);
