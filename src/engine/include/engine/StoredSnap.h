// A device's stored snapshot as the entry points after prepare read it back: its
// identifier, parsed, and the snapshot object filled from it.
#pragma once

#include <cstdint>
#include <string>

#include "engine/UniqueId.h"
#include "eseries/LSISnapshot.h"
#include "rkso/SnapInfo.h"

namespace rkso {

struct StoredSnap {
    std::string text;  // metadata id 1 as read
    SnapUniqueIdFields f;
    short engine = 0;
    std::string snapName;
    std::string sourceName;  // the host's name of the source device, for messages

    bool pit() const { return engine == RKSO::ENGINE_TYPE_PIT; }
    // Only a named group other than "null" is one: texts written without the
    // field leave it empty.
    bool cgMode() const {
        return !f.consistencyGroupName.empty() && f.consistencyGroupName != "null";
    }
    bool pitMade() const { return !f.pitName.empty() && f.pitName != "null"; }
};

enum class StoredRead { kOk, kNoMetadata, kUnparsable };

// Reads and parses metadata id 1 (PiT fields wanted), logging the failures under tag
// ("%s: Failed to get metadata [id : %d]", "%s: Failed to parse unique identifier [%s]").
// A PiT without a view gets an empty target and path. An empty text reads as kOk
// with s.text empty.
StoredRead readStoredSnap(RKSO::SnapInfo* info, const char* tag, StoredSnap& s);

// Snapshot parameters from the identifier; PiT engine: m_PiTOperation and m_PiTName,
// and consistency-group mode (logged) when the identifier names a group.
void loadSnapParams(LSISnapshot& snap, RKSO::SnapInfo* info, const char* tag, const StoredSnap& s,
                    int pitOperation);
void loadViewParams(LSISnapshot& snap, const StoredSnap& s, const std::string& initiators,
                    uint16_t access);
// The provider's class prefix, the stored paths rewritten to it; "" logged when unknown.
std::string verifyClassPrefix(LSISnapshot& snap, RKSO::SnapInfo* info, const char* tag);
// "WhenPointInTime" of the snapshot's PiT (or CG PiT); "" when the array has none.
std::string pitCreatedAt(LSISnapshot& snap, const std::string& prefix);

// Points the snapshot's target at the one view its PiT has on the array (not at
// what the identifier says, which may predate a lost answer); false when the PiT
// has no single view or the array could not be asked.
bool targetCurrentView(LSISnapshot& snap, const std::string& prefix);

// The device's failure status for an exception that reached an entry point's device
// step: logged, never passed on.
void containFailure(RKSO::SnapInfo* info, const char* tag, RKSO::SnapStatus failed,
                    const char* what);

}  // namespace rkso
