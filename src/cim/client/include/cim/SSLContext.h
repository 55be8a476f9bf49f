// TLS settings of an HTTPS connection: which certificates to trust and who decides
// whether the server certificate is acceptable.
#pragma once

#include <ctime>
#include <functional>
#include <string>

namespace cim {

// What the verification callback learns about the server certificate.
struct SSLCertificateInfo {
    std::string subjectName;        // RFC 2253 form, e.g. "CN=array1,O=Example"
    std::string issuerName;         // RFC 2253 form
    std::string notBefore;          // "YYYY-MM-DDTHH:MM:SSZ"
    std::string notAfter;           // "YYYY-MM-DDTHH:MM:SSZ"
    std::time_t notBeforeTime = 0;  // the same instants as seconds since the epoch (UTC)
    std::time_t notAfterTime = 0;
    std::string serialNumber;  // upper-case hex
    std::string fingerprint;   // SHA-256 of the DER form, "AB:CD:..." upper-case hex
    std::string pem;           // the certificate itself, PEM encoded
    int errorDepth = 0;        // chain depth at which the first verification error arose
    int errorCode = 0;         // OpenSSL's X509_V_* verdict against the trust store; 0 = trusted
    std::string errorString;   // text of errorCode ("ok" when trusted)

    const std::string& getSubjectName() const { return subjectName; }
    const std::string& getIssuerName() const { return issuerName; }
    const std::string& getNotBefore() const { return notBefore; }
    const std::string& getNotAfter() const { return notAfter; }
    const std::string& getSerialNumber() const { return serialNumber; }
    const std::string& getFingerprint() const { return fingerprint; }
    int getErrorDepth() const { return errorDepth; }
    int getErrorCode() const { return errorCode; }
    const std::string& getErrorString() const { return errorString; }
};

// Returns true to accept the server certificate. It is called once per TLS handshake, for
// the server (leaf) certificate, and its answer replaces OpenSSL's own verdict (which it sees
// in errorCode). An exception thrown by the callback counts as a rejection.
using SSLCertificateVerifyFunction = std::function<bool(SSLCertificateInfo&)>;

// Without a callback the server certificate must chain to the trust store (or, when no trust
// store is given, to the system's default certificate authorities) and name the host that
// was connected to. With a callback, the callback alone decides; the host name is not checked.
class SSLContext {
  public:
    // trustStore: a PEM file or a directory of hashed certificates; empty for the system default.
    // randomFile: accepted for source compatibility; OpenSSL seeds itself.
    explicit SSLContext(std::string trustStore = std::string(),
                        SSLCertificateVerifyFunction verifyCert = SSLCertificateVerifyFunction(),
                        std::string randomFile = std::string())
        : m_trustStore(std::move(trustStore)),
          m_verify(std::move(verifyCert)),
          m_randomFile(std::move(randomFile)) {}

    const std::string& getTrustStore() const { return m_trustStore; }
    const SSLCertificateVerifyFunction& getVerifyFunction() const { return m_verify; }
    const std::string& getRandomFile() const { return m_randomFile; }

  private:
    std::string m_trustStore;
    SSLCertificateVerifyFunction m_verify;
    std::string m_randomFile;
};

}  // namespace cim
