// array add|list|remove|set-password: the array sections of the configuration,
// passwords encrypted with the host's key and never shown.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>

#include "App.h"
#include "rkso/RKPassword.h"

namespace rksnap {
namespace {

using nlohmann::json;

constexpr size_t kMaxPassword = 1024;

bool promptPassword(const std::string& prompt, std::string* out, std::string* error) {
    int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        *error = "no terminal to ask for the password (--password-file or --password-env)";
        return false;
    }
    termios old{};
    bool restore = tcgetattr(fd, &old) == 0;
    if (restore) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    (void)!::write(fd, prompt.data(), prompt.size());
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n' && line.size() <= kMaxPassword) line += c;
    if (restore) tcsetattr(fd, TCSAFLUSH, &old);
    (void)!::write(fd, "\n", 1);
    ::close(fd);
    *out = line;
    return true;
}

// From a file (first line), an environment variable or the terminal.
bool readPassword(const std::string& file, const std::string& env, const std::string& prompt,
                  std::string* out, std::string* error) {
    if (!file.empty()) {
        std::string text;
        if (!readSmallFile(file, 4096, &text, error)) return false;
        *out = text.substr(0, text.find('\n'));
        if (!out->empty() && out->back() == '\r') out->pop_back();
        std::fill(text.begin(), text.end(), '\0');
    } else if (!env.empty()) {
        const char* v = std::getenv(env.c_str());
        if (!v) {
            *error = "environment variable " + env + " is not set";
            return false;
        }
        *out = v;
    } else if (!promptPassword(prompt, out, error)) {
        return false;
    }
    if (out->empty()) {
        *error = "empty password";
        return false;
    }
    if (out->size() > kMaxPassword) {
        *error = "password longer than " + std::to_string(kMaxPassword) + " characters";
        return false;
    }
    // The array record the plug-in reads has no quoting.
    if (out->find_first_of(",{}\n") != std::string::npos) {
        *error = "a password may not hold ',', '{', '}' or a line break";
        return false;
    }
    return true;
}

bool encryptWith(const std::string& keyFile, const std::string& plain, std::string* encrypted,
                 std::string* error) {
    if (access(keyFile.c_str(), F_OK) != 0 && !RKPassword::createKeyFile(keyFile, error))
        return false;
    RKPassword passwords(keyFile);
    if (!passwords.encrypt(plain.c_str(), *encrypted)) {
        *error = "cannot encrypt: " + passwords.getLastError();
        return false;
    }
    return true;
}

bool validArrayName(const std::string& n) {
    if (n.empty() || n.size() > 64) return false;
    for (char c : n)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.'))
            return false;
    return true;
}

bool validArrayId(const std::string& id) {
    if (id.size() != 32) return false;
    for (char c : id)
        if (!std::isxdigit(static_cast<unsigned char>(c)) ||
            std::islower(static_cast<unsigned char>(c)))
            return false;
    return true;
}

}  // namespace

int runArray(const std::string& command, const Options& o) {
    Session s(o);
    if (!s.open(false, false)) return kExitNone;
    std::string error;
    auto fail = [&](const std::string& m, int code = kExitNone) {
        printError(o, m, code);
        return code;
    };
    const std::string name = o.snaps.empty() ? std::string() : o.snaps.front();

    if (command == "list") {
        std::vector<ArrayEntry> arrays = s.config.arrays();
        if (o.json) {
            json doc = {{"arrays", json::array()}};
            for (const ArrayEntry& a : arrays)
                doc["arrays"].push_back({{"name", a.name},
                                         {"arrayId", a.arrayId},
                                         {"address", a.address},
                                         {"port", a.effectivePort()},
                                         {"https", a.https},
                                         {"user", a.user},
                                         {"namespace", a.nameSpace},
                                         {"passwordSet", !a.password.empty()},
                                         {"arrayPasswordSet", !a.arrayPassword.empty()}});
            printJson(doc);
            return kExitAll;
        }
        std::vector<std::vector<std::string>> rows = {
            {"NAME", "ARRAY ID", "PROVIDER", "USER", "NAMESPACE", "PASSWORD"}};
        for (const ArrayEntry& a : arrays)
            rows.push_back({a.name, a.arrayId,
                            (a.https ? "https://" : "http://") + a.address + ":" +
                                std::to_string(a.effectivePort()),
                            a.user, a.nameSpace.empty() ? "(from provider)" : a.nameSpace,
                            a.password.empty() ? "missing" : "set"});
        std::cout << table(rows);
        return kExitAll;
    }
    if (!validArrayName(name))
        return fail("an array name is 1 to 64 letters, digits, '.', '_' or '-'", kExitUsage);

    ArrayEntry entry;
    const bool known = s.config.findArray(name, &entry) && entry.name == name;
    if (command == "add") {
        if (known)
            return fail("array '" + name + "' exists already (rksnap array remove " + name + ")");
        if (!validArrayId(o.arrayId))
            return fail("--array-id must be 32 upper-case hexadecimal digits", kExitUsage);
        if (o.address.empty() || o.address.find_first_of(",{}: \t") != std::string::npos)
            return fail("--address must be a host name or IPv4 address", kExitUsage);
        if (o.port < 0 || o.port > 65535) return fail("--port must be 1 to 65535", kExitUsage);
        if (o.user.empty() || o.user.find_first_of(",{}") != std::string::npos)
            return fail("--user may not be empty or hold ',', '{' or '}'", kExitUsage);
        entry = ArrayEntry();
        entry.name = name;
        entry.arrayId = o.arrayId;
        entry.address = o.address;
        entry.port = o.port;
        entry.https = !o.http;
        entry.user = o.user;
        entry.nameSpace = o.nameSpace;
        std::string plain;
        if (!readPassword(o.passwordFile, o.passwordEnv, "Provider password for " + o.user + ": ",
                          &plain, &error) ||
            !encryptWith(s.keyFile(), plain, &entry.password, &error)) {
            std::fill(plain.begin(), plain.end(), '\0');
            return fail(error);
        }
        std::fill(plain.begin(), plain.end(), '\0');
        if (!o.arrayPasswordFile.empty() || !o.arrayPasswordEnv.empty()) {
            if (!readPassword(o.arrayPasswordFile, o.arrayPasswordEnv, "", &plain, &error) ||
                !encryptWith(s.keyFile(), plain, &entry.arrayPassword, &error)) {
                std::fill(plain.begin(), plain.end(), '\0');
                return fail(error);
            }
            std::fill(plain.begin(), plain.end(), '\0');
        }
        s.config.putArray(entry);
    } else if (command == "remove") {
        if (!known) return fail("no array '" + name + "' configured (rksnap array list)");
        s.config.removeArray(name);
    } else if (command == "set-password") {
        if (!known) return fail("no array '" + name + "' configured (rksnap array list)");
        std::string plain, encrypted;
        const bool ok =
            readPassword(
                o.passwordFile, o.passwordEnv,
                (o.arrayPassword ? "Array password of " : "Provider password of ") + name + ": ",
                &plain, &error) &&
            encryptWith(s.keyFile(), plain, &encrypted, &error);
        std::fill(plain.begin(), plain.end(), '\0');
        if (!ok) return fail(error);
        s.config.set(arraySection(name), o.arrayPassword ? "ArrayPassword" : "Password", encrypted);
    } else {
        return fail("unknown array command '" + command + "'", kExitUsage);
    }
    if (!s.config.save(&error)) return fail(error);
    if (o.json)
        printJson({{"command", "array " + command}, {"array", name}, {"exitCode", 0}});
    else
        std::cout << "array " << name << ": "
                  << (command == "add"      ? "added"
                      : command == "remove" ? "removed"
                                            : "password changed")
                  << " (" << s.config.path() << ")\n";
    return kExitAll;
}

}  // namespace rksnap
