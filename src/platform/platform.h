// The thin layer through which the library reaches the operating system.
//
// Every operation is named after the Windows call it stands for and keeps that
// call's contract: what it is asked and which result the caller relies on.
// The Win32 backend maps each one onto the real call; the Linux backend gives
// each the nearest Linux meaning (see README); the fake backend lets tests set
// every result and fail any call. The backend is chosen at link time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
// winsock2.h must come before windows.h, iphlpapi.h after both; the blank
// lines keep clang-format from sorting them.
#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>
#endif

namespace platform {

#ifdef _WIN32
using AdapterInfo = IP_ADAPTER_INFO;
using SystemTime = SYSTEMTIME;
using MemoryBasicInformation = MEMORY_BASIC_INFORMATION;
using ModuleHandle = HMODULE;
#else
// The members of IP_ADAPTER_INFO that the adapter selection reads, under their
// Windows names, so the selection compiles unchanged against the real record.
struct IpAddrString {
  std::uint32_t Context;
};
struct AdapterInfo {
  AdapterInfo* Next;
  char Description[132];
  std::uint32_t AddressLength;
  std::uint8_t Address[8];
  IpAddrString IpAddressList;
  // Windows' own member of that name; on Linux the interface's name.
  char AdapterName[260];
  // Linux only: what the kernel says the device is (see DescribeAdapter).
  bool hardware;
  char kindDetail[32];
};
struct SystemTime {
  std::uint16_t wYear;
  std::uint16_t wMonth;
  std::uint16_t wDayOfWeek;
  std::uint16_t wDay;
};
struct MemoryBasicInformation {
  void* AllocationBase;
};
using ModuleHandle = void*;
#endif

constexpr std::uint32_t kErrorSuccess = 0;
constexpr std::uint32_t kErrorBufferOverflow = 111;
constexpr std::uint32_t kErrorNoData = 232;
constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr std::uint32_t kFileAttributeDirectory = 0x10u;
constexpr std::uint32_t kMaxPath = 260;

// The folder separator of this platform's paths: '\\' on Windows and in the
// fake, '/' on Linux. Folder texts always end with it.
extern const char kPathSeparator;

// The log's fixed fallback folder, used when the temporary folder cannot be
// had: "C:\\TrelLog\\" on Windows and in the fake; on Linux "TrelLog/" in the
// user's private folder (see GetTempPathA), since /tmp is shared by all users,
// and the empty text (no folder) when the user has none.
std::string GetFallbackTempFolder();

// An open(2) flag that keeps a descriptor out of child processes
// (O_CLOEXEC; _O_NOINHERIT with the Windows runtime). The log file is opened
// with it so that a host's children never inherit the log.
extern const int kOpenNoInherit;

// --- The log file -------------------------------------------------------------

// log4cpp's file appender opens its file by name: first in its constructor,
// with flags that can be changed only afterwards, then at every roll-over
// with the changed ones. So that every open is made with the final flags,
// the appender is given `name`, under which nothing can be opened until
// ActivateLogFile has run (Linux: "/proc/self/fd/N/FILE", N a descriptor
// reserved for the file's folder, which then takes the folder); it opens the
// file again after that. Where the platform cannot do this, `name` is the
// path itself and the constructor's open is replaced by the second; in a
// shared folder (Linux without /proc) `name` is then empty and the path is
// refused, since that first open would follow a symlink.
struct LogFile {
  std::string name;  // what the appender opens
  int flags = 0;     // open flags to add to the appender's own
  // The folder can be written by another user: a symlink there is never
  // followed, a FIFO never waited for, and only a plain file of this user
  // with one link is accepted.
  bool shared = false;
  int reserved = -1;  // the descriptor `name` goes through
  int folder = -1;    // the opened folder, until it takes `reserved`
};
LogFile PrepareLogFile(const std::string& path);
// Makes `file.name` reach the file; false when it cannot (or must not).
bool ActivateLogFile(const LogFile& file);
// Whether the file open as `descriptor` may take the log's lines (after
// every open: the first and each roll-over's); when it may, the descriptor
// is made ready for writing.
bool AcceptLogFile(const LogFile& file, int descriptor);
// Gives back what PrepareLogFile reserved; after ActivateLogFile, once the
// file is closed or about to be.
void ReleaseLogFile(const LogFile& file);

// --- Network adapters -------------------------------------------------------

// Fills `buffer` with the adapter records chained through Next. With a
// `*size` too small (0 included) returns kErrorBufferOverflow and stores the
// size the list needs; with a buffer of that size fills it and returns
// kErrorSuccess. kErrorNoData: there are no adapters. Any other result is a
// failure: the list cannot be had.
std::uint32_t GetAdaptersInfo(AdapterInfo* buffer, std::uint32_t* size);

// What a record does not say about its adapter, for the support report:
// the interface's name, whether it is a hardware or a software device, and
// its link kind (veth, bridge, tun, ...) or driver where the platform tells.
struct AdapterIdentity {
  enum class Kind { kUnknown, kHardware, kSoftware };
  std::string interfaceName;
  Kind kind = Kind::kUnknown;
  std::string detail;
};
AdapterIdentity DescribeAdapter(const AdapterInfo& adapter);

// --- The library's own heap -------------------------------------------------

// The library's runtime malloc; null when memory is exhausted.
void* Malloc(std::size_t size);
// The library's runtime free; ignores null.
void Free(void* block);

// --- Process, time and files ------------------------------------------------

// The local date (wYear, wMonth, wDay are relied on).
void GetLocalTime(SystemTime* time);
std::uint32_t GetCurrentProcessId();
// Nonzero on success, with `*sessionId` set to the process's session.
int ProcessIdToSessionId(std::uint32_t processId, std::uint32_t* sessionId);
// Writes the temporary folder, ending with the separator, and returns its
// length (Linux: $TMPDIR when it is an absolute path to a folder, else the
// user's private folder: $XDG_RUNTIME_DIR, else /tmp/devicecode-<uid>/, or
// one of ours named /tmp/devicecode-<uid>.XXXXXX/ when another user holds
// that name);
// returns 0 on failure, or the size needed (more than `size`) when `size` is
// too small. The buffer's content is then unspecified: Windows versions
// differ (some clear it), so a caller must compare the result with the size.
std::uint32_t GetTempPathA(std::uint32_t size, char* buffer);
// Writes the long form of `shortPath` into `longPath` (they may be the same
// buffer); returns its length, or 0 on failure (the target is then unchanged).
std::uint32_t GetLongPathNameA(const char* shortPath, char* longPath, std::uint32_t size);
// Creates one folder level; nonzero on success.
int CreateDirectoryA(const char* path);
// Writes the full path of `module`'s file (null: the host executable) and
// returns its length; 0 on failure. A path that does not fit is cut to
// size - 1 characters and `size` is returned.
std::uint32_t GetModuleFileNameA(ModuleHandle module, char* buffer, std::uint32_t size);
// With null: the host executable's module.
ModuleHandle GetModuleHandleA(const char* moduleName);
// Fills `info->AllocationBase` with the load address of the image that holds
// `address`; returns nonzero on success, 0 on failure.
std::size_t VirtualQuery(const void* address, MemoryBasicInformation* info, std::size_t length);
// kInvalidFileAttributes when nothing is at `path`, else its attribute bits
// (kFileAttributeDirectory set for a folder).
std::uint32_t GetFileAttributesA(const char* path);
// The integer under `key` in `section` of the INI file `fileName`, or
// `defaultValue` when the file, section or key is missing (see ini_reader.h
// for how the value text is read).
std::uint32_t GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                                    const char* fileName);
// Removes the last path component and the separator before it, in place;
// nonzero when something was removed.
int PathRemoveFileSpecA(char* path);
// Sends a text to the debugger output (on Linux: the system log at debug
// priority).
void OutputDebugStringA(const char* text);

}  // namespace platform
