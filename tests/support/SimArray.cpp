#include "testsupport/SimArray.h"

#include <gtest/gtest.h>
#include <httplib.h>

namespace testsupport {

bool Outcome::has(const std::string& name) const {
    for (const auto& p : out)
        if (p.getParameterName() == name) return !p.getValue().isNull();
    return false;
}

cim::CIMObjectPath Outcome::path(const std::string& name) const {
    for (const auto& p : out)
        if (p.getParameterName() == name && !p.getValue().isNull()) {
            cim::CIMObjectPath path;
            p.getValue().get(path);
            return path;
        }
    ADD_FAILURE() << "no output " << name;
    return {};
}

SimArray::SimArray(sim::Config config) : m_jobMs(config.jobs.durationMs) {
    sim::TestServerOptions options;
    options.https = false;
    options.clock = m_clock.clock();
    m_ns = config.arrayNamespace;
    m_prefix = config.classPrefix;
    m_server = std::make_unique<sim::TestServer>(std::move(config), options);
    m_client.connect("127.0.0.1", m_server->httpPort(), m_server->user(), m_server->password());
}

cim::CIMObjectPath SimArray::first(const std::string& cls) {
    auto names = m_client.enumerateInstanceNames(m_ns, cls);
    if (names.empty()) ADD_FAILURE() << "no instance of " << cls;
    return names.empty() ? cim::CIMObjectPath() : names.front();
}

cim::CIMObjectPath SimArray::named(const std::string& cls, const std::string& name) {
    for (const auto& i :
         m_client.enumerateInstances(m_ns, cls, true, false, false, false,
                                     cim::CIMPropertyList({cim::CIMName("ElementName")}))) {
        cim::Uint32 k = i.findProperty("ElementName");
        if (k != cim::PEG_NOT_FOUND && i.getProperty(k).getValue().toString() == name)
            return i.getPath();
    }
    return {};
}

cim::CIMObjectPath SimArray::volume(const std::string& label) {
    cim::CIMObjectPath p = named("CIM_StorageVolume", label);
    if (p.getClassName().isNull()) ADD_FAILURE() << "no volume " << label;
    return p;
}

cim::CIMInstance SimArray::instance(const cim::CIMObjectPath& path) {
    return m_client.getInstance(m_ns, path, false);
}

std::string SimArray::property(const cim::CIMObjectPath& path, const std::string& name) {
    cim::CIMInstance i = instance(path);
    cim::Uint32 k = i.findProperty(name);
    return k == cim::PEG_NOT_FOUND ? "<absent>" : i.getProperty(k).getValue().toString();
}

size_t SimArray::count(const std::string& cls) {
    return m_client.enumerateInstanceNames(m_ns, cls).size();
}

Outcome SimArray::call(const std::string& serviceClass, const std::string& method,
                       const std::vector<cim::CIMParamValue>& in) {
    Outcome o;
    cim::Uint32 rc = 0;
    m_client.invokeMethod(m_ns, first(m_prefix + "_" + serviceClass), method, in, o.out).get(rc);
    o.rc = rc;
    return o;
}

uint16_t SimArray::jobState(const Outcome& o) {
    std::string s = property(o.path("Job"), "JobState");
    return static_cast<uint16_t>(std::stoi(s));
}

nlohmann::json SimArray::state() {
    return provider().currentState().toStateJson()["arrays"];
}

::testing::AssertionResult SimArray::unchanged(const nlohmann::json& before) {
    nlohmann::json patch = nlohmann::json::diff(before, state());
    if (patch.empty()) return ::testing::AssertionSuccess();
    std::string text = patch.dump();
    if (text.size() > 600) text = text.substr(0, 600) + "...";
    return ::testing::AssertionFailure() << "the array changed: " << text;
}

nlohmann::json SimArray::control(const nlohmann::json& request, const std::string& path) {
    httplib::Client http("127.0.0.1", m_server->httpPort());
    http.set_basic_auth(m_server->user(), m_server->password());
    auto res = http.Post(path, request.dump(), "application/json");
    if (!res || res->status != 200) {
        ADD_FAILURE() << "POST " << path << " " << request.dump() << " failed";
        return {};
    }
    return nlohmann::json::parse(res->body);
}

size_t SimArray::invocations(const std::string& method) {
    size_t n = 0;
    for (const auto& r : m_server->requests())
        n += r.operation == "InvokeMethod" && (method.empty() || r.method == method);
    return n;
}

cim::CIMObjectPath settingData(const cim::CIMObjectPath& defineState) {
    const cim::CIMKeyBinding* k = defineState.findKeyBinding("SettingData");
    if (!k) ADD_FAILURE() << "no SettingData key in " << defineState.toString();
    return k ? cim::CIMObjectPath::parse(k->getValue()) : cim::CIMObjectPath();
}

}  // namespace testsupport
