// Host device access: a block device by name, and its SCSI pass-through.
//
//   CUxError error;
//   std::shared_ptr<RkDevice> dev = RkDeviceTree::getDevice("/dev/sdb", error);
//   if (!dev) throw RkException(error.AsString());
//   auto* scsi = static_cast<RkDeviceScsiIface*>(dev->getInterface(RK_DEVICE_SCSI_IFACE));
//   if (!scsi) ...  // not a SCSI device
//   unsigned char cdb[6] = {0x12, 0, 0, 0, 0xFF, 0};  // INQUIRY, 255 bytes
//   unsigned char data[255] = {};
//   if (scsi->sendCommand(cdb, 6, data, sizeof data, 0, 1, nullptr, 0, 10, error) == -1) ...
//
// Where the devices come from is set in the configuration store, section [Host]
// (the README lists the keys):
//   DeviceTree = linux       device nodes through SG_IO, SCSI disks from sysfs (default)
//   DeviceTree = simulation  the LUNs a simulated array's fabric shows this host's ports
//   DeviceTree = vmware      as simulation, but listed as VMware descriptor texts
// Every call is safe from any number of threads, also while a rescan replaces
// what the host sees.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "rkso/CUxError.h"

#define RK_DEVICE_SCSI_IFACE "RkDeviceScsiIface"

// Room a caller's sense buffer must have.
constexpr int RK_SCSI_SENSE_SIZE = 32;

// Base of the interfaces a device offers by name.
class RkDeviceIface {
  public:
    virtual ~RkDeviceIface() = default;
};

// The interface named "RkDeviceScsiIface".
class RkDeviceScsiIface : public RkDeviceIface {
  public:
    // Sends one command that reads data from the device.
    //   cdb, cdbLength      the command block (6 to 16 bytes)
    //   data, dataSize      receives the data (bytes past what arrived are left as they were)
    //   dataOut             0: nothing is sent to the device (others are refused)
    //   dataIn              1: data is read from the device (others are refused)
    //   sense               null, or RK_SCSI_SENSE_SIZE bytes for the sense data
    //   flags               0 (reserved)
    //   timeoutSeconds      how long the device may take (1 to 3600)
    // Returns the number of bytes received, or -1 with the reason in error
    // (system error, SCSI status, sense key and ASC/ASCQ where there are any).
    virtual int sendCommand(const unsigned char* cdb, int cdbLength, unsigned char* data,
                            int dataSize, int dataOut, int dataIn, unsigned char* sense, int flags,
                            int timeoutSeconds, CUxError& error) = 0;
};

class RkDevice {
  public:
    virtual ~RkDevice() = default;
    virtual const std::string& getName() const = 0;
    // The interface of that name, or null when the device has none; valid as long
    // as the device. For RK_DEVICE_SCSI_IFACE it is an RkDeviceScsiIface.
    virtual RkDeviceIface* getInterface(const std::string& name) = 0;
};

// A block device of the host, as a host lists them.
struct RkBlockDevice {
    std::string name;  // device path; a descriptor text on VMware
    std::string vendor;
    std::string product;
};

// An initiator port of the host.
struct RkInitiatorPort {
    std::string name;  // FC: 16 upper-case hex digits; iSCSI: the initiator name
    bool iscsi = false;
};

class RkDeviceTree {
  public:
    // The device of that name, or an empty handle with the reason in error.
    static std::shared_ptr<RkDevice> getDevice(const std::string& name, CUxError& error);

    // Services for a host's own RKSO::RKOSUtil; the plug-in does not call them.
    // The block devices the host sees (a multipath map stands for its paths).
    static bool listDevices(std::vector<RkBlockDevice>& devices, CUxError& error);
    // Makes newly mapped LUNs appear.
    static bool rescan(CUxError& error);
    static bool getInitiatorPorts(std::vector<RkInitiatorPort>& ports, CUxError& error);

    // "linux", "simulation" or "vmware": the back end in force.
    static std::string backendName();
    // The next call reads the configuration again and starts afresh (the
    // simulated fabric is read again too). Devices already handed out stay usable.
    static void reset();
};
