// A host utility whose devices, rescans and ports are the host device tree's.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "rkso/RkDeviceTree.h"
#include "testsupport/FakeOSUtil.h"

namespace testsupport {

class FabricOSUtil : public FakeOSUtil {
  public:
    // The host lists no device at all (as if the new LUN never showed).
    std::atomic<bool> hideDevices{false};
    // Every device is listed twice, as a host listing each path would.
    std::atomic<bool> listTwice{false};
    int rescans() const { return m_rescans.load(); }
    void rescanDevices(const char*, const char**, const char**) override {
        ++m_rescans;
        CUxError error;
        RkDeviceTree::rescan(error);
    }
    short listDevices(const char*, const char*, char sep, int size, char* buf) override {
        std::vector<RkBlockDevice> devices;
        CUxError error;
        if (!RkDeviceTree::listDevices(devices, error)) return -1;
        std::string text;
        for (const RkBlockDevice& d : devices)
            for (int n = hideDevices ? 0 : listTwice ? 2 : 1; n > 0; --n)
                text += (text.empty() ? "" : std::string(1, sep)) + d.name;
        return answer(text, buf, size);
    }
    int queryHbaList(const char*, const char*, char* names, short* namesLen, char* kinds,
                     short* kindsLen, short* count) override {
        std::string joined, kindBytes;
        for (const RkInitiatorPort& p : ports()) {
            joined += (joined.empty() ? "" : ",") + p.name;
            kindBytes += static_cast<char>(p.iscsi ? 1 : 0);
        }
        if (count) *count = static_cast<short>(kindBytes.size());
        if (!namesLen || !kindsLen) return 0;
        return hbaListAnswer(joined, kindBytes, names, namesLen, kinds, kindsLen);
    }
    int queryHba(const char*, const char*, char* buf, short* len, bool* isIscsi) override {
        const std::vector<RkInitiatorPort> all = ports();
        if (!len) return 0;
        if (all.empty()) *len = 0;
        return all.empty() ? 0 : hbaAnswer(all.front().name, all.front().iscsi, buf, len, isIscsi);
    }

  private:
    std::vector<RkInitiatorPort> ports() const {
        std::vector<RkInitiatorPort> all;
        CUxError error;
        RkDeviceTree::getInitiatorPorts(all, error);
        return all;
    }
    std::atomic<int> m_rescans{0};
};

}  // namespace testsupport
