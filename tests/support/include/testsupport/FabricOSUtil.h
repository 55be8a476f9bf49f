// A host utility whose devices, rescans and initiator ports are the host device
// tree's (the simulator's fabric under SimHost or EntryHost); the rest answers as
// FakeOSUtil does.
//
//   testsupport::EntryHost host(sim);
//   testsupport::FabricOSUtil util;
//   rkso_mapSnaps(devs.data(), n, &util);
//   EXPECT_EQ(util.rescans(), 5);
#pragma once

#include <atomic>
#include <cstring>
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
    // Answered instead of the tree's ports when set (one FC port).
    std::string portOverride;

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
        if (!hideDevices) {
            for (const RkBlockDevice& d : devices) {
                for (int n = listTwice ? 2 : 1; n > 0; --n) {
                    if (!text.empty()) text += sep;
                    text += d.name;
                }
            }
        }
        return answer(text, buf, size);
    }

    int queryHbaList(const char*, const char*, char* names, short* namesLen, char* kinds,
                     short* kindsLen, short* count) override {
        std::string joined, kindBytes;
        for (const RkInitiatorPort& p : ports()) {
            if (!joined.empty()) joined += ',';
            joined += p.name;
            kindBytes += static_cast<char>(p.iscsi ? 1 : 0);
        }
        if (count) *count = static_cast<short>(kindBytes.size());
        if (!names || !kinds || !namesLen || !kindsLen ||
            *namesLen <= static_cast<short>(joined.size()) ||
            *kindsLen < static_cast<short>(kindBytes.size())) {
            if (namesLen) *namesLen = static_cast<short>(joined.size() + 1);
            if (kindsLen) *kindsLen = static_cast<short>(kindBytes.size());
            return 0;
        }
        std::memcpy(names, joined.c_str(), joined.size() + 1);
        std::memcpy(kinds, kindBytes.data(), kindBytes.size());
        return 1;
    }

    int queryHba(const char*, const char*, char* buf, short* len, bool* isIscsi) override {
        const std::vector<RkInitiatorPort> all = ports();
        if (all.empty() || !len) {
            if (len) *len = 0;
            return 0;
        }
        if (!buf || *len <= static_cast<short>(all.front().name.size())) {
            *len = static_cast<short>(all.front().name.size() + 1);
            return 0;
        }
        std::memcpy(buf, all.front().name.c_str(), all.front().name.size() + 1);
        if (isIscsi) *isIscsi = all.front().iscsi;
        return 1;
    }

  private:
    std::vector<RkInitiatorPort> ports() const {
        if (!portOverride.empty()) return {RkInitiatorPort{portOverride, false}};
        std::vector<RkInitiatorPort> all;
        CUxError error;
        RkDeviceTree::getInitiatorPorts(all, error);
        return all;
    }

    static short answer(const std::string& text, char* buf, int size) {
        if (!buf || size <= static_cast<int>(text.size()))
            return static_cast<short>(text.size() + 1);
        std::memcpy(buf, text.c_str(), text.size() + 1);
        return 0;
    }

    std::atomic<int> m_rescans{0};
};

}  // namespace testsupport
