// What RkDeviceTree asks of the place its devices come from.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rkso/RkDeviceTree.h"

namespace rkhost {

class DeviceBackend {
  public:
    virtual ~DeviceBackend() = default;
    virtual std::shared_ptr<RkDevice> open(const std::string& name, CUxError& error) = 0;
    virtual bool list(std::vector<RkBlockDevice>& devices, CUxError& error) = 0;
    virtual bool rescan(CUxError& error) = 0;
    virtual bool initiatorPorts(std::vector<RkInitiatorPort>& ports, CUxError& error) = 0;
};

// Settings of the device tree, section [Host] of the configuration store.
struct DeviceTreeSettings {
    std::string kind = "linux";  // DeviceTree
    // Linux
    std::string sysfsRoot = "/sys";                                     // SysfsRoot
    std::string iscsiInitiatorFile = "/etc/iscsi/initiatorname.iscsi";  // IscsiInitiatorFile
    // Simulation and VMware
    std::string fabricUrl;           // FabricUrl, e.g. http://127.0.0.1:5988
    std::string fabricUser;          // FabricUser
    std::string fabricPasswordFile;  // FabricPasswordFile (first line)
    std::string fabricCaFile;        // FabricCaFile, for https
    bool fabricInsecure = false;     // FabricInsecure = 1: https without certificate checks
    int fabricTimeoutSeconds = 30;   // FabricTimeoutSeconds
    bool fabricPaths = false;        // FabricPaths = 1: one device per controller path too
    std::vector<RkInitiatorPort> initiatorPorts;  // InitiatorPorts, comma-separated

    static DeviceTreeSettings fromConfiguration();
};

// One transfer at most; INQUIRY needs 255 bytes.
constexpr int kMaxTransfer = 1 << 20;

// Checks the arguments of RkDeviceScsiIface::sendCommand that every back end
// refuses alike; false with the reason in error.
bool checkReadCommand(const unsigned char* cdb, int cdbLength, const unsigned char* data,
                      int dataSize, int dataOut, int dataIn, int flags, int timeoutSeconds,
                      CUxError& error);

// A configured port name as FC (16 hex digits, ':' allowed) or iSCSI (anything else).
RkInitiatorPort initiatorPortFromText(const std::string& text);

std::shared_ptr<DeviceBackend> makeLinuxBackend(const DeviceTreeSettings& settings);
std::shared_ptr<DeviceBackend> makeSimulationBackend(const DeviceTreeSettings& settings);
std::shared_ptr<DeviceBackend> makeVmwareBackend(const DeviceTreeSettings& settings);

}  // namespace rkhost
