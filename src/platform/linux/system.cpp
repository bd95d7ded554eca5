// Process, heap, time, file and debugger-output operations on Linux.
//
// Each keeps the contract of the Windows call it stands for (platform.h); the
// README's "Linux platform mapping for the log" lists the mapping.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

#include "platform/ini_reader.h"
#include "platform/inspection.h"
#include "platform/platform.h"
#include "platform/text_query.h"

namespace platform {

const char kPathSeparator = '/';
const int kOpenNoInherit = O_CLOEXEC;

void* Malloc(std::size_t size) { return std::malloc(size); }

void Free(void* block) { std::free(block); }

void GetLocalTime(SystemTime* time) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  time->wYear = static_cast<std::uint16_t>(local.tm_year + 1900);
  time->wMonth = static_cast<std::uint16_t>(local.tm_mon + 1);
  time->wDayOfWeek = static_cast<std::uint16_t>(local.tm_wday);
  time->wDay = static_cast<std::uint16_t>(local.tm_mday);
}

std::uint32_t GetCurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

int ProcessIdToSessionId(std::uint32_t processId, std::uint32_t* sessionId) {
  // The audit login session; 4294967295 means the process has none.
  std::ifstream in("/proc/" + std::to_string(processId) + "/sessionid");
  unsigned long long value = 0;
  if (!(in >> value) || value >= 4294967295ull) return 0;
  *sessionId = static_cast<std::uint32_t>(value);
  return 1;
}

namespace {

// A folder that only this user can change: a real folder (no symlink) that
// the effective user owns and nobody else may write.
bool IsPrivateFolder(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
         status.st_uid == geteuid() && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The first (by name) folder of this user's own among the /tmp entries
// named `prefix`..., or the empty text.
std::string FindPrivateFolder(const std::string& prefix) {
  DIR* tmp = opendir("/tmp");
  if (tmp == nullptr) return {};
  std::string found;
  while (const dirent* entry = readdir(tmp)) {
    const std::string path = std::string("/tmp/") + entry->d_name;
    if (path.compare(0, prefix.size(), prefix) == 0 && (found.empty() || path < found) &&
        IsPrivateFolder(path)) {
      found = path;
    }
  }
  closedir(tmp);
  return found;
}

// The user's private folder, ending with "/": $XDG_RUNTIME_DIR, else
// /tmp/devicecode-<uid>/ made with mode 0700. A /tmp/devicecode-<uid> that
// another user made first (or a symlink there) is never used; then one of
// ours named /tmp/devicecode-<uid>.XXXXXX is, made once rather than by every
// load. Empty when none can be had: a folder inside another user's would
// let that user plant the option file. An inspection makes nothing and notes
// the folder it would make.
std::string PrivateFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/' && IsPrivateFolder(runtime)) {
    std::string folder = runtime;
    return folder.back() == '/' ? folder : folder + '/';
  }
  const std::string folder = "/tmp/devicecode-" + std::to_string(geteuid());
  if (Inspecting()) {
    struct stat status {};
    if (lstat(folder.c_str(), &status) != 0 && errno == ENOENT) {
      NoteFolderCreation(folder + '/');
      return folder + '/';
    }
  } else {
    // One that exists already is judged below like a new one.
    mkdir(folder.c_str(), 0700);
  }
  if (IsPrivateFolder(folder)) return folder + '/';
  const std::string made = FindPrivateFolder(folder + '.');
  if (!made.empty()) return made + '/';
  std::string unique = folder + ".XXXXXX";
  if (Inspecting()) {
    NoteFolderCreation(unique + '/');
  } else if (mkdtemp(&unique[0]) == nullptr) {
    return {};
  }
  return unique + '/';
}

}  // namespace

std::uint32_t GetTempPathA(std::uint32_t size, char* buffer) {
  // Only an absolute path to a folder counts: a relative one would name a
  // folder of whatever the host's working directory is.
  const char* variable = std::getenv("TMPDIR");
  struct stat status {};
  std::string folder;
  if (variable != nullptr && variable[0] == '/' && stat(variable, &status) == 0 &&
      S_ISDIR(status.st_mode)) {
    folder = variable;
    if (folder.back() != '/') folder += '/';
  } else {
    folder = PrivateFolder();
    if (folder.empty()) return 0;
  }
  return CopyOut(folder, buffer, size);
}

std::string GetFallbackTempFolder() {
  const std::string folder = PrivateFolder();
  return folder.empty() ? folder : folder + "TrelLog/";
}

std::uint32_t GetLongPathNameA(const char* shortPath, char* longPath, std::uint32_t size) {
  char resolved[PATH_MAX];
  if (realpath(shortPath, resolved) == nullptr) return 0;
  std::string text = resolved;
  const std::size_t length = std::strlen(shortPath);
  if (length > 0 && shortPath[length - 1] == '/' && text.back() != '/') text += '/';
  return CopyOut(text, longPath, size);
}

int CreateDirectoryA(const char* path) {
  // The report reads the folders from the log's plan; this only makes sure
  // an inspection never creates one.
  if (Inspecting()) return 1;
  return mkdir(path, 0777) == 0 ? 1 : 0;
}

ModuleHandle GetModuleHandleA(const char* moduleName) {
  if (moduleName != nullptr) return nullptr;
  // The main program's load base: the object that holds its program headers.
  Dl_info info{};
  const auto headers = reinterpret_cast<const void*>(getauxval(AT_PHDR));
  if (headers == nullptr || dladdr(headers, &info) == 0) return nullptr;
  return info.dli_fbase;
}

std::uint32_t GetModuleFileNameA(ModuleHandle module, char* buffer, std::uint32_t size) {
  if (size == 0) return 0;
  std::string path;
  const bool host = module == nullptr || module == GetModuleHandleA(nullptr);
  if (const std::string* inspected = InspectedModulePath(module, host)) {
    path = *inspected;
  } else if (host) {
    char link[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", link, sizeof link);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof link) return 0;
    path.assign(link, static_cast<std::size_t>(n));
    // An executable replaced on disk (a package upgrade) reads as
    // "PATH (deleted)"; its name is still PATH's.
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() &&
        path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
      path.resize(path.size() - deleted.size());
    }
  } else {
    Dl_info info{};
    if (dladdr(module, &info) == 0 || info.dli_fbase != module || info.dli_fname == nullptr ||
        info.dli_fname[0] == '\0') {
      return 0;
    }
    char resolved[PATH_MAX];
    path = realpath(info.dli_fname, resolved) != nullptr ? resolved : info.dli_fname;
  }
  return CopyModulePath(path, buffer, size);
}

std::size_t VirtualQuery(const void* address, MemoryBasicInformation* info, std::size_t length) {
  if (length < sizeof *info) return 0;
  if (Inspecting()) {
    info->AllocationBase = InspectedLibrary();
    return sizeof *info;
  }
  Dl_info found{};
  if (dladdr(address, &found) == 0 || found.dli_fbase == nullptr) return 0;
  info->AllocationBase = found.dli_fbase;
  return sizeof *info;
}

std::uint32_t GetFileAttributesA(const char* path) {
  struct stat status {};
  if (stat(path, &status) != 0) return kInvalidFileAttributes;
  constexpr std::uint32_t kFileAttributeNormal = 0x80u;
  return S_ISDIR(status.st_mode) ? kFileAttributeDirectory : kFileAttributeNormal;
}

std::uint32_t GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                                    const char* fileName) {
  NoteProfileRead(fileName);
  const auto fallback = static_cast<std::uint32_t>(defaultValue);
  // Only a plain file is read, as on Windows: a folder under the name made
  // std::ifstream throw from its read, and opening a FIFO would wait for a
  // writer (O_NONBLOCK opens it at once, then it is refused).
  const int fd = open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fallback;
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return fallback;
  // At most kMaxProfileSize bytes: a huge (or sparse) file costs no more.
  std::string text;
  char chunk[4096];
  while (text.size() < kMaxProfileSize) {
    const std::size_t wanted = std::min(sizeof chunk, kMaxProfileSize - text.size());
    const ssize_t n = read(fd, chunk, wanted);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fallback;
    if (n == 0) break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  return ReadProfileInt(text, section, key, defaultValue);
}

int PathRemoveFileSpecA(char* path) {
  if (path == nullptr) return 0;
  // The root "/" stays; otherwise cut at the last separator (or cut all).
  char* name = path[0] == '/' ? path + 1 : path;
  for (char* p = name; *p != '\0'; ++p) {
    if (*p == '/') name = p;
  }
  if (*name == '\0') return 0;
  *name = '\0';
  return 1;
}

LogFile PrepareLogFile(const std::string& path) {
  LogFile file;
  file.name = path;
  file.flags = O_CLOEXEC;
  const std::size_t slash = path.rfind('/');
  const std::string folderPath = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string fileName = path.substr(slash == std::string::npos ? 0 : slash + 1);
  // Every text is made before a descriptor is taken, so that running out of
  // memory cannot leave one behind.
  std::string name;
  name.reserve(sizeof "/proc/self/fd/2147483647/" + fileName.size());
  file.folder = open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  struct stat folder {};
  if (file.folder >= 0 && fstat(file.folder, &folder) == 0 &&
      ((folder.st_mode & (S_IWGRP | S_IWOTH)) != 0 || folder.st_uid != geteuid())) {
    // A sticky /tmp among them: another user may have planted a symlink, a
    // file or a FIFO under the log's name. Without O_NONBLOCK, opening a
    // FIFO would wait for a reader forever, inside the set-up's lock; with
    // it, a FIFO without a reader fails at once (ENXIO).
    file.shared = true;
    file.flags |= O_NOFOLLOW | O_NONBLOCK;
  }
  // The number the folder will take; a non-folder until then, so that the
  // name opens nothing.
  file.reserved = open("/dev/null", O_RDONLY | O_CLOEXEC);
  char reservedName[32];
  std::snprintf(reservedName, sizeof reservedName, "/proc/self/fd/%d", file.reserved);
  if (file.folder < 0 || file.reserved < 0 || access(reservedName, F_OK) != 0) {
    // No /proc: the file is opened by its path, first without the flags,
    // which would follow a symlink (or wait on a FIFO) planted in a shared
    // folder. There the path is refused: the name opens nothing and
    // ActivateLogFile fails, so the next candidate is tried.
    if (file.folder >= 0) close(file.folder);
    if (file.reserved >= 0) close(file.reserved);
    file.folder = file.reserved = -1;
    if (file.shared) file.name.clear();
    return file;
  }
  name = reservedName;
  name += '/';
  name += fileName;
  file.name.swap(name);
  return file;
}

bool ActivateLogFile(const LogFile& file) {
  if (file.reserved < 0) return !file.shared;
  const bool moved = dup3(file.folder, file.reserved, O_CLOEXEC) == file.reserved;
  close(file.folder);
  return moved;
}

bool AcceptLogFile(const LogFile& file, int descriptor) {
  if (!file.shared) return true;
  // A plain file of this user with no other name: a hard link planted under
  // the log's name would make the lines land in another file of ours.
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid() ||
      status.st_nlink != 1) {
    return false;
  }
  // O_NONBLOCK only guarded the open; writes block as usual.
  const int flags = fcntl(descriptor, F_GETFL);
  return flags >= 0 && fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

void ReleaseLogFile(const LogFile& file) {
  // The folder's own descriptor is gone: ActivateLogFile closed it.
  if (file.reserved >= 0) close(file.reserved);
}

void OutputDebugStringA(const char* text) {
  // No openlog: the host's own syslog identity and options stay as they are.
  syslog(LOG_USER | LOG_DEBUG, "%s", text);
}

}  // namespace platform
