#include "testsupport/FakeSysfs.h"

namespace testsupport {

FakeSysfs::FakeSysfs() {
    m_dir.mkdir("block");
    m_dir.mkdir("class/scsi_host");
}

void FakeSysfs::addDisk(const std::string& name, const std::string& vendor,
                        const std::string& model) {
    // The kernel pads both fields with spaces and ends them with a newline.
    m_dir.write("block/" + name + "/device/vendor", vendor + "   \n");
    m_dir.write("block/" + name + "/device/model", model + "   \n");
}

void FakeSysfs::addMap(const std::string& dm, const std::string& uuid, const std::string& name,
                       const std::vector<std::string>& paths) {
    m_dir.write("block/" + dm + "/dm/uuid", uuid + "\n");
    m_dir.write("block/" + dm + "/dm/name", name + "\n");
    m_dir.mkdir("block/" + dm + "/slaves");
    for (const std::string& p : paths) m_dir.mkdir("block/" + dm + "/slaves/" + p);
}

void FakeSysfs::addBlock(const std::string& name) {
    m_dir.mkdir("block/" + name);
}

void FakeSysfs::addScsiHost(const std::string& host, bool withScanFile) {
    if (withScanFile)
        m_dir.write("class/scsi_host/" + host + "/scan", "");
    else
        m_dir.mkdir("class/scsi_host/" + host);
}

void FakeSysfs::addFcHost(const std::string& host, const std::string& portName) {
    m_dir.write("class/fc_host/" + host + "/port_name", portName + "\n");
}

std::string FakeSysfs::scanFile(const std::string& host) const {
    return m_dir.read("class/scsi_host/" + host + "/scan");
}

}  // namespace testsupport
