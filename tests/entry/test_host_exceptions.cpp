// A host callback that throws: the device it happened to fails with its operation's
// failure status, and nothing leaves the entry point.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/EntryHost.h"

namespace {

using namespace testsupport;

TEST(HostExceptions, AThrowingHostFailsOnlyItsDevice) {
    using S = RKSO::SnapStatus;
    struct Row {
        const char* name;
        bool inSnap;         // false: during prepare
        std::string needle;  // the second device's log line that throws
        int wantResult;
        S want[3];
    } rows[] = {
        {"prepare set-up",
         false,
         "belongs to Array",
         2,
         {S::SNAP_STATUS_PREPARED, S::SNAP_STATUS_PREPARE_FAILED, S::SNAP_STATUS_UNPREPARED}},
        {"prepare worker",
         false,
         "Prepare snapshot success",
         2,
         {S::SNAP_STATUS_PREPARED, S::SNAP_STATUS_PREPARE_FAILED, S::SNAP_STATUS_PREPARED}},
        {"snap set-up",
         true,
         "Snap Name",
         2,
         {S::SNAP_STATUS_CREATED, S::SNAP_STATUS_CREATE_FAILED, S::SNAP_STATUS_PREPARED}},
        {"snap worker",
         true,
         "Created PIT",
         2,
         {S::SNAP_STATUS_CREATED, S::SNAP_STATUS_CREATE_FAILED, S::SNAP_STATUS_CREATED}},
    };
    for (const Row& row : rows) {
        const std::vector<std::string> labels = Labels("src", 3);
        sim::TestServer sim(EntryConfig(labels), PlainHttp());
        EntryHost host(sim);
        auto devs = host.devices(labels);
        host.device("src03").setStatus(S::SNAP_STATUS_UNPREPARED);
        if (row.inSnap) {
            ASSERT_EQ(host.prepare(devs), 0) << row.name;
        }
        host.device("src02").throwWhenLogged(row.needle);
        EXPECT_EQ(row.inSnap ? host.snap(devs) : host.prepare(devs), row.wantResult) << row.name;
        for (size_t i = 0; i < labels.size(); ++i)
            EXPECT_EQ(host.device(labels[i]).status(), row.want[i]) << row.name << ": " << i;
    }
}

}  // namespace
