// RKPassword: AES-256-GCM through OpenSSL EVP, with the key in a file of its own.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "rkso/RKPassword.h"
#include "rkso/RKPlatformInfo.h"

namespace {

constexpr const char* kPrefix = "rkpw1:";
constexpr size_t kKeyBytes = 32;
constexpr size_t kNonceBytes = 12;
constexpr size_t kTagBytes = 16;
constexpr size_t kMaxPlain = 4096;
// Base64 of the largest nonce + cipher text + tag, with the prefix and some room.
constexpr size_t kMaxEncrypted = 8192;
// A key file holds 64 digits and perhaps a line end; anything far larger is not one.
constexpr off_t kMaxKeyFile = 256;

// Wiped on destruction, for anything that held a key or clear text.
struct SecretBytes {
    std::vector<unsigned char> bytes;
    explicit SecretBytes(size_t n = 0) : bytes(n) {}
    ~SecretBytes() {
        if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
    }
};

struct CipherCtx {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ~CipherCtx() { EVP_CIPHER_CTX_free(ctx); }
};

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

std::string encodeBase64(const unsigned char* data, size_t length) {
    std::string out(4 * ((length + 2) / 3) + 1, '\0');
    int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), data, static_cast<int>(length));
    out.resize(static_cast<size_t>(n));
    return out;
}

// Strict base64 (padded, no white space).
bool decodeBase64(const char* text, size_t length, std::vector<unsigned char>* out) {
    if (length == 0 || length % 4 != 0) return false;
    size_t padding = 0;
    if (text[length - 1] == '=') ++padding;
    if (text[length - 2] == '=') ++padding;
    for (size_t i = 0; i < length - padding; ++i)
        if (!isBase64Char(text[i])) return false;
    out->resize(length / 4 * 3);
    int n = EVP_DecodeBlock(out->data(), reinterpret_cast<const unsigned char*>(text),
                            static_cast<int>(length));
    if (n < 0) return false;
    out->resize(static_cast<size_t>(n) - padding);
    // Only the one canonical spelling: unused low bits of the last digit that
    // differ would otherwise be a changed text that still decrypts.
    return encodeBase64(out->data(), out->size()).compare(0, std::string::npos, text, length) == 0;
}

std::string describeErrno(const std::string& what, const std::string& path) {
    return what + " '" + path + "': " + std::strerror(errno);
}

}  // namespace

struct RKPassword::Impl {
    std::string keyFile;
    bool keyFileKnown = false;
    SecretBytes key;
    std::string lastError;

    bool fail(const std::string& why) {
        lastError = why;
        return false;
    }
    bool loadKey();
    bool decrypt(const char* encrypted, char* plain, size_t plainSize);
    bool encrypt(const char* plain, std::string& encrypted);
};

bool RKPassword::Impl::loadKey() {
    if (!key.bytes.empty()) return true;
    if (!keyFileKnown) {
        if (!RKPlatformInfo().getString("Host", "PasswordKeyFile", &keyFile) || keyFile.empty())
            return fail("no password key file configured ([Host] PasswordKeyFile)");
        keyFileKnown = true;
    }
    int fd = ::open(keyFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return fail(describeErrno("cannot open password key file", keyFile));
    std::unique_ptr<int, void (*)(int*)> closer(&fd, [](int* f) { ::close(*f); });
    struct stat st {};
    if (fstat(fd, &st) != 0) return fail(describeErrno("cannot read password key file", keyFile));
    if (!S_ISREG(st.st_mode))
        return fail("password key file '" + keyFile + "' is not a regular file");
    if (st.st_mode & 077) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return fail("password key file '" + keyFile + "' is open to other users (mode " + mode +
                    "); it must be 0600");
    }
    if (st.st_size > kMaxKeyFile)
        return fail("password key file '" + keyFile + "' does not hold a 256-bit key");
    SecretBytes text(static_cast<size_t>(kMaxKeyFile) + 1);
    ssize_t n = ::read(fd, text.bytes.data(), text.bytes.size());
    if (n < 0) return fail(describeErrno("cannot read password key file", keyFile));
    size_t length = static_cast<size_t>(n);
    while (length > 0 && (text.bytes[length - 1] == '\n' || text.bytes[length - 1] == '\r'))
        --length;
    SecretBytes parsed(kKeyBytes);
    bool good = length == 2 * kKeyBytes;
    for (size_t i = 0; good && i < kKeyBytes; ++i) {
        int hi = hexValue(static_cast<char>(text.bytes[2 * i]));
        int lo = hexValue(static_cast<char>(text.bytes[2 * i + 1]));
        good = hi >= 0 && lo >= 0;
        if (good) parsed.bytes[i] = static_cast<unsigned char>(hi << 4 | lo);
    }
    if (!good) return fail("password key file '" + keyFile + "' does not hold a 256-bit key");
    key.bytes.swap(parsed.bytes);
    return true;
}

RKPassword::RKPassword() : m_impl(new Impl) {}

RKPassword::RKPassword(const std::string& keyFile) : m_impl(new Impl) {
    m_impl->keyFile = keyFile;
    m_impl->keyFileKnown = true;
}

RKPassword::~RKPassword() {
    delete m_impl;
}

std::string RKPassword::getLastError() const {
    return m_impl->lastError;
}

bool RKPassword::decrypt(const char* encrypted, char* plain, size_t plainSize) {
    try {
        return m_impl->decrypt(encrypted, plain, plainSize);
    } catch (const std::exception&) {
        if (plain && plainSize) OPENSSL_cleanse(plain, plainSize);
        return m_impl->fail("password cannot be decrypted (out of memory)");
    }
}

bool RKPassword::encrypt(const char* plain, std::string& encrypted) {
    try {
        return m_impl->encrypt(plain, encrypted);
    } catch (const std::exception&) {
        return m_impl->fail("password cannot be encrypted (out of memory)");
    }
}

bool RKPassword::Impl::decrypt(const char* encrypted, char* plain, size_t plainSize) {
    Impl& im = *this;
    im.lastError.clear();
    if (!plain || plainSize == 0) return im.fail("no buffer for the password");
    OPENSSL_cleanse(plain, plainSize);
    if (!encrypted) return im.fail("no encrypted password given");
    size_t length = strnlen(encrypted, kMaxEncrypted + 1);
    if (length > kMaxEncrypted) return im.fail("encrypted password too long");
    const size_t prefix = std::strlen(kPrefix);
    std::vector<unsigned char> sealed;
    if (length < prefix || std::memcmp(encrypted, kPrefix, prefix) != 0 ||
        !decodeBase64(encrypted + prefix, length - prefix, &sealed) ||
        sealed.size() < kNonceBytes + kTagBytes)
        return im.fail("not an encrypted password");
    if (!im.loadKey()) return false;

    const unsigned char* nonce = sealed.data();
    const unsigned char* cipher = nonce + kNonceBytes;
    const size_t cipherLength = sealed.size() - kNonceBytes - kTagBytes;
    unsigned char* tag = sealed.data() + sealed.size() - kTagBytes;
    SecretBytes clear(cipherLength + 16);
    CipherCtx c;
    int n = 0, tail = 0;
    bool ok =
        c.ctx && EVP_DecryptInit_ex(c.ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_SET_IVLEN, kNonceBytes, nullptr) == 1 &&
        EVP_DecryptInit_ex(c.ctx, nullptr, nullptr, im.key.bytes.data(), nonce) == 1 &&
        EVP_DecryptUpdate(c.ctx, nullptr, &n, reinterpret_cast<const unsigned char*>(kPrefix),
                          static_cast<int>(prefix)) == 1 &&
        EVP_DecryptUpdate(c.ctx, clear.bytes.data(), &n, cipher, static_cast<int>(cipherLength)) ==
            1 &&
        EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_SET_TAG, kTagBytes, tag) == 1 &&
        EVP_DecryptFinal_ex(c.ctx, clear.bytes.data() + n, &tail) == 1;
    if (!ok) return im.fail("password cannot be decrypted (wrong key, or the text was changed)");
    size_t clearLength = static_cast<size_t>(n + tail);
    if (std::memchr(clear.bytes.data(), '\0', clearLength))
        return im.fail("decrypted password holds a NUL character");
    if (clearLength + 1 > plainSize)
        return im.fail("decrypted password does not fit a buffer of " + std::to_string(plainSize) +
                       " bytes");
    std::memcpy(plain, clear.bytes.data(), clearLength);
    plain[clearLength] = '\0';
    return true;
}

bool RKPassword::Impl::encrypt(const char* plain, std::string& encrypted) {
    Impl& im = *this;
    im.lastError.clear();
    if (!plain) return im.fail("no password given");
    size_t length = strnlen(plain, kMaxPlain + 1);
    if (length > kMaxPlain)
        return im.fail("password longer than " + std::to_string(kMaxPlain) + " bytes");
    if (!im.loadKey()) return false;
    std::vector<unsigned char> sealed(kNonceBytes + length + 16 + kTagBytes);
    if (RAND_bytes(sealed.data(), kNonceBytes) != 1) return im.fail("no random bytes available");
    CipherCtx c;
    int n = 0, tail = 0;
    const size_t prefix = std::strlen(kPrefix);
    bool ok =
        c.ctx && EVP_EncryptInit_ex(c.ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_SET_IVLEN, kNonceBytes, nullptr) == 1 &&
        EVP_EncryptInit_ex(c.ctx, nullptr, nullptr, im.key.bytes.data(), sealed.data()) == 1 &&
        EVP_EncryptUpdate(c.ctx, nullptr, &n, reinterpret_cast<const unsigned char*>(kPrefix),
                          static_cast<int>(prefix)) == 1 &&
        EVP_EncryptUpdate(c.ctx, sealed.data() + kNonceBytes, &n,
                          reinterpret_cast<const unsigned char*>(plain),
                          static_cast<int>(length)) == 1 &&
        EVP_EncryptFinal_ex(c.ctx, sealed.data() + kNonceBytes + n, &tail) == 1;
    size_t cipherLength = static_cast<size_t>(n + tail);
    ok = ok && EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_GET_TAG, kTagBytes,
                                   sealed.data() + kNonceBytes + cipherLength) == 1;
    if (!ok) return im.fail("password encryption failed");
    sealed.resize(kNonceBytes + cipherLength + kTagBytes);
    encrypted = kPrefix + encodeBase64(sealed.data(), sealed.size());
    return true;
}

bool RKPassword::createKeyFile(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (path.empty()) return fail("no key file name given");
    std::string dir = ".";
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) dir = slash == 0 ? "/" : path.substr(0, slash);

    SecretBytes key(kKeyBytes);
    if (RAND_bytes(key.bytes.data(), kKeyBytes) != 1) return fail("no random bytes available");
    SecretBytes text(2 * kKeyBytes + 1);
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < kKeyBytes; ++i) {
        text.bytes[2 * i] = static_cast<unsigned char>(digits[key.bytes[i] >> 4]);
        text.bytes[2 * i + 1] = static_cast<unsigned char>(digits[key.bytes[i] & 15]);
    }
    text.bytes[2 * kKeyBytes] = '\n';

    // A fresh name each time (mkstemp opens it exclusively, mode 0600), written
    // and synced before it gets its real name, so readers never see half a key.
    std::string temp = dir + "/.rkpw-key-XXXXXX";
    int fd = mkostemp(&temp[0], O_CLOEXEC);
    if (fd < 0) return fail(describeErrno("cannot create a key file in", dir));
    bool written = fchmod(fd, 0600) == 0 &&
                   ::write(fd, text.bytes.data(), text.bytes.size()) ==
                       static_cast<ssize_t>(text.bytes.size()) &&
                   fsync(fd) == 0;
    int savedErrno = errno;
    ::close(fd);
    if (!written) {
        ::unlink(temp.c_str());
        errno = savedErrno;
        return fail(describeErrno("cannot write key file", path));
    }
    // link, unlike rename, never replaces a key file that is already there.
    if (::link(temp.c_str(), path.c_str()) != 0) {
        savedErrno = errno;
        ::unlink(temp.c_str());
        errno = savedErrno;
        return fail(describeErrno("cannot create key file", path));
    }
    ::unlink(temp.c_str());
    int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}
