// devicecode.dll as a host uses it: plugin_host.exe copied to Host\bin\host.exe
// loads Host\plugins\dev\devicecode.dll, which has nothing beside it, in a
// process of its own. Checked against what this test computes itself: the
// code from the adapter list GetAdaptersInfo gives here, and the log tree
// (Logs one level up, Config two levels up, the day's folder, host.log).
#include <windows.h>
// IP Helper's header needs the Windows types first.
#include <iphlpapi.h>
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "win32_test_files.h"

namespace {

using namespace testing_support;

// The code by the documented rules, from this process's own call: the first
// adapter whose description names no virtual or VMware adapter and whose
// address has a non-zero byte; else the first with an IPv4 context (the last
// one even without) and a non-zero address; the MD5 of the address's
// upper-case hex digits.
std::string IndependentCode() {
  ULONG size = 0;
  std::vector<IP_ADAPTER_INFO> buffer(1);
  if (::GetAdaptersInfo(nullptr, &size) == ERROR_BUFFER_OVERFLOW) {
    buffer.resize(size / sizeof(IP_ADAPTER_INFO) + 1);
    size = static_cast<ULONG>(buffer.size() * sizeof(IP_ADAPTER_INFO));
    if (::GetAdaptersInfo(buffer.data(), &size) != NO_ERROR) size = 0;
  }
  std::vector<const IP_ADAPTER_INFO*> adapters;
  for (const IP_ADAPTER_INFO* a = size != 0 ? buffer.data() : nullptr; a != nullptr; a = a->Next) {
    adapters.push_back(a);
  }
  auto length = [](const IP_ADAPTER_INFO* a) { return std::min<UINT>(a->AddressLength, 8); };
  auto usable = [&](const IP_ADAPTER_INFO* a) {
    return std::any_of(a->Address, a->Address + length(a), [](BYTE b) { return b != 0; });
  };
  auto isVirtual = [](const IP_ADAPTER_INFO* a) {
    std::string description = a->Description;
    for (char& c : description) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return description.find("virtual") != std::string::npos ||
           description.find("vmware") != std::string::npos;
  };
  const IP_ADAPTER_INFO* chosen = nullptr;
  for (const auto* a : adapters) {
    if (!isVirtual(a) && usable(a)) {
      chosen = a;
      break;
    }
  }
  for (std::size_t i = 0; chosen == nullptr && i < adapters.size(); ++i) {
    const bool candidate = adapters[i]->IpAddressList.Context != 0 || i + 1 == adapters.size();
    if (candidate && usable(adapters[i])) chosen = adapters[i];
  }
  std::string text;
  char hex[3];
  for (UINT i = 0; chosen != nullptr && i < length(chosen); ++i) {
    std::snprintf(hex, sizeof hex, "%02X", chosen->Address[i]);
    text += hex;
  }
  // Through EVP, not the library's MD5_* calls.
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  EVP_Digest(text.data(), text.size(), digest, &digestLength, EVP_md5(), nullptr);
  std::string code;
  for (unsigned int i = 0; i < digestLength; ++i) {
    std::snprintf(hex, sizeof hex, "%02X", digest[i]);
    code += hex;
  }
  return code;
}

struct HostRun {
  DWORD status = 0;
  DWORD processId = 0;
  std::vector<std::string> output;  // lines, without line ends
};

// root\Host\bin\host.exe and root\Host\plugins\dev\devicecode.dll, alone.
class HostTest : public testing::Test {
 protected:
  void SetUp() override {
    static int count = 0;
    root_ = LongTempFolder() + "devicecode host " + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(++count) + "\\";
    for (const char* folder : {"", "Host", "Host\\bin", "Host\\plugins", "Host\\plugins\\dev"}) {
      MakeFolder(folder);
    }
    ASSERT_TRUE(::CopyFileA((ExecutableFolder() + "plugin_host.exe").c_str(),
                            (root_ + "Host\\bin\\host.exe").c_str(), TRUE));
    ASSERT_TRUE(::CopyFileA((ExecutableFolder() + "devicecode.dll").c_str(),
                            (root_ + kLibraryFolder + "devicecode.dll").c_str(), TRUE));
  }
  void TearDown() override { RemoveTree(root_); }

  void MakeFolder(const std::string& relative) {
    ASSERT_TRUE(::CreateDirectoryA((root_ + relative).c_str(), nullptr)) << relative;
  }
  void WriteFile(const std::string& relative, const std::string& content) {
    WriteAll(root_ + relative, content);
  }
  std::string LogFile() const { return root_ + "Host\\plugins\\Logs\\" + Today() + "\\host.log"; }

  HostRun Run(int threads, int calls) {
    HostRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!::CreatePipe(&read, &write, &inherit, 0)) {
      ADD_FAILURE() << "CreatePipe: " << ::GetLastError();
      return run;
    }
    ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    const std::string host = root_ + "Host\\bin\\host.exe";
    std::string command =
        "\"" + host + "\" " + std::to_string(threads) + " " + std::to_string(calls);
    PROCESS_INFORMATION process = {};
    const BOOL started =
        ::CreateProcessA(host.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         (root_ + "Host\\bin").c_str(), &startup, &process);
    ::CloseHandle(write);
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (started && ::ReadFile(read, chunk, sizeof chunk, &got, nullptr) && got > 0) {
      text.append(chunk, got);
    }
    ::CloseHandle(read);
    if (!started) {
      ADD_FAILURE() << "CreateProcessA: " << ::GetLastError();
      return run;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::GetExitCodeProcess(process.hProcess, &run.status);
    run.processId = process.dwProcessId;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
      run.output.push_back(text.substr(start, end - start));
    }
    return run;
  }

  static constexpr char kLibraryFolder[] = "Host\\plugins\\dev\\";
  std::string root_;
};

// Counts the Begin and End lines of a log file's text, failing on any line
// that is not one of them, whole, as the host with this process id writes it.
struct LineCount {
  std::size_t begins = 0, ends = 0;
};
LineCount CountRequestLines(const std::string& text, DWORD processId) {
  const std::string middle =
      ": INFO " + CategoryPrefix(processId) + "host.exe->devicecode.dll: [GetDeviceCode]\xA3\xBA ";
  LineCount count;
  std::size_t bad = 0, start = 0, lines = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    ++lines;
    const std::string line = text.substr(start, end - start);
    // "2026-12-11 16:50:00,123" and the rest.
    const bool stamped = line.size() > 23 && line[4] == '-' && line[10] == ' ' && line[19] == ',';
    const std::string rest = stamped ? line.substr(23) : "";
    if (rest == middle + "Begin") {
      ++count.begins;
    } else if (rest == middle + "End") {
      ++count.ends;
    } else if (++bad <= 3) {
      ADD_FAILURE() << "torn or foreign line: " << line;
    }
  }
  EXPECT_EQ(start, text.size()) << "text after the last CR LF";
  EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), lines)
      << "a line end that is not CR LF";
  return count;
}

TEST_F(HostTest, TheCodeOfThisMachinesAdapterList) {
  const HostRun run = Run(1, 1);
  ASSERT_EQ(run.status, 0u);
  ASSERT_EQ(run.output.size(), 2u);
  EXPECT_EQ(run.output[0], "same addresses");
  EXPECT_EQ(run.output[1], IndependentCode());
}

TEST_F(HostTest, LogTreeWithTheLevelOfBothFiles) {
  struct Case {
    const char* name;
    const char* optionLevel;  // Host\Config\OrvenOption.ini, or none
    const char* pluginLevel;  // plugin.ini beside the DLL, or none
    bool linesWritten;
  };
  const Case cases[] = {
      {"Defaults", nullptr, nullptr, false},     {"OptionFile600", "600", nullptr, true},
      {"PluginIni600", nullptr, "600", true},    {"Both599", "599", "599", false},
      {"TheLargerOfTheTwo", "100", "700", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    ASSERT_NO_FATAL_FAILURE(SetUp());
    MakeFolder("Host\\plugins\\Logs");
    MakeFolder("Host\\Config");
    if (c.optionLevel != nullptr) {
      WriteFile("Host\\Config\\OrvenOption.ini",
                std::string("[Common]\r\nLogLevel=") + c.optionLevel + "\r\n");
    }
    if (c.pluginLevel != nullptr) {
      WriteFile(std::string(kLibraryFolder) + "plugin.ini",
                std::string("[Common]\r\nLogLevel=") + c.pluginLevel + "\r\n");
    }
    const HostRun run = Run(1, 3);
    ASSERT_EQ(run.status, 0u);
    const LineCount count = CountRequestLines(ReadAll(LogFile()), run.processId);
    EXPECT_EQ(count.begins, c.linesWritten ? 3u : 0u);
    EXPECT_EQ(count.ends, count.begins);
  }
}

TEST_F(HostTest, RollsOverAtOneMebibyte) {
  constexpr std::size_t kRollSize = 1048576;
  MakeFolder("Host\\plugins\\Logs");
  MakeFolder("Host\\plugins\\Logs\\" + Today());
  WriteFile(std::string(kLibraryFolder) + "plugin.ini", "[Common]\r\nLogLevel=600\r\n");
  // A log 50 bytes short of the limit: the first line (over 80 bytes) crosses it.
  const std::string earlier(kRollSize - 50, 'x');
  WriteAll(LogFile(), earlier);

  const HostRun run = Run(1, 1);
  ASSERT_EQ(run.status, 0u);
  const std::string rolled = ReadAll(LogFile() + ".1");
  ASSERT_GE(rolled.size(), kRollSize);
  EXPECT_LT(rolled.size(), kRollSize + 200);
  const LineCount first = CountRequestLines(rolled.substr(earlier.size()), run.processId);
  const LineCount second = CountRequestLines(ReadAll(LogFile()), run.processId);
  EXPECT_EQ(first.begins, 1u);
  EXPECT_EQ(first.ends, 0u);
  EXPECT_EQ(second.begins, 0u);
  EXPECT_EQ(second.ends, 1u);
}

TEST_F(HostTest, EightThreadsOneCodeWholeLines) {
  constexpr int kThreads = 8, kCalls = 25;
  MakeFolder("Host\\plugins\\Logs");
  WriteFile(std::string(kLibraryFolder) + "plugin.ini", "[Common]\r\nLogLevel=600\r\n");

  const HostRun run = Run(kThreads, kCalls);
  ASSERT_EQ(run.status, 0u);
  ASSERT_EQ(run.output.size(), 2u) << "one code from every call";
  EXPECT_EQ(run.output[1], IndependentCode());
  const LineCount count = CountRequestLines(ReadAll(LogFile()), run.processId);
  EXPECT_EQ(count.begins, static_cast<std::size_t>(kThreads * kCalls));
  EXPECT_EQ(count.ends, count.begins);
}

}  // namespace
