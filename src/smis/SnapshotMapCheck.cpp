// Mapping checks and status: IsLunMapped, IsSnapMapped, GetSnapStatus and
// CheckArrayExistence. Not built yet: each traces so and answers its failure result.
#include "smis/Snapshot.h"

unsigned int SmisAction::IsLunMapped(RkCimConnection&, std::vector<std::string>&) {
    DEBUG_TRACE("SMIS::IsLunMapped", "not built yet");
    return 1;
}

namespace RK_SMIS_SNAP {

int Snapshot::IsSnapMapped() {
    DEBUG_TRACE("Snapshot::IsSnapMapped", "not built yet");
    return 0;
}

int Snapshot::GetSnapStatus() {
    DEBUG_TRACE("Snapshot::GetSnapStatus", "not built yet");
    return 0;
}

int Snapshot::CheckArrayExistence() {
    DEBUG_TRACE("Snapshot::CheckArrayExistence", "not built yet");
    return 1;
}

}  // namespace RK_SMIS_SNAP
