// The Linux device tree: device nodes with SCSI pass-through through SG_IO, and
// the host's SCSI disks, rescan and initiator ports from sysfs.
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "DeviceBackend.h"
#include "ScsiResult.h"
#include "SmallFile.h"
#include "rkso/EvDebug.h"

namespace rkhost {
namespace {

// Sysfs attributes are short; an initiator name file is a few lines.
constexpr size_t kMaxAttribute = 4096;
constexpr size_t kMaxInitiatorFile = 65536;
std::string errnoText(int err) {
    return std::strerror(err);
}

class LinuxScsi : public RkDeviceScsiIface {
  public:
    LinuxScsi(const std::string& name, int fd) : m_name(name), m_fd(fd) {}

    int sendCommand(const unsigned char* cdb, int cdbLength, unsigned char* data, int dataSize,
                    int dataOut, int dataIn, unsigned char* sense, int flags, int timeoutSeconds,
                    CUxError& error) override {
        try {
            if (!checkReadCommand(cdb, cdbLength, data, dataSize, dataOut, dataIn, flags,
                                  timeoutSeconds, error))
                return -1;
            return send(cdb, cdbLength, data, dataSize, sense, timeoutSeconds, error);
        } catch (const std::exception& e) {
            error.Set(EFAULT, std::string("SCSI command failed: ") + e.what());
            return -1;
        }
    }

  private:
    int send(const unsigned char* cdb, int cdbLength, unsigned char* data, int dataSize,
             unsigned char* sense, int timeoutSeconds, CUxError& error) {
        unsigned char cdbCopy[16];
        std::memcpy(cdbCopy, cdb, static_cast<size_t>(cdbLength));
        unsigned char senseBuf[RK_SCSI_SENSE_SIZE] = {};
        sg_io_hdr_t io{};
        io.interface_id = 'S';
        io.dxfer_direction = dataSize > 0 ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
        io.cmd_len = static_cast<unsigned char>(cdbLength);
        io.cmdp = cdbCopy;
        io.dxfer_len = static_cast<unsigned>(dataSize);
        io.dxferp = data;
        io.mx_sb_len = sizeof senseBuf;
        io.sbp = senseBuf;
        io.timeout = static_cast<unsigned>(timeoutSeconds) * 1000;
        if (::ioctl(m_fd, SG_IO, &io) != 0) {
            int err = errno;
            error.Set(err, "SG_IO on '" + m_name + "' failed: " + errnoText(err));
            return -1;
        }
        int senseLength = std::min<int>(io.sb_len_wr, sizeof senseBuf);
        if (sense) std::memcpy(sense, senseBuf, static_cast<size_t>(senseLength));
        ScsiOutcome outcome;
        outcome.opcode = cdb[0];
        outcome.status = io.status;
        outcome.hostStatus = io.host_status;
        outcome.driverStatus = io.driver_status;
        outcome.sense = senseBuf;
        outcome.senseLength = senseLength;
        std::string failure = describeScsiFailure(outcome);
        if (!failure.empty()) {
            error.Set(EIO, "'" + m_name + "': " + failure);
            return -1;
        }
        return std::max(0, dataSize - io.resid);
    }

    std::string m_name;
    int m_fd;
};

class LinuxDevice : public RkDevice {
  public:
    LinuxDevice(std::string name, int fd, bool scsi)
        : m_name(std::move(name)), m_fd(fd), m_scsi(m_name, fd), m_hasScsi(scsi) {}
    ~LinuxDevice() override { ::close(m_fd); }
    const std::string& getName() const override { return m_name; }
    RkDeviceIface* getInterface(const std::string& name) override {
        return m_hasScsi && name == RK_DEVICE_SCSI_IFACE ? &m_scsi : nullptr;
    }

  private:
    std::string m_name;
    int m_fd;
    LinuxScsi m_scsi;
    bool m_hasScsi;
};

// sda < sdb < ... < sdz < sdaa, as the kernel names them.
bool kernelOrder(const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

class LinuxBackend : public DeviceBackend {
  public:
    explicit LinuxBackend(const DeviceTreeSettings& s)
        : m_sys(s.sysfsRoot), m_iscsiFile(s.iscsiInitiatorFile) {}

    std::shared_ptr<RkDevice> open(const std::string& name, CUxError& error) override {
        // Read-only and non-blocking: an inquiry must never wait for a medium or
        // take a device away from someone else.
        int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            int err = errno;
            error.Set(err, "cannot open '" + name + "': " + errnoText(err));
            return nullptr;
        }
        int version = 0;
        bool scsi = ::ioctl(fd, SG_GET_VERSION_NUM, &version) == 0 && version >= 30000;
        return std::make_shared<LinuxDevice>(name, fd, scsi);
    }

    bool list(std::vector<RkBlockDevice>& devices, CUxError& error) override {
        std::vector<std::string> names;
        const std::string block = m_sys + "/block";
        if (!listDirectory(block, &names)) {
            int err = errno;
            error.Set(err, "cannot list block devices in '" + block + "': " + errnoText(err));
            return false;
        }
        std::vector<std::string> disks;
        std::set<std::string> underMaps;
        std::map<std::string, std::vector<std::string>> maps;  // map name -> its paths
        for (const std::string& name : names) {
            if (name.compare(0, 2, "sd") == 0) {
                disks.push_back(name);
                continue;
            }
            if (name.compare(0, 3, "dm-") != 0) continue;
            std::string uuid, mapName;
            if (!readSmallFile(block + "/" + name + "/dm/uuid", kMaxAttribute, &uuid) ||
                trimSpace(uuid).compare(0, 6, "mpath-") != 0 ||
                !readSmallFile(block + "/" + name + "/dm/name", kMaxAttribute, &mapName))
                continue;
            mapName = trimSpace(mapName);
            if (mapName.empty() || mapName.find('/') != std::string::npos) continue;
            std::vector<std::string> slaves;
            listDirectory(block + "/" + name + "/slaves", &slaves);
            std::sort(slaves.begin(), slaves.end(), kernelOrder);
            for (const std::string& s : slaves) underMaps.insert(s);
            maps[mapName] = slaves;
        }
        for (const auto& map : maps) {
            RkBlockDevice d{"/dev/mapper/" + map.first, "", ""};
            if (!map.second.empty()) identity(map.second.front(), &d);
            devices.push_back(d);
        }
        std::sort(disks.begin(), disks.end(), kernelOrder);
        for (const std::string& disk : disks) {
            if (underMaps.count(disk)) continue;
            RkBlockDevice d{"/dev/" + disk, "", ""};
            identity(disk, &d);
            devices.push_back(d);
        }
        return true;
    }

    bool rescan(CUxError& error) override {
        const std::string dir = m_sys + "/class/scsi_host";
        std::vector<std::string> hosts;
        if (!listDirectory(dir, &hosts)) {
            int err = errno;
            error.Set(err, "cannot list SCSI hosts in '" + dir + "': " + errnoText(err));
            return false;
        }
        std::string failures;
        int firstErr = 0;
        for (const std::string& host : hosts) {
            const std::string scan = dir + "/" + host + "/scan";
            // All channels, targets and LUNs.
            int fd = ::open(scan.c_str(), O_WRONLY | O_CLOEXEC);
            bool ok = fd >= 0 && ::write(fd, "- - -", 5) == 5;
            int err = errno;
            if (fd >= 0) ::close(fd);
            if (!ok) {
                if (!firstErr) firstErr = err;
                failures += (failures.empty() ? "" : ", ") + host + ": " + errnoText(err);
            }
        }
        if (failures.empty()) return true;
        error.Set(firstErr, "rescan failed for " + failures);
        return false;
    }

    bool initiatorPorts(std::vector<RkInitiatorPort>& ports, CUxError& error) override {
        const std::string dir = m_sys + "/class/fc_host";
        std::vector<std::string> hosts;
        listDirectory(dir, &hosts);  // no FC adapter: no directory
        for (const std::string& host : hosts) {
            std::string text;
            if (!readSmallFile(dir + "/" + host + "/port_name", kMaxAttribute, &text)) continue;
            text = trimSpace(text);
            if (text.compare(0, 2, "0x") == 0) text = text.substr(2);
            RkInitiatorPort port = initiatorPortFromText(text);
            if (port.iscsi) {
                EvDebug().DebugLvl("RkDeviceTree::getInitiatorPorts", 1,
                                   "FC host %s has no usable port name", host.c_str());
                continue;
            }
            ports.push_back(port);
        }
        std::string file;
        if (readSmallFile(m_iscsiFile, kMaxInitiatorFile, &file)) {
            size_t pos = 0;
            while (pos < file.size()) {
                size_t nl = file.find('\n', pos);
                if (nl == std::string::npos) nl = file.size();
                std::string line = trimSpace(file.substr(pos, nl - pos));
                pos = nl + 1;
                if (line.compare(0, 14, "InitiatorName=") != 0) continue;
                std::string name = trimSpace(line.substr(14));
                if (!name.empty()) ports.push_back(RkInitiatorPort{name, true});
            }
        } else if (errno != ENOENT) {
            int err = errno;
            error.Set(err, "cannot read '" + m_iscsiFile + "': " + errnoText(err));
            return false;
        }
        if (!ports.empty()) return true;
        error.Set(ENOENT,
                  "no FC or iSCSI initiator ports found (" + dir + ", " + m_iscsiFile + ")");
        return false;
    }

  private:
    // Vendor and model of a SCSI disk, as the kernel read them at attach.
    void identity(const std::string& disk, RkBlockDevice* d) const {
        std::string text;
        const std::string dev = m_sys + "/block/" + disk + "/device/";
        if (readSmallFile(dev + "vendor", kMaxAttribute, &text)) d->vendor = trimSpace(text);
        if (readSmallFile(dev + "model", kMaxAttribute, &text)) d->product = trimSpace(text);
    }

    std::string m_sys;
    std::string m_iscsiFile;
};

}  // namespace

std::shared_ptr<DeviceBackend> makeLinuxBackend(const DeviceTreeSettings& settings) {
    return std::make_shared<LinuxBackend>(settings);
}

}  // namespace rkhost
