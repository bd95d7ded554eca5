// Where the diagnostic log stands: its category name, folders and file name,
// worked out from the process the library is loaded into.
#pragma once

#include <string>

#include "platform/platform.h"

namespace devicecode {

struct LogEnvironment {
  std::string categoryName;  // "[S<session>P<pid>]->" + host part
  std::string logFolder;     // the day's folder under Logs, else the base folder
  std::string configFolder;  // the Config folder, else the base folder
  std::string tempFolder;    // the temporary folder's long form, else the fallback
  std::string logFileName;   // host name up to its first "." + ".log"
};

// Overwrites all five texts; always returns 1. Creates at most the fallback
// temporary folder and the day's folder under a found Logs folder. Only
// std::bad_alloc passes through. `baseFolder`, when given, receives the folder
// both searches started from (for the tool's report; the set-up needs none).
int DiscoverLogEnvironment(std::string& categoryName, std::string& logFolder,
                           std::string& configFolder, std::string& tempFolder,
                           std::string& logFileName, std::string* baseFolder = nullptr);

// The library's own module (the image holding this function's code), or null.
platform::ModuleHandle GetOwnModuleHandle();

}  // namespace devicecode
