// devicecode: prints this machine's device code, loading the plug-in the way
// a host does (through the system loader, by its exported names).
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "devicecode.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitPluginFailed = 1;
constexpr int kExitUsage = 2;

void PrintHelp() {
  std::printf(
      "Usage: devicecode [--library PATH]\n"
      "Print this machine's device code: the upper-case hex MD5 of one network\n"
      "adapter's hardware address, as the plug-in computes it.\n"
      "\n"
      "  --library PATH  load the plug-in from PATH (default: the library\n"
      "                  installed beside this tool, %s)\n"
      "  --help          show this help and exit\n"
      "  --version       show the version and exit\n"
      "\n"
      "Exit status: 0 the code was printed; 1 the plug-in could not be loaded,\n"
      "lacks an export or returned no code; 2 bad arguments.\n",
      DEVICECODE_DEFAULT_LIBRARY);
}

// The default plug-in: DEVICECODE_DEFAULT_LIBRARY relative to this tool's folder.
std::string DefaultLibrary() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return DEVICECODE_DEFAULT_LIBRARY;
  std::string path(self, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/') + 1) + DEVICECODE_DEFAULT_LIBRARY;
}

int Fail(int status, const char* format, const std::string& subject, const char* reason) {
  std::fprintf(stderr, format, subject.c_str(), reason);
  std::fputc('\n', stderr);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::string library;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintHelp();
      return kExitOk;
    }
    if (arg == "--version") {
      std::printf("devicecode %s\n", DEVICECODE_VERSION);
      return kExitOk;
    }
    if (arg == "--library" && i + 1 < argc) {
      library = argv[++i];
    } else if (arg.rfind("--library=", 0) == 0) {
      library = arg.substr(std::strlen("--library="));
    } else if (arg == "--library") {
      return Fail(kExitUsage, "devicecode: %s needs a PATH%s", arg, "");
    } else {
      return Fail(kExitUsage, "devicecode: unknown argument '%s'%s (try --help)", arg, "");
    }
  }
  if (library.empty()) library = DefaultLibrary();

  void* plugin = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (plugin == nullptr) {
    return Fail(kExitPluginFailed, "devicecode: cannot load plug-in %s: %s", library, dlerror());
  }
  auto getDeviceCode = reinterpret_cast<GetDeviceCodeFunction>(dlsym(plugin, "GetDeviceCode"));
  auto freeBuffer = reinterpret_cast<FreeBufferFunction>(dlsym(plugin, "FreeBuffer"));
  if (getDeviceCode == nullptr || freeBuffer == nullptr) {
    const char* missing = getDeviceCode == nullptr ? "GetDeviceCode" : "FreeBuffer";
    return Fail(kExitPluginFailed, "devicecode: plug-in %s does not export %s", library, missing);
  }

  char* code = getDeviceCode();
  if (code == nullptr) {
    return Fail(kExitPluginFailed, "devicecode: plug-in %s returned no device code: %s", library,
                "out of memory");
  }
  std::printf("%s\n", code);
  freeBuffer(code);
  const bool written = std::fflush(stdout) == 0;
  dlclose(plugin);
  if (!written) return Fail(kExitPluginFailed, "devicecode: cannot write the code%s%s", "", "");
  return kExitOk;
}
