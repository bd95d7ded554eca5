// The built plug-in in hostile surroundings: unwritable folders, odd
// temporary folders, INI files that are not text files, a host path with dots
// and spaces. Each case must give the device code, put the log where the
// fallbacks say, and write nothing anywhere else.
//
// Each host run happens in a private mount namespace (as root): /tmp is a
// fresh tmpfs there, so what the library writes into the fixed fallback
// folder, or anywhere in /tmp, shows; folders are made read-only with
// read-only bind mounts, which stop root too. The case folders live in the
// build tree, outside that /tmp.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "test_files.h"

namespace {

using namespace testing_support;

namespace fs = std::filesystem;

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string RunShell(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char chunk[4096];
  while (std::size_t n = fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, n);
  *status = pclose(pipe);
  return output;
}

std::set<std::string> Tree(const fs::path& root) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    names.insert(fs::relative(entry.path(), root).string());
  }
  return names;
}

// The layout of one case, relative to its folder.
struct Layout {
  std::string host = "App/bin/host";
  std::string library = "App/plugins/dev/libdevicecode.so";
  std::string logs = "App/plugins/Logs";
  std::string temp = "Temp";
};

struct Case {
  const char* name;
  Layout layout;
  // Changes the case folder before the run (INI files and the like).
  std::function<void(const fs::path& root)> arrange;
  std::string tmpdir;                 // relative to the case folder; "": /tmp; "-": unset
  std::vector<std::string> readOnly;  // folders mounted read-only
  std::string log;                    // where the log file must be; "" : nowhere
  std::size_t lines;                  // its Begin and End lines
  std::vector<std::string> inTmp;     // what may appear in /tmp
};

class BadEnvironmentTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    int status = -1;
    RunShell("unshare -m sh -c 'mount -t tmpfs none /tmp' 2>&1", &status);
    namespacesWork_ = status == 0;
  }
  void SetUp() override {
    if (!namespacesWork_) GTEST_SKIP() << "no private mount namespace (needs root)";
    // Not under /tmp, which each case replaces with an empty file system; the
    // build tree may well be there.
    char pattern[] = "/var/tmp/devicecode_bad_environment.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    scratch_ = pattern;
  }
  void TearDown() override { fs::remove_all(scratch_); }

  void Check(const Case& c) {
    SCOPED_TRACE(c.name);
    const fs::path root = scratch_ / c.name;
    const Layout& l = c.layout;
    for (const std::string& file : {l.host, l.library}) {
      fs::create_directories((root / file).parent_path());
    }
    fs::create_directories(root / l.logs);
    fs::create_directories(root / l.temp);
    fs::copy_file(LOG_HOST_PATH, root / l.host);
    fs::copy_file(DEVICECODE_LIBRARY_PATH, root / l.library);
    if (c.arrange) c.arrange(root);
    const std::set<std::string> before = Tree(root);

    std::string script = "set -e; mount -t tmpfs none /tmp; ";
    for (const std::string& folder : c.readOnly) {
      const std::string path = Quote((root / folder).string());
      script += "mount --bind " + path + " " + path + "; mount -o remount,ro,bind " + path + " " +
                path + "; ";
    }
    // The user's private folder is the one under /tmp, whatever the session.
    script += "unset XDG_RUNTIME_DIR; ";
    const std::string tmpdir = c.tmpdir.empty() ? "/tmp" : (root / c.tmpdir).string();
    script += (c.tmpdir == "-" ? std::string("unset TMPDIR; ") : "TMPDIR=" + Quote(tmpdir) + " ") +
              Quote((root / l.host).string()) + " " + Quote((root / l.library).string()) +
              " 1; echo tmp:; cd /tmp; find . -mindepth 1";
    int status = -1;
    const std::string output = RunShell("unshare -m sh -c " + Quote(script) + " 2>&1", &status);
    ASSERT_EQ(status, 0) << output;

    // The code, whatever the surroundings.
    const std::size_t at = output.find("code ");
    ASSERT_NE(at, std::string::npos) << output;
    const std::string code = output.substr(at + 5, output.find('\n', at) - at - 5);
    EXPECT_EQ(code.size(), 32u) << output;
    EXPECT_EQ(code.find_first_not_of("0123456789ABCDEF"), std::string::npos) << output;
    if (code_.empty()) code_ = code;
    EXPECT_EQ(code, code_);

    // What appeared in /tmp.
    std::vector<std::string> inTmp;
    const std::string listing = output.substr(output.find("tmp:\n") + 5);
    for (std::size_t s = 0, e; (e = listing.find('\n', s)) != std::string::npos; s = e + 1) {
      inTmp.push_back(listing.substr(s + 2, e - s - 2));  // without "./"
    }
    EXPECT_EQ(inTmp, c.inTmp);

    // What appeared in the case folder: the log file and its day folder only.
    std::set<std::string> made;
    for (const std::string& name : Tree(root)) {
      if (before.count(name) == 0) made.insert(name);
    }
    std::set<std::string> expected;
    if (!c.log.empty() && c.log.rfind("/tmp/", 0) != 0) {
      expected.insert(c.log);
      if (c.log.rfind(l.logs, 0) == 0) expected.insert(fs::path(c.log).parent_path().string());
    }
    EXPECT_EQ(made, expected);

    if (!c.log.empty() && c.log.rfind("/tmp/", 0) != 0) {
      std::ifstream in(root / c.log, std::ios::binary);
      std::size_t lines = 0;
      for (std::string line; std::getline(in, line);) ++lines;
      EXPECT_EQ(lines, c.lines);
    }
  }

  static bool namespacesWork_;
  fs::path scratch_;
  std::string code_;
};

bool BadEnvironmentTest::namespacesWork_ = false;

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

const char kLevel600[] = "[Common]\nLogLevel=600\n";

TEST_F(BadEnvironmentTest, EachGivesTheCodeAndTheDocumentedFallback) {
  const std::string day = "App/plugins/Logs/" + Today() + "/host.log";
  const std::string longTemp = "Temp/" + std::string(120, 'a') + "/" + std::string(150, 'b');
  const std::string privateFolder = "devicecode-" + std::to_string(geteuid());
  const auto level600 = [](const fs::path& root) {
    WriteFile(root / "App/plugins/dev/plugin.ini", kLevel600);
  };
  Layout dotted;
  dotted.host = "My App 1.2/bin/my host.v2.exe";
  dotted.library = "My App 1.2/plugins/dev x.y/libdevicecode.so";
  dotted.logs = "My App 1.2/plugins/Logs";

  const Case cases[] = {
      {"Baseline", {}, level600, "Temp", {}, day, 2, {}},
      {"UnwritableLibraryFolderAndLogs",
       {},
       level600,
       "Temp",
       {"App/plugins"},
       "Temp/host.log",
       2,
       {}},
      {"AlsoAReadOnlyTmpdir", {}, level600, "Temp", {"App/plugins", "Temp"}, "", 0, {}},
      // The fallback folder is made; the log still goes to the day's folder.
      {"TmpdirPast260Bytes",
       {},
       [&](const fs::path& root) {
         level600(root);
         fs::create_directories(root / longTemp);
       },
       longTemp,
       {},
       day,
       2,
       {privateFolder, privateFolder + "/TrelLog"}},
      {"TmpdirPast260BytesAndUnwritableLogs",
       {},
       [&](const fs::path& root) {
         level600(root);
         fs::create_directories(root / longTemp);
       },
       longTemp,
       {"App/plugins"},
       "/tmp/" + privateFolder + "/TrelLog/host.log",
       2,
       {privateFolder, privateFolder + "/TrelLog", privateFolder + "/TrelLog/host.log"}},
      {"TmpdirTmpGoesToTmp", {}, level600, "", {"App/plugins"}, "/tmp/host.log", 2, {"host.log"}},
      // /tmp is shared: without $TMPDIR the log goes to the user's own folder.
      {"UnsetTmpdirGoesToThePrivateFolder",
       {},
       level600,
       "-",
       {"App/plugins"},
       "/tmp/" + privateFolder + "/host.log",
       2,
       {privateFolder, privateFolder + "/host.log"}},
      // An INI "file" that is a folder counts as present and reads as empty.
      {"IniFileIsAFolder",
       {},
       [](const fs::path& root) { fs::create_directories(root / "App/plugins/dev/plugin.ini"); },
       "Temp",
       {},
       day,
       0,
       {}},
      // A FIFO would make a plain open wait for a writer: the host hangs.
      {"IniFileIsAFifo",
       {},
       [](const fs::path& root) {
         ASSERT_EQ(mkfifo((root / "App/plugins/dev/plugin.ini").c_str(), 0600), 0);
       },
       "Temp",
       {},
       day,
       0,
       {}},
      {"BinaryIniFile",
       {},
       [](const fs::path& root) {
         std::string bytes;
         for (int i = 0; i < 4096; ++i) bytes += static_cast<char>((i * 7919) % 256);
         WriteFile(root / "App/plugins/dev/plugin.ini", bytes);
       },
       "Temp",
       {},
       day,
       0,
       {}},
      {"BinaryBytesAroundTheKey",
       {},
       [](const fs::path& root) {
         WriteFile(root / "App/plugins/dev/plugin.ini",
                   std::string("\0\xff\x01\n", 4) + kLevel600 + std::string("\0\0\xfe", 3));
       },
       "Temp",
       {},
       day,
       2,
       {}},
      // 16 MiB of comments before the section: only the first MiB is read.
      {"HugeIniFile",
       {},
       [](const fs::path& root) {
         std::ofstream out(root / "App/plugins/dev/plugin.ini", std::ios::binary);
         const std::string comment = "; " + std::string(1021, 'c') + "\n";
         for (int i = 0; i < 16 * 1024; ++i) out << comment;
         out << kLevel600;
       },
       "Temp",
       {},
       day,
       0,
       {}},
      {"HostPathWithDotsAndSpaces",
       dotted,
       [](const fs::path& root) {
         WriteFile(root / "My App 1.2/plugins/dev x.y/plugin.ini", kLevel600);
       },
       "Temp",
       {},
       "My App 1.2/plugins/Logs/" + Today() + "/my host.log",
       2,
       {}},
  };
  for (const Case& c : cases) Check(c);
}

}  // namespace
