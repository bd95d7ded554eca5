// Load, call and unload a DLL many times in one host process, as a host that
// loads plug-ins on demand does: handles, TLS slots and memory must end where
// the first cycle left them. The statically linked GCC runtime leaves some of
// each behind per load unless the DLL cleans up after it, and that clean-up
// leans on the runtime's internals, so this test is what notices a toolchain
// that changes them.
#include <windows.h>

#include <winternl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include "devicecode.h"

namespace {

int Cycles() {
  const char* text = std::getenv("DEVICECODE_RELOAD_CYCLES");
  return text != nullptr ? std::atoi(text) : 200;
}

// What one process holds, counted without GetProcessHandleCount (Wine 8
// always answers 0) and without allocating while counting.
struct Holdings {
  int handles = 0;
  int tlsSlots = 0;
  std::uint64_t heapBytes = 0;     // busy blocks of every heap
  std::uint64_t privateBytes = 0;  // committed private pages

  std::string Describe() const {
    std::ostringstream text;
    text << handles << " handles, " << tlsSlots << " TLS slots, " << heapBytes
         << " bytes in heap blocks, " << privateBytes << " bytes of private memory";
    return text.str();
  }
};

// Handle values are multiples of 4, handed out lowest first; a process of
// this size stays far below the bound.
constexpr std::uintptr_t kLastHandleProbed = 0x10000;

int CountHandles() {
  int count = 0;
  for (std::uintptr_t value = 4; value <= kLastHandleProbed; value += 4) {
    DWORD flags;
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

// The handles by object type, to tell in a failure what was left open.
std::map<std::wstring, int> HandlesByType() {
  using QueryObject = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
  const auto queryObject = reinterpret_cast<QueryObject>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
  std::map<std::wstring, int> types;
  for (std::uintptr_t value = 4; value <= kLastHandleProbed; value += 4) {
    const HANDLE handle = reinterpret_cast<HANDLE>(value);
    DWORD flags;
    if (!::GetHandleInformation(handle, &flags)) continue;
    alignas(8) unsigned char buffer[1024];
    const auto* type = reinterpret_cast<const PUBLIC_OBJECT_TYPE_INFORMATION*>(buffer);
    if (queryObject != nullptr &&
        queryObject(handle, ObjectTypeInformation, buffer, sizeof buffer, nullptr) >= 0) {
      ++types[std::wstring(type->TypeName.Buffer, type->TypeName.Length / sizeof(wchar_t))];
    } else {
      ++types[L"?"];
    }
  }
  return types;
}

// TLS slots in use: every free one is taken, counted and given back.
int CountTlsSlotsInUse() {
  static DWORD taken[TLS_MINIMUM_AVAILABLE + 1088];
  int free = 0;
  for (DWORD slot;
       free < static_cast<int>(std::size(taken)) && (slot = ::TlsAlloc()) != TLS_OUT_OF_INDEXES;) {
    taken[free++] = slot;
  }
  for (int i = 0; i < free; ++i) ::TlsFree(taken[i]);
  return static_cast<int>(std::size(taken)) - free;
}

std::uint64_t HeapBusyBytes() {
  HANDLE heaps[64];
  const DWORD count = ::GetProcessHeaps(static_cast<DWORD>(std::size(heaps)), heaps);
  std::uint64_t bytes = 0;
  for (DWORD i = 0; i < count && i < std::size(heaps); ++i) {
    if (!::HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (::HeapWalk(heaps[i], &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) bytes += entry.cbData;
    }
    ::HeapUnlock(heaps[i]);
  }
  return bytes;
}

std::uint64_t PrivateCommittedBytes() {
  std::uint64_t bytes = 0;
  MEMORY_BASIC_INFORMATION region;
  for (const char* at = nullptr;
       ::VirtualQuery(at, &region, sizeof region) == sizeof region &&
       reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize >
           reinterpret_cast<std::uintptr_t>(at);
       at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) bytes += region.RegionSize;
  }
  return bytes;
}

Holdings Measure() {
  Holdings now;
  now.handles = CountHandles();
  now.tlsSlots = CountTlsSlotsInUse();
  now.heapBytes = HeapBusyBytes();
  now.privateBytes = PrivateCommittedBytes();
  return now;
}

// The DLL loaded with both exports found by name, or null and the reason
// (which never has 32 characters).
struct Loaded {
  HMODULE module = nullptr;
  GetDeviceCodeFunction getDeviceCode = nullptr;
  FreeBufferFunction freeBuffer = nullptr;
  std::string error;
};

Loaded Load(const char* dll) {
  Loaded loaded;
  const HMODULE module = ::LoadLibraryA(dll);
  if (module == nullptr) {
    loaded.error = "LoadLibraryA failed: " + std::to_string(::GetLastError());
    return loaded;
  }
  loaded.getDeviceCode = reinterpret_cast<GetDeviceCodeFunction>(
      reinterpret_cast<void*>(::GetProcAddress(module, "GetDeviceCode")));
  loaded.freeBuffer = reinterpret_cast<FreeBufferFunction>(
      reinterpret_cast<void*>(::GetProcAddress(module, "FreeBuffer")));
  if (loaded.getDeviceCode == nullptr || loaded.freeBuffer == nullptr) {
    ::FreeLibrary(module);
    loaded.error = "exports missing";
    return loaded;
  }
  loaded.module = module;
  return loaded;
}

// One load/call/unload cycle; returns the code (or what went wrong).
std::string Cycle(const char* dll) {
  const Loaded loaded = Load(dll);
  if (loaded.module == nullptr) return loaded.error;
  char* buffer = loaded.getDeviceCode();
  const std::string code = buffer != nullptr ? buffer : "(null)";
  loaded.freeBuffer(buffer);
  ::FreeLibrary(loaded.module);
  return code;
}

// One caller on its own thread: it calls once `start` is set, then sets
// `called`, and ends at once or, with `stay`, only once that is set.
struct Caller {
  GetDeviceCodeFunction getDeviceCode;
  FreeBufferFunction freeBuffer;
  HANDLE start;
  HANDLE stay;
  HANDLE called;
  std::string code;
};

DWORD WINAPI CallOnce(void* argument) {
  auto* caller = static_cast<Caller*>(argument);
  ::WaitForSingleObject(caller->start, INFINITE);
  char* buffer = caller->getDeviceCode();
  caller->code = buffer != nullptr ? buffer : "(null)";
  caller->freeBuffer(buffer);
  ::SetEvent(caller->called);
  if (caller->stay != nullptr) ::WaitForSingleObject(caller->stay, INFINITE);
  return 0;
}

// A cycle whose first calls come from 8 threads at once: half of them end
// while the DLL is loaded, half live on past its unload. Returns the code
// when all agree.
std::string ThreadedCycle(const char* dll) {
  const Loaded loaded = Load(dll);
  if (loaded.module == nullptr) return loaded.error;
  constexpr int kCallers = 8;
  const HANDLE start = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const HANDLE stay = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Caller callers[kCallers];
  HANDLE called[kCallers];
  HANDLE threads[kCallers];
  for (int i = 0; i < kCallers; ++i) {
    called[i] = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    callers[i] = {loaded.getDeviceCode,        loaded.freeBuffer, start,
                  i % 2 == 0 ? stay : nullptr, called[i],         ""};
    threads[i] = ::CreateThread(nullptr, 0, CallOnce, &callers[i], 0, nullptr);
  }
  ::SetEvent(start);
  ::WaitForMultipleObjects(kCallers, called, TRUE, INFINITE);
  for (int i = 1; i < kCallers; i += 2) ::WaitForSingleObject(threads[i], INFINITE);
  ::FreeLibrary(loaded.module);
  ::SetEvent(stay);
  ::WaitForMultipleObjects(kCallers, threads, TRUE, INFINITE);
  std::string code = callers[0].code;
  for (int i = 0; i < kCallers; ++i) {
    if (callers[i].code != code) code = "caller " + std::to_string(i) + ": " + callers[i].code;
    ::CloseHandle(threads[i]);
    ::CloseHandle(called[i]);
  }
  ::CloseHandle(start);
  ::CloseHandle(stay);
  return code;
}

// Runs `cycle` once, then `cycles` more times, and checks that those left
// the process as the first one did.
template <typename CycleFunction>
void ExpectNothingLeftBehind(const char* dll, int cycles, CycleFunction cycle) {
  const std::string code = cycle(dll);
  ASSERT_EQ(code.size(), 32u) << code;
  // The DLL really goes away: nothing pins it in memory.
  EXPECT_EQ(::GetModuleHandleA(dll), nullptr);

  const auto typesBefore = HandlesByType();
  const Holdings before = Measure();
  for (int i = 0; i < cycles; ++i) ASSERT_EQ(cycle(dll), code) << "cycle " << i;
  const Holdings after = Measure();

  std::wostringstream types;
  for (const auto& [type, count] : HandlesByType()) {
    const auto was = typesBefore.find(type);
    const int grown = count - (was != typesBefore.end() ? was->second : 0);
    if (grown != 0) types << L" " << type << L" " << grown;
  }
  const std::wstring typeText = types.str();
  std::cout << dll << ", " << cycles << " cycles: before " << before.Describe() << "\n  after "
            << after.Describe() << "\n";

  EXPECT_EQ(after.handles, before.handles)
      << "handles left open, by type:" << std::string(typeText.begin(), typeText.end());
  EXPECT_EQ(after.tlsSlots, before.tlsSlots);
  EXPECT_EQ(after.heapBytes, before.heapBytes);
  // Pages the heaps keep and the loader's own: Wine commits one more 64 KiB
  // step at some later load, with any DLL (the export stub too), and no more;
  // a page a cycle would be 800 KiB.
  EXPECT_LE(after.privateBytes, before.privateBytes + 128 * 1024);
}

std::string ExecutableFolder() {
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text = path;
  return text.substr(0, text.rfind('\\') + 1);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t CountOf(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) {
    ++count;
  }
  return count;
}

// The DLL copied into a folder of its own with a plugin.ini at level 600 and
// a Logs folder beside it, so that every call also opens, writes and closes
// its log file.
class ReloadTest : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    // Wine reuses process ids from one run to the next: a name taken (by
    // a run that was stopped) is skipped.
    for (int attempt = 0;; ++attempt) {
      folder_ = std::string(temp) + "devicecode reload " + std::to_string(::GetCurrentProcessId()) +
                "-" + std::to_string(attempt) + "\\";
      if (::CreateDirectoryA(folder_.c_str(), nullptr)) break;
      ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << folder_;
    }
    ASSERT_TRUE(::CreateDirectoryA((folder_ + "Logs").c_str(), nullptr));
    std::ofstream(folder_ + "plugin.ini", std::ios::binary) << "[Common]\r\nLogLevel=600\r\n";
    dll_ = folder_ + GetParam();
    ASSERT_TRUE(::CopyFileA((ExecutableFolder() + GetParam()).c_str(), dll_.c_str(), TRUE));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // Every Begin and End line the log holds, whole.
  std::string Log() const {
    std::string log;
    std::error_code ignored;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(folder_ + "Logs", ignored)) {
      if (entry.is_regular_file()) log += ReadAll(entry.path().string());
    }
    return log;
  }

  std::string folder_;
  std::string dll_;
};

TEST_P(ReloadTest, CyclesLeaveNothingBehind) {
  ExpectNothingLeftBehind(dll_.c_str(), Cycles(), Cycle);
  // The plug-in writes each call's two lines once; the stand-in has no log.
  if (std::string(GetParam()) == "devicecode.dll") {
    const std::string log = Log();
    EXPECT_EQ(CountOf(log, "\xA3\xBA Begin\r\n"), static_cast<std::size_t>(1 + Cycles()));
    EXPECT_EQ(CountOf(log, "\xA3\xBA End\r\n"), static_cast<std::size_t>(1 + Cycles()));
  }
}

// Threads that call the DLL get its per-thread state; it goes when they end
// or, for those still alive, when the DLL is unloaded.
TEST_P(ReloadTest, ThreadedCyclesLeaveNothingBehind) {
  ExpectNothingLeftBehind(dll_.c_str(), Cycles() / 4, ThreadedCycle);
}

INSTANTIATE_TEST_SUITE_P(Dlls, ReloadTest, testing::Values(DEVICECODE_TESTED_DLLS));

}  // namespace
