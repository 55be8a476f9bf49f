// The array state as tests compare it: the saved-state JSON with every credential
// and secret masked.
#include "ProviderImpl.h"
#include "Text.h"

namespace sim {

namespace {

bool secretKey(const std::string& key) {
    const std::string k = toLower(key);
    return k.find("password") != std::string::npos || k.find("secret") != std::string::npos;
}

void mask(nlohmann::json& j) {
    if (j.is_array()) {
        for (auto& e : j) mask(e);
        return;
    }
    if (!j.is_object()) return;
    for (auto it = j.begin(); it != j.end(); ++it) {
        if (secretKey(it.key()) && it->is_string()) {
            if (!it->get_ref<const std::string&>().empty()) *it = "****";
        } else {
            mask(*it);
        }
    }
}

}  // namespace

nlohmann::json Provider::stateJson() const {
    Config state = currentState();
    nlohmann::json j = state.toJson();
    mask(j);
    // Whether the provider's copy of each array password is current, which masking hides.
    for (size_t i = 0; i < state.arrays.size() && i < j["arrays"].size(); ++i)
        j["arrays"][i]["providerSecretCurrent"] =
            state.arrays[i].providerSecret == state.arrays[i].password;
    return j;
}

}  // namespace sim
