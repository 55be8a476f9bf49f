// RKPassword::decrypt on any text, with a fixed key so that the seeds (made
// with that key) reach the cipher. A failure must leave the buffer all zero; a
// success must end the password inside it.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "rkso/RKPassword.h"

namespace {

std::string keyFile;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char name[] = "/tmp/fuzz-password-key-XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) abort();
    const std::string key(64, 'a');
    if (write(fd, key.data(), key.size()) != static_cast<ssize_t>(key.size())) abort();
    close(fd);
    keyFile = name;
    atexit([] { unlink(keyFile.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    RKPassword pw(keyFile);
    for (size_t bufferSize : {size_t(2040), size_t(9)}) {
        char plain[2040];
        std::memset(plain, 'Z', sizeof plain);
        if (pw.decrypt(text.c_str(), plain, bufferSize)) {
            if (!std::memchr(plain, '\0', bufferSize)) __builtin_trap();
        } else {
            for (size_t i = 0; i < bufferSize; ++i)
                if (plain[i] != '\0') __builtin_trap();
            if (pw.getLastError().empty()) __builtin_trap();
        }
    }
    return 0;
}
