// What the tool needs from the operating system beyond the library's
// platform layer: its own file, files by their canonical paths, and loading
// the plug-in by its exported names. One implementation per system
// (tool_os_posix.cpp: dlopen and /proc); the rest of the tool is portable.
#pragma once

#include <string>

#include "devicecode.h"

namespace devicecode {

// A canonical path, or the reason there is none.
struct ResolvedFile {
  std::string path;  // empty on failure
  std::string error;
};

// The tool's own executable, as a canonical path.
ResolvedFile ExecutableFile();

// `path` (relative to the current folder) as the canonical path of a
// readable plain file.
ResolvedFile ResolveFile(const std::string& path);

// A loaded plug-in with both exports, or the reason it is refused.
struct Plugin {
  void* handle = nullptr;
  GetDeviceCodeFunction getDeviceCode = nullptr;
  FreeBufferFunction freeBuffer = nullptr;
  std::string error;  // set when handle is null
};

// Loads the file at `path` (a canonical path, never searched for) and finds
// both exports; a file without them is unloaded again and refused.
Plugin LoadPlugin(const std::string& path);
void UnloadPlugin(Plugin& plugin);

}  // namespace devicecode
