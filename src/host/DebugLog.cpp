// EvDebug: the host debug log.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "IniText.h"
#include "rkso/EvDebug.h"

struct EvDebugFileInstance::Impl {
    std::mutex mu;
    FILE* file = nullptr;
};

EvDebugFileInstance::EvDebugFileInstance(const char* path) : m_impl(new Impl) {
    if (path && *path) m_impl->file = std::fopen(path, "ae");
}

EvDebugFileInstance::~EvDebugFileInstance() {
    if (m_impl->file) std::fclose(m_impl->file);
    delete m_impl;
}

bool EvDebugFileInstance::isOpen() const {
    return m_impl->file != nullptr;
}

void EvDebugFileInstance::writeLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_impl->mu);
    if (!m_impl->file) return;
    std::fwrite(line.data(), 1, line.size(), m_impl->file);
    std::fflush(m_impl->file);
}

namespace {

struct ProcessLog {
    std::mutex mu;
    FILE* file = stderr;
    bool ownFile = false;
    bool off = false;
    EvDebugSink sink = nullptr;
    void* sinkContext = nullptr;
    std::atomic<int> minLevel{-1};
    std::once_flag envOnce;
};

ProcessLog& processLog() {
    static ProcessLog log;
    return log;
}

// Installs path as the output; the caller holds the lock.
bool openLocked(ProcessLog& log, const char* path, std::string* error) {
    FILE* next = nullptr;
    bool off = false;
    if (std::strcmp(path, "stderr") == 0 || *path == '\0') {
        next = stderr;
    } else if (std::strcmp(path, "off") == 0) {
        off = true;
    } else {
        next = std::fopen(path, "ae");
        if (!next) {
            if (error) *error = std::string("cannot open log file '") + path + "'";
            return false;
        }
    }
    if (log.ownFile && log.file) std::fclose(log.file);
    log.file = next;
    log.ownFile = next && next != stderr;
    log.off = off;
    return true;
}

// RKHOST_DEBUG_LOG and RKHOST_DEBUG_LEVEL, read once before the first line or setting.
void applyEnvironment() {
    ProcessLog& log = processLog();
    std::call_once(log.envOnce, [&log] {
        if (const char* level = std::getenv("RKHOST_DEBUG_LEVEL")) {
            int v;
            if (rkhost::parseInt(level, &v)) log.minLevel.store(v);
        }
        if (const char* path = std::getenv("RKHOST_DEBUG_LOG")) {
            std::lock_guard<std::mutex> lock(log.mu);
            std::string error;
            if (!openLocked(log, path, &error)) std::fprintf(stderr, "%s\n", error.c_str());
        }
    });
}

// One log line never spans lines: a trailing newline is dropped, inner ones become spaces.
void flattenLine(std::string& text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
}

std::string linePrefix(const char* tag, int level) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char prefix[96];
    std::snprintf(prefix, sizeof prefix, "%s.%03ld [%ld] ", stamp, ts.tv_nsec / 1000000L,
                  static_cast<long>(syscall(SYS_gettid)));
    std::string out(prefix);
    out += tag;
    out += " L";
    out += std::to_string(level);
    out += ": ";
    return out;
}

}  // namespace

EvDebug::EvDebug(EvDebugFileInstance* file) : m_file(file) {}

void EvDebug::DebugLvl(const char* tag, int level, const char* format, ...) {
    ProcessLog& log = processLog();
    applyEnvironment();
    if (level < log.minLevel.load(std::memory_order_relaxed)) return;
    if (!tag) tag = "";
    // Formatted exactly once here; from now on the text is data.
    std::string text;
    if (format) {
        va_list args;
        va_start(args, format);
        va_list again;
        va_copy(again, args);
        int n = std::vsnprintf(nullptr, 0, format, args);
        va_end(args);
        if (n > 0) {
            text.resize(static_cast<size_t>(n) + 1);
            std::vsnprintf(&text[0], text.size(), format, again);
            text.resize(static_cast<size_t>(n));
        }
        va_end(again);
    }
    flattenLine(text);

    if (m_file && m_file->isOpen()) {
        m_file->writeLine(linePrefix(tag, level) + text + "\n");
        return;
    }
    std::lock_guard<std::mutex> lock(log.mu);
    if (log.sink) {
        log.sink(log.sinkContext, tag, level, text.c_str());
        return;
    }
    if (log.off || !log.file) return;
    std::string line = linePrefix(tag, level) + text + "\n";
    std::fwrite(line.data(), 1, line.size(), log.file);
    std::fflush(log.file);
}

bool EvDebug::setLogFile(const char* path, std::string* error) {
    applyEnvironment();
    if (!path) {
        if (error) *error = "no log file given";
        return false;
    }
    ProcessLog& log = processLog();
    std::lock_guard<std::mutex> lock(log.mu);
    return openLocked(log, path, error);
}

void EvDebug::setLogLevel(int minLevel) {
    applyEnvironment();
    processLog().minLevel.store(minLevel);
}

int EvDebug::getLogLevel() {
    applyEnvironment();
    return processLog().minLevel.load();
}

void EvDebug::setSink(EvDebugSink sink, void* context) {
    applyEnvironment();
    ProcessLog& log = processLog();
    std::lock_guard<std::mutex> lock(log.mu);
    log.sink = sink;
    log.sinkContext = context;
}
