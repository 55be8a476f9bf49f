// Endpoint of an SMI-S provider (CIMOM): what the entry points fill in
// (RkCimomParams) and what a connection uses (RkCimom).
#pragma once

#include <cstdint>
#include <string>

enum RK_CIM_CONNECTION_STATE {
    RK_CIM_CONNECTED = 0,
    RK_CIM_NOT_CONNECTED = 1,
    RK_CIM_RETRYING = 2,  // a read failed and is being retried
};

// Lowest client time-out in seconds; the configured value can only raise it.
constexpr uint16_t kRkCimMinTimeoutSecs = 300;

struct RkCimomParams {
    RkCimomParams();

    // Refreshes timeoutSecs from "RK_SMIS_CLIENT_TIMEOUT_IN_SEC" (section "Talon"),
    // never below kRkCimMinTimeoutSecs.
    void GetTimeoutSecs();

    std::string name;
    std::string address;
    // Any TCP port; the full range so that providers on high ports are reachable.
    int32_t port = 5988;
    std::string nameSpace;
    std::string userName;
    std::string password;
    uint16_t timeoutSecs = kRkCimMinTimeoutSecs;
    uint16_t maxRetries = 5;
    bool useSSL = false;
};

class RkCimom {
  public:
    RkCimom();

    // Takes every field of the parameters; the port only when it is a valid TCP
    // port, 1 to 65535 (otherwise the previous port text stays).
    void SetCimom(RkCimomParams& params);

    std::string GetAddress() const { return m_Address; }
    std::string GetPort() const { return m_Port; }
    std::string GetUserName() const { return m_UserName; }
    std::string GetPassword() const { return m_Password; }
    std::string GetNameSpace() const { return m_NameSpace; }
    bool GetUseSSL() const { return m_UseSSL; }
    uint16_t GetTimeoutSecs() const { return m_TimeoutSecs; }
    uint16_t GetMaxRetries() const { return m_MaxRetries; }
    RK_CIM_CONNECTION_STATE GetConnState() const { return m_ConnState; }

    void SetNameSpace(std::string nameSpace) { m_NameSpace = std::move(nameSpace); }
    void SetConnState(RK_CIM_CONNECTION_STATE state) { m_ConnState = state; }

  private:
    // Defaults: port "5988", version "1.3", not connected, 5 retries (15 when
    // "RK_PEGASUS_FAULT_RETRY" is set), the configured time-out.
    void InitCimom();

    std::string m_Name;
    std::string m_Address;
    std::string m_Port;
    std::string m_NameSpace;
    std::string m_Spare1;
    std::string m_UserName;
    std::string m_Password;
    std::string m_Version;
    std::string m_Spare2;
    bool m_UseSSL = false;
    RK_CIM_CONNECTION_STATE m_ConnState = RK_CIM_NOT_CONNECTED;
    uint16_t m_TimeoutSecs = kRkCimMinTimeoutSecs;
    uint16_t m_MaxRetries = 5;
};
