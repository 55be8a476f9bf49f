// Reads the simulated fabric over HTTP(S) with libcurl.
#pragma once

#include <string>
#include <vector>

#include "DeviceBackend.h"

namespace rkhost {

// POSTs the fabric request for these ports to settings.fabricUrl + "/fabric/luns"
// and returns the body of a 200 answer. Credentials go along when FabricUser is
// set. Error texts never hold the password.
bool fetchFabric(const DeviceTreeSettings& settings, const std::vector<std::string>& ports,
                 std::string* body, std::string* error);

}  // namespace rkhost
