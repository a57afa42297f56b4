// A fresh private directory for one test, removed with everything in it at the end.
#pragma once

#include <string>

namespace quenra::testing {

class TemporaryDirectory {
  public:
    // Under $TMPDIR (or /tmp); the path is absolute and resolved.
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative.
    std::string join(const std::string& relative) const;

  private:
    std::string path_;
};

// Small file helpers for assertions.
std::string readFileText(const std::string& path);                     // empty when unreadable
void writeFileText(const std::string& path, const std::string& text);  // throws on failure

}  // namespace quenra::testing
