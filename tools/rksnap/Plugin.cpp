#include "Plugin.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#ifndef RKSNAP_PLUGIN_DIR
#define RKSNAP_PLUGIN_DIR "/usr/lib"
#endif

namespace rksnap {
namespace {

const char* const kPluginName = "librkso_eseries.so";

std::string selfDir() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string p(buf, static_cast<size_t>(n));
    return p.substr(0, p.find_last_of('/'));
}

bool exists(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

Plugin::~Plugin() {
    if (m_handle) dlclose(m_handle);
}

bool Plugin::load(const std::string& given, std::string* error) {
    std::vector<std::string> candidates;
    if (!given.empty()) {
        candidates.push_back(given);
    } else {
        if (const char* env = std::getenv("RKSNAP_PLUGIN"); env && *env) candidates.push_back(env);
        candidates.push_back(selfDir() + "/../lib/" + kPluginName);
        candidates.push_back(std::string(RKSNAP_PLUGIN_DIR) + "/" + kPluginName);
    }
    std::string tried;
    for (const std::string& c : candidates) {
        if (!exists(c)) {
            tried += (tried.empty() ? "" : ", ") + c;
            continue;
        }
        m_handle = dlopen(c.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!m_handle) {
            const char* why = dlerror();
            *error = "cannot load plug-in '" + c + "': " + (why ? why : "?");
            return false;
        }
        m_path = c;
        break;
    }
    if (!m_handle) {
        *error = "plug-in " + std::string(kPluginName) + " not found (looked at " + tried +
                 "; --plugin PATH names it)";
        return false;
    }
    bool ok = true;
    auto sym = [&](const char* name) {
        void* p = dlsym(m_handle, name);
        if (!p) {
            ok = false;
            *error = "plug-in '" + m_path + "' does not export " + name;
        }
        return p;
    };
    m_version = reinterpret_cast<rkso_version_fn>(sym("rkso_version"));
    isSupported = reinterpret_cast<rkso_isSupported_fn>(sym("rkso_isSupported"));
    identifyDevices = reinterpret_cast<rkso_identifyDevices_fn>(sym("rkso_identifyDevices"));
    prepare = reinterpret_cast<rkso_devices_fn>(sym("rkso_prepareDevices"));
    unprepare = reinterpret_cast<rkso_devices_fn>(sym("rkso_unprepareDevices"));
    snap = reinterpret_cast<rkso_devices_fn>(sym("rkso_snapDevices"));
    isMapped = reinterpret_cast<rkso_devices_fn>(sym("rkso_isMapped"));
    map = reinterpret_cast<rkso_devices_fn>(sym("rkso_mapSnaps"));
    unmap = reinterpret_cast<rkso_devices_fn>(sym("rkso_unmapSnaps"));
    revert = reinterpret_cast<rkso_devices_fn>(sym("rkso_revertSnaps"));
    remove = reinterpret_cast<rkso_devices_fn>(sym("rkso_deleteSnaps"));
    reconcile = reinterpret_cast<rkso_devices_fn>(sym("rkso_reconcileSnaps"));
    return ok;
}

std::string Plugin::version() const {
    unsigned short a = 0, b = 0, c = 0;
    if (m_version) m_version(&a, &b, &c);
    return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c);
}

}  // namespace rksnap
