// The two INI readers and their combination.
#include "log/log_level.h"

#include "log/log_environment.h"
#include "platform/platform.h"

namespace devicecode {
namespace {

constexpr char kSection[] = "Common";
constexpr char kKey[] = "LogLevel";

bool Exists(const std::string& path) {
  return platform::GetFileAttributesA(path.c_str()) != platform::kInvalidFileAttributes;
}

}  // namespace

std::uint32_t ReadOptionLogLevel(const std::string& configFolder, const std::string& tempFolder) {
  // An empty folder is none (never the current folder).
  for (const std::string* folder : {&configFolder, &tempFolder}) {
    if (folder->empty()) continue;
    const std::string candidate = *folder + "OrvenOption.ini";
    if (Exists(candidate)) {
      return platform::GetPrivateProfileIntA(kSection, kKey, kOptionDefaultLevel,
                                             candidate.c_str());
    }
  }
  return kOptionDefaultLevel;
}

std::uint32_t ReadPluginLogLevel() {
  const platform::ModuleHandle own = GetOwnModuleHandle();
  if (own == nullptr) return kPluginDefaultLevel;
  char buffer[platform::kMaxPath] = {};
  // No path, or one cut to the buffer: no plugin.ini to read (rather than one
  // in the root folder or beside a cut path).
  const std::uint32_t length = platform::GetModuleFileNameA(own, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return kPluginDefaultLevel;
  platform::PathRemoveFileSpecA(buffer);
  const std::string path = std::string(buffer) + platform::kPathSeparator + "plugin.ini";
  if (!Exists(path)) return kPluginDefaultLevel;
  return platform::GetPrivateProfileIntA(kSection, kKey, kPluginDefaultLevel, path.c_str());
}

std::uint32_t CombineLogLevels(std::uint32_t optionLevel, std::uint32_t pluginLevel) {
  return pluginLevel > optionLevel ? pluginLevel : optionLevel;
}

std::uint32_t GetCombinedLogLevel(const std::string& configFolder, const std::string& tempFolder) {
  const std::uint32_t option = ReadOptionLogLevel(configFolder, tempFolder);
  return CombineLogLevels(option, ReadPluginLogLevel());
}

}  // namespace devicecode
