// rksnap's configuration: one INI file holding the host's settings ([Host],
// [Talon], [~Talon], [Engines]) and one [Array NAME] section per array. The
// host libraries read the same text through RKPlatformInfo; rksnap also
// writes it (array add/remove/set-password), keeping comments and order.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace rksnap {

// Keys of an array section.
struct ArrayEntry {
    std::string name;  // the section's NAME
    std::string arrayId;
    std::string address;
    int port = 0;  // 0: 5988, or 5989 with HTTPS
    bool https = true;
    std::string user;
    std::string password;       // encrypted ("rkpw1:...")
    std::string arrayPassword;  // encrypted, optional: the array's own password
    std::string nameSpace;      // empty: asked from the provider
    int effectivePort() const { return port ? port : (https ? 5989 : 5988); }
};

class Config {
  public:
    // Reads path. A file that does not exist is an empty configuration unless
    // mustExist. A file others may read or write is refused when it holds a password.
    bool load(const std::string& path, bool mustExist, std::string* error);
    // Writes the file atomically with mode 0600 (a fresh temporary name beside it).
    bool save(std::string* error) const;
    const std::string& path() const { return m_path; }

    // The value of section/key, or "" when absent.
    std::string get(const std::string& section, const std::string& key) const;
    bool has(const std::string& section, const std::string& key) const;
    void set(const std::string& section, const std::string& key, const std::string& value);

    std::vector<ArrayEntry> arrays() const;
    // By section name or by array id.
    bool findArray(const std::string& nameOrId, ArrayEntry* out) const;
    void putArray(const ArrayEntry& entry);
    bool removeArray(const std::string& name);

    // The whole text as written.
    std::string text() const;

  private:
    struct Line {
        std::string raw;  // comments and blanks are kept as they were
        std::string key;  // empty for a comment, blank or header
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Line> lines;
    };
    Section* section(const std::string& name, bool create);
    const Section* section(const std::string& name) const;

    std::string m_path;
    std::vector<Line> m_preamble;
    std::vector<Section> m_sections;
};

// "Array NAME" for an array called NAME.
std::string arraySection(const std::string& name);

// Default locations: /etc/rksnap/rksnap.conf and /var/lib/rksnap for root,
// $XDG_CONFIG_HOME/rksnap and $XDG_STATE_HOME/rksnap otherwise.
std::string defaultConfigPath();
std::string defaultStateDir();

// Makes dir (and its parents) with mode 0700 where missing.
bool makeDirs(const std::string& dir, std::string* error);

// Writes text to path atomically with mode 0600.
bool writeFileAtomic(const std::string& path, const std::string& text, std::string* error);
// Reads a small file (at most maxBytes).
bool readSmallFile(const std::string& path, size_t maxBytes, std::string* text, std::string* error);

}  // namespace rksnap
