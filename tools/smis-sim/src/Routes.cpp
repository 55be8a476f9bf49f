#include "Routes.h"

#include <stdexcept>

namespace sim::detail {

void Routes::add(const std::string& method, const std::string& path, Route route) {
    m_routes[path][method] = std::move(route);
}

const Route* Routes::find(const std::string& method, const std::string& path, int& status) const {
    auto p = m_routes.find(path);
    if (p == m_routes.end()) {
        status = 404;
        return nullptr;
    }
    auto m = p->second.find(method);
    if (m == p->second.end()) {
        status = 405;
        return nullptr;
    }
    return &m->second;
}

void sendJson(httplib::Response& res, int status, const nlohmann::json& body) {
    res.status = status;
    // Texts from clients (header values, error messages) need not be UTF-8.
    res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                    "application/json");
}

void sendJsonError(httplib::Response& res, int status, const std::string& message) {
    sendJson(res, status, nlohmann::json{{"error", message}});
}

nlohmann::json parseJsonBody(const std::string& body) {
    if (body.empty()) return nlohmann::json::object();
    try {
        return nlohmann::json::parse(body);
    } catch (const nlohmann::json::parse_error& e) {
        // The library's own text quotes what it read last.
        throw std::invalid_argument("the body is not valid JSON (at byte " +
                                    std::to_string(e.byte) + ")");
    }
}

}  // namespace sim::detail
