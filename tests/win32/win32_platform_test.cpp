// The Win32 backend against the real Win32 calls (run under Wine here).
//
// Under Wine the adapter records come from the Linux kernel, so they are
// checked against /sys/class/net, read through Wine's Z: drive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "devicecode/adapter_selection.h"
#include "ini_cases.h"
#include "platform/inspection.h"
#include "platform/platform.h"

namespace {

bool RunsUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// --- Network adapters ---------------------------------------------------------

// The list read with the two-call protocol, in storage the test owns.
struct AdapterList {
  std::vector<unsigned char> storage;
  const platform::AdapterInfo* first() const {
    return storage.empty() ? nullptr
                           : reinterpret_cast<const platform::AdapterInfo*>(storage.data());
  }
};

AdapterList ReadAdapters() {
  AdapterList list;
  std::uint32_t size = 0;
  const std::uint32_t first = platform::GetAdaptersInfo(nullptr, &size);
  if (first != platform::kErrorBufferOverflow) {
    ADD_FAILURE() << "size query returned " << first;
    return list;
  }
  list.storage.resize(size);
  const std::uint32_t second = platform::GetAdaptersInfo(
      reinterpret_cast<platform::AdapterInfo*>(list.storage.data()), &size);
  EXPECT_EQ(second, platform::kErrorSuccess);
  if (second != platform::kErrorSuccess) list.storage.clear();
  return list;
}

TEST(Win32AdaptersTest, TwoCallProtocol) {
  std::uint32_t needed = 0;
  ASSERT_EQ(platform::GetAdaptersInfo(nullptr, &needed), platform::kErrorBufferOverflow)
      << "this machine reports no adapter";
  ASSERT_GE(needed, sizeof(platform::AdapterInfo));

  // One byte short: still too small, and the same size is asked for.
  std::vector<unsigned char> storage(needed);
  auto* buffer = reinterpret_cast<platform::AdapterInfo*>(storage.data());
  std::uint32_t size = needed - 1;
  EXPECT_EQ(platform::GetAdaptersInfo(buffer, &size), platform::kErrorBufferOverflow);
  EXPECT_EQ(size, needed);

  size = needed;
  ASSERT_EQ(platform::GetAdaptersInfo(buffer, &size), platform::kErrorSuccess);
  // The records are chained inside the buffer, and the chain ends.
  std::size_t count = 0;
  for (const platform::AdapterInfo* a = buffer; a != nullptr; a = a->Next, ++count) {
    const auto* at = reinterpret_cast<const unsigned char*>(a);
    ASSERT_GE(at, storage.data());
    ASSERT_LE(at + sizeof *a, storage.data() + storage.size());
    EXPECT_LE(a->AddressLength, sizeof a->Address);
    EXPECT_NE(std::memchr(a->Description, '\0', sizeof a->Description), nullptr);
    ASSERT_LT(count, needed / sizeof *a);
  }
  EXPECT_GE(count, 1u);
}

// An interface as the Linux kernel shows it through sysfs.
struct KernelInterface {
  int index;
  std::string name;
  std::string text;  // hardware-address text: upper-case hex, no colons
};

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// Every interface but loopback (ARPHRD_LOOPBACK, 772), which GetAdaptersInfo
// leaves out, in index order.
std::vector<KernelInterface> KernelInterfaces() {
  std::vector<KernelInterface> result;
  const std::string root = "Z:\\sys\\class\\net\\";
  WIN32_FIND_DATAA entry;
  HANDLE find = ::FindFirstFileA((root + "*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return result;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == ".." || name == "bonding_masters") continue;
    const std::string base = root + name + "\\";
    if (ReadFirstLine(base + "type") == "772") continue;
    std::string text;
    for (char c : ReadFirstLine(base + "address")) {
      if (c != ':') text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    result.push_back({std::stoi(ReadFirstLine(base + "ifindex")), name, text});
  } while (::FindNextFileA(find, &entry));
  ::FindClose(find);
  std::sort(result.begin(), result.end(),
            [](const auto& a, const auto& b) { return a.index < b.index; });
  return result;
}

std::string AddressText(const platform::AdapterInfo& adapter) {
  bool usable = false;
  return devicecode::WriteAddressText(adapter, &usable);
}

bool Usable(const std::string& text) { return text.find_first_not_of('0') != std::string::npos; }

TEST(Win32AdaptersTest, RecordsAsWineReportsTheKernelInterfaces) {
  if (!RunsUnderWine()) GTEST_SKIP() << "Wine-specific: records mirror the Linux interfaces";
  const auto expected = KernelInterfaces();
  ASSERT_FALSE(expected.empty()) << "no interfaces under Z:\\sys\\class\\net";
  const AdapterList list = ReadAdapters();

  std::size_t i = 0;
  for (const platform::AdapterInfo* a = list.first(); a != nullptr; a = a->Next, ++i) {
    ASSERT_LT(i, expected.size()) << "extra record " << a->Description;
    SCOPED_TRACE(expected[i].name);
    // Wine describes an adapter by its Linux name; Windows by its driver
    // ("Intel(R) Ethernet Connection ...").
    EXPECT_STREQ(a->Description, expected[i].name.c_str());
    EXPECT_EQ(AddressText(*a), expected[i].text);
    // Wine 8 leaves every IpAddressList.Context at 0, even for an adapter
    // with an IPv4 address; Windows puts the address's NTE context there
    // (nonzero). So under Wine the fallback always lands on the last record.
    EXPECT_EQ(a->IpAddressList.Context, 0u);
  }
  EXPECT_EQ(i, expected.size());
}

TEST(Win32AdaptersTest, BothSelectionsOverTheRealList) {
  const AdapterList list = ReadAdapters();
  ASSERT_NE(list.first(), nullptr);
  // The request's own enumeration sees the list read here.
  const std::string physical = devicecode::SelectPhysicalMacText(list.first());
  const std::string fallback = devicecode::SelectFallbackMacText(list.first());
  EXPECT_EQ(devicecode::GetMacText(), physical.empty() ? fallback : physical);

  if (!RunsUnderWine()) return;
  // Derived from the kernel's view alone: the first interface with a nonzero
  // address whose name does not say virtual or VMware; and, with every
  // context 0 under Wine, the last interface when its address is usable.
  std::string expectedPhysical;
  const auto interfaces = KernelInterfaces();
  for (const KernelInterface& k : interfaces) {
    std::string folded = k.name;
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool isVirtual =
        folded.find("virtual") != std::string::npos || folded.find("vmware") != std::string::npos;
    if (!isVirtual && Usable(k.text)) {
      expectedPhysical = k.text;
      break;
    }
  }
  ASSERT_FALSE(interfaces.empty());
  const std::string& last = interfaces.back().text;
  EXPECT_EQ(physical, expectedPhysical);
  EXPECT_EQ(fallback, Usable(last) ? last : std::string());
}

// --- Modules and memory ------------------------------------------------

TEST(Win32ModuleTest, HostModuleAndItsFile) {
  const platform::ModuleHandle host = platform::GetModuleHandleA(nullptr);
  ASSERT_NE(host, nullptr);
  char path[platform::kMaxPath] = {};
  const std::uint32_t length = platform::GetModuleFileNameA(nullptr, path, sizeof path);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(length, std::strlen(path));
  EXPECT_EQ(std::string(path).substr(std::string(path).rfind('\\') + 1), "win32_platform_test.exe");

  char same[platform::kMaxPath] = {};
  EXPECT_EQ(platform::GetModuleFileNameA(host, same, sizeof same), length);
  EXPECT_STREQ(same, path);
}

TEST(Win32ModuleTest, CutPathReturnsTheSize) {
  char full[platform::kMaxPath] = {};
  ASSERT_GT(platform::GetModuleFileNameA(nullptr, full, sizeof full), 8u);
  char cut[8];
  std::memset(cut, 'x', sizeof cut);
  // size - 1 characters, a NUL, and the size as the result, which is
  // nonzero like a success. Windows XP and Wine 8 write `size` characters
  // and no NUL; the backend adds it, as Vista and later do.
  EXPECT_EQ(platform::GetModuleFileNameA(nullptr, cut, sizeof cut), sizeof cut);
  EXPECT_EQ(std::string(cut, sizeof cut - 1), std::string(full, sizeof cut - 1));
  EXPECT_EQ(cut[sizeof cut - 1], '\0');
}

TEST(Win32ModuleTest, VirtualQueryFindsTheImageOfCode) {
  platform::MemoryBasicInformation info{};
  const void* code = reinterpret_cast<const void*>(&RunsUnderWine);
  ASSERT_NE(platform::VirtualQuery(code, &info, sizeof info), 0u);
  // Code of the executable: the allocation base is its module handle.
  EXPECT_EQ(static_cast<platform::ModuleHandle>(info.AllocationBase),
            platform::GetModuleHandleA(nullptr));

  // Code of a system DLL: that DLL's handle, not the executable's.
  const HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
  const void* api = reinterpret_cast<const void*>(::GetProcAddress(kernel32, "GetTickCount"));
  ASSERT_NE(platform::VirtualQuery(api, &info, sizeof info), 0u);
  EXPECT_EQ(static_cast<platform::ModuleHandle>(info.AllocationBase), kernel32);
}

TEST(Win32ModuleTest, VirtualQueryFailsAboveTheUserSpace) {
  SYSTEM_INFO system;
  ::GetSystemInfo(&system);
  const auto* beyond = static_cast<const char*>(system.lpMaximumApplicationAddress) + 1;
  platform::MemoryBasicInformation info{};
  EXPECT_EQ(platform::VirtualQuery(beyond, &info, sizeof info), 0u);
}

// --- Temporary folder and files -------------------------------------------------

bool IsFolder(const std::string& path) {
  const std::uint32_t attributes = platform::GetFileAttributesA(path.c_str());
  return attributes != platform::kInvalidFileAttributes &&
         (attributes & platform::kFileAttributeDirectory) != 0;
}

std::string TempFolder() {
  char buffer[platform::kMaxPath] = {};
  const std::uint32_t length = platform::GetTempPathA(sizeof buffer, buffer);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

// A fresh folder under the temporary folder, removed with its contents.
class TempTree : public testing::Test {
 protected:
  void SetUp() override {
    const std::string temp = TempFolder();
    ASSERT_FALSE(temp.empty());
    root_ = temp + "devicecode win32 test " + std::to_string(::GetCurrentProcessId()) + "\\";
    ASSERT_NE(platform::CreateDirectoryA(root_.c_str()), 0) << root_;
  }
  void TearDown() override { Remove(root_); }
  static void Remove(const std::string& folder) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
  }
  std::string root_;
};

TEST(Win32TempPathTest, FolderEndsWithBackslashAndExists) {
  char buffer[platform::kMaxPath];
  std::memset(buffer, 'x', sizeof buffer);
  const std::uint32_t length = platform::GetTempPathA(sizeof buffer, buffer);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, sizeof buffer);
  EXPECT_EQ(length, std::strlen(buffer));
  EXPECT_EQ(buffer[length - 1], '\\');
  EXPECT_TRUE(IsFolder(buffer)) << buffer;
}

TEST(Win32TempPathTest, TooSmallAsksForMore) {
  const std::string temp = TempFolder();
  ASSERT_FALSE(temp.empty());
  char buffer[platform::kMaxPath] = "[S1P42]->";
  // The result exceeds the size given: a caller must compare it with the
  // size, not only test it for nonzero. What the buffer then holds differs
  // between Windows versions (some clear it, some leave it), so it is not
  // checked.
  EXPECT_GT(platform::GetTempPathA(4, buffer), temp.size());
}

TEST_F(TempTree, LongFormOfAShortName) {
  const std::string longFolder = root_ + "a folder with a long name\\";
  ASSERT_NE(platform::CreateDirectoryA(longFolder.c_str()), 0);
  char path[platform::kMaxPath] = {};
  ASSERT_GT(::GetShortPathNameA(longFolder.c_str(), path, sizeof path), 0u);
  ASSERT_EQ(std::string(path).find("a folder with a long name"), std::string::npos)
      << "no 8.3 name: " << path;

  // Source and target are the same buffer, as the log environment uses it.
  const std::uint32_t length = platform::GetLongPathNameA(path, path, sizeof path);
  EXPECT_EQ(length, longFolder.size());
  EXPECT_EQ(std::string(path), longFolder);
}

TEST_F(TempTree, LongFormOfTheTemporaryFolder) {
  char path[platform::kMaxPath] = {};
  ASSERT_GT(platform::GetTempPathA(sizeof path, path), 0u);
  const std::string before = path;
  ASSERT_GT(platform::GetLongPathNameA(path, path, sizeof path), 0u);
  EXPECT_EQ(path[std::strlen(path) - 1], '\\');
  EXPECT_TRUE(IsFolder(path));
  // Already long: nothing to expand, except for case on a case-insensitive
  // file system.
  EXPECT_EQ(::lstrcmpiA(path, before.c_str()), 0);
}

TEST_F(TempTree, LongFormOfNothingFailsAndLeavesTheText) {
  char path[platform::kMaxPath] = {};
  const std::string missing = root_ + "MISSIN~1\\";
  std::strcpy(path, missing.c_str());
  EXPECT_EQ(platform::GetLongPathNameA(path, path, sizeof path), 0u);
  EXPECT_EQ(std::string(path), missing);
}

TEST_F(TempTree, CreateDirectoryMakesOneLevel) {
  const std::string child = root_ + "Logs\\";
  EXPECT_NE(platform::CreateDirectoryA(child.c_str()), 0);
  EXPECT_TRUE(IsFolder(child));
  // Existing: fails, and nothing changes.
  EXPECT_EQ(platform::CreateDirectoryA(child.c_str()), 0);
  EXPECT_TRUE(IsFolder(child));
  // Two missing levels: not made.
  const std::string deep = root_ + "a\\b\\";
  EXPECT_EQ(platform::CreateDirectoryA(deep.c_str()), 0);
  EXPECT_FALSE(IsFolder(root_ + "a\\"));
  // A ".." segment is resolved by the file system, not by the caller.
  const std::string dated = root_ + "Logs\\..\\Logs\\2024-03-05\\";
  EXPECT_NE(platform::CreateDirectoryA(dated.c_str()), 0);
  EXPECT_TRUE(IsFolder(root_ + "Logs\\2024-03-05"));
}

TEST_F(TempTree, FileAttributes) {
  ::CreateDirectoryA((root_ + "Config").c_str(), nullptr);
  WriteFile(root_ + "Logs", "a file, not a folder");
  struct Case {
    const char* name;
    std::string path;
    bool exists;
    bool folder;
  };
  const Case cases[] = {
      {"Folder", root_ + "Config", true, true},
      {"FolderWithBackslash", root_ + "Config\\", true, true},
      {"ThroughParentSegment", root_ + "Config\\..\\Config\\", true, true},
      {"File", root_ + "Logs", true, false},
      {"Missing", root_ + "Missing\\", false, false},
      // Win32 collapses ".." in the text before it looks at the disk, so
      // a missing folder before ".." does not matter (as on Windows).
      {"MissingBeforeParentSegment", root_ + "Missing\\..\\Config\\", true, true},
      {"MissingAfterParentSegment", root_ + "Config\\..\\Missing\\", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint32_t attributes = platform::GetFileAttributesA(c.path.c_str());
    EXPECT_EQ(attributes != platform::kInvalidFileAttributes, c.exists);
    if (c.exists) {
      EXPECT_EQ((attributes & platform::kFileAttributeDirectory) != 0, c.folder);
    }
  }
}

// The INI table that the Linux backend's reader passes, here against the
// real GetPrivateProfileIntA. Each case gets a file of its own: Wine caches
// a profile by name and write time.
TEST_F(TempTree, ProfileIntReadsTheIniTable) {
  int index = 0;
  for (const auto& c : testing_support::kIniCases) {
    const std::string path = root_ + "case" + std::to_string(index++) + ".ini";
    WriteFile(path, std::string(c.text));
    EXPECT_EQ(platform::GetPrivateProfileIntA("Common", "LogLevel", testing_support::kIniDefault,
                                              path.c_str()),
              c.expected)
        << c.name;
  }
}

TEST_F(TempTree, ProfileIntWithoutAFileGivesTheDefault) {
  const std::string missing = root_ + "OrvenOption.ini";
  EXPECT_EQ(platform::GetPrivateProfileIntA("Common", "LogLevel", 500, missing.c_str()), 500u);
  EXPECT_EQ(platform::GetPrivateProfileIntA("Common", "LogLevel", -1, missing.c_str()),
            4294967295u);
  // Reading created nothing.
  EXPECT_EQ(platform::GetFileAttributesA(missing.c_str()), platform::kInvalidFileAttributes);
}

// The tool's inspection mode over the real calls: the given paths stand for
// the host's and the library's modules, no folder is made, the INI files read
// are noted; cleared, every call is the system's again.
TEST_F(TempTree, InspectionAnswersForTheModulesAndCreatesNothing) {
  const std::string ini = root_ + "plugin.ini";
  WriteFile(ini, "[Common]\r\nLogLevel=700\r\n");
  const std::string folder = root_ + "Logs";
  platform::Inspection inspection;
  inspection.hostPath = "C:\\Host\\bin\\host.exe";
  inspection.libraryPath = "C:\\Host\\plugins\\dev\\devicecode.dll";
  platform::SetInspection(&inspection);
  char path[platform::kMaxPath] = {};
  const std::uint32_t hostLength = platform::GetModuleFileNameA(nullptr, path, sizeof path);
  const std::string host = path;
  platform::MemoryBasicInformation info{};
  const std::size_t queried =
      platform::VirtualQuery(reinterpret_cast<const void*>(&RunsUnderWine), &info, sizeof info);
  const auto library = static_cast<platform::ModuleHandle>(info.AllocationBase);
  const std::uint32_t libraryLength = platform::GetModuleFileNameA(library, path, sizeof path);
  const std::string libraryPath = path;
  char cut[8];
  const std::uint32_t cutLength = platform::GetModuleFileNameA(nullptr, cut, sizeof cut);
  const int created = platform::CreateDirectoryA(folder.c_str());
  const std::uint32_t level =
      platform::GetPrivateProfileIntA("Common", "LogLevel", 400, ini.c_str());
  platform::SetInspection(nullptr);

  EXPECT_EQ(host, inspection.hostPath);
  EXPECT_EQ(hostLength, inspection.hostPath.size());
  ASSERT_NE(queried, 0u);
  EXPECT_NE(library, nullptr);
  EXPECT_NE(library, platform::GetModuleHandleA(nullptr));
  EXPECT_EQ(libraryPath, inspection.libraryPath);
  EXPECT_EQ(libraryLength, inspection.libraryPath.size());
  EXPECT_EQ(cutLength, sizeof cut);  // cut as the real call cuts
  EXPECT_EQ(std::string(cut), inspection.hostPath.substr(0, sizeof cut - 1));
  EXPECT_NE(created, 0);
  EXPECT_FALSE(IsFolder(folder));
  EXPECT_EQ(level, 700u);
  EXPECT_EQ(inspection.profilesRead, std::vector<std::string>{ini});

  // Cleared: the real module, a real folder.
  ASSERT_GT(platform::GetModuleFileNameA(nullptr, path, sizeof path), 0u);
  EXPECT_NE(std::string(path), inspection.hostPath);
  EXPECT_NE(platform::CreateDirectoryA(folder.c_str()), 0);
  EXPECT_TRUE(IsFolder(folder));
  platform::GetPrivateProfileIntA("Common", "LogLevel", 400, ini.c_str());
  EXPECT_EQ(inspection.profilesRead.size(), 1u);
}

// --- Shell path ------------------------------------------------

TEST(Win32PathTest, RemoveFileSpec) {
  struct Case {
    const char* path;
    const char* expected;
    bool removed;
  };
  const Case cases[] = {
      {"C:\\Host\\plugins\\dev\\lib.dll", "C:\\Host\\plugins\\dev", true},
      {"C:\\lib.dll", "C:\\", true},
      {"C:\\", "C:\\", false},
      {"lib.dll", "", true},
      {"\\\\server\\share\\lib.dll", "\\\\server\\share", true},
      {"", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    char buffer[platform::kMaxPath] = {};
    std::strcpy(buffer, c.path);
    EXPECT_EQ(platform::PathRemoveFileSpecA(buffer) != 0, c.removed);
    EXPECT_STREQ(buffer, c.expected);
  }
}

}  // namespace
