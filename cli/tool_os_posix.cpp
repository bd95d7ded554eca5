// The tool's operating-system seam on Linux and other POSIX systems.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tool_os.h"

namespace devicecode {

ResolvedFile ExecutableFile() {
  char link[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", link, sizeof link - 1);
  if (n > 0) {
    link[n] = '\0';
    return {link, {}};
  }
  // Without /proc: the name the kernel was asked to run, relative to the
  // folder the tool started in, which it has not left yet.
  const auto name = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  if (name == nullptr) return {{}, "cannot find this tool's own file"};
  return ResolveFile(name);
}

ResolvedFile ResolveFile(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return {{}, std::strerror(errno)};
  struct stat status {};
  if (stat(resolved, &status) != 0) return {{}, std::strerror(errno)};
  if (S_ISDIR(status.st_mode)) return {{}, std::strerror(EISDIR)};
  if (!S_ISREG(status.st_mode)) return {{}, "not a regular file"};
  if (access(resolved, R_OK) != 0) return {{}, std::strerror(errno)};
  return {resolved, {}};
}

Library OpenLibrary(const std::string& path) {
  Library library;
  library.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library.handle == nullptr) {
    const char* error = dlerror();
    library.error = error != nullptr ? error : "unknown error";
    // dlerror() repeats the path first.
    if (library.error.rfind(path + ": ", 0) == 0) library.error.erase(0, path.size() + 2);
  }
  return library;
}

void* FindExport(void* handle, const char* name) { return dlsym(handle, name); }

void CloseLibrary(void* handle) { dlclose(handle); }

}  // namespace devicecode
