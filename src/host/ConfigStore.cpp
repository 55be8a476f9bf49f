// RKPlatformInfo: the process-wide configuration store.
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>

#include "IniText.h"
#include "rkso/EvDebug.h"
#include "rkso/RKPlatformInfo.h"

namespace {

using Sections = std::shared_ptr<const rkhost::IniSections>;

// Readers copy the pointer to the current sections under the mutex and search
// without it; a load builds new sections and swaps the pointer, so a reload never
// waits for readers and readers never see a half-built map.
struct Store {
    std::mutex mu;
    std::atomic<bool> initialised{false};
    std::string path;  // file in force; empty when the values came from text or nothing
    Sections sections = std::make_shared<const rkhost::IniSections>();
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

bool readAndParse(const std::string& path, rkhost::IniSections* out, std::string* error) {
    std::string text;
    std::string why;
    if (!readFile(path, &text, &why)) {
        if (error) *error = why;
        return false;
    }
    if (!rkhost::parseIniText(text, out, &why)) {
        if (error) *error = "configuration file '" + path + "': " + why;
        return false;
    }
    return true;
}

// The caller holds the mutex.
void installLocked(Store& s, rkhost::IniSections&& sections, const std::string& path) {
    s.sections = std::make_shared<const rkhost::IniSections>(std::move(sections));
    s.path = path;
    s.initialised.store(true, std::memory_order_release);
}

// First use: the file named by RKHOST_CONFIG, if any.
void ensureInitialised() {
    Store& s = store();
    if (s.initialised.load(std::memory_order_acquire)) return;
    std::string error;
    bool failed = false;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        if (s.initialised.load(std::memory_order_relaxed)) return;
        const char* env = std::getenv("RKHOST_CONFIG");
        rkhost::IniSections parsed;
        if (env && *env) {
            failed = !readAndParse(env, &parsed, &error);
            if (!failed) installLocked(s, std::move(parsed), env);
        }
        s.initialised.store(true, std::memory_order_release);
    }
    if (failed) EvDebug().DebugLvl("RKPlatformInfo", 2, "%s", error.c_str());
}

// Looks the key up in the current sections and hands its text to use().
template <typename Use>
int lookup(const char* section, const char* key, Use use) {
    if (!section || !key) return 0;
    ensureInitialised();
    Store& s = store();
    Sections sections;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        sections = s.sections;
    }
    auto sec = sections->find(section);
    if (sec == sections->end()) return 0;
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
    ensureInitialised();
    rkhost::IniSections parsed;
    if (!readAndParse(path, &parsed, error)) return 0;
    Store& s = store();
    std::lock_guard<std::mutex> lock(s.mu);
    installLocked(s, std::move(parsed), path);
    return 1;
}

int RKPlatformInfo::loadConfigText(const std::string& text, std::string* error) {
    ensureInitialised();
    rkhost::IniSections parsed;
    std::string why;
    if (!rkhost::parseIniText(text, &parsed, &why)) {
        if (error) *error = "configuration text: " + why;
        return 0;
    }
    Store& s = store();
    std::lock_guard<std::mutex> lock(s.mu);
    installLocked(s, std::move(parsed), std::string());
    return 1;
}

int RKPlatformInfo::reload(std::string* error) {
    ensureInitialised();
    Store& s = store();
    std::string path;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        path = s.path;
    }
    if (path.empty()) {
        const char* env = std::getenv("RKHOST_CONFIG");
        if (env) path = env;
    }
    if (path.empty()) {
        if (error) *error = "no configuration file to reload";
        return 0;
    }
    rkhost::IniSections parsed;
    if (!readAndParse(path, &parsed, error)) return 0;
    std::lock_guard<std::mutex> lock(s.mu);
    installLocked(s, std::move(parsed), path);
    return 1;
}

void RKPlatformInfo::reset() {
    Store& s = store();
    std::lock_guard<std::mutex> lock(s.mu);
    s.sections = std::make_shared<const rkhost::IniSections>();
    s.path.clear();
    s.initialised.store(false, std::memory_order_release);
}
