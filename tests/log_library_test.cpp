// The built plug-in's log as a host meets it: a host program and a copy of the
// library placed as in a real installation, loaded and unloaded with dlopen.
#include <dlfcn.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "test_files.h"

namespace {

using namespace testing_support;

namespace fs = std::filesystem;

// Host/bin/host, Host/plugins/dev/libdevicecode.so, Host/plugins/Logs/,
// Host/Config/ and a private temporary folder.
class InstalledHostTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/log_library_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    for (const char* folder :
         {"Host/bin", "Host/plugins/dev", "Host/plugins/Logs", "Host/Config", "Temp"}) {
      fs::create_directories(root_ / folder);
    }
    fs::copy_file(LOG_HOST_PATH, root_ / "Host/bin/host");
    fs::copy_file(DEVICECODE_LIBRARY_PATH, Library());
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path Library() const { return root_ / "Host/plugins/dev/libdevicecode.so"; }
  fs::path LogFile() const { return root_ / "Host/plugins/dev/../Logs" / Today() / "host.log"; }

  // Runs the host for `cycles` load/request/unload cycles, under `tracer`
  // when given; its output.
  std::string RunHost(int cycles, const std::string& tracer = "") const {
    const std::string command = "TMPDIR='" + (root_ / "Temp").string() + "' " + tracer + " '" +
                                (root_ / "Host/bin/host").string() + "' '" + Library().string() +
                                "' " + std::to_string(cycles);
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char chunk[4096];
    while (std::size_t n = fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, n);
    EXPECT_EQ(pclose(pipe), 0) << output;
    return output;
  }

  fs::path root_;
};

TEST_F(InstalledHostTest, OptionFileLevel600WritesBeginAndEnd) {
  std::ofstream(root_ / "Host/Config/OrvenOption.ini") << "[Common]\r\nLogLevel=600\r\n";
  RunHost(1);
  const std::string log = ReadAll(LogFile());
  EXPECT_EQ(Count(log, "\n"), 2u) << log;
  const std::size_t begin = log.find(": INFO [S");
  ASSERT_NE(begin, std::string::npos) << log;
  EXPECT_NE(log.find("->host->libdevicecode.so: [GetDeviceCode]\xA3\xBA Begin\n"),
            std::string::npos)
      << log;
  EXPECT_GT(log.find("[GetDeviceCode]\xA3\xBA End\n"), log.find("Begin"));
}

TEST_F(InstalledHostTest, WithoutIniFilesOnlyTheEmptyFileIsMade) {
  RunHost(1);
  ASSERT_TRUE(fs::exists(LogFile()));
  EXPECT_EQ(fs::file_size(LogFile()), 0u);
}

TEST_F(InstalledHostTest, UnloadAndReloadWriteEachLineOnceAndLeakNothing) {
  std::ofstream(root_ / "Host/plugins/dev/plugin.ini") << "[Common]\nLogLevel=600\n";
  const std::string output = RunHost(3);
  const std::string log = ReadAll(LogFile());
  EXPECT_EQ(Count(log, "Begin\n"), 3u) << log;
  EXPECT_EQ(Count(log, "End\n"), 3u) << log;
  // Only the host's own line reached the host's root appender.
  EXPECT_EQ(Count(output, "host-root"), 1u) << output;
  // The library really went away each time, taking its descriptors with it,
  // and the host's exit ran log4cpp's clean-up without it (exit status 0).
  EXPECT_NE(output.find("mapped no"), std::string::npos) << output;
  int before = -1, after = -2;
  const std::size_t at = output.find("descriptors ");
  ASSERT_NE(at, std::string::npos) << output;
  ASSERT_EQ(std::sscanf(output.c_str() + at, "descriptors %d %d", &before, &after), 2);
  EXPECT_EQ(before, after);
}

// A host that forks and executes while the log is being set up must not
// pass the log file to its child: no open that gives a descriptor for it,
// the first included, may lack O_CLOEXEC, as the system calls themselves
// show.
TEST_F(InstalledHostTest, EveryOpenOfTheLogFileIsCloseOnExec) {
  if (std::system("strace -o /dev/null true 2>/dev/null") != 0) GTEST_SKIP() << "no strace";
  std::ofstream(root_ / "Host/plugins/dev/plugin.ini") << "[Common]\nLogLevel=600\n";
  const fs::path trace = root_ / "trace";
  // LeakSanitizer cannot work under ptrace; the other checks still run.
  RunHost(1, "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=open,openat -o '" +
                 trace.string() + "'");
  ASSERT_NE(Count(ReadAll(LogFile()), "End\n"), 0u);
  std::ifstream in(trace);
  int opens = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find("host.log\"") == std::string::npos || line.find("= -1") != std::string::npos) {
      continue;
    }
    ++opens;
    EXPECT_NE(line.find("O_CLOEXEC"), std::string::npos) << line;
  }
  EXPECT_GT(opens, 0);
}

// In a folder another user may write, the file a roll-over opens is judged
// as the first open's was. Here the roll-over cannot move the log away
// (folders hold the copies' names), so it opens the same file again, which
// has meanwhile gained a second name: refused, it takes no more lines.
TEST_F(InstalledHostTest, RollOverInASharedFolderJudgesTheNewFile) {
  std::ofstream(root_ / "Host/plugins/dev/plugin.ini") << "[Common]\nLogLevel=600\n";
  const fs::path day = root_ / "Host/plugins/Logs" / Today();
  fs::create_directory(day);
  fs::permissions(day, fs::perms::all | fs::perms::sticky_bit);
  void* library = dlopen(Library().c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  const auto getDeviceCode = reinterpret_cast<char* (*)()>(dlsym(library, "GetDeviceCode"));
  const auto freeBuffer = reinterpret_cast<void (*)(void*)>(dlsym(library, "FreeBuffer"));
  ASSERT_TRUE(getDeviceCode != nullptr && freeBuffer != nullptr);
  freeBuffer(getDeviceCode());
  const fs::path log = day / "log_library_test.log";
  ASSERT_EQ(Count(ReadAll(log), "End\n"), 1u);

  for (char copy = '1'; copy <= '5'; ++copy) {
    fs::create_directories(day / (std::string("log_library_test.log.") + copy) / "kept");
  }
  fs::create_hard_link(log, day / "second name");
  fs::resize_file(log, 1048576);
  freeBuffer(getDeviceCode());  // its Begin line makes the log roll over
  freeBuffer(getDeviceCode());
  dlclose(library);
  const std::string text = ReadAll(log);
  EXPECT_EQ(Count(text, "Begin\n"), 2u);
  EXPECT_EQ(Count(text, "End\n"), 1u);
}

}  // namespace
