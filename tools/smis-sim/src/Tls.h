// A throw-away TLS identity for the HTTPS listener.
#pragma once

#include <string>

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace sim::detail {

struct TlsIdentity {
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;

    TlsIdentity() = default;
    TlsIdentity(const TlsIdentity&) = delete;
    TlsIdentity& operator=(const TlsIdentity&) = delete;
    TlsIdentity(TlsIdentity&& o) noexcept : cert(o.cert), key(o.key) {
        o.cert = nullptr, o.key = nullptr;
    }
    ~TlsIdentity();
};

// A self-signed certificate (EC P-256, one year) for "localhost", 127.0.0.1 and
// `address` when that is an IP address. Throws ServerError.
TlsIdentity makeSelfSigned(const std::string& address);

}  // namespace sim::detail
