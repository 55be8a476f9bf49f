#include "Host.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "App.h"
#include "rkso/EvDebug.h"
#include "rkso/RKPassword.h"
#include "rkso/RkDeviceTree.h"

namespace rksnap {
namespace {

// Writes text into a size in/out buffer; 1 when it does not fit (never cut short).
int copyOut(const std::string& text, char* buf, int capacity) {
    if (!buf || capacity <= 0) return 1;
    if (text.size() + 1 > static_cast<size_t>(capacity)) {
        buf[0] = '\0';
        return 1;
    }
    std::memcpy(buf, text.c_str(), text.size() + 1);
    return 0;
}

// Grow-and-retry: 0 done, else the size needed.
short growAnswer(const std::string& text, char* buf, int size) {
    const size_t need = text.size() + 1;
    if (need > 32767) return -1;
    if (!buf || size < 0 || static_cast<size_t>(size) < need) return static_cast<short>(need);
    std::memcpy(buf, text.c_str(), need);
    return 0;
}

std::string wipeable(std::vector<char>& plain) {
    std::string s(plain.data());
    std::fill(plain.begin(), plain.end(), '\0');
    return s;
}

}  // namespace

void dieAt(const std::string& op, const std::string& event) {
    const char* at = std::getenv("RKSNAP_DIE_AT");
    if (at && op + ":" + event == at) ::raise(SIGKILL);
}

std::string arrayRecord(const ArrayEntry& a, const std::string& keyFile, short engineId,
                        std::string* error) {
    std::vector<char> plain(4100, '\0');
    RKPassword passwords(keyFile);
    if (!passwords.decrypt(a.password.c_str(), plain.data(), plain.size())) {
        *error = "cannot decrypt the password of array '" + a.name +
                 "': " + passwords.getLastError() + " (rksnap array set-password " + a.name + ")";
        return std::string();
    }
    std::string password = wipeable(plain);
    std::string text = "{arrayId:" + a.arrayId + ",hostName:" + a.address +
                       ",hostUserName:" + a.user + ",hostPassword:" + password +
                       ",engineId:" + std::to_string(engineId) + "}";
    std::fill(password.begin(), password.end(), '\0');
    return text;
}

HostDevice::HostDevice(CallContext& call, DeviceRecord record)
    : m_call(call), m_rec(std::move(record)) {}

HostDevice::~HostDevice() = default;

DeviceRecord HostDevice::record() const {
    std::lock_guard<std::mutex> l(m_mu);
    return m_rec;
}

std::string HostDevice::selectedArray() const {
    std::lock_guard<std::mutex> l(m_mu);
    return m_selectedArray;
}

std::string HostDevice::arrayProblem() const {
    std::lock_guard<std::mutex> l(m_mu);
    return m_arrayProblem;
}

std::string HostDevice::lastErrorLine() const {
    std::lock_guard<std::mutex> l(m_mu);
    return m_lastErrorLine;
}

void HostDevice::save() {
    m_rec.lastOpAt = nowSeconds();
    if (m_call.records && !m_call.records->saveDevice(m_rec))
        EvDebug().DebugLvl("rksnap", 2, "cannot record device %s: %s", m_rec.device.c_str(),
                           m_call.records->lastError().c_str());
}

void HostDevice::log(int level, const std::string& tag, const std::string& text) {
    EvDebug().DebugLvl(tag.empty() ? "rksnap" : tag.c_str(), level, "%s: %s", m_rec.device.c_str(),
                       text.c_str());
    if (m_call.records)
        m_call.records->addLog(m_call.callId, m_rec.snapId, m_rec.position, level, tag, text);
    if (level >= 1 && m_call.onProgress) m_call.onProgress(m_rec.device + ": " + text);
    if (level >= 2) {
        std::lock_guard<std::mutex> l(m_mu);
        m_lastErrorLine = text;
    }
}

int HostDevice::getSnapName(char* buf, short* len) {
    return len ? copyOut(m_call.snapName, buf, *len) : 1;
}

// The array of this device: the one the plug-in selected, else the one of its
// identifier, else the snapshot's.
std::string HostDevice::arrayText() {
    std::string id = m_selectedArray;
    if (id.empty()) id = m_rec.uniqueId.substr(0, m_rec.uniqueId.find('*'));
    if (id.empty()) id = m_refusedArray;
    ArrayEntry array;
    if (!(!id.empty() && m_call.config->findArray(id, &array)) &&
        !(!m_call.arrayName.empty() && m_call.config->findArray(m_call.arrayName, &array))) {
        m_arrayProblem = id.empty() ? "no array known for this device"
                                    : "volume is on array " + id +
                                          ", which is not configured (rksnap array add)";
        return std::string();
    }
    std::string why;
    std::string text = arrayRecord(array, m_call.keyFile, m_call.engineId, &why);
    if (text.empty()) m_arrayProblem = why;
    return text;
}

int HostDevice::getArrayInfo(char* buf, short* len) {
    std::lock_guard<std::mutex> l(m_mu);
    if (!len) return 1;
    std::string text = arrayText();
    int rc = text.empty() ? 1 : copyOut(text, buf, *len);
    std::fill(text.begin(), text.end(), '\0');
    return rc;
}

int HostDevice::setArrayName(const char* arrayId) {
    std::lock_guard<std::mutex> l(m_mu);
    if (!arrayId) return 1;
    ArrayEntry array;
    if (!m_call.config->findArray(arrayId, &array)) {
        m_refusedArray = arrayId;
        m_arrayProblem = std::string("volume is on array ") + arrayId +
                         ", which is not configured (rksnap array add)";
        return 1;
    }
    m_selectedArray = array.arrayId;
    return 0;
}

int HostDevice::getHostId(char* buf, short* len) {
    char name[256] = {};
    if (!len || gethostname(name, sizeof name - 1) != 0) return 1;
    return copyOut(name, buf, *len);
}

void HostDevice::setSnapFlag(int flag) {
    std::lock_guard<std::mutex> l(m_mu);
    (void)flag;  // the plug-in marks the kind of copy; the engine is recorded already
}

int HostDevice::getSnapFlags() {
    return m_call.snapFlags;
}

RKSO::SnapStatus HostDevice::getStatus() {
    std::lock_guard<std::mutex> l(m_mu);
    return static_cast<RKSO::SnapStatus>(m_rec.status);
}

void HostDevice::setStatus(RKSO::SnapStatus status) {
    std::lock_guard<std::mutex> l(m_mu);
    dieAt(m_call.op, statusName(status));
    m_rec.status = status;
    save();
}

int HostDevice::getDevicePath(char* buf, short* len) {
    std::lock_guard<std::mutex> l(m_mu);
    return len ? copyOut(m_rec.device, buf, *len) : 1;
}

int HostDevice::getSnapDevicePath(char* buf, short* len) {
    std::lock_guard<std::mutex> l(m_mu);
    return len ? copyOut(m_rec.snapDevice, buf, *len) : 1;
}

void HostDevice::setSnapDevicePath(const char* path) {
    std::lock_guard<std::mutex> l(m_mu);
    m_rec.snapDevice = path ? path : "";
    save();
}

int HostDevice::getMetaData(int id, char* buf, short* len) {
    std::lock_guard<std::mutex> l(m_mu);
    if (!len) return 1;
    const std::string* value = id == RKSO::METADATA_SNAP_UNIQUE_ID      ? &m_rec.uniqueId
                               : id == RKSO::METADATA_ENGINE_CAPABILITY ? &m_rec.capability
                                                                        : nullptr;
    if (!value || value->empty()) {
        copyOut("", buf, *len);
        return 1;
    }
    return copyOut(*value, buf, *len);
}

int HostDevice::setMetaData(int id, const char* value) {
    std::lock_guard<std::mutex> l(m_mu);
    std::string* slot = id == RKSO::METADATA_SNAP_UNIQUE_ID      ? &m_rec.uniqueId
                        : id == RKSO::METADATA_ENGINE_CAPABILITY ? &m_rec.capability
                                                                 : nullptr;
    if (!slot) return 1;
    std::string v = value ? value : "";
    if (v.size() > 4096) return 1;
    if (id == RKSO::METADATA_SNAP_UNIQUE_ID) dieAt(m_call.op, "identifier");
    *slot = v;
    save();
    return 0;
}

int HostDevice::setMetaDataValue(int id, const char* value) {
    return setMetaData(id, value);
}

bool HostDevice::getMetaDataValue(int id, std::string& value) {
    std::lock_guard<std::mutex> l(m_mu);
    const std::string* slot = id == RKSO::METADATA_SNAP_UNIQUE_ID      ? &m_rec.uniqueId
                              : id == RKSO::METADATA_ENGINE_CAPABILITY ? &m_rec.capability
                                                                       : nullptr;
    if (!slot || slot->empty()) return false;
    value = *slot;
    return true;
}

void HostDevice::setErrorInfo(int code, const char* msg) {
    std::string text = msg ? msg : "";
    {
        std::lock_guard<std::mutex> l(m_mu);
        m_rec.errorCode = code;
        m_rec.errorText = text;
        save();
    }
    log(2, "setErrorInfo", "error " + std::to_string(code) + ": " + text);
}

void HostDevice::getErrorInfo(int* code, char* msg, short* len) {
    std::lock_guard<std::mutex> l(m_mu);
    if (code) *code = m_rec.errorCode;
    if (msg && len)
        copyOut(m_rec.errorText.substr(0, static_cast<size_t>(std::max<short>(*len, 1) - 1)), msg,
                *len);
}

void HostDevice::logMessage(int level, const char* msg) {
    log(level, std::string(), msg ? msg : "");
}

void HostDevice::logFormat(int level, const char* tag, const char* fmt, ...) {
    if (!fmt) return;
    char text[8192];
    va_list args;
    va_start(args, fmt);
    int n = std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    if (n < 0) return;
    log(level, tag ? tag : "", text);
}

short HostDevice::getSnapEngineId() {
    return m_call.engineId;
}

// Snap configuration of this device: the array's settings, then the call's.
bool HostDevice::configValue(const std::string& key, std::string* value) {
    ArrayEntry array;
    std::string id = m_selectedArray.empty() ? m_rec.uniqueId.substr(0, m_rec.uniqueId.find('*'))
                                             : m_selectedArray;
    bool known = (!id.empty() && m_call.config->findArray(id, &array)) ||
                 (!m_call.arrayName.empty() && m_call.config->findArray(m_call.arrayName, &array));
    if (key == "SMCONFIG_NAME_USE_CONSISTENCY_GROUP") {
        *value = m_call.consistencyGroup ? "1" : "0";
        return true;
    }
    if (!known) return false;
    if (key == "SMCONFIG_NAME_SMIS_SERVER_PORT") {
        *value = std::to_string(array.effectivePort());
        return true;
    }
    if (key == "SMCONFIG_NAME_USE_SECURE_CONNECTION_TO_SMIS_SERVER") {
        *value = array.https ? "1" : "0";
        return true;
    }
    if (key == "SMCONFIG_NAME_SMIS_NAMESPACE") {
        if (array.nameSpace.empty()) return false;
        *value = array.nameSpace;
        return true;
    }
    if (key == "SMCONFIG_NAME_LSI_ARRAY_PASSWORD") {
        if (array.arrayPassword.empty()) return false;
        *value = array.arrayPassword;  // stays encrypted; the plug-in decrypts it
        return true;
    }
    const std::string section = arraySection(array.name);
    if (m_call.config->has(section, key)) {
        *value = m_call.config->get(section, key);
        return true;
    }
    return false;
}

void HostDevice::getConfigInt(const char* key, int* value) {
    if (!key || !value) return;
    std::lock_guard<std::mutex> l(m_mu);
    std::string text;
    if (!configValue(key, &text)) return;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() && *end == '\0') *value = static_cast<int>(v);
}

void HostDevice::getConfigString(const char* key, char* buf, int* len) {
    if (!key || !len) return;
    std::lock_guard<std::mutex> l(m_mu);
    std::string text;
    configValue(key, &text);
    copyOut(text, buf, *len);
}

bool HostDevice::getConfigValue(const std::string& key, std::string& value) {
    std::lock_guard<std::mutex> l(m_mu);
    return configValue(key, &value);
}

void HostDevice::getIntValue(int number, int* value) {
    if (!value) return;
    // Consistency group names are built from these two; they differ per request.
    if (number == 18) *value = static_cast<int>(m_rec.snapId);
    if (number == 1) *value = static_cast<int>(m_call.callId);
}

int HostDevice::getControlHostId() {
    return m_call.controlHostId;
}

void HostDevice::getSourceDeviceName(std::string& name) {
    std::lock_guard<std::mutex> l(m_mu);
    name = m_rec.device;
}

void HostUtil::rescanDevices(const char*, const char**, const char**) {
    CUxError error;
    if (!RkDeviceTree::rescan(error))
        EvDebug().DebugLvl("rksnap", 2, "rescan failed: %s", error.AsString().c_str());
}

short HostUtil::listDevices(const char*, const char*, char sep, int size, char* buf) {
    std::vector<RkBlockDevice> devices;
    CUxError error;
    if (!RkDeviceTree::listDevices(devices, error)) {
        EvDebug().DebugLvl("rksnap", 2, "cannot list devices: %s", error.AsString().c_str());
        return -1;
    }
    std::string text;
    for (const RkBlockDevice& d : devices)
        text += (text.empty() ? "" : std::string(1, sep)) + d.name;
    return growAnswer(text, buf, size);
}

short HostUtil::getArrayList(const char*, char sep, short size, char* buf) {
    std::string text;
    for (const ArrayEntry& a : m_call.config->arrays())
        text += (text.empty() ? "" : std::string(1, sep)) + a.name;
    return growAnswer(text, buf, size);
}

int HostUtil::queryHbaList(const char*, const char*, char* names, short* namesLen, char* kinds,
                           short* kindsLen, short* count) {
    if (!namesLen || !kindsLen || !count) return 0;
    std::vector<RkInitiatorPort> ports;
    CUxError error;
    if (!RkDeviceTree::getInitiatorPorts(ports, error) || ports.empty()) {
        *namesLen = 0;
        return 0;
    }
    std::string list, kindBytes;
    for (const RkInitiatorPort& p : ports) {
        list += (list.empty() ? "" : ",") + p.name;
        kindBytes += p.iscsi ? '\1' : '\0';
    }
    const short needNames = static_cast<short>(std::min<size_t>(list.size() + 1, 32767));
    const short needKinds = static_cast<short>(std::min<size_t>(kindBytes.size() + 1, 32767));
    *count = static_cast<short>(ports.size());
    if (!names || !kinds || *namesLen < needNames || *kindsLen < needKinds) {
        *namesLen = needNames;
        *kindsLen = needKinds;
        return 0;
    }
    std::memcpy(names, list.c_str(), list.size() + 1);
    std::memcpy(kinds, kindBytes.data(), kindBytes.size());
    kinds[kindBytes.size()] = '\0';
    return 1;
}

int HostUtil::queryHba(const char*, const char*, char* buf, short* len, bool* isIscsi) {
    if (!len) return 0;
    std::vector<RkInitiatorPort> ports;
    CUxError error;
    if (!RkDeviceTree::getInitiatorPorts(ports, error) || ports.empty()) {
        *len = 0;
        return 0;
    }
    // The kind the host uses is the kind of its first port.
    const std::string& name = ports.front().name;
    const short need = static_cast<short>(name.size() + 1);
    if (!buf || *len < need) {
        *len = need;
        return 0;
    }
    std::memcpy(buf, name.c_str(), name.size() + 1);
    if (isIscsi) *isIscsi = ports.front().iscsi;
    return 1;
}

short HostUtil::getArrayCredentials(const char* arrayName, char* buf, short* len) {
    ArrayEntry array;
    if (!len || !arrayName || !m_call.config->findArray(arrayName, &array)) return -1;
    std::string why;
    std::string text = arrayRecord(array, m_call.keyFile, m_call.engineId, &why);
    if (text.empty()) return -1;
    short rc = growAnswer(text, buf, *len);
    std::fill(text.begin(), text.end(), '\0');
    if (rc > 0) *len = rc;
    return rc;
}

}  // namespace rksnap
