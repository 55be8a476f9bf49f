#include "Config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

namespace rksnap {
namespace {

// A configuration is a few kilobytes; anything near this is not ours.
constexpr size_t kMaxConfigBytes = 1 << 20;
const char* const kSpace = " \t\r\f\v";
const char* const kArrayPrefix = "Array ";

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(kSpace);
    if (b == std::string::npos) return std::string();
    return s.substr(b, s.find_last_not_of(kSpace) - b + 1);
}

std::string sysError(const std::string& doing, const std::string& path) {
    return doing + " '" + path + "': " + std::strerror(errno);
}

bool isPasswordKey(const std::string& key) {
    return key.find("Password") != std::string::npos || key.find("Secret") != std::string::npos;
}

int toInt(const std::string& s, int fallback) {
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    return (end && *end == '\0' && !s.empty()) ? static_cast<int>(v) : fallback;
}

}  // namespace

std::string arraySection(const std::string& name) {
    return kArrayPrefix + name;
}

std::string defaultConfigPath() {
    if (geteuid() == 0) return "/etc/rksnap/rksnap.conf";
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string base = xdg && *xdg ? xdg : std::string(home ? home : ".") + "/.config";
    return base + "/rksnap/rksnap.conf";
}

std::string defaultStateDir() {
    if (geteuid() == 0) return "/var/lib/rksnap";
    const char* xdg = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    std::string base = xdg && *xdg ? xdg : std::string(home ? home : ".") + "/.local/state";
    return base + "/rksnap";
}

bool makeDirs(const std::string& dir, std::string* error) {
    if (dir.empty()) return true;
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        *error = "'" + dir + "' is not a directory";
        return false;
    }
    size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeDirs(dir.substr(0, slash), error))
        return false;
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = sysError("cannot create directory", dir);
        return false;
    }
    return true;
}

bool readSmallFile(const std::string& path, size_t maxBytes, std::string* text,
                   std::string* error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        *error = sysError("cannot read", path);
        return false;
    }
    std::string out;
    char buf[8192];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) {
        out.append(buf, static_cast<size_t>(n));
        if (out.size() > maxBytes) {
            ::close(fd);
            *error = "'" + path + "' is larger than " + std::to_string(maxBytes) + " bytes";
            return false;
        }
    }
    int readErrno = errno;
    ::close(fd);
    if (n < 0) {
        errno = readErrno;
        *error = sysError("cannot read", path);
        return false;
    }
    *text = std::move(out);
    return true;
}

bool writeFileAtomic(const std::string& path, const std::string& text, std::string* error) {
    size_t slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    if (!makeDirs(dir, error)) return false;
    std::random_device rd;
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 10 && fd < 0; ++attempt) {
        tmp = path + ".tmp-" + std::to_string(rd()) + std::to_string(getpid());
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        *error = sysError("cannot create a file beside", path);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = sysError("cannot write", tmp);
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::fchmod(fd, 0600) != 0 || ::fsync(fd) != 0 || ::close(fd) != 0) {
        *error = sysError("cannot write", tmp);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        *error = sysError("cannot replace", path);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool Config::load(const std::string& path, bool mustExist, std::string* error) {
    m_path = path;
    m_preamble.clear();
    m_sections.clear();
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT && !mustExist) return true;
        *error = sysError("cannot read configuration", path);
        return false;
    }
    std::string text;
    if (!readSmallFile(path, kMaxConfigBytes, &text, error)) return false;
    size_t pos = 0, lineNo = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        Line line;
        line.raw = text.substr(pos, nl - pos);
        pos = nl + 1;
        ++lineNo;
        std::string t = trim(line.raw);
        auto fail = [&](const char* what) {
            *error = path + ": line " + std::to_string(lineNo) + ": " + what;
            return false;
        };
        if (t.find('\0') != std::string::npos) return fail("NUL character");
        if (!t.empty() && t[0] == '[') {
            if (t.back() != ']') return fail("section header without ']'");
            std::string name = trim(t.substr(1, t.size() - 2));
            if (name.empty()) return fail("empty section name");
            m_sections.push_back({name, {}});
            continue;
        }
        if (!t.empty() && t[0] != '#' && t[0] != ';') {
            size_t eq = t.find('=');
            if (eq == std::string::npos) return fail("expected 'key = value'");
            if (m_sections.empty()) return fail("key outside a section");
            line.key = trim(t.substr(0, eq));
            if (line.key.empty()) return fail("empty key");
            line.value = trim(t.substr(eq + 1));
            if (line.value.size() >= 2 && line.value.front() == '"' && line.value.back() == '"')
                line.value = line.value.substr(1, line.value.size() - 2);
        }
        (m_sections.empty() ? m_preamble : m_sections.back().lines).push_back(line);
    }
    bool holdsPassword = false;
    for (const Section& s : m_sections)
        for (const Line& l : s.lines)
            if (!l.key.empty() && isPasswordKey(l.key) && !l.value.empty()) holdsPassword = true;
    if (holdsPassword && (st.st_mode & 077) != 0) {
        *error = "configuration '" + path +
                 "' holds passwords and may be read or written by others; run: chmod 600 " + path;
        return false;
    }
    return true;
}

std::string Config::text() const {
    std::string out;
    for (const Line& l : m_preamble) out += l.raw + "\n";
    for (const Section& s : m_sections) {
        out += "[" + s.name + "]\n";
        for (const Line& l : s.lines) out += l.raw + "\n";
    }
    return out;
}

bool Config::save(std::string* error) const {
    return writeFileAtomic(m_path, text(), error);
}

Config::Section* Config::section(const std::string& name, bool create) {
    for (Section& s : m_sections)
        if (s.name == name) return &s;
    if (!create) return nullptr;
    m_sections.push_back({name, {}});
    return &m_sections.back();
}

const Config::Section* Config::section(const std::string& name) const {
    for (const Section& s : m_sections)
        if (s.name == name) return &s;
    return nullptr;
}

bool Config::has(const std::string& sectionName, const std::string& key) const {
    if (const Section* s = section(sectionName))
        for (const Line& l : s->lines)
            if (l.key == key) return true;
    return false;
}

std::string Config::get(const std::string& sectionName, const std::string& key) const {
    std::string value;
    if (const Section* s = section(sectionName))
        for (const Line& l : s->lines)
            if (l.key == key) value = l.value;  // the last one wins, as the host reads it
    return value;
}

void Config::set(const std::string& sectionName, const std::string& key, const std::string& value) {
    Section* s = section(sectionName, true);
    for (Line& l : s->lines)
        if (l.key == key) {
            l.value = value;
            l.raw = key + " = " + value;
            return;
        }
    // Before trailing blank lines, so sections stay apart.
    auto at = s->lines.end();
    while (at != s->lines.begin() && trim((at - 1)->raw).empty()) --at;
    s->lines.insert(at, {key + " = " + value, key, value});
}

std::vector<ArrayEntry> Config::arrays() const {
    std::vector<ArrayEntry> out;
    for (const Section& s : m_sections) {
        if (s.name.compare(0, std::strlen(kArrayPrefix), kArrayPrefix) != 0) continue;
        ArrayEntry e;
        e.name = trim(s.name.substr(std::strlen(kArrayPrefix)));
        e.arrayId = get(s.name, "ArrayId");
        e.address = get(s.name, "Address");
        e.https = get(s.name, "Https") != "0";
        e.port = toInt(get(s.name, "Port"), 0);
        e.user = get(s.name, "User");
        e.password = get(s.name, "Password");
        e.arrayPassword = get(s.name, "ArrayPassword");
        e.nameSpace = get(s.name, "Namespace");
        out.push_back(e);
    }
    return out;
}

bool Config::findArray(const std::string& nameOrId, ArrayEntry* out) const {
    for (const ArrayEntry& e : arrays())
        if (e.name == nameOrId || (!e.arrayId.empty() && e.arrayId == nameOrId)) {
            *out = e;
            return true;
        }
    return false;
}

void Config::putArray(const ArrayEntry& e) {
    const std::string s = arraySection(e.name);
    set(s, "ArrayId", e.arrayId);
    set(s, "Address", e.address);
    set(s, "Port", std::to_string(e.port));
    set(s, "Https", e.https ? "1" : "0");
    set(s, "User", e.user);
    set(s, "Password", e.password);
    if (!e.arrayPassword.empty()) set(s, "ArrayPassword", e.arrayPassword);
    if (!e.nameSpace.empty()) set(s, "Namespace", e.nameSpace);
}

bool Config::removeArray(const std::string& name) {
    for (auto it = m_sections.begin(); it != m_sections.end(); ++it)
        if (it->name == arraySection(name)) {
            m_sections.erase(it);
            return true;
        }
    return false;
}

}  // namespace rksnap
