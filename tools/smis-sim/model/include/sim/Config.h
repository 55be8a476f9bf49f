// Settings of the simulated provider and the arrays it serves. The same JSON format
// describes a starting configuration and a saved state.
#pragma once

#include <cstdint>
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
    // Leave out privileges and their associations, so hosts find their protocol
    // controllers by the fallback route only.
    bool omitPrivileges = false;
    std::vector<Array> arrays;

    // One array with two pools, eight volumes, an FC host, an iSCSI host and a host group.
    static Config defaults();
    // Throws ConfigError naming the item at fault.
    static Config fromJson(const nlohmann::json& json);
    static Config load(const std::string& path);
    nlohmann::json toJson() const;
    void save(const std::string& path) const;

    // "LSISSI", "DCIM", "NETAPP" (any case); throws ConfigError for others.
    static Preset presetFor(const std::string& name);
    static const std::vector<Preset>& presets();
};

// Deterministic identities, so a configuration without explicit ids is stable.
std::string makeRef(const std::string& seed);         // 40 upper-case hex digits
std::string makeVolumeUuid(const std::string& seed);  // 32 hex digits starting with '6'
std::string makeArrayId(const std::string& seed);     // 32 hex digits starting with '6'

}  // namespace sim
