// The library's log4cpp category: its one-time set-up and the request lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "log/log_environment.h"

namespace devicecode {

// What the set-up will do, worked out from the environment and the two
// levels without touching anything; the set-up carries it out, and the
// tool's report prints it.
struct LogPlan {
  LogEnvironment environment;
  std::uint32_t optionLogLevel = 0;
  std::uint32_t pluginLogLevel = 0;
  std::uint32_t logLevel = 0;  // the category's priority: the greater of the two
  // Whether log4cpp lets the Begin and End lines (INFO) through that priority.
  bool requestLinesWritten = false;
  // The log file's paths in the order tried: the first that opens is used.
  std::vector<std::string> logFiles;
  std::vector<std::string> foldersToCreate;  // created first, in this order
};

LogPlan PlanLogSetUp(LogEnvironment environment, std::uint32_t optionLogLevel,
                     std::uint32_t pluginLogLevel);

// "[GetDeviceCode]: Begin" / "End" with the full-width colon in code page 936.
extern const char kBeginMessage[];
extern const char kEndMessage[];

// The category's name; the first call of a load runs the set-up (one attempt,
// even when two threads make the first call at once). Empty after a failed
// set-up, which wrote "Initialize log model fail\n" to the debugger output.
std::string GetLogCategoryName();

// Writes `message` at INFO to the library's category. Never throws; writes
// nothing when the set-up failed.
void WriteRequestLine(const char* message) noexcept;

// Tests only (not exported): detaches what the set-up attached, as an unload
// does, and forgets the set-up so that the next call runs it again.
void ResetLoggerForTesting();

}  // namespace devicecode
