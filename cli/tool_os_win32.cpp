// The tool's operating-system seam on Windows: the ANSI calls a host makes.
#include <windows.h>

#include <string>
#include <vector>

#include "tool_os.h"

namespace devicecode {
namespace {

// The system's text for an error code, without its line end.
std::string ErrorText(DWORD code) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length != 0 ? std::string(text, length) : "";
  ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(code) : message;
}

// A text query that may need a larger buffer: `query(size, buffer)` returns
// the length written, 0 on failure, or the size needed.
template <typename Query>
std::string QueryText(Query query) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = query(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) return {};
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

}  // namespace

ResolvedFile ExecutableFile() {
  // GetModuleFileNameA cuts a long path and returns the buffer's size.
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      return {{}, "cannot find this tool's own file: " + ErrorText(::GetLastError())};
    }
    if (length < buffer.size()) return ResolveFile(std::string(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
}

ResolvedFile ResolveFile(const std::string& path) {
  const std::string full = QueryText([&path](DWORD size, char* buffer) {
    return ::GetFullPathNameA(path.c_str(), size, buffer, nullptr);
  });
  if (full.empty()) return {{}, ErrorText(::GetLastError())};
  // The long form, as the log's own paths are (a short 8.3 name expanded).
  std::string resolved = QueryText(
      [&full](DWORD size, char* buffer) { return ::GetLongPathNameA(full.c_str(), buffer, size); });
  if (resolved.empty()) return {{}, ErrorText(::GetLastError())};
  const DWORD attributes = ::GetFileAttributesA(resolved.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {{}, ErrorText(::GetLastError())};
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {{}, "is a folder"};
  const HANDLE file = ::CreateFileA(resolved.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {{}, ErrorText(::GetLastError())};
  const DWORD type = ::GetFileType(file);
  ::CloseHandle(file);
  if (type != FILE_TYPE_DISK) return {{}, "not a regular file"};
  return {resolved, {}};
}

Library OpenLibrary(const std::string& path) {
  Library library;
  // A file that is no DLL fails here with an error code, never a dialog box.
  const UINT errorMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const HMODULE module = ::LoadLibraryA(path.c_str());
  const DWORD error = ::GetLastError();
  ::SetErrorMode(errorMode);
  if (module == nullptr) {
    library.error = ErrorText(error);
  } else {
    library.handle = module;
  }
  return library;
}

// Through void*, since FARPROC's type is no function type of ours.
void* FindExport(void* handle, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle), name));
}

void CloseLibrary(void* handle) { ::FreeLibrary(static_cast<HMODULE>(handle)); }

}  // namespace devicecode
