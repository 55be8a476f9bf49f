// Changes from outside the CIM interface: host writes, controller failover and the
// damaged shapes edge tests need.
#include <stdexcept>

#include "ProviderImpl.h"
#include "Text.h"

namespace sim {

namespace {

using nlohmann::json;

[[noreturn]] void bad(const std::string& what) {
    throw std::invalid_argument(what);
}

std::string textItem(const json& j, const char* key) {
    if (!j.contains(key) || !j[key].is_string() ||
        j[key].get_ref<const std::string&>().size() > 256)
        bad(std::string("\"") + key + "\" must be a string of at most 256 characters");
    return j[key].get<std::string>();
}

Volume& volumeItem(Array& a, const json& j) {
    const std::string name = textItem(j, "volume");
    const Volume* v = a.findVolume(toUpper(name));
    if (!v) v = a.findVolumeByLabel(name);
    if (!v) bad("no volume \"" + printable(name) + "\"");
    return *a.findVolume(v->uuid);
}

}  // namespace

nlohmann::json Provider::control(const nlohmann::json& request) {
    if (!request.is_object()) bad("expected a JSON object");
    const std::string action = textItem(request, "action");
    size_t index = 0;
    if (request.contains("array")) {
        if (!request["array"].is_number_unsigned()) bad("\"array\" must be an array index");
        index = request["array"].get<size_t>();
    }
    std::unique_lock<FairSharedMutex> lock(m_impl->mutex);
    if (index >= m_impl->arrays.size()) bad("no array " + std::to_string(index));
    Array& a = m_impl->arrays[index];
    json answer = json::object();
    if (action == "write") {
        Volume& v = volumeItem(a, request);
        v.generation = ++a.lastGeneration;
        answer = {{"volume", v.uuid}, {"generation", v.generation}};
    } else if (action == "failover" || action == "failback") {
        Volume& v = volumeItem(a, request);
        v.currentController =
            action == "failover" ? 1 - v.preferredController : v.preferredController;
        answer = {{"volume", v.uuid},
                  {"currentController", a.controllers[v.currentController].name}};
    } else if (action == "dropSetting") {
        volumeItem(a, request).hasSetting = false;
    } else if (action == "sharedSecrets") {
        if (!request.contains("count") || !request["count"].is_number_unsigned() ||
            request["count"].get<uint64_t>() > 2)
            bad("\"count\" must be 0, 1 or 2");
        a.sharedSecrets = request["count"].get<int>();
    } else if (action == "extraDefineState") {
        const std::string id = textItem(request, "pit");
        PiT* p = a.findPiT(id);
        if (!p) bad("no PiT \"" + printable(id) + "\"");
        p->extraDefineState = true;
    } else {
        bad("unknown action \"" + printable(action) +
            "\" (write, failover, failback, dropSetting, sharedSecrets, extraDefineState)");
    }
    m_impl->changed();
    return answer;
}

}  // namespace sim
