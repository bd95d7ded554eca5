// The log's threshold, read from the option file and the library's plugin.ini.
#pragma once

#include <cstdint>
#include <string>

namespace devicecode {

constexpr std::uint32_t kOptionDefaultLevel = 500;  // NOTICE
constexpr std::uint32_t kPluginDefaultLevel = 400;  // WARN

// [Common] LogLevel of "OrvenOption.ini" in `configFolder`, else in
// `tempFolder` (only the first that exists is read); 500 when missing.
std::uint32_t ReadOptionLogLevel(const std::string& configFolder, const std::string& tempFolder);

// [Common] LogLevel of "plugin.ini" in the library's folder; 400 when missing
// or when the library's path cannot be had.
std::uint32_t ReadPluginLogLevel();

// The greater of the two, as unsigned numbers.
std::uint32_t CombineLogLevels(std::uint32_t optionLevel, std::uint32_t pluginLevel);

// The option level (read first) and the plug-in level (read second), the
// greater as unsigned numbers.
std::uint32_t GetCombinedLogLevel(const std::string& configFolder, const std::string& tempFolder);

}  // namespace devicecode
