// The E-Series snapshot object: the generic snapshot with the E-Series error table.
#pragma once

#include "smis/Snapshot.h"

class LSISnapshot : public RK_SMIS_SNAP::Snapshot {
  public:
    LSISnapshot();
    ~LSISnapshot() override = default;
    LSISnapshot(const LSISnapshot&) = default;
    LSISnapshot& operator=(const LSISnapshot&) = default;

    void SetLSIErrorTable(const RK_SMIS_SNAP::RK_SMIS_ERROR_MAP* table) { m_ErrorTable = table; }
};
