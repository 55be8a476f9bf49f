#include "ControlRoutes.h"

#include <stdexcept>

#include <cim/CIMName.h>

namespace sim::detail {

namespace {

constexpr size_t kMaxControlBody = 1024 * 1024;

}  // namespace

ControlRoutes::ControlRoutes(Backend& backend, FaultInjector& faults, Removals& removals,
                             RequestLog& log)
    : m_backend(backend), m_faults(faults), m_removals(removals), m_log(log) {}

void ControlRoutes::control(Routes& routes, const char* method, const char* path,
                            std::function<void(const nlohmann::json&, httplib::Response&)> fn) {
    Route route;
    route.maxBody = kMaxControlBody;
    route.handler = [fn = std::move(fn)](const httplib::Request&, const std::string& body,
                                         httplib::Response& res) {
        try {
            fn(parseJsonBody(body), res);
        } catch (const nlohmann::json::exception&) {
            sendJsonError(res, 400, "the body does not have the expected form");
        } catch (const std::invalid_argument& e) {
            sendJsonError(res, 400, e.what());
        }
    };
    routes.add(method, path, std::move(route));
}

void ControlRoutes::add(Routes& routes, bool fabricNeedsLogin) {
    auto control = [&](const char* method, const char* path,
                       std::function<void(const nlohmann::json&, httplib::Response&)> fn) {
        this->control(routes, method, path, std::move(fn));
    };
    control("POST", "/control/faults", [this](const nlohmann::json& j, httplib::Response& res) {
        uint64_t id = m_faults.add(FaultRule::fromJson(j));
        sendJson(res, 200, nlohmann::json{{"id", id}});
    });
    control("GET", "/control/faults", [this](const nlohmann::json&, httplib::Response& res) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& r : m_faults.rules()) list.push_back(r.toJson());
        sendJson(res, 200, nlohmann::json{{"faults", list}, {"latencyMs", m_faults.latencyMs()}});
    });
    control("DELETE", "/control/faults", [this](const nlohmann::json&, httplib::Response& res) {
        m_faults.clear();
        sendJson(res, 200, nlohmann::json::object());
    });
    control("POST", "/control/latency", [this](const nlohmann::json& j, httplib::Response& res) {
        if (!j.is_object() || !j.contains("ms") || !j["ms"].is_number_integer() ||
            j["ms"].get<int64_t>() < 0 || j["ms"].get<int64_t>() > 3600 * 1000) {
            throw std::invalid_argument("\"ms\" must be an integer from 0 to 3600000");
        }
        m_faults.setLatencyMs(j["ms"].get<int64_t>());
        sendJson(res, 200, nlohmann::json::object());
    });
    control("POST", "/control/jobs", [this](const nlohmann::json& j, httplib::Response& res) {
        if (!j.is_object()) throw std::invalid_argument("expected a JSON object");
        bool any = false;
        if (j.contains("vanish")) {
            if (!j["vanish"].is_boolean())
                throw std::invalid_argument("\"vanish\" must be true or false");
            m_backend.setJobsVanish(j["vanish"].get<bool>());
            any = true;
        }
        if (j.contains("outcome")) {
            if (!j["outcome"].is_string())
                throw std::invalid_argument("\"outcome\" must be a string");
            std::string outcome = j["outcome"].get<std::string>();
            uint16_t state;
            if (cim::equalNoCase(outcome, "Terminated")) {
                state = 8;
            } else if (cim::equalNoCase(outcome, "Exception")) {
                state = 10;
            } else if (cim::equalNoCase(outcome, "Killed")) {
                state = 9;
            } else {
                throw std::invalid_argument("\"outcome\" must be Terminated, Killed or Exception");
            }
            int count = 1;
            if (j.contains("count")) {
                if (!j["count"].is_number_integer() || j["count"].get<int64_t>() < 1 ||
                    j["count"].get<int64_t>() > 1000000) {
                    throw std::invalid_argument("\"count\" must be an integer from 1 to 1000000");
                }
                count = j["count"].get<int>();
            }
            m_backend.failNextJobs(count, state);
            any = true;
        }
        if (j.contains("methods")) {
            if (!j["methods"].is_object())
                throw std::invalid_argument("\"methods\" must be an object");
            for (const auto& [method, mode] : j["methods"].items()) {
                if (mode != "job" && mode != "sync")
                    throw std::invalid_argument("a method's mode is \"job\" or \"sync\"");
                m_backend.setJobMode(method, mode == "job");
            }
            any = true;
        }
        if (j.contains("holdRequests")) {
            auto number = [&](const char* key, int dflt) {
                if (!j.contains(key)) return dflt;
                if (!j[key].is_number_integer() || j[key].get<int64_t>() < 1 ||
                    j[key].get<int64_t>() > 1000000)
                    throw std::invalid_argument(std::string("\"") + key +
                                                "\" must be an integer from 1 to 1000000");
                return j[key].get<int>();
            };
            m_backend.holdNextJobs(number("count", 1), number("holdRequests", 1));
            any = true;
        }
        if (!any)
            throw std::invalid_argument(
                "expected \"outcome\", \"vanish\", \"methods\" or \"holdRequests\"");
        sendJson(res, 200, nlohmann::json::object());
    });
    control("POST", "/control/array", [this](const nlohmann::json& j, httplib::Response& res) {
        sendJson(res, 200, m_backend.arrayControl(j));
    });
    control("POST", "/control/remove", [this](const nlohmann::json& j, httplib::Response& res) {
        RemovalRule rule = RemovalRule::fromJson(j);
        if (!rule.atOnce) {
            sendJson(res, 200, nlohmann::json{{"id", m_removals.add(std::move(rule))}});
            return;
        }
        std::vector<std::string> removed;
        try {
            removed = m_backend.removeObject(rule.object, rule.target, rule.array);
        } catch (const std::invalid_argument& e) {
            sendJsonError(res, 404, e.what());
            return;
        }
        sendJson(res, 200, nlohmann::json{{"removed", removed}});
    });
    control("GET", "/control/remove", [this](const nlohmann::json&, httplib::Response& res) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& r : m_removals.rules()) list.push_back(r.toJson());
        sendJson(res, 200, nlohmann::json{{"pending", list}});
    });
    control("DELETE", "/control/remove", [this](const nlohmann::json&, httplib::Response& res) {
        m_removals.clear();
        sendJson(res, 200, nlohmann::json::object());
    });
    control("GET", "/control/state", [this](const nlohmann::json&, httplib::Response& res) {
        sendJson(res, 200, m_backend.state());
    });
    control("POST", "/control/reset", [this](const nlohmann::json&, httplib::Response& res) {
        m_faults.clear();
        m_removals.clear();
        m_log.clear();
        m_backend.reset();
        sendJson(res, 200, nlohmann::json::object());
    });
    control("GET", "/control/log", [this](const nlohmann::json&, httplib::Response& res) {
        sendJson(res, 200, m_log.toJson());
    });
    control("DELETE", "/control/log", [this](const nlohmann::json&, httplib::Response& res) {
        m_log.clear();
        sendJson(res, 200, nlohmann::json::object());
    });

    Route fabric;
    fabric.needsLogin = fabricNeedsLogin;
    fabric.maxBody = kMaxControlBody;
    fabric.handler = [this](const httplib::Request&, const std::string& body,
                            httplib::Response& res) {
        try {
            nlohmann::json j = parseJsonBody(body);
            if (!j.is_object() || !j.contains("initiators") || !j["initiators"].is_array()) {
                throw std::invalid_argument("expected {\"initiators\": [...]}");
            }
            const auto& list = j["initiators"];
            if (list.size() > 4096) throw std::invalid_argument("too many initiators");
            std::vector<std::string> ports;
            for (const auto& p : list) {
                if (!p.is_string() || p.get_ref<const std::string&>().size() > 1024) {
                    throw std::invalid_argument(
                        "each initiator must be a string of at most 1024 characters");
                }
                ports.push_back(p.get<std::string>());
            }
            sendJson(res, 200, m_backend.fabricLuns(ports));
        } catch (const nlohmann::json::exception&) {
            sendJsonError(res, 400, "the body does not have the expected form");
        } catch (const std::invalid_argument& e) {
            sendJsonError(res, 400, e.what());
        }
    };
    routes.add("POST", "/fabric/luns", std::move(fabric));
}

}  // namespace sim::detail
