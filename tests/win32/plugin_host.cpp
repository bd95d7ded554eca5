// A host as an integrator writes one, for win32_host_test: from Host\bin\ it
// loads ..\plugins\dev\devicecode.dll with LoadLibraryA, looks both functions
// up by name and by ordinal, and asks for the code from THREADS threads,
// CALLS times each, the first calls all at once.
//
//   host.exe THREADS CALLS
//
// Prints "same addresses" when name and ordinal give the same functions, then
// each distinct code once, one per line. Exit status 1 when the plug-in cannot
// be loaded or lacks an export, 2 when a call returned no code.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "devicecode.h"

namespace {

std::string PluginPath() {
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text = path;
  return text.substr(0, text.rfind('\\') + 1) + "..\\plugins\\dev\\devicecode.dll";
}

}  // namespace

int main(int argc, char** argv) {
  const int threads = argc > 1 ? std::atoi(argv[1]) : 1;
  const int calls = argc > 2 ? std::atoi(argv[2]) : 1;

  HMODULE plugin = ::LoadLibraryA(PluginPath().c_str());
  if (plugin == nullptr) {
    std::fprintf(stderr, "cannot load %s: error %lu\n", PluginPath().c_str(), ::GetLastError());
    return 1;
  }
  FARPROC getByName = ::GetProcAddress(plugin, "GetDeviceCode");
  FARPROC freeByName = ::GetProcAddress(plugin, "FreeBuffer");
  FARPROC freeByOrdinal = ::GetProcAddress(plugin, MAKEINTRESOURCEA(1));
  FARPROC getByOrdinal = ::GetProcAddress(plugin, MAKEINTRESOURCEA(2));
  if (getByName == nullptr || freeByName == nullptr) {
    std::fprintf(stderr, "missing export\n");
    return 1;
  }
  if (getByName == getByOrdinal && freeByName == freeByOrdinal) std::puts("same addresses");
  auto getDeviceCode = reinterpret_cast<GetDeviceCodeFunction>(reinterpret_cast<void*>(getByName));
  auto freeBuffer = reinterpret_cast<FreeBufferFunction>(reinterpret_cast<void*>(freeByName));

  std::mutex mutex;
  std::set<std::string> codes;
  std::atomic<int> waiting{threads};
  std::atomic<bool> failed{false};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      // Every thread's first call starts together: they race for the set-up.
      --waiting;
      while (waiting.load() > 0) std::this_thread::yield();
      for (int i = 0; i < calls; ++i) {
        char* code = getDeviceCode();
        if (code == nullptr) {
          failed = true;
          continue;
        }
        {
          std::lock_guard<std::mutex> lock(mutex);
          codes.insert(code);
        }
        freeBuffer(code);
      }
    });
  }
  for (auto& worker : workers) worker.join();
  for (const auto& code : codes) std::puts(code.c_str());
  ::FreeLibrary(plugin);
  return failed ? 2 : 0;
}
