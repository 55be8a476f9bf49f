// The plug-in, loaded with dlopen and driven only through its exported names.
#pragma once

#include <string>

#include "rkso/rkso.h"

namespace rksnap {

class Plugin {
  public:
    Plugin() = default;
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // path empty: $RKSNAP_PLUGIN, then beside rksnap (../lib), then the install directory.
    bool load(const std::string& path, std::string* error);
    const std::string& path() const { return m_path; }
    std::string version() const;

    rkso_isSupported_fn isSupported = nullptr;
    rkso_identifyDevices_fn identifyDevices = nullptr;
    rkso_devices_fn prepare = nullptr, unprepare = nullptr, snap = nullptr, isMapped = nullptr,
                    map = nullptr, unmap = nullptr, revert = nullptr, remove = nullptr,
                    reconcile = nullptr;

  private:
    void* m_handle = nullptr;
    rkso_version_fn m_version = nullptr;
    std::string m_path;
};

}  // namespace rksnap
