// Turns an OpenSSL certificate into what the verification callback sees.
#pragma once

#include <openssl/x509.h>

#include <cim/SSLContext.h>

namespace cim {

SSLCertificateInfo describeCertificate(X509* cert);

}  // namespace cim
