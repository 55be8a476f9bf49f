#include "Tls.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include "sim/server/Server.h"

namespace sim::detail {

namespace {

[[noreturn]] void fail(const char* what) {
    char buf[256] = "unknown error";
    unsigned long e = ERR_get_error();
    if (e != 0) ERR_error_string_n(e, buf, sizeof(buf));
    throw ServerError(std::string("cannot make the TLS certificate: ") + what + ": " + buf);
}

bool isIpAddress(const std::string& s) {
    unsigned char buf[sizeof(in6_addr)];
    return inet_pton(AF_INET, s.c_str(), buf) == 1 || inet_pton(AF_INET6, s.c_str(), buf) == 1;
}

}  // namespace

TlsIdentity::~TlsIdentity() {
    X509_free(cert);
    EVP_PKEY_free(key);
}

TlsIdentity makeSelfSigned(const std::string& address) {
    TlsIdentity id;
    id.key = EVP_EC_gen("P-256");
    if (!id.key) fail("key generation");
    id.cert = X509_new();
    if (!id.cert) fail("X509_new");
    X509_set_version(id.cert, 2);

    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof(serial)) != 1) fail("serial number");
    serial[0] &= 0x7f;
    BIGNUM* bn = BN_bin2bn(serial, sizeof(serial), nullptr);
    if (!bn || !BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(id.cert))) {
        BN_free(bn);
        fail("serial number");
    }
    BN_free(bn);

    X509_gmtime_adj(X509_getm_notBefore(id.cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(id.cert), 365L * 24 * 3600);
    if (X509_set_pubkey(id.cert, id.key) != 1) fail("public key");

    X509_NAME* name = X509_get_subject_name(id.cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("smis-sim"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(id.cert, name);

    std::string san = "DNS:localhost,IP:127.0.0.1";
    if (isIpAddress(address) && address != "127.0.0.1") san += ",IP:" + address;
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, id.cert, id.cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, san.c_str());
    if (!ext) fail("subject alternative name");
    X509_add_ext(id.cert, ext, -1);
    X509_EXTENSION_free(ext);

    if (X509_sign(id.cert, id.key, EVP_sha256()) <= 0) fail("signature");
    return id;
}

}  // namespace sim::detail
