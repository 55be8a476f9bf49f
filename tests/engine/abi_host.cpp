// A host framework in miniature: built only against include/rkso, it loads the
// plug-in given on the command line with dlopen and drives it through dlsym'd names.
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "rkso/EvDebug.h"
#include "rkso/rkso.h"

namespace {

int g_failures = 0;

struct Line {
    int level;
    std::string tag;
    std::string text;
};

// The host's debug log, as the plug-in writes it where no device is at hand.
std::vector<Line> g_moduleLog;

void captureModuleLog(void*, const char* tag, int level, const char* text) {
    g_moduleLog.push_back({level, tag ? tag : "", text ? text : ""});
}

bool hasLine(const std::vector<Line>& lines, int level, const std::string& tag,
             const std::string& text) {
    for (const Line& l : lines)
        if (l.level == level && l.tag == tag && l.text == text) return true;
    std::fprintf(stderr, "missing line [%d] %s: %s\n", level, tag.c_str(), text.c_str());
    return false;
}

#define CHECK(cond)                                                                       \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++g_failures;                                                                 \
        }                                                                                 \
    } while (0)

class HostDevice : public RKSO::SnapInfo {
  public:
    std::map<int, std::string> metadata;
    RKSO::SnapStatus status = RKSO::SNAP_STATUS_RESET;
    int calls = 0;
    int setMetaDataCalls = 0;
    int errorCode = 0;
    std::vector<Line> log;

    int getSnapName(char* b, short* l) override { return text(b, l, "snap"); }
    int getArrayInfo(char* b, short* l) override { return text(b, l, "{engineId:54}"); }
    int setArrayName(const char*) override { return ++calls, 0; }
    int getHostId(char* b, short* l) override { return text(b, l, "host"); }
    void setSnapFlag(int) override { ++calls; }
    int getSnapFlags() override { return ++calls, 0; }
    RKSO::SnapStatus getStatus() override { return ++calls, status; }
    void setStatus(RKSO::SnapStatus s) override { ++calls, status = s; }
    int getDevicePath(char* b, short* l) override { return text(b, l, "/dev/sdx"); }
    int getSnapDevicePath(char* b, short* l) override { return text(b, l, ""); }
    void setSnapDevicePath(const char*) override { ++calls; }
    int getMetaData(int id, char* b, short* l) override {
        auto it = metadata.find(id);
        return text(b, l, it == metadata.end() ? "" : it->second.c_str());
    }
    int setMetaData(int id, const char* v) override {
        ++calls;
        ++setMetaDataCalls;
        if (v)
            metadata[id] = v;
        else
            metadata.erase(id);
        return 0;
    }
    void setErrorInfo(int code, const char*) override { ++calls, errorCode = code; }
    void getErrorInfo(int* code, char*, short*) override {
        ++calls;
        if (code) *code = errorCode;
    }
    void logMessage(int level, const char* msg) override {
        ++calls;
        log.push_back({level, "", msg ? msg : ""});
    }
    void logFormat(int level, const char* tag, const char* fmt, ...) override {
        ++calls;
        char buf[4096];
        va_list ap;
        va_start(ap, fmt);
        std::vsnprintf(buf, sizeof buf, fmt, ap);
        va_end(ap);
        log.push_back({level, tag ? tag : "", buf});
    }
    short getSnapEngineId() override { return ++calls, 54; }
    void getConfigInt(const char*, int*) override { ++calls; }
    void getConfigString(const char*, char* b, int* l) override {
        ++calls;
        if (b && l && *l > 0) b[0] = '\0';
    }
    int setMetaDataValue(int id, const char* v) override { return setMetaData(id, v); }
    void getIntValue(int, int*) override { ++calls; }
    int getControlHostId() override { return ++calls, 1; }
    void getSourceDeviceName(std::string& n) override { ++calls, n = "/dev/sdx"; }
    bool getMetaDataValue(int id, std::string& v) override {
        ++calls;
        auto it = metadata.find(id);
        if (it == metadata.end()) return false;
        v = it->second;
        return true;
    }
    bool getConfigValue(const std::string&, std::string&) override { return ++calls, false; }

  private:
    int text(char* b, short* l, const char* value) {
        ++calls;
        if (!b || !l || *l <= 0) return 1;
        std::snprintf(b, static_cast<size_t>(*l), "%s", value);
        return 0;
    }
};

class HostUtil : public RKSO::RKOSUtil {
  public:
    int calls = 0;
    void rescanDevices(const char*, const char**, const char**) override { ++calls; }
    short listDevices(const char*, const char*, char, int, char*) override { return ++calls, -1; }
    short getArrayList(const char*, char, short, char*) override { return ++calls, -1; }
    int queryHbaList(const char*, const char*, char*, short*, char*, short*, short*) override {
        return ++calls, 0;
    }
    int queryHba(const char*, const char*, char*, short*, bool*) override { return ++calls, 0; }
    short getArrayCredentials(const char*, char*, short*) override { return ++calls, -1; }
    short getEngineId() override { return ++calls, 54; }
    short getOperationType() override { return ++calls, 0; }
};

template <typename Fn>
Fn find(void* lib, const char* name) {
    void* sym = dlsym(lib, name);
    if (!sym) {
        std::fprintf(stderr, "missing export %s\n", name);
        ++g_failures;
    }
    return reinterpret_cast<Fn>(sym);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PLUGIN.so\n", argv[0]);
        return 2;
    }
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }

    auto version = find<rkso_version_fn>(lib, "rkso_version");
    auto isSupported = find<rkso_isSupported_fn>(lib, "rkso_isSupported");
    auto identify = find<rkso_identifyDevices_fn>(lib, "rkso_identifyDevices");
    auto unprepare = find<rkso_devices_fn>(lib, "rkso_unprepareDevices");
    const char* deviceArray[] = {"rkso_prepareDevices", "rkso_snapDevices",   "rkso_isMapped",
                                 "rkso_mapSnaps",       "rkso_unmapSnaps",    "rkso_revertSnaps",
                                 "rkso_deleteSnaps",    "rkso_reconcileSnaps"};
    std::vector<rkso_devices_fn> calls;
    for (const char* name : deviceArray) calls.push_back(find<rkso_devices_fn>(lib, name));
    if (g_failures) return 1;
    CHECK(isSupported != nullptr);
    CHECK(dlsym(lib, "_Z12rkso_versionPtS_S_") == nullptr);  // names are unmangled only

    unsigned short major = 7, minor = 7, patch = 7;
    version(&major, &minor, &patch);
    CHECK(major == 1 && minor == 0 && patch == 0);
    unsigned short untouched = 7;
    version(&untouched, nullptr, &untouched);
    CHECK(untouched == 7);

    // Unprepare: status 3 and id 1 cleared, also on a device that never had one.
    HostDevice written, never;
    written.metadata[1] = "A*7*svc*SRC*spath*dg*null*null*PIT*null";
    RKSO::SnapInfo* both[] = {&written, &never};
    HostUtil util;
    CHECK(unprepare(both, 2, &util) == 0);
    CHECK(written.status == RKSO::SNAP_STATUS_UNPREPARED);
    CHECK(never.status == RKSO::SNAP_STATUS_UNPREPARED);
    CHECK(written.metadata.count(1) == 0);
    CHECK(never.setMetaDataCalls == 1 && never.metadata.count(1) == 0);
    CHECK(util.calls == 0);

    // A zero-count call of every device-array entry point: result 1, no device touched.
    HostDevice untouchedDevice;
    RKSO::SnapInfo* one[] = {&untouchedDevice};
    for (size_t i = 0; i < calls.size(); ++i) {
        int rc = calls[i](one, 0, &util);
        if (rc != 1) std::fprintf(stderr, "%s returned %d\n", deviceArray[i], rc);
        CHECK(rc == 1);
    }
    RksoDevicesByModel byModel;
    CHECK(identify(one, 0, &byModel, 0, nullptr, &util) == 1);
    CHECK(untouchedDevice.calls == 0);
    CHECK(util.calls == 0);

    // Start lines and levels of the device-array entry points, on the first device.
    struct Start {
        int level;
        const char* text;
    };
    const Start starts[] = {
        {1, "Starting to prepare [2] snapshot(s)/clone(s)."},
        {1, " Starting snap/clone operation for [2] devices"},
        {0, "Going to check if [2] snap/clone device(s) is mapped"},
        {0, "Going to map [2] snap/clone device(s) to the host"},
        {0, "Going to unmap [2] snap/clone device(s) from the host"},
        {0,
         "Going to restore/reverse sync snap/clone device. If the operation fails, please check "
         "LSI provider capability"},
        {1, "Going to delete [2] snap / clone device{s]"},
        {0, "Going to check [2] snap / clone device{s] status on the Storage Array"},
    };
    for (size_t i = 0; i < calls.size(); ++i) {
        HostDevice first, second;
        RKSO::SnapInfo* pair[] = {&first, &second};
        calls[i](pair, 2, &util);
        CHECK(!first.log.empty() && first.log[0].level == starts[i].level &&
              first.log[0].tag == deviceArray[i] && first.log[0].text == starts[i].text);
    }

    EvDebug::setSink(captureModuleLog, nullptr);
    CHECK(isSupported(nullptr, 0, &util, nullptr, 0) == 1);
    CHECK(hasLine(g_moduleLog, -1, "rkso_isSupported",
                  "Function called with NULL character device name"));

    // rkso_identifyDevices: its own texts under the tag "LSI", result 1 for a bad call.
    HostDevice a, b;
    RKSO::SnapInfo* ab[] = {&a, &b};
    RKSO::SnapInfo* holed[] = {&a, nullptr};
    CHECK(identify(ab, 0, &byModel, 3, nullptr, &util) == 1);
    CHECK(hasLine(g_moduleLog, -1, "LSI", "Device count[0] not valid"));
    CHECK(identify(nullptr, 2, &byModel, 3, nullptr, &util) == 1);
    CHECK(hasLine(g_moduleLog, -1, "LSI", "Device list is null"));
    CHECK(identify(ab, 2, &byModel, 3, nullptr, nullptr) == 1);
    CHECK(hasLine(g_moduleLog, -1, "LSI", "Snap util object is null"));
    CHECK(identify(holed, 2, &byModel, 3, nullptr, &util) == 1);
    CHECK(hasLine(g_moduleLog, -1, "LSI", "Invalid snapInfo pointer."));
    CHECK(a.log.empty() && b.calls == 0);
    // Another operation than 3 is done at once; 3 with no listed device finds none.
    CHECK(identify(ab, 2, &byModel, 2, nullptr, &util) == 0);
    CHECK(hasLine(a.log, 1, "LSI", "Starting to identify [2] devices."));
    CHECK(identify(ab, 2, &byModel, 3, nullptr, &util) == 0);
    CHECK(hasLine(a.log, 1, "LSI",
                  "None of the mounted devices belongs to vendor [NETAPP  ] and product "
                  "[INF-01-00       ]"));
    CHECK(byModel.empty());
    EvDebug::setSink(nullptr, nullptr);

    dlclose(lib);
    if (g_failures) {
        std::fprintf(stderr, "%d check(s) failed\n", g_failures);
        return 1;
    }
    std::printf("plug-in ABI checks passed\n");
    return 0;
}
