// Wrapper of "CreateSynchronizationAspect", which takes a PiT or a consistency-group PiT.
#include "smis/SmisAction.h"

unsigned int SmisAction::CreateSynchronizationAspect(RkCimConnection,
                                                     std::map<std::string, std::string>&,
                                                     cim::Array<cim::CIMParamValue>&) {
    DEBUG_TRACE("SMIS::CreateSynchronizationAspect", "not built yet");
    return 1;
}
