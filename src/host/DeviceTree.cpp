// RkDeviceTree: picks the back end named in the configuration and hands calls to it.
#include <cctype>
#include <cerrno>
#include <mutex>

#include "DeviceBackend.h"
#include "rkso/EvDebug.h"
#include "rkso/RKPlatformInfo.h"

namespace rkhost {
namespace {

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return std::string();
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Answers every call with the reason the configuration could not be used.
class BrokenBackend : public DeviceBackend {
  public:
    explicit BrokenBackend(std::string why) : m_why(std::move(why)) {}
    std::shared_ptr<RkDevice> open(const std::string&, CUxError& error) override {
        return fail(error), nullptr;
    }
    bool list(std::vector<RkBlockDevice>&, CUxError& error) override { return fail(error); }
    bool rescan(CUxError& error) override { return fail(error); }
    bool initiatorPorts(std::vector<RkInitiatorPort>&, CUxError& error) override {
        return fail(error);
    }

  private:
    bool fail(CUxError& error) {
        error.Set(EINVAL, m_why);
        return false;
    }
    std::string m_why;
};

struct Tree {
    std::mutex mu;
    std::shared_ptr<DeviceBackend> backend;
    std::string kind;
};

Tree& tree() {
    static Tree t;
    return t;
}

std::shared_ptr<DeviceBackend> current() {
    Tree& t = tree();
    std::lock_guard<std::mutex> lock(t.mu);
    if (!t.backend) {
        DeviceTreeSettings s = DeviceTreeSettings::fromConfiguration();
        t.kind = s.kind;
        if (s.kind == "linux")
            t.backend = makeLinuxBackend(s);
        else if (s.kind == "simulation")
            t.backend = makeSimulationBackend(s);
        else if (s.kind == "vmware")
            t.backend = makeVmwareBackend(s);
        else
            t.backend = std::make_shared<BrokenBackend>(
                "unknown device tree '" + s.kind +
                "' ([Host] DeviceTree: linux, simulation or vmware)");
    }
    return t.backend;
}

}  // namespace

bool checkReadCommand(const unsigned char* cdb, int cdbLength, const unsigned char* data,
                      int dataSize, int dataOut, int dataIn, int flags, int timeoutSeconds,
                      CUxError& error) {
    const char* why = nullptr;
    if (!cdb || cdbLength < 6 || cdbLength > 16)
        why = "command block must be 6 to 16 bytes";
    else if (dataSize < 0 || dataSize > kMaxTransfer || (dataSize > 0 && !data))
        why = "data buffer missing or larger than 1 MiB";
    else if (dataOut != 0)
        why = "commands that send data to the device are not supported";
    else if (dataIn != 1)
        why = "only commands that read data from the device are supported";
    else if (flags != 0)
        why = "unknown command flags";
    else if (timeoutSeconds < 1 || timeoutSeconds > 3600)
        why = "time-out must be 1 to 3600 seconds";
    if (!why) return true;
    error.Set(EINVAL, why);
    return false;
}

RkInitiatorPort initiatorPortFromText(const std::string& text) {
    std::string hex;
    for (char c : text)
        if (c != ':') hex += c;
    bool fc = hex.size() == 16;
    for (char c : hex) fc = fc && std::isxdigit(static_cast<unsigned char>(c));
    RkInitiatorPort port;
    port.iscsi = !fc;
    port.name = fc ? upper(hex) : text;
    return port;
}

DeviceTreeSettings DeviceTreeSettings::fromConfiguration() {
    DeviceTreeSettings s;
    RKPlatformInfo info;
    const char* section = "Host";
    std::string text;
    auto readText = [&](const char* key, std::string& into) {
        if (info.getString(section, key, &text)) into = trim(text);
    };
    auto readFlag = [&](const char* key, bool& into) {
        int v = 0;
        if (info.getRegInt(section, key, &v)) into = v != 0;
    };
    readText("DeviceTree", s.kind);
    for (char& c : s.kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    readText("SysfsRoot", s.sysfsRoot);
    readText("IscsiInitiatorFile", s.iscsiInitiatorFile);
    readText("FabricUrl", s.fabricUrl);
    readText("FabricUser", s.fabricUser);
    readText("FabricPasswordFile", s.fabricPasswordFile);
    readText("FabricCaFile", s.fabricCaFile);
    readFlag("FabricInsecure", s.fabricInsecure);
    readFlag("FabricPaths", s.fabricPaths);
    int timeout = 0;
    if (info.getRegInt(section, "FabricTimeoutSeconds", &timeout) && timeout > 0 && timeout <= 3600)
        s.fabricTimeoutSeconds = timeout;
    std::string ports;
    if (info.getString(section, "InitiatorPorts", &ports)) {
        size_t pos = 0;
        while (pos <= ports.size()) {
            size_t comma = ports.find(',', pos);
            if (comma == std::string::npos) comma = ports.size();
            std::string one = trim(ports.substr(pos, comma - pos));
            if (!one.empty()) s.initiatorPorts.push_back(initiatorPortFromText(one));
            pos = comma + 1;
        }
    }
    return s;
}

}  // namespace rkhost

namespace {

// Nothing thrown inside (allocation, mostly) leaves a host library call.
template <typename Result, typename Call>
Result guarded(CUxError& error, Result onFailure, Call call) {
    error.Success();
    try {
        return call();
    } catch (const std::exception& e) {
        error.Set(EFAULT, std::string("device tree failure: ") + e.what());
    } catch (...) {
        error.Set(EFAULT, "device tree failure");
    }
    return onFailure;
}

}  // namespace

std::shared_ptr<RkDevice> RkDeviceTree::getDevice(const std::string& name, CUxError& error) {
    return guarded(error, std::shared_ptr<RkDevice>(), [&]() -> std::shared_ptr<RkDevice> {
        if (name.empty()) {
            error.Set(EINVAL, "no device name given");
            return nullptr;
        }
        return rkhost::current()->open(name, error);
    });
}

bool RkDeviceTree::listDevices(std::vector<RkBlockDevice>& devices, CUxError& error) {
    devices.clear();
    return guarded(error, false, [&] { return rkhost::current()->list(devices, error); });
}

bool RkDeviceTree::rescan(CUxError& error) {
    return guarded(error, false, [&] { return rkhost::current()->rescan(error); });
}

bool RkDeviceTree::getInitiatorPorts(std::vector<RkInitiatorPort>& ports, CUxError& error) {
    ports.clear();
    return guarded(error, false, [&] { return rkhost::current()->initiatorPorts(ports, error); });
}

std::string RkDeviceTree::backendName() {
    rkhost::current();
    rkhost::Tree& t = rkhost::tree();
    std::lock_guard<std::mutex> lock(t.mu);
    return t.kind;
}

void RkDeviceTree::reset() {
    rkhost::Tree& t = rkhost::tree();
    std::lock_guard<std::mutex> lock(t.mu);
    t.backend.reset();
    t.kind.clear();
}
