// Map and unmap of the snapshot's target volume to the backup host.
#include <cstdio>
#include <string>
#include <vector>

#include "smis/Snapshot.h"

namespace RK_SMIS_SNAP {

namespace {

bool NamesIscsiPorts(const std::string& ports) {
    return ports.find("iqn") != std::string::npos || ports.find("eui") != std::string::npos ||
           ports.find("naa") != std::string::npos;
}

}  // namespace

int Snapshot::MapSnap() {
    const char* fn = "Snapshot::MapSnap";
    if (m_SystemName.empty() || m_InitiatorPorts.empty() || m_DeviceAccess == 99 ||
        (m_TargetDev.empty() && m_TargetDevPath.empty())) {
        TraceInvalidParameters(fn);
        return 1;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return 1;

    DEBUG_TRACE(fn, "Target Device UUID %s\n", m_TargetDev.c_str());
    if (!m_TargetDevPath.empty() && m_TargetDev.empty()) {
        m_TargetDev = GetCIMProp(m_CimConnection, m_TargetDevPath, "Name");
        DEBUG_TRACE(fn, "Target Device UUID %s\n", m_TargetDev.c_str());
        if (m_TargetDev.empty()) {
            // No UUID to present: the view is gone or could not be read.
            char message[512];
            std::snprintf(message, sizeof message, "%s: Device %s not found", fn,
                          m_TargetDevPath.c_str());
            setErrorMsg(650008, message);
            return 1;
        }
    }

    std::vector<std::string> args = {m_SystemName, m_TargetDev, m_InitiatorPorts, "null",
                                     std::to_string(m_DeviceAccess)};
    if (!m_TargetPorts.empty()) args.push_back(m_TargetPorts);
    if (FaultRetryEnabled()) {
        DEBUG_TRACE(fn, "Pegasus retry in faulty environment");
        std::vector<std::string> throwAway = args;
        throwAway[4] = "23";
        ExposePaths(m_CimConnection, throwAway);
    }
    const unsigned int result = ExposePaths(m_CimConnection, args);
    connection.Close();

    if (result != 0) {
        char message[1024];
        if (result == 4098)
            std::snprintf(message, sizeof message,
                          NamesIscsiPorts(m_InitiatorPorts)
                              ? "Invalid Initiator port[s] %s supplied, please check iSCSI is "
                                "supported with the Storage Array "
                              : "Invalid Initiator port[s] %s supplied, please check FC is "
                                "supported with the Storage Array ",
                          m_InitiatorPorts.c_str());
        else if (result == 5)
            std::snprintf(message, sizeof message, "Invalid parameter supplied for SMIS operation");
        else if (result == 4097)
            std::snprintf(message, sizeof message, "Invalid LUN ID %s supplied",
                          m_TargetDev.c_str());
        else
            std::snprintf(message, sizeof message, "Error: mapping failed");
        setErrorMsg(static_cast<int>(result), message);
        return 1;
    }
    DEBUG_TRACE(fn, "Device %s Mapping Success\n", m_TargetDev.c_str());
    return 0;
}

int Snapshot::UnmapSnap() {
    const char* fn = "Snapshot::UnmapSnap";
    if (m_SystemName.empty() || m_InitiatorPorts.empty() ||
        (m_TargetDev.empty() && m_TargetDevPath.empty())) {
        TraceInvalidParameters(fn);
        return 1;
    }
    ConnectionScope connection(*this);
    if (!connection.Open(fn)) return 1;

    if (!m_TargetDevPath.empty()) {
        if (m_TargetDev.empty()) m_TargetDev = GetCIMProp(m_CimConnection, m_TargetDevPath, "Name");
        DEBUG_TRACE(fn, "Target Device UUID %s\n", m_TargetDev.c_str());
        m_TargetDevFriendlyName = GetCIMProp(m_CimConnection, m_TargetDevPath, "ElementName");
        DEBUG_TRACE(fn, "Target Device friendly name: %s\n", m_TargetDevFriendlyName.c_str());
    }

    std::vector<std::string> args = {
        m_SystemName, m_TargetDev, m_InitiatorPorts,
        "null",       "null",      m_TargetDevPath.empty() ? "null" : m_TargetDevPath};
    if (FaultRetryEnabled()) {
        DEBUG_TRACE(fn, "Pegasus retry in faulty environment");
        std::vector<std::string> throwAway = args;
        HidePaths(m_CimConnection, throwAway);
    }
    const unsigned int result = HidePaths(m_CimConnection, args);
    connection.Close();

    if (result == 650007) {
        DEBUG_TRACE(fn, "Device %s Unmapping Failed, Not Mapped to any Host\n",
                    m_TargetDev.c_str());
        return 0;
    }
    if (result != 0) {
        DEBUG_TRACE(fn, "Device %s Unmapping Failed\n", m_TargetDev.c_str());
        std::string message;
        const int code = GetVendorSmisErrorCode(static_cast<int>(result), &message);
        // After a rejected login the host keeps the credential error.
        if (code != -1 && !message.empty() && !m_CimConnection.AuthFailed())
            DEBUG_SET_ERROR(code, message.c_str());
        return 1;
    }
    DEBUG_TRACE(fn, "Device %s Unmapping Success\n", m_TargetDev.c_str());
    return 0;
}

}  // namespace RK_SMIS_SNAP
