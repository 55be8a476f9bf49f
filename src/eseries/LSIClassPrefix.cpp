// Class prefix and namespace of the provider in use: replaceClassPrefix,
// GetNamespaceFromInterop and GetObjPropStrByName.
#include "eseries/LSISnapshot.h"

std::string LSISnapshot::replaceClassPrefix(std::string&, std::string&, std::string&,
                                            std::string&) {
    DEBUG_TRACE("replaceClassPrefix", "not built yet");
    return std::string();
}

bool LSISnapshot::GetNamespaceFromInterop(std::string& nameSpace, bool) {
    DEBUG_TRACE("GetNamespaceFromInterop", "not built yet");
    nameSpace.clear();
    return false;
}

std::string LSISnapshot::GetObjPropStrByName(std::string, std::string, std::string, std::string) {
    DEBUG_TRACE("Snapshot::GetObjPropStrByName", "not built yet");
    return std::string();
}
