// The log environment: session, process, host, library, temporary folder and
// the Logs and Config folders near the library.
#include "log/log_environment.h"

#include <cstdio>
#include <cstring>

namespace devicecode {
namespace {

constexpr std::uint32_t kPathSize = platform::kMaxPath;

bool IsFolder(const std::string& path) {
  const std::uint32_t attributes = platform::GetFileAttributesA(path.c_str());
  return attributes != platform::kInvalidFileAttributes &&
         (attributes & platform::kFileAttributeDirectory) != 0;
}

// The first of `base` + "Name\", `base` + "..\Name\", `base` + "..\..\Name\"
// that is a folder, or the empty text.
std::string FindNearFolder(const std::string& base, const char* name) {
  // No base (no host path and no temporary folder): the searches would
  // look in whatever the current folder is.
  if (base.empty()) return std::string();
  const std::string up = std::string("..") + platform::kPathSeparator;
  std::string walk = base;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::string candidate = walk + name + platform::kPathSeparator;
    if (IsFolder(candidate)) return candidate;
    walk += up;
  }
  return std::string();
}

}  // namespace

platform::ModuleHandle GetOwnModuleHandle() {
  platform::MemoryBasicInformation info{};
  const auto self = reinterpret_cast<const void*>(&GetOwnModuleHandle);
  if (platform::VirtualQuery(self, &info, sizeof info) == 0) return nullptr;
  return static_cast<platform::ModuleHandle>(info.AllocationBase);
}

LogEnvironment DiscoverLogEnvironment() {
  const char separator = platform::kPathSeparator;
  LogEnvironment environment;
  std::string& categoryName = environment.categoryName;
  std::string& logFolder = environment.logFolder;
  std::string& tempFolder = environment.tempFolder;
  std::string& logFileName = environment.logFileName;
  logFileName = "TrelLog.log";

  platform::SystemTime now{};
  platform::GetLocalTime(&now);
  char date[128];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", now.wYear, now.wMonth, now.wDay);

  char buffer[kPathSize];
  std::uint32_t session = 0;
  const std::uint32_t process = platform::GetCurrentProcessId();
  platform::ProcessIdToSessionId(process, &session);
  std::snprintf(buffer, sizeof buffer, "[S%dP%d]->", static_cast<int>(session),
                static_cast<int>(process));
  categoryName = buffer;

  // A count of kPathSize or more means the folder did not fit: the buffer
  // then holds no folder at all, so it counts as a failure.
  const std::uint32_t tempLength = platform::GetTempPathA(kPathSize, buffer);
  if (tempLength != 0 && tempLength < kPathSize) {
    platform::GetLongPathNameA(buffer, buffer, kPathSize);
    tempFolder = buffer;
  } else {
    // Empty when the user has no private folder: then nothing is read or
    // written there.
    tempFolder = platform::GetFallbackTempFolder();
    if (!tempFolder.empty()) environment.foldersToCreate.push_back(tempFolder);
  }

  logFolder = tempFolder;  // the base folder until the Logs search
  // A module path that fills the whole buffer was cut: as good as none.
  const std::uint32_t hostLength = platform::GetModuleFileNameA(nullptr, buffer, kPathSize);
  if (hostLength != 0 && hostLength < kPathSize) {
    const char* cut = std::strrchr(buffer, separator);
    if (cut != nullptr) {
      logFileName = cut + 1;
      categoryName += logFileName;
      logFolder.assign(buffer, static_cast<std::size_t>(cut - buffer) + 1);
      const std::size_t dot = logFileName.find('.');
      if (!logFileName.empty() && dot != std::string::npos) logFileName.resize(dot);
      logFileName += ".log";
    }

    const platform::ModuleHandle own = GetOwnModuleHandle();
    if (own != nullptr && own != platform::GetModuleHandleA(nullptr)) {
      const std::uint32_t ownLength = platform::GetModuleFileNameA(own, buffer, kPathSize);
      const char* ownCut =
          ownLength != 0 && ownLength < kPathSize ? std::strrchr(buffer, separator) : nullptr;
      if (ownCut != nullptr) {
        logFolder.assign(buffer, static_cast<std::size_t>(ownCut - buffer) + 1);
        categoryName += "->";
        categoryName += ownCut + 1;
      }
    }
  } else {
    categoryName += "unknow";
  }

  const std::string& base = environment.baseFolder = logFolder;
  environment.configFolder = base;
  const std::string logs = FindNearFolder(base, "Logs");
  if (!logs.empty()) {
    logFolder = logs + date + separator;
    environment.foldersToCreate.push_back(logFolder);
  }

  const std::string config = FindNearFolder(base, "Config");
  if (!config.empty()) environment.configFolder = config;
  return environment;
}

}  // namespace devicecode
