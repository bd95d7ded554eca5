// The built plug-in as a host sees it: loaded with dlopen, called by name.
// The command-line tool's code is checked against one computed here from the
// kernel's interface list (sysfs), independently of the library's code.
#include <dirent.h>
#include <dlfcn.h>
#include <net/if.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

std::string ExpectedCode() {
  const auto interfaces = KernelInterfaces();
  for (const auto& i : interfaces) {
    if (!i.isVirtual && Usable(i.text)) return Md5Hex(i.text);
  }
  for (std::size_t k = 0; k < interfaces.size(); ++k) {
    const bool last = k + 1 == interfaces.size();
    if ((interfaces[k].hasIpv4 || last) && Usable(interfaces[k].text)) {
      return Md5Hex(interfaces[k].text);
    }
  }
  return Md5Hex("");
}

TEST(CommandLineTest, PrintsTheKernelDerivedCode) {
  int status = -1;
  const std::string output = RunCommand("'" DEVICECODE_CLI_PATH "'", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, ExpectedCode() + "\n");
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
       "cannot load plug-in /nonexistent/libx.so: cannot open", 3},
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
  };
  for (const Case& c : cases) {
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
  EXPECT_EQ(options, (std::vector<std::string>{"--library", "--help", "--version"}));

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
  for (const char* status : {"\n  0  ", "\n  2  ", "\n  3  ", "\n  4  ", "\n  5  "}) {
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

}  // namespace
