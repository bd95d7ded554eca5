// The library's log4cpp category: its one-time set-up and the request lines.
#pragma once

#include <string>

namespace devicecode {

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
