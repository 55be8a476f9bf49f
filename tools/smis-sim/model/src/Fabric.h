// What hosts see on the SAN: the LUNs visible to initiator ports, with the SCSI
// inquiry data a host reads from them.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/Model.h"

namespace sim {

std::vector<unsigned char> standardInquiry(const Array& a);
// Vital product data page 0xC8: LUN UUID in bytes 12..27, array id in bytes 90..105.
std::vector<unsigned char> vpdPageC8(const Array& a, const Volume& v);
// Unit serial number page 0x80 through the path of one controller.
std::vector<unsigned char> vpdPage80(const Controller& c);

nlohmann::json fabricLuns(const std::vector<Array>& arrays, const std::vector<std::string>& ports);

}  // namespace sim
