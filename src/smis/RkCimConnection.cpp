#include "smis/RkCimConnection.h"

#include <cstdio>
#include <exception>

#include "RkCimUtilInternal.h"
#include "rkso/EvDebug.h"
#include "rkso/RKPlatformInfo.h"

RkCriticalSection RkCimConnection::m_ConnLock;

namespace {

constexpr int kAuthFailureHostError = 60555;

unsigned long TalonNumber(const char* key) {
    unsigned long value = 0;
    RKPlatformInfo info;
    if (!info.getNumber("Talon", key, &value)) return 0;
    return value;
}

using rkcimutil::BaseName;
using rkcimutil::Contains;

// A rejected credential is an HTTP 401 answer. Texts are not read: object names,
// ports and provider descriptions may hold the digits or the word "HTTP".
bool IsAuthRejection(const cim::Exception& e) {
    auto* http = dynamic_cast<const cim::HttpException*>(&e);
    return http && http->getStatus() == 401;
}

enum class Transient { No, Connection, Timeout, Http };

// Statuses that the same request may not meet again: the server was busy, broken
// for a moment or behind a gateway that was. Others (400, 404, 413, 501, ...)
// answer every repetition alike.
bool IsTransientStatus(int status) {
    if (status == 408 || status == 429) return true;
    return status >= 500 && status <= 599 && status != 501 && status != 505;
}

// A 401 reaches here only when fault retry is on: then it is retried like any
// other HTTP failure.
Transient Classify(const cim::Exception& e) {
    if (dynamic_cast<const cim::ConnectionTimeoutException*>(&e)) return Transient::Timeout;
    if (dynamic_cast<const cim::ConnectionLostException*>(&e) ||
        dynamic_cast<const cim::CannotConnectException*>(&e))
        return Transient::Connection;
    if (auto* http = dynamic_cast<const cim::HttpException*>(&e)) {
        if (http->getStatus() == 401 || IsTransientStatus(http->getStatus()))
            return Transient::Http;
    }
    return Transient::No;
}

// The array's provider normally has a self-signed certificate: HTTPS gives
// encryption, not identity.
bool VerifySslCert(cim::SSLCertificateInfo&) {
    EvDebug().DebugLvl("VerifySslCert", 2, "SSL certificate verified, plain encryption");
    return true;
}

// A connection the client opens again inside a request (the provider closed the kept
// one) shakes hands under the same lock as connect.
void HandshakeUnderConnLock(bool entering) {
    if (entering)
        RkCimConnection::m_ConnLock.enter(true);
    else
        RkCimConnection::m_ConnLock.leave();
}

}  // namespace

void RkCimConnection::ReportAuthFailure(const std::string& text) {
    if (!AuthFailed()) DEBUG_SET_ERROR(kAuthFailureHostError, text.c_str());
}

void RkCimConnection::SetAuthFailed(bool failed) {
    m_AuthFailed = failed;
    if (m_Session) m_Session->authFailed = failed;
}

void RkCimConnection::NoteFailure(const cim::Exception& failure) {
    if (!IsAuthRejection(failure)) return;
    ReportAuthFailure(failure.getMessage());
    SetAuthFailed(true);
}

int RkCimConnection::ConnectCimom() {
    static const char* const fn = "RkCimConnection::ConnectCimom";
    if (m_Cimom.GetAddress().empty() || m_Cimom.GetUserName().empty() ||
        m_Cimom.GetPassword().empty() || m_Cimom.GetNameSpace().empty()) {
        DEBUG_TRACE(fn, "Insufficient parameters for CIMOM connection \n");
        return 1;
    }

    const std::string host = m_Cimom.GetAddress();
    const std::string portText = m_Cimom.GetPort();
    // A client shared with copies is connected again in place; one made here is
    // dropped after a failed attempt.
    const bool sharedClient = m_Session != nullptr;
    int attempts = 0;
    for (;;) {
        int port = 0;
        if (std::sscanf(portText.c_str(), "%d", &port) != 1) port = 0;
        bool locked = false;
        bool retryable = false;
        try {
            if (!m_Session) {
                m_Session = std::make_shared<Session>();
                m_pClient = std::shared_ptr<cim::CIMClient>(m_Session, &m_Session->client);
            }
            if (!m_Cimom.GetUseSSL()) {
                DEBUG_TRACE_NORMAL(fn, " Trying connection over http port [%d]", port);
                m_pClient->connect(host, static_cast<cim::Uint32>(port), m_Cimom.GetUserName(),
                                   m_Cimom.GetPassword());
            } else {
                const bool useLock = TalonNumber("RK_PEGASUS_DISABLE_CONNLOCK") == 0;
                m_pClient->setHandshakeGuard(useLock ? HandshakeUnderConnLock : nullptr);
                if (useLock) {
                    DEBUG_TRACE(fn, "Acquiring connection lock");
                    m_ConnLock.enter(true);
                    locked = true;
                    DEBUG_TRACE(fn, "Connection lock acquired");
                }
                DEBUG_TRACE(fn, " Trying connection over https port [%d]", port);
                cim::SSLContext sslContext(std::string(), VerifySslCert, std::string());
                m_pClient->connect(host, static_cast<cim::Uint32>(port), sslContext,
                                   m_Cimom.GetUserName(), m_Cimom.GetPassword());
                if (locked) {
                    m_ConnLock.leave();
                    locked = false;
                    DEBUG_TRACE(fn, "Connection lock released");
                }
            }
            const cim::Uint32 timeoutMs =
                m_TestTimeoutMs != 0 ? m_TestTimeoutMs
                                     : static_cast<cim::Uint32>(m_Cimom.GetTimeoutSecs()) * 1000;
            m_pClient->setTimeout(timeoutMs);
            DEBUG_TRACE_NORMAL(fn, "%s %s:%d, timeout = %d\n",
                               m_RetryState == RK_CIM_RETRYING ? "Reconnected" : "Connected",
                               host.c_str(), port, static_cast<int>(m_Cimom.GetTimeoutSecs()));
            m_Cimom.SetConnState(RK_CIM_CONNECTED);
            return 0;
        } catch (const cim::CannotConnectException& e) {
            DEBUG_TRACE(fn, "%s:%d: %s: Caught CIMClientConnectionException: %s",
                        BaseName(__FILE__), __LINE__, host.c_str(), e.getMessage().c_str());
            DEBUG_TRACE(fn, "%s:%d: Cannot connect to CIMOM %s:%s", BaseName(__FILE__), __LINE__,
                        host.c_str(), portText.c_str());
            if (Contains(e.getMessage(), "Connection failed")) {
                ++attempts;
                retryable = true;
            }
        } catch (const cim::AlreadyConnectedException&) {
            DEBUG_TRACE(fn, "%s:%d  %s:%s : AlreadyConnectedException: Continuing ...",
                        BaseName(__FILE__), __LINE__, host.c_str(), portText.c_str());
            m_Cimom.SetConnState(RK_CIM_CONNECTED);
            if (locked) {
                m_ConnLock.leave();
                DEBUG_TRACE(fn, "Connection lock released");
            }
            return 0;
        } catch (const cim::CIMException& e) {
            DEBUG_TRACE(fn, "%s:%d  Caught CIMException: %s: %s\n", BaseName(__FILE__), __LINE__,
                        cim::cimStatusCodeToString(e.getCode()), e.getDescription().c_str());
        } catch (const cim::Exception& e) {
            DEBUG_TRACE(fn, "%s:%d Caught Exception: %s\n", BaseName(__FILE__), __LINE__,
                        e.getMessage().c_str());
            if (IsAuthRejection(e)) ReportAuthFailure(e.getMessage());
        } catch (...) {
            DEBUG_TRACE(fn, "Caught unknown Exception\n");
        }

        if (locked) {
            m_ConnLock.leave();
            DEBUG_TRACE(fn, "Connection lock released");
        }
        if (!sharedClient) {
            m_pClient.reset();
            m_Session.reset();
        }
        if (!retryable || attempts > static_cast<int16_t>(m_Cimom.GetMaxRetries())) return 1;
    }
}

int RkCimConnection::DisconnectCimom() {
    return Disconnect(false);
}

int RkCimConnection::Disconnect(bool keepClient) {
    static const char* const fn = "RkCimConnection::DisconnectCimom";
    int rc = 0;
    if (m_pClient) {
        try {
            DEBUG_TRACE_NORMAL(fn, "going to disconnect connection");
            m_pClient->disconnect();
            DEBUG_TRACE_NORMAL(fn, "Disconnected from %s:%s\n", m_Cimom.GetAddress().c_str(),
                               m_Cimom.GetPort().c_str());
        } catch (...) {
            DEBUG_TRACE(fn, "Caught unknown Exception\n");
            rc = 1;
        }
        if (!keepClient) {
            m_pClient.reset();
            m_Session.reset();
        }
    }
    m_Cimom.SetConnState(RK_CIM_NOT_CONNECTED);
    return rc;
}

int RkCimConnection::ConnectionRetry(short& retryCount, const cim::Exception& failure) {
    static const char* const fn = "RkCimConnection::ConnectionRetry";
    const bool faultRetry = TalonNumber("RK_PEGASUS_FAULT_RETRY") != 0;
    const Transient kind = Classify(failure);
    if (kind == Transient::No) return 0;
    const bool httpFailure = kind != Transient::Timeout;

    m_RetryState = RK_CIM_RETRYING;
    m_Cimom.SetConnState(RK_CIM_RETRYING);

    ++retryCount;
    if (retryCount >= static_cast<int16_t>(m_Cimom.GetMaxRetries())) {
        DEBUG_TRACE(fn, "Max Retries Exceeded (%d secs)",
                    static_cast<int>(m_Cimom.GetTimeoutSecs()));
        return 0;
    }
    if (httpFailure) {
        DEBUG_TRACE(fn, "Http Retry, timeout = %d: treat as timeout",
                    static_cast<int>(m_Cimom.GetTimeoutSecs()));
    }

    // The client is connected again in place, so that copies sharing it follow.
    if (!faultRetry) {
        Disconnect(true);
        if (ConnectCimom() != 0) return 0;
    } else if (m_FaultRetryCount != m_FaultRetryLimit) {
        ++m_FaultRetryCount;
    } else {
        Disconnect(true);
        if (ConnectCimom() != 0) return 0;
        m_FaultRetryCount = 0;
    }
    return 1;
}

template <typename Result, typename Call>
Result RkCimConnection::RetriedRead(const char* fn, Call call, bool isAssociation,
                                    const std::string& assocClass, const std::string& resultClass) {
    const bool faultRetry = TalonNumber("RK_PEGASUS_FAULT_RETRY") != 0;
    short retryCount = 0;
    // At least one attempt: a retry budget of 0 must not turn every read into an
    // empty answer. Otherwise the loop ends only through return or throw, since
    // ConnectionRetry gives up once retryCount reaches m_MaxRetries.
    for (;;) {
        // Read again for every attempt: a failed reconnect may have dropped the client.
        const cim::CIMNamespaceName nameSpace(m_Cimom.GetNameSpace());
        try {
            std::shared_ptr<cim::CIMClient> client = m_pClient;
            if (!client) throw cim::NotConnectedException();
            return call(*client, nameSpace);
        } catch (const cim::Exception& e) {
            const std::string text = e.getMessage();
            auto* cimError = dynamic_cast<const cim::CIMException*>(&e);
            if (isAssociation && cimError &&
                (cimError->getCode() == cim::CIM_ERR_INVALID_CLASS ||
                 cimError->getCode() == cim::CIM_ERR_NOT_FOUND)) {
                DEBUG_TRACE(fn, "Objects or Assns do not exist: %s, %s", assocClass.c_str(),
                            resultClass.c_str());
                return Result();
            }
            if (IsAuthRejection(e)) {
                if (!faultRetry) {
                    ReportAuthFailure(text);
                    SetAuthFailed(true);
                    return Result();
                }
                DEBUG_TRACE(fn,
                            "Unauthorized Exception [%s], continue with retry  as PEGASUS retry "
                            "regkey present",
                            text.c_str());
            }
            if (ConnectionRetry(retryCount, e) != 1) {
                DEBUG_TRACE(fn, "Client Timed out Exception %s", text.c_str());
                throw;
            }
        } catch (...) {
            DEBUG_TRACE(fn, "%s:%d Caught unknown Exception\n", BaseName(__FILE__), __LINE__);
            throw;
        }
    }
}

cim::CIMInstance RkCimConnection::GetInstance(cim::CIMObjectPath path) {
    return RetriedRead<cim::CIMInstance>(
        "RkCimConnection::GetInstance",
        [&](cim::CIMClient& client, const cim::CIMNamespaceName& ns) {
            return client.getInstance(ns, path, false, false, false, cim::CIMPropertyList());
        });
}

std::vector<cim::CIMInstance> RkCimConnection::GetInstances(std::string className,
                                                            cim::CIMPropertyList propertyList) {
    return RetriedRead<std::vector<cim::CIMInstance>>(
        "RkCimConnection::GetInstances",
        [&](cim::CIMClient& client, const cim::CIMNamespaceName& ns) {
            return client.enumerateInstances(ns, cim::CIMName(className), true, false, false, false,
                                             propertyList);
        });
}

std::vector<cim::CIMObjectPath> RkCimConnection::GetInstanceNames(std::string className) {
    return RetriedRead<std::vector<cim::CIMObjectPath>>(
        "RkCimConnection::GetInstanceNames",
        [&](cim::CIMClient& client, const cim::CIMNamespaceName& ns) {
            return client.enumerateInstanceNames(ns, cim::CIMName(className));
        });
}

std::vector<cim::CIMObjectPath> RkCimConnection::GetAssociatorNames(cim::CIMObjectPath objectName,
                                                                    std::string assocClass,
                                                                    std::string resultClass,
                                                                    std::string role,
                                                                    std::string resultRole) {
    return RetriedRead<std::vector<cim::CIMObjectPath>>(
        "RkCimConnection::GetAssociatorNames",
        [&](cim::CIMClient& client, const cim::CIMNamespaceName& ns) {
            return client.associatorNames(ns, objectName, cim::CIMName(assocClass),
                                          cim::CIMName(resultClass), role, resultRole);
        },
        true, assocClass, resultClass);
}

std::vector<cim::CIMObjectPath> RkCimConnection::GetReferenceNames(cim::CIMObjectPath objectName,
                                                                   std::string resultClass,
                                                                   std::string role) {
    std::shared_ptr<cim::CIMClient> client = m_pClient;
    if (!client) throw cim::NotConnectedException();
    try {
        return client->referenceNames(m_Cimom.GetNameSpace(), objectName, cim::CIMName(resultClass),
                                      role);
    } catch (const cim::Exception& e) {
        NoteFailure(e);
        throw;
    }
}

std::vector<cim::CIMInstance> RkCimConnection::GetReferences(cim::CIMObjectPath objectName,
                                                             std::string resultClass,
                                                             std::string role) {
    std::shared_ptr<cim::CIMClient> client = m_pClient;
    if (!client) throw cim::NotConnectedException();
    try {
        return client->references(m_Cimom.GetNameSpace(), objectName, cim::CIMName(resultClass),
                                  role, false, false, cim::CIMPropertyList());
    } catch (const cim::Exception& e) {
        NoteFailure(e);
        throw;
    }
}

int RkCimConnection::DeleteInstance(const cim::CIMNamespaceName& nameSpace,
                                    const cim::CIMObjectPath& path) {
    static const char* const fn = "RkCimConnection::DeleteInstance";
    std::shared_ptr<cim::CIMClient> client = m_pClient;
    if (!client) return 1;
    try {
        client->deleteInstance(nameSpace, path);
        return 0;
    } catch (const cim::CIMException& e) {
        DEBUG_TRACE(fn, "%s: %d: Caught CIMException: %s: %s", BaseName(__FILE__), __LINE__,
                    cim::cimStatusCodeToString(e.getCode()), e.getDescription().c_str());
    } catch (const cim::Exception& e) {
        DEBUG_TRACE(fn, "%s: %d: Caught Exception: %s", BaseName(__FILE__), __LINE__,
                    e.getMessage().c_str());
        // Our client reports a rejected credential as an HTTP error, not a CIM one.
        if (IsAuthRejection(e)) ReportAuthFailure(e.getMessage());
    } catch (...) {
        DEBUG_TRACE(fn, "%s: %d: Caught unknown Exception", BaseName(__FILE__), __LINE__);
    }
    return 1;
}
