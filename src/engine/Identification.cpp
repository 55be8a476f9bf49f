// getDevArrayInfo and getDeviceSerialNumber: the inquiries behind device identification.
#include "engine/Identification.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

#include "engine/ArrayLookup.h"
#include "engine/DeviceLog.h"
#include "engine/Inquiry.h"
#include "engine/ItemText.h"
#include "engine/OemTable.h"
#include "rkso/CUxError.h"
#include "rkso/RkDeviceTree.h"

namespace {

const char* const kIdentificationTag = "RkSnapLSI::getDevArrayInfo";
const char* const kSerialTag = "RkSnapLSI::getDeviceSerialNumber";
// Descriptors of older hosts carry no inquiry data worth reading.
constexpr int kMinDescriptorVersion = 10;

// A device's SCSI interface, kept with the device that owns it.
struct ScsiDevice {
    std::shared_ptr<RkDevice> device;
    RkDeviceScsiIface* scsi = nullptr;
};

// Throws RkException with the device tree's reason when there is no such device;
// a device without a SCSI interface gives a null scsi.
ScsiDevice openScsi(const std::string& name) {
    CUxError error;
    ScsiDevice out;
    out.device = RkDeviceTree::getDevice(name, error);
    if (!out.device) throw RkException(error.AsString());
    out.scsi = static_cast<RkDeviceScsiIface*>(out.device->getInterface(RK_DEVICE_SCSI_IFACE));
    return out;
}

// INQUIRY of kInquiryBytes bytes (of page, when evpd) into a zeroed buffer: the bytes
// received, or -1 with the reason in error.
int inquire(RkDeviceScsiIface* scsi, unsigned char evpd, unsigned char page,
            unsigned char (&data)[rkso::kInquiryBytes], CUxError& error) {
    const unsigned char cdb[6] = {0x12, evpd, page, 0x00, rkso::kInquiryBytes, 0x00};
    std::memset(data, 0, sizeof data);
    error.Success();
    return scsi->sendCommand(cdb, sizeof cdb, data, sizeof data, 0, 1, nullptr, 0, 10, error);
}

bool isDescriptor(const char* deviceName) {
    return std::strstr(deviceName, "vmware") != nullptr;
}

// Standard inquiry data of a VMware descriptor: all zero below version 10.
bool descriptorInquiry(RKSO::SnapInfo* info, const std::string& descriptor,
                       unsigned char (&data)[rkso::kInquiryBytes]) {
    std::string hex, version;
    if (!parseJsonString(info, descriptor, "standardinqury", hex)) return false;
    if (!parseJsonString(info, descriptor, "version", version)) version = "0";
    std::memset(data, 0, sizeof data);
    if (std::atoi(version.c_str()) < kMinDescriptorVersion) return true;
    if (!rkso::decodeHexBytes(hex, data, rkso::kInquiryBytes)) {
        rkso::logDevice(info, kIdentificationTag, 2, 2,
                        "Standard inquiry data of the descriptor is not hexadecimal");
        return false;
    }
    return true;
}

// Array and LUN of a VMware descriptor: the LUN from its "lunuuid", the array from
// asking the configured arrays' providers.
bool descriptorArray(RKSO::RKOSUtil* osUtil, RKSO::SnapInfo* info, const std::string& descriptor,
                     std::string& arrayId, std::string& lunUuid, bool flag) {
    std::string text;
    if (!parseJsonString(info, descriptor, "lunuuid", text)) return false;
    if (!rkso::lunUuidFromDescriptor(text, lunUuid)) {
        rkso::logDevice(info, kIdentificationTag, 2, 2,
                        "Item lunuuid [%s] of the descriptor holds no 32-digit LUN UUID after "
                        "its first 10 characters",
                        text.c_str());
        return false;
    }
    rkso::logDevice(info, kIdentificationTag, 0, -1, "lun UUID [%s]", lunUuid.c_str());
    if (!info || !osUtil) {
        rkso::logDevice(info, kIdentificationTag, 2, 2,
                        "The array of a VMware device is found only with its request and the "
                        "host's utility object");
        return false;
    }
    if (!CheckandGetArrayID(osUtil, info, arrayId, lunUuid, flag)) return false;
    rkso::logDevice(info, kIdentificationTag, 0, -1, "Array ID [%s]", arrayId.c_str());
    return true;
}

bool deviceArray(RKSO::SnapInfo* info, RkDeviceScsiIface* scsi, std::string& arrayId,
                 std::string& lunUuid) {
    unsigned char data[rkso::kInquiryBytes];
    CUxError error;
    int received = inquire(scsi, 0x01, 0xC8, data, error);
    if (received == -1) {
        rkso::logDevice(info, kIdentificationTag, 0, 2,
                        "Failed to send scsi inquiry cdb, caught exception: %s",
                        error.AsString().c_str());
        return false;
    }
    std::string array, lun;
    if (!rkso::arrayPageIdentity(data, received, array, lun)) {
        rkso::logDevice(info, kIdentificationTag, 2, 2,
                        "Page 0xC8 of the device is too short ([%d] bytes) to name its array",
                        received);
        return false;
    }
    arrayId += array;
    lunUuid = lun;
    std::string line = "lun uuid : [" + lunUuid + "] ";
    rkso::logDevice(info, kIdentificationTag, 0, -1, "SCSI inquiry: %s", line.c_str());
    return true;
}

bool identify(RKSO::RKOSUtil* osUtil, RKSO::SnapInfo* info, const char* deviceName,
              std::string& vendor, std::string& product, std::string& arrayId, std::string& lunUuid,
              bool skipVendorCheck, bool flag) {
    lunUuid.clear();
    arrayId.clear();
    const bool descriptor = isDescriptor(deviceName);
    unsigned char data[rkso::kInquiryBytes] = {};
    ScsiDevice device;
    if (descriptor) {
        if (!descriptorInquiry(info, deviceName, data)) return false;
    } else {
        device = openScsi(deviceName);
        if (!device.scsi) {
            rkso::logDevice(info, kIdentificationTag, 2, 2, "'%s' is not SCSI device", deviceName);
            return false;
        }
        CUxError error;
        if (inquire(device.scsi, 0x00, 0x00, data, error) == -1) {
            rkso::logDevice(info, kIdentificationTag, 2, 2,
                            "Failed to send scsi inquiry cdb, caught exception: %s",
                            error.AsString().c_str());
            return false;
        }
    }
    rkso::standardIdentity(data, vendor, product);
    if (vendor.empty() || product.empty() ||
        (!skipVendorCheck && !isSuuportedOEM(info, vendor, product))) {
        rkso::logDevice(info, kIdentificationTag, 0, 2,
                        "Vendor: [%s] Product line : [%s] does not belong to LSI OEM",
                        vendor.c_str(), product.c_str());
        return false;
    }
    rkso::logDevice(info, kIdentificationTag, 0, -1, "Vendor: [%s] Product line : [%s]",
                    vendor.c_str(), product.c_str());
    if (descriptor) return descriptorArray(osUtil, info, deviceName, arrayId, lunUuid, flag);
    return deviceArray(info, device.scsi, arrayId, lunUuid);
}

}  // namespace

bool getDevArrayInfo(RKSO::RKOSUtil* osUtil, RKSO::SnapInfo* info, const char* deviceName,
                     std::string& vendor, std::string& product, std::string& arrayId,
                     std::string& lunUuid, bool skipVendorCheck, bool flag) {
    lunUuid.clear();
    arrayId.clear();
    if (!deviceName || !*deviceName) {
        rkso::logDevice(info, kIdentificationTag, 2, 2,
                        "Device name is not set. Cannot fetch array info.");
        return false;
    }
    try {
        return identify(osUtil, info, deviceName, vendor, product, arrayId, lunUuid,
                        skipVendorCheck, flag);
    } catch (const RkException& e) {
        rkso::logDevice(info, kIdentificationTag, 2, 2,
                        "RkDeviceTree::getDevice exception caught :%s", e.getMessage().c_str());
    } catch (const std::exception& e) {
        rkso::logDevice(info, kIdentificationTag, 2, 2, "Failed to identify device [%s]: %s",
                        deviceName, e.what());
    }
    return false;
}

bool getDeviceSerialNumber(RKSO::SnapInfo* info, std::string deviceName, std::string& serial) {
    if (deviceName.empty()) {
        rkso::logDevice(info, kSerialTag, 2, 2, "Device name is not set. Cannot fetch array info.");
        return false;
    }
    try {
        ScsiDevice device = openScsi(deviceName);
        if (!device.scsi) {
            rkso::logDevice(info, kSerialTag, 2, 2, "'%s' is not SCSI device", deviceName.c_str());
            return false;
        }
        unsigned char data[rkso::kInquiryBytes];
        CUxError error;
        if (inquire(device.scsi, 0x01, 0x80, data, error) == -1) {
            rkso::logDevice(info, kSerialTag, 0, 2,
                            "Failed to send scsi inquiry cdb, caught exception: %s",
                            error.AsString().c_str());
            return false;
        }
        serial = rkso::serialFromPage(data);
        rkso::logDevice(info, kSerialTag, 0, -1, "Device [%s] S# [%s]", deviceName.c_str(),
                        serial.c_str());
        return true;
    } catch (const RkException& e) {
        rkso::logDevice(info, kSerialTag, 2, 2, "RkDeviceTree::getDevice exception caught :%s",
                        e.getMessage().c_str());
    } catch (const std::exception& e) {
        rkso::logDevice(info, kSerialTag, 2, 2, "Failed to read the serial number of [%s]: %s",
                        deviceName.c_str(), e.what());
    }
    return false;
}
