// Settings of the simulated provider and the arrays it serves. The same JSON format
// describes a starting configuration and a saved state.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/Model.h"

namespace sim {

// A configuration that cannot be used; the message names the offending item.
class ConfigError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A class prefix with the namespace its provider serves.
struct Preset {
    std::string name;  // "LSISSI", "DCIM" or "NETAPP"
    std::string classPrefix;
    std::string arrayNamespace;
    std::string vendor;   // standard inquiry vendor of the family
    std::string product;  // standard inquiry product
};

struct JobSettings {
    int64_t durationMs = 2000;     // start to final state
    int64_t retentionMs = 300000;  // finished jobs stay readable this long
    bool vanish = false;           // finished jobs disappear at once
    // Which extrinsic calls answer with a job (4096) instead of at once (0), by
    // "Method" or "Method:Operation" (the latter wins), spelled as the methods are.
    std::map<std::string, bool> methods = {{"AttachOrModifyReplica", true},
                                           {"ModifySettingsDefineState:32768", true},
                                           {"ModifySynchronization:5", true}};
    // 4096 answers leave out "TheElement" (hosts then find the new volume by name).
    bool omitTheElement = false;
};

// The array rules the extrinsic methods enforce; each can be switched off, and a
// limit of 0 means no limit.
struct RuleSettings {
    bool staleSecret = true;             // a stale provider "Secret" fails every method (4)
    bool names = true;                   // 1 to 30 name characters, unique
    bool oldestFirst = true;             // only the oldest PiT of its group goes
    bool keepViewedPiTs = true;          // a PiT with a view stays
    bool preferredOwnerForViews = true;  // no view while the base is off its preferred owner
    bool oneMappingPerVolume = true;
    bool keepMapped = true;          // mapped volumes and views are not removed (640001)
    bool poolSpace = true;           // new volumes and repositories need free pool capacity
    bool minimumRepository = true;   // 32 MiB + base / 5000
    bool roundUpRepository = false;  // raise a small repository instead of refusing it
    uint32_t maxPiTGroupsPerVolume = 4;
    uint32_t maxPiTsPerGroup = 32;
    uint32_t maxCgPiTsPerGroup = 32;
    uint32_t maxConsistencyGroupsPerVolume = 4;
    uint32_t maxLegacySnapshotsPerVolume = 4;
    uint32_t reservePercent = 40;  // repository of a consistency-group member or legacy snapshot
};

struct Config {
    // Basic authentication of the provider's CIM-XML server.
    std::string user = "admin";
    std::string password = "admin";

    std::string preset = "NETAPP";
    std::string classPrefix = "NETAPP";
    std::string arrayNamespace = "root/netapp/santricity";
    std::string interopNamespace = "interop";
    std::string serverName = "smis-sim";  // "SystemName" of the CIM_Namespace instances

    JobSettings jobs;
    RuleSettings rules;
    // Leave out privileges and their associations, so hosts find their protocol
    // controllers by the fallback route only.
    bool omitPrivileges = false;
    std::vector<Array> arrays;

    // One array with two pools, eight volumes, an FC host, an iSCSI host and a host group.
    static Config defaults();
    // Throws ConfigError naming the item at fault.
    static Config fromJson(const nlohmann::json& json);
    // Throws ConfigError; a syntax error is reported by position only, never by the
    // text around it (it may be a password).
    static Config load(const std::string& path);
    nlohmann::json toJson() const;

    // The state file: the configuration without credentials ("user", "password", the
    // arrays' "password" and "providerSecret"); each array records instead whether the
    // provider's secret was current.
    nlohmann::json toStateJson() const;
    // Written 0600 through a fresh temporary file in the same folder, then renamed.
    void saveState(const std::string& path) const;
    // Loads a state file; credentials come from `base` (the configuration), by array
    // id. A state file that others may read, or that is no regular file, is refused.
    static Config loadState(const std::string& path, const Config& base);

    // Canonical job-mode key for "Method" or "Method:Operation" (any case); throws
    // ConfigError for a method the array does not have.
    static std::string jobModeKey(const std::string& text);

    // "LSISSI", "DCIM", "NETAPP" (any case); throws ConfigError for others.
    static Preset presetFor(const std::string& name);
    static const std::vector<Preset>& presets();
};

// Deterministic identities, so a configuration without explicit ids is stable.
std::string makeRef(const std::string& seed);         // 40 upper-case hex digits
std::string makeVolumeUuid(const std::string& seed);  // 32 hex digits starting with '6'
std::string makeArrayId(const std::string& seed);     // 32 hex digits starting with '6'

}  // namespace sim
