// Host contract: the per-device request object, the host utility object and the
// status, metadata and engine vocabulary shared between a host and a snapshot plug-in.
// A host framework compiles against this header; the order of the virtual
// operations is part of the binary interface and must never change.
#pragma once

#include <string>

namespace RKSO {

// Per-device outcome, an int on the wire.
enum SnapStatus : int {
    SNAP_STATUS_RESET = 0,
    SNAP_STATUS_PREPARED = 1,
    SNAP_STATUS_PREPARE_FAILED = 2,
    SNAP_STATUS_UNPREPARED = 3,
    SNAP_STATUS_RESERVED_4 = 4,
    SNAP_STATUS_CREATED = 5,
    SNAP_STATUS_CREATE_FAILED = 6,
    SNAP_STATUS_CLONE_NOT_MAPPED = 7,
    SNAP_STATUS_RESERVED_8 = 8,
    SNAP_STATUS_MAPPED = 9,
    SNAP_STATUS_RESERVED_10 = 10,
    SNAP_STATUS_MAP_FAILED = 11,
    SNAP_STATUS_VISIBLE = 12,
    SNAP_STATUS_RESERVED_13 = 13,
    SNAP_STATUS_UNMAPPED = 14,
    SNAP_STATUS_UNMAP_FAILED = 15,
    SNAP_STATUS_RESERVED_16 = 16,
    SNAP_STATUS_RESERVED_17 = 17,
    SNAP_STATUS_RESERVED_18 = 18,
    SNAP_STATUS_RESERVED_19 = 19,
    SNAP_STATUS_DELETED = 20,
    SNAP_STATUS_DELETE_FAILED = 21,
    SNAP_STATUS_REVERTED = 22,
    SNAP_STATUS_REVERT_FAILED = 23,
    SNAP_STATUS_DELETED_OUTSIDE = 24,
};

// Kind of copy a snapshot object is asked about.
enum SNAP_TYPE : int {
    SNAP_TYPE_CLONE = 1,
    SNAP_TYPE_SNAPSHOT = 2,
};

// Metadata ids the host stores per device.
constexpr int METADATA_SNAP_UNIQUE_ID = 1;
constexpr int METADATA_ENGINE_CAPABILITY = 102;

// Snapshot engine types and capability bits.
constexpr short ENGINE_TYPE_PIT = 54;
constexpr short ENGINE_TYPE_CLONE = 17;
constexpr int ENGINE_CAPABILITY_SNAPSHOT = 1;
constexpr int ENGINE_CAPABILITY_CLONE = 2;

// Option bit of getSnapFlags: keep the PiT view on unmap, the PiT on delete.
constexpr int SNAP_FLAG_KEEP = 0x1000;

// Log levels of logMessage/logFormat.
constexpr int LOG_DETAIL = 0;
constexpr int LOG_PROGRESS = 1;
constexpr int LOG_ERROR = 2;

// Buffer sizes the plug-in presets for the size in/out operations.
constexpr short SNAP_NAME_BUFFER_SIZE = 1024;
constexpr short ARRAY_INFO_BUFFER_SIZE = 4096;
constexpr short DEVICE_PATH_BUFFER_SIZE = 1024;
constexpr short HOST_ID_BUFFER_SIZE = 1024;
constexpr short METADATA_BUFFER_SIZE = 4097;
constexpr int CONFIG_STRING_BUFFER_SIZE = 1023;

// One device of a request, owned by the host. "Buffer form" operations take a
// char buffer and a pointer to a short holding its size; the host writes a
// NUL-terminated text that fits the size.
class SnapInfo {
  public:
    virtual ~SnapInfo() = default;

    virtual int getSnapName(char* buf, short* len) = 0;
    virtual int getArrayInfo(char* buf, short* len) = 0;
    virtual int setArrayName(const char* arrayId) = 0;
    virtual int getHostId(char* buf, short* len) = 0;
    virtual void setSnapFlag(int flag) = 0;
    virtual int getSnapFlags() = 0;
    virtual SnapStatus getStatus() = 0;
    virtual void setStatus(SnapStatus status) = 0;
    virtual int getDevicePath(char* buf, short* len) = 0;
    virtual int getSnapDevicePath(char* buf, short* len) = 0;
    virtual void setSnapDevicePath(const char* path) = 0;
    // 1 = failure.
    virtual int getMetaData(int id, char* buf, short* len) = 0;
    // 1 = failure; a null value clears the id.
    virtual int setMetaData(int id, const char* value) = 0;
    virtual void setErrorInfo(int code, const char* msg) = 0;
    // msg and len may be null; a code of 0 means no error recorded.
    virtual void getErrorInfo(int* code, char* msg, short* len) = 0;
    virtual void logMessage(int level, const char* msg) = 0;
    virtual void logFormat(int level, const char* tag, const char* fmt, ...)
        __attribute__((format(printf, 4, 5))) = 0;
    virtual short getSnapEngineId() = 0;
    // value is preset with the caller's default, which stays when the key is absent.
    virtual void getConfigInt(const char* key, int* value) = 0;
    virtual void getConfigString(const char* key, char* buf, int* len) = 0;
    // 1 = failure.
    virtual int setMetaDataValue(int id, const char* value) = 0;
    virtual void getIntValue(int number, int* value) = 0;
    virtual int getControlHostId() = 0;
    virtual void getSourceDeviceName(std::string& name) = 0;
    // true = the id is present.
    virtual bool getMetaDataValue(int id, std::string& value) = 0;
    // true = the key is present.
    virtual bool getConfigValue(const std::string& key, std::string& value) = 0;
};

// Host operating-system and database utility, owned by the host. The
// grow-and-retry operations answer >0 with the number of bytes needed.
class RKOSUtil {
  public:
    virtual ~RKOSUtil() = default;

    // listA and listB are null-pointer-terminated arrays of texts.
    virtual void rescanDevices(const char* hostId, const char** listA, const char** listB) = 0;
    // >0 = size needed, 0 = done, <0 = failure.
    virtual short listDevices(const char* hostId, const char* vendor, char sep, int size,
                              char* buf) = 0;
    // >0 = size needed, 0 = done.
    virtual short getArrayList(const char* vendor, char sep, short size, char* buf) = 0;
    // 1 = success; null buffers ask for the sizes.
    virtual int queryHbaList(const char* hostId, const char* arrayId, char* names, short* namesLen,
                             char* kinds, short* kindsLen, short* count) = 0;
    // 1 = success; otherwise *len == 0 = failure, any other *len = size needed.
    virtual int queryHba(const char* hostId, const char* arrayId, char* buf, short* len,
                         bool* isIscsi) = 0;
    // >0 = size needed (also written to *len), 0 = done.
    virtual short getArrayCredentials(const char* arrayName, char* buf, short* len) = 0;
    virtual short getEngineId() = 0;
    virtual short getOperationType() = 0;

    // Engine information text (items "SnapVendorName", "Capabilities").
    // <0 = failure, 0 = done, >0 = size needed. Provided by the host library.
    short getEngineInfoByEngineID(int engineId, char* buf, short size);
};

}  // namespace RKSO
