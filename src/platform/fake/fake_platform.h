// The fake backend: every platform result set by the test, any call failable.
//
// Paths use backslashes and live in an in-memory folder tree, so that Windows
// examples run verbatim. The on-disk build of the fake (DEVICECODE_FAKE_ON_DISK)
// uses "/" and the real file system instead, for tests where log4cpp must open
// the files the logic names; everything else stays settable.
//
// Every platform call counts as one step. A fault plan fails step n only, or
// every step from n on, or throws std::bad_alloc at step n, the way storage
// engines sweep I/O errors: rerun with n = 1, 2, ... until a run completes
// before step n is reached.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform::fake {

enum class FaultMode { kNone, kFailOnce, kFailFrom, kThrowAt };

struct State {
  // Adapters reported by GetAdaptersInfo, in list order (Next is set by the
  // fake). No adapters: every call returns kErrorNoData, as on Windows; a
  // call the fault plan fails returns another error.
  std::vector<AdapterInfo> adapters;
  // Records appended to the list after each of the first `growingCalls`
  // GetAdaptersInfo calls (counted by adapterCalls), so that the next call
  // finds the list grown: 1 grows it once between a size query and its fill,
  // a large number keeps it growing.
  std::vector<AdapterInfo> appearBetweenCalls;
  std::uint64_t growingCalls = 1;
  // When set, replaces the result of the first call of each pair (the size
  // query, made without a buffer).
  bool overrideFirstResult = false;
  std::uint32_t firstResult = 0;
  // When set, replaces the result of the second call of each pair.
  bool overrideSecondResult = false;
  std::uint32_t secondResult = 0;

  // Process, time and modules. An empty path makes its query fail.
  // Set member by member: SYSTEMTIME has more members than the Linux record.
  SystemTime localTime = [] {
    SystemTime t{};
    t.wYear = 2024;
    t.wMonth = 3;
    t.wDayOfWeek = 2;
    t.wDay = 5;
    return t;
  }();
  std::uint32_t processId = 4242;
  bool sessionKnown = true;
  std::uint32_t sessionId = 1;
  std::string tempPath = "C:\\Temp\\";           // what GetTempPathA reports
  std::map<std::string, std::string> longPaths;  // GetLongPathNameA rewrites
  ModuleHandle hostModule = reinterpret_cast<ModuleHandle>(0x400000);
  std::string hostPath = "C:\\Host\\bin\\host.exe";
  // The module VirtualQuery reports for any address (null: the query fails).
  ModuleHandle ownModule = reinterpret_cast<ModuleHandle>(0x10000000);
  std::string ownModulePath = "C:\\Host\\plugins\\dev\\lib.dll";

  // The in-memory tree: normalised path -> file contents, or folder.
  struct Entry {
    bool folder = false;
    std::string contents;
  };
  std::map<std::string, Entry> entries;

  // Fault plan over the step counter.
  FaultMode faultMode = FaultMode::kNone;
  std::uint64_t faultStep = 0;

  // Observations.
  std::uint64_t steps = 0;                  // platform calls made
  std::vector<const char*> trace;           // each step's operation, in order
  bool faultReached = false;                // the plan fired at least once
  std::uint64_t adapterCalls = 0;           // GetAdaptersInfo calls
  std::uint64_t liveAllocations = 0;        // Malloc minus Free
  std::vector<std::string> debugOutput;     // OutputDebugStringA texts
  std::vector<std::string> createdFolders;  // CreateDirectoryA successes
  std::uint64_t profileReads = 0;           // GetPrivateProfileIntA calls
};

// The state every fake call reads; Reset() restores the defaults.
State& Get();
void Reset();

// The in-memory tree: a folder (with its parents) or a file (with its
// folders). Paths may end with the separator; ".." segments are resolved.
void AddFolder(const std::string& path);
void AddFile(const std::string& path, const std::string& contents);
// The key a path is stored under: "." and ".." segments resolved, no
// trailing separator.
std::string Normalize(const std::string& path);

// For fake operations: counts one step for `operation` and applies the fault
// plan. Returns true when this call must fail; throws std::bad_alloc when the
// plan says so.
bool EnterCall(const char* operation);

}  // namespace platform::fake
