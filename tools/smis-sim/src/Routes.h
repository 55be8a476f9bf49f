// The requests the server answers, by method and path, with what each needs before
// its body is read: credentials and a body limit. Also the JSON answer helpers.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace sim::detail {

using Handler =
    std::function<void(const httplib::Request& req, const std::string& body, httplib::Response&)>;

struct Route {
    Handler handler;
    bool needsLogin = true;
    size_t maxBody = 1024 * 1024;
    bool cim = false;  // CIM-XML: logged in the request log even when refused
};

class Routes {
  public:
    void add(const std::string& method, const std::string& path, Route route);
    // The route, or null with `status` 404 (no such path) or 405 (not that method).
    const Route* find(const std::string& method, const std::string& path, int& status) const;

  private:
    std::map<std::string, std::map<std::string, Route>> m_routes;  // path, method
};

void sendJson(httplib::Response& res, int status, const nlohmann::json& body);
void sendJsonError(httplib::Response& res, int status, const std::string& message);
// A JSON body; an empty one is an empty object. Throws std::invalid_argument naming
// the problem without quoting the body.
nlohmann::json parseJsonBody(const std::string& body);

}  // namespace sim::detail
