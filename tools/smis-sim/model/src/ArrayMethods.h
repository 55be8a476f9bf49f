// What the array's extrinsic methods share: parameters checked against the method's
// declaration, references resolved on the service's own array, the array rules,
// generated identities, and the choice between answering at once and with a job.
//
// Every method checks first and changes afterwards: a check that fails throws
// Refused, whose code becomes the return value, and the array stays as it was.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ProviderImpl.h"

namespace sim {

// Return values of the array's methods.
enum : uint32_t {
    kDone = 0,
    kNotSupported = 1,
    kFailed = 4,
    kInvalidParameter = 5,
    kJobStarted = 4096,
    kInvalidLun = 4097,
    kInvalidInitiator = 4098,
    kLunTaken = 4102,
    kNoFreeLun = 4103,
    kMapped = 640001,
    kNotMapped = 640002,
    kNoVolume = 640003,
    kTooManySnapshots = 640004,
    kAttachFailed = 640006,
    kNoPool = 640007,
    kNoObject = 640010,
};

struct Refused {
    uint32_t code;
    const char* why;  // for whoever reads the code
};

// The effect of a call on its array. Runs at once, or when its job completes; then
// a non-empty answer fails the job with that reason (and must have changed nothing).
using Effect = std::function<std::string(Array&)>;
// What a running job will add, for the limits: key -> amount (see ArrayCall::pending).
using Claims = std::vector<std::pair<std::string, uint64_t>>;

class ArrayCall {
  public:
    ArrayCall(MethodCall& call, const MethodDef& declaration);

    Provider::Impl& provider;
    const Repository& repo;
    const size_t index;  // the service's array
    Array& array;
    const RuleSettings& rules;
    const int64_t nowMs;

    // Parameters, already checked against the declaration (name, type); absent and
    // null ones read as empty. require() refuses a missing one with 5.
    bool given(const char* name) const;
    std::optional<uint16_t> u16(const char* name) const;
    std::optional<uint64_t> u64(const char* name) const;
    std::optional<bool> flag(const char* name) const;
    std::optional<std::string> text(const char* name) const;
    std::optional<cim::CIMObjectPath> ref(const char* name) const;
    std::optional<std::vector<std::string>> texts(const char* name) const;
    std::optional<std::vector<uint16_t>> u16s(const char* name) const;
    std::optional<std::vector<cim::CIMObjectPath>> refs(const char* name) const;
    template <class T>
    static T require(std::optional<T> value) {
        if (!value) throw Refused{kInvalidParameter, "a required parameter is missing"};
        return std::move(*value);
    }

    // References of this array: an unresolved volume is 640003, an unknown pool
    // 640007, anything else 640010; an object of another kind is 5.
    const Volume& volume(const cim::CIMObjectPath& path) const;
    const Pool& pool(const cim::CIMObjectPath& path) const;
    Obj object(const cim::CIMObjectPath& path, Kind kind) const;
    Link link(const cim::CIMObjectPath& path) const;

    // Rules.
    // 5 when not 1 to 30 name characters, or taken by a volume or group (rule "names").
    void checkName(const std::string& label) const;
    bool nameTaken(const std::string& label) const;
    void checkPoolSpace(const std::string& pool, uint64_t bytes) const;  // 4 when short
    bool mapped(const std::string& volumeUuid) const;
    // What running jobs of this array will add under `key`: "pitGroups:<base>",
    // "name:<UPPER label>", "pool:<ref>" (bytes), "groups:<volume>", "member:<group>:
    // <volume>", "legacy:<source>", "copyTarget:<volume>", "view:<PiT id>".
    uint64_t pending(const std::string& key) const;

    // Generated identities and values; each call hands out a new one.
    std::string newRef(const char* what);
    std::string newVolumeUuid();
    std::string newPiTId();
    std::string newVolumeName(const std::string& stem, const char* suffix);  // <stem>_<suffix>_<n>
    int64_t nextWhenMicros();
    uint64_t newGeneration();

    void output(const char* name, const cim::CIMValue& value);
    cim::CIMObjectPath volumePath(const std::string& uuid, VolumeKind kind) const;

    // Answers with a job when the method (or "Method:operation") is in job mode, else
    // applies the effect now. `outputs` come in either answer.
    uint32_t finish(Effect effect, Claims claims = {}, std::optional<uint16_t> operation = {});
    // For methods whose effect and outputs hosts use at once even from a job: the
    // change is made now; in job mode a failed job takes it back with `undo`.
    uint32_t finishAtOnce(const std::function<void(Array&)>& effect,
                          std::function<void(Array&)> undo);

  private:
    const cim::CIMValue* param(const char* name) const;
    bool jobMode(std::optional<uint16_t> operation) const;

    MethodCall& m_call;
    const MethodDef& m_declaration;
    std::map<std::string, cim::CIMValue> m_params;  // lower-case name -> converted value
};

// Wraps a handler of an array method: the call must target an instance, a stale
// provider secret answers 4 before anything else, parameters the declaration does not
// have or of the wrong type answer 5, and Refused becomes the return value.
MethodHandler arrayMethod(std::function<uint32_t(ArrayCall&)> handler);

void registerReplicationMethods(Provider::Impl& impl);
void registerGroupMethods(Provider::Impl& impl);
void registerMaskingMethods(Provider::Impl& impl);
void registerStorageMethods(Provider::Impl& impl);

}  // namespace sim
