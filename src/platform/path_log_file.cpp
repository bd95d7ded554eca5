// The log file opened by its path, for backends that cannot make the
// appender's own first open fail (Windows, the fake): the set-up replaces
// that open at once by one with kOpenNoInherit.
#include "platform/platform.h"

namespace platform {

LogFile PrepareLogFile(const std::string& path) {
  LogFile file;
  file.name = path;
  file.flags = kOpenNoInherit;
  return file;
}

bool ActivateLogFile(const LogFile&) { return true; }

bool AcceptLogFile(const LogFile&, int) { return true; }

void ReleaseLogFile(const LogFile&) {}

}  // namespace platform
