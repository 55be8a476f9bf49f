// Host configuration store. Values live in named sections of an INI-style file:
//
//   [Talon]
//   RK_SMIS_CLIENT_TIMEOUT_IN_SEC = 600
//   [~Talon]
//   LSI_SMIS_PORT = 5989
//
// The file is taken from the environment variable RKHOST_CONFIG at first use,
// or from setConfigFile. Lookups are safe from any number of threads.
#pragma once

#include <string>

class RKPlatformInfo {
  public:
    RKPlatformInfo() = default;

    // Each lookup answers non-zero when the key exists; only then is *value written.
    // A present key whose text is not a valid number of the asked type answers 0.
    int getNumber(const char* section, const char* key, unsigned long* value);
    int getRegInt(const char* section, const char* key, int* value);
    int getString(const char* section, const char* key, std::string* value);

    // Host-side control. Each returns 1 on success, 0 on failure with a reason in
    // *error (when given); on failure the previous contents stay in force.
    static int setConfigFile(const char* path, std::string* error = nullptr);
    static int loadConfigText(const std::string& text, std::string* error = nullptr);
    // Reads the current file again (the one set last, else RKHOST_CONFIG).
    static int reload(std::string* error = nullptr);
    // Forgets every value and the file; the next lookup starts from RKHOST_CONFIG again.
    static void reset();
};
