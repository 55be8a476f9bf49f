// Captures the host debug log at every level while it lives; one at a time per process.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

struct CapturedLine {
    std::string tag;
    int level;
    std::string text;
};

class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<CapturedLine> lines() const;
    bool contains(const std::string& needle) const;

  private:
    static void sink(void* context, const char* tag, int level, const char* text);

    mutable std::mutex m_mu;
    std::vector<CapturedLine> m_lines;
    int m_previousLevel;
};

}  // namespace testsupport
