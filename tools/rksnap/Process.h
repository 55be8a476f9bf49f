// Programs rksnap runs (the simulator, itself, cimq), with stdout on a pipe.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace rksnap {

// Set by the demo's signal handler: waits give up at once.
extern volatile sig_atomic_t g_interrupted;

// A program with stdout on a pipe (stderr to a file, or inherited).
struct Child {
    // env: the child's whole environment (empty: this process's).
    pid_t pid = -1;
    int out = -1;
    bool start(const std::vector<std::string>& args, const std::string& errFile,
               const std::vector<std::string>& env = {}) {
        int p[2];
        if (pipe2(p, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, p[1], 1);
        if (!errFile.empty())
            posix_spawn_file_actions_addopen(&fa, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                             0600);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(),
                             env.empty() ? environ : envp.data());
        posix_spawn_file_actions_destroy(&fa);
        ::close(p[1]);
        out = p[0];
        if (rc != 0) {
            pid = -1;
            return false;
        }
        return true;
    }
    // One line of stdout, waiting at most timeoutMs; "" at its end.
    std::string readLine(int timeoutMs) {
        std::string line;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char c;
        while (!g_interrupted) {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
            pollfd pf{out, POLLIN, 0};
            if (left <= 0 || ::poll(&pf, 1, left) <= 0) break;
            if (::read(out, &c, 1) != 1) break;
            if (c == '\n') return line;
            line += c;
        }
        return line;
    }
    std::string readAll() {
        std::string all;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(out, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
            if (n > 0) all.append(buf, static_cast<size_t>(n));
        return all;
    }
    int wait() {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
        if (out >= 0) ::close(out);
        out = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

}  // namespace rksnap
