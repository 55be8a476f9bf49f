// Exceptions raised by the CIM client, codec and object model.
// Messages carry the words callers match on: "Connection failed", "timed out",
// "HTTP", "401", "malformed" and the CIM status names such as "CIM_ERR_NOT_FOUND".
#pragma once

#include <cstddef>
#include <exception>
#include <string>

namespace cim {

// DSP0200 status codes.
enum CIMStatusCode {
    CIM_ERR_SUCCESS = 0,
    CIM_ERR_FAILED = 1,
    CIM_ERR_ACCESS_DENIED = 2,
    CIM_ERR_INVALID_NAMESPACE = 3,
    CIM_ERR_INVALID_PARAMETER = 4,
    CIM_ERR_INVALID_CLASS = 5,
    CIM_ERR_NOT_FOUND = 6,
    CIM_ERR_NOT_SUPPORTED = 7,
    CIM_ERR_CLASS_HAS_CHILDREN = 8,
    CIM_ERR_CLASS_HAS_INSTANCES = 9,
    CIM_ERR_INVALID_SUPERCLASS = 10,
    CIM_ERR_ALREADY_EXISTS = 11,
    CIM_ERR_NO_SUCH_PROPERTY = 12,
    CIM_ERR_TYPE_MISMATCH = 13,
    CIM_ERR_QUERY_LANGUAGE_NOT_SUPPORTED = 14,
    CIM_ERR_INVALID_QUERY = 15,
    CIM_ERR_METHOD_NOT_AVAILABLE = 16,
    CIM_ERR_METHOD_NOT_FOUND = 17,
    CIM_ERR_NAMESPACE_NOT_EMPTY = 20,
    CIM_ERR_INVALID_ENUMERATION_CONTEXT = 21,
    CIM_ERR_INVALID_OPERATION_TIMEOUT = 22,
    CIM_ERR_PULL_HAS_BEEN_ABANDONED = 23,
    CIM_ERR_PULL_CANNOT_BE_ABANDONED = 24,
    CIM_ERR_FILTERED_ENUMERATION_NOT_SUPPORTED = 25,
    CIM_ERR_CONTINUATION_ON_ERROR_NOT_SUPPORTED = 26,
    CIM_ERR_SERVER_LIMITS_EXCEEDED = 27,
    CIM_ERR_SERVER_IS_SHUTTING_DOWN = 28,
};

// "CIM_ERR_NOT_FOUND" for 6; "Unrecognized CIM status code" for unknown values.
const char* cimStatusCodeToString(CIMStatusCode code);

class Exception : public std::exception {
  public:
    explicit Exception(std::string message) : m_message(std::move(message)) {}
    const std::string& getMessage() const { return m_message; }
    const char* what() const noexcept override { return m_message.c_str(); }

  private:
    std::string m_message;
};

// A CIM error answered by the server. The message starts with the status name.
class CIMException : public Exception {
  public:
    explicit CIMException(CIMStatusCode code, const std::string& description = std::string())
        : Exception(makeMessage(code, description)), m_code(code), m_description(description) {}
    CIMStatusCode getCode() const { return m_code; }
    const std::string& getDescription() const { return m_description; }

  private:
    static std::string makeMessage(CIMStatusCode code, const std::string& description) {
        std::string m = cimStatusCodeToString(code);
        if (!description.empty()) m += ": " + description;
        return m;
    }
    CIMStatusCode m_code;
    std::string m_description;
};

// The endpoint is refused or unreachable; the message contains "Connection failed".
class CannotConnectException : public Exception {
  public:
    using Exception::Exception;
};

class AlreadyConnectedException : public Exception {
  public:
    AlreadyConnectedException() : Exception("Already connected") {}
};

class NotConnectedException : public Exception {
  public:
    NotConnectedException() : Exception("Not connected") {}
};

// A text that is not a valid object path; the message contains "malformed".
class MalformedObjectNameException : public Exception {
  public:
    explicit MalformedObjectNameException(const std::string& detail)
        : Exception("The object name is malformed: " + detail) {}
};

// No answer within the client time-out; the message contains "timed out".
class ConnectionTimeoutException : public Exception {
  public:
    using Exception::Exception;
};

// The connection broke during a request, or the answer was cut short; the message
// contains "HTTP". The request may be repeated on a new connection.
class ConnectionLostException : public Exception {
  public:
    using Exception::Exception;
};

// An HTTP-level failure; the message contains "HTTP" and the status code.
class HttpException : public Exception {
  public:
    HttpException(int status, const std::string& message) : Exception(message), m_status(status) {}
    int getStatus() const { return m_status; }

  private:
    int m_status;
};

// An answer larger than the client accepts (CIMClient::setMaxResponseSize); the message
// names the limit. Not worth a retry: the same answer would come again.
class ResponseTooLargeException : public Exception {
  public:
    ResponseTooLargeException(std::size_t limit, const std::string& message)
        : Exception(message), m_limit(limit) {}
    std::size_t getLimit() const { return m_limit; }

  private:
    std::size_t m_limit;
};

// Bad CIM-XML or a bad value text; the message names what is wrong.
class ParseException : public Exception {
  public:
    using Exception::Exception;
};

// A value read as a type it does not have (CIMValue::get).
class TypeMismatchException : public Exception {
  public:
    using Exception::Exception;
};

// An index past the end of a property, parameter, method or name list.
class IndexOutOfBoundsException : public Exception {
  public:
    using Exception::Exception;
};

// A second property, method or parameter of the same name.
class AlreadyExistsException : public Exception {
  public:
    using Exception::Exception;
};

}  // namespace cim
