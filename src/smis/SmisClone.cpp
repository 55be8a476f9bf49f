// Clone volumes: CreateStorageVolParams, CreateStorageVolume, AttachModRep,
// CreateCloneVolume and AttachCloneVolume. Not built yet: each traces so and
// answers its failure result.
#include "smis/Snapshot.h"

unsigned int SmisAction::CreateStorageVolParams(RkCimConnection&, std::vector<std::string>&,
                                                std::string, std::vector<std::string>&) {
    DEBUG_TRACE("SMIS::CreateStorageVolParams", "not built yet");
    return 1;
}

unsigned int SmisAction::CreateStorageVolume(RkCimConnection&, std::vector<std::string>&,
                                             std::string&) {
    DEBUG_TRACE("SMIS::CreateStorageVolume", "not built yet");
    return 1;
}

unsigned int SmisAction::AttachModRep(RkCimConnection&, std::vector<std::string>&, std::string&) {
    DEBUG_TRACE("SMIS::AttachModRep", "not built yet");
    return 1;
}

namespace RK_SMIS_SNAP {

int Snapshot::CreateCloneVolume() {
    DEBUG_TRACE("Snapshot::CreateCloneVolume", "not built yet");
    return 0;
}

int Snapshot::AttachCloneVolume(std::string) {
    DEBUG_TRACE("Snapshot::AttachCloneVolume", "not built yet");
    return 0;
}

}  // namespace RK_SMIS_SNAP
