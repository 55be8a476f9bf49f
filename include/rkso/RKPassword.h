// Host password encryption. Passwords kept in a host's configuration (for
// example an array password) are stored encrypted with AES-256-GCM under a key
// the host keeps in a key file; RKPassword turns them back into clear text for
// the moment they are needed.
//
// The key file holds 64 hexadecimal digits (a 256-bit key). It must be a regular
// file that only its owner may read or write (0600); createKeyFile makes one.
// An encrypted password is the text "rkpw1:" followed by base64 of nonce, cipher
// text and tag.
//
// Error texts name the key file and the failure, never the key, the password or
// the encrypted text. One object is used by one thread at a time.
#pragma once

#include <cstddef>
#include <string>

class RKPassword {
  public:
    // The key file named in the configuration store ([Host] PasswordKeyFile).
    RKPassword();
    explicit RKPassword(const std::string& keyFile);
    // Wipes the key.
    ~RKPassword();
    RKPassword(const RKPassword&) = delete;
    RKPassword& operator=(const RKPassword&) = delete;

    // Decrypts encrypted into plain as a NUL-terminated text. Fails (false, plain
    // all zero) when the key file is unusable, the text is not an encrypted
    // password, the key is wrong, the text was changed or cut, or the password
    // with its NUL does not fit plainSize bytes: a password is never cut short.
    // Callers wipe plain once they are done with it.
    bool decrypt(const char* encrypted, char* plain, size_t plainSize);
    // Encrypts plain (at most 4096 bytes) with a fresh random nonce.
    bool encrypt(const char* plain, std::string& encrypted);
    // Why the last call failed.
    std::string getLastError() const;

    // Writes a new random key to path, mode 0600, atomically: the file appears
    // whole or not at all, and an existing key file is never replaced.
    static bool createKeyFile(const std::string& path, std::string* error);

  private:
    struct Impl;
    Impl* m_impl;
};
