// Host debug log. Every DebugLvl call writes exactly one line:
//
//   2026-12-06 19:30:00.123 [12345] Tag L-1: text
//
// (local time, kernel thread id, tag, level, text). Lines go to the file
// instance an EvDebug was built with, else to the process log: stderr by
// default, or the file named by RKHOST_DEBUG_LOG ("stderr" and "off" are also
// accepted); lines below RKHOST_DEBUG_LEVEL (default -1, everything) are dropped.
// Concurrent writers never interleave within a line.
#pragma once

#include <string>

// A log file of its own, appended to.
class EvDebugFileInstance {
  public:
    explicit EvDebugFileInstance(const char* path);
    ~EvDebugFileInstance();
    EvDebugFileInstance(const EvDebugFileInstance&) = delete;
    EvDebugFileInstance& operator=(const EvDebugFileInstance&) = delete;

    bool isOpen() const;
    void writeLine(const std::string& line);

  private:
    struct Impl;
    Impl* m_impl;
};

// Receives every line of the process log instead of its file (tests, embedding hosts).
// The text arrives formatted, without the time/thread prefix.
typedef void (*EvDebugSink)(void* context, const char* tag, int level, const char* text);

class EvDebug {
  public:
    // file may be null: the process log is used.
    explicit EvDebug(EvDebugFileInstance* file = nullptr);

    void DebugLvl(const char* tag, int level, const char* format, ...)
        __attribute__((format(printf, 4, 5)));

    // Host-side control of the process log. Each returns true on success.
    // path: a file name (appended to), "stderr", or "off".
    static bool setLogFile(const char* path, std::string* error = nullptr);
    static void setLogLevel(int minLevel);
    static int getLogLevel();
    // A null sink restores the file/stderr output.
    static void setSink(EvDebugSink sink, void* context);

  private:
    EvDebugFileInstance* m_file;
};
