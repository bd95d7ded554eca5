// Process, heap, time, file and shell operations on Windows: each one is the
// ANSI Win32 call of the same name, but in the tool's inspection mode.
// platform.h first: it includes the Windows headers in the order they need.
#include "platform/platform.h"

#include <shlwapi.h>

#include <fcntl.h>

#include <cstdlib>

#include "platform/inspection.h"
#include "platform/text_query.h"

namespace platform {

const char kPathSeparator = '\\';
const int kOpenNoInherit = _O_NOINHERIT;

std::string GetFallbackTempFolder() { return "C:\\TrelLog\\"; }

// The CRT linked into this module: its heap is the library's own, whatever
// runtime the host uses.
void* Malloc(std::size_t size) { return std::malloc(size); }

void Free(void* block) { std::free(block); }

void GetLocalTime(SystemTime* time) { ::GetLocalTime(time); }

std::uint32_t GetCurrentProcessId() { return ::GetCurrentProcessId(); }

int ProcessIdToSessionId(std::uint32_t processId, std::uint32_t* sessionId) {
  DWORD session = *sessionId;
  const BOOL ok = ::ProcessIdToSessionId(processId, &session);
  *sessionId = session;
  return ok;
}

std::uint32_t GetTempPathA(std::uint32_t size, char* buffer) {
  return ::GetTempPathA(size, buffer);
}

std::uint32_t GetLongPathNameA(const char* shortPath, char* longPath, std::uint32_t size) {
  return ::GetLongPathNameA(shortPath, longPath, size);
}

int CreateDirectoryA(const char* path) {
  // The report reads the folders from the log's plan; this only makes sure
  // an inspection never creates one.
  if (Inspecting()) return 1;
  return ::CreateDirectoryA(path, nullptr);
}

std::uint32_t GetModuleFileNameA(ModuleHandle module, char* buffer, std::uint32_t size) {
  const bool host = module == nullptr || module == ::GetModuleHandleA(nullptr);
  if (const std::string* inspected = InspectedModulePath(module, host)) {
    return size == 0 ? 0 : CopyModulePath(*inspected, buffer, size);
  }
  const DWORD length = ::GetModuleFileNameA(module, buffer, size);
  // A cut path ends with a NUL from Vista on; XP (and Wine) fill all `size`
  // bytes without one. Terminate it so a cut path is a text everywhere.
  if (length == size && size > 0) buffer[size - 1] = '\0';
  return length;
}

ModuleHandle GetModuleHandleA(const char* moduleName) { return ::GetModuleHandleA(moduleName); }

std::size_t VirtualQuery(const void* address, MemoryBasicInformation* info, std::size_t length) {
  if (Inspecting()) {
    if (length < sizeof *info) return 0;
    *info = {};
    info->AllocationBase = InspectedLibrary();
    return sizeof *info;
  }
  return ::VirtualQuery(address, info, length);
}

std::uint32_t GetFileAttributesA(const char* path) { return ::GetFileAttributesA(path); }

std::uint32_t GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                                    const char* fileName) {
  NoteProfileRead(fileName);
  return ::GetPrivateProfileIntA(section, key, defaultValue, fileName);
}

int PathRemoveFileSpecA(char* path) { return ::PathRemoveFileSpecA(path); }

void OutputDebugStringA(const char* text) { ::OutputDebugStringA(text); }

}  // namespace platform
