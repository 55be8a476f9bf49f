// In-memory RKSO::RKOSUtil: host buffer protocols, every call recorded, failures on request.
#pragma once

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "rkso/SnapInfo.h"

namespace testsupport {

class FakeOSUtil : public RKSO::RKOSUtil {
  public:
    void setDevices(const std::string& starJoined) { set(m_devices, starJoined); }
    void setArrayList(const std::string& starJoined) { set(m_arrayList, starJoined); }
    // The array record of every array.
    void setArrayCredentials(const std::string& itemText) { set(m_credentials, itemText); }
    // The record of one array, answered instead of the common one.
    void setArrayCredentialsFor(const std::string& arrayName, const std::string& itemText) {
        set(m_credentialsFor[arrayName], itemText);
    }
    void setHbas(const std::string& names, const std::string& kinds, short count) {
        locked([&] { m_hbaNames = names, m_hbaKinds = kinds, m_hbaCount = count; });
    }
    void setHba(const std::string& name, bool iscsi) {
        locked([&] { m_hba = name, m_hbaIscsi = iscsi; });
    }
    void setEngineId(short id) { set(m_engineId, id); }
    void setOperationType(short type) { set(m_operationType, type); }
    void failCall(const std::string& operation) {
        locked([&] { m_failing.insert(operation); });
    }
    // Makes the named grow-and-retry operation ask for a bigger buffer on every call.
    void keepGrowing(const std::string& op) {
        locked([&] { m_growing.insert(op); });
    }
    std::vector<std::string> calls() const {
        return locked([&] { return m_calls; });
    }
    int callCount(const std::string& op) const {
        return locked(
            [&] { return static_cast<int>(std::count(m_calls.begin(), m_calls.end(), op)); });
    }
    void rescanDevices(const char*, const char**, const char**) override;
    short listDevices(const char* hostId, const char* vendor, char sep, int size,
                      char* buf) override;
    short getArrayList(const char* vendor, char sep, short size, char* buf) override;
    int queryHbaList(const char* hostId, const char* arrayId, char* names, short* namesLen,
                     char* kinds, short* kindsLen, short* count) override;
    int queryHba(const char* hostId, const char* arrayId, char* buf, short* len,
                 bool* isIscsi) override;
    short getArrayCredentials(const char* arrayName, char* buf, short* len) override;
    short getEngineId() override;
    short getOperationType() override;

  protected:
    // Grow-and-retry answers: the size needed when the buffer cannot take the text and
    // its NUL, else 0 (or 1 for the HBA queries) with the text copied.
    static short answer(const std::string& text, char* buf, int size);
    static int hbaListAnswer(const std::string& joined, const std::string& kindBytes, char* names,
                             short* namesLen, char* kinds, short* kindsLen);
    static int hbaAnswer(const std::string& name, bool iscsi, char* buf, short* len, bool* isIscsi);

  private:
    template <class F>
    auto locked(F f) const -> decltype(f()) {
        std::lock_guard<std::mutex> l(m_mu);
        return f();
    }
    template <class T, class V>
    void set(T& field, const V& v) {
        locked([&] { field = v; });
    }
    bool record(const char* operation);
    // answer(), except that a growing operation never has room.
    short answerFor(const char* operation, const std::string& text, char* buf, int size) const;
    mutable std::mutex m_mu;
    std::string m_devices;
    std::string m_arrayList;
    std::string m_credentials;
    std::map<std::string, std::string> m_credentialsFor;
    std::set<std::string> m_growing;
    std::string m_hbaNames, m_hbaKinds;
    short m_hbaCount = 0;
    std::string m_hba;
    bool m_hbaIscsi = false;
    short m_engineId = 0;
    short m_operationType = 0;
    std::vector<std::string> m_calls;
    std::set<std::string> m_failing;
};

}  // namespace testsupport
