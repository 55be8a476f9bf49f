// The simulated SMI-S provider: a CIM repository derived from the array model,
// answering decoded CIM-XML requests. Thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <cim/CIMObjectPath.h>
#include <cim/xml/Codec.h>
#include <nlohmann/json.hpp>

#include "sim/Config.h"

namespace sim {

// Array objects an administrator can remove (see Provider::removeObject).
enum class RemovableKind { Volume, PiT, PiTView, PiTGroup, ConsistencyGroup, Mapping };
// "volume", "pit", "pitView", "pitGroup", "consistencyGroup", "mapping".
const char* removableKindName(RemovableKind kind);
// Any case; throws std::invalid_argument naming the kinds for another name.
RemovableKind removableKindFromName(const std::string& name);

// Milliseconds since the epoch. Jobs advance on it and PiTs take their time from it;
// tests pass a manual clock so that nothing sleeps.
using Clock = std::function<int64_t()>;

class Provider {
  public:
    explicit Provider(Config config, Clock clock = Clock());
    ~Provider();
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;

    // Answers one intrinsic or extrinsic request; CIM errors come back in the
    // response, never as exceptions.
    cim::xml::Response handle(const cim::xml::Request& request);

    // The LUNs the given initiator ports see, with device names and inquiry data.
    nlohmann::json fabricLuns(const std::vector<std::string>& initiatorPorts) const;

    // The next `count` jobs end in `finalJobState` (8 Terminated, 9 Killed, 10 Exception);
    // throws std::invalid_argument for other states or a negative count.
    void failNextJobs(int count, uint16_t finalJobState);
    // Finished jobs disappear at once (true) or after the retention time (false).
    void setJobsVanish(bool vanish);
    // Starts a job that does nothing but run (on the first array); returns its path in
    // the array namespace. Jobs answer CIM_ConcreteJob.RequestStateChange 4/5.
    cim::CIMObjectPath startJob(int64_t durationMs, uint16_t finalJobState = 7);
    // Starts a job whose `effect` runs when it completes (state 7), under the
    // provider's lock; an effect that adds or removes volumes calls Array::reindex().
    // A job that fails or is stopped never runs it. Returns the job's "InstanceID".
    std::string startJobWithEffect(int64_t durationMs, std::function<void(Array&)> effect,
                                   size_t arrayIndex = 0);

    // Removes an object as an administrator would on the array, outside the CIM
    // interface, with what depends on it: a volume takes its mappings, PiT groups,
    // member views, legacy snapshots, copies and group memberships; a PiT (or CG PiT)
    // its views; a PiT group its PiTs; a consistency group its CG PiTs and views; a
    // CG view its member views. `id` is a uuid, ref or InstanceID, or a label (any
    // case); a mapping is named by its volume, a PiT view may also be a CG view.
    // `array` (id or name) limits the search. Returns what went, the object first.
    // Throws std::invalid_argument when nothing matches.
    std::vector<std::string> removeObject(RemovableKind kind, const std::string& id,
                                          const std::string& array = std::string());
    // The current state as JSON (the state file format), every password and secret
    // shown as "****", with "providerSecretCurrent" per array.
    nlohmann::json stateJson() const;
    // Extrinsic calls of `methodOrOperation` ("Method" or "Method:Operation") answer
    // with a job (true) or at once; throws std::invalid_argument for an unknown method.
    void setJobMode(const std::string& methodOrOperation, bool job);
    // The next `count` jobs stay "Running" until `requests` more requests (of any kind)
    // were answered; throws std::invalid_argument for values out of 1..1000000.
    void holdNextJobs(int count, int requests);

    // Changes made from outside the CIM interface, as hosts and administrators make
    // them: {"action": "write", "volume": V} (a host write: a new data generation),
    // "failover" / "failback" (the current owner leaves / returns to the preferred
    // controller), "sharedSecrets" with "count" 0..2, "dropSetting" (no
    // {P}_StorageVolumeSetting), "extraDefineState" with "pit" (a second
    // CIM_SettingsDefineState). V is a label or uuid on "array" (index, default 0).
    // Returns what changed; throws std::invalid_argument naming a bad item.
    nlohmann::json control(const nlohmann::json& request);

    // Back to the configuration the provider was built with; jobs are dropped.
    void reset();
    // The current arrays as a configuration.
    Config currentState() const;
    // Writes the state file format (no credentials) now.
    void saveState(const std::string& path) const;
    // Keeps `path` current from now on: saved off the request path after every change
    // (also one a finishing job made), and at destruction. Jobs in flight are not saved.
    void persistTo(const std::string& path);
    // Saves now when anything changed since the last save; throws ConfigError.
    void flushState();

    const Config& config() const;

    struct Impl;  // defined in the library; also used by the extrinsic methods

  private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace sim
