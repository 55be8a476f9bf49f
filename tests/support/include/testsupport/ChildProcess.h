// A program run by a test with stdout and stderr on pipes: read, drain, stop, exit code.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace testsupport {

class ChildProcess {
  public:
    ChildProcess(const std::string& program, std::vector<std::string> args) {
        args.insert(args.begin(), program);
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        m_fd[0] = out[0];
        m_fd[1] = err[0];
        if (rc != 0) throw std::runtime_error("cannot start " + program);
    }
    ~ChildProcess() {
        if (m_pid > 0) kill(m_pid, SIGKILL), waitpid(m_pid, nullptr, 0);
        ::close(m_fd[0]);
        ::close(m_fd[1]);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // The next stdout line, or "" at end of output or after the timeout.
    std::string readLine(std::chrono::seconds timeout = std::chrono::seconds(30)) {
        return readLineFrom(0, timeout);
    }
    // The same from stderr (what is read stays out of drain(true)).
    std::string readErrLine(std::chrono::seconds timeout = std::chrono::seconds(30)) {
        return readLineFrom(1, timeout);
    }
    // Everything left on stdout (or stderr) until the child closes it.
    std::string drain(bool fromStderr = false) {
        std::string all;
        all.swap(m_buffer[fromStderr]);
        while (readSome(fromStderr, all)) {
        }
        return all;
    }
    // Exit code, or 128 + signal.
    int wait() {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    int terminate() { return kill(m_pid, SIGTERM), wait(); }
    pid_t pid() const { return m_pid; }

  private:
    bool readSome(int i, std::string& into) {
        char buf[4096];
        const ssize_t n = ::read(m_fd[i], buf, sizeof(buf));
        if (n > 0) into.append(buf, static_cast<size_t>(n));
        return n > 0;
    }
    std::string readLineFrom(int i, std::chrono::seconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto nl = m_buffer[i].find('\n');
            if (nl != std::string::npos) {
                std::string line = m_buffer[i].substr(0, nl);
                m_buffer[i].erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{m_fd[i], POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0 ||
                !readSome(i, m_buffer[i]))
                return "";
        }
    }
    pid_t m_pid = -1;
    int m_fd[2] = {-1, -1};  // stdout, stderr
    std::string m_buffer[2];
};

}  // namespace testsupport
