// Reads a request body from the connection ourselves, after the credentials were
// checked on the head: Content-Length, chunked and close-delimited bodies alike, and
// never more than a limit, so that no client can make the simulator buffer more.
#pragma once

#include <cstddef>
#include <string>

#include <httplib.h>

namespace sim::detail {

struct BodyResult {
    int httpStatus = 0;   // 0: read; else 400, 408, 413, 415 or 501
    std::string problem;  // what is wrong, never a quote of what was sent
    bool ok() const { return httpStatus == 0; }
};

// The body of `req` from `in` into `body`. A POST with neither a length nor chunks
// runs to the end of the client's stream; other requests without them have none.
BodyResult readRequestBody(httplib::Stream& in, const httplib::Request& req, size_t limit,
                           std::string& body);

// A refusal known from the head alone (credentials aside): a framing the server does
// not take or a Content-Length over the limit.
BodyResult checkBodyHead(const httplib::Request& req, size_t limit);

}  // namespace sim::detail
