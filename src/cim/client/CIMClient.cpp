#include <cim/CIMClient.h>

#include <cim/HttpTransport.h>
#include <cim/xml/Codec.h>
#include <cim/xml/HttpHeaders.h>

namespace cim {

namespace {

xml::Request intrinsicRequest(const CIMNamespaceName& nameSpace, const char* method) {
    xml::Request r;
    r.intrinsic = true;
    r.methodName = method;
    r.nameSpace = nameSpace;
    return r;
}

// Flags equal to the DSP0200 default of the operation are left out of the request.
std::optional<bool> unlessDefault(bool value, bool dsp0200Default) {
    if (value == dsp0200Default) return std::nullopt;
    return value;
}

std::optional<CIMName> unlessNull(const CIMName& name) {
    if (name.isNull()) return std::nullopt;
    return name;
}

std::optional<std::string> unlessEmpty(const std::string& text) {
    if (text.empty()) return std::nullopt;
    return text;
}

// Reads change nothing on the server: one that met a closed kept connection may go again.
bool isRead(const xml::Request& request) {
    if (!request.intrinsic) return false;
    for (const char* read : {xml::kGetInstance, xml::kEnumerateInstances,
                             xml::kEnumerateInstanceNames, xml::kAssociators, xml::kAssociatorNames,
                             xml::kReferences, xml::kReferenceNames, xml::kGetClass})
        if (equalNoCase(request.methodName, read)) return true;
    return false;
}

// Whether the answer is the one to the request: same message ID, same kind and method.
void checkAnswer(const xml::Request& request, const xml::Response& response) {
    if (response.messageId != request.messageId) {
        throw ParseException("CIM-XML response has message ID " + response.messageId.substr(0, 40) +
                             " but the request had " + request.messageId);
    }
    if (response.intrinsic != request.intrinsic ||
        !equalNoCase(response.methodName, request.methodName)) {
        throw ParseException("CIM-XML response is for method " + response.methodName.substr(0, 80) +
                             ", not " + request.methodName);
    }
}

// Checks the answer before its first result, then hands the results on.
class CheckedHandler final : public xml::ResponseHandler {
  public:
    CheckedHandler(const xml::Request& request, xml::ResponseHandler* next)
        : m_request(request), m_next(next) {}
    void envelope(const xml::Response& head) override {
        checkAnswer(m_request, head);
        m_next->envelope(head);
    }
    void instance(CIMInstance&& i) override { m_next->instance(std::move(i)); }
    void instanceName(CIMObjectPath&& p) override { m_next->instanceName(std::move(p)); }

  private:
    const xml::Request& m_request;
    xml::ResponseHandler* m_next;
};

// Hands instances (or paths) to the caller's function; results of the other kind, which an
// answer to that query should not hold, are passed over as the collecting forms do.
class Forward final : public xml::ResponseHandler {
  public:
    explicit Forward(const CIMClient::InstanceFunction& f) : m_instances(&f) {}
    explicit Forward(const CIMClient::PathFunction& f) : m_paths(&f) {}
    void instance(CIMInstance&& i) override {
        if (m_instances) (*m_instances)(std::move(i));
    }
    void instanceName(CIMObjectPath&& p) override {
        if (m_paths) (*m_paths)(std::move(p));
    }

  private:
    const CIMClient::InstanceFunction* m_instances = nullptr;
    const CIMClient::PathFunction* m_paths = nullptr;
};

xml::Request enumerateInstancesRequest(const CIMNamespaceName& nameSpace, const CIMName& className,
                                       bool deepInheritance, bool localOnly, bool includeQualifiers,
                                       bool includeClassOrigin,
                                       const CIMPropertyList& propertyList) {
    xml::Request r = intrinsicRequest(nameSpace, xml::kEnumerateInstances);
    r.className = className;
    r.deepInheritance = unlessDefault(deepInheritance, true);
    r.localOnly = unlessDefault(localOnly, true);
    r.includeQualifiers = unlessDefault(includeQualifiers, false);
    r.includeClassOrigin = unlessDefault(includeClassOrigin, false);
    r.propertyList = propertyList;
    return r;
}

xml::Request enumerateInstanceNamesRequest(const CIMNamespaceName& nameSpace,
                                           const CIMName& className) {
    xml::Request r = intrinsicRequest(nameSpace, xml::kEnumerateInstanceNames);
    r.className = className;
    return r;
}

xml::Request associatorsRequest(const CIMNamespaceName& nameSpace, const CIMObjectPath& objectName,
                                const CIMName& assocClass, const CIMName& resultClass,
                                const String& role, const String& resultRole,
                                bool includeQualifiers, bool includeClassOrigin,
                                const CIMPropertyList& propertyList) {
    xml::Request r = intrinsicRequest(nameSpace, xml::kAssociators);
    r.objectName = objectName;
    r.assocClass = unlessNull(assocClass);
    r.resultClass = unlessNull(resultClass);
    r.role = unlessEmpty(role);
    r.resultRole = unlessEmpty(resultRole);
    r.includeQualifiers = unlessDefault(includeQualifiers, false);
    r.includeClassOrigin = unlessDefault(includeClassOrigin, false);
    r.propertyList = propertyList;
    return r;
}

xml::Request associatorNamesRequest(const CIMNamespaceName& nameSpace,
                                    const CIMObjectPath& objectName, const CIMName& assocClass,
                                    const CIMName& resultClass, const String& role,
                                    const String& resultRole) {
    xml::Request r = intrinsicRequest(nameSpace, xml::kAssociatorNames);
    r.objectName = objectName;
    r.assocClass = unlessNull(assocClass);
    r.resultClass = unlessNull(resultClass);
    r.role = unlessEmpty(role);
    r.resultRole = unlessEmpty(resultRole);
    return r;
}

xml::Request referencesRequest(const CIMNamespaceName& nameSpace, const CIMObjectPath& objectName,
                               const CIMName& resultClass, const String& role,
                               bool includeQualifiers, bool includeClassOrigin,
                               const CIMPropertyList& propertyList) {
    xml::Request r = intrinsicRequest(nameSpace, xml::kReferences);
    r.objectName = objectName;
    r.resultClass = unlessNull(resultClass);
    r.role = unlessEmpty(role);
    r.includeQualifiers = unlessDefault(includeQualifiers, false);
    r.includeClassOrigin = unlessDefault(includeClassOrigin, false);
    r.propertyList = propertyList;
    return r;
}

xml::Request referenceNamesRequest(const CIMNamespaceName& nameSpace,
                                   const CIMObjectPath& objectName, const CIMName& resultClass,
                                   const String& role) {
    xml::Request r = intrinsicRequest(nameSpace, xml::kReferenceNames);
    r.objectName = objectName;
    r.resultClass = unlessNull(resultClass);
    r.role = unlessEmpty(role);
    return r;
}

}  // namespace

CIMClient::CIMClient()
    : m_transport(std::make_unique<HttpTransport>()), m_maxResponseBytes(kDefaultMaxResponseBytes) {
    m_transport->setTimeout(kDefaultTimeoutMilliseconds);
    m_transport->setMaxResponseSize(kDefaultMaxResponseBytes);
}

CIMClient::~CIMClient() = default;

void CIMClient::setTimeout(Uint32 timeoutMilliseconds) {
    m_transport->setTimeout(timeoutMilliseconds == 0 ? kDefaultTimeoutMilliseconds
                                                     : timeoutMilliseconds);
}

Uint32 CIMClient::getTimeout() const {
    return m_transport->getTimeout();
}

void CIMClient::setMaxResponseSize(std::size_t bytes) {
    m_maxResponseBytes = bytes;
    m_transport->setMaxResponseSize(bytes);
}

void CIMClient::connect(const String& host, Uint32 portNumber, const String& userName,
                        const String& password) {
    m_transport->connect(host, portNumber, userName, password);
}

void CIMClient::connect(const String& host, Uint32 portNumber, const SSLContext& sslContext,
                        const String& userName, const String& password) {
    m_transport->connect(host, portNumber, sslContext, userName, password);
}

void CIMClient::setHandshakeGuard(std::function<void(bool entering)> guard) {
    m_transport->setHandshakeGuard(std::move(guard));
}

void CIMClient::disconnect() {
    m_transport->disconnect();
}

bool CIMClient::isConnected() const {
    return m_transport->isConnected();
}

xml::Response CIMClient::call(xml::Request& request, xml::ResponseHandler* handler) {
    if (!m_transport->isConnected()) throw NotConnectedException();
    if (request.nameSpace.isNull()) throw Exception("A CIM operation needs a namespace");
    request.messageId = std::to_string(m_nextMessageId++);
    const std::string body = xml::encodeRequest(request);
    xml::Limits limits;
    limits.maxBytes = m_maxResponseBytes;
    CheckedHandler checked(request, handler);
    xml::ResponseDecoder decoder(limits, handler ? &checked : nullptr);
    // A body that does not decode is reported after the whole answer has been read: a CIM
    // error in its trailers explains it better, and the connection stays usable.
    std::unique_ptr<ParseException> decodeError;
    try {
        m_transport->post(
            xml::cimMethodHeader(request), xml::cimObjectHeader(request), body,
            [&](const char* data, std::size_t size) {
                if (decodeError) return;
                try {
                    decoder.feed(data, size);
                } catch (const ParseException& e) {
                    decodeError = std::make_unique<ParseException>(e);
                }
            },
            isRead(request));
    } catch (const ResponseTooLargeException& e) {
        throw ResponseTooLargeException(
            e.getLimit(), e.getMessage() + "; CIMClient::setMaxResponseSize raises the limit");
    }
    if (decodeError) throw ParseException(*decodeError);
    xml::Response response = decoder.finish();
    if (response.isError()) {
        std::string text = response.errorDescription;
        // Servers repeat the status name in front of the description; keep it once.
        const std::string prefix = std::string(cimStatusCodeToString(response.errorCode)) + ": ";
        if (text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
        throw CIMException(response.errorCode, text);
    }
    checkAnswer(request, response);
    return response;
}

CIMInstance CIMClient::getInstance(const CIMNamespaceName& nameSpace,
                                   const CIMObjectPath& instanceName, Boolean localOnly,
                                   Boolean includeQualifiers, Boolean includeClassOrigin,
                                   const CIMPropertyList& propertyList) {
    xml::Request r = intrinsicRequest(nameSpace, xml::kGetInstance);
    r.instanceName = instanceName;
    r.localOnly = unlessDefault(localOnly, true);
    r.includeQualifiers = unlessDefault(includeQualifiers, false);
    r.includeClassOrigin = unlessDefault(includeClassOrigin, false);
    r.propertyList = propertyList;
    xml::Response response = call(r);
    if (response.instances.empty()) {
        throw ParseException("GetInstance response holds no INSTANCE");
    }
    CIMInstance instance = std::move(response.instances.front());
    // The answer carries no path; the instance is the one asked for.
    if (instance.getPath().getClassName().isNull()) {
        CIMObjectPath path = instanceName;
        if (path.getNameSpace().isNull()) path.setNameSpace(nameSpace);
        instance.setPath(std::move(path));
    }
    return instance;
}

void CIMClient::deleteInstance(const CIMNamespaceName& nameSpace,
                               const CIMObjectPath& instanceName) {
    xml::Request r = intrinsicRequest(nameSpace, xml::kDeleteInstance);
    r.instanceName = instanceName;
    call(r);
}

CIMObjectPath CIMClient::createInstance(const CIMNamespaceName& nameSpace,
                                        const CIMInstance& newInstance) {
    xml::Request r = intrinsicRequest(nameSpace, xml::kCreateInstance);
    r.newInstance = newInstance;
    xml::Response response = call(r);
    if (response.instanceNames.empty()) {
        throw ParseException("CreateInstance response holds no INSTANCENAME");
    }
    return std::move(response.instanceNames.front());
}

void CIMClient::modifyInstance(const CIMNamespaceName& nameSpace,
                               const CIMInstance& modifiedInstance, Boolean includeQualifiers,
                               const CIMPropertyList& propertyList) {
    if (modifiedInstance.getPath().getClassName().isNull()) {
        throw Exception("modifyInstance needs an instance with its path");
    }
    xml::Request r = intrinsicRequest(nameSpace, xml::kModifyInstance);
    r.modifiedInstance = modifiedInstance;
    r.includeQualifiers = unlessDefault(includeQualifiers, true);
    r.propertyList = propertyList;
    call(r);
}

Array<CIMInstance> CIMClient::enumerateInstances(const CIMNamespaceName& nameSpace,
                                                 const CIMName& className, Boolean deepInheritance,
                                                 Boolean localOnly, Boolean includeQualifiers,
                                                 Boolean includeClassOrigin,
                                                 const CIMPropertyList& propertyList) {
    xml::Request r = enumerateInstancesRequest(nameSpace, className, deepInheritance, localOnly,
                                               includeQualifiers, includeClassOrigin, propertyList);
    return std::move(call(r).instances);
}

Array<CIMObjectPath> CIMClient::enumerateInstanceNames(const CIMNamespaceName& nameSpace,
                                                       const CIMName& className) {
    xml::Request r = enumerateInstanceNamesRequest(nameSpace, className);
    return std::move(call(r).instanceNames);
}

Array<CIMInstance> CIMClient::associators(const CIMNamespaceName& nameSpace,
                                          const CIMObjectPath& objectName,
                                          const CIMName& assocClass, const CIMName& resultClass,
                                          const String& role, const String& resultRole,
                                          Boolean includeQualifiers, Boolean includeClassOrigin,
                                          const CIMPropertyList& propertyList) {
    xml::Request r =
        associatorsRequest(nameSpace, objectName, assocClass, resultClass, role, resultRole,
                           includeQualifiers, includeClassOrigin, propertyList);
    return std::move(call(r).instances);
}

Array<CIMObjectPath> CIMClient::associatorNames(const CIMNamespaceName& nameSpace,
                                                const CIMObjectPath& objectName,
                                                const CIMName& assocClass,
                                                const CIMName& resultClass, const String& role,
                                                const String& resultRole) {
    xml::Request r =
        associatorNamesRequest(nameSpace, objectName, assocClass, resultClass, role, resultRole);
    return std::move(call(r).instanceNames);
}

Array<CIMInstance> CIMClient::references(const CIMNamespaceName& nameSpace,
                                         const CIMObjectPath& objectName,
                                         const CIMName& resultClass, const String& role,
                                         Boolean includeQualifiers, Boolean includeClassOrigin,
                                         const CIMPropertyList& propertyList) {
    xml::Request r = referencesRequest(nameSpace, objectName, resultClass, role, includeQualifiers,
                                       includeClassOrigin, propertyList);
    return std::move(call(r).instances);
}

Array<CIMObjectPath> CIMClient::referenceNames(const CIMNamespaceName& nameSpace,
                                               const CIMObjectPath& objectName,
                                               const CIMName& resultClass, const String& role) {
    xml::Request r = referenceNamesRequest(nameSpace, objectName, resultClass, role);
    return std::move(call(r).instanceNames);
}

CIMValue CIMClient::invokeMethod(const CIMNamespaceName& nameSpace,
                                 const CIMObjectPath& instanceName, const CIMName& methodName,
                                 const Array<CIMParamValue>& inParameters,
                                 Array<CIMParamValue>& outParameters) {
    xml::Request r;
    r.intrinsic = false;
    r.methodName = methodName.getString();
    r.nameSpace = nameSpace;
    // The call goes to the given namespace, whatever host or namespace the path names.
    r.target = instanceName;
    r.target.setHost(std::string());
    r.target.setNameSpace(nameSpace);
    r.inParameters = inParameters;
    xml::Response response = call(r);
    outParameters = std::move(response.outParameters);
    return std::move(response.returnValue);
}

void CIMClient::forEachInstance(const CIMNamespaceName& nameSpace, const CIMName& className,
                                const InstanceFunction& function, Boolean deepInheritance,
                                Boolean localOnly, Boolean includeQualifiers,
                                Boolean includeClassOrigin, const CIMPropertyList& propertyList) {
    xml::Request r = enumerateInstancesRequest(nameSpace, className, deepInheritance, localOnly,
                                               includeQualifiers, includeClassOrigin, propertyList);
    Forward handler(function);
    call(r, &handler);
}

void CIMClient::forEachInstanceName(const CIMNamespaceName& nameSpace, const CIMName& className,
                                    const PathFunction& function) {
    xml::Request r = enumerateInstanceNamesRequest(nameSpace, className);
    Forward handler(function);
    call(r, &handler);
}

void CIMClient::forEachAssociator(const CIMNamespaceName& nameSpace,
                                  const CIMObjectPath& objectName, const InstanceFunction& function,
                                  const CIMName& assocClass, const CIMName& resultClass,
                                  const String& role, const String& resultRole,
                                  Boolean includeQualifiers, Boolean includeClassOrigin,
                                  const CIMPropertyList& propertyList) {
    xml::Request r =
        associatorsRequest(nameSpace, objectName, assocClass, resultClass, role, resultRole,
                           includeQualifiers, includeClassOrigin, propertyList);
    Forward handler(function);
    call(r, &handler);
}

void CIMClient::forEachAssociatorName(const CIMNamespaceName& nameSpace,
                                      const CIMObjectPath& objectName, const PathFunction& function,
                                      const CIMName& assocClass, const CIMName& resultClass,
                                      const String& role, const String& resultRole) {
    xml::Request r =
        associatorNamesRequest(nameSpace, objectName, assocClass, resultClass, role, resultRole);
    Forward handler(function);
    call(r, &handler);
}

void CIMClient::forEachReference(const CIMNamespaceName& nameSpace, const CIMObjectPath& objectName,
                                 const InstanceFunction& function, const CIMName& resultClass,
                                 const String& role, Boolean includeQualifiers,
                                 Boolean includeClassOrigin, const CIMPropertyList& propertyList) {
    xml::Request r = referencesRequest(nameSpace, objectName, resultClass, role, includeQualifiers,
                                       includeClassOrigin, propertyList);
    Forward handler(function);
    call(r, &handler);
}

void CIMClient::forEachReferenceName(const CIMNamespaceName& nameSpace,
                                     const CIMObjectPath& objectName, const PathFunction& function,
                                     const CIMName& resultClass, const String& role) {
    xml::Request r = referenceNamesRequest(nameSpace, objectName, resultClass, role);
    Forward handler(function);
    call(r, &handler);
}

CIMClass CIMClient::getClass(const CIMNamespaceName& nameSpace, const CIMName& className,
                             Boolean localOnly, Boolean includeQualifiers,
                             Boolean includeClassOrigin, const CIMPropertyList& propertyList) {
    xml::Request r = intrinsicRequest(nameSpace, xml::kGetClass);
    r.className = className;
    r.localOnly = unlessDefault(localOnly, true);
    r.includeQualifiers = unlessDefault(includeQualifiers, true);
    r.includeClassOrigin = unlessDefault(includeClassOrigin, false);
    r.propertyList = propertyList;
    xml::Response response = call(r);
    if (!response.cimClass) throw ParseException("GetClass response holds no CLASS");
    return std::move(*response.cimClass);
}

}  // namespace cim
