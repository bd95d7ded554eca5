// What the tool needs from the operating system beyond the library's
// platform layer: its own file, files by their canonical paths, and loading
// a shared library and its exports by name. One implementation per system
// (tool_os_posix.cpp: dlopen and /proc); the rest of the tool is portable.
#pragma once

#include <string>

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

// A loaded shared library, or the reason it could not be loaded.
struct Library {
  void* handle = nullptr;
  std::string error;  // set when handle is null
};

// Loads the file at `path` (a canonical path, never searched for).
Library OpenLibrary(const std::string& path);
// The address of an export by name, or null.
void* FindExport(void* handle, const char* name);
void CloseLibrary(void* handle);

}  // namespace devicecode
