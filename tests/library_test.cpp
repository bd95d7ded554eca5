// The built plug-in as a host sees it: loaded with dlopen, called by name.
// The command-line tool's code is checked against one computed here from the
// kernel's interface list (sysfs), independently of the library's code.
#include <dirent.h>
#include <dlfcn.h>
#include <limits.h>
#include <net/if.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "devicecode.h"

namespace {

std::string RunCommand(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char chunk[4096];
  while (std::size_t n = fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, n);
  const int rc = pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return output;
}

nlohmann::json RunJson(const std::string& command, int* status) {
  const std::string output = RunCommand(command, status);
  return nlohmann::json::parse(output, nullptr, /*allow_exceptions=*/false);
}

class LibraryTest : public testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(DEVICECODE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    getDeviceCode_ = reinterpret_cast<GetDeviceCodeFunction>(dlsym(handle_, "GetDeviceCode"));
    freeBuffer_ = reinterpret_cast<FreeBufferFunction>(dlsym(handle_, "FreeBuffer"));
    ASSERT_NE(getDeviceCode_, nullptr);
    ASSERT_NE(freeBuffer_, nullptr);
  }
  void TearDown() override {
    if (handle_ != nullptr) dlclose(handle_);
  }
  void* handle_ = nullptr;
  GetDeviceCodeFunction getDeviceCode_ = nullptr;
  FreeBufferFunction freeBuffer_ = nullptr;
};

TEST_F(LibraryTest, ExportsOnlyTheTwoFunctions) {
  const std::string symbols =
      RunCommand("nm -D --defined-only '" DEVICECODE_LIBRARY_PATH "' | awk '{print $3}'");
  std::set<std::string> names;
  std::size_t start = 0;
  for (std::size_t end; (end = symbols.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string name = symbols.substr(start, end - start);
    if (!name.empty()) names.insert(name);
  }
  EXPECT_EQ(names, (std::set<std::string>{"FreeBuffer", "GetDeviceCode"})) << symbols;
}

TEST_F(LibraryTest, DistinctBuffersWithTheSameCode) {
  char* a = getDeviceCode_();
  char* b = getDeviceCode_();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_STREQ(a, b);
  EXPECT_EQ(std::strlen(a), 32u);
  EXPECT_EQ(std::strspn(a, "0123456789ABCDEF"), 32u);
  freeBuffer_(a);
  freeBuffer_(b);
  freeBuffer_(nullptr);
}

// --- An independent computation of this machine's code -----------------------

struct Interface {
  int index;
  std::string name;
  std::string text;  // hardware-address text
  bool isVirtual;
  bool hasIpv4;
};

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::vector<Interface> KernelInterfaces() {
  std::vector<Interface> result;
  DIR* dir = opendir("/sys/class/net");
  if (dir == nullptr) return result;
  const int probe = socket(AF_INET, SOCK_DGRAM, 0);
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name == "bonding_masters") continue;
    const std::string base = "/sys/class/net/" + name;
    char target[512] = {};
    const ssize_t n = readlink(base.c_str(), target, sizeof target - 1);
    std::string text;
    for (char c : ReadFirstLine(base + "/address")) {
      if (c != ':') text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    ifreq request{};
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    request.ifr_addr.sa_family = AF_INET;
    result.push_back({std::stoi(ReadFirstLine(base + "/ifindex")), name, text,
                      n > 0 && std::strstr(target, "/devices/virtual/") != nullptr,
                      probe >= 0 && ioctl(probe, SIOCGIFADDR, &request) == 0});
  }
  if (probe >= 0) close(probe);
  closedir(dir);
  std::sort(result.begin(), result.end(),
            [](const auto& a, const auto& b) { return a.index < b.index; });
  return result;
}

bool Usable(const std::string& text) { return text.find_first_not_of('0') != std::string::npos; }

std::string Md5Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
  std::string hex;
  char pair[3];
  for (unsigned i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", digest[i]);
    hex += pair;
  }
  return hex;
}

// The interface whose address decides, or null when none qualifies.
const Interface* ExpectedChoice(const std::vector<Interface>& interfaces) {
  for (const auto& i : interfaces) {
    if (!i.isVirtual && Usable(i.text)) return &i;
  }
  for (std::size_t k = 0; k < interfaces.size(); ++k) {
    const bool last = k + 1 == interfaces.size();
    if ((interfaces[k].hasIpv4 || last) && Usable(interfaces[k].text)) return &interfaces[k];
  }
  return nullptr;
}

std::string ExpectedCode() {
  const auto interfaces = KernelInterfaces();
  const Interface* chosen = ExpectedChoice(interfaces);
  return Md5Hex(chosen != nullptr ? chosen->text : "");
}

// The code on stdout; on stderr one line only when the code is weak.
TEST(CommandLineTest, PrintsTheKernelDerivedCode) {
  int status = -1;
  const std::string output = RunCommand("'" DEVICECODE_CLI_PATH "' 2>/dev/null", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, ExpectedCode() + "\n");

  const std::string err = RunCommand("'" DEVICECODE_CLI_PATH "' 2>&1 >/dev/null");
  const auto interfaces = KernelInterfaces();
  const Interface* expected = ExpectedChoice(interfaces);
  if (expected == nullptr) {
    EXPECT_EQ(err.rfind("devicecode: warning: no adapter qualified", 0), 0u) << err;
  } else if (expected->isVirtual) {
    EXPECT_EQ(err.rfind("devicecode: warning: the fallback decided", 0), 0u) << err;
  } else {
    EXPECT_EQ(err, "");
  }
  EXPECT_LE(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

// --library names a file relative to the current folder, the same file in
// every mode.
TEST(CommandLineTest, LibraryIsAPathInEveryMode) {
  const std::string library = DEVICECODE_LIBRARY_PATH;
  const std::string folder = library.substr(0, library.rfind('/'));
  const std::string name = library.substr(library.rfind('/') + 1);
  const std::string cd = "cd '" + folder + "' && '" DEVICECODE_CLI_PATH "' --library " + name;
  int status = -1;
  EXPECT_EQ(RunCommand(cd + " 2>/dev/null", &status), ExpectedCode() + "\n");
  EXPECT_EQ(status, 0);
  const nlohmann::json report = RunJson(cd + " --explain --json", &status);
  EXPECT_EQ(status, 0);
  ASSERT_TRUE(report.is_object());
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(DEVICECODE_LIBRARY_PATH, resolved), nullptr);
  EXPECT_EQ(report.at("log").at("library"), resolved);
}

// Every failure: its documented status, one line on stderr naming the
// culprit, nothing on stdout.
TEST(CommandLineTest, ErrorsNameTheCulpritOnOneLine) {
  char folder[] = "/tmp/devicecode_cli_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string stdoutFile = std::string(folder) + "/stdout";
  // A copy of the tool in a folder without ../lib: the default plug-in is missing.
  const std::string lonely = std::string(folder) + "/devicecode";
  ASSERT_EQ(RunCommand("cp '" DEVICECODE_CLI_PATH "' " + lonely + " && echo ok"), "ok\n");

  struct Case {
    const char* name;
    std::string command;
    std::string expected;
    int status;
    const char* stdoutTo = nullptr;  // default: a file that must stay empty
  };
  const std::string cli = "'" DEVICECODE_CLI_PATH "'";
  const Case cases[] = {
      {"missing file", cli + " --library /nonexistent/libx.so",
       "cannot load plug-in /nonexistent/libx.so: No such file", 3},
      // A bare name is a file in the current folder, never a loader search.
      {"bare name", cli + " --library libcrypto.so.3",
       "cannot load plug-in libcrypto.so.3: No such", 3},
      {"directory", cli + " --library /", "cannot load plug-in /: ", 3},
      {"not a library", cli + " --library=/dev/null", "cannot load plug-in /dev/null: ", 3},
      {"missing export", cli + " --library /usr/lib/x86_64-linux-gnu/libcrypto.so.3",
       "does not export GetDeviceCode", 3},
      {"default plug-in missing", lonely, "cannot load plug-in " + std::string(folder), 3},
      {"unknown option", cli + " --bogus", "unknown option '--bogus' (try --help)", 2},
      {"operand", cli + " extra", "unexpected argument 'extra'", 2},
      {"no value", cli + " --library", "--library needs a PATH", 2},
      {"empty value", cli + " --library=", "--library needs a PATH", 2},
      {"twice", cli + " --library a --library b", "--library given twice", 2},
      {"value for a flag", cli + " --version=1", "--version takes no value", 2},
      {"full stdout", cli + " --version", "cannot write to standard output", 5, "/dev/full"},
      // The log file takes the last descriptor (those inherited beyond the
      // standard three are closed first): the adapter list cannot be read,
      // which is no code, not the code of a machine without adapters. A
      // sanitizer's runtime needs descriptors of its own: not run there.
      {"no descriptor left",
       "bash -c 'cd /proc/$$/fd && for fd in *; do ((fd > 2)) && eval \"exec $fd>&-\"; done; "
       "ulimit -n 4 && exec \"$0\"' " +
           cli,
       "returned no device code (the network adapter list could not be read", 4},
      {"code too short", cli + " --match 0123", "--match needs a device code of 32 hex", 2},
      {"code not hex", cli + " --match " + std::string(32, 'G'), "not '" + std::string(32, 'G'), 2},
      {"--json alone", cli + " --json", "--json needs --explain", 2},
      {"--host alone", cli + " --host /bin/sh", "--host needs --explain", 2},
      {"match and explain", cli + " --explain --match " + std::string(32, '0'),
       "--match cannot be combined with --explain", 2},
      {"match and library", cli + " --library x --match " + std::string(32, '0'),
       "--match does not use the plug-in", 2},
      {"report: missing host", cli + " --explain --host /nonexistent/host",
       "cannot read host /nonexistent/host: No such file", 6},
      {"report: host is a folder", cli + " --explain --host=/", "cannot read host /: Is a dir", 6},
      {"report: missing plug-in", cli + " --explain --json --library /nonexistent/libx.so",
       "cannot load plug-in /nonexistent/libx.so: No such file", 3},
      {"report: default plug-in missing", lonely + " --explain",
       "cannot load plug-in " + std::string(folder), 3},
      {"report: not a library", cli + " --explain --library /etc/passwd",
       "cannot load plug-in /etc/passwd: ", 3},
      {"report: missing export",
       cli + " --explain --library /usr/lib/x86_64-linux-gnu/libcrypto.so.3",
       "does not export GetDeviceCode", 3},
      {"report: bare name", cli + " --explain --library libcrypto.so.3",
       "cannot load plug-in libcrypto.so.3: No such", 3},
      // ESC [2J would clear the terminal.
      {"control characters escaped", cli + " --library \"$(printf '/nonexistent/\\033[2J')\"",
       "/nonexistent/\\x1B[2J: No such", 3},
      {"report: full stdout", cli + " --explain", "cannot write to standard output", 5,
       "/dev/full"},
  };
  for (const Case& c : cases) {
    if (std::string(c.name) == "no descriptor left" && DEVICECODE_SANITIZE[0] != '\0') continue;
    int status = -1;
    const std::string err = RunCommand(
        c.command + " 2>&1 >" + (c.stdoutTo != nullptr ? c.stdoutTo : stdoutFile), &status);
    EXPECT_EQ(status, c.status) << c.name;
    EXPECT_EQ(err.rfind("devicecode: ", 0), 0u) << c.name << ": " << err;
    EXPECT_NE(err.find(c.expected), std::string::npos) << c.name << ": " << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.name << ": " << err;
    if (c.stdoutTo == nullptr) {
      EXPECT_EQ(ReadFirstLine(stdoutFile), "") << c.name;
    }
  }
  RunCommand("rm -rf " + std::string(folder));
}

std::vector<std::string> OptionsListedBy(const std::string& help) {
  std::vector<std::string> options;
  std::size_t at = 0;
  while ((at = help.find("\n  --", at)) != std::string::npos) {
    at += 3;
    options.push_back(help.substr(at, help.find_first_of(" \n", at) - at));
  }
  return options;
}

TEST(CommandLineTest, HelpListsEveryOptionAndTheManPageDocumentsThem) {
  int status = -1;
  const std::string help = RunCommand("'" DEVICECODE_CLI_PATH "' --help", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(RunCommand("'" DEVICECODE_CLI_PATH "' -h"), help);
  const std::vector<std::string> options = OptionsListedBy(help);
  EXPECT_EQ(options, (std::vector<std::string>{"--library", "--explain", "--json", "--host",
                                               "--match", "--help", "--version"}));

  std::ifstream in(DEVICECODE_MAN_PAGE);
  const std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(page.empty()) << DEVICECODE_MAN_PAGE;
  for (std::string option : options) {
    // roff spells a hyphen "\-".
    for (std::size_t i = 0; (i = option.find('-', i)) != std::string::npos; i += 2) {
      option.insert(i, "\\");
    }
    EXPECT_NE(page.find(option), std::string::npos) << option << " is not in the man page";
  }
  for (const char* status :
       {"\n  0  ", "\n  1  ", "\n  2  ", "\n  3  ", "\n  4  ", "\n  5  ", "\n  6  "}) {
    EXPECT_NE(help.find(status), std::string::npos) << "exit status" << status;
    EXPECT_NE(page.find(std::string(".B ") + status[3] + "\n"), std::string::npos)
        << "exit status" << status << "is not in the man page";
  }
}

TEST(CommandLineTest, Version) {
  int status = -1;
  EXPECT_EQ(RunCommand("'" DEVICECODE_CLI_PATH "' --version", &status),
            "devicecode " DEVICECODE_VERSION "\n");
  EXPECT_EQ(status, 0);
}

// --- The support report ----------------------------------------------------

// The report's choice, code and warnings against the plug-in's code and the
// kernel-derived choice; the adapters in the kernel's order.
TEST(ReportTest, AgreesWithThePlugInAndTheKernel) {
  const auto interfaces = KernelInterfaces();
  const Interface* expected = ExpectedChoice(interfaces);
  const std::string plain = RunCommand("'" DEVICECODE_CLI_PATH "'");
  int status = -1;
  const nlohmann::json report = RunJson("'" DEVICECODE_CLI_PATH "' --explain --json", &status);
  EXPECT_EQ(status, 0);
  ASSERT_TRUE(report.is_object());
  EXPECT_EQ(report.at("deviceCode").get<std::string>() + "\n", plain);
  EXPECT_EQ(report.at("deviceCode"), ExpectedCode());

  const nlohmann::json& adapters = report.at("adapters");
  ASSERT_EQ(adapters.size(), interfaces.size());
  for (std::size_t k = 0; k < interfaces.size(); ++k) {
    const nlohmann::json& a = adapters[k];
    EXPECT_EQ(a.at("index"), k);
    const std::string description = a.at("description");
    EXPECT_NE(description.find("interface " + interfaces[k].name), std::string::npos)
        << description;
    EXPECT_EQ(a.at("address"), interfaces[k].text.substr(0, 16));
    EXPECT_EQ(a.at("addressLength"), std::min<std::size_t>(interfaces[k].text.size() / 2, 8));
    EXPECT_EQ(a.at("context") != 0, interfaces[k].hasIpv4) << description;
    EXPECT_EQ(a.at("usable"), Usable(interfaces[k].text)) << description;
    EXPECT_EQ(a.at("interfaceName"), interfaces[k].name);
    EXPECT_EQ(a.at("kind"), interfaces[k].isVirtual ? "software" : "hardware") << description;
  }

  EXPECT_EQ(report.at("schemaVersion"), 1);
  const std::string strategy = report.at("strategy");
  const nlohmann::json& warnings = report.at("warnings");
  const auto warned = [&warnings](const std::string& code) {
    return std::any_of(warnings.begin(), warnings.end(),
                       [&code](const nlohmann::json& w) { return w.at("code") == code; });
  };
  if (expected == nullptr) {
    EXPECT_EQ(strategy, "none");
    EXPECT_TRUE(report.at("chosenIndex").is_null());
    EXPECT_EQ(report.at("hardwareAddressText"), "");
    EXPECT_TRUE(warned("no-adapter-qualified"));
    return;
  }
  const std::size_t chosen = report.at("chosenIndex");
  ASSERT_LT(chosen, interfaces.size());
  EXPECT_EQ(interfaces[chosen].name, expected->name);
  EXPECT_EQ(report.at("hardwareAddressText"), expected->text);
  EXPECT_EQ(strategy, expected->isVirtual ? "fallback" : "physical");
  for (std::size_t k = 0; k < adapters.size(); ++k) {
    EXPECT_EQ(adapters[k].at(strategy).at("code") == "chosen", k == chosen) << k;
  }
  EXPECT_EQ(warned("fallback-decided"), strategy == "fallback");
  EXPECT_FALSE(warned("no-adapter-qualified"));
  const bool local = (std::stoul(expected->text.substr(0, 2), nullptr, 16) & 0x02) != 0;
  EXPECT_EQ(warned("locally-administered-address"), local);

  // Each what-if answer against the kernel's list without the adapters gone.
  for (const nlohmann::json& w : report.at("whatIf")) {
    std::vector<Interface> left;
    const std::vector<std::size_t> removed = w.at("removed");
    for (std::size_t k = 0; k < interfaces.size(); ++k) {
      if (std::find(removed.begin(), removed.end(), k) == removed.end()) {
        left.push_back(interfaces[k]);
      }
    }
    const Interface* then = ExpectedChoice(left);
    EXPECT_EQ(w.at("deviceCode"), Md5Hex(then != nullptr ? then->text : "")) << w.dump();
    if (then != nullptr) {
      EXPECT_EQ(interfaces.at(w.at("chosenIndex")).name, then->name);
    }
  }

  const std::string text = RunCommand("'" DEVICECODE_CLI_PATH "' --explain", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(text.find("Device code: " + ExpectedCode() + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Chosen adapter: " + std::to_string(chosen) + " ("), std::string::npos)
      << text;
}

TEST(ReportTest, MatchNamesTheAdapterOfThisMachinesCode) {
  const auto interfaces = KernelInterfaces();
  const Interface* expected = ExpectedChoice(interfaces);
  std::string code = ExpectedCode();
  std::transform(code.begin(), code.end(), code.begin(), ::tolower);  // either case is fine
  int status = -1;
  const std::string found = RunCommand("'" DEVICECODE_CLI_PATH "' --match " + code, &status);
  EXPECT_EQ(status, 0) << found;
  if (expected != nullptr) {
    EXPECT_NE(found.find("interface " + expected->name), std::string::npos) << found;
    EXPECT_NE(found.find("it is the adapter chosen now"), std::string::npos) << found;
    // The empty text's code is not this machine's when an adapter qualifies.
    const std::string none = RunCommand("'" DEVICECODE_CLI_PATH "' --match " + Md5Hex(""), &status);
    EXPECT_EQ(status, 1) << none;
    EXPECT_NE(none.find("code of no adapter"), std::string::npos) << none;
  }
  const std::string none =
      RunCommand("'" DEVICECODE_CLI_PATH "' --match " + Md5Hex("no such address"), &status);
  EXPECT_EQ(status, 1) << none;
}

std::string ListTree(const std::string& root) {
  return RunCommand("find '" + root + "' -printf '%p %y %s\\n' | sort");
}

// The log part for a host and a library in a temporary tree: the reported
// folders, INI files and levels, and nothing created there.
TEST(ReportTest, LogEnvironmentOfAHostAndLibraryCreatesNothing) {
  char folder[] = "/tmp/devicecode_report_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string t = folder;
  const auto make = [&t](const std::string& path, const char* text = nullptr) {
    const std::string full = t + "/" + path;
    RunCommand("mkdir -p '" + full.substr(0, text != nullptr ? full.rfind('/') : full.size()) +
               "'");
    if (text != nullptr) std::ofstream(full) << text;
  };
  // a: the worked example: Logs one level up, Config two, both INI files.
  // The library files are copies of the plug-in: --explain refuses others.
  const auto plugin = [&t](const std::string& path) {
    RunCommand("mkdir -p '" + t + "/" + path.substr(0, path.rfind('/')) + "' && cp '" +
               DEVICECODE_LIBRARY_PATH + "' '" + t + "/" + path + "'");
  };
  make("a/app/bin/my.tool", "");
  plugin("a/app/plugins/dev/libx.so");
  make("a/app/plugins/dev/plugin.ini", "[Common]\nLogLevel=600\n");
  make("a/app/plugins/Logs");
  make("a/app/Config/OrvenOption.ini", "[common]\n loglevel = 300\n");
  make("a/tmp");
  // b: nothing near the library; the option file in the temporary folder.
  plugin("b/lib/libx.so");
  make("b/runner", "");
  make("b/tmp/OrvenOption.ini", "[Common]\nLogLevel=700\n");
  // c: host and library side by side, no INI file, a file named Logs.
  make("c/bin/host.bin", "");
  plugin("c/bin/libx.so");
  make("c/bin/Logs", "not a folder");
  make("c/tmp");

  struct Case {
    const char* name;
    std::string host, library, tmp;
    std::string categoryEnd, logFileName, baseFolder, logFolderStart, configFolder;
    std::vector<std::string> iniFilesRead;
    unsigned option, plugin, combined;
    bool written;
  };
  const std::string dev = t + "/a/app/plugins/dev/";
  const Case cases[] = {
      {"near folders",
       t + "/a/app/bin/my.tool",
       dev + "libx.so",
       t + "/a/tmp",
       "->my.tool->libx.so",
       "my.log",
       dev,
       dev + "../Logs/",
       dev + "../../Config/",
       {dev + "../../Config/OrvenOption.ini", dev + "plugin.ini"},
       300,
       600,
       600,
       true},
      {"option file in temp",
       t + "/b/runner",
       t + "/b/lib/libx.so",
       t + "/b/tmp",
       "->runner->libx.so",
       "runner.log",
       t + "/b/lib/",
       t + "/b/lib/",
       t + "/b/lib/",
       {t + "/b/tmp/OrvenOption.ini"},
       700,
       400,
       700,
       true},
      {"defaults",
       t + "/c/bin/host.bin",
       t + "/c/bin/libx.so",
       t + "/c/tmp",
       "->host.bin->libx.so",
       "host.log",
       t + "/c/bin/",
       t + "/c/bin/",
       t + "/c/bin/",
       {},
       500,
       400,
       500,
       false},
  };
  const std::string before = ListTree(t);
  for (const Case& c : cases) {
    int status = -1;
    const nlohmann::json report =
        RunJson("TMPDIR='" + c.tmp + "' '" DEVICECODE_CLI_PATH "' --explain --json --host '" +
                    c.host + "' --library '" + c.library + "'",
                &status);
    EXPECT_EQ(status, 0) << c.name;
    ASSERT_TRUE(report.is_object()) << c.name;
    const nlohmann::json& log = report.at("log");
    EXPECT_EQ(log.at("host"), c.host) << c.name;
    EXPECT_EQ(log.at("library"), c.library) << c.name;
    const std::string category = log.at("categoryName");
    EXPECT_EQ(category.rfind("[S", 0), 0u) << category;
    EXPECT_EQ(category.substr(category.size() - c.categoryEnd.size()), c.categoryEnd) << c.name;
    EXPECT_EQ(log.at("logFileName"), c.logFileName) << c.name;
    EXPECT_EQ(log.at("tempFolder"), c.tmp + "/") << c.name;
    EXPECT_EQ(log.at("baseFolder"), c.baseFolder) << c.name;
    EXPECT_EQ(log.at("configFolder"), c.configFolder) << c.name;
    const std::string logFolder = log.at("logFolder");
    EXPECT_EQ(logFolder.rfind(c.logFolderStart, 0), 0u) << c.name << ": " << logFolder;
    const bool dayFolder = logFolder != c.baseFolder;
    if (dayFolder) {
      // The day's folder: yyyy-mm-dd/ after the Logs folder, to be created.
      EXPECT_EQ(logFolder.size(), c.logFolderStart.size() + 11) << logFolder;
      EXPECT_EQ(log.at("foldersToCreate"), nlohmann::json::array({logFolder})) << c.name;
    } else {
      EXPECT_EQ(log.at("foldersToCreate"), nlohmann::json::array()) << c.name;
    }
    EXPECT_EQ(log.at("iniFilesRead"), c.iniFilesRead) << c.name;
    EXPECT_EQ(log.at("optionLogLevel"), c.option) << c.name;
    EXPECT_EQ(log.at("pluginLogLevel"), c.plugin) << c.name;
    EXPECT_EQ(log.at("combinedLogLevel"), c.combined) << c.name;
    EXPECT_EQ(log.at("requestLinesWritten"), c.written) << c.name;
    EXPECT_EQ(log.at("logFiles"),
              nlohmann::json::array({logFolder + c.logFileName, c.tmp + "/" + c.logFileName}))
        << c.name;
  }
  EXPECT_EQ(ListTree(t), before) << "--explain changed the tree";
  RunCommand("rm -rf '" + t + "'");
}

}  // namespace
