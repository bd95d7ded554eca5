// Fault sweep over GetDeviceCode, first request of a load included: platform
// call n fails once, every call from n on fails, or call n throws
// std::bad_alloc, for n = 1, 2, ... until a run ends before reaching n. Every
// run must end in its documented result, never in a crash or an exception.
//
// The fake runs on the real file system so that log4cpp opens the files the
// logic names. The layout makes every fallback visible: the option file in
// Config/ says 600 and the one in the temporary folder 800, plugin.ini says
// 700; the first adapter is virtual (the fallback's choice), the second a NIC.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#include <log4cpp/Category.hh>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "adapter_list.h"
#include "devicecode.h"
#include "log/logger.h"
#include "platform/fake/fake_platform.h"
#include "test_files.h"

// Allocation faults: while armed, the n-th operator new of the process
// (log4cpp's included) throws std::bad_alloc.
namespace {

using namespace testing_support;
std::atomic<bool> allocationArmed{false};
std::atomic<std::uint64_t> allocationCount{0};
std::atomic<std::uint64_t> allocationFailAt{0};
std::atomic<bool> allocationFailed{false};
}  // namespace

void* operator new(std::size_t size) {
  if (allocationArmed.load(std::memory_order_relaxed) &&
      ++allocationCount == allocationFailAt.load()) {
    allocationFailed = true;
    throw std::bad_alloc();
  }
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace {

namespace fs = std::filesystem;
using platform::fake::FaultMode;

constexpr char kNicCode[] = "7598B725A578EE13656D280B6520F326";
constexpr char kFailure[] = "Initialize log model fail\n";
constexpr char kDayLog[] = "Host/plugins/Logs/2024-03-05/host.log";

// What one request left behind.
struct Outcome {
  std::optional<std::string> code;          // none: null was returned
  std::string category;                     // the kept name; empty after a failed set-up
  int level = -1;                           // the category's priority (-1: no category)
  std::map<std::string, std::string> logs;  // log file (relative) -> contents
  std::vector<std::string> debugOutput;
};

// The documented result of failing one call once, by the call's name and
// occurrence in a clean run ("GetFileAttributesA#2"; #1 is the long-path
// query's own check); calls not listed change nothing that shows.
struct Expected {
  std::optional<std::string> code = kNicCode;
  std::string category = "[S1P4242]->host->lib.so";
  int level = 700;
  std::string log = kDayLog;
  bool begin = true;
  bool end = true;
  std::size_t debugLines = 2;
};

std::map<std::string, Expected> FailOnceDeviations() {
  std::map<std::string, Expected> d;
  d["GetLocalTime#1"].log = "Host/plugins/Logs/0000-00-00/host.log";
  d["ProcessIdToSessionId#1"].category = "[S0P4242]->host->lib.so";
  // No host path: the searches start from the temporary folder, where the
  // option file says 800.
  d["GetModuleFileNameA#1"] = {kNicCode, "[S1P4242]->unknow", 800, "Temp/TrelLog.log"};
  // No library path: the host's folder is the base; Config is found from it.
  d["VirtualQuery#1"] = {kNicCode, "[S1P4242]->host", 700, "Host/bin/host.log"};
  d["GetModuleFileNameA#2"] = d["VirtualQuery#1"];
  // Logs not seen at dev/../Logs: dev/../../Logs is missing, the base stays.
  d["GetFileAttributesA#3"].log = "Host/plugins/dev/host.log";
  // The day's folder not made: the file goes to the temporary folder.
  d["CreateDirectoryA#1"].log = "Temp/host.log";
  // Config not seen at the third try, or its option file not seen: the
  // temporary folder's option file is read.
  d["GetFileAttributesA#6"].level = 800;
  d["GetFileAttributesA#7"].level = 800;
  // plugin.ini not found or not read: its default, 400.
  for (const char* call : {"VirtualQuery#2", "GetModuleFileNameA#3", "PathRemoveFileSpecA#1",
                           "GetFileAttributesA#8", "GetPrivateProfileIntA#2"}) {
    d[call].level = 600;
  }
  d["OutputDebugStringA#1"].debugLines = 1;
  d["OutputDebugStringA#2"].debugLines = 1;
  // No adapter list (its size query or its fill failed), no memory for the
  // list or the result: null, and no End line.
  for (const char* call : {"GetAdaptersInfo#1", "GetAdaptersInfo#2", "Malloc#1", "Malloc#2"}) {
    d[call].code.reset();
    d[call].end = false;
    d[call].debugLines = 1;
  }
  return d;
}

// Files the library may make, by the fallbacks above.
const std::set<std::string> kAllowedLogs = {kDayLog,
                                            "Host/plugins/Logs/0000-00-00/host.log",
                                            "Host/plugins/dev/host.log",
                                            "Temp/host.log",
                                            "Temp/TrelLog.log",
                                            "Host/bin/host.log"};

class FaultSweepTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/fault_sweep.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    fallbackExisted_ = fs::exists(platform::GetFallbackTempFolder());
  }
  void TearDown() override {
    devicecode::ResetLoggerForTesting();
    fs::remove_all(root_);
    // Failing the temporary-folder query makes the fixed fallback folder.
    if (!fallbackExisted_) fs::remove_all(platform::GetFallbackTempFolder());
  }

  void Arrange() {
    fs::remove_all(root_);
    for (const char* folder :
         {"Host/bin", "Host/plugins/dev", "Host/plugins/Logs", "Host/Config", "Temp"}) {
      fs::create_directories(root_ / folder);
    }
    std::ofstream(root_ / "Host/Config/OrvenOption.ini") << "[Common]\nLogLevel=600\n";
    std::ofstream(root_ / "Temp/OrvenOption.ini") << "[Common]\nLogLevel=800\n";
    std::ofstream(root_ / "Host/plugins/dev/plugin.ini") << "[Common]\nLogLevel=700\n";
    fs::remove(fs::path(platform::GetFallbackTempFolder()) / "TrelLog.log");

    devicecode::ResetLoggerForTesting();
    platform::fake::Reset();
    platform::fake::State& s = platform::fake::Get();
    s.hostPath = (root_ / "Host/bin/host").string();
    s.ownModulePath = (root_ / "Host/plugins/dev/lib.so").string();
    s.tempPath = (root_ / "Temp").string() + "/";
    s.adapters = {testing_support::MakeRecord({"Virtual adapter", {2, 0, 0, 0, 0, 0x0A}, 1}),
                  testing_support::MakeRecord({"NIC", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, 0})};
  }

  // One first request of a load under the fault plan, or with the n-th
  // allocation of the request failing.
  Outcome Run(FaultMode mode, std::uint64_t step, std::uint64_t allocation = 0) {
    Arrange();
    platform::fake::Get().trace.reserve(64);  // the fake's own bookkeeping
    platform::fake::Get().faultMode = mode;
    platform::fake::Get().faultStep = step;
    Outcome o;
    allocationCount = 0;
    allocationFailAt = allocation;
    allocationFailed = false;
    allocationArmed = allocation != 0;
    char* code = nullptr;
    try {
      code = GetDeviceCode();
    } catch (...) {
      ADD_FAILURE() << "an exception left GetDeviceCode";
    }
    allocationArmed = false;
    if (code != nullptr) o.code = code;
    FreeBuffer(code);
    platform::fake::Get().faultMode = FaultMode::kNone;
    EXPECT_EQ(platform::fake::Get().liveAllocations, 0u);
    o.category = devicecode::GetLogCategoryName();
    if (log4cpp::Category* c = log4cpp::Category::exists(o.category); c && !o.category.empty()) {
      o.level = c->getPriority();
    }
    o.debugOutput = platform::fake::Get().debugOutput;
    // Close the file before reading it, as an unload does.
    devicecode::ResetLoggerForTesting();
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
      const std::string name = fs::relative(entry.path(), root_).string();
      if (entry.is_regular_file() && name.find(".log") != std::string::npos) {
        o.logs[name] = ReadAll(entry.path());
      }
    }
    const fs::path fallbackLog = fs::path(platform::GetFallbackTempFolder()) / "TrelLog.log";
    if (fs::exists(fallbackLog)) o.logs[fallbackLog.string()] = ReadAll(fallbackLog);
    return o;
  }

  // Each step's "Operation#occurrence" in a clean run.
  std::vector<std::string> CleanSteps() {
    Run(FaultMode::kNone, 0);
    std::map<std::string, int> seen;
    std::vector<std::string> steps;
    for (const char* op : platform::fake::Get().trace) {
      steps.push_back(std::string(op) + "#" + std::to_string(++seen[op]));
    }
    return steps;
  }

  static void Report(const char* mode, std::uint64_t points) {
    testing::Test::RecordProperty(std::string("fault_points_") + mode, static_cast<int>(points));
    std::printf("fault sweep %s: %llu fault points\n", mode,
                static_cast<unsigned long long>(points));
  }

  // Only the documented log files, each with whole lines.
  static void ExpectOnlyAllowedLogs(const Outcome& o) {
    for (const auto& [name, text] : o.logs) {
      EXPECT_TRUE(kAllowedLogs.count(name) != 0 ||
                  name == fs::path(platform::GetFallbackTempFolder()) / "TrelLog.log")
          << name;
      EXPECT_TRUE(text.empty() || text.back() == '\n') << name << ": " << text;
      EXPECT_EQ(Count(text, "\n"), Count(text, kBeginMessage) + Count(text, kEndMessage)) << name;
    }
  }

  fs::path root_;
  bool fallbackExisted_ = false;
};

std::string AllLogs(const Outcome& o) {
  std::string all;
  for (const auto& [name, text] : o.logs) all += text;
  return all;
}

TEST_F(FaultSweepTest, FailOnce) {
  const std::vector<std::string> clean = CleanSteps();
  const std::map<std::string, Expected> deviations = FailOnceDeviations();
  std::uint64_t step = 1;
  for (;; ++step) {
    const Outcome o = Run(FaultMode::kFailOnce, step);
    if (!platform::fake::Get().faultReached) break;
    ASSERT_LE(step, clean.size());
    const std::string& call = clean[step - 1];
    SCOPED_TRACE("step " + std::to_string(step) + ": " + call);
    const auto found = deviations.find(call);
    const Expected e = found != deviations.end() ? found->second : Expected{};

    EXPECT_EQ(o.code, e.code);
    EXPECT_EQ(o.category, e.category);
    EXPECT_EQ(o.level, e.level);
    ExpectOnlyAllowedLogs(o);
    ASSERT_EQ(o.logs.count(e.log), 1u) << "no " << e.log;
    const std::string& log = o.logs.at(e.log);
    EXPECT_EQ(Count(log, kBeginMessage), e.begin ? 1u : 0u);
    EXPECT_EQ(Count(log, kEndMessage), e.end ? 1u : 0u);
    EXPECT_EQ(AllLogs(o).size(), log.size()) << "lines in more than one file";
    EXPECT_EQ(o.debugOutput.size(), e.debugLines);
    for (const std::string& line : o.debugOutput) {
      EXPECT_EQ(line, "INFO " + e.category + ": " +
                          (line.find("Begin") != std::string::npos ? kBeginMessage : kEndMessage) +
                          "\n");
    }
  }
  EXPECT_EQ(step - 1, clean.size());
  Report("fail_once", step - 1);
}

TEST_F(FaultSweepTest, FailFrom) {
  const std::vector<std::string> clean = CleanSteps();
  std::uint64_t resultMalloc = 0;
  for (std::uint64_t i = 0; i < clean.size(); ++i) {
    if (clean[i] == "Malloc#2") resultMalloc = i + 1;
  }
  ASSERT_NE(resultMalloc, 0u);
  std::uint64_t step = 1;
  for (;; ++step) {
    const Outcome o = Run(FaultMode::kFailFrom, step);
    if (!platform::fake::Get().faultReached) break;
    SCOPED_TRACE("from step " + std::to_string(step) + ": " + clean[step - 1]);

    // Every later call fails too, the result's allocation among them.
    if (step <= resultMalloc) {
      EXPECT_FALSE(o.code.has_value());
    } else {
      EXPECT_EQ(o.code, kNicCode);
    }
    ExpectOnlyAllowedLogs(o);
    const std::string all = AllLogs(o);
    EXPECT_LE(Count(all, kBeginMessage), 1u);
    EXPECT_EQ(Count(all, kEndMessage), o.code && Count(all, kBeginMessage) == 1 ? 1u : 0u);
    for (const std::string& line : o.debugOutput) EXPECT_NE(line, kFailure);
  }
  EXPECT_EQ(step - 1, clean.size());
  Report("fail_from", step - 1);
}

TEST_F(FaultSweepTest, ThrowBadAlloc) {
  const std::vector<std::string> clean = CleanSteps();
  std::uint64_t setUpSteps = 0;
  while (clean[setUpSteps] != "OutputDebugStringA#1") ++setUpSteps;
  std::uint64_t step = 1;
  for (;; ++step) {
    const Outcome o = Run(FaultMode::kThrowAt, step);
    if (!platform::fake::Get().faultReached) break;
    const std::string& call = clean[step - 1];
    SCOPED_TRACE("step " + std::to_string(step) + ": " + call);
    ExpectOnlyAllowedLogs(o);
    const std::string all = AllLogs(o);
    if (step <= setUpSteps) {
      // A failed set-up: reported once, then silence; the code is unharmed.
      EXPECT_EQ(o.code, kNicCode);
      EXPECT_EQ(o.category, "");
      EXPECT_EQ(o.debugOutput, std::vector<std::string>{kFailure});
      EXPECT_EQ(Count(all, "\n"), 0u);
    } else if (call.rfind("GetAdaptersInfo", 0) == 0 || call.rfind("Malloc", 0) == 0) {
      EXPECT_FALSE(o.code.has_value());
      EXPECT_EQ(Count(all, kBeginMessage), 1u);
      EXPECT_EQ(Count(all, kEndMessage), 0u);
    } else {
      // A debugger line that throws costs that line only.
      EXPECT_EQ(o.code, kNicCode);
      EXPECT_EQ(Count(all, kEndMessage), 1u);
      EXPECT_LE(o.debugOutput.size(), 1u);
    }
  }
  EXPECT_EQ(step - 1, clean.size());
  Report("throw_bad_alloc", step - 1);
}

TEST_F(FaultSweepTest, AllocationFails) {
  std::uint64_t n = 1;
  for (;; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    const Outcome o = Run(FaultMode::kNone, 0, n);
    if (!allocationFailed) break;
    ExpectOnlyAllowedLogs(o);
    const std::string all = AllLogs(o);
    if (o.category.empty()) {
      // The set-up failed: reported once, then silence; the code unharmed.
      EXPECT_EQ(o.code, kNicCode);
      EXPECT_EQ(o.debugOutput, std::vector<std::string>{kFailure});
      EXPECT_EQ(Count(all, "\n"), 0u);
    } else {
      // A line may be lost; the code is right, or null when the
      // computation's own memory ran out.
      EXPECT_TRUE(!o.code || *o.code == kNicCode) << *o.code;
      EXPECT_LE(Count(all, kBeginMessage), 1u);
      EXPECT_LE(Count(all, kEndMessage), o.code ? 1u : 0u);
      for (const std::string& line : o.debugOutput) EXPECT_EQ(line.back(), '\n') << line;
    }
  }
  Report("allocation", n - 1);
}

// log4cpp's roll-over closes the log file before it builds the copies' names;
// when memory runs out in between, a file the host opens next may get the
// closed descriptor's number, and the library's later lines must not land in it.
TEST_F(FaultSweepTest, RollOverShortOfMemoryKeepsOffTheHostsFiles) {
  std::uint64_t n = 1;
  for (;; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    Arrange();
    fs::create_directories((root_ / kDayLog).parent_path());
    WriteAll(root_ / kDayLog, std::string(1048576 - 20, 'x') + "\n");  // the Begin line rolls it
    allocationCount = 0;
    allocationFailAt = n;
    allocationFailed = false;
    allocationArmed = true;
    char* code = GetDeviceCode();
    allocationArmed = false;
    FreeBuffer(code);
    if (!allocationFailed) break;

    // The host's new files take the lowest free numbers, a closed one among them.
    std::vector<int> hostFiles;
    for (int i = 0; i < 8; ++i) {
      const fs::path path = root_ / ("host-data-" + std::to_string(i));
      hostFiles.push_back(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
      ASSERT_GE(hostFiles.back(), 0);
    }
    FreeBuffer(GetDeviceCode());
    for (int i = 0; i < 8; ++i) {
      close(hostFiles[i]);
      EXPECT_EQ(fs::file_size(root_ / ("host-data-" + std::to_string(i))), 0u) << "file " << i;
    }
    devicecode::ResetLoggerForTesting();
  }
  Report("roll_over_allocation", n - 1);
}

}  // namespace
