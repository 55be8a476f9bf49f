// What a simulated host sees on the SAN: the simulator's answer to
// POST /fabric/luns, checked and decoded, and the inquiries its devices answer.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace rkhost {

// Largest fabric answer read.
constexpr size_t kMaxFabricBytes = 32u << 20;

struct FabricPath {
    std::string device;  // the path's own device name
    std::string controller;
    std::vector<uint8_t> vpd80;
};

struct FabricLun {
    std::string deviceName;
    std::string arrayId;  // 32 upper-case hex digits
    std::string lunUuid;  // 32 upper-case hex digits
    std::string vendor;
    std::string product;
    std::vector<uint8_t> standardInquiry;
    std::vector<uint8_t> vpdC8;
    std::vector<uint8_t> vpd80;
    std::vector<FabricPath> paths;
};

struct FabricView {
    std::vector<FabricLun> luns;
    // Every device name: the LUN's, and with paths each path's.
    struct Device {
        size_t lun;
        int path;  // -1: the LUN's own device
    };
    std::map<std::string, Device> devices;
    std::vector<std::string> unknownPorts;
};

// The device name a controller path of a LUN gets.
std::string fabricPathDevice(const std::string& lunUuid, const std::string& controller);

// Decodes and checks a fabric answer. withPaths adds a device per controller path.
// Any malformed part fails the whole answer, with the part named in *error.
bool parseFabricView(const std::string& body, bool withPaths, FabricView* view, std::string* error);

// The body of POST /fabric/luns for these initiator ports.
std::string fabricRequest(const std::vector<std::string>& initiatorPorts);

// INQUIRY as a device of the view answers it: standard data, page 0xC8, page 0x80
// (the path's own when path >= 0), the allocation length honoured. Returns the
// bytes given, or -1 with the failure text in *error and, when sense is given
// (32 bytes), the sense data: ILLEGAL REQUEST, as a real device answers.
int answerInquiry(const FabricLun& lun, int path, const unsigned char* cdb, int cdbLength,
                  unsigned char* data, int dataSize, unsigned char* sense, std::string* error);

}  // namespace rkhost
