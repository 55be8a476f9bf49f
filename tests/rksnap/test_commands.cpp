// Every rksnap command as a process, text and --json; failures, doctor and the demo.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "testsupport/RksnapHost.h"

namespace {

using nlohmann::json;
using namespace testsupport;

// status: of every device of the last call, "" for record commands
struct Step {
    const char* name;
    std::vector<std::string> args;
    std::string status;
    bool contactsProvider;
};
// clang-format off
const std::vector<Step> kRoad = {
    {"identify", {"identify", "$0", "$1"}, "", false},
    {"prepare", {"prepare", "-n", "p1", "$0"}, "prepared", true},
    {"snap prepared", {"snap", "-n", "p1"}, "created", true},
    {"snap cg", {"snap", "-n", "c1", "-e", "cg", "$0", "$1"}, "created", true},
    {"map", {"map", "p1"}, "mapped", true},
    {"ismapped", {"ismapped", "p1"}, "visible", true},
    {"unmap", {"unmap", "p1"}, "unmapped", true},
    {"revert", {"revert", "p1"}, "reverted", true},
    {"snap replica", {"snap", "-n", "r1", "-e", "replica", "$1"}, "created", true},
    {"delete replica", {"delete", "r1"}, "deleted", true},
    {"delete oldest first", {"delete", "p1", "c1"}, "deleted", true},
    {"prepare spare", {"prepare", "-n", "u1", "$0"}, "prepared", true},
    {"unprepare", {"unprepare", "u1"}, "unprepared", false},
    {"reconcile with nothing live", {"reconcile"}, "", false},
    {"list history", {"list", "--all"}, "", false},
    {"show deleted", {"show", "p1"}, "", false},
    {"status", {"status"}, "", false},
    {"array list", {"array", "list"}, "", false},
};
// clang-format on

class EveryCommand : public ::testing::TestWithParam<bool> {};

TEST_P(EveryCommand, WalksTheRoadWithTheExpectedOutcome) {
    const bool asJson = GetParam();
    sim::TestServer sim(fastJobs());
    RksnapHost host(sim);
    ASSERT_NE(host.device(1), "/dev/none");
    for (const Step& step : kRoad) {
        const size_t before = sim.requests().size();
        RksnapResult r = host.run(asJson ? Json(step.args) : step.args);
        SCOPED_TRACE(step.name);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(sim.requests().size() > before, step.contactsProvider)
            << "provider requests: " << sim.requests().size() - before;
        if (asJson) {
            ASSERT_TRUE(r.doc.is_object()) << r.out;
            if (!step.status.empty()) {
                const json& calls = r.doc["calls"];
                ASSERT_FALSE(calls.empty()) << r.out;
                for (const json& d : calls.back()["devices"])
                    EXPECT_EQ(d["statusName"], step.status) << r.out;
            }
        } else if (!step.status.empty()) {
            EXPECT_NE(r.out.find(step.status), std::string::npos) << r.out;
        }
    }
    // Nothing left on the array, everything kept in the history.
    json state = sim.state();
    EXPECT_TRUE(state["arrays"][0]["pits"].empty()) << state["arrays"][0]["pits"];
    EXPECT_TRUE(state["arrays"][0]["cgPits"].empty());
    RksnapResult list = host.run({"--json", "list", "--all"});
    ASSERT_EQ(list.doc["snapshots"].size(), 4u) << list.out;
    for (const json& s : list.doc["snapshots"]) EXPECT_EQ(s["state"], "deleted") << s;
}

INSTANTIATE_TEST_SUITE_P(Output, EveryCommand, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "json" : "text"; });

TEST(Failures, NameTheProblemWithTheRightExitCode) {
    const std::vector<std::string> snap = {"snap", "-n", "s", "$0"};
    const auto readable = [](sim::TestServer&, const RksnapHost& h) {
        chmod(h.configPath().c_str(), 0644);
    };
    // setup: before the array is added; says: in stdout or stderr
    struct Failure {
        const char* name;
        std::function<void(RksnapSetup&)> setup;
        std::function<void(sim::TestServer&, const RksnapHost&)> arrange;
        std::vector<std::string> args;
        int exitCode;
        std::string says;
    };
    // clang-format off
    const std::vector<Failure> rows = {
        {"provider down", [](RksnapSetup& s) { s.httpsPort = closedPort(); }, nullptr, snap, 3, "cannot reach the provider"},
        {"wrong password", [](RksnapSetup& s) { s.providerPassword = "not-the-password"; }, nullptr, snap, 1, "set-password sim1"},
        {"unknown device", nullptr, nullptr, {"snap", "-n", "s", "/dev/mapper/3nosuch"}, 1, "prepare s: FAILED"},
        {"job fails", nullptr, [](sim::TestServer& s, const RksnapHost&) { s.setJobMode("CreatePiTGroup", true); s.failNextJobs(1, 10); },
         snap, 1, "prepare s: FAILED"},
        {"array not configured", nullptr, [](sim::TestServer&, const RksnapHost& h) { ASSERT_EQ(h.run({"array", "remove", "sim1"}).exitCode, 0); },
         snap, 1, "which is not configured"},
        {"unknown snapshot", nullptr, nullptr, {"map", "nosuch"}, 1, "no snapshot named 'nosuch'"},
        {"bad snapshot name", nullptr, nullptr, {"snap", "-n", "a b", "$0"}, 1, "must be 1 to 30"},
        {"cg of one device", nullptr, nullptr, {"snap", "-e", "cg", "$0"}, 1, "two or more devices"},
        {"unknown command", nullptr, nullptr, {"frobnicate"}, 64, ""},
        {"unknown engine", nullptr, nullptr, {"snap", "-e", "magic", "$0"}, 64, ""},
        {"name taken", nullptr, [](sim::TestServer&, const RksnapHost& h) { ASSERT_EQ(h.run({"prepare", "-n", "s", h.device(0)}).exitCode, 0); },
         {"prepare", "-n", "s", "$0"}, 1, "exists already"},
        {"configuration others may read", nullptr, readable, {"list"}, 1, "chmod 600"},
        {"configuration others may read, array", nullptr, readable, {"array", "list"}, 1, "chmod 600"},
    };
    // clang-format on
    for (const Failure& row : rows) {
        SCOPED_TRACE(row.name);
        sim::TestServer sim(fastJobs());
        RksnapSetup setup;
        if (row.setup) row.setup(setup);
        RksnapHost host(sim, setup);
        if (row.arrange) row.arrange(sim, host);
        RksnapResult r = host.run(row.args);
        EXPECT_EQ(r.exitCode, row.exitCode) << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(row.says), std::string::npos) << r.out << r.err;
        RksnapResult j = host.run(Json(row.args));
        if (row.exitCode != 64) {
            ASSERT_TRUE(j.doc.is_object()) << row.name << ": " << j.out;
            EXPECT_EQ(j.doc["exitCode"], j.exitCode) << j.out;
        }
    }
}

TEST(Doctor, FindsAndNamesEachFault) {
    // failingCheck: "" when every check passes
    struct Fault {
        const char* name;
        std::function<void(sim::Config&, RksnapSetup&)> arrange;
        std::string failingCheck;
    };
    // clang-format off
    const std::vector<Fault> rows = {
        {"healthy", [](sim::Config&, RksnapSetup&) {}, ""},
        {"provider down", [](sim::Config&, RksnapSetup& s) { s.httpsPort = closedPort(); }, "provider reachable"},
        {"wrong password", [](sim::Config&, RksnapSetup& s) { s.providerPassword = "not-it"; }, "credentials accepted"},
        {"missing namespace", [](sim::Config&, RksnapSetup& s) { s.addArgs = {"--namespace", "root/missing"}; }, "array namespace"},
        {"secret out of step", [](sim::Config& c, RksnapSetup&) { c.arrays[0].providerSecret = "stale-one"; }, "shared secret"},
        {"unknown host ports", [](sim::Config&, RksnapSetup& s) { s.initiatorPorts = "2000000000000001"; }, "host initiator ports"},
    };
    // clang-format on
    for (const Fault& row : rows) {
        SCOPED_TRACE(row.name);
        sim::Config config = fastJobs();
        RksnapSetup setup;
        row.arrange(config, setup);
        const std::string arrayPassword = config.arrays[0].password;
        sim::TestServer sim(config);
        RksnapHost host(sim, setup);
        const std::string apw = host.dir().write("apw", arrayPassword + "\n", 0600);
        const std::vector<std::string> setPassword = {
            "array", "set-password", "sim1", "--array-password", "--password-file", apw};
        ASSERT_EQ(host.run(setPassword).exitCode, 0);
        RksnapResult text = host.run({"doctor"});
        RksnapResult r = host.run({"--json", "doctor", "sim1"});
        EXPECT_EQ(r.exitCode, row.failingCheck.empty() ? 0 : 1) << r.out << r.err;
        EXPECT_EQ(text.exitCode, r.exitCode) << text.out;
        ASSERT_EQ(r.doc["arrays"].size(), 1u) << r.out;
        std::vector<std::string> problems;
        for (const json& c : r.doc["arrays"][0]["checks"])
            if (c["status"] == "problem") {
                problems.push_back(c["check"]);
                EXPECT_FALSE(c["fix"].get<std::string>().empty()) << c;
                EXPECT_NE(text.out.find("PROBLEM " + c["check"].get<std::string>()),
                          std::string::npos)
                    << text.out;
            }
        if (row.failingCheck.empty())
            EXPECT_TRUE(problems.empty()) << r.out;
        else
            EXPECT_EQ(problems, std::vector<std::string>{row.failingCheck}) << r.out;
        EXPECT_EQ(r.out.find(arrayPassword), std::string::npos) << "the array password was shown";
    }
}

// Processes whose command line names `text` (the demo's folder).
int processesNaming(const std::string& text) {
    int n = 0;
    DIR* proc = opendir("/proc");
    while (dirent* e = readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        std::ifstream in(std::string("/proc/") + e->d_name + "/cmdline", std::ios::binary);
        std::string cmd((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        n += cmd.find(text) != std::string::npos;
    }
    closedir(proc);
    return n;
}

// Reads lines up to the one holding `mark`; the demo's folder from "state in DIR".
std::string readUntil(ChildProcess& demo, const std::string& mark, std::string* all) {
    std::string dir;
    for (int i = 0; i < 40; ++i) {  // the demo prints fewer lines before its summary
        std::string line = demo.readLine();
        *all += line + "\n";
        size_t at = line.find("state in ");
        if (at != std::string::npos) dir = line.substr(at + 9);
        if (line.find(mark) != std::string::npos) break;
    }
    return dir;
}

TEST(Demo, RunsTheRoadAndLeavesNothingBehind) {
    // stopAt: "" = let it finish
    // clang-format off
    struct Row { const char* name; std::string stopAt; int exitCode; std::string says; } rows[] = {
        {"to the end", "", 0, "all as expected"},
        {"Ctrl-C in the middle", "take the PiT", 130, "interrupted"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ChildProcess demo(RKSNAP_BINARY, {"demo"});
        std::string out;
        std::string dir = readUntil(demo, row.stopAt.empty() ? "state in" : row.stopAt, &out);
        ASSERT_FALSE(dir.empty()) << out << demo.drain(true);
        EXPECT_TRUE(std::filesystem::exists(dir));
        if (!row.stopAt.empty()) kill(demo.pid(), SIGINT);
        out += demo.drain();
        EXPECT_EQ(demo.wait(), row.exitCode) << out;
        EXPECT_NE(out.find(row.says), std::string::npos) << out;
        EXPECT_FALSE(std::filesystem::exists(dir)) << dir << " left behind";
        EXPECT_EQ(processesNaming(dir), 0) << "a process of the demo is still running";
        if (row.stopAt.empty()) {
            for (const char* step :
                 {"identify two volumes", "map the PiT", "revert the source from the PiT",
                  "PiT deleted behind our back; reconcile", "delete the PiTs, oldest first"})
                EXPECT_NE(out.find(step), std::string::npos) << step;
            EXPECT_EQ(out.find("UNEXPECTED"), std::string::npos) << out;
        }
    }
}

}  // namespace
