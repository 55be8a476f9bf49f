// What the mapping entry points ask of the host: its initiator ports, its block
// devices, a bus rescan, which listed devices show a snapshot, and whether a device
// is reached through the controller that currently owns it.
#pragma once

#include <list>
#include <string>

#include "rkso/SnapInfo.h"

// One initiator port (the VMware case): FC names come back without ':' and upper-cased.
bool detectHBA(RKSO::SnapInfo* info, std::string& port, bool& isIscsi, std::string& arrayId,
               RKSO::RKOSUtil* osUtil, std::string hostId);
// Every initiator port of the kind the host uses.
bool detectHbalist(RKSO::SnapInfo* info, RKSO::RKOSUtil* osUtil, std::list<std::string>& ports,
                   std::string& hostId, std::string& arrayId, bool& isIscsi);
// The ports as the array takes them, comma-joined.
std::string convertHbaList(RKSO::SnapInfo* info, std::list<std::string>& ports, bool isIscsi);
void refreshSystemBus(RKSO::SnapInfo* info, RKSO::RKOSUtil* osUtil, std::list<std::string> listA,
                      std::list<std::string> listB, std::string hostId);
// The host's block devices; VMware descriptors are split only before "{idatype:vmware".
bool getDeviceList(RKSO::SnapInfo* info, std::list<std::string>& devices, RKSO::RKOSUtil* osUtil,
                   std::string hostId, bool isVmware, std::string vendor);
// The listed devices that show the device's snapshot volume.
bool getAllDevicePaths(RKSO::SnapInfo* info, RKSO::RKOSUtil* osUtil,
                       std::list<std::string>& hostDevices, std::string,
                       std::list<std::string>& paths);
// False only when the snapshot volume's current controller is known and devicePath
// is not reached through it.
bool isControllerPathMatch(RKSO::SnapInfo* info, RKSO::RKOSUtil* osUtil, std::string devicePath,
                           std::string& controllerPath);

namespace rkso {

// The debug hook: with the file of this name in the working directory, map and
// unmap log every listed host device.
extern const char* const kDebugHookFile;
void logListedDevices(RKSO::SnapInfo* info, const char* tag, const std::list<std::string>& devices);

// The LUN UUID of a listed host device, or "" when it cannot be read.
std::string lunUuidOf(RKSO::RKOSUtil* osUtil, RKSO::SnapInfo* info, const std::string& device);

}  // namespace rkso
