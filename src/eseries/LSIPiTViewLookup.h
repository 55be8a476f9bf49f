// Lookups shared by the PiT view operations; not part of the public API. They
// raise provider failures to the calling operation, which contains them.
#pragma once

#include <string>
#include <vector>

#include <cim/CIMObjectPath.h>

#include "eseries/LSISnapshot.h"

namespace lsiview {

// Class prefix of a path's class: the text before its first '_'.
std::string PrefixOf(const cim::CIMObjectPath& path);

// The prefix of the PiT classes: that of the stored replication service, or, when
// none is stored, that of the array's storage system.
std::string ServicePrefix(LSISnapshot& snap);

// The snapshot's PiT, or its consistency-group PiT: m_PiTPath when set, else the
// instance whose "ElementName" is m_PiTName. Empty when there is none.
cim::CIMObjectPath FindPiT(LSISnapshot& snap, bool group);

// The views of a PiT ({P}_ViewBasedOnPiT associators of class {P}_<viewClass>).
std::vector<cim::CIMObjectPath> ViewsOfPiT(RkCimConnection& conn, const cim::CIMObjectPath& pit,
                                           const std::string& viewClass);

// The consistency-group PiT views of the CG PiT whose "InstanceID" is pitId, in
// the order the provider lists the {P}_ViewBasedOnPiT instances.
std::vector<cim::CIMObjectPath> GroupViewsOf(RkCimConnection& conn, const std::string& prefix,
                                             const std::string& pitId);

// The member views of a consistency-group PiT view, in their order.
std::vector<cim::CIMObjectPath> MembersOf(RkCimConnection& conn, const cim::CIMObjectPath& view);

}  // namespace lsiview
