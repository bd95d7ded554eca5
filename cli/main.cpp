// devicecode: prints this machine's device code, loading the plug-in the way
// a host does (by its exported names). Its support options (--explain,
// --match) run the library's logic linked into the tool instead, since the
// plug-in exports nothing but the code.
#include <cctype>
#include <cstdio>
#include <new>
#include <optional>
#include <string>

#include "devicecode.h"
#include "devicecode/device_code.h"
#include "report.h"
#include "tool_os.h"

namespace {

// Exit statuses, listed by --help and the man page. 1 is kept for options
// whose answer is "no", as grep uses it, so it never means a failure.
constexpr int kExitOk = 0;
constexpr int kExitNo = 1;  // --match: no adapter has that code
constexpr int kExitUsage = 2;
constexpr int kExitNoPlugin = 3;  // cannot be loaded, lacks an export, or (--explain) unreadable
constexpr int kExitNoCode = 4;    // the plug-in returned no code
// Why no code comes, when the library's enumeration says so.
const std::string kListUnreadable = "the network adapter list could not be read";
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
    {"--library", "PATH", "the plug-in at PATH (relative to the current folder), in every mode",
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
      "The default plug-in is %s relative to this tool's real folder.\n"
      "--explain checks that the plug-in exports both functions but never calls\n"
      "it; like --match it runs the plug-in's logic, built into this tool, and\n"
      "creates nothing. The default host of --explain is this tool.\n"
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

// Prints "devicecode: <message>" on stderr as exactly one line, safe for a
// terminal, whatever the message holds.
void Say(const std::string& message) {
  std::fprintf(stderr, "devicecode: %s\n", devicecode::EscapeControls(message).c_str());
}

int Fail(int status, const std::string& message) {
  Say(message);
  return status;
}

int Flushed(int status = kExitOk) {
  return std::fflush(stdout) == 0 ? status : Fail(kExitNoOutput, "cannot write to standard output");
}

// The plug-in of every mode: --library as a path, else the default beside
// the tool's own file; loaded and checked for both exports.
struct Plugin {
  void* handle = nullptr;
  GetDeviceCodeFunction getDeviceCode = nullptr;
  FreeBufferFunction freeBuffer = nullptr;
};

struct LoadResult {
  Plugin plugin;
  std::string path;  // canonical
  std::string error;
};

void UnloadPlugin(Plugin& plugin) {
  if (plugin.handle != nullptr) devicecode::CloseLibrary(plugin.handle);
  plugin = Plugin{};
}

LoadResult LoadChosenPlugin(const Options& options) {
  LoadResult result;
  std::string given = options.library;
  if (given.empty()) {
    const devicecode::ResolvedFile self = devicecode::ExecutableFile();
    if (self.path.empty()) {
      result.error = "cannot find the default plug-in: " + self.error;
      return result;
    }
    given = self.path.substr(0, self.path.find_last_of("/\\") + 1) + DEVICECODE_DEFAULT_LIBRARY;
  }
  const devicecode::ResolvedFile file = devicecode::ResolveFile(given);
  if (file.path.empty()) {
    result.error = "cannot load plug-in " + given + ": " + file.error;
    return result;
  }
  result.path = file.path;
  const devicecode::Library library = devicecode::OpenLibrary(file.path);
  if (library.handle == nullptr) {
    result.error = "cannot load plug-in " + given + ": " + library.error;
    return result;
  }
  // By name, as a host does.
  Plugin& plugin = result.plugin;
  plugin.handle = library.handle;
  plugin.getDeviceCode = reinterpret_cast<GetDeviceCodeFunction>(
      devicecode::FindExport(library.handle, "GetDeviceCode"));
  plugin.freeBuffer =
      reinterpret_cast<FreeBufferFunction>(devicecode::FindExport(library.handle, "FreeBuffer"));
  if (plugin.getDeviceCode == nullptr || plugin.freeBuffer == nullptr) {
    result.error = "cannot load plug-in " + given + ": does not export " +
                   (plugin.getDeviceCode == nullptr ? "GetDeviceCode" : "FreeBuffer");
    UnloadPlugin(plugin);
  }
  return result;
}

int Explain(const Options& options) {
  devicecode::ResolvedFile host =
      options.host.empty() ? devicecode::ExecutableFile() : devicecode::ResolveFile(options.host);
  if (host.path.empty()) {
    return Fail(kExitNoHost, "cannot read host " +
                                 (options.host.empty() ? "(this tool)" : options.host) + ": " +
                                 host.error);
  }
  LoadResult loaded = LoadChosenPlugin(options);
  if (!loaded.error.empty()) return Fail(kExitNoPlugin, loaded.error);
  UnloadPlugin(loaded.plugin);  // checked, never called
  std::optional<devicecode::Report> report = devicecode::ExplainAdapters();
  if (!report) return Fail(kExitNoCode, kListUnreadable);
  report->log = devicecode::ExplainLog(host.path, loaded.path);
  const std::string text =
      options.json ? devicecode::FormatJson(*report) : devicecode::FormatText(*report);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return Flushed();
}

int Match(const Options& options) {
  const std::optional<devicecode::Report> report = devicecode::ExplainAdapters();
  if (!report) return Fail(kExitNoCode, kListUnreadable);
  const devicecode::MatchAnswer answer = devicecode::AnswerMatch(*report, options.match);
  std::fwrite(answer.text.data(), 1, answer.text.size(), stdout);
  return Flushed(answer.found ? kExitOk : kExitNo);
}

// One line on stderr when the code is weak: the fallback decided, or no
// adapter qualified (every such machine shares the code). The tool's own
// run of the selection says which, when it gave the plug-in's code.
void WarnIfWeak(const std::string& code) {
  const std::optional<devicecode::Report> report = devicecode::ExplainAdapters();
  if (!report || report->deviceCode != code) return;
  for (const char* weak : {"no-adapter-qualified", "fallback-decided"}) {
    if (const devicecode::Warning* warning = devicecode::FindWarning(*report, weak)) {
      Say("warning: " + warning->message + " (see devicecode --explain)");
      return;
    }
  }
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

  LoadResult loaded = LoadChosenPlugin(options);
  if (!loaded.error.empty()) return Fail(kExitNoPlugin, loaded.error);
  char* code = loaded.plugin.getDeviceCode();
  if (code == nullptr) {
    return Fail(kExitNoCode, "plug-in " + loaded.path + " returned no device code (" +
                                 kListUnreadable + ", or memory ran out)");
  }
  // The buffer goes back to the plug-in on every path.
  std::string text;
  try {
    text = code;
  } catch (const std::bad_alloc&) {
    loaded.plugin.freeBuffer(code);
    return Fail(kExitNoCode, "out of memory");
  }
  loaded.plugin.freeBuffer(code);
  std::printf("%s\n", text.c_str());
  const int status = Flushed();
  UnloadPlugin(loaded.plugin);
  if (status == kExitOk) WarnIfWeak(text);
  return status;
}
