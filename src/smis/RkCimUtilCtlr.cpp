// Protocol controller lookups of RkCimUtil. Not built yet: each lookup traces so
// and finds nothing.
#include "smis/RkCimConnection.h"
#include "smis/RkCimUtil.h"

std::vector<cim::CIMObjectPath> RkCimUtil::GetCtlrPathList(RkCimConnection&, cim::CIMObjectPath,
                                                           cim::Array<cim::String>&,
                                                           cim::Array<cim::String>) {
    DEBUG_TRACE("SMIS::GetCtlrPathList", "not built yet");
    return {};
}

std::vector<cim::CIMObjectPath> RkCimUtil::GetctlrPathListByAssn(RkCimConnection&,
                                                                 cim::CIMObjectPath,
                                                                 cim::Array<cim::CIMObjectPath>&,
                                                                 cim::Array<cim::String>&) {
    DEBUG_TRACE("SMIS::GetctlrPathListByAssn", "not built yet");
    return {};
}

std::vector<cim::CIMObjectPath> RkCimUtil::GetVolCtlrPaths(RkCimConnection&, cim::CIMObjectPath&) {
    DEBUG_TRACE("SMIS::GetVolCtlrPaths", "not built yet");
    return {};
}

std::vector<cim::CIMObjectPath> RkCimUtil::GetLSICtlrListByHwIDs(RkCimConnection&,
                                                                 cim::CIMObjectPath&,
                                                                 cim::Array<cim::CIMObjectPath>&,
                                                                 cim::Array<cim::String>&) {
    DEBUG_TRACE("SMIS::GetLSICtlrListByHwIDs", "not built yet");
    return {};
}

std::vector<cim::CIMObjectPath> RkCimUtil::GetLSICtlrListByHwIDs(RkCimConnection&,
                                                                 cim::CIMObjectPath&,
                                                                 cim::Array<cim::String>&, bool) {
    DEBUG_TRACE("SMIS::GetLSICtlrListByHwIDs", "not built yet");
    return {};
}

cim::Array<cim::String> RkCimUtil::GetLSIHwIDs(RkCimConnection&, cim::CIMObjectPath&,
                                               cim::Array<cim::String>&) {
    DEBUG_TRACE("SMIS::GetLSIHwIDs", "not built yet");
    return {};
}

cim::CIMObjectPath RkCimUtil::GetHardwareIdCollectionPath(RkCimConnection&, std::string) {
    DEBUG_TRACE("SMIS::GetHardwareIdCollectionPath", "not built yet");
    return cim::CIMObjectPath();
}
