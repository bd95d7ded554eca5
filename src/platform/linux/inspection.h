// An inspection mode of the Linux backend, for the devicecode tool's report:
// with it the log's set-up can be worked out for any host and library file,
// and without creating anything. The plug-in never turns it on.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct Inspection {
  std::string hostPath;                   // reported as the host executable's file
  std::string libraryPath;                // reported as the library's own file
  std::vector<std::string> profilesRead;  // every file GetPrivateProfileIntA read
};

// While an inspection is set (null: none), GetModuleFileNameA reports
// `hostPath` for the host's module and `libraryPath` for the module that
// VirtualQuery now gives for every address (a handle apart from the host's, so
// GetOwnModuleHandle finds a library beside the host); CreateDirectoryA
// creates nothing and reports success; GetPrivateProfileIntA
// records the file it reads. Set and clear it on the thread that does the
// work, with no other thread using the backend meanwhile.
void SetInspection(Inspection* inspection);

}  // namespace platform
