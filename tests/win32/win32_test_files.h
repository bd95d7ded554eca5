// Folder and file helpers of the Windows tests that load a DLL from a real
// folder tree, through the same Win32 calls the library makes.
#pragma once

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testing_support {

// The folder of this executable, ending with '\'.
inline std::string ExecutableFolder() {
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text = path;
  return text.substr(0, text.rfind('\\') + 1);
}

// The temporary folder in its long form, ending with '\'.
inline std::string LongTempFolder() {
  char path[MAX_PATH] = {};
  ::GetTempPathA(MAX_PATH, path);
  ::GetLongPathNameA(path, path, MAX_PATH);
  return path;
}

// Today's local date as the log's day folders name it.
inline std::string Today() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  char date[16];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", now.wYear, now.wMonth, now.wDay);
  return date;
}

inline bool IsFolder(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

inline void RemoveTree(const std::string& folder) {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// The start of the log's category name for a process: "[S<session>P<id>]->".
inline std::string CategoryPrefix(DWORD processId) {
  DWORD session = 0;
  ::ProcessIdToSessionId(processId, &session);
  return "[S" + std::to_string(session) + "P" + std::to_string(processId) + "]->";
}

}  // namespace testing_support
