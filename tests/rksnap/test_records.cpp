// rksnap's records under stress: a second rksnap on the same state, SIGKILL in
// the middle of snap and delete, and no password or secret in anything written.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "testsupport/RksnapHost.h"

namespace {

using nlohmann::json;
using testsupport::RksnapHost;
using testsupport::RksnapResult;

std::string field(const std::string& id, int n) {
    size_t start = 0;
    for (int i = 1; i < n; ++i) {
        start = id.find('*', start);
        if (start == std::string::npos) return "";
        ++start;
    }
    return id.substr(start, id.find('*', start) - start);
}

// PiT ids the records name (live ones only, or all), from `list --all --json`.
std::set<std::string> recordedPiTs(const RksnapHost& host, bool liveOnly) {
    RksnapResult r = host.run({"--json", "list", "--all"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    std::set<std::string> ids;
    for (const json& s : r.doc.value("snapshots", json::array())) {
        if (liveOnly && s["state"] == "deleted") continue;
        for (const json& d : s["devices"]) {
            std::string pit = field(d.value("uniqueId", std::string()), 9);
            if (!pit.empty() && pit != "null") ids.insert(pit);
        }
    }
    return ids;
}

std::set<std::string> arrayPiTs(sim::TestServer& sim) {
    std::set<std::string> ids;
    const json state = sim.state();
    for (const json& p : state["arrays"][0]["pits"]) ids.insert(p["id"].get<std::string>());
    return ids;
}

TEST(Records, SecondRksnapWaitsForTheFirst) {
    sim::TestServer sim(testsupport::fastJobs());
    RksnapHost host(sim);
    ASSERT_EQ(host.run({"list"}).exitCode, 0);
    int fd = open((host.stateDir() + "/rksnap.lock").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    testsupport::ChildProcess second = host.start({"list"});
    EXPECT_NE(second.readErrLine().find("waiting for another rksnap"), std::string::npos);
    flock(fd, LOCK_UN);
    close(fd);
    EXPECT_EQ(RksnapHost::finish(second).exitCode, 0);
}

// Kills rksnap once `requests` more provider requests were answered.
void killAfter(sim::TestServer& sim, const RksnapHost& host, std::vector<std::string> args,
               size_t requests) {
    const size_t base = sim.requests().size();
    testsupport::ChildProcess child = host.start(std::move(args));
    sim.log().waitUntil([&](const auto& log) { return log.size() >= base + requests; },
                        std::chrono::seconds(30));
    kill(child.pid(), SIGKILL);
    child.wait();
}

TEST(Records, SigkillDuringSnapAndDeleteNeverLosesAPiT) {
    sim::TestServer sim(testsupport::fastJobs());
    RksnapHost host(sim);
    const std::string dev = host.device(0);
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE("snap killed after " + std::to_string(i % 18) + " requests, round " +
                     std::to_string(i));
        killAfter(sim, host, {"snap", "-n", "k" + std::to_string(i), dev},
                  static_cast<size_t>(i % 18));
        std::set<std::string> recorded = recordedPiTs(host, false);
        for (const std::string& pit : arrayPiTs(sim))
            EXPECT_EQ(recorded.count(pit), 1u) << pit << " has no record";
    }
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE("delete killed after " + std::to_string(i % 14) + " requests, round " +
                     std::to_string(i));
        const std::string name = "d" + std::to_string(i);
        ASSERT_EQ(host.run({"snap", "-n", name, dev}).exitCode, 0);
        killAfter(sim, host, {"delete", name}, static_cast<size_t>(i % 14));
        std::set<std::string> recorded = recordedPiTs(host, false);
        for (const std::string& pit : arrayPiTs(sim))
            EXPECT_EQ(recorded.count(pit), 1u) << pit << " has no record";
    }
    RksnapResult rec = host.run({"reconcile"});
    EXPECT_NE(rec.exitCode, 64) << rec.out << rec.err;
    // Records and array agree: every live record's PiT is there and every PiT is on record.
    EXPECT_EQ(recordedPiTs(host, true), arrayPiTs(sim));
}

void collectFiles(const std::string& dir, std::vector<std::string>& out) {
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string path = dir + "/" + name;
        if (e->d_type == DT_DIR)
            collectFiles(path, out);
        else
            out.push_back(path);
    }
    closedir(d);
}

TEST(Secrets, NoPasswordOrSecretInAnyOutputOrFileWritten) {
    sim::Config config = testsupport::fastJobs();
    config.password = "Pw-q7Zr41x";
    config.arrays[0].password = "Sec-Kd82vL";
    config.arrays[0].providerSecret = "Sec-Kd82vL";
    sim::TestServer sim(config);
    RksnapHost host(sim);
    const std::string secretFile = host.dir().write("secret", "Sec-Kd82vL\n", 0600);
    const std::string wrongFile = host.dir().write("wrong", "Wrong-u3\n", 0600);
    std::string outputs;
    auto run = [&](std::vector<std::string> args) {
        for (bool asJson : {false, true}) {
            std::vector<std::string> a = args;
            if (asJson) a.insert(a.begin(), "--json");
            RksnapResult r = host.run(a);
            outputs += r.out + r.err;
        }
    };
    run({"array", "set-password", "sim1", "--array-password", "--password-file", secretFile});
    run({"array", "list"});
    run({"identify", host.device(0)});
    run({"snap", "-n", "s1", host.device(0)});
    run({"map", "s1"});
    run({"show", "s1"});
    run({"delete", "s1"});
    run({"array", "set-password", "sim1", "--password-file", wrongFile});
    run({"snap", "-n", "s2", host.device(0)});
    run({"list", "--all"});
    std::vector<std::string> files;
    collectFiles(host.dir().path(), files);
    for (const std::string& secret :
         {std::string("Pw-q7Zr41x"), std::string("Sec-Kd82vL"), std::string("Wrong-u3")}) {
        EXPECT_EQ(outputs.find(secret), std::string::npos) << secret << " in the output";
        for (const std::string& f : files) {
            if (f == secretFile || f == wrongFile || f == host.dir().file("pw"))
                continue;  // our own input
            std::ifstream in(f, std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            EXPECT_EQ(text.str().find(secret), std::string::npos) << secret << " in " << f;
        }
    }
}

}  // namespace
