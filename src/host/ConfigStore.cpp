// RKPlatformInfo: the process-wide configuration store.
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <shared_mutex>
#include <sstream>

#include "IniText.h"
#include "rkso/EvDebug.h"
#include "rkso/RKPlatformInfo.h"

namespace {

struct Store {
    std::shared_mutex mu;
    std::atomic<bool> initialised{false};
    std::string path;  // file in force; empty when the values came from text or nothing
    rkhost::IniSections sections;
};

Store& store() {
    static Store s;
    return s;
}

bool readFile(const std::string& path, std::string* text, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot open configuration file '" + path + "'";
        return false;
    }
    std::string data;
    char chunk[8192];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        data.append(chunk, static_cast<size_t>(in.gcount()));
        if (data.size() > rkhost::kMaxIniBytes) {
            if (error) *error = "configuration file '" + path + "' is too large";
            return false;
        }
    }
    if (in.bad()) {
        if (error) *error = "cannot read configuration file '" + path + "'";
        return false;
    }
    *text = std::move(data);
    return true;
}

// Parses path and installs it; the caller holds the unique lock.
bool loadFileLocked(Store& s, const std::string& path, std::string* error) {
    std::string text;
    std::string why;
    rkhost::IniSections parsed;
    if (!readFile(path, &text, &why)) {
        if (error) *error = why;
        return false;
    }
    if (!rkhost::parseIniText(text, &parsed, &why)) {
        if (error) *error = "configuration file '" + path + "': " + why;
        return false;
    }
    s.sections = std::move(parsed);
    s.path = path;
    return true;
}

// First use: the file named by RKHOST_CONFIG, if any.
void ensureInitialised() {
    Store& s = store();
    if (s.initialised.load(std::memory_order_acquire)) return;
    std::string error;
    bool failed = false;
    {
        std::unique_lock<std::shared_mutex> lock(s.mu);
        if (s.initialised.load(std::memory_order_relaxed)) return;
        const char* env = std::getenv("RKHOST_CONFIG");
        if (env && *env) failed = !loadFileLocked(s, env, &error);
        s.initialised.store(true, std::memory_order_release);
    }
    if (failed) EvDebug().DebugLvl("RKPlatformInfo", 2, "%s", error.c_str());
}

// Looks the key up under the shared lock and hands its text to use().
template <typename Use>
int lookup(const char* section, const char* key, Use use) {
    if (!section || !key) return 0;
    ensureInitialised();
    Store& s = store();
    std::shared_lock<std::shared_mutex> lock(s.mu);
    auto sec = s.sections.find(section);
    if (sec == s.sections.end()) return 0;
    auto it = sec->second.find(key);
    if (it == sec->second.end()) return 0;
    return use(it->second) ? 1 : 0;
}

void warnNotNumber(const char* section, const char* key, const char* type) {
    // The value itself is not echoed: a key read as a number may still hold a secret.
    EvDebug().DebugLvl("RKPlatformInfo", 2, "Value of [%s] %s is not a valid %s; default kept",
                       section, key, type);
}

}  // namespace

int RKPlatformInfo::getNumber(const char* section, const char* key, unsigned long* value) {
    if (!value) return 0;
    bool bad = false;
    int found = lookup(section, key, [&](const std::string& text) {
        unsigned long v;
        if (!rkhost::parseUnsignedLong(text, &v)) return bad = true, false;
        *value = v;
        return true;
    });
    if (bad) warnNotNumber(section, key, "unsigned number");
    return found;
}

int RKPlatformInfo::getRegInt(const char* section, const char* key, int* value) {
    if (!value) return 0;
    bool bad = false;
    int found = lookup(section, key, [&](const std::string& text) {
        int v;
        if (!rkhost::parseInt(text, &v)) return bad = true, false;
        *value = v;
        return true;
    });
    if (bad) warnNotNumber(section, key, "integer");
    return found;
}

int RKPlatformInfo::getString(const char* section, const char* key, std::string* value) {
    if (!value) return 0;
    return lookup(section, key, [&](const std::string& text) {
        *value = text;
        return true;
    });
}

int RKPlatformInfo::setConfigFile(const char* path, std::string* error) {
    if (!path || !*path) {
        if (error) *error = "no configuration file given";
        return 0;
    }
    Store& s = store();
    std::unique_lock<std::shared_mutex> lock(s.mu);
    bool ok = loadFileLocked(s, path, error);
    // An explicit choice replaces RKHOST_CONFIG even when it failed to load.
    s.initialised.store(true, std::memory_order_release);
    return ok ? 1 : 0;
}

int RKPlatformInfo::loadConfigText(const std::string& text, std::string* error) {
    rkhost::IniSections parsed;
    std::string why;
    if (!rkhost::parseIniText(text, &parsed, &why)) {
        if (error) *error = "configuration text: " + why;
        return 0;
    }
    Store& s = store();
    std::unique_lock<std::shared_mutex> lock(s.mu);
    s.sections = std::move(parsed);
    s.path.clear();
    s.initialised.store(true, std::memory_order_release);
    return 1;
}

int RKPlatformInfo::reload(std::string* error) {
    Store& s = store();
    std::unique_lock<std::shared_mutex> lock(s.mu);
    std::string path = s.path;
    if (path.empty()) {
        const char* env = std::getenv("RKHOST_CONFIG");
        if (env) path = env;
    }
    s.initialised.store(true, std::memory_order_release);
    if (path.empty()) {
        if (error) *error = "no configuration file to reload";
        return 0;
    }
    return loadFileLocked(s, path, error) ? 1 : 0;
}

void RKPlatformInfo::reset() {
    Store& s = store();
    std::unique_lock<std::shared_mutex> lock(s.mu);
    s.sections.clear();
    s.path.clear();
    s.initialised.store(false, std::memory_order_release);
}
