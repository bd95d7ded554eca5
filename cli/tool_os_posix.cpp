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

Plugin LoadPlugin(const std::string& path) {
  Plugin plugin;
  plugin.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (plugin.handle == nullptr) {
    const char* error = dlerror();
    plugin.error = error != nullptr ? error : "unknown error";
    // dlerror() repeats the path first.
    if (plugin.error.rfind(path + ": ", 0) == 0) plugin.error.erase(0, path.size() + 2);
    return plugin;
  }
  plugin.getDeviceCode =
      reinterpret_cast<GetDeviceCodeFunction>(dlsym(plugin.handle, "GetDeviceCode"));
  plugin.freeBuffer = reinterpret_cast<FreeBufferFunction>(dlsym(plugin.handle, "FreeBuffer"));
  if (plugin.getDeviceCode == nullptr || plugin.freeBuffer == nullptr) {
    plugin.error = std::string("does not export ") +
                   (plugin.getDeviceCode == nullptr ? "GetDeviceCode" : "FreeBuffer");
    UnloadPlugin(plugin);
  }
  return plugin;
}

void UnloadPlugin(Plugin& plugin) {
  if (plugin.handle != nullptr) dlclose(plugin.handle);
  plugin.handle = nullptr;
  plugin.getDeviceCode = nullptr;
  plugin.freeBuffer = nullptr;
}

}  // namespace devicecode
