// Many threads of one host calling the real plug-in with its log at 600, the
// first calls of the load all at once: every line whole, every line kept
// across the file's roll-overs, every thread the same code.
#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "devicecode.h"
#include "plugin_tree.h"

namespace {

using testing_support::PluginTree;
using testing_support::ReadAll;
using testing_support::fs::path;

constexpr int kThreads = 8;
constexpr std::uintmax_t kRollSize = 1048576;
const std::string kBegin = ": [GetDeviceCode]\xA3\xBA Begin";
const std::string kEnd = ": [GetDeviceCode]\xA3\xBA End";

int CallsPerThread() {
  const char* text = std::getenv("DEVICECODE_CONCURRENCY_CALLS");
  return text != nullptr ? std::atoi(text) : 2000;
}

// "2024-03-05 14:07:09,042: " with digits where log4cpp puts them.
bool HasTimeStamp(const std::string& line) {
  const std::string shape = "dddd-dd-dd dd:dd:dd,ddd: ";
  if (line.size() < shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
    if (shape[i] == 'd' ? !digit : line[i] != shape[i]) return false;
  }
  return true;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(ConcurrencyTest, ThreadsWriteWholeLinesAcrossRollOvers) {
  PluginTree tree("concurrency_test");
  tree.SetLevel("600");
  void* plugin = dlopen(tree.Library().c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(plugin, nullptr) << dlerror();
  auto getDeviceCode = reinterpret_cast<GetDeviceCodeFunction>(dlsym(plugin, "GetDeviceCode"));
  auto freeBuffer = reinterpret_cast<FreeBufferFunction>(dlsym(plugin, "FreeBuffer"));
  ASSERT_TRUE(getDeviceCode != nullptr && freeBuffer != nullptr);

  const int calls = CallsPerThread();
  std::atomic<int> waiting{kThreads};
  std::vector<std::string> codes(kThreads);
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // All threads make the load's first call together.
      --waiting;
      while (waiting.load() > 0) std::this_thread::yield();
      for (int i = 0; i < calls; ++i) {
        char* code = getDeviceCode();
        if (code == nullptr) {
          ++failures[t];
          continue;
        }
        if (codes[t].empty()) codes[t] = code;
        if (codes[t] != code) ++failures[t];
        freeBuffer(code);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  // Unloading closes the log file.
  ASSERT_EQ(dlclose(plugin), 0);

  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_EQ(codes[t], codes[0]) << "thread " << t;
  }
  EXPECT_EQ(codes[0].size(), 32u);

  const std::vector<path> days = tree.DayFolders();
  ASSERT_EQ(days.size(), 1u);
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  std::string name = path(self).filename().string();
  name = name.substr(0, name.find('.')) + ".log";
  const path log = days[0] / name;

  // Copy 5 existing would mean the next roll-over could have dropped lines:
  // the run is sized to stay below it.
  ASSERT_FALSE(std::filesystem::exists(log.string() + ".5"));
  std::size_t begins = 0, ends = 0, copies = 0;
  std::string category;
  for (int copy = 0; copy <= 4; ++copy) {
    const path file = copy == 0 ? log : path(log.string() + "." + std::to_string(copy));
    if (!std::filesystem::exists(file)) continue;
    SCOPED_TRACE(file.string());
    const std::string text = ReadAll(file);
    ASSERT_TRUE(text.empty() || text.back() == '\n');
    if (copy > 0) {
      ++copies;
      // Rolled right after the line that reached the limit.
      EXPECT_GE(text.size(), kRollSize);
      EXPECT_LT(text.size(), kRollSize + 200);
    }
    std::size_t start = 0, bad = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string line = text.substr(start, end - start);
      const bool begin = EndsWith(line, kBegin);
      const bool isEnd = !begin && EndsWith(line, kEnd);
      begins += begin;
      ends += isEnd;
      const std::size_t suffix = begin ? kBegin.size() : kEnd.size();
      if (category.empty() && line.size() > 30 + suffix) {
        category = line.substr(30, line.size() - 30 - suffix);
      }
      if (!(begin || isEnd) || !HasTimeStamp(line) || line.compare(25, 5, "INFO ") != 0 ||
          line.compare(30, line.size() - 30 - suffix, category) != 0) {
        if (++bad <= 3) ADD_FAILURE() << "torn or foreign line: " << line;
      }
    }
    EXPECT_EQ(bad, 0u);
  }
  const std::size_t total = static_cast<std::size_t>(kThreads) * static_cast<std::size_t>(calls);
  EXPECT_EQ(begins, total);
  EXPECT_EQ(ends, total);
  EXPECT_TRUE(EndsWith(category, "->libdevicecode.so")) << category;
  std::printf("%d threads x %d calls: %zu lines in the file and %zu rolled copies\n", kThreads,
              calls, begins + ends, copies);
  if (calls >= 2000) {
    EXPECT_GE(copies, 2u);
  }
}

}  // namespace
