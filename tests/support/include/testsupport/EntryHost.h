// A host that drives the exported entry points on the LUNs the fabric shows fchost1.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sim/server/TestServer.h>

#include "rkso/rkso.h"
#include "testsupport/FakeOSUtil.h"
#include "testsupport/FakeSnapInfo.h"
#include "testsupport/SimHost.h"
#include "testsupport/SimSnapshot.h"

namespace testsupport {

// SimConfig(preset) plus 1 GiB volumes labelled labels, mapped to fchost1 from LUN 20.
inline sim::Config EntryConfig(const std::vector<std::string>& labels,
                               const std::string& preset = "NETAPP") {
    sim::Config c = SimConfig(preset);
    AddVolumes(c, labels);
    sim::Array& a = c.arrays.front();
    const sim::Host* host = a.findHost("fchost1");
    uint32_t lun = 20;
    for (const std::string& label : labels)
        a.mappings.push_back({a.findVolumeByLabel(label)->uuid, host ? host->ref : "", lun++, 2});
    a.reindex();
    return c;
}

// Labels "<prefix>01", "<prefix>02", ... (n of them).
inline std::vector<std::string> Labels(const std::string& prefix, int n) {
    std::vector<std::string> labels;
    for (int i = 1; i <= n; ++i) labels.push_back(prefix + (i < 10 ? "0" : "") + std::to_string(i));
    return labels;
}

// The '*'-separated fields of a device's identifier (metadata 1); empty when none.
inline std::vector<std::string> IdentifierFields(const FakeSnapInfo& device) {
    std::vector<std::string> fields;
    const std::optional<std::string> text = device.metaData(RKSO::METADATA_SNAP_UNIQUE_ID);
    if (!text) return fields;
    size_t pos = 0;
    for (size_t star = text->find('*'); star != std::string::npos; star = text->find('*', pos)) {
        fields.push_back(text->substr(pos, star - pos));
        pos = star + 1;
    }
    fields.push_back(text->substr(pos));
    return fields;
}

struct EntryHostOptions {
    int engineId = 54;
    int capability = 3;
    std::string talon;  // lines of section "Talon"
    // Lines of section "~Talon" (LSI_SNAP_NO_PARALLEL, ...); "PRINT_LSI_INFO_FROM_DB"
    // is on unless set here, so every run shows what the array record logs.
    std::string tuning;
};

class EntryHost {
  public:
    explicit EntryHost(sim::TestServer& sim, EntryHostOptions options = {})
        : m_sim(sim),
          m_options(options),
          m_host(sim, "simulation", options.talon,
                 "[Engines]\n" + std::to_string(options.engineId) +
                     " = {SnapVendorName:LSI,Capabilities:" + std::to_string(options.capability) +
                     "}\n[~Talon]\n" + options.tuning + "\n" +
                     (options.tuning.find("PRINT_LSI_INFO_FROM_DB") == std::string::npos
                          ? "PRINT_LSI_INFO_FROM_DB = 1\n"
                          : "")) {
        util.setEngineId(static_cast<short>(options.engineId));
    }
    ~EntryHost() {
        for (auto& [label, device] : m_devices) SimJournal::add(*device);
    }
    FakeOSUtil util;
    // The array record every device gets (credentials of the simulator).
    std::string arrayRecord() const {
        return "{hostName:127.0.0.1,hostUserName:" + m_sim.user() +
               ",hostPassword:" + m_sim.password() +
               ",engineId:" + std::to_string(m_options.engineId) + "}";
    }
    // The device of the volume labelled label, made on first use: its path is the
    // host's device of that LUN. "label#2" is a second record of the same volume.
    FakeSnapInfo& device(const std::string& key) {
        std::unique_ptr<FakeSnapInfo>& slot = m_devices[key];
        if (!slot) {
            const std::string label = key.substr(0, key.find('#'));
            slot = std::make_unique<FakeSnapInfo>();
            const sim::Volume* v =
                m_sim.provider().config().arrays.front().findVolumeByLabel(label);
            const std::string path = v ? m_host.deviceOf(v->uuid) : std::string();
            EXPECT_FALSE(path.empty()) << label << " is not seen by the host";
            slot->setDevicePathValue(path.empty() ? "/dev/none-" + label : path);
            slot->setSourceDeviceNameValue(path);
            slot->setSnapNameValue("bk_" + label);
            slot->setArrayInfoText(arrayRecord());
            slot->setConfig("SMCONFIG_NAME_SMIS_SERVER_PORT", std::to_string(m_sim.httpPort()));
            slot->setEngineIdValue(static_cast<short>(m_options.engineId));
            slot->setIntValue(18, ++m_requests);
            slot->setIntValue(1, 7);
        }
        return *slot;
    }
    std::vector<RKSO::SnapInfo*> devices(const std::vector<std::string>& keys) {
        std::vector<RKSO::SnapInfo*> out;
        for (const std::string& key : keys) out.push_back(&device(key));
        return out;
    }
    // Sets key to value in every device's snap configuration made so far.
    void configureAll(const std::string& key, const std::string& value) {
        for (auto& [label, device] : m_devices) device->setConfig(key, value);
    }
    int prepare(std::vector<RKSO::SnapInfo*>& devs) {
        return rkso_prepareDevices(devs.data(), static_cast<short>(devs.size()), &util);
    }
    int snap(std::vector<RKSO::SnapInfo*>& devs) {
        return rkso_snapDevices(devs.data(), static_cast<short>(devs.size()), &util);
    }
    // Prepare then snap; the results of both must be 0.
    void prepareAndSnap(std::vector<RKSO::SnapInfo*>& devs) {
        ASSERT_EQ(prepare(devs), 0);
        ASSERT_EQ(snap(devs), 0);
    }
    SimHost& host() { return m_host; }

  private:
    sim::TestServer& m_sim;
    EntryHostOptions m_options;
    SimHost m_host;
    std::map<std::string, std::unique_ptr<FakeSnapInfo>> m_devices;
    int m_requests = 0x1A0;
};

}  // namespace testsupport
