// identify and devices: what the host sees, through the host's device tree and
// the plug-in's own support test.
#include <cstdio>
#include <iostream>

#include "App.h"
#include "Host.h"
#include "rkso/RkDeviceTree.h"

namespace rksnap {
namespace {

using nlohmann::json;

struct Inquiry {
    std::string vendor, product, arrayId, lunUuid, error;
};

std::string trimmed(const unsigned char* p, size_t n) {
    std::string s(reinterpret_cast<const char*>(p), n);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

std::string hex(const unsigned char* p, size_t n) {
    std::string s;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02X", p[i]);
        s += b;
    }
    return s;
}

Inquiry inquire(const std::string& name) {
    Inquiry q;
    CUxError error;
    std::shared_ptr<RkDevice> dev = RkDeviceTree::getDevice(name, error);
    if (!dev) {
        q.error = error.AsString();
        return q;
    }
    auto* scsi = static_cast<RkDeviceScsiIface*>(dev->getInterface(RK_DEVICE_SCSI_IFACE));
    if (!scsi) {
        q.error = "not a SCSI device";
        return q;
    }
    unsigned char std[255] = {}, c8[255] = {};
    const unsigned char stdCdb[6] = {0x12, 0, 0, 0, 0xFF, 0};
    const unsigned char c8Cdb[6] = {0x12, 1, 0xC8, 0, 0xFF, 0};
    if (scsi->sendCommand(stdCdb, 6, std, sizeof std, 0, 1, nullptr, 0, 10, error) < 36) {
        q.error = error.AsString().empty() ? "short inquiry data" : error.AsString();
        return q;
    }
    q.vendor = trimmed(std + 8, 8);
    q.product = trimmed(std + 16, 16);
    if (scsi->sendCommand(c8Cdb, 6, c8, sizeof c8, 0, 1, nullptr, 0, 10, error) >= 106) {
        q.lunUuid = hex(c8 + 12, 16);
        q.arrayId = hex(c8 + 90, 16);
    }
    return q;
}

}  // namespace

int runIdentify(const Options& o) {
    Session s(o);
    if (!s.open(false, true)) return kExitNone;
    if (o.devices.empty()) {
        printError(o, "identify needs devices (rksnap devices lists them)", kExitUsage);
        return kExitUsage;
    }
    CallContext ctx;
    ctx.config = &s.config;
    ctx.keyFile = s.keyFile();
    HostUtil util(ctx);
    json doc = {{"command", "identify"}, {"devices", json::array()}};
    std::vector<std::vector<std::string>> rows = {
        {"DEVICE", "SUPPORTED", "VENDOR", "PRODUCT", "ARRAY ID", "ARRAY", "LUN UUID"}};
    int supported = 0;
    for (const std::string& name : o.devices) {
        int rc = s.plugin.isSupported(name.c_str(), 0, &util, nullptr, 0);
        Inquiry q = inquire(name);
        ArrayEntry array;
        bool configured = !q.arrayId.empty() && s.config.findArray(q.arrayId, &array);
        const char* verdict = rc == 0 ? "yes" : rc == 1 ? "no" : "unreadable";
        supported += rc == 0;
        json j = {{"device", name},       {"supported", rc == 0},
                  {"result", rc},         {"vendor", q.vendor},
                  {"product", q.product}, {"arrayId", q.arrayId},
                  {"lunUuid", q.lunUuid}, {"array", configured ? array.name : ""}};
        if (!q.error.empty()) j["error"] = q.error;
        if (rc == 0 && !configured)
            j["hint"] = "array " + q.arrayId + " is not configured (rksnap array add)";
        doc["devices"].push_back(j);
        rows.push_back({name, verdict, q.vendor.empty() ? "-" : q.vendor,
                        q.product.empty() ? "-" : q.product, q.arrayId.empty() ? "-" : q.arrayId,
                        configured ? array.name : (q.arrayId.empty() ? "-" : "(not configured)"),
                        q.lunUuid.empty() ? (q.error.empty() ? "-" : q.error) : q.lunUuid});
    }
    int code = supported == static_cast<int>(o.devices.size()) ? kExitAll
               : supported                                     ? kExitSome
                                                               : kExitNone;
    doc["exitCode"] = code;
    if (o.json)
        printJson(doc);
    else
        std::cout << table(rows);
    return code;
}

int runDevices(const Options& o) {
    Session s(o);
    if (!s.open(false, true)) return kExitNone;
    std::vector<RkBlockDevice> devices;
    std::vector<RkInitiatorPort> ports;
    CUxError error;
    if (!RkDeviceTree::listDevices(devices, error)) {
        printError(o, "cannot list devices: " + error.AsString(), kExitNone);
        return kExitNone;
    }
    RkDeviceTree::getInitiatorPorts(ports, error);
    if (o.json) {
        json doc = {{"backend", RkDeviceTree::backendName()},
                    {"devices", json::array()},
                    {"initiatorPorts", json::array()}};
        for (const RkBlockDevice& d : devices)
            doc["devices"].push_back(
                {{"device", d.name}, {"vendor", d.vendor}, {"product", d.product}});
        for (const RkInitiatorPort& p : ports)
            doc["initiatorPorts"].push_back({{"name", p.name}, {"iscsi", p.iscsi}});
        printJson(doc);
        return kExitAll;
    }
    std::vector<std::vector<std::string>> rows = {{"DEVICE", "VENDOR", "PRODUCT"}};
    for (const RkBlockDevice& d : devices) rows.push_back({d.name, d.vendor, d.product});
    std::cout << table(rows);
    return kExitAll;
}

}  // namespace rksnap
