// The fake's process, time, module, folder, INI and debugger operations.
//
// Each returns its documented failure value when the fault plan fails the
// call, and any of them throws std::bad_alloc when the plan says so.
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/fake/fake_platform.h"
#include "platform/ini_reader.h"
#include "platform/text_query.h"

#ifdef DEVICECODE_FAKE_ON_DISK
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace platform {

#ifdef DEVICECODE_FAKE_ON_DISK
const char kFallbackFolder[] = "/tmp/TrelLog/";
const int kOpenNoInherit = O_CLOEXEC;
#else
const char kFallbackFolder[] = "C:\\TrelLog\\";
const int kOpenNoInherit = 0;
#endif

std::string GetFallbackTempFolder() { return kFallbackFolder; }

namespace fake {
namespace {

#ifndef DEVICECODE_FAKE_ON_DISK
const State::Entry* Find(const std::string& path) {
  const auto& entries = Get().entries;
  const auto found = entries.find(Normalize(path));
  return found == entries.end() ? nullptr : &found->second;
}
#endif

}  // namespace

std::string Normalize(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(kPathSeparator, start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (parts.size() > 1) parts.pop_back();
    } else if (part != "." && !(part.empty() && !parts.empty())) {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string key;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) key += kPathSeparator;
    key += parts[i];
  }
  return key;
}

void AddFolder(const std::string& path) {
  std::string key = Normalize(path);
  auto& entries = Get().entries;
  while (!key.empty()) {
    entries[key].folder = true;
    const std::size_t cut = key.rfind(kPathSeparator);
    if (cut == std::string::npos || cut == 0) break;
    key.resize(cut);
  }
}

void AddFile(const std::string& path, const std::string& contents) {
  const std::string key = Normalize(path);
  const std::size_t cut = key.rfind(kPathSeparator);
  if (cut != std::string::npos && cut > 0) AddFolder(key.substr(0, cut));
  Get().entries[key] = State::Entry{false, contents};
}

}  // namespace fake

void GetLocalTime(SystemTime* time) {
  if (fake::EnterCall("GetLocalTime")) return;
  *time = fake::Get().localTime;
}

std::uint32_t GetCurrentProcessId() {
  fake::EnterCall("GetCurrentProcessId");
  return fake::Get().processId;
}

int ProcessIdToSessionId(std::uint32_t processId, std::uint32_t* sessionId) {
  if (fake::EnterCall("ProcessIdToSessionId")) return 0;
  const fake::State& s = fake::Get();
  if (!s.sessionKnown || processId != s.processId) return 0;
  *sessionId = s.sessionId;
  return 1;
}

std::uint32_t GetTempPathA(std::uint32_t size, char* buffer) {
  if (fake::EnterCall("GetTempPathA")) return 0;
  const std::string& path = fake::Get().tempPath;
  return path.empty() ? 0 : CopyOut(path, buffer, size);
}

std::uint32_t GetLongPathNameA(const char* shortPath, char* longPath, std::uint32_t size) {
  if (fake::EnterCall("GetLongPathNameA")) return 0;
  const auto& longPaths = fake::Get().longPaths;
  const auto found = longPaths.find(shortPath);
  if (found != longPaths.end()) return CopyOut(found->second, longPath, size);
  // Like Windows: a path that exists and has no short names is its own long form.
  if (GetFileAttributesA(shortPath) == kInvalidFileAttributes) return 0;
  return CopyOut(shortPath, longPath, size);
}

int CreateDirectoryA(const char* path) {
  if (fake::EnterCall("CreateDirectoryA")) return 0;
#ifdef DEVICECODE_FAKE_ON_DISK
  if (mkdir(path, 0777) != 0) return 0;
#else
  // One level only: the parent must exist, the folder must not.
  const std::string key = fake::Normalize(path);
  const std::size_t cut = key.rfind(kPathSeparator);
  if (fake::Find(key) != nullptr) return 0;
  if (cut != std::string::npos) {
    const fake::State::Entry* parent = fake::Find(key.substr(0, cut));
    if (parent == nullptr || !parent->folder) return 0;
  }
  fake::Get().entries[key].folder = true;
#endif
  fake::Get().createdFolders.push_back(path);
  return 1;
}

std::uint32_t GetModuleFileNameA(ModuleHandle module, char* buffer, std::uint32_t size) {
  if (fake::EnterCall("GetModuleFileNameA") || size == 0) return 0;
  const fake::State& s = fake::Get();
  std::string path;
  if (module == nullptr || module == s.hostModule) {
    path = s.hostPath;
  } else if (module == s.ownModule) {
    path = s.ownModulePath;
  }
  if (path.empty()) return 0;
  return CopyModulePath(path, buffer, size);
}

ModuleHandle GetModuleHandleA(const char* moduleName) {
  if (fake::EnterCall("GetModuleHandleA") || moduleName != nullptr) return nullptr;
  return fake::Get().hostModule;
}

std::size_t VirtualQuery(const void*, MemoryBasicInformation* info, std::size_t length) {
  if (fake::EnterCall("VirtualQuery")) return 0;
  const fake::State& s = fake::Get();
  if (s.ownModule == nullptr || length < sizeof *info) return 0;
  info->AllocationBase = s.ownModule;
  return sizeof *info;
}

std::uint32_t GetFileAttributesA(const char* path) {
  if (fake::EnterCall("GetFileAttributesA")) return kInvalidFileAttributes;
#ifdef DEVICECODE_FAKE_ON_DISK
  struct stat status {};
  if (stat(path, &status) != 0) return kInvalidFileAttributes;
  return S_ISDIR(status.st_mode) ? kFileAttributeDirectory : 0x80u;
#else
  const fake::State::Entry* entry = fake::Find(path);
  if (entry == nullptr) return kInvalidFileAttributes;
  return entry->folder ? kFileAttributeDirectory : 0x80u;
#endif
}

std::uint32_t GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                                    const char* fileName) {
  if (fake::EnterCall("GetPrivateProfileIntA")) return static_cast<std::uint32_t>(defaultValue);
  ++fake::Get().profileReads;
#ifdef DEVICECODE_FAKE_ON_DISK
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return static_cast<std::uint32_t>(defaultValue);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
#else
  const fake::State::Entry* entry = fake::Find(fileName);
  if (entry == nullptr || entry->folder) return static_cast<std::uint32_t>(defaultValue);
  const std::string& text = entry->contents;
#endif
  return ReadProfileInt(text, section, key, defaultValue);
}

int PathRemoveFileSpecA(char* path) {
  if (fake::EnterCall("PathRemoveFileSpecA") || path == nullptr) return 0;
  // The shell's rule: a leading "\" or "\\" and a drive's "X:\" stay.
  char* cut = path;
  char* p = path;
  if (*p == kPathSeparator) cut = ++p;
  if (*p == kPathSeparator) cut = ++p;
  for (; *p != '\0'; ++p) {
    if (*p == kPathSeparator) {
      cut = p;
    } else if (*p == ':') {
      cut = p + 1;
      if (*cut == kPathSeparator) cut = ++p + 1;
    }
  }
  if (*cut == '\0') return 0;
  *cut = '\0';
  return 1;
}

void OutputDebugStringA(const char* text) {
  if (fake::EnterCall("OutputDebugStringA")) return;
  fake::Get().debugOutput.push_back(text);
}

}  // namespace platform
