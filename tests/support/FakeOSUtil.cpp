#include "testsupport/FakeOSUtil.h"

#include <cstring>

namespace testsupport {

using Lock = std::lock_guard<std::mutex>;

bool FakeOSUtil::record(const char* op) {
    m_calls.push_back(op);
    return m_failing.count(op) != 0;
}

short FakeOSUtil::answer(const std::string& text, char* buf, int size) {
    int need = static_cast<int>(text.size()) + 1;
    if (!buf || size < need) return static_cast<short>(need);
    std::memcpy(buf, text.c_str(), static_cast<size_t>(need));
    return 0;
}

int FakeOSUtil::hbaListAnswer(const std::string& joined, const std::string& kindBytes, char* names,
                              short* namesLen, char* kinds, short* kindsLen) {
    const short needNames = static_cast<short>(joined.size() + 1);
    const short needKinds = static_cast<short>(kindBytes.size() + 1);
    if (!names || !kinds || *namesLen < needNames || *kindsLen < needKinds) {
        *namesLen = needNames;
        *kindsLen = needKinds;
        return 0;
    }
    std::memcpy(names, joined.c_str(), static_cast<size_t>(needNames));
    std::memcpy(kinds, kindBytes.c_str(), static_cast<size_t>(needKinds));
    return 1;
}

int FakeOSUtil::hbaAnswer(const std::string& name, bool iscsi, char* buf, short* len,
                          bool* isIscsi) {
    const short need = static_cast<short>(name.size() + 1);
    if (!buf || *len < need) {
        *len = need;
        return 0;
    }
    std::memcpy(buf, name.c_str(), static_cast<size_t>(need));
    if (isIscsi) *isIscsi = iscsi;
    return 1;
}

short FakeOSUtil::answerFor(const char* op, const std::string& text, char* buf, int size) const {
    if (m_growing.count(op)) return static_cast<short>(std::min(size + 64, 32000));
    return answer(text, buf, size);
}

void FakeOSUtil::rescanDevices(const char*, const char**, const char**) {
    Lock l(m_mu);
    record("rescanDevices");
}

short FakeOSUtil::listDevices(const char*, const char*, char, int size, char* buf) {
    Lock l(m_mu);
    if (record("listDevices")) return -1;
    return answerFor("listDevices", m_devices, buf, size);
}

short FakeOSUtil::getArrayList(const char*, char, short size, char* buf) {
    Lock l(m_mu);
    if (record("getArrayList")) return -1;
    return answerFor("getArrayList", m_arrayList, buf, size);
}

int FakeOSUtil::queryHbaList(const char*, const char*, char* names, short* namesLen, char* kinds,
                             short* kindsLen, short* count) {
    Lock l(m_mu);
    if (record("queryHbaList") || !namesLen || !kindsLen || !count) return 0;
    *count = m_hbaCount;
    return hbaListAnswer(m_hbaNames, m_hbaKinds, names, namesLen, kinds, kindsLen);
}

int FakeOSUtil::queryHba(const char*, const char*, char* buf, short* len, bool* isIscsi) {
    Lock l(m_mu);
    if (!len) return 0;
    if (record("queryHba")) {
        *len = 0;
        return 0;
    }
    return hbaAnswer(m_hba, m_hbaIscsi, buf, len, isIscsi);
}

short FakeOSUtil::getArrayCredentials(const char* arrayName, char* buf, short* len) {
    Lock l(m_mu);
    if (record("getArrayCredentials") || !len) return -1;
    auto own = m_credentialsFor.find(arrayName ? arrayName : "");
    short rc = answerFor("getArrayCredentials",
                         own != m_credentialsFor.end() ? own->second : m_credentials, buf, *len);
    if (rc > 0) *len = rc;
    return rc;
}

short FakeOSUtil::getEngineId() {
    Lock l(m_mu);
    record("getEngineId");
    return m_engineId;
}

short FakeOSUtil::getOperationType() {
    Lock l(m_mu);
    record("getOperationType");
    return m_operationType;
}

}  // namespace testsupport
