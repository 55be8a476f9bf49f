// A fake sysfs tree for the Linux device tree ([Host] SysfsRoot): SCSI disks,
// multipath maps, SCSI hosts with their scan files and FC hosts with port names.
#pragma once

#include <string>
#include <vector>

#include "testsupport/TempDir.h"

namespace testsupport {

class FakeSysfs {
  public:
    FakeSysfs();

    const std::string& root() const { return m_dir.path(); }
    // block/<name>/device/{vendor,model}
    void addDisk(const std::string& name, const std::string& vendor, const std::string& model);
    // block/<dm>/dm/{uuid,name} and block/<dm>/slaves/<path>...
    void addMap(const std::string& dm, const std::string& uuid, const std::string& name,
                const std::vector<std::string>& paths);
    // Any other block device (loop, nvme, ...).
    void addBlock(const std::string& name);
    // class/scsi_host/<host>/scan (empty); withScanFile false leaves the file out.
    void addScsiHost(const std::string& host, bool withScanFile = true);
    // class/fc_host/<host>/port_name
    void addFcHost(const std::string& host, const std::string& portName);
    std::string scanFile(const std::string& host) const;

  private:
    TempDir m_dir;
};

}  // namespace testsupport
