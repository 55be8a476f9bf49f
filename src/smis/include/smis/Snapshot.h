// The generic per-device snapshot object of the SMI-S layer.
#pragma once

#include <string>

#include "rkso/SnapInfo.h"
#include "smis/ErrorMap.h"
#include "smis/RkCimConnection.h"
#include "smis/SmisAction.h"

namespace RK_SMIS_SNAP {

class Snapshot : public SmisAction {
  public:
    Snapshot() = default;
    ~Snapshot() override = default;
    Snapshot(const Snapshot&) = default;
    Snapshot& operator=(const Snapshot&) = default;

    // Binds the device as the sink of this object's traces and of its connection's.
    void SetLogger(RKSO::SnapInfo* info);

    // Records an error of the SMI-S layer (code is an SMI-S layer code) and reports
    // it to the host through the error table, unless the connection already
    // reported a credential failure.
    void setErrorMsg(int code, const char* message);

    // hostErrorCode of the first row whose smisErrorCode matches, else -1.
    int GetRkSmisErrorCode(int smisErrorCode) const;
    // smisErrorCode of the first row whose vendorErrorCode matches, else -1; *message
    // (when given) is cleared, then set to the row's text on a match.
    int GetVendorSmisErrorCode(int vendorErrorCode, std::string* message) const;

    int GetErrorCode() const { return m_ErrorCode; }
    const std::string& GetErrorMsg() const { return m_ErrorMsg; }
    const RK_SMIS_ERROR_MAP* GetErrorTable() const { return m_ErrorTable; }

    RkCimConnection m_CimConnection;

  protected:
    int m_ErrorCode = 0;
    std::string m_ErrorMsg;
    const RK_SMIS_ERROR_MAP* m_ErrorTable = nullptr;  // not owned
};

}  // namespace RK_SMIS_SNAP
