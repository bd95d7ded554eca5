// The logger set-up and request lines with real log4cpp, over the fake built
// on the real file system: the fake says where host, library and temporary
// folder are; log4cpp opens the files the logic names there.
#include "log/logger.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#include <log4cpp/Category.hh>
#include <log4cpp/StringQueueAppender.hh>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "devicecode.h"
#include "log/log_level.h"
#include "platform/fake/fake_platform.h"
#include "test_files.h"

namespace {

using namespace testing_support;

namespace fs = std::filesystem;

constexpr char kCategory[] = "[S1P4242]->host->lib.so";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// The worked example's layout under a fresh temporary folder:
// Host/bin/host, Host/plugins/dev/lib.so, Host/plugins/Logs/, Host/Config/,
// and Temp/ as the temporary folder.
class LoggerTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/logger_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    for (const char* folder :
         {"Host/bin", "Host/plugins/dev", "Host/plugins/Logs", "Host/Config", "Temp"}) {
      fs::create_directories(root_ / folder);
    }
    StartOver();
  }
  void TearDown() override {
    devicecode::ResetLoggerForTesting();
    fs::remove_all(root_);
  }

  // A new load: the fake as at process start, the set-up not yet run.
  void StartOver() {
    devicecode::ResetLoggerForTesting();
    platform::fake::Reset();
    platform::fake::State& s = platform::fake::Get();
    s.hostPath = (root_ / "Host/bin/host").string();
    s.ownModulePath = (root_ / "Host/plugins/dev/lib.so").string();
    s.tempPath = (root_ / "Temp").string() + "/";
  }

  void SetPluginLevel(const std::string& level) {
    WriteAll(root_ / "Host/plugins/dev/plugin.ini", "[Common]\nLogLevel=" + level + "\n");
  }

  fs::path LogFile() const { return root_ / "Host/plugins/Logs/2024-03-05/host.log"; }

  static std::string Request() {
    char* code = GetDeviceCode();
    const std::string text = code != nullptr ? code : "(null)";
    FreeBuffer(code);
    return text;
  }

  static const std::vector<std::string>& DebugOutput() { return platform::fake::Get().debugOutput; }

  fs::path root_;
};

TEST_F(LoggerTest, LevelDecidesWhetherLinesAreWritten) {
  struct Case {
    const char* level;  // plugin.ini's LogLevel; null: no plugin.ini
    bool written;
  };
  const Case cases[] = {{nullptr, false},     {"500", false},        {"599", false},
                        {"600", true},        {"799", true},         {"800", true},
                        {"2147483647", true}, {"2147483648", false}, {"4294967295", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level != nullptr ? c.level : "no plugin.ini");
    StartOver();
    fs::remove(LogFile());
    fs::remove(root_ / "Host/plugins/dev/plugin.ini");
    if (c.level != nullptr) SetPluginLevel(c.level);

    EXPECT_EQ(Request(), kEmptyTextCode);
    EXPECT_EQ(Request(), kEmptyTextCode);
    // The file is made at the first request whatever the level.
    ASSERT_TRUE(fs::exists(LogFile()));
    EXPECT_EQ(Lines(ReadAll(LogFile())).size(), c.written ? 4u : 0u);
    EXPECT_EQ(DebugOutput().size(), c.written ? 4u : 0u);
    // The plan the tool's report prints says what log4cpp did.
    devicecode::LogEnvironment e = devicecode::DiscoverLogEnvironment();
    const std::uint32_t option = devicecode::ReadOptionLogLevel(e.configFolder, e.tempFolder);
    const devicecode::LogPlan plan =
        devicecode::PlanLogSetUp(std::move(e), option, devicecode::ReadPluginLogLevel());
    EXPECT_EQ(plan.requestLinesWritten, c.written);
    const std::string day = (root_ / "Host/plugins/dev/../Logs/2024-03-05/").string();
    EXPECT_EQ(plan.logFiles,
              (std::vector<std::string>{day + "host.log", (root_ / "Temp/host.log").string()}));
    EXPECT_EQ(plan.foldersToCreate, std::vector<std::string>{day});
  }
}

TEST_F(LoggerTest, LineFormats) {
  SetPluginLevel("600");
  EXPECT_EQ(Request(), kEmptyTextCode);

  const std::string prefix = std::string("INFO ") + kCategory + ": ";
  EXPECT_EQ(DebugOutput(),
            (std::vector<std::string>{prefix + kBeginMessage + "\n", prefix + kEndMessage + "\n"}));

  const std::vector<std::string> lines = Lines(ReadAll(LogFile()));
  ASSERT_EQ(lines.size(), 2u);
  const std::regex stamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2},\d{3}: )");
  for (std::size_t i = 0; i < 2; ++i) {
    ASSERT_GT(lines[i].size(), 25u);
    EXPECT_TRUE(std::regex_match(lines[i].substr(0, 25), stamp)) << lines[i];
    EXPECT_EQ(lines[i].substr(25), prefix + (i == 0 ? kBeginMessage : kEndMessage));
  }
  // The full-width colon is the two bytes A3 BA, unconverted.
  EXPECT_NE(lines[0].find("[GetDeviceCode]\xA3\xBA Begin"), std::string::npos);
}

TEST_F(LoggerTest, AppendsToAnExistingFile) {
  fs::create_directories(LogFile().parent_path());
  WriteAll(LogFile(), "earlier line\n");
  SetPluginLevel("600");
  Request();
  const std::vector<std::string> lines = Lines(ReadAll(LogFile()));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "earlier line");
}

TEST_F(LoggerTest, FallsBackToTheTemporaryFolder) {
  // A file where the day's folder should be: the folder cannot be made, so
  // the file cannot be opened there.
  WriteAll(root_ / "Host/plugins/Logs/2024-03-05", "");
  SetPluginLevel("600");
  Request();
  EXPECT_EQ(Lines(ReadAll(root_ / "Temp/host.log")).size(), 2u);
}

TEST_F(LoggerTest, NoFileAtAllStillReachesTheDebugger) {
  WriteAll(root_ / "Host/plugins/Logs/2024-03-05", "");
  platform::fake::Get().tempPath = (root_ / "Missing").string() + "/";
  SetPluginLevel("600");
  EXPECT_EQ(Request(), kEmptyTextCode);
  EXPECT_EQ(DebugOutput().size(), 2u);
}

// The descriptor of the log file, found through /proc; -1 when none.
int OpenDescriptorOf(const fs::path& file) {
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(entry.path(), error) == file) {
      return std::stoi(entry.path().filename().string());
    }
  }
  return -1;
}

TEST_F(LoggerTest, RollsOverIntoFiveCopiesAndKeepsCloseOnExec) {
  fs::create_directories(LogFile().parent_path());
  const std::string log = LogFile().string();
  for (int i = 1; i <= 5; ++i) WriteAll(log + "." + std::to_string(i), "copy " + std::to_string(i));
  const std::string filler(1048576 - 20, 'x');
  WriteAll(log, filler + "\n");
  SetPluginLevel("600");

  Request();
  // The Begin line took the file past 1048576 bytes: it became copy 1, the
  // End line went into a new file, and the oldest copy was dropped.
  const std::string copy1 = ReadAll(log + ".1");
  EXPECT_EQ(copy1.substr(0, filler.size() + 1), filler + "\n");
  EXPECT_EQ(Lines(copy1.substr(filler.size() + 1)).size(), 1u);
  EXPECT_NE(copy1.find(kBeginMessage), std::string::npos);
  EXPECT_NE(ReadAll(log).find(kEndMessage), std::string::npos);
  EXPECT_EQ(Lines(ReadAll(log)).size(), 1u);
  for (int i = 2; i <= 5; ++i) {
    EXPECT_EQ(ReadAll(log + "." + std::to_string(i)), "copy " + std::to_string(i - 1));
  }
  EXPECT_FALSE(fs::exists(log + ".6"));

  // The reopened file, like the first, stays out of child processes.
  const int fd = OpenDescriptorOf(fs::canonical(LogFile()));
  ASSERT_GE(fd, 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
}

TEST_F(LoggerTest, OpenFileIsCloseOnExecAndUnloadClosesIt) {
  Request();
  const fs::path file = fs::canonical(LogFile());
  const int fd = OpenDescriptorOf(file);
  ASSERT_GE(fd, 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  devicecode::ResetLoggerForTesting();
  EXPECT_EQ(OpenDescriptorOf(file), -1);
}

TEST_F(LoggerTest, ExhaustionDuringSetUpIsReportedOnceAndSilencesTheLog) {
  // Sweep the failure over every platform call of the set-up.
  std::uint64_t step = 1;
  for (;; ++step) {
    SCOPED_TRACE(step);
    StartOver();
    SetPluginLevel("600");
    fs::remove(LogFile());
    platform::fake::Get().faultMode = platform::fake::FaultMode::kThrowAt;
    platform::fake::Get().faultStep = step;
    const std::string name = devicecode::GetLogCategoryName();
    if (!platform::fake::Get().faultReached) {
      EXPECT_EQ(name, kCategory);
      break;
    }
    EXPECT_EQ(name, "");
    EXPECT_EQ(Request(), kEmptyTextCode);
    EXPECT_EQ(Request(), kEmptyTextCode);
    EXPECT_EQ(DebugOutput(), std::vector<std::string>{"Initialize log model fail\n"});
    EXPECT_TRUE(!fs::exists(LogFile()) || fs::file_size(LogFile()) == 0);
  }
  EXPECT_GT(step, 10u);
}

TEST_F(LoggerTest, SetUpRunsOncePerLoad) {
  SetPluginLevel("600");
  Request();
  const std::uint64_t reads = platform::fake::Get().profileReads;
  // A changed level is not seen until the next load.
  SetPluginLevel("500");
  Request();
  Request();
  EXPECT_EQ(platform::fake::Get().profileReads, reads);
  EXPECT_EQ(Lines(ReadAll(LogFile())).size(), 6u);
  EXPECT_EQ(devicecode::GetLogCategoryName(), kCategory);
}

TEST_F(LoggerTest, ConcurrentFirstCallsMakeOneSetUp) {
  SetPluginLevel("600");
  std::string names[2];
  std::thread first([&] { names[0] = devicecode::GetLogCategoryName(); });
  std::thread second([&] { names[1] = devicecode::GetLogCategoryName(); });
  first.join();
  second.join();
  EXPECT_EQ(names[0], kCategory);
  EXPECT_EQ(names[1], kCategory);
  EXPECT_EQ(platform::fake::Get().profileReads, 1u);
}

TEST_F(LoggerTest, HostAppendersOnTheRootSeeNothing) {
  log4cpp::StringQueueAppender hostAppender("host");
  log4cpp::Category::getRoot().addAppender(hostAppender);
  SetPluginLevel("600");
  Request();
  // Also after a failed set-up, when the name is empty.
  StartOver();
  platform::fake::Get().faultMode = platform::fake::FaultMode::kThrowAt;
  platform::fake::Get().faultStep = 1;
  Request();
  log4cpp::Category::getRoot().removeAppender(&hostAppender);
  EXPECT_TRUE(hostAppender.getQueue().empty());
}

}  // namespace
