// A fake sysfs tree ([Host] SysfsRoot): disks, multipath maps, SCSI and FC hosts.
#pragma once

#include <string>
#include <vector>

#include "testsupport/TempDir.h"

namespace testsupport {

class FakeSysfs {
  public:
    FakeSysfs() {
        m_dir.mkdir("block");
        m_dir.mkdir("class/scsi_host");
    }

    const std::string& root() const { return m_dir.path(); }
    // block/<name>/device/{vendor,model}, padded and ended as the kernel writes them.
    void addDisk(const std::string& name, const std::string& vendor, const std::string& model) {
        m_dir.write("block/" + name + "/device/vendor", vendor + "   \n");
        m_dir.write("block/" + name + "/device/model", model + "   \n");
    }
    // block/<dm>/dm/{uuid,name} and block/<dm>/slaves/<path>...
    void addMap(const std::string& dm, const std::string& uuid, const std::string& name,
                const std::vector<std::string>& paths) {
        m_dir.write("block/" + dm + "/dm/uuid", uuid + "\n");
        m_dir.write("block/" + dm + "/dm/name", name + "\n");
        for (const std::string& p : paths) m_dir.mkdir("block/" + dm + "/slaves/" + p);
    }
    // Any other block device (loop, nvme, ...).
    void addBlock(const std::string& name) { m_dir.mkdir("block/" + name); }
    // class/scsi_host/<host>/scan (empty); withScanFile false leaves the file out.
    void addScsiHost(const std::string& host, bool withScanFile = true) {
        if (withScanFile) m_dir.write("class/scsi_host/" + host + "/scan", "");
        m_dir.mkdir("class/scsi_host/" + host);
    }
    // class/fc_host/<host>/port_name
    void addFcHost(const std::string& host, const std::string& portName) {
        m_dir.write("class/fc_host/" + host + "/port_name", portName + "\n");
    }
    std::string scanFile(const std::string& host) const {
        return m_dir.read("class/scsi_host/" + host + "/scan");
    }

  private:
    TempDir m_dir;
};

}  // namespace testsupport
