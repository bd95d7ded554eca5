// devicecode: prints this machine's device code, loading the plug-in the way
// a host does (through the system loader, by its exported names).
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "devicecode.h"

namespace {

// Exit statuses, listed by --help and the man page. 1 is kept for options
// whose answer is "no", as grep uses it, so it never means a failure.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitNoPlugin = 3;  // cannot be loaded, or lacks an export
constexpr int kExitNoCode = 4;    // the plug-in returned no code
constexpr int kExitNoOutput = 5;  // standard output could not be written

struct Options {
  std::string library;
  bool help = false;
  bool version = false;
};

// Every option, in --help order. Parsing and --help both read this table, so
// a new option is one row here and one field in Options.
struct Option {
  const char* name;
  const char* value;  // what the value names; nullptr for a flag
  const char* help;
  std::string Options::*text;
  bool Options::*flag;
};

constexpr Option kOptions[] = {
    {"--library", "PATH", "load the plug-in from PATH", &Options::library, nullptr},
    {"--help", nullptr, "show this help and exit (also -h)", nullptr, &Options::help},
    {"--version", nullptr, "show the version and exit", nullptr, &Options::version},
};

void PrintHelp() {
  std::printf(
      "Usage: devicecode [OPTION]...\n"
      "Print this machine's device code: the upper-case hex MD5 of one network\n"
      "adapter's hardware address, as the plug-in computes it.\n"
      "\n");
  for (const Option& option : kOptions) {
    const std::string left =
        std::string(option.name) + (option.value ? std::string(" ") + option.value : "");
    std::printf("  %-16s %s\n", left.c_str(), option.help);
  }
  std::printf(
      "\n"
      "The default plug-in is %s relative to this tool's folder.\n"
      "\n"
      "Exit status:\n"
      "  0  the code was printed\n"
      "  2  bad arguments\n"
      "  3  the plug-in could not be loaded or lacks an export\n"
      "  4  the plug-in returned no code\n"
      "  5  standard output could not be written\n",
      DEVICECODE_DEFAULT_LIBRARY);
}

// Fills `options` from the arguments; returns the error line for bad ones,
// or an empty string.
std::string Parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    const std::string name = arg == "-h" ? "--help" : arg.substr(0, equals);
    const Option* option = nullptr;
    for (const Option& candidate : kOptions) {
      if (name == candidate.name) option = &candidate;
    }
    if (option == nullptr) {
      return (arg[0] == '-' ? "unknown option '" : "unexpected argument '") + arg +
             "' (try --help)";
    }
    if (option->flag != nullptr) {
      if (equals != std::string::npos) return name + " takes no value";
      options.*option->flag = true;
      continue;
    }
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    }
    if (value.empty()) return name + " needs a " + option->value;
    std::string& field = options.*option->text;
    if (!field.empty()) return name + " given twice";
    field = value;
  }
  return {};
}

// The default plug-in: DEVICECODE_DEFAULT_LIBRARY relative to this tool's folder.
std::string DefaultLibrary() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return DEVICECODE_DEFAULT_LIBRARY;
  std::string path(self, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/') + 1) + DEVICECODE_DEFAULT_LIBRARY;
}

// Prints "devicecode: <message>" as exactly one line, whatever the message holds.
int Fail(int status, std::string message) {
  for (char& c : message) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::fprintf(stderr, "devicecode: %s\n", message.c_str());
  return status;
}

// dlerror() text without the leading "PATH: " that would repeat the path.
std::string LoadError(const std::string& library) {
  const char* error = dlerror();
  std::string reason = error != nullptr ? error : "unknown error";
  if (reason.rfind(library + ": ", 0) == 0) reason.erase(0, library.size() + 2);
  return reason;
}

int Flushed() {
  return std::fflush(stdout) == 0 ? kExitOk
                                  : Fail(kExitNoOutput, "cannot write to standard output");
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const std::string error = Parse(argc, argv, options);
  if (!error.empty()) return Fail(kExitUsage, error);
  if (options.help) {
    PrintHelp();
    return Flushed();
  }
  if (options.version) {
    std::printf("devicecode %s\n", DEVICECODE_VERSION);
    return Flushed();
  }

  const std::string library = options.library.empty() ? DefaultLibrary() : options.library;
  void* plugin = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (plugin == nullptr) {
    return Fail(kExitNoPlugin, "cannot load plug-in " + library + ": " + LoadError(library));
  }
  auto getDeviceCode = reinterpret_cast<GetDeviceCodeFunction>(dlsym(plugin, "GetDeviceCode"));
  auto freeBuffer = reinterpret_cast<FreeBufferFunction>(dlsym(plugin, "FreeBuffer"));
  if (getDeviceCode == nullptr || freeBuffer == nullptr) {
    const char* missing = getDeviceCode == nullptr ? "GetDeviceCode" : "FreeBuffer";
    return Fail(kExitNoPlugin, "plug-in " + library + " does not export " + missing);
  }

  char* code = getDeviceCode();
  if (code == nullptr) {
    return Fail(kExitNoCode, "plug-in " + library + " returned no device code (out of memory)");
  }
  std::printf("%s\n", code);
  freeBuffer(code);
  const int status = Flushed();
  dlclose(plugin);
  return status;
}
