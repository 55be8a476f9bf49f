#include "PrivateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Text.h"
#include "sim/Config.h"

namespace sim {

namespace {

constexpr off_t kMaxBytes = off_t(256) << 20;

[[noreturn]] void fail(const std::string& path, const std::string& what) {
    throw ConfigError("configuration: \"" + printable(path) + "\": " + what);
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

class Fd {
  public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }

  private:
    int m_fd;
};

}  // namespace

void writePrivateFile(const std::string& path, const std::string& text) {
    const std::string folder = folderOf(path);
    const size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    // mkstemp opens with O_CREAT|O_EXCL and mode 0600: a name planted in the folder
    // (a file or a symbolic link) makes it pick another rather than follow it.
    std::string temp = folder + "/." + base + ".XXXXXX";
    Fd fd(::mkstemp(temp.data()));
    if (fd.get() < 0) fail(path, std::string("cannot create a file beside it: ") + strerror(errno));
    bool ok = ::fchmod(fd.get(), 0600) == 0;
    for (size_t done = 0; ok && done < text.size();) {
        ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd.get()) == 0;
    const int err = errno;
    ok = ::close(fd.release()) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        const int cause = ok ? errno : err;
        ::unlink(temp.c_str());
        fail(path, std::string("cannot write it: ") + strerror(cause));
    }
    // The rename itself is durable once the folder is synced.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
}

std::string readPrivateFile(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        if (errno == ELOOP) fail(path, "is a symbolic link; give the file itself");
        fail(path, std::string("cannot read it: ") + strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) fail(path, "is not a regular file");
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        fail(path, std::string("may be read by others (mode ") + mode +
                       "); it holds the array's state: chmod 600 it");
    }
    if (st.st_size > kMaxBytes) fail(path, "is larger than 256 MB");
    std::string text(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::read(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    text.resize(done);
    return text;
}

}  // namespace sim
