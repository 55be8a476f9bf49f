// A fresh directory under /tmp, removed with everything in it on destruction.
#pragma once

#include <string>

namespace testsupport {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& relative) const { return m_path + "/" + relative; }
    // Writes text to relative (creating parent directories); returns the full path.
    std::string write(const std::string& relative, const std::string& text,
                      unsigned mode = 0644) const;
    std::string mkdir(const std::string& relative) const;
    std::string read(const std::string& relative) const;

  private:
    std::string m_path;
};

}  // namespace testsupport
