// Reads one HTTP/1.1 response from the bytes of a connection, as they arrive: status line,
// header fields, a body framed by Content-Length, by chunks (with trailers) or by the end of
// the connection, and interim 1xx answers before the real one. Every limit is checked before
// anything is buffered; a fault raises ConnectionLostException with "HTTP" in its text (an
// answer that cannot be read leaves the connection unusable, as a broken one does).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include <cim/HttpTransport.h>

namespace cim::detail {

class HttpResponseReader {
  public:
    using BodyOut = std::function<void(const char* data, std::size_t size)>;

    // where: "host:port", for messages. maxBody: larger bodies raise
    // ResponseTooLargeException.
    HttpResponseReader(std::string where, std::size_t maxBody);

    // Consumes bytes up to the end of the header block of the final answer (then returns,
    // so that the caller can choose where the body goes with setBodyOut) or of the
    // response. Returns how many bytes were used.
    std::size_t feed(const char* data, std::size_t size);
    // The connection ended. Completes a body that runs to the end of the connection;
    // raises for an answer cut short.
    void endOfStream();

    bool nothingReceived() const { return m_received == 0; }
    bool headersDone() const { return m_state > kHeaders; }
    bool complete() const { return m_state == kDone; }
    // Where body bytes go; until set (or when empty) they collect in response().body.
    void setBodyOut(BodyOut out) { m_bodyOut = std::move(out); }
    // Whether the connection can carry another request after this response.
    bool keepAlive() const { return m_keepAlive; }

    HttpResponse& response() { return m_response; }

  private:
    enum State {
        kStatusLine,
        kHeaders,
        kBodyLength,
        kBodyUntilClose,
        kChunkSize,
        kChunkData,
        kChunkEnd,
        kTrailers,
        kDone,
    };

    // Collects one line; true when it is complete (without its CR LF) in m_line.
    bool takeLine(const char*& p, const char* end);
    void statusLine();
    void headerLine(bool trailer);
    void headersComplete();
    void chunkSizeLine();
    void body(const char* data, std::size_t size);
    [[noreturn]] void fail(const std::string& what) const;

    std::string m_where;
    std::size_t m_maxBody;
    HttpResponse m_response;
    BodyOut m_bodyOut;
    State m_state = kStatusLine;
    std::string m_line;
    std::size_t m_headerBytes = 0;
    std::size_t m_received = 0;
    unsigned long long m_left = 0;  // of the body or of the current chunk
    std::size_t m_bodyBytes = 0;
    bool m_keepAlive = true;
};

}  // namespace cim::detail
