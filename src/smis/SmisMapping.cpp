// Mapping: ExposePaths, HidePaths, MapSnap and UnmapSnap. Not built yet: each
// traces so and answers its failure result.
#include "smis/Snapshot.h"

unsigned int SmisAction::ExposePaths(RkCimConnection&, std::vector<std::string>&) {
    DEBUG_TRACE("SMIS::ExposePaths", "not built yet");
    return 1;
}

unsigned int SmisAction::HidePaths(RkCimConnection&, std::vector<std::string>&) {
    DEBUG_TRACE("SMIS::HidePaths", "not built yet");
    return 1;
}

namespace RK_SMIS_SNAP {

int Snapshot::MapSnap() {
    DEBUG_TRACE("Snapshot::MapSnap", "not built yet");
    return 1;
}

int Snapshot::UnmapSnap() {
    DEBUG_TRACE("Snapshot::UnmapSnap", "not built yet");
    return 1;
}

}  // namespace RK_SMIS_SNAP
