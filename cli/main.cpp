// devicecode: prints this machine's device code, loading the plug-in the way
// a host does (through the system loader, by its exported names). Its support
// options (--explain, --match) run the library's logic linked into the tool
// instead, since the plug-in exports nothing but the code.
#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "devicecode.h"
#include "devicecode/device_code.h"
#include "report.h"

namespace {

// Exit statuses, listed by --help and the man page. 1 is kept for options
// whose answer is "no", as grep uses it, so it never means a failure.
constexpr int kExitOk = 0;
constexpr int kExitNo = 1;  // --match: no adapter has that code
constexpr int kExitUsage = 2;
constexpr int kExitNoPlugin = 3;  // cannot be loaded, lacks an export, or (--explain) unreadable
constexpr int kExitNoCode = 4;    // the plug-in returned no code
constexpr int kExitNoOutput = 5;  // standard output could not be written
constexpr int kExitNoHost = 6;    // --explain: the --host file cannot be read

struct Options {
  std::string library;
  std::string host;
  std::string match;
  bool explain = false;
  bool json = false;
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
    {"--library", "PATH", "load the plug-in from PATH (--explain: report its log)",
     &Options::library, nullptr},
    {"--explain", nullptr, "report every adapter, the choice, the code and the log set-up", nullptr,
     &Options::explain},
    {"--json", nullptr, "with --explain: the report as one JSON object", nullptr, &Options::json},
    {"--host", "PATH", "with --explain: report the log of the host at PATH", &Options::host,
     nullptr},
    {"--match", "CODE", "say which adapter's address gives CODE; 1 when none does", &Options::match,
     nullptr},
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
      "--explain and --match do not load the plug-in: they run its logic, built\n"
      "into this tool, and create nothing. The default host of --explain is\n"
      "this tool.\n"
      "\n"
      "Exit status:\n"
      "  0  the code was printed (--match: an adapter has that code)\n"
      "  1  --match: no adapter of this machine has that code\n"
      "  2  bad arguments\n"
      "  3  the plug-in could not be loaded or lacks an export (--explain: cannot be read)\n"
      "  4  the plug-in returned no code (adapter list unreadable, or out of memory)\n"
      "  5  standard output could not be written\n"
      "  6  --explain: the --host file cannot be read\n",
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
  if (options.json && !options.explain) return "--json needs --explain";
  if (!options.host.empty() && !options.explain) return "--host needs --explain";
  if (!options.match.empty()) {
    if (options.explain) return "--match cannot be combined with --explain";
    if (!options.library.empty()) return "--match does not use the plug-in: drop --library";
    std::string& code = options.match;
    if (code.size() != devicecode::kDeviceCodeLength ||
        code.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) {
      return "--match needs a device code of 32 hexadecimal digits, not '" + code + "'";
    }
    for (char& c : code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
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

int Flushed(int status = kExitOk) {
  return std::fflush(stdout) == 0 ? status : Fail(kExitNoOutput, "cannot write to standard output");
}

// The canonical path of a readable file, as the loader would report it; the
// empty text, with errno set, when there is none.
std::string ReadableFile(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return {};
  struct stat status {};
  if (stat(resolved, &status) != 0) return {};
  if (!S_ISREG(status.st_mode)) {
    errno = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    return {};
  }
  if (access(resolved, R_OK) != 0) return {};
  return resolved;
}

int Explain(const Options& options) {
  const std::string hostPath = options.host.empty() ? "/proc/self/exe" : options.host;
  const std::string host = ReadableFile(hostPath);
  if (host.empty()) {
    return Fail(kExitNoHost, "cannot read host " + hostPath + ": " + std::strerror(errno));
  }
  const std::string libraryPath = options.library.empty() ? DefaultLibrary() : options.library;
  const std::string library = ReadableFile(libraryPath);
  if (library.empty()) {
    return Fail(kExitNoPlugin, "cannot read plug-in " + libraryPath + ": " + std::strerror(errno));
  }
  devicecode::Report report = devicecode::ExplainAdapters();
  report.log = devicecode::ExplainLog(host, library);
  const std::string text =
      options.json ? devicecode::FormatJson(report) : devicecode::FormatText(report);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return Flushed();
}

// Which adapters have the address whose code is options.match. Only usable
// addresses count (the library never chooses another), and the code of the
// empty text matches when no adapter qualifies, since that is this machine's
// code then.
int Match(const Options& options) {
  const devicecode::Report report = devicecode::ExplainAdapters();
  const std::string& code = options.match;
  std::string chosen = "no adapter is chosen now";
  if (report.chosenIndex >= 0) {
    const auto& a = report.adapters[static_cast<std::size_t>(report.chosenIndex)];
    chosen = "the adapter chosen now is " + std::to_string(a.index) + " (" + a.description + ")";
  }
  int found = 0;
  for (const devicecode::AdapterReport& a : report.adapters) {
    if (!a.usable || devicecode::ComputeDeviceCode(a.address).data() != code) continue;
    ++found;
    std::printf("%s is the code of adapter %d (%s), address %s; %s\n", code.c_str(), a.index,
                a.description.c_str(), a.address.c_str(),
                a.index == report.chosenIndex ? "it is the adapter chosen now" : chosen.c_str());
  }
  if (found == 0 && report.chosenIndex < 0 && code == report.deviceCode) {
    std::printf(
        "%s is the code of the empty address text, this machine's code: no adapter "
        "qualifies\n",
        code.c_str());
    return Flushed();
  }
  if (found == 0) {
    std::printf("%s is the code of no adapter of this machine; %s, its code %s\n", code.c_str(),
                chosen.c_str(), report.deviceCode.c_str());
    return Flushed(kExitNo);
  }
  return Flushed();
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
  if (options.explain) return Explain(options);
  if (!options.match.empty()) return Match(options);

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
    return Fail(kExitNoCode, "plug-in " + library +
                                 " returned no device code (the network adapter list could not "
                                 "be read, or memory ran out)");
  }
  std::printf("%s\n", code);
  freeBuffer(code);
  const int status = Flushed();
  dlclose(plugin);
  return status;
}
