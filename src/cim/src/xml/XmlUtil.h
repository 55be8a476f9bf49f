// Internal helpers of the CIM-XML codec.
#pragma once

#include <string>
#include <string_view>

namespace cim::xml::detail {

// Host names as paths carry them: letters, digits, ".-_:[]%".
bool legalHost(std::string_view host);

}  // namespace cim::xml::detail
