// Connection to an SMI-S provider (CIMOM). It carries its own tracer, bound to the
// same device as the snapshot that owns it, and the credential-failure flag that
// the snapshot's error reporting reads.
//
// The four reads (GetInstance, GetInstances, GetInstanceNames, GetAssociatorNames)
// retry transient failures with reconnects: a lost connection, a time-out, or an
// HTTP status that another try may not meet again (408, 429, 5xx but 501 and 505).
// A rejected credential (HTTP 401) is reported to the host as 60555 and gives an
// empty result; such an empty result is no answer, and the lookups of RkCimUtil
// turn it into a failure (see RkCimAuthFailedException). References, method calls
// and modifications are not retried and handle their own failures; a rejected
// credential met there is reported and recorded all the same (NoteFailure).
//
// Copies made while connected share one client and the credential-failure flag: a
// reconnect made by any copy connects that same client again, so the others go on
// working. After DisconnectCimom a copy still holds the client, no longer connected
// (its calls raise cim::NotConnectedException) rather than a destroyed one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <cim/CIMClient.h>

#include "smis/RkCimom.h"
#include "smis/RkCriticalSection.h"
#include "smis/RkSmisTracer.h"

// Raised by the lookups of RkCimUtil once the provider rejected the connection's
// credentials: the reads then answer empty, which must never pass for "not found".
class RkCimAuthFailedException : public cim::Exception {
  public:
    RkCimAuthFailedException()
        : cim::Exception("CIMOM authentication failure, wrong credentials provided") {}
};

class RkCimConnection : public virtual RkSmisTracer {
  public:
    RkCimConnection() = default;
    virtual ~RkCimConnection() = default;
    RkCimConnection(const RkCimConnection&) = default;
    RkCimConnection& operator=(const RkCimConnection&) = default;

    // True once the CIMOM rejected the credentials (already reported to the host), on
    // this object or on a copy sharing its client.
    bool AuthFailed() const { return m_AuthFailed || (m_Session && m_Session->authFailed); }
    // Records a credential rejection; the read operations call this on HTTP 401.
    void SetAuthFailed(bool failed);
    // For failures of calls made straight on the client (methods, modifications): a
    // rejected credential is reported to the host once and recorded, as the reads do.
    void NoteFailure(const cim::Exception& failure);

    // 0 connected (or already connected), 1 failed. Missing address, user, password
    // or namespace fails without contacting the provider.
    int ConnectCimom();
    // 0 done (also when not connected), 1 the disconnect raised.
    int DisconnectCimom();

    // Reads in the endpoint's namespace, retried as described above. On exhausted
    // retries the last cim::CIMException / cim::Exception is raised again.
    cim::CIMInstance GetInstance(cim::CIMObjectPath path);
    std::vector<cim::CIMInstance> GetInstances(std::string className,
                                               cim::CIMPropertyList propertyList = {});
    std::vector<cim::CIMObjectPath> GetInstanceNames(std::string className);
    // Empty class names and roles mean "any". An unknown class gives an empty result.
    std::vector<cim::CIMObjectPath> GetAssociatorNames(cim::CIMObjectPath objectName,
                                                       std::string assocClass,
                                                       std::string resultClass,
                                                       std::string role = std::string(),
                                                       std::string resultRole = std::string());
    // Not retried: a failure is raised again, after NoteFailure. An empty result class
    // means "any".
    std::vector<cim::CIMObjectPath> GetReferenceNames(cim::CIMObjectPath objectName,
                                                      std::string resultClass,
                                                      std::string role = std::string());
    std::vector<cim::CIMInstance> GetReferences(cim::CIMObjectPath objectName,
                                                std::string resultClass,
                                                std::string role = std::string());

    // Not retried; the namespace is the caller's. 0 deleted, 1 failed.
    int DeleteInstance(const cim::CIMNamespaceName& nameSpace, const cim::CIMObjectPath& path);

    // 1: the failure is transient and the connection was re-established, repeat the
    // call; 0: give up. Increments retryCount for a transient failure. Decided by the
    // failure's type, never by its text: a CIM error is the provider's answer.
    int ConnectionRetry(short& retryCount, const cim::Exception& failure);

    // The connected client (null when not connected) for direct calls.
    std::shared_ptr<cim::CIMClient> GetClient() const { return m_pClient; }
    // Namespace of the endpoint, where the array's objects live.
    std::string GetNameSpace() const { return m_Cimom.GetNameSpace(); }
    bool IsConnected() const { return m_pClient && m_pClient->isConnected(); }

    RkCimom& GetCimom() { return m_Cimom; }
    const RkCimom& GetCimom() const { return m_Cimom; }
    RK_CIM_CONNECTION_STATE GetRetryState() const { return m_RetryState; }

    // Test seam: replaces the client time-out in milliseconds set after each
    // connect (0 restores m_TimeoutSecs x 1000), so that tests can meet a real
    // time-out without waiting minutes. Not reachable from any configuration.
    void SetClientTimeoutMsForTest(uint32_t milliseconds) { m_TestTimeoutMs = milliseconds; }

    // Serialises HTTPS connects across the process (unless "RK_PEGASUS_DISABLE_CONNLOCK").
    static RkCriticalSection m_ConnLock;

    // Points into m_Session: null exactly when m_Session is.
    std::shared_ptr<cim::CIMClient> m_pClient;
    RkCimom m_Cimom;
    uint16_t m_FaultRetryCount = 0;
    uint16_t m_FaultRetryLimit = 3;
    RK_CIM_CONNECTION_STATE m_RetryState = RK_CIM_NOT_CONNECTED;

  private:
    // What the copies of a connected connection share.
    struct Session {
        cim::CIMClient client;
        bool authFailed = false;
    };

    // Reports a rejected credential to the host once per connection.
    void ReportAuthFailure(const std::string& text);
    // Closes the connection; the client object is kept for a reconnect, which the
    // copies sharing it then see too, or released.
    int Disconnect(bool keepClient);
    // The retry loop shared by the four reads; isAssociation enables the
    // unknown-class rule, whose trace names assocClass and resultClass.
    template <typename Result, typename Call>
    Result RetriedRead(const char* function, Call call, bool isAssociation = false,
                       const std::string& assocClass = std::string(),
                       const std::string& resultClass = std::string());

    std::shared_ptr<Session> m_Session;
    uint32_t m_TestTimeoutMs = 0;
};
