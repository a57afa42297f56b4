// Standard error taken over by a pipe, for tests of the log lines a unit writes.
#pragma once

#include <unistd.h>

#include <string>

#include "bridge_core/files.h"

namespace quenra::testing {

// Everything written to standard error while it is alive, read back afterwards.
class CapturedStandardError {
  public:
    CapturedStandardError() : saved_(::dup(STDERR_FILENO)), pipe_(Files::openPipe()) {
        ::dup2(pipe_.writing.get(), STDERR_FILENO);
    }
    ~CapturedStandardError() { restore(); }
    std::string text() {
        restore();
        std::string text;
        char chunk[512];
        ssize_t count;
        while ((count = ::read(pipe_.reading.get(), chunk, sizeof chunk)) > 0)
            text.append(chunk, count);
        return text;
    }

  private:
    void restore() {
        if (saved_ < 0)
            return;
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        pipe_.writing.reset();
        saved_ = -1;
    }
    int saved_ = -1;
    Files::Pipe pipe_;
};

}  // namespace quenra::testing
