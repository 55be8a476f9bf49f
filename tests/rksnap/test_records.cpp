// rksnap's records under stress: a second rksnap, SIGKILL mid-call, no secret written.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "testsupport/RksnapHost.h"

namespace {

using nlohmann::json;
using namespace testsupport;

// The PiT a device's identifier names (its ninth field), "" when none.
std::string pitOf(const json& device) {
    std::istringstream id(device.value("uniqueId", std::string()));
    std::string f;
    for (int i = 0; i < 9; ++i)
        if (!std::getline(id, f, '*')) return "";
    return f == "null" ? "" : f;
}

// What the records and the array say, read together. namedBy: PiT -> the records naming it;
// live: live snapshots, oldest first; unnamed: PiTs on the array no record names; mayHaveMade:
// live snaps killed or failed before naming a PiT; interrupted: live devices left in a call.
struct Picture {
    std::set<std::string> onArray, namedLive;
    std::map<std::string, std::string> namedBy, liveState;
    std::vector<std::string> live;
    size_t unnamed = 0, mayHaveMade = 0, interrupted = 0;
};

Picture look(sim::TestServer& sim, const RksnapHost& host) {
    Picture p;
    const json state = sim.state();
    for (const json& pit : state["arrays"][0]["pits"]) p.onArray.insert(pit["id"]);
    const json all = host.run({"--json", "list", "--all"}).doc["snapshots"];
    for (const json& s : all) {
        const bool live = s["state"] != "deleted";
        if (live) p.live.push_back(s["name"]);
        if (live) p.liveState[s["name"]] = s["state"];
        for (const json& d : s["devices"]) {
            const std::string pit = pitOf(d);
            if (!pit.empty()) p.namedBy[pit] += s["name"].dump() + " " + s["state"].dump() + " ";
            if (!pit.empty() && live) p.namedLive.insert(pit);
            p.interrupted += live && d["interrupted"] != "";
            p.mayHaveMade += live && pit.empty() &&
                             (d["interrupted"] == "snap" || s["state"] == "create failed");
        }
    }
    for (const std::string& pit : p.onArray) p.unnamed += p.namedBy.count(pit) == 0;
    return p;
}

// Deletes every live snapshot, oldest first; a failure names each PiT left.
::testing::AssertionResult deleteAllEmptiesTheArray(sim::TestServer& sim, const RksnapHost& host) {
    std::vector<std::string> del = {"delete"};
    for (const std::string& name : look(sim, host).live) del.push_back(name);
    const RksnapResult gone = del.size() > 1 ? host.run(del) : RksnapResult{0, "", "", {}};
    Picture p = look(sim, host);
    if (gone.exitCode == 0 && p.onArray.empty()) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << "delete exited " << gone.exitCode << "\n";
    for (const std::string& pit : p.onArray) failure << pit << " left: " << p.namedBy[pit] << "\n";
    return failure << gone.out << gone.err;
}

TEST(Records, SecondRksnapWaitsForTheFirst) {
    sim::TestServer sim(fastJobs());
    RksnapHost host(sim);
    ASSERT_EQ(host.run({"list"}).exitCode, 0);
    int fd = open((host.stateDir() + "/rksnap.lock").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    ChildProcess second = host.start({"list"});
    EXPECT_NE(second.readErrLine().find("waiting for another rksnap"), std::string::npos);
    flock(fd, LOCK_UN);
    close(fd);
    EXPECT_EQ(RksnapHost::finish(second).exitCode, 0);
}

// Kills rksnap once `requests` more requests were answered, or lets it finish.
void killAfter(sim::TestServer& sim, const RksnapHost& host, std::vector<std::string> args,
               size_t requests) {
    const size_t base = sim.requests().size();
    ChildProcess child = host.start(std::move(args));
    while (!sim.log().waitForCount(base + requests, std::chrono::milliseconds(100)) &&
           waitpid(child.pid(), nullptr, WNOHANG) == 0) {
    }
    kill(child.pid(), SIGKILL);
    child.wait();
}

// rksnap stopped with SIGKILL at a chosen point of a call.
RksnapResult dieAt(const RksnapHost& host, const char* point, std::vector<std::string> args) {
    setenv("RKSNAP_DIE_AT", point, 1);
    RksnapResult r = host.run(std::move(args));
    unsetenv("RKSNAP_DIE_AT");
    return r;
}

// After a kill at each point, reconcile or delete settles the record and the array.
TEST(Records, SigkillAtEachPointIsSettled) {
    const std::vector<std::string> snap = {"snap", "-n", "x", "$0"}, del = {"delete", "x"};
    const std::vector<std::string> reconcile = {"reconcile"};
    // olderPiT: a kept PiT is older than the one killed over; point null: the answer to the
    // PiT's creation is lost instead; state: of "x" after, "" = no live record; unnamed*:
    // PiTs that no record names
    // clang-format off
    struct Row {
        const char* name; bool olderPiT; std::vector<std::string> killed; const char* point;
        std::vector<std::string> settle; std::string state; size_t unnamedBefore, unnamedAfter;
    } rows[] = {
        {"snap, identifier lost", false, snap, "snap:identifier", reconcile, "", 1, 0},
        {"snap, identifier lost, older PiT", true, snap, "snap:identifier", reconcile, "", 1, 1},
        {"snap, identifier lost, deleted", false, snap, "snap:identifier", del, "", 1, 0},
        {"snap, status lost", false, snap, "snap:created", reconcile, "created", 0, 0},
        {"snap, outcome lost", false, snap, "snap:outcome", reconcile, "created", 0, 0},
        {"delete, status lost", false, del, "delete:deleted", reconcile, "", 0, 0},
        {"delete, outcome lost", false, del, "delete:outcome", reconcile, "", 0, 0},
        {"delete, outcome lost, older PiT", true, del, "delete:outcome", reconcile, "created", 0, 0},
        {"snap, answer lost", false, snap, nullptr, reconcile, "create failed", 1, 0},
        {"snap, answer lost, deleted", false, snap, nullptr, del, "", 1, 0},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::TestServer sim(fastJobs());
        RksnapHost host(sim);
        const std::vector<std::string>& killed = row.killed;
        ASSERT_EQ(row.olderPiT ? host.run({"snap", "-n", "older", "$0"}).exitCode : 0, 0);
        ASSERT_EQ(killed[0] == "delete" ? host.run({"snap", "-n", "x", "$0"}).exitCode : 0, 0);
        if (row.point) {
            ASSERT_EQ(dieAt(host, row.point, killed).exitCode, 128 + SIGKILL);
        } else {
            sim.addFault(sim::FaultKind::Truncated, 1, {"", "CreateSynchronizationAspect", ""});
            ASSERT_NE(host.run(killed).exitCode, 0);
        }
        Picture p = look(sim, host);
        EXPECT_EQ(p.unnamed, row.unnamedBefore);
        EXPECT_LE(p.unnamed, p.mayHaveMade);
        if (row.point) {
            const json calls = host.run({"--json", "show", "x"}).doc["calls"];
            EXPECT_EQ(calls.back()["state"], "interrupted") << calls;
        }
        if (killed[0] == "snap" && row.point) {
            RksnapResult again = host.run({"snap", "-n", "x"});
            EXPECT_EQ(again.exitCode, 1) << again.out;
            EXPECT_NE(again.err.find("reconcile first"), std::string::npos) << again.err;
        }
        RksnapResult settled = host.run(row.settle);
        EXPECT_EQ(settled.exitCode, 0) << settled.out << settled.err;
        p = look(sim, host);
        EXPECT_EQ(p.liveState["x"], row.state);
        EXPECT_EQ(p.interrupted, 0u);
        EXPECT_EQ(p.unnamed, row.unnamedAfter);
        for (const std::string& pit : p.namedLive) EXPECT_EQ(p.onArray.count(pit), 1u) << pit;
        EXPECT_TRUE(deleteAllEmptiesTheArray(sim, host));
    }
}

TEST(Records, SigkillDuringSnapAndDeleteNeverLosesAPiT) {
    sim::TestServer sim(fastJobs());
    RksnapHost host(sim);
    const std::string dev = host.device(0);
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE("snap killed after " + std::to_string(i % 19) + " requests, round " +
                     std::to_string(i));
        killAfter(sim, host, {"snap", "-n", "k" + std::to_string(i), dev},
                  static_cast<size_t>(i % 19));
        const Picture p = look(sim, host);
        EXPECT_LE(p.unnamed, p.mayHaveMade) << "PiTs without a record";
    }
    for (int i = 0; i < 20; ++i) {
        // Even rounds delete the newest snapshot (only virtually while older ones are
        // kept), odd rounds the oldest live one (a real run on the array).
        std::string target = "d" + std::to_string(i);
        ASSERT_EQ(host.run({"snap", "-n", target, dev}).exitCode, 0);
        if (i % 2) target = host.run({"--json", "list"}).doc["snapshots"][0]["name"];
        SCOPED_TRACE("delete " + target + " killed after " + std::to_string(i % 23) +
                     " requests, round " + std::to_string(i));
        killAfter(sim, host, {"delete", target}, static_cast<size_t>(i % 23));
        const Picture p = look(sim, host);
        EXPECT_LE(p.unnamed, p.mayHaveMade) << "PiTs without a record";
    }
    RksnapResult rec = host.run({"reconcile"});
    EXPECT_EQ(rec.exitCode, 0) << rec.out << rec.err;
    // Records and array agree: no live record is left interrupted, every live
    // record's PiT is there, and deleting them leaves nothing on the array.
    const Picture p = look(sim, host);
    EXPECT_EQ(p.interrupted, 0u);
    EXPECT_EQ(p.mayHaveMade, 0u);
    for (const std::string& pit : p.namedLive) EXPECT_EQ(p.onArray.count(pit), 1u) << pit;
    EXPECT_TRUE(deleteAllEmptiesTheArray(sim, host));
}

TEST(Secrets, NoPasswordOrSecretInAnyOutputOrFileWritten) {
    sim::Config config = fastJobs();
    config.password = "Pw-q7Zr41x";
    config.arrays[0].password = "Sec-Kd82vL";
    config.arrays[0].providerSecret = "Sec-Kd82vL";
    sim::TestServer sim(config);
    RksnapHost host(sim);
    const std::string secretFile = host.dir().write("secret", "Sec-Kd82vL\n", 0600);
    const std::string wrongFile = host.dir().write("wrong", "Wrong-u3\n", 0600);
    std::string outputs;
    // clang-format off
    const std::vector<std::vector<std::string>> commands = {
        {"array", "set-password", "sim1", "--array-password", "--password-file", secretFile},
        {"array", "list"}, {"identify", host.device(0)}, {"snap", "-n", "s1", host.device(0)}, {"map", "s1"},
        {"show", "s1"}, {"delete", "s1"}, {"array", "set-password", "sim1", "--password-file", wrongFile},
        {"snap", "-n", "s2", host.device(0)}, {"list", "--all"}};
    // clang-format on
    for (std::vector<std::string> args : commands)
        for (bool asJson : {false, true}) {
            if (asJson) args.insert(args.begin(), "--json");
            const RksnapResult r = host.run(args);
            outputs += r.out + r.err;
        }
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(host.dir().path()))
        if (e.is_regular_file()) files.push_back(e.path().string());
    for (const std::string& secret :
         {std::string("Pw-q7Zr41x"), std::string("Sec-Kd82vL"), std::string("Wrong-u3")}) {
        EXPECT_EQ(outputs.find(secret), std::string::npos) << secret << " in the output";
        for (const std::string& f : files) {
            if (f == secretFile || f == wrongFile || f == host.dir().file("pw"))
                continue;  // our own input
            std::stringstream text;
            text << std::ifstream(f, std::ios::binary).rdbuf();
            EXPECT_EQ(text.str().find(secret), std::string::npos) << secret << " in " << f;
        }
    }
}

}  // namespace
