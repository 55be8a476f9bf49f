// What one worker of prepare or create gets: its device, its own copy of the
// snapshot object, the log tag, and the little state the devices of one call share.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "eseries/LSISnapshot.h"
#include "rkso/SnapInfo.h"

// State shared by the devices of one prepare or create call.
class CallShared {
  public:
    // Held around the PiT group test and creation of one source volume on one array,
    // so a second record of the same volume finds the first one's group.
    std::mutex& groupLockFor(const std::string& systemName, const std::string& sourceDev);

    // Consistency-group mode runs the devices one after another on the caller's
    // thread; these are read and written only there.
    bool groupCreated = false;
    bool groupGone = false;  // the group was deleted again after a failed member
    std::string groupPath;   // what the first device's CreateConsistencyGroup found
    std::vector<RKSO::SnapInfo*> groupMembers;  // devices prepared into the group so far
    bool groupPiTMade = false;                  // create: the first device made the group PiT
    std::string groupPiTName;                   // create: the group PiT the followers record

  private:
    std::mutex m_mu;
    std::map<std::string, std::unique_ptr<std::mutex>> m_groupLocks;
};

struct SnapshotInfo {
    RKSO::RKOSUtil* osUtil = nullptr;
    RKSO::SnapInfo* info = nullptr;
    LSISnapshot snapshot;
    std::string tag;
    CallShared* shared = nullptr;
};

// Worker functions: arg is a SnapshotInfo*; they report only through the device.
void* cloneDeviceThread(void* arg);
void* snapDeviceThread(void* arg);

namespace rkso {

// Bodies of rkso_prepareDevices and rkso_snapDevices.
int prepareDevices(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil);
int snapDevices(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil);

// Both texts of a snap unique identifier written from a snapshot object: the PiT
// engine records m_PiTOperation, m_PiTName and the group name, the other engines
// the snapshot operation. Logs "Failed to set metadata [id : %d]" on failure.
bool writeIdentifier(RKSO::SnapInfo* info, const char* tag, const LSISnapshot& snap,
                     bool pitEngine);

}  // namespace rkso
