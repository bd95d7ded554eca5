// Where the diagnostic log stands: its category name, folders and file name,
// worked out from the process the library is loaded into.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace devicecode {

struct LogEnvironment {
  std::string categoryName;  // "[S<session>P<pid>]->" + host part
  std::string logFolder;     // the day's folder under Logs, else the base folder
  std::string configFolder;  // the Config folder, else the base folder
  std::string tempFolder;    // the temporary folder's long form, else the fallback
  std::string logFileName;   // host name up to its first "." + ".log"
  std::string baseFolder;    // where the Logs and Config searches started
  // Folders the log needs and may lack, in creation order: the fixed
  // fallback temporary folder, then the day's folder under a found Logs.
  std::vector<std::string> foldersToCreate;
};

// Reads where the log stands; creates nothing (the set-up creates
// foldersToCreate), so the tool can report it for any host and library. Only
// std::bad_alloc passes through.
LogEnvironment DiscoverLogEnvironment();

// The library's own module (the image holding this function's code), or null.
platform::ModuleHandle GetOwnModuleHandle();

}  // namespace devicecode
