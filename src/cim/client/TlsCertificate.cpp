#include "TlsCertificate.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>
#include <string>

namespace cim {

namespace {

std::string bioText(BIO* bio) {
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    return n > 0 ? std::string(data, static_cast<std::size_t>(n)) : std::string();
}

std::string nameText(const X509_NAME* name) {
    if (name == nullptr) return {};
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio) return {};
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253);
    return bioText(bio.get());
}

void timeFields(const ASN1_TIME* t, std::string& text, std::time_t& seconds) {
    std::tm tm{};
    if (t == nullptr || ASN1_TIME_to_tm(t, &tm) != 1) return;
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    text = buf;
    seconds = timegm(&tm);
}

}  // namespace

SSLCertificateInfo describeCertificate(X509* cert) {
    SSLCertificateInfo info;
    if (cert == nullptr) return info;
    info.subjectName = nameText(X509_get_subject_name(cert));
    info.issuerName = nameText(X509_get_issuer_name(cert));
    timeFields(X509_get0_notBefore(cert), info.notBefore, info.notBeforeTime);
    timeFields(X509_get0_notAfter(cert), info.notAfter, info.notAfterTime);

    if (BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr)) {
        if (char* hex = BN_bn2hex(bn)) {
            info.serialNumber = hex;
            OPENSSL_free(hex);
        }
        BN_free(bn);
    }

    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (X509_digest(cert, EVP_sha256(), md, &len) == 1) {
        static const char* hex = "0123456789ABCDEF";
        for (unsigned i = 0; i < len; ++i) {
            if (i > 0) info.fingerprint += ':';
            info.fingerprint += hex[md[i] >> 4];
            info.fingerprint += hex[md[i] & 15];
        }
    }

    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (bio && PEM_write_bio_X509(bio.get(), cert) == 1) info.pem = bioText(bio.get());
    return info;
}

}  // namespace cim
