// rkso_prepareDevices: every device is identified, its array and engine checked
// and its target prepared (PiT group, consistency group, replica or clone) by a
// worker, one thread per device unless told otherwise.
#include <cstdio>
#include <exception>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "engine/ArrayLookup.h"
#include "engine/ArrayParams.h"
#include "engine/EngineCommon.h"
#include "engine/Globals.h"
#include "engine/HostBuffer.h"
#include "engine/Identification.h"
#include "engine/ItemText.h"
#include "engine/OemTable.h"
#include "engine/SnapshotInfo.h"
#include "engine/ThreadTable.h"
#include "engine/Tuning.h"

namespace {

const char* const kPrepareTag = "rkso_prepareDevices";
constexpr int kErrCloneSpace = 60549;

std::string devicePath(RKSO::SnapInfo* device) {
    return rkso::readSizedText(
               RKSO::DEVICE_PATH_BUFFER_SIZE,
               [device](char* buf, short* len) { return device->getDevicePath(buf, len); })
        .text;
}

struct Identity {
    std::string path, vendor, product, arrayId, lunUuid;
};

bool identify(RKSO::RKOSUtil* osUtil, RKSO::SnapInfo* device, Identity& id) {
    id.path = devicePath(device);
    device->logFormat(0, kPrepareTag, "%s: Attempting to get array info from host device path %s",
                      kPrepareTag, id.path.c_str());
    return getDevArrayInfo(osUtil, device, id.path.c_str(), id.vendor, id.product, id.arrayId,
                           id.lunUuid, true, true);
}

std::string configString(RKSO::SnapInfo* device, const char* key) {
    return rkso::readSizedText(
               RKSO::CONFIG_STRING_BUFFER_SIZE,
               [device, key](char* buf, int* len) { device->getConfigString(key, buf, len); })
        .text;
}

// The group name made for a new consistency group: n + 1, host values 18 and 1.
std::string newGroupName(RKSO::SnapInfo* device, int groupIndex) {
    int request = 0, sequence = 0;
    device->getIntValue(18, &request);
    device->getIntValue(1, &sequence);
    char name[64];
    std::snprintf(name, sizeof name, "%X%lX_%X", static_cast<unsigned>(groupIndex + 1),
                  static_cast<unsigned long>(static_cast<unsigned>(request)),
                  static_cast<unsigned>(sequence));
    return name;
}

void failDevice(RKSO::SnapInfo* device, RKSO::SnapStatus status) {
    device->setStatus(status);
}

class PrepareRun {
  public:
    PrepareRun(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil)
        : m_devices(devices), m_count(count), m_osUtil(osUtil) {}

    int run();

  private:
    enum class Setup { kReady, kFailed, kStop };
    Setup setUp(short index, SnapshotInfo& entry);
    bool chooseGroup(RKSO::SnapInfo* device, LSISnapshot& snap);
    void startWorker(SnapshotInfo& entry, bool& stop);

    RKSO::SnapInfo** m_devices;
    short m_count;
    RKSO::RKOSUtil* m_osUtil;
    bool m_parallel = true;
    bool m_groupMode = false;
    std::list<std::string> m_sources;
    // Consistency group name and index, computed at the first device.
    bool m_groupChosen = false;
    int m_groupIndex = -1;
    std::string m_groupName;
    NamespaceCache m_namespaces;
    CallShared m_shared;
    // Declared before the threads, so that on every way out the workers are joined
    // before their entries go.
    std::unique_ptr<SnapshotInfo[]> m_entries;
    ThreadTable m_threads;
};

int PrepareRun::run() {
    RKSO::SnapInfo* first = m_devices[0];
    first->logFormat(1, kPrepareTag, "Starting to prepare [%d] snapshot(s)/clone(s).",
                     static_cast<int>(m_count));
    int noParallel = 0;
    GetRegInt(nullptr, "LSI_SNAP_NO_PARALLEL", &noParallel);
    m_parallel = noParallel == 0;
    m_entries.reset(new (std::nothrow) SnapshotInfo[m_count]);
    if (!m_entries) {
        first->logFormat(2, kPrepareTag, "Unable to allocate memory for thread objects");
        return 1;
    }
    if (!m_parallel) first->logFormat(1, kPrepareTag, "Performing non-concurrent snap preparation");

    for (short i = 0; i < m_count; ++i) {
        Identity id;
        if (!identify(m_osUtil, m_devices[i], id)) {
            m_devices[i]->logFormat(0, kPrepareTag,
                                    "%s: Failed to get LSI Array name from host device "
                                    "name[%s]",
                                    kPrepareTag, id.path.c_str());
            id.lunUuid = "null";
        }
        m_sources.push_back(id.lunUuid);
    }

    for (short i = 0; i < m_count; ++i) {
        RKSO::SnapInfo* device = m_devices[i];
        // An exception ends the loop as the other set-up failures do.
        Setup setup = Setup::kStop;
        try {
            setup = setUp(i, m_entries[i]);
        } catch (const std::exception& e) {
            device->logFormat(2, kPrepareTag, "%s: Unexpected failure: %s", kPrepareTag, e.what());
            failDevice(device, RKSO::SNAP_STATUS_PREPARE_FAILED);
        } catch (...) {
            device->logFormat(2, kPrepareTag, "%s: Unexpected failure", kPrepareTag);
            failDevice(device, RKSO::SNAP_STATUS_PREPARE_FAILED);
        }
        if (setup == Setup::kStop) break;
        if (setup == Setup::kFailed) continue;
        bool stop = false;
        startWorker(m_entries[i], stop);
        if (stop) break;
    }
    m_threads.joinAll(kPrepareTag, "PrepareSnap Thread Joined");
    first->logFormat(1, kPrepareTag, "Prepare snapshot/clone completed");

    int prepared = 0;
    for (short i = 0; i < m_count; ++i)
        if (m_devices[i]->getStatus() == RKSO::SNAP_STATUS_PREPARED) ++prepared;
    return rkso::resultFromSuccesses(prepared, m_count);
}

PrepareRun::Setup PrepareRun::setUp(short index, SnapshotInfo& entry) {
    RKSO::SnapInfo* device = m_devices[index];
    // a. Identify.
    device->setStatus(RKSO::SNAP_STATUS_RESET);
    Identity id;
    if (!identify(m_osUtil, device, id)) {
        char msg[2048];
        std::snprintf(msg, sizeof msg, "%s: Failed to get LSI Array name from host device name[%s]",
                      kPrepareTag, id.path.c_str());
        device->logFormat(0, kPrepareTag, "%s", msg);
        setError(device, kErrNotSupported, msg);
        failDevice(device, RKSO::SNAP_STATUS_PREPARE_FAILED);
        return Setup::kStop;
    }
    // b. Array parameters.
    LSISnapshot snap;
    snap.SetLogger(device);
    if (!initArrayParams(snap, device, id.arrayId, true, &m_namespaces)) {
        device->logFormat(2, kPrepareTag, "%s: Failed to initialize the Array parameters",
                          kPrepareTag);
        failDevice(device, RKSO::SNAP_STATUS_PREPARE_FAILED);
        return Setup::kStop;
    }
    // c. Supported array.
    if (!isSuuportedOEM(device, id.vendor, id.product)) {
        char msg[2048];
        std::snprintf(msg, sizeof msg,
                      "%s: The device [%s] does not belong to LSI array. Vendor of the device is "
                      "- [%s] and product line %s",
                      kPrepareTag, id.path.c_str(), id.vendor.c_str(), id.product.c_str());
        device->logFormat(2, kPrepareTag, "%s", msg);
        failDevice(device, RKSO::SNAP_STATUS_PREPARE_FAILED);
        setError(device, kErrNotSupported, msg);
        return Setup::kStop;
    }
    // d. The array record.
    device->logFormat(0, kPrepareTag, "%s: Device path %s belongs to Array %s", kPrepareTag,
                      id.path.c_str(), id.arrayId.c_str());
    rkso::HostText record = rkso::readSizedText(
        RKSO::ARRAY_INFO_BUFFER_SIZE,
        [device](char* buf, short* len) { return device->getArrayInfo(buf, len); });
    if (record.result != 0) {
        device->logFormat(2, kPrepareTag, "%s: Failed to get array info for array id [%s]",
                          kPrepareTag, id.arrayId.c_str());
        failDevice(device, RKSO::SNAP_STATUS_PREPARE_FAILED);
        setError(device, kErrArrayInfo, "Failed to get array info");
        return Setup::kStop;
    }
    int printRecord = 0;
    GetRegInt(nullptr, "PRINT_LSI_INFO_FROM_DB", &printRecord);
    if (printRecord > 0)
        device->logFormat(0, kPrepareTag, "%s: Array info received from DB [%s]", kPrepareTag,
                          rkso::maskSecretItems(record.text).c_str());
    // e, f. Engine and capability.
    const short engine = getSnapEngineType(device);
    std::string vendor;
    int capability = 0;
    if (!getSnapEngineVendorCapability(device, m_osUtil, engine, vendor, capability)) {
        device->logFormat(2, kPrepareTag, " Failed to get capability of EngineID [%d]", engine);
        failDevice(device, RKSO::SNAP_STATUS_PREPARE_FAILED);
        return Setup::kStop;
    }
    const std::string capabilityText = std::to_string(capability);
    if (device->setMetaDataValue(RKSO::METADATA_ENGINE_CAPABILITY, capabilityText.c_str()) == 1)
        device->logFormat(2, kPrepareTag,
                          "Failed to set the snapshot engine capabilities in metadata");
    snap.SetCapability(capability);
    // g. Disk group and kind of target.
    const bool pit = engine == RKSO::ENGINE_TYPE_PIT;
    RK_SMIS_SNAP::RkSnapParams params;
    if ((capability & 3) != 0 || pit) {
        const char* groupKey = "SMCONFIG_NAME_STORAGE_DEVICE_GROUP";
        const char* onlyKey = "SMCONFIG_NAME_USE_DEVICES_ONLY_FROM_THIS_GROUP";
        params.m_DiskGroupName = configString(device, groupKey);
        o_logger.DebugLvl(kPrepareTag, -1, " Array Config [%s:%s]", groupKey,
                          params.m_DiskGroupName.c_str());
        int only = 0;
        device->getConfigInt(onlyKey, &only);
        o_logger.DebugLvl(kPrepareTag, -1, " Array Config [%s:%d]", onlyKey, only);
        if (only == 1) {
            device->logFormat(0, kPrepareTag, "%s: Device Group option selected", kPrepareTag);
            params.m_UseDiskGroupOnly = true;
        }
    }
    if (pit) {
        snap.m_PiTOperation = 7;
        snap.m_CGFollower = index > 0;
        snap.m_UseConsistencyGroup = false;
    } else if (capability & RKSO::ENGINE_CAPABILITY_CLONE) {
        // The worker builds a clone whenever the engine can; record what it builds.
        params.m_SnapOperation = 5;
    } else if (capability & RKSO::ENGINE_CAPABILITY_SNAPSHOT) {
        params.m_SnapOperation = 4;
    } else {
        device->logFormat(2, kPrepareTag,
                          "%s: Failed : prepareDevices received unknown snap operation [%d]",
                          kPrepareTag, capability);
        failDevice(device, RKSO::SNAP_STATUS_CREATE_FAILED);
        return Setup::kStop;
    }
    // h. Snapshot parameters.
    params.m_SnapName =
        rkso::readSizedText(RKSO::SNAP_NAME_BUFFER_SIZE, [device](char* buf, short* len) {
            return device->getSnapName(buf, len);
        }).text;
    params.m_SourceDev = id.lunUuid;
    params.m_SystemName = id.arrayId;
    snap.SetSnapInfo(params);
    // i. Consistency group.
    int useGroup = 0;
    device->getConfigInt("SMCONFIG_NAME_USE_CONSISTENCY_GROUP", &useGroup);
    device->logFormat(0, kPrepareTag, " Array Config [%s:%d]",
                      "SMCONFIG_NAME_USE_CONSISTENCY_GROUP", useGroup);
    if (pit && useGroup >= 1 && m_count >= 2) {
        m_groupMode = true;
        snap.m_UseConsistencyGroup = true;
        if (!chooseGroup(device, snap)) {
            failDevice(device, RKSO::SNAP_STATUS_PREPARE_FAILED);
            return Setup::kFailed;
        }
    }
    // j. The worker's entry.
    entry.osUtil = m_osUtil;
    entry.info = device;
    entry.snapshot = snap;
    entry.tag = kPrepareTag;
    entry.shared = &m_shared;
    // k. The shared secret, once per call.
    if (index == 0) {
        if (snap.CheckAndUpdateArraySecret(device) == 1)
            device->logFormat(1, kPrepareTag,
                              "Successfully updated the shared secret key at SMI-S "
                              "provider.");
        else
            device->logFormat(0, kPrepareTag,
                              "Unable to check for the shared secret key between storage "
                              "array-[%s] and SMI-S provider. Continuing with snap creation..",
                              id.arrayId.c_str());
    }
    return Setup::kReady;
}

bool PrepareRun::chooseGroup(RKSO::SnapInfo* device, LSISnapshot& snap) {
    if (!m_groupChosen) {
        m_groupChosen = true;
        int n = -1;
        if (snap.GetConsistencyGroup(m_sources, m_count, n))
            m_groupName = snap.m_ConsistencyGroupName;
        else if (n >= 0)
            m_groupName = newGroupName(device, n);
        m_groupIndex = n;
    }
    if (m_groupIndex < 0) {
        if (m_groupIndex == -2)
            device->logFormat(2, kPrepareTag,
                              "Few of the source volumes are already members of 4 Consistency "
                              "Group.");
        return false;
    }
    snap.m_ConsistencyGroupName = m_groupName;
    device->logFormat(0, kPrepareTag, "Consistency Group name [%s]", m_groupName.c_str());
    return true;
}

void PrepareRun::startWorker(SnapshotInfo& entry, bool& stop) {
    if (!m_parallel || m_groupMode) {
        cloneDeviceThread(&entry);
        return;
    }
    switch (m_threads.start(cloneDeviceThread, &entry, entry.info)) {
        case ThreadTable::Start::kStarted:
            // The worker owns the device now; the line goes to the module log.
            o_logger.DebugLvl(kPrepareTag, 0, "PrepareSnap Thread created");
            break;
        case ThreadTable::Start::kNoMemory:
            entry.info->logFormat(2, kPrepareTag, "%s: Unable to allocate memory for thread object",
                                  kPrepareTag);
            stop = true;
            break;
        case ThreadTable::Start::kRefused:
            entry.info->logFormat(2, kPrepareTag, "%s: Unable to create thread", kPrepareTag);
            break;
    }
}

// --- The worker ---

// Consistency-group member: the first device makes the group, every device joins it.
int joinGroup(SnapshotInfo& entry) {
    LSISnapshot& snap = entry.snapshot;
    RKSO::SnapInfo* device = entry.info;
    CallShared& shared = *entry.shared;
    const char* tag = entry.tag.c_str();
    if (shared.groupGone) {
        device->logFormat(0, tag, "Could not add Source Device [%s] to Consistency Group [%s]",
                          snap.m_SourceDev.c_str(), snap.m_ConsistencyGroupName.c_str());
        return RKSO::SNAP_STATUS_CREATE_FAILED;
    }
    if (!snap.m_CGFollower && !shared.groupCreated) {
        if (snap.CreateConsistencyGroup() != 0) return RKSO::SNAP_STATUS_CREATE_FAILED;
        shared.groupCreated = true;
        shared.groupPath = snap.m_PiTName;
    }
    if (!shared.groupCreated) return RKSO::SNAP_STATUS_CREATE_FAILED;
    snap.m_PiTName = shared.groupPath;
    device->logFormat(0, tag, "Consistency Group [%s] created successfully.",
                      snap.m_ConsistencyGroupName.c_str());
    if (snap.AddMembersToCG() == 0) {
        device->logFormat(0, tag, "Added Source Device [%s] to Consistency Group [%s]",
                          snap.m_SourceDev.c_str(), snap.m_ConsistencyGroupName.c_str());
        shared.groupMembers.push_back(device);
        return RKSO::SNAP_STATUS_CREATED;
    }
    device->logFormat(0, tag, "Could not add Source Device [%s] to Consistency Group [%s]",
                      snap.m_SourceDev.c_str(), snap.m_ConsistencyGroupName.c_str());
    if (snap.DeleteConsistencyGroup(1) == 0) {
        device->logFormat(0, tag, "Consistency Group [%s] Deleted",
                          snap.m_ConsistencyGroupName.c_str());
        shared.groupGone = true;
        // Devices prepared into the group earlier in this call lost it with it.
        for (RKSO::SnapInfo* member : shared.groupMembers) {
            member->logFormat(2, tag,
                              " Prepare snapshot failed: Consistency Group [%s] was deleted "
                              "after a later member could not be added",
                              snap.m_ConsistencyGroupName.c_str());
            member->setStatus(RKSO::SNAP_STATUS_PREPARE_FAILED);
        }
        shared.groupMembers.clear();
    }
    return RKSO::SNAP_STATUS_CREATE_FAILED;
}

// The PiT group of the source volume, made once per volume and array.
int pitGroup(SnapshotInfo& entry) {
    LSISnapshot& snap = entry.snapshot;
    std::lock_guard<std::mutex> lock(
        entry.shared->groupLockFor(snap.GetSystemName(), snap.GetSourceDev()));
    return snap.CreatePiTGroup() == 0 ? RKSO::SNAP_STATUS_CREATED : RKSO::SNAP_STATUS_CREATE_FAILED;
}

void prepareDevice(SnapshotInfo& entry) {
    RKSO::SnapInfo* device = entry.info;
    const char* tag = entry.tag.c_str();
    LSISnapshot& snap = entry.snapshot;
    const short engine = getSnapEngineType(device);
    std::string vendor;
    int capability = 0;
    if (!getSnapEngineVendorCapability(device, entry.osUtil, engine, vendor, capability)) {
        device->logFormat(2, tag, " Failed to get capability of EngineID [%d]", engine);
        device->setStatus(RKSO::SNAP_STATUS_PREPARE_FAILED);
        return;
    }
    const bool pit = engine == RKSO::ENGINE_TYPE_PIT;
    const int prepared = pit ? snap.PreparePiT() : snap.PrepareSnap();
    if (prepared == RKSO::SNAP_STATUS_PREPARE_FAILED) {
        device->logFormat(2, tag, " Prepare snapshot failed for the source device %s",
                          snap.GetSourceDev().c_str());
        device->setStatus(RKSO::SNAP_STATUS_PREPARE_FAILED);
        return;
    }
    bool success = false;
    if (!pit && (capability & RKSO::ENGINE_CAPABILITY_CLONE)) {
        snap.m_SnapOperation = 5;
        if (snap.CreateCloneVolume() != 0) {
            device->logFormat(2, tag,
                              "Clone volume creation successful, going to attach the volume to "
                              "source volume");
            if (snap.AttachCloneVolume("4") == 1) {
                device->logFormat(2, tag,
                                  "Attachment of the clone volume to the source volume was "
                                  "successful");
                success = true;
            } else {
                device->logFormat(2, tag,
                                  "Attach of clone volume failed, going to delete clone volume");
                snap.SnapDelete();
            }
        } else {
            device->logFormat(2, tag, "Clone volume creation failed");
        }
    } else if (!pit && (capability & RKSO::ENGINE_CAPABILITY_SNAPSHOT)) {
        snap.m_SnapOperation = 4;
        if (snap.SnapCreate() == RKSO::SNAP_STATUS_CREATED) {
            // Replica made: stop its synchronisation; one that cannot be stopped is removed.
            if (snap.SnapSyncOp(8, false) == RKSO::SNAP_STATUS_CREATED)
                success = true;
            else
                snap.SnapDelete();
        } else if (snap.GetErrorCode() == 4) {
            setError(device, kErrCloneSpace,
                     "Reason could be max number of snaps exceeded or no available space in the "
                     "DiskGroup");
        }
    } else if (pit) {
        int outcome;
        if (snap.m_UseConsistencyGroup) {
            outcome = joinGroup(entry);
        } else {
            outcome = pitGroup(entry);
            snap.m_ConsistencyGroupName = "null";
        }
        if (outcome == RKSO::SNAP_STATUS_CREATED) {
            snap.m_TargetDev = "null";
            snap.m_TargetDevPath = "null";
            success = true;
        }
    }
    if (success) {
        rkso::writeIdentifier(device, tag, snap, pit);
        device->logFormat(1, tag, " Prepare snapshot success for the source device %s",
                          snap.GetSourceDev().c_str());
        device->setStatus(RKSO::SNAP_STATUS_PREPARED);
    } else {
        device->logFormat(2, tag, " Prepare snapshot failed for the source device %s",
                          snap.GetSourceDev().c_str());
        device->setStatus(RKSO::SNAP_STATUS_PREPARE_FAILED);
    }
}

}  // namespace

void* cloneDeviceThread(void* arg) {
    SnapshotInfo* entry = static_cast<SnapshotInfo*>(arg);
    if (!entry || !entry->info) return nullptr;
    try {
        prepareDevice(*entry);
    } catch (const std::exception& e) {
        entry->info->logFormat(2, entry->tag.c_str(), " Prepare snapshot failed: %s", e.what());
        entry->info->setStatus(RKSO::SNAP_STATUS_PREPARE_FAILED);
    } catch (...) {
        entry->info->logFormat(2, entry->tag.c_str(), " Prepare snapshot failed");
        entry->info->setStatus(RKSO::SNAP_STATUS_PREPARE_FAILED);
    }
    return nullptr;
}

namespace rkso {

int prepareDevices(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil) {
    if (!checkDevices(kPrepareTag, devices, count)) return 1;
    PrepareRun run(devices, count, osUtil);
    return run.run();
}

}  // namespace rkso
