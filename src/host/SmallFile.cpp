#include "SmallFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace rkhost {

bool readSmallFile(const std::string& path, size_t maxBytes, std::string* text) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    std::string data;
    char chunk[4096];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int saved = errno;
            ::close(fd);
            errno = saved;
            return false;
        }
        if (n == 0) break;
        data.append(chunk, static_cast<size_t>(n));
        if (data.size() > maxBytes) {
            ::close(fd);
            errno = EFBIG;
            return false;
        }
    }
    ::close(fd);
    *text = std::move(data);
    return true;
}

bool listDirectory(const std::string& path, std::vector<std::string>* names) {
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return false;
    names->clear();
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names->push_back(name);
    }
    ::closedir(dir);
    std::sort(names->begin(), names->end());
    return true;
}

std::string trimSpace(const std::string& text) {
    const char* space = " \t\r\n\f\v";
    size_t b = text.find_first_not_of(space);
    if (b == std::string::npos) return std::string();
    return text.substr(b, text.find_last_not_of(space) - b + 1);
}

}  // namespace rkhost
