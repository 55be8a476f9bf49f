// CIM-XML (DSP0201) messages for CIM operations over HTTP (DSP0200), both directions:
// clients encode requests and decode responses, servers decode requests and encode
// responses. Only simple (single) requests and responses are supported.
//
// Decoding never expands entities beyond XML's five predefined ones and character
// references; a document type declaration is refused. Every decoding fault raises
// ParseException (RequestException for requests) whose message names what is wrong.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <cim/CIMClass.h>
#include <cim/CIMInstance.h>
#include <cim/CIMName.h>
#include <cim/CIMObjectPath.h>
#include <cim/CIMParamValue.h>
#include <cim/CIMPropertyList.h>
#include <cim/CIMValue.h>
#include <cim/Exception.h>

namespace cim::xml {

struct Limits {
    // Larger documents are refused before parsing.
    std::size_t maxBytes = 128u * 1024u * 1024u;
    // Deepest nesting of references inside references (VALUE.REFERENCE in key bindings)
    // and of embedded instances. Each level doubles the escapes of a path's text form, so
    // this also bounds how much a small document can grow in memory.
    unsigned maxReferenceDepth = 4;
};

// Intrinsic method names.
inline constexpr const char* kGetInstance = "GetInstance";
inline constexpr const char* kEnumerateInstances = "EnumerateInstances";
inline constexpr const char* kEnumerateInstanceNames = "EnumerateInstanceNames";
inline constexpr const char* kAssociators = "Associators";
inline constexpr const char* kAssociatorNames = "AssociatorNames";
inline constexpr const char* kReferences = "References";
inline constexpr const char* kReferenceNames = "ReferenceNames";
inline constexpr const char* kModifyInstance = "ModifyInstance";
inline constexpr const char* kDeleteInstance = "DeleteInstance";
inline constexpr const char* kCreateInstance = "CreateInstance";
inline constexpr const char* kGetClass = "GetClass";

// One operation request. Intrinsic parameters that were not sent are empty optionals
// (the server applies the DSP0200 default of the operation); the property list is
// null when not sent.
struct Request {
    std::string messageId = "1000";
    bool intrinsic = true;   // IMETHODCALL; false: METHODCALL (extrinsic)
    std::string methodName;  // "GetInstance", ... or the extrinsic method's name
    // Target namespace. For extrinsic calls the encoder uses target's namespace when
    // it has one, else this; the decoder fills both.
    CIMNamespaceName nameSpace;

    // Intrinsic parameters.
    std::optional<CIMObjectPath> instanceName;  // InstanceName: GetInstance, DeleteInstance
    std::optional<CIMName> className;           // ClassName: Enumerate*, GetClass
    // ObjectName: Associators, AssociatorNames, References, ReferenceNames. An instance
    // path, or a class path (no keys) for class-level association queries.
    std::optional<CIMObjectPath> objectName;
    // ModifiedInstance: the instance with its path set (VALUE.NAMEDINSTANCE on the wire).
    std::optional<CIMInstance> modifiedInstance;
    std::optional<CIMInstance> newInstance;  // NewInstance: CreateInstance
    std::optional<bool> localOnly;
    std::optional<bool> deepInheritance;
    std::optional<bool> includeQualifiers;
    std::optional<bool> includeClassOrigin;
    CIMPropertyList propertyList;  // PropertyList
    std::optional<CIMName> assocClass;
    std::optional<CIMName> resultClass;
    std::optional<std::string> role;
    std::optional<std::string> resultRole;
    // Names of IPARAMVALUEs the decoder did not recognise (a server may refuse them).
    std::vector<std::string> unknownParameters;

    // Extrinsic call: the target instance (LOCALINSTANCEPATH) or class
    // (LOCALCLASSPATH, a path without keys) and the input parameters.
    CIMObjectPath target;
    std::vector<CIMParamValue> inParameters;
};

// One operation response. errorCode != CIM_ERR_SUCCESS means an ERROR element.
struct Response {
    std::string messageId = "1000";
    bool intrinsic = true;  // IMETHODRESPONSE; false: METHODRESPONSE
    std::string methodName;

    CIMStatusCode errorCode = CIM_ERR_SUCCESS;
    std::string errorDescription;
    bool isError() const { return errorCode != CIM_ERR_SUCCESS; }

    // Decoding: whether an IRETURNVALUE / RETURNVALUE element was present.
    // Encoding: intrinsic responses carry IRETURNVALUE when this is set or any result
    // below is not empty.
    bool hasReturnValue = false;

    // Intrinsic results. The decoder accepts every element form wherever it appears;
    // the encoder picks the form from methodName:
    //   EnumerateInstanceNames, CreateInstance -> INSTANCENAME (instanceNames)
    //   AssociatorNames, ReferenceNames -> OBJECTPATH/INSTANCEPATH (instanceNames; a
    //     path without host is sent with host "localhost", one without namespace as a
    //     plain INSTANCENAME)
    //   GetInstance -> INSTANCE (instances[0]; also any instance without a path)
    //   EnumerateInstances -> VALUE.NAMEDINSTANCE (instances, with their paths)
    //   Associators, References -> VALUE.OBJECTWITHPATH (instances, with their paths;
    //     VALUE.NAMEDINSTANCE for a path without namespace)
    //   GetClass -> CLASS (cimClass)
    //   ModifyInstance, DeleteInstance -> nothing
    std::vector<CIMObjectPath> instanceNames;
    std::vector<CIMInstance> instances;
    std::optional<CIMClass> cimClass;

    // Extrinsic results: RETURNVALUE (null when absent) and output parameters.
    CIMValue returnValue;
    std::vector<CIMParamValue> outParameters;
};

// A request the server cannot take, with the DSP0200 CIMError header value that
// describes it ("request-not-well-formed", "request-not-valid",
// "unsupported-cim-version", "unsupported-dtd-version",
// "unsupported-protocol-version", "multiple-requests-unsupported") and the HTTP status
// to answer with (400 or 501).
class RequestException : public ParseException {
  public:
    RequestException(const std::string& cimError, int httpStatus, const std::string& message)
        : ParseException(message), m_cimError(cimError), m_httpStatus(httpStatus) {}
    const std::string& cimError() const { return m_cimError; }
    int httpStatus() const { return m_httpStatus; }

  private:
    std::string m_cimError;
    int m_httpStatus;
};

// Client side.
std::string encodeRequest(const Request& request);
// Decodes a whole answer (through ResponseDecoder).
Response decodeResponse(std::string_view body, const Limits& limits = Limits());

// Receives the results of an answer while it is decoded (see ResponseDecoder).
class ResponseHandler {
  public:
    virtual ~ResponseHandler() = default;
    // Called once, before the first result, with what the answer says before its results
    // (message ID, intrinsic or not, method name, an ERROR met so far) and no results, so
    // that a client can check that the answer is the one to its request. Throwing stops
    // the decoding.
    virtual void envelope(const Response& head) {}
    virtual void instance(CIMInstance&& instance) = 0;
    virtual void instanceName(CIMObjectPath&& path) = 0;
};

// Decodes an answer while its bytes arrive. Each result of an IRETURNVALUE (instance,
// path, class) is decoded as soon as its element is complete and handed to the handler
// (or, without one, collected into the Response that finish() returns), so that neither
// the body nor a tree of it is held: memory stays about one result plus what is kept.
// Everything else of the answer is kept and decoded by finish(), under the same rules as a
// whole document: no document type, no entity beyond the predefined ones, the size limit
// on all bytes fed, the same ParseException for a malformed or truncated answer. A fault
// raises from feed() or finish(); results handed over before it stay handed over.
// Texts the results repeat (names, key values, string values) are shared between them.
class ResponseDecoder {
  public:
    explicit ResponseDecoder(const Limits& limits = Limits(), ResponseHandler* handler = nullptr);
    ~ResponseDecoder();
    ResponseDecoder(const ResponseDecoder&) = delete;
    ResponseDecoder& operator=(const ResponseDecoder&) = delete;

    void feed(const char* data, std::size_t size);
    // The end of the answer. A handler has received every instance and path; the Response
    // holds the rest (and the class of a GetClass answer).
    Response finish();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The decoder that parses a whole answer into one document tree before reading it; the
// streaming decoder is checked against it.
Response decodeResponseDom(std::string_view body, const Limits& limits = Limits());

// Server side. decodeRequest throws RequestException (a ParseException).
Request decodeRequest(std::string_view body, const Limits& limits = Limits());
std::string encodeResponse(const Response& response);

// Pieces, for tests and tools.
// The CIM-XML INSTANCE element of an instance (no XML declaration).
std::string encodeInstance(const CIMInstance& instance);
// Reads one INSTANCE element (throws ParseException).
CIMInstance decodeInstance(std::string_view xml, const Limits& limits = Limits());
// Escapes &, <, >, " and ' for XML text and attribute values.
void appendEscaped(std::string& out, std::string_view text);

}  // namespace cim::xml
