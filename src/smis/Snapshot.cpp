#include "smis/Snapshot.h"

namespace RK_SMIS_SNAP {

void Snapshot::setErrorMsg(int code, const char* message) {
    if (m_ErrorTable && !m_CimConnection.AuthFailed() && m_pLogger && message) {
        int host = GetRkSmisErrorCode(code);
        m_pLogger->logMessage(2, message);
        if (host != -1) m_pLogger->setErrorInfo(host, message);
    } else if (message && m_pLogger) {
        m_pLogger->logFormat(2, "Snapshot::setErrorMsg", "ErrorCode %d: ErrorMsg = %s", code,
                             message);
    } else if (message) {
        DEBUG_TRACE("Snapshot::setErrorMsg", "ErrorCode %d: ErrorMsg = %s", code, message);
    }
    m_ErrorCode = code;
    m_ErrorMsg = message ? message : "";
}

int Snapshot::GetRkSmisErrorCode(int smisErrorCode) const {
    if (!m_ErrorTable) return -1;
    for (const RK_SMIS_ERROR_MAP* row = m_ErrorTable; row->vendorErrorCode != 0; ++row)
        if (row->smisErrorCode == smisErrorCode) return row->hostErrorCode;
    return -1;
}

int Snapshot::GetVendorSmisErrorCode(int vendorErrorCode, std::string* message) const {
    if (message) message->clear();
    if (!m_ErrorTable) return -1;
    for (const RK_SMIS_ERROR_MAP* row = m_ErrorTable; row->vendorErrorCode != 0; ++row) {
        if (row->vendorErrorCode == vendorErrorCode) {
            if (message && row->errorMessage) *message = row->errorMessage;
            return row->smisErrorCode;
        }
    }
    return -1;
}

}  // namespace RK_SMIS_SNAP
