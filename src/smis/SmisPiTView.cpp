// Wrappers of the PiT view methods: ModifySettingDefineState and
// ModifyReplicaSynchronization. Not built yet: each traces so and answers failure.
#include "smis/SmisAction.h"

unsigned int SmisAction::ModifySettingDefineState(RkCimConnection,
                                                  std::map<std::string, std::string>&,
                                                  cim::Array<cim::CIMParamValue>&) {
    DEBUG_TRACE("SMIS::ModifySettingDefineState", "not built yet");
    return 1;
}

unsigned int SmisAction::ModifyReplicaSynchronization(RkCimConnection&, std::vector<std::string>&,
                                                      bool) {
    DEBUG_TRACE("SMIS::ModifyReplicaSynchronization", "not built yet");
    return 1;
}
