// Whole-process figures for enumerating storage volumes from a local server: `cimq ei`,
// `cimq ein` and the library calls, each run five times (median wall time and peak resident
// memory), next to the two floors measured in the same run: a plain HTTP transfer of the same
// body (libcurl, discarding the bytes) and pugixml parsing the same bytes from memory.
//
//   bench_enumerate [--sizes 10000,100000] [--runs 5] [--big MiB] [--serve]
//
// --big also decodes one answer of that many MiB of small instances, collected and through
// the callback form, and reports the memory each took over what it returns.
//
// --serve only serves the answers (cimq --url URL -n root/bench10000 ei CIM_StorageVolume),
// for looking at one run with a profiler.
//
// The answers are generated here and served by a forked process that writes the prepared
// bytes, so the server costs next to nothing. Measured processes are started by a launcher
// forked before any data exists, so that their peak memory is their own.
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include <cim/CIMClient.h>
#include <cim/xml/Codec.h>

#include "VolumeData.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const char* what) {
    std::perror(what);
    std::_Exit(2);
}

bool readAll(int fd, void* data, std::size_t n) {
    char* p = static_cast<char*>(data);
    while (n > 0) {
        ssize_t r = ::read(fd, p, n);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

bool writeAll(int fd, const void* data, std::size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t r = ::write(fd, p, n);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

// ---- launcher: runs one command at a time, reports wall time and peak RSS ----------------

struct RunResult {
    long long wallNs = 0;
    long long cpuNs = 0;  // user + system
    long long maxRssKiB = 0;
    int status = -1;
};

class Launcher {
  public:
    Launcher() {
        int toChild[2], fromChild[2];
        if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0) die("pipe");
        m_pid = ::fork();
        if (m_pid < 0) die("fork");
        if (m_pid == 0) {
            ::close(toChild[1]);
            ::close(fromChild[0]);
            serve(toChild[0], fromChild[1]);
            std::_Exit(0);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        m_out = toChild[1];
        m_in = fromChild[0];
    }
    ~Launcher() {
        ::close(m_out);
        ::close(m_in);
        ::waitpid(m_pid, nullptr, 0);
    }

    RunResult run(const std::vector<std::string>& argv) {
        std::uint32_t n = static_cast<std::uint32_t>(argv.size());
        writeAll(m_out, &n, sizeof n);
        for (const auto& a : argv) {
            std::uint32_t len = static_cast<std::uint32_t>(a.size());
            writeAll(m_out, &len, sizeof len);
            writeAll(m_out, a.data(), a.size());
        }
        RunResult r;
        if (!readAll(m_in, &r, sizeof r)) die("launcher");
        return r;
    }

  private:
    static void serve(int in, int out) {
        for (;;) {
            std::uint32_t n = 0;
            if (!readAll(in, &n, sizeof n)) return;
            std::vector<std::string> args(n);
            for (auto& a : args) {
                std::uint32_t len = 0;
                if (!readAll(in, &len, sizeof len)) return;
                a.resize(len);
                if (!readAll(in, a.data(), len)) return;
            }
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            const auto start = Clock::now();
            pid_t pid = ::fork();
            if (pid == 0) {
                int devnull = ::open("/dev/null", O_WRONLY);
                ::dup2(devnull, 1);
                ::execv(argv[0], argv.data());
                std::_Exit(127);
            }
            int status = 0;
            rusage ru{};
            ::wait4(pid, &status, 0, &ru);
            RunResult r;
            r.wallNs =
                std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
            r.maxRssKiB = ru.ru_maxrss;
            r.cpuNs = (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000000000LL +
                      (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1000LL;
            r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            writeAll(out, &r, sizeof r);
        }
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_in = -1;
};

// ---- server: the prepared answers, chosen by namespace and method --------------------------

struct Answer {
    std::string before;  // up to the message ID
    std::string after;
};

Answer split(const std::string& body) {
    std::size_t at = body.find(benchdata::kIdPlaceholder);
    return {body.substr(0, at), body.substr(at + std::strlen(benchdata::kIdPlaceholder))};
}

std::string nameSpaceFor(int count) {
    return "root/bench" + std::to_string(count);
}

class Server {
  public:
    explicit Server(const std::map<std::string, Answer>& answers) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) die("bind");
        if (::listen(m_fd, 16) != 0) die("listen");
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_pid = ::fork();
        if (m_pid == 0) {
            for (;;) {
                int c = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (c < 0) continue;
                serveConnection(c, answers);
                ::close(c);
            }
        }
        ::close(m_fd);
    }
    ~Server() {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    unsigned port() const { return m_port; }

  private:
    static std::string header(const std::string& head, const char* name) {
        std::string lower = head;
        for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        std::string key = "\r\n" + std::string(name) + ":";
        std::size_t at = lower.find(key);
        if (at == std::string::npos) return {};
        std::size_t b = at + key.size();
        std::size_t e = head.find("\r\n", b);
        std::string v = head.substr(b, e - b);
        while (!v.empty() && v.front() == ' ') v.erase(0, 1);
        return v;
    }

    static void serveConnection(int c, const std::map<std::string, Answer>& answers) {
        std::string buf;
        char chunk[65536];
        for (;;) {
            std::size_t end;
            while ((end = buf.find("\r\n\r\n")) == std::string::npos) {
                ssize_t n = ::read(c, chunk, sizeof chunk);
                if (n <= 0) return;
                buf.append(chunk, static_cast<std::size_t>(n));
            }
            const std::string head = buf.substr(0, end);
            const std::size_t length =
                std::strtoul(header(head, "content-length").c_str(), nullptr, 10);
            while (buf.size() < end + 4 + length) {
                ssize_t n = ::read(c, chunk, sizeof chunk);
                if (n <= 0) return;
                buf.append(chunk, static_cast<std::size_t>(n));
            }
            const std::string body = buf.substr(end + 4, length);
            buf.erase(0, end + 4 + length);
            std::size_t id = body.find("MESSAGE ID=\"");
            std::string messageId = id == std::string::npos
                                        ? "1"
                                        : body.substr(id + 12, body.find('"', id + 12) - id - 12);
            auto it = answers.find(header(head, "cimmethod") + " " + header(head, "cimobject"));
            if (it == answers.end()) {
                const char* no = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
                writeAll(c, no, std::strlen(no));
                continue;
            }
            const Answer& a = it->second;
            std::string status =
                "HTTP/1.1 200 OK\r\nContent-Type: application/xml; "
                "charset=\"utf-8\"\r\nCIMOperation: MethodResponse\r\n"
                "Content-Length: " +
                std::to_string(a.before.size() + messageId.size() + a.after.size()) + "\r\n\r\n";
            iovec parts[4] = {{status.data(), status.size()},
                              {const_cast<char*>(a.before.data()), a.before.size()},
                              {messageId.data(), messageId.size()},
                              {const_cast<char*>(a.after.data()), a.after.size()}};
            int first = 0;
            while (first < 4) {
                ssize_t n = ::writev(c, parts + first, 4 - first);
                if (n <= 0) return;
                std::size_t left = static_cast<std::size_t>(n);
                while (first < 4 && left >= parts[first].iov_len) {
                    left -= parts[first].iov_len;
                    ++first;
                }
                if (first < 4) {
                    parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + left;
                    parts[first].iov_len -= left;
                }
            }
        }
    }

    int m_fd = -1;
    unsigned m_port = 0;
    pid_t m_pid = -1;
};

// ---- child modes ---------------------------------------------------------------------------

// Resident memory of this process in MiB: "VmRSS:" now or "VmHWM:" at its peak.
double statusMiB(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    double kib = 0;
    const std::size_t len = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, len) == 0) kib = std::atof(line + len);
    std::fclose(f);
    return kib / 1024.0;
}

// Modes: ei, ein (collecting forms); ei-each (the callback form, counting). With a report
// file, writes "returned_MiB peak_MiB" over the memory held before the call.
int childLibrary(const std::string& mode, unsigned port, const std::string& ns, long expect,
                 const char* report) {
    cim::CIMClient client;
    client.setTimeout(600000);
    client.setMaxResponseSize(std::size_t(4) << 30);
    client.connect("127.0.0.1", port, "", "");
    const double base = statusMiB("VmRSS:");
    long got = 0;
    double returned = 0;
    if (mode == "ei") {
        auto all = client.enumerateInstances(ns, "CIM_StorageVolume", true, false, false, false);
        got = static_cast<long>(all.size());
        returned = statusMiB("VmRSS:") - base;
    } else if (mode == "ein") {
        got = static_cast<long>(client.enumerateInstanceNames(ns, "CIM_StorageVolume").size());
    } else if (mode == "ei-each") {
        client.forEachInstance(
            ns, "CIM_StorageVolume", [&](cim::CIMInstance&&) { ++got; }, true, false);
    }
    if (report) {
        if (FILE* f = std::fopen(report, "w")) {
            std::fprintf(f, "%.1f %.1f\n", returned, statusMiB("VmHWM:") - base);
            std::fclose(f);
        }
    }
    return got == expect ? 0 : 1;
}

std::size_t discard(char*, std::size_t size, std::size_t count, void* user) {
    *static_cast<std::size_t*>(user) += size * count;
    return size * count;
}

int childHttp(const std::string& mode, unsigned port, const std::string& ns, long expectBytes) {
    cim::xml::Request r;
    r.methodName = mode == "ei" ? cim::xml::kEnumerateInstances : cim::xml::kEnumerateInstanceNames;
    r.nameSpace = ns;
    r.className = cim::CIMName("CIM_StorageVolume");
    const std::string body = cim::xml::encodeRequest(r);
    CURL* c = curl_easy_init();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/cimom";
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Content-Type: application/xml; charset=\"utf-8\"");
    headers = curl_slist_append(headers, "CIMOperation: MethodCall");
    headers = curl_slist_append(headers, ("CIMMethod: " + r.methodName).c_str());
    std::string object = ns;
    std::size_t slash;
    while ((slash = object.find('/')) != std::string::npos) object.replace(slash, 1, "%2F");
    headers = curl_slist_append(headers, ("CIMObject: " + object).c_str());
    std::size_t got = 0;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &discard);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &got);
    CURLcode rc = curl_easy_perform(c);
    curl_slist_free_all(headers);
    curl_easy_cleanup(c);
    return rc == CURLE_OK && static_cast<long>(got) >= expectBytes ? 0 : 1;
}

// ---- driver --------------------------------------------------------------------------------

struct Figures {
    double wallS = 0;
    double cpuS = 0;
    double rssMiB = 0;
    int failures = 0;
};

Figures medianOf(Launcher& launcher, const std::vector<std::string>& argv, int runs) {
    std::vector<double> wall, cpu, rss;
    Figures f;
    for (int i = 0; i < runs; ++i) {
        RunResult r = launcher.run(argv);
        if (r.status != 0) ++f.failures;
        wall.push_back(static_cast<double>(r.wallNs) / 1e9);
        cpu.push_back(static_cast<double>(r.cpuNs) / 1e9);
        rss.push_back(static_cast<double>(r.maxRssKiB) / 1024.0);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    std::sort(rss.begin(), rss.end());
    f.wallS = wall[wall.size() / 2];
    f.cpuS = cpu[cpu.size() / 2];
    f.rssMiB = rss[rss.size() / 2];
    return f;
}

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

Figures pugixmlParse(const std::string& body, int runs) {
    std::vector<double> wall, cpu;
    std::vector<char> copy;
    for (int i = 0; i < runs; ++i) {
        copy.assign(body.begin(), body.end());
        pugi::xml_document doc;
        const auto start = Clock::now();
        const double cpuStart = cpuSeconds();
        pugi::xml_parse_result res = doc.load_buffer_inplace(copy.data(), copy.size());
        cpu.push_back(cpuSeconds() - cpuStart);
        wall.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        if (!res) std::fprintf(stderr, "pugixml: %s\n", res.description());
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    Figures f;
    f.wallS = wall[wall.size() / 2];
    f.cpuS = cpu[cpu.size() / 2];
    return f;
}

std::string selfPath() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) die("readlink");
    return std::string(buf, static_cast<std::size_t>(n));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--child") == 0 && argc >= 7) {
        const std::string what = argv[2], mode = argv[3];
        const unsigned port = static_cast<unsigned>(std::atoi(argv[4]));
        const long expect = std::atol(argv[6]);
        try {
            if (what == "library")
                return childLibrary(mode, port, argv[5], expect, argc > 7 ? argv[7] : nullptr);
            if (what == "http") return childHttp(mode, port, argv[5], expect);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
        return 2;
    }
    Launcher launcher;  // forked while this process is still small

    std::vector<int> sizes = {10000, 100000};
    int runs = 5;
    long bigMiB = 0;
    bool serveOnly = false;
    std::string cimq = RKSO_CIMQ_BINARY;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--serve") == 0) serveOnly = true;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string opt = argv[i];
        if (opt == "--serve") {
            --i;
        } else if (opt == "--runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (opt == "--cimq") {
            cimq = argv[i + 1];
        } else if (opt == "--big") {
            bigMiB = std::atol(argv[i + 1]);
        } else if (opt == "--sizes") {
            sizes.clear();
            std::string list = argv[i + 1];
            for (std::size_t p = 0; p < list.size();) {
                std::size_t q = list.find(',', p);
                sizes.push_back(std::atoi(list.substr(p, q - p).c_str()));
                p = q == std::string::npos ? list.size() : q + 1;
            }
        }
    }

    std::fprintf(stderr, "generating answers...\n");
    std::map<std::string, Answer> answers;
    std::map<int, std::pair<std::string, std::string>> bodies;
    for (int n : sizes) {
        std::string ei = benchdata::enumerateInstancesBody(n);
        std::string ein = benchdata::enumerateInstanceNamesBody(n);
        std::string object = nameSpaceFor(n);
        object.replace(object.find('/'), 1, "%2F");
        answers["EnumerateInstances " + object] = split(ei);
        answers["EnumerateInstanceNames " + object] = split(ein);
        bodies[n] = {std::move(ei), std::move(ein)};
    }
    long bigCount = 0;
    std::size_t bigBytes = 0;
    if (bigMiB > 0) {
        std::string big = benchdata::smallInstancesBody(std::size_t(bigMiB) << 20, bigCount);
        bigBytes = big.size();
        answers["EnumerateInstances root%2Fbig"] = split(big);
    }
    Server server(answers);
    answers.clear();
    const std::string port = std::to_string(server.port());
    const std::string url = "http://127.0.0.1:" + port;
    const std::string self = selfPath();
    if (serveOnly) {
        // For profiling by hand: serve until interrupted.
        for (int n : sizes)
            std::printf("%s -n %s (%d volumes)\n", url.c_str(), nameSpaceFor(n).c_str(), n);
        std::fflush(stdout);
        ::pause();
        return 0;
    }

    std::printf("%-8s %-4s %-24s %8s %8s %8s   %s\n", "volumes", "op", "measure", "wall_s", "cpu_s",
                "rss_MiB", "note");
    for (int n : sizes) {
        const std::string ns = nameSpaceFor(n);
        for (int op = 0; op < 2; ++op) {
            const std::string mode = op == 0 ? "ei" : "ein";
            const std::string& body = op == 0 ? bodies[n].first : bodies[n].second;
            const std::string bodyNote =
                "body " + std::to_string(body.size() / 1000000.0).substr(0, 6) + " MB";
            auto line = [&](const char* what, const Figures& f, const std::string& note) {
                std::printf("%-8d %-4s %-24s %8.3f %8.3f %8.1f   %s%s\n", n, mode.c_str(), what,
                            f.wallS, f.cpuS, f.rssMiB, note.c_str(),
                            f.failures ? "  FAILED RUNS" : "");
                std::fflush(stdout);
            };
            line(
                ("cimq " + mode).c_str(),
                medianOf(launcher, {cimq, "--url", url, "-n", ns, mode, "CIM_StorageVolume"}, runs),
                bodyNote);
            line("library call (vector)",
                 medianOf(launcher, {self, "--child", "library", mode, port, ns, std::to_string(n)},
                          runs),
                 "");
            if (op == 0)
                line("library call (callback)",
                     medianOf(launcher,
                              {self, "--child", "library", "ei-each", port, ns, std::to_string(n)},
                              runs),
                     "");
            line(
                "floor: HTTP transfer",
                medianOf(launcher,
                         {self, "--child", "http", mode, port, ns, std::to_string(body.size() - 8)},
                         runs),
                "libcurl, body discarded");
            line("floor: pugixml parse", pugixmlParse(body, runs),
                 "in place, warm, in this process (no rss)");
        }
    }
    if (bigMiB > 0) {
        // Memory of decoding one large answer of small instances, over what the process held
        // before the call: the collecting form against what it returns, the callback form.
        const std::string report = "/tmp/bench_enumerate_report." + std::to_string(::getpid());
        for (const char* mode : {"ei", "ei-each"}) {
            RunResult r = launcher.run({self, "--child", "library", mode, port, "root/big",
                                        std::to_string(bigCount), report});
            double returned = 0, peak = 0;
            if (FILE* f = std::fopen(report.c_str(), "r")) {
                if (std::fscanf(f, "%lf %lf", &returned, &peak) != 2) returned = peak = 0;
                std::fclose(f);
            }
            std::remove(report.c_str());
            std::printf(
                "big answer %.0f MB, %ld instances, %s: wall %.2f s, returned %.0f MiB, "
                "peak %.0f MiB%s%s\n",
                static_cast<double>(bigBytes) / 1e6, bigCount,
                std::strcmp(mode, "ei") == 0 ? "collected" : "callback",
                static_cast<double>(r.wallNs) / 1e9, returned, peak,
                returned > 0
                    ? (", peak/returned " + std::to_string(peak / returned).substr(0, 4)).c_str()
                    : "",
                r.status != 0 ? "  FAILED" : "");
            std::fflush(stdout);
        }
    }
    return 0;
}
