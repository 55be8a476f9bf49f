#include "Fabric.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "Text.h"

namespace sim {

namespace {

void putPadded(std::vector<unsigned char>& buf, size_t at, size_t width, const std::string& text) {
    for (size_t i = 0; i < width; ++i)
        buf[at + i] = i < text.size() ? static_cast<unsigned char>(text[i]) : ' ';
}

// 32 hex digits into 16 bytes.
void putHex(std::vector<unsigned char>& buf, size_t at, const std::string& hex) {
    for (size_t i = 0; i + 1 < hex.size() && i / 2 < 16; i += 2)
        buf[at + i / 2] = static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16));
}

std::string hex(const std::vector<unsigned char>& b) {
    return hexEncode(b.data(), b.size());
}

}  // namespace

std::vector<unsigned char> standardInquiry(const Array& a) {
    std::vector<unsigned char> b(96, 0);
    b[0] = 0x00;  // direct-access block device, connected
    b[2] = 0x05;  // SPC-3
    b[3] = 0x02;  // response data format 2
    b[4] = static_cast<unsigned char>(b.size() - 5);
    b[7] = 0x02;  // command queuing
    putPadded(b, 8, 8, a.vendor);
    putPadded(b, 16, 16, a.product);
    putPadded(b, 32, 4, a.revision);
    return b;
}

std::vector<unsigned char> vpdPageC8(const Array& a, const Volume& v) {
    std::vector<unsigned char> b(255, 0);
    b[1] = 0xC8;
    b[3] = static_cast<unsigned char>(b.size() - 4);
    std::memcpy(&b[4], "edid", 4);
    putHex(b, 12, v.uuid);
    putHex(b, 90, a.id);
    return b;
}

std::vector<unsigned char> vpdPage80(const Controller& c) {
    std::vector<unsigned char> b(4 + c.name.size(), 0);
    b[1] = 0x80;
    b[3] = static_cast<unsigned char>(std::min<size_t>(c.name.size(), 251));
    std::memcpy(&b[4], c.name.data(), b[3]);
    b.resize(4 + b[3]);
    return b;
}

nlohmann::json fabricLuns(const std::vector<Array>& arrays, const std::vector<std::string>& ports) {
    using nlohmann::json;
    json luns = json::array();
    std::set<std::string> wanted;
    for (const std::string& p : ports) wanted.insert(normalisePortId(p));
    std::set<std::string> known;
    for (const Array& a : arrays) {
        // Which of the asked ports reach each host or host group protocol controller.
        std::map<std::string, std::vector<std::string>> portsByTarget;
        for (const Host& h : a.hosts)
            for (const Port& p : h.ports) {
                if (!wanted.count(p.id)) continue;
                known.insert(p.id);
                portsByTarget[h.ref].push_back(p.id);
                if (!h.group.empty()) portsByTarget[h.group].push_back(p.id);
            }
        if (portsByTarget.empty()) continue;
        for (const Mapping& m : a.mappings) {
            auto it = portsByTarget.find(m.target);
            if (it == portsByTarget.end()) continue;
            const Volume* v = a.findVolume(m.volume);
            if (!v) continue;
            const Host* host = a.findHost(m.target);
            const HostGroup* group = host ? nullptr : a.findHostGroup(m.target);
            json paths = json::array();
            // One path per controller, the owner first.
            for (int k = 0; k < 2; ++k) {
                const Controller& c =
                    a.controllers[k == 0 ? v->currentController : 1 - v->currentController];
                paths.push_back({{"controller", c.name},
                                 {"label", c.label},
                                 {"owner", k == 0},
                                 {"vpd80", hex(vpdPage80(c))}});
            }
            json lun = {{"deviceName", "/dev/mapper/3" + toLower(v->uuid)},
                        {"arrayId", a.id},
                        {"arrayName", a.name},
                        {"lunUuid", v->uuid},
                        {"label", v->label},
                        {"lun", m.lun},
                        {"mappedTo", host    ? host->label
                                     : group ? group->label
                                             : ""},
                        {"blockSize", v->blockSize},
                        {"blocks", v->blocks},
                        {"sizeBytes", v->blockSize * v->blocks},
                        {"dataGeneration", v->generation},
                        {"vendor", a.vendor},
                        {"product", a.product},
                        {"initiatorPorts", it->second},
                        {"standardInquiry", hex(standardInquiry(a))},
                        {"vpdC8", hex(vpdPageC8(a, *v))},
                        {"vpd80", hex(vpdPage80(a.controllers[v->currentController]))},
                        {"paths", paths}};
            luns.push_back(std::move(lun));
        }
    }
    json unknown = json::array();
    for (const std::string& p : wanted)
        if (!known.count(p)) unknown.push_back(p);
    return {{"luns", luns}, {"unknownPorts", unknown}};
}

}  // namespace sim
