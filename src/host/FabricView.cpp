#include "FabricView.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include <nlohmann/json.hpp>

#include "ScsiResult.h"

namespace rkhost {
namespace {

using nlohmann::json;

constexpr size_t kMaxLuns = 16384;
constexpr size_t kMaxPaths = 8;
constexpr size_t kMaxDepth = 32;
constexpr size_t kMaxName = 1024;

// nlohmann's parser handles any depth, but nothing we expect is deeper than a
// few levels and an attacker's thousands of brackets should cost nothing.
bool depthWithin(const std::string& text, size_t limit) {
    size_t depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return false;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct Checker {
    std::string* error;
    std::string where;

    bool fail(const std::string& what) {
        *error = "malformed fabric answer: " + where + what;
        return false;
    }

    bool text(const json& obj, const char* key, bool required, size_t maxLength, std::string* out) {
        auto it = obj.find(key);
        if (it == obj.end()) return required ? fail(std::string("no \"") + key + "\"") : true;
        if (!it->is_string()) return fail(std::string("\"") + key + "\" is not a string");
        const std::string& s = it->get_ref<const std::string&>();
        if (s.size() > maxLength) return fail(std::string("\"") + key + "\" is too long");
        for (unsigned char c : s)
            if (c < 0x20 || c == 0x7F)
                return fail(std::string("\"") + key + "\" holds a control character");
        *out = s;
        return true;
    }

    bool hex(const json& obj, const char* key, size_t minBytes, size_t maxBytes,
             std::vector<uint8_t>* out) {
        std::string s;
        if (!text(obj, key, true, 2 * maxBytes, &s)) return false;
        if (s.size() % 2 != 0 || s.size() < 2 * minBytes)
            return fail(std::string("\"") + key + "\" is not " + std::to_string(minBytes) + " to " +
                        std::to_string(maxBytes) + " bytes of hexadecimal");
        out->clear();
        for (size_t i = 0; i < s.size(); i += 2) {
            int hi = hexDigit(s[i]);
            int lo = hexDigit(s[i + 1]);
            if (hi < 0 || lo < 0) return fail(std::string("\"") + key + "\" is not hexadecimal");
            out->push_back(static_cast<uint8_t>(hi << 4 | lo));
        }
        return true;
    }

    bool id(const json& obj, const char* key, std::string* out) {
        if (!text(obj, key, true, 32, out)) return false;
        bool good = out->size() == 32;
        for (char& c : *out) {
            good = good && std::isxdigit(static_cast<unsigned char>(c));
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        return good ? true : fail(std::string("\"") + key + "\" is not 32 hexadecimal digits");
    }

    bool vpd(const json& obj, const char* key, uint8_t page, std::vector<uint8_t>* out) {
        if (!hex(obj, key, 4, 255, out)) return false;
        if ((*out)[1] != page) return fail(std::string("\"") + key + "\" is not its page");
        return true;
    }
};

// A device name goes into '*'-joined device lists: no separators in it.
bool goodDeviceName(const std::string& name) {
    return !name.empty() && name[0] == '/' && name.find_first_of("*,{}") == std::string::npos;
}

bool goodControllerName(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            return false;
    return true;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

int illegalRequest(unsigned char opcode, uint8_t asc, unsigned char* senseOut, std::string* error) {
    // What a real device answers: CHECK CONDITION, ILLEGAL REQUEST, fixed-format sense.
    unsigned char sense[18] = {0x70, 0, 0x05};
    sense[7] = 10;
    sense[12] = asc;
    if (senseOut) std::memcpy(senseOut, sense, sizeof sense);
    ScsiOutcome o;
    o.opcode = opcode;
    o.status = 0x02;
    o.sense = sense;
    o.senseLength = sizeof sense;
    *error = describeScsiFailure(o);
    return -1;
}

}  // namespace

std::string fabricPathDevice(const std::string& lunUuid, const std::string& controller) {
    return "/dev/disk/by-path/fabric-" + controller + "-lun-" + lower(lunUuid);
}

std::string fabricRequest(const std::vector<std::string>& initiatorPorts) {
    return json{{"initiators", initiatorPorts}}.dump();
}

bool parseFabricView(const std::string& body, bool withPaths, FabricView* view,
                     std::string* error) {
    if (body.size() > kMaxFabricBytes) {
        *error = "fabric answer larger than " + std::to_string(kMaxFabricBytes) + " bytes";
        return false;
    }
    if (!depthWithin(body, kMaxDepth)) {
        *error = "malformed fabric answer: nested too deeply";
        return false;
    }
    json root = json::parse(body, nullptr, false);
    Checker check{error, std::string()};
    if (root.is_discarded()) return check.fail("not JSON");
    if (!root.is_object()) return check.fail("not an object");
    auto luns = root.find("luns");
    if (luns == root.end() || !luns->is_array()) return check.fail("no \"luns\" list");
    if (luns->size() > kMaxLuns)
        return check.fail("more than " + std::to_string(kMaxLuns) + " LUNs");

    FabricView out;
    for (size_t i = 0; i < luns->size(); ++i) {
        const json& j = (*luns)[i];
        check.where = "LUN " + std::to_string(i) + ": ";
        if (!j.is_object()) return check.fail("not an object");
        FabricLun lun;
        if (!check.text(j, "deviceName", true, kMaxName, &lun.deviceName)) return false;
        if (!goodDeviceName(lun.deviceName))
            return check.fail("\"deviceName\" is not a device path");
        if (!check.id(j, "arrayId", &lun.arrayId) || !check.id(j, "lunUuid", &lun.lunUuid) ||
            !check.text(j, "vendor", false, 64, &lun.vendor) ||
            !check.text(j, "product", false, 64, &lun.product) ||
            !check.hex(j, "standardInquiry", 36, 255, &lun.standardInquiry) ||
            !check.vpd(j, "vpdC8", 0xC8, &lun.vpdC8) || !check.vpd(j, "vpd80", 0x80, &lun.vpd80))
            return false;
        auto paths = j.find("paths");
        if (paths != j.end()) {
            if (!paths->is_array() || paths->size() > kMaxPaths)
                return check.fail("\"paths\" is not a list of at most " +
                                  std::to_string(kMaxPaths));
            for (const json& p : *paths) {
                if (!p.is_object()) return check.fail("a path is not an object");
                FabricPath path;
                if (!check.text(p, "controller", true, 64, &path.controller)) return false;
                if (!goodControllerName(path.controller))
                    return check.fail("a path's \"controller\" is not a controller name");
                if (!check.vpd(p, "vpd80", 0x80, &path.vpd80)) return false;
                path.device = fabricPathDevice(lun.lunUuid, path.controller);
                lun.paths.push_back(std::move(path));
            }
        }
        const size_t index = out.luns.size();
        if (!out.devices.emplace(lun.deviceName, FabricView::Device{index, -1}).second)
            return check.fail("device \"" + lun.deviceName + "\" is listed twice");
        if (withPaths) {
            for (size_t k = 0; k < lun.paths.size(); ++k)
                if (!out.devices
                         .emplace(lun.paths[k].device,
                                  FabricView::Device{index, static_cast<int>(k)})
                         .second)
                    return check.fail("path \"" + lun.paths[k].device + "\" is listed twice");
        }
        out.luns.push_back(std::move(lun));
    }
    check.where.clear();
    auto unknown = root.find("unknownPorts");
    if (unknown != root.end()) {
        if (!unknown->is_array()) return check.fail("\"unknownPorts\" is not a list");
        for (const json& p : *unknown) {
            if (!p.is_string() || p.get_ref<const std::string&>().size() > kMaxName)
                return check.fail("\"unknownPorts\" holds something other than port names");
            out.unknownPorts.push_back(p.get<std::string>());
        }
    }
    *view = std::move(out);
    return true;
}

int answerInquiry(const FabricLun& lun, int path, const unsigned char* cdb, int cdbLength,
                  unsigned char* data, int dataSize, unsigned char* sense, std::string* error) {
    if (cdb[0] != 0x12) return illegalRequest(cdb[0], 0x20, sense, error);
    if (cdbLength != 6) return illegalRequest(cdb[0], 0x24, sense, error);
    const bool evpd = cdb[1] & 0x01;
    const uint8_t page = cdb[2];
    const size_t allocation = static_cast<size_t>(cdb[3]) << 8 | cdb[4];
    const std::vector<uint8_t>* answer = nullptr;
    if (!evpd && page == 0)
        answer = &lun.standardInquiry;
    else if (evpd && page == 0xC8)
        answer = &lun.vpdC8;
    else if (evpd && page == 0x80)
        answer = path >= 0 ? &lun.paths[static_cast<size_t>(path)].vpd80 : &lun.vpd80;
    if (!answer) return illegalRequest(cdb[0], 0x24, sense, error);
    size_t n = std::min({allocation, static_cast<size_t>(dataSize), answer->size()});
    if (n) std::memcpy(data, answer->data(), n);
    return static_cast<int>(n);
}

}  // namespace rkhost
