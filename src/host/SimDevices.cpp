// The simulated device trees: the LUNs a simulated array's fabric shows the
// host's initiator ports, as device names (simulation) or as VMware descriptor
// texts (vmware). Like a real host, they see a newly mapped LUN only after a
// rescan: the fabric is read at first use and at each rescan, and inquiries
// answer from what was read last.
#include <cerrno>
#include <mutex>

#include "DeviceBackend.h"
#include "FabricClient.h"
#include "FabricView.h"
#include "rkso/EvDebug.h"

namespace rkhost {
namespace {

using ViewPtr = std::shared_ptr<const FabricView>;

class FabricSource {
  public:
    FabricSource(DeviceTreeSettings settings, bool withPaths)
        : m_settings(std::move(settings)), m_withPaths(withPaths) {}

    const DeviceTreeSettings& settings() const { return m_settings; }

    // The view last read, reading it first if it never was.
    ViewPtr view(CUxError& error) {
        if (ViewPtr v = last()) return v;
        std::lock_guard<std::mutex> reading(m_readMu);
        if (ViewPtr v = last()) return v;
        return read(error);
    }

    // What was read last, without reading; null before the first read.
    ViewPtr last() {
        std::lock_guard<std::mutex> lock(m_mu);
        return m_view;
    }

    // Reads the fabric again; a failed read keeps the previous view.
    bool refresh(CUxError& error) {
        std::lock_guard<std::mutex> reading(m_readMu);
        return read(error) != nullptr;
    }

  private:
    // The caller holds m_readMu, so only one read runs at a time; m_mu is held
    // only to swap the pointer, so inquiries never wait for HTTP.
    ViewPtr read(CUxError& error) {
        if (m_settings.initiatorPorts.empty()) {
            error.Set(ENOENT, "no initiator ports configured ([Host] InitiatorPorts)");
            return nullptr;
        }
        std::vector<std::string> ports;
        for (const RkInitiatorPort& p : m_settings.initiatorPorts) ports.push_back(p.name);
        std::string body, why;
        auto view = std::make_shared<FabricView>();
        if (!fetchFabric(m_settings, ports, &body, &why) ||
            !parseFabricView(body, m_withPaths, view.get(), &why)) {
            error.Set(EIO, why);
            return nullptr;
        }
        if (!view->unknownPorts.empty()) {
            std::string list;
            for (const std::string& p : view->unknownPorts) list += (list.empty() ? "" : ", ") + p;
            EvDebug().DebugLvl("RkDeviceTree", 1, "The fabric does not know initiator port(s) %s",
                               list.c_str());
        }
        std::lock_guard<std::mutex> lock(m_mu);
        m_view = view;
        return view;
    }

    const DeviceTreeSettings m_settings;
    const bool m_withPaths;
    std::mutex m_readMu;
    std::mutex m_mu;
    ViewPtr m_view;
};

class SimScsi : public RkDeviceScsiIface {
  public:
    SimScsi(std::shared_ptr<FabricSource> source, const std::string& name)
        : m_source(std::move(source)), m_name(name) {}

    int sendCommand(const unsigned char* cdb, int cdbLength, unsigned char* data, int dataSize,
                    int dataOut, int dataIn, unsigned char* sense, int flags, int timeoutSeconds,
                    CUxError& error) override {
        try {
            if (!checkReadCommand(cdb, cdbLength, data, dataSize, dataOut, dataIn, flags,
                                  timeoutSeconds, error))
                return -1;
            return inquire(cdb, cdbLength, data, dataSize, sense, error);
        } catch (const std::exception& e) {
            error.Set(EFAULT, std::string("SCSI command failed: ") + e.what());
            return -1;
        }
    }

  private:
    int inquire(const unsigned char* cdb, int cdbLength, unsigned char* data, int dataSize,
                unsigned char* sense, CUxError& error) {
        ViewPtr view = m_source->last();
        const FabricView::Device* device = nullptr;
        if (view) {
            auto it = view->devices.find(m_name);
            if (it != view->devices.end()) device = &it->second;
        }
        if (!device) {
            error.Set(ENODEV, "'" + m_name + "' is no longer on the fabric");
            return -1;
        }
        std::string why;
        int n = answerInquiry(view->luns[device->lun], device->path, cdb, cdbLength, data, dataSize,
                              sense, &why);
        if (n < 0) error.Set(EIO, "'" + m_name + "': " + why);
        return n;
    }

    std::shared_ptr<FabricSource> m_source;
    std::string m_name;
};

class SimDevice : public RkDevice {
  public:
    SimDevice(std::shared_ptr<FabricSource> source, std::string name)
        : m_name(std::move(name)), m_scsi(std::move(source), m_name) {}
    const std::string& getName() const override { return m_name; }
    RkDeviceIface* getInterface(const std::string& name) override {
        return name == RK_DEVICE_SCSI_IFACE ? &m_scsi : nullptr;
    }

  private:
    std::string m_name;
    SimScsi m_scsi;
};

// What simulation and VMware hosts share: the fabric, its rescan and the ports.
class FabricBackend : public DeviceBackend {
  public:
    FabricBackend(const DeviceTreeSettings& s, bool withPaths)
        : m_source(std::make_shared<FabricSource>(s, withPaths)) {}

    bool rescan(CUxError& error) override { return m_source->refresh(error); }

    bool initiatorPorts(std::vector<RkInitiatorPort>& ports, CUxError& error) override {
        ports = m_source->settings().initiatorPorts;
        if (!ports.empty()) return true;
        error.Set(ENOENT, "no initiator ports configured ([Host] InitiatorPorts)");
        return false;
    }

  protected:
    std::shared_ptr<FabricSource> m_source;
};

class SimulationBackend : public FabricBackend {
  public:
    explicit SimulationBackend(const DeviceTreeSettings& s) : FabricBackend(s, s.fabricPaths) {}

    std::shared_ptr<RkDevice> open(const std::string& name, CUxError& error) override {
        ViewPtr view = m_source->view(error);
        if (!view) return nullptr;
        if (!view->devices.count(name)) {
            error.Set(ENOENT, "cannot open '" + name + "': no such device on the fabric");
            return nullptr;
        }
        return std::make_shared<SimDevice>(m_source, name);
    }

    bool list(std::vector<RkBlockDevice>& devices, CUxError& error) override {
        ViewPtr view = m_source->view(error);
        if (!view) return false;
        for (const auto& entry : view->devices) {
            const FabricLun& lun = view->luns[entry.second.lun];
            devices.push_back(RkBlockDevice{entry.first, lun.vendor, lun.product});
        }
        return true;
    }
};

std::string hexText(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

class VmwareBackend : public FabricBackend {
  public:
    explicit VmwareBackend(const DeviceTreeSettings& s) : FabricBackend(s, false) {}

    std::shared_ptr<RkDevice> open(const std::string& name, CUxError& error) override {
        error.Set(ENOTSUP, "cannot open '" + name +
                               "': a VMware host has no device nodes, only descriptor texts");
        return nullptr;
    }

    // One descriptor per LUN; "lunuuid" is 10 characters of LUN identifier type
    // followed by the 32-digit LUN UUID, as VMware reports it.
    bool list(std::vector<RkBlockDevice>& devices, CUxError& error) override {
        ViewPtr view = m_source->view(error);
        if (!view) return false;
        for (const FabricLun& lun : view->luns) {
            std::string text = "{idatype:vmware,version:10,lunuuid:0200000000" +
                               lower(lun.lunUuid) +
                               ",standardinqury:" + hexText(lun.standardInquiry) +
                               ",devicename:" + lun.deviceName + "}";
            devices.push_back(RkBlockDevice{text, lun.vendor, lun.product});
        }
        return true;
    }
};

}  // namespace

std::shared_ptr<DeviceBackend> makeSimulationBackend(const DeviceTreeSettings& settings) {
    return std::make_shared<SimulationBackend>(settings);
}

std::shared_ptr<DeviceBackend> makeVmwareBackend(const DeviceTreeSettings& settings) {
    return std::make_shared<VmwareBackend>(settings);
}

}  // namespace rkhost
