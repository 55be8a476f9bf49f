// Inside of the provider, shared with the extrinsic methods.
#pragma once

#include <atomic>
#include <climits>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include <cim/Exception.h>
#include <cim/xml/Codec.h>

#include "Jobs.h"
#include "Repository.h"
#include "StateSaver.h"
#include "sim/Provider.h"

namespace sim {

// A CIM error answered to the client.
class CimError : public std::runtime_error {
  public:
    CimError(cim::CIMStatusCode c, const std::string& text) : std::runtime_error(text), code(c) {}
    cim::CIMStatusCode code;
};

// A shared mutex that lets a waiting writer in before newly arriving readers, so a
// stream of enumerations cannot starve a change.
class FairSharedMutex {
  public:
    void lock() {
        std::lock_guard<std::mutex> gate(m_gate);
        m_rw.lock();
    }
    void unlock() { m_rw.unlock(); }
    void lock_shared() {
        { std::lock_guard<std::mutex> gate(m_gate); }
        m_rw.lock_shared();
    }
    void unlock_shared() { m_rw.unlock_shared(); }

  private:
    std::mutex m_gate;
    std::shared_mutex m_rw;
};

struct MethodCall;
// Returns the method's return value; fills call.response's output parameters.
using MethodHandler = std::function<uint32_t(MethodCall&)>;

struct Provider::Impl {
    Impl(Config config, Clock clock);

    Config config;  // as built, for reset()
    Clock clock;
    std::vector<Array> arrays;  // the live model
    Jobs jobs;
    // Shared for reads, exclusive for changes.
    mutable FairSharedMutex mutex;
    std::atomic<int64_t> nextDue{INT64_MAX};
    std::atomic<bool> holding{false};  // some job waits for requests to pass
    // Counts changes of the arrays, for the state file.
    std::atomic<uint64_t> changes{0};
    std::unique_ptr<StateSaver> saver;
    // Keyed by lower-case "<class suffix>.<method>", e.g. "_replicationservice.creategroup".
    std::unordered_map<std::string, MethodHandler> methods;
    // "Method" or "Method:Operation" -> answers with a job.
    std::map<std::string, bool> jobModes;

    void advanceJobs();
    void changed();
    // After every request: held jobs count it.
    void countRequest();
    void registerMethod(const std::string& classSuffix, const std::string& method,
                        MethodHandler handler);
    void intrinsic(const cim::xml::Request& req, cim::xml::Response& resp);
    void invoke(const cim::xml::Request& req, cim::xml::Response& resp);
    void modifyInstance(const Repository& repo, const Obj& o, const cim::CIMInstance& mod,
                        const cim::CIMPropertyList& list);
};

// An extrinsic call in progress; runs with the provider's exclusive lock held.
struct MethodCall {
    Provider::Impl& provider;
    const Repository& repo;
    std::optional<Obj> target;  // empty for a call on the class
    const cim::xml::Request& request;
    cim::xml::Response& response;

    // An input parameter converted to `type` (untyped values come as text); nothing
    // when absent or null. A value that does not convert is CIM_ERR_INVALID_PARAMETER.
    std::optional<cim::CIMValue> param(const std::string& name, cim::CIMType type,
                                       bool isArray = false) const;
    void output(const std::string& name, const cim::CIMValue& value);
};

// The array's extrinsic methods.
void registerBuiltinMethods(Provider::Impl& impl);

}  // namespace sim
