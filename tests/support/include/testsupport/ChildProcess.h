// A program run by a test, with its stdout and stderr on pipes: read its first lines
// (a server's URLs), drain what it wrote, stop it with SIGTERM and take its exit code.
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
        m_out = out[0];
        m_err = err[0];
        if (rc != 0) {
            m_pid = -1;
            throw std::runtime_error("cannot start " + program);
        }
    }
    ~ChildProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        ::close(m_out);
        ::close(m_err);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next stdout line, or "" at end of output or after the timeout.
    std::string readLine(std::chrono::seconds timeout = std::chrono::seconds(30)) {
        return readLineFrom(m_out, m_buffer, timeout);
    }
    // The same from stderr (what is read stays out of drain(true)).
    std::string readErrLine(std::chrono::seconds timeout = std::chrono::seconds(30)) {
        return readLineFrom(m_err, m_errBuffer, timeout);
    }

  private:
    std::string readLineFrom(int fd, std::string& buffer, std::chrono::seconds timeout) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            auto nl = buffer.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffer.substr(0, nl);
                buffer.erase(0, nl + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
            if (left <= 0) return "";
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) return "";
            char buf[4096];
            ssize_t n = ::read(fd, buf, sizeof(buf));
            if (n <= 0) return "";
            buffer.append(buf, static_cast<size_t>(n));
        }
    }

  public:
    // Everything left on stdout (or stderr) until the child closes it.
    std::string drain(bool fromStderr = false) {
        std::string& buffer = fromStderr ? m_errBuffer : m_buffer;
        std::string all = buffer;
        buffer.clear();
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fromStderr ? m_err : m_out, buf, sizeof(buf))) > 0)
            all.append(buf, static_cast<size_t>(n));
        return all;
    }

    // Exit code, or 128 + signal.
    int wait() {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    int terminate() {
        kill(m_pid, SIGTERM);
        return wait();
    }
    pid_t pid() const { return m_pid; }

  private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_buffer;
    std::string m_errBuffer;
};

}  // namespace testsupport
