// rkso_snapDevices: the point-in-time copies of prepared devices, made as close
// together as possible, one worker thread per device unless told otherwise.
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <map>
#include <memory>
#include <new>
#include <string>

#include "engine/ArrayLookup.h"
#include "engine/ArrayParams.h"
#include "engine/EngineCommon.h"
#include "engine/Globals.h"
#include "engine/HostBuffer.h"
#include "engine/SnapshotInfo.h"
#include "engine/ThreadTable.h"
#include "engine/Tuning.h"
#include "engine/UniqueId.h"

namespace {

const char* const kCreateTag = "rkso_snapDevices";

// A stored capability: decimal bits, nothing else.
bool readCapability(const std::string& text, int& capability) {
    if (text.empty() || text.size() > 10) return false;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < 0 || value > 0x7FFFFFFF) return false;
    capability = static_cast<int>(value);
    return true;
}

class CreateRun {
  public:
    CreateRun(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil)
        : m_devices(devices), m_count(count), m_osUtil(osUtil) {}

    int run();

  private:
    enum class Setup { kReady, kStop };
    Setup setUp(short index, SnapshotInfo& entry);
    bool startWorker(SnapshotInfo& entry);

    RKSO::SnapInfo** m_devices;
    short m_count;
    RKSO::RKOSUtil* m_osUtil;
    bool m_parallel = true;
    bool m_groupMode = false;
    short m_engine = 0;
    int m_capability = 0;
    // Array records by array id: a record is reused only for devices of its own array.
    std::map<std::string, std::string> m_records;
    CallShared m_shared;
    // Declared before the threads, so that on every way out the workers are joined
    // before their entries go.
    std::unique_ptr<SnapshotInfo[]> m_entries;
    ThreadTable m_threads;
};

int CreateRun::run() {
    RKSO::SnapInfo* first = m_devices[0];
    first->logFormat(1, kCreateTag, " Starting snap/clone operation for [%d] devices",
                     static_cast<int>(m_count));
    int noParallel = 0;
    GetRegInt(nullptr, "LSI_SNAP_NO_PARALLEL", &noParallel);
    m_parallel = noParallel == 0;
    m_entries.reset(new (std::nothrow) SnapshotInfo[m_count]);
    if (!m_entries) {
        first->logFormat(2, kCreateTag, "Unable to allocate memory for thread objects");
        return 1;
    }
    if (!m_parallel) first->logFormat(1, kCreateTag, "Performing non-concurrent snap creation");

    m_engine = getSnapEngineType(first);
    std::string stored;
    if (!first->getMetaDataValue(RKSO::METADATA_ENGINE_CAPABILITY, stored) ||
        !readCapability(stored, m_capability)) {
        std::string vendor;
        if (!getSnapEngineVendorCapability(first, m_osUtil, m_engine, vendor, m_capability)) {
            first->logFormat(
                2, kCreateTag, "%s",
                ("Failed to get capabilities for snap engine id-[" + std::to_string(m_engine) + "]")
                    .c_str());
            first->setStatus(RKSO::SNAP_STATUS_CREATE_FAILED);
            return 1;
        }
    }

    for (short i = 0; i < m_count; ++i) {
        RKSO::SnapInfo* device = m_devices[i];
        Setup setup = Setup::kStop;
        try {
            setup = setUp(i, m_entries[i]);
        } catch (const std::exception& e) {
            device->logFormat(2, kCreateTag, "%s: Unexpected failure: %s", kCreateTag, e.what());
            device->setStatus(RKSO::SNAP_STATUS_CREATE_FAILED);
        } catch (...) {
            device->logFormat(2, kCreateTag, "%s: Unexpected failure", kCreateTag);
            device->setStatus(RKSO::SNAP_STATUS_CREATE_FAILED);
        }
        if (setup == Setup::kStop || !startWorker(m_entries[i])) break;
        // The followers of a consistency group record the group PiT of the first device.
        if (i == 0 && m_engine == RKSO::ENGINE_TYPE_PIT && m_groupMode) {
            m_shared.groupPiTName = m_entries[0].snapshot.m_PiTName;
            m_shared.groupPiTMade = device->getStatus() == RKSO::SNAP_STATUS_CREATED;
        }
    }
    m_threads.joinAll(kCreateTag, "SnapDevice Thread Joined");
    first->logFormat(0, kCreateTag, " Snap/clone operation completed");

    int created = 0;
    for (short i = 0; i < m_count; ++i)
        if (m_devices[i]->getStatus() == RKSO::SNAP_STATUS_CREATED) ++created;
    return rkso::resultFromSuccesses(created, m_count);
}

CreateRun::Setup CreateRun::setUp(short index, SnapshotInfo& entry) {
    RKSO::SnapInfo* device = m_devices[index];
    const bool pit = m_engine == RKSO::ENGINE_TYPE_PIT;
    // a. The identifier of the prepared device.
    rkso::HostText stored =
        rkso::readSizedText(RKSO::METADATA_BUFFER_SIZE, [device](char* buf, short* len) {
            return device->getMetaData(RKSO::METADATA_SNAP_UNIQUE_ID, buf, len);
        });
    if (stored.result == 1) {
        device->logFormat(2, kCreateTag, "Failed to get metadata [id : %d]",
                          RKSO::METADATA_SNAP_UNIQUE_ID);
        device->setStatus(RKSO::SNAP_STATUS_CREATE_FAILED);
        return Setup::kStop;
    }
    SnapUniqueIdFields f;
    if (!parseUniqueId(device, stored.text.c_str(), f.arrayId, f.snapOperation, f.servicePath,
                       f.sourceDev, f.sourceDevPath, f.targetDGPath, f.targetDev, f.targetDevPath,
                       f.pitName, f.consistencyGroupName)) {
        device->logFormat(2, kCreateTag, "%s: Failed to parse unique  identifier [%s]", kCreateTag,
                          stored.text.c_str());
        device->setStatus(RKSO::SNAP_STATUS_CREATE_FAILED);
        return Setup::kStop;
    }
    if (pit) {
        if (f.targetDev == "null") {
            f.targetDev.clear();
            f.targetDevPath.clear();
        }
        if (f.consistencyGroupName == "null") f.consistencyGroupName.clear();
    }
    // b. The snapshot object.
    LSISnapshot snap;
    snap.SetLogger(device);
    snap.SetSnapStatus(device->getStatus());
    snap.m_ServicePath = f.servicePath;
    const std::string snapName =
        rkso::readSizedText(RKSO::SNAP_NAME_BUFFER_SIZE, [device](char* buf, short* len) {
            return device->getSnapName(buf, len);
        }).text;
    // c. Array parameters, from the record of this device's array.
    if (!f.arrayId.empty()) device->setArrayName(f.arrayId.c_str());
    if (!initArrayParams(snap, device, f.arrayId, m_records[f.arrayId])) {
        device->logFormat(2, kCreateTag, "%s Failed to initialize the Array parameters",
                          kCreateTag);
        device->setStatus(RKSO::SNAP_STATUS_CREATE_FAILED);
        return Setup::kStop;
    }
    // d. Disk group.
    if (m_capability & RKSO::ENGINE_CAPABILITY_SNAPSHOT)
        device->logFormat(1, kCreateTag, "%s: Source Device [%s] Snap Name %s ", kCreateTag,
                          f.sourceDev.c_str(), snapName.c_str());
    const char* groupKey = "SMCONFIG_NAME_STORAGE_DEVICE_GROUP";
    const std::string diskGroup =
        rkso::readSizedText(RKSO::CONFIG_STRING_BUFFER_SIZE, [device, groupKey](char* buf,
                                                                                int* len) {
            device->getConfigString(groupKey, buf, len);
        }).text;
    o_logger.DebugLvl(kCreateTag, -1, " Array Config [%s:%s]", groupKey, diskGroup.c_str());
    if (!diskGroup.empty())
        device->logFormat(0, kCreateTag, "%s: Source Device [%s] Clone Group [%s]", kCreateTag,
                          f.sourceDev.c_str(), diskGroup.c_str());
    // e. The operation: what prepare built and recorded, where the engine has both kinds.
    RK_SMIS_SNAP::RkSnapParams params;
    if (pit) {
        snap.m_PiTOperation = 7;
        snap.m_ConsistencyGroupName = f.consistencyGroupName;
    } else {
        const int both = RKSO::ENGINE_CAPABILITY_SNAPSHOT | RKSO::ENGINE_CAPABILITY_CLONE;
        if ((m_capability & both) == both && (f.snapOperation == "4" || f.snapOperation == "5"))
            params.m_SnapOperation = f.snapOperation == "5" ? 5 : 4;
        else if (m_capability & RKSO::ENGINE_CAPABILITY_SNAPSHOT)
            params.m_SnapOperation = 4;
        else if (m_capability & RKSO::ENGINE_CAPABILITY_CLONE)
            params.m_SnapOperation = 5;
        else {
            device->logFormat(2, kCreateTag,
                              "%s: Failed : snapDevices received unknown snap capability "
                              "[%d]",
                              kCreateTag, m_capability);
            device->setStatus(RKSO::SNAP_STATUS_CREATE_FAILED);
            return Setup::kStop;
        }
        device->setSnapFlag(1);
    }
    // f. Snapshot parameters.
    params.m_SystemName = f.arrayId;
    params.m_ServicePath = f.servicePath;
    params.m_SourceDev = f.sourceDev;
    params.m_SourceDevPath = f.sourceDevPath;
    params.m_TargetDev = f.targetDev;
    params.m_TargetDevPath = f.targetDevPath;
    params.m_TargetDGPath = f.targetDGPath;
    params.m_SnapName = snapName;
    params.m_DiskGroupName = diskGroup;
    snap.SetSnapInfo(params);
    snap.SetCapability(m_capability);
    // g. Consistency group.
    if (pit && f.consistencyGroupName.size() > 1) {
        m_groupMode = true;
        snap.m_UseConsistencyGroup = true;
        device->logFormat(0, kCreateTag, "Consistency Group name [%s]",
                          f.consistencyGroupName.c_str());
        snap.m_CGFollower = index > 0;
        snap.m_PiTName = index == 0 ? f.pitName : m_shared.groupPiTName;
    }
    // h. The worker's entry.
    entry.osUtil = m_osUtil;
    entry.info = device;
    entry.snapshot = snap;
    entry.tag = kCreateTag;
    entry.shared = &m_shared;
    return Setup::kReady;
}

bool CreateRun::startWorker(SnapshotInfo& entry) {
    if (!m_parallel || m_groupMode) {
        snapDeviceThread(&entry);
        return true;
    }
    switch (m_threads.start(snapDeviceThread, &entry, entry.info)) {
        case ThreadTable::Start::kStarted:
            // The worker owns the device now; the line goes to the module log.
            o_logger.DebugLvl(kCreateTag, 0, "SnapDevice Thread created");
            return true;
        case ThreadTable::Start::kNoMemory:
            entry.info->logFormat(2, kCreateTag, "%s: Unable to allocate memory for thread object",
                                  kCreateTag);
            return false;
        case ThreadTable::Start::kRefused:
            entry.info->logFormat(2, kCreateTag, "%s: Unable to create thread", kCreateTag);
            return false;
    }
    return false;
}

// --- The worker ---

void createDevice(SnapshotInfo& entry) {
    RKSO::SnapInfo* device = entry.info;
    const char* tag = entry.tag.c_str();
    LSISnapshot snap = entry.snapshot;
    const int capability = snap.GetCapability();
    const bool pit = getSnapEngineType(device) == RKSO::ENGINE_TYPE_PIT;
    int outcome;
    if (!pit) {
        outcome = snap.SnapSyncOp(snap.GetSnapOperation() == 4 ? 4 : 2, false);
    } else if (snap.m_CGFollower) {
        // A follower is part of the group PiT the first device made, if it made one.
        if (entry.shared->groupPiTMade) {
            snap.m_PiTName = entry.shared->groupPiTName;
            outcome = RKSO::SNAP_STATUS_CREATED;
        } else {
            device->logFormat(2, tag, "%s: Consistency group PiT of the first device was not made",
                              tag);
            outcome = RKSO::SNAP_STATUS_CREATE_FAILED;
        }
    } else {
        outcome = snap.CreatePiT();
        if (snap.m_UseConsistencyGroup) {
            entry.snapshot.m_CGFollower = true;
            entry.snapshot.m_PiTName = snap.m_PiTName;
        }
    }
    if (pit && outcome == RKSO::SNAP_STATUS_CREATED) {
        device->logFormat(0, tag, "Created PIT [%s].", snap.m_PiTName.c_str());
        snap.m_TargetDev = "null";
        snap.m_TargetDevPath = "null";
        if (!snap.m_UseConsistencyGroup) snap.m_ConsistencyGroupName = "null";
    }
    if (outcome != RKSO::SNAP_STATUS_CREATED) {
        if (pit)
            device->logFormat(2, tag, "%s: PiT/CGPiT Creation failed", tag);
        else if (capability & RKSO::ENGINE_CAPABILITY_SNAPSHOT)
            device->logFormat(2, tag, "%s: Snap Creation failed", tag);
        else
            device->logFormat(2, tag, "%s: Clone Creation failed", tag);
        device->setStatus(RKSO::SNAP_STATUS_CREATE_FAILED);
        return;
    }
    device->logFormat(0, tag, "Successfully created snap/clone");
    rkso::writeIdentifier(device, tag, snap, pit);
    device->setStatus(RKSO::SNAP_STATUS_CREATED);
}

}  // namespace

void* snapDeviceThread(void* arg) {
    SnapshotInfo* entry = static_cast<SnapshotInfo*>(arg);
    if (!entry || !entry->info) return nullptr;
    try {
        createDevice(*entry);
    } catch (const std::exception& e) {
        entry->info->logFormat(2, entry->tag.c_str(), "Snap creation failed: %s", e.what());
        entry->info->setStatus(RKSO::SNAP_STATUS_CREATE_FAILED);
    } catch (...) {
        entry->info->logFormat(2, entry->tag.c_str(), "Snap creation failed");
        entry->info->setStatus(RKSO::SNAP_STATUS_CREATE_FAILED);
    }
    return nullptr;
}

namespace rkso {

int snapDevices(RKSO::SnapInfo** devices, short count, RKSO::RKOSUtil* osUtil) {
    if (!checkDevices(kCreateTag, devices, count)) return 1;
    CreateRun run(devices, count, osUtil);
    return run.run();
}

}  // namespace rkso
