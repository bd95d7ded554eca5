// Load, call and unload the plug-in many times in one host process, as a host
// that loads plug-ins on demand does: nothing may accumulate.
#include <dirent.h>
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

#include "devicecode.h"
#include "plugin_tree.h"

namespace {

int OpenDescriptors() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}

long ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// Valgrind and the sanitizers hold memory of their own per load (code
// translations, freed-memory quarantine, shadow memory); the native run and
// the leak checks of valgrind and ASan stand in for this check there.
bool ResidentSizeIsMeaningful() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return false;
#elif __has_include(<valgrind/valgrind.h>)
  return RUNNING_ON_VALGRIND == 0;
#else
  return true;
#endif
}

int Cycles() {
  const char* text = std::getenv("DEVICECODE_RELOAD_CYCLES");
  return text != nullptr ? std::atoi(text) : 200;
}

// One load/call/unload cycle; returns the code.
std::string Cycle(const char* library = DEVICECODE_LIBRARY_PATH) {
  void* plugin = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (plugin == nullptr) return std::string("dlopen: ") + dlerror();
  auto getDeviceCode = reinterpret_cast<GetDeviceCodeFunction>(dlsym(plugin, "GetDeviceCode"));
  auto freeBuffer = reinterpret_cast<FreeBufferFunction>(dlsym(plugin, "FreeBuffer"));
  std::string code;
  if (getDeviceCode != nullptr && freeBuffer != nullptr) {
    char* buffer = getDeviceCode();
    code = buffer != nullptr ? buffer : "(null)";
    freeBuffer(buffer);
  }
  dlclose(plugin);
  return code;
}

TEST(ReloadTest, CyclesLeaveNothingBehind) {
  const std::string code = Cycle();
  ASSERT_EQ(code.size(), 32u) << code;
  // The library really goes away: nothing in it pins it in memory.
  EXPECT_EQ(dlopen(DEVICECODE_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);

  // Warm up whatever the process keeps for good (loader caches, log4cpp's
  // registry) before taking the baseline.
  for (int i = 0; i < 10; ++i) Cycle();
  const int descriptors = OpenDescriptors();
  const long resident = ResidentKilobytes();

  const int cycles = Cycles();
  for (int i = 0; i < cycles; ++i) ASSERT_EQ(Cycle(), code) << "cycle " << i;

  EXPECT_EQ(OpenDescriptors(), descriptors);
  // Page-granular noise is allowed; a leak of even 5 KiB a cycle is not.
  if (ResidentSizeIsMeaningful()) {
    EXPECT_LT(ResidentKilobytes() - resident, 1024) << "after " << cycles << " cycles";
  }
}

TEST(ReloadTest, EachCycleWritesItsLinesOnce) {
  testing_support::PluginTree tree("reload_test");
  tree.SetLevel("600");
  const std::string library = tree.Library().string();
  const int cycles = Cycles();
  for (int i = 0; i < cycles; ++i) ASSERT_EQ(Cycle(library.c_str()).size(), 32u) << "cycle " << i;

  // Each load opens the file anew and appends; each unload closes it, so a
  // line is neither lost nor written twice.
  const auto days = tree.DayFolders();
  ASSERT_EQ(days.size(), 1u);
  std::string log;
  for (const auto& entry : std::filesystem::directory_iterator(days[0])) {
    log += testing_support::ReadAll(entry.path());
  }
  std::size_t begins = 0, ends = 0, lines = 0;
  for (std::size_t at = 0; (at = log.find('\n', at)) != std::string::npos; ++at) ++lines;
  for (std::size_t at = 0; (at = log.find("\xA3\xBA Begin\n", at)) != std::string::npos; ++at)
    ++begins;
  for (std::size_t at = 0; (at = log.find("\xA3\xBA End\n", at)) != std::string::npos; ++at) ++ends;
  EXPECT_EQ(begins, static_cast<std::size_t>(cycles));
  EXPECT_EQ(ends, static_cast<std::size_t>(cycles));
  EXPECT_EQ(lines, begins + ends);
}

}  // namespace
