// In-memory RKSO::RKOSUtil following the host buffer protocols; records every
// call and can be told to fail a named operation.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "rkso/SnapInfo.h"

namespace testsupport {

class FakeOSUtil : public RKSO::RKOSUtil {
  public:
    void setDevices(const std::string& starJoined);
    void setArrayList(const std::string& starJoined);
    void setArrayCredentials(const std::string& itemText);  // for every array
    // The record of one array, answered instead of the common one.
    void setArrayCredentialsFor(const std::string& arrayName, const std::string& itemText);
    void setHbas(const std::string& names, const std::string& kinds, short count);
    void setHba(const std::string& name, bool isIscsi);
    void setEngineId(short id);
    void setOperationType(short type);
    void failCall(const std::string& operation);
    // Makes the named grow-and-retry operation ask for a bigger buffer on every call.
    void keepGrowing(const std::string& operation);

    std::vector<std::string> calls() const;
    bool called(const std::string& operation) const;
    int callCount(const std::string& operation) const;

    void rescanDevices(const char* hostId, const char** listA, const char** listB) override;
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

  private:
    bool record(const char* operation);
    // The grow-and-retry answer for text; a growing operation never has room.
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
