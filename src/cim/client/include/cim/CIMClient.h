// A CIM client for CIM-XML over HTTP and HTTPS (DSP0200/DSP0201).
//
//   cim::CIMClient client;
//   client.connect("10.0.0.5", 5988, "user", "password");   // or with a cim::SSLContext
//   client.setTimeout(300000);
//   auto names = client.enumerateInstanceNames("root/LsiArray13", "CIM_StorageVolume");
//   client.disconnect();
//
// One connected client keeps one TCP (or TLS) connection open and sends every request over
// it; when the server closes it, the next request opens a new one. A client is used by one
// thread at a time; separate clients are independent.
//
// Answers are decoded while they arrive. The forEach... forms hand each instance or path to a
// function as soon as it is decoded, so that a caller that searches or prints never holds
// the whole list; a failure found later in the answer (a cut body, an error in the
// trailers) still raises, after the results before it were handed over.
//
// Errors (all derive from cim::Exception, <cim/Exception.h>):
//  - CannotConnectException: the endpoint refused or could not be reached at connect, or it
//    does not speak TLS ("Connection failed ..."); or its certificate was refused (no
//    "Connection failed");
//  - AlreadyConnectedException: connect on a connected client;
//  - NotConnectedException: an operation on a client that is not connected;
//  - ConnectionTimeoutException: no complete answer within the time-out ("timed out");
//  - HttpException: a non-2xx HTTP answer ("HTTP <status> ...", so "HTTP 401 ..." for
//    rejected credentials);
//  - ConnectionLostException: the connection broke or the answer was cut ("HTTP" in the text);
//  - CIMException: the server reported a CIM error; getCode() is its status and the text
//    starts with the status name ("CIM_ERR_NOT_FOUND: ...");
//  - ParseException: the answer is not valid CIM-XML or not the answer to the request;
//  - ResponseTooLargeException: the answer is larger than setMaxResponseSize allows.
//
// Flag arguments left at their defaults are not sent, so the server applies the DSP0200
// default of the operation (the same values as these defaults).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <cim/CIMClass.h>
#include <cim/CIMInstance.h>
#include <cim/CIMName.h>
#include <cim/CIMObjectPath.h>
#include <cim/CIMParamValue.h>
#include <cim/CIMPropertyList.h>
#include <cim/CIMValue.h>
#include <cim/Exception.h>
#include <cim/SSLContext.h>
#include <cim/Types.h>

namespace cim {

class HttpTransport;
namespace xml {
struct Request;
struct Response;
class ResponseHandler;
}  // namespace xml

class CIMClient {
  public:
    static constexpr Uint32 kDefaultTimeoutMilliseconds = 20000;
    static constexpr std::size_t kDefaultMaxResponseBytes = std::size_t(256) << 20;

    // Receive each result of the forEach... forms; they may move from it.
    using InstanceFunction = std::function<void(CIMInstance&&)>;
    using PathFunction = std::function<void(CIMObjectPath&&)>;

    CIMClient();
    ~CIMClient();
    CIMClient(const CIMClient&) = delete;
    CIMClient& operator=(const CIMClient&) = delete;

    // Time-out for connecting and for each operation; 0 restores the default (20 s).
    void setTimeout(Uint32 timeoutMilliseconds);
    Uint32 getTimeout() const;
    // Largest response body accepted (default 256 MiB); a larger answer raises
    // ResponseTooLargeException as soon as it is seen to be larger.
    void setMaxResponseSize(std::size_t bytes);
    std::size_t getMaxResponseSize() const { return m_maxResponseBytes; }

    // Plain HTTP. Opens the connection now: a refused or unreachable endpoint raises
    // CannotConnectException with "Connection failed" here. Credentials are sent with
    // Basic authentication (an empty user name sends none).
    void connect(const String& host, Uint32 portNumber, const String& userName,
                 const String& password);
    // HTTPS with the given trust store and certificate verification callback. The TLS
    // handshake (and so the certificate check) happens here, before connect returns; later
    // operations use the connection without another handshake (unless the server closes it).
    void connect(const String& host, Uint32 portNumber, const SSLContext& sslContext,
                 const String& userName, const String& password);
    // Runs around the TLS handshake of a connection that an operation opens again after the
    // server closed the kept one (see HttpTransport::setHandshakeGuard); true before, false
    // after. Must not throw. Empty: none.
    void setHandshakeGuard(std::function<void(bool entering)> guard);
    // Closes the connection. Safe to call when not connected.
    void disconnect();
    bool isConnected() const;

    CIMInstance getInstance(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                            Boolean localOnly = true, Boolean includeQualifiers = false,
                            Boolean includeClassOrigin = false,
                            const CIMPropertyList& propertyList = CIMPropertyList());

    void deleteInstance(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName);

    // Returns the name of the new instance as the server reports it.
    CIMObjectPath createInstance(const CIMNamespaceName& nameSpace, const CIMInstance& newInstance);

    // modifiedInstance must carry its path (setPath).
    void modifyInstance(const CIMNamespaceName& nameSpace, const CIMInstance& modifiedInstance,
                        Boolean includeQualifiers = true,
                        const CIMPropertyList& propertyList = CIMPropertyList());

    // Instances come with their paths (class name and keys; no host or namespace).
    Array<CIMInstance> enumerateInstances(const CIMNamespaceName& nameSpace,
                                          const CIMName& className, Boolean deepInheritance = true,
                                          Boolean localOnly = true,
                                          Boolean includeQualifiers = false,
                                          Boolean includeClassOrigin = false,
                                          const CIMPropertyList& propertyList = CIMPropertyList());

    Array<CIMObjectPath> enumerateInstanceNames(const CIMNamespaceName& nameSpace,
                                                const CIMName& className);

    // Association traversal. A null CIMName and an empty role mean "any". The associated
    // objects come with their full paths as the server sends them.
    Array<CIMInstance> associators(
        const CIMNamespaceName& nameSpace, const CIMObjectPath& objectName,
        const CIMName& assocClass = CIMName(), const CIMName& resultClass = CIMName(),
        const String& role = String(), const String& resultRole = String(),
        Boolean includeQualifiers = false, Boolean includeClassOrigin = false,
        const CIMPropertyList& propertyList = CIMPropertyList());

    Array<CIMObjectPath> associatorNames(const CIMNamespaceName& nameSpace,
                                         const CIMObjectPath& objectName,
                                         const CIMName& assocClass = CIMName(),
                                         const CIMName& resultClass = CIMName(),
                                         const String& role = String(),
                                         const String& resultRole = String());

    Array<CIMInstance> references(const CIMNamespaceName& nameSpace,
                                  const CIMObjectPath& objectName,
                                  const CIMName& resultClass = CIMName(),
                                  const String& role = String(), Boolean includeQualifiers = false,
                                  Boolean includeClassOrigin = false,
                                  const CIMPropertyList& propertyList = CIMPropertyList());

    Array<CIMObjectPath> referenceNames(const CIMNamespaceName& nameSpace,
                                        const CIMObjectPath& objectName,
                                        const CIMName& resultClass = CIMName(),
                                        const String& role = String());

    // Calls an extrinsic method of an instance (or, with a path without keys, of a class)
    // and returns its return value (null when the server sent none); outParameters is
    // replaced by the output parameters.
    CIMValue invokeMethod(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                          const CIMName& methodName, const Array<CIMParamValue>& inParameters,
                          Array<CIMParamValue>& outParameters);

    // The same operations, handing over each result as it is decoded.
    void forEachInstance(const CIMNamespaceName& nameSpace, const CIMName& className,
                         const InstanceFunction& function, Boolean deepInheritance = true,
                         Boolean localOnly = true, Boolean includeQualifiers = false,
                         Boolean includeClassOrigin = false,
                         const CIMPropertyList& propertyList = CIMPropertyList());
    void forEachInstanceName(const CIMNamespaceName& nameSpace, const CIMName& className,
                             const PathFunction& function);
    void forEachAssociator(const CIMNamespaceName& nameSpace, const CIMObjectPath& objectName,
                           const InstanceFunction& function, const CIMName& assocClass = CIMName(),
                           const CIMName& resultClass = CIMName(), const String& role = String(),
                           const String& resultRole = String(), Boolean includeQualifiers = false,
                           Boolean includeClassOrigin = false,
                           const CIMPropertyList& propertyList = CIMPropertyList());
    void forEachAssociatorName(const CIMNamespaceName& nameSpace, const CIMObjectPath& objectName,
                               const PathFunction& function, const CIMName& assocClass = CIMName(),
                               const CIMName& resultClass = CIMName(),
                               const String& role = String(), const String& resultRole = String());
    void forEachReference(const CIMNamespaceName& nameSpace, const CIMObjectPath& objectName,
                          const InstanceFunction& function, const CIMName& resultClass = CIMName(),
                          const String& role = String(), Boolean includeQualifiers = false,
                          Boolean includeClassOrigin = false,
                          const CIMPropertyList& propertyList = CIMPropertyList());
    void forEachReferenceName(const CIMNamespaceName& nameSpace, const CIMObjectPath& objectName,
                              const PathFunction& function, const CIMName& resultClass = CIMName(),
                              const String& role = String());

    CIMClass getClass(const CIMNamespaceName& nameSpace, const CIMName& className,
                      Boolean localOnly = true, Boolean includeQualifiers = true,
                      Boolean includeClassOrigin = false,
                      const CIMPropertyList& propertyList = CIMPropertyList());

  private:
    // Sends the request and decodes the answer; with a handler, the instances and paths go
    // to it as they arrive instead of into the result.
    xml::Response call(xml::Request& request, xml::ResponseHandler* handler = nullptr);

    std::unique_ptr<HttpTransport> m_transport;
    std::size_t m_maxResponseBytes;
    unsigned long m_nextMessageId = 1000;
};

}  // namespace cim
