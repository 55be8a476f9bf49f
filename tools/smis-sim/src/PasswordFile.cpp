#include "PasswordFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace sim::detail {

namespace {

[[noreturn]] void fail(const std::string& path, const std::string& why) {
    throw std::runtime_error("the password file " + path + " " + why);
}

}  // namespace

std::string readPasswordFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail(path, std::string("cannot be opened: ") + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        fail(path, "is a folder, not a file");
    }
    // A device or a pipe may never end: read one byte past the limit and stop.
    std::string text;
    char buf[1024];
    while (text.size() <= kMaxPasswordFileBytes) {
        ssize_t n = ::read(fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            fail(path, std::string("cannot be read: ") + std::strerror(err));
        }
        if (n == 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    if (text.size() > kMaxPasswordFileBytes)
        fail(path, "is larger than " + std::to_string(kMaxPasswordFileBytes) + " bytes");
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find('\0') != std::string::npos) fail(path, "holds a NUL byte");
    if (line.empty()) fail(path, "has an empty first line");
    return line;
}

}  // namespace sim::detail
