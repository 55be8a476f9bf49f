// rksnap demo as the README runs it: the whole road with the expected outcome,
// and nothing left behind, also when interrupted.
#include <dirent.h>
#include <signal.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "testsupport/ChildProcess.h"

namespace {

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
std::string readUntil(testsupport::ChildProcess& demo, const std::string& mark, std::string* all) {
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
    struct Row {
        const char* name;
        std::string stopAt;  // "" = let it finish
        int exitCode;
        std::string says;
    } rows[] = {
        {"to the end", "", 0, "all as expected"},
        {"Ctrl-C in the middle", "take the PiT", 130, "interrupted"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        testsupport::ChildProcess demo(RKSNAP_BINARY, {"demo"});
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
