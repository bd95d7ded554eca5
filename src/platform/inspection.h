// An inspection mode of the Linux and Win32 backends, for the devicecode
// tool's report: with it the log's set-up can be worked out for any host and
// library file, and without creating anything. The plug-in never turns it on.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

struct Inspection {
  std::string hostPath;                   // reported as the host executable's file
  std::string libraryPath;                // reported as the library's own file
  std::vector<std::string> profilesRead;  // every file GetPrivateProfileIntA read
  // Folders the backend itself would have made (Linux: the user's private
  // temporary folder), in that order.
  std::vector<std::string> foldersToCreate;
};

// While an inspection is set (null: none), GetModuleFileNameA reports
// `hostPath` for the host's module and `libraryPath` for the module that
// VirtualQuery now gives for every address (a handle apart from the host's, so
// GetOwnModuleHandle finds a library beside the host); CreateDirectoryA
// creates nothing and reports success; GetTempPathA and GetFallbackTempFolder
// create nothing and note the folder they would make; GetPrivateProfileIntA
// records the file it reads. Set and clear it on the thread that does the
// work, with no other thread using the backend meanwhile.
void SetInspection(Inspection* inspection);

// --- For the backends: what an inspection answers in place of the system ---

bool Inspecting();
// The module every address belongs to while inspecting: any non-null value
// that is no image's load base.
ModuleHandle InspectedLibrary();
// The path reported for `module` (`isHost`: it is the host's module), or null
// when no inspection is set or the module is neither of the two.
const std::string* InspectedModulePath(ModuleHandle module, bool isHost);
// Notes a file GetPrivateProfileIntA reads, while inspecting.
void NoteProfileRead(const char* fileName);
// Notes a folder the backend would make, while inspecting.
void NoteFolderCreation(const std::string& path);

}  // namespace platform
