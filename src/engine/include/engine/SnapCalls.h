// Bodies of the entry points that work on existing snapshots, and what they share.
#pragma once

#include <list>
#include <map>
#include <string>
#include <vector>

#include "rkso/SnapInfo.h"

// The PiT names the host database still holds for arrayId (field 9 of each stored
// identifier of that array), in name order.
bool GetActiveSnaps(RKSO::SnapInfo** devices, RKSO::RKOSUtil* osUtil, short engineId,
                    std::string arrayId, std::list<std::string>& pitNames, bool);

namespace rkso {

// The host as the mapping calls see it.
struct HostSide {
    std::string hostId;
    std::string arrayId;  // of the first device
    std::list<std::string> ports;
    bool iscsi = false;
    bool vmware = false;     // the first device is a VMware descriptor
    std::string initiators;  // the ports as the array takes them
    std::string vendor;      // VMware only
};

// Host identifier, array and initiators of the first device (62002, 62003 on failure).
bool startMappingCall(const char* tag, RKSO::SnapInfo** devices, RKSO::RKOSUtil* osUtil,
                      HostSide& host);
// The VMware vendor step: the first device's OEM vendor (60557 on failure).
bool readVmwareVendor(const char* tag, RKSO::SnapInfo** devices, RKSO::RKOSUtil* osUtil,
                      HostSide& host);

// LUN UUIDs of listed host devices, each device inquired once per listing.
class HostDevices {
  public:
    HostDevices(RKSO::RKOSUtil* osUtil, RKSO::SnapInfo* info) : m_osUtil(osUtil), m_info(info) {}
    bool list(const HostSide& host, const char* tag);
    // The first listed device showing the LUN, "" when none.
    std::string find(const std::string& lunUuid);
    const std::list<std::string>& names() const { return m_names; }

  private:
    RKSO::RKOSUtil* m_osUtil;
    RKSO::SnapInfo* m_info;
    std::list<std::string> m_names;
    std::map<std::string, std::string> m_uuids;
};

// What the mapping check learnt of a device beyond its status.
enum class CheckAnswer {
    kNone,      // no answer from the array (failure, rejected login...)
    kAnswered,  // the array answered (status is its answer)
};

int isMapped(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil,
             std::vector<CheckAnswer>* answers);
int mapSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil);
int unmapSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil);
int revertSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil);
int deleteSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil);
int reconcileSnaps(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil);

// Active PiT lists of one call, one per array, built when the first PiT device of
// that array needs it.
class ActiveLists {
  public:
    ActiveLists(RKSO::SnapInfo** devices, RKSO::RKOSUtil* osUtil)
        : m_devices(devices), m_osUtil(osUtil) {}
    // Null when the host database could not be read.
    std::list<std::string>* forArray(RKSO::SnapInfo* info, const std::string& arrayId);

  private:
    RKSO::SnapInfo** m_devices;
    RKSO::RKOSUtil* m_osUtil;
    std::map<std::string, std::list<std::string>> m_lists;
};

}  // namespace rkso
