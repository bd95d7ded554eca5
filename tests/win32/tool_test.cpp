// devicecode.exe as support staff run it on a Windows machine: copied with
// devicecode.dll into a folder of its own and run in a process of its own.
// Its code, statuses and report are checked against the DLL loaded here and
// this process's own GetAdaptersInfo call; --explain against a host's folder
// tree, which it must leave as it was.
#include <windows.h>
// IP Helper's header needs the Windows types first.
#include <iphlpapi.h>
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "devicecode.h"
#include "win32_test_files.h"

namespace {

using namespace testing_support;

struct ToolRun {
  DWORD status = 0;
  std::string out;  // CR LF made LF
  std::string err;
};

std::string WithoutCarriageReturns(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

std::string ReadPipe(HANDLE pipe) {
  std::string text;
  char chunk[4096];
  DWORD got = 0;
  while (::ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  return text;
}

// Runs `program` with `arguments` (each quoted) in `folder`.
ToolRun RunTool(const std::string& program, const std::vector<std::string>& arguments,
                const std::string& folder) {
  ToolRun run;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!::CreatePipe(&outRead, &outWrite, &inherit, 0) ||
      !::CreatePipe(&errRead, &errWrite, &inherit, 1 << 16)) {
    ADD_FAILURE() << "CreatePipe: " << ::GetLastError();
    return run;
  }
  ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  std::string command = "\"" + program + "\"";
  for (const std::string& argument : arguments) command += " \"" + argument + "\"";
  PROCESS_INFORMATION process = {};
  const BOOL started = ::CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, folder.c_str(), &startup, &process);
  ::CloseHandle(outWrite);
  ::CloseHandle(errWrite);
  // The tool's stderr is a line or two: it fits the pipe while stdout is read.
  if (started) run.out = WithoutCarriageReturns(ReadPipe(outRead));
  if (started) run.err = WithoutCarriageReturns(ReadPipe(errRead));
  ::CloseHandle(outRead);
  ::CloseHandle(errRead);
  if (!started) {
    ADD_FAILURE() << "CreateProcessA " << program << ": " << ::GetLastError();
    return run;
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  ::GetExitCodeProcess(process.hProcess, &run.status);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return run;
}

// The code of the DLL built beside this test, loaded into this process.
std::string DllCode() {
  const HMODULE dll = ::LoadLibraryA((ExecutableFolder() + "devicecode.dll").c_str());
  if (dll == nullptr) return "(devicecode.dll not loaded)";
  const auto getDeviceCode = reinterpret_cast<GetDeviceCodeFunction>(
      reinterpret_cast<void*>(::GetProcAddress(dll, "GetDeviceCode")));
  const auto freeBuffer = reinterpret_cast<FreeBufferFunction>(
      reinterpret_cast<void*>(::GetProcAddress(dll, "FreeBuffer")));
  std::string code = "(no code)";
  if (char* buffer =
          getDeviceCode != nullptr && freeBuffer != nullptr ? getDeviceCode() : nullptr) {
    code = buffer;
    freeBuffer(buffer);
  }
  ::FreeLibrary(dll);
  return code;
}

// This process's adapter records, in list order.
std::vector<IP_ADAPTER_INFO> Adapters() {
  ULONG size = 0;
  std::vector<IP_ADAPTER_INFO> buffer(1);
  if (::GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW) return {};
  buffer.resize(size / sizeof(IP_ADAPTER_INFO) + 1);
  size = static_cast<ULONG>(buffer.size() * sizeof(IP_ADAPTER_INFO));
  if (::GetAdaptersInfo(buffer.data(), &size) != NO_ERROR) return {};
  std::vector<IP_ADAPTER_INFO> adapters;
  for (const IP_ADAPTER_INFO* a = buffer.data(); a != nullptr; a = a->Next) adapters.push_back(*a);
  return adapters;
}

std::string Hex(const unsigned char* bytes, std::size_t length) {
  std::string text;
  char hex[3];
  for (std::size_t i = 0; i < length; ++i) {
    std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
    text += hex;
  }
  return text;
}

// MD5 through OpenSSL's EVP, not the library's calls.
std::string Md5Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
  return Hex(digest, length);
}

// Every file and folder under `root`, with each file's size.
std::map<std::string, std::uintmax_t> ListTree(const std::string& root) {
  std::map<std::string, std::uintmax_t> tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    tree[entry.path().string()] = entry.is_regular_file() ? entry.file_size() : 0;
  }
  return tree;
}

// root\Tool\devicecode.exe and devicecode.dll; the root's name has a blank.
class ToolTest : public testing::Test {
 protected:
  void SetUp() override {
    static int count = 0;
    root_ = LongTempFolder() + "devicecode tool " + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(++count) + "\\";
    ASSERT_TRUE(::CreateDirectoryA(root_.c_str(), nullptr));
    MakeFolder("Tool");
    CopyBuilt("devicecode.exe", "Tool\\devicecode.exe");
    CopyBuilt("devicecode.dll", "Tool\\devicecode.dll");
  }
  void TearDown() override { RemoveTree(root_); }

  void MakeFolder(const std::string& relative) {
    ASSERT_TRUE(::CreateDirectoryA((root_ + relative).c_str(), nullptr)) << relative;
  }
  void CopyBuilt(const std::string& name, const std::string& relative) {
    ASSERT_TRUE(::CopyFileA((ExecutableFolder() + name).c_str(), (root_ + relative).c_str(), TRUE))
        << name;
  }
  ToolRun Run(const std::vector<std::string>& arguments) {
    return RunTool(root_ + "Tool\\devicecode.exe", arguments, root_);
  }
  nlohmann::json Report(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> arguments = {"--explain", "--json"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const ToolRun run = Run(arguments);
    EXPECT_EQ(run.status, 0u) << run.err;
    return nlohmann::json::parse(run.out, nullptr, /*allow_exceptions=*/false);
  }

  std::string root_;
};

TEST_F(ToolTest, PrintsTheCodeTheDllReturns) {
  const ToolRun run = Run({});
  ASSERT_EQ(run.status, 0u) << run.err;
  EXPECT_EQ(run.out, DllCode() + "\n");
  // Nothing on stderr but, on a machine with a weak code, its one warning.
  EXPECT_TRUE(run.err.empty() || run.err.rfind("devicecode: warning: ", 0) == 0) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), run.err.empty() ? 0 : 1);
}

// Whether `text` starts with `start`; an empty `start` asks for no text.
bool Starts(const std::string& text, const char* start) {
  return *start == '\0' ? text.empty() : text.rfind(start, 0) == 0;
}

TEST_F(ToolTest, OptionsAndUsageStatuses) {
  struct Case {
    std::vector<std::string> arguments;
    DWORD status;
    const char* outStart;  // on stdout, or "" for nothing
    const char* errStart;  // on stderr, or "" for nothing
  };
  const Case cases[] = {
      {{"--version"}, 0, "devicecode " DEVICECODE_VERSION "\n", ""},
      {{"--help"}, 0, "Usage: devicecode [OPTION]...\n", ""},
      {{"--bogus"}, 2, "", "devicecode: unknown option '--bogus'"},
      {{"--json"}, 2, "", "devicecode: --json needs --explain"},
      {{"--match", "XYZ"}, 2, "", "devicecode: --match needs a device code"},
      {{"--explain", "--host", "no such host.exe"}, 6, "", "devicecode: cannot read host"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0] + (c.arguments.size() > 1 ? " " + c.arguments[1] : ""));
    const ToolRun run = Run(c.arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(Starts(run.out, c.outStart)) << run.out;
    EXPECT_TRUE(Starts(run.err, c.errStart)) << run.err;
  }
  // The help names the default plug-in as it is on Windows.
  EXPECT_NE(Run({"--help"}).out.find("devicecode.dll relative to this tool's real folder"),
            std::string::npos);
}

// A plug-in that is missing, no DLL, a folder, or a DLL without the two
// exports is refused with status 3 in both modes, on one line naming it.
TEST_F(ToolTest, RefusesAMissingOrForeignLibrary) {
  WriteAll(root_ + "notes.txt", "not a DLL\r\n");
  MakeFolder("folder.dll");
  CopyBuilt("log_probe.dll", "foreign.dll");
  struct Case {
    const char* library;
    const char* reason;  // a part of the error line
  };
  const Case cases[] = {
      {"missing.dll", "cannot load plug-in missing.dll: "},
      {"notes.txt", "cannot load plug-in notes.txt: "},
      {"folder.dll", "cannot load plug-in folder.dll: is a folder"},
      {"foreign.dll", "cannot load plug-in foreign.dll: does not export GetDeviceCode"},
  };
  for (const Case& c : cases) {
    for (const bool explain : {false, true}) {
      SCOPED_TRACE(std::string(c.library) + (explain ? " --explain" : ""));
      std::vector<std::string> arguments = {"--library", c.library};
      if (explain) arguments.push_back("--explain");
      const ToolRun run = Run(arguments);
      EXPECT_EQ(run.status, 3u);
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err.rfind("devicecode: ", 0), 0u) << run.err;
      EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
  }
  // Without --library: the DLL beside the tool, and none there is status 3.
  ASSERT_TRUE(::DeleteFileA((root_ + "Tool\\devicecode.dll").c_str()));
  const ToolRun run = Run({});
  EXPECT_EQ(run.status, 3u);
  EXPECT_NE(run.err.find(root_ + "Tool\\devicecode.dll"), std::string::npos) << run.err;
}

TEST_F(ToolTest, ExplainAgreesWithTheDllAndTheAdapterList) {
  const nlohmann::json report = Report();
  ASSERT_TRUE(report.is_object());
  const std::string code = DllCode();
  EXPECT_EQ(report["deviceCode"], code);
  EXPECT_EQ(Md5Hex(report["hardwareAddressText"].get<std::string>()), code);

  const std::vector<IP_ADAPTER_INFO> adapters = Adapters();
  ASSERT_EQ(report["adapters"].size(), adapters.size());
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    SCOPED_TRACE(i);
    const nlohmann::json& entry = report["adapters"][i];
    EXPECT_EQ(entry["interfaceName"], std::string(adapters[i].AdapterName));
    EXPECT_EQ(entry["description"], std::string(adapters[i].Description));
    EXPECT_EQ(entry["address"],
              Hex(adapters[i].Address, std::min<std::size_t>(adapters[i].AddressLength, 8)));
  }
  if (report["chosenIndex"].is_null()) {
    EXPECT_EQ(report["hardwareAddressText"], "");
  } else {
    const auto chosen = report["chosenIndex"].get<std::size_t>();
    ASSERT_LT(chosen, adapters.size());
    EXPECT_EQ(report["hardwareAddressText"], report["adapters"][chosen]["address"]);
    EXPECT_EQ(report["adapters"][chosen][report["strategy"].get<std::string>()]["code"], "chosen");
  }
  // The tool's own default host and library.
  EXPECT_EQ(report["log"]["host"], root_ + "Tool\\devicecode.exe");
  EXPECT_EQ(report["log"]["library"], root_ + "Tool\\devicecode.dll");
}

TEST_F(ToolTest, MatchNamesTheChosenAdapter) {
  const nlohmann::json report = Report();
  ASSERT_TRUE(report.is_object());
  std::string code = DllCode();
  std::transform(code.begin(), code.end(), code.begin(), [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  });
  const ToolRun run = Run({"--match", code});
  if (report["chosenIndex"].is_null()) {
    EXPECT_EQ(run.status, 0u);
    EXPECT_NE(run.out.find("no adapter qualifies"), std::string::npos) << run.out;
  } else {
    const nlohmann::json& chosen = report["adapters"][report["chosenIndex"].get<std::size_t>()];
    EXPECT_EQ(run.status, 0u) << run.err;
    EXPECT_NE(run.out.find("is the code of adapter " + std::to_string(chosen["index"].get<int>()) +
                           " (" + chosen["description"].get<std::string>() + "), address " +
                           chosen["address"].get<std::string>() + "; it is the adapter chosen now"),
              std::string::npos)
        << run.out;
  }
  const ToolRun none = Run({"--match", std::string(32, '0')});
  EXPECT_EQ(none.status, 1u);
  EXPECT_NE(none.out.find("is the code of no adapter of this machine"), std::string::npos);
}

// --explain for a host in Host\bin and the plug-in in Host\plugins\dev: the
// log's folders and levels come out of the tree, which stays as it was (no
// day's folder, no log file), in both forms.
TEST_F(ToolTest, ExplainReportsAHostTreeAndCreatesNothing) {
  struct Case {
    const char* name;
    bool logsAndConfig;  // Host\plugins\Logs and Host\Config\OrvenOption.ini
  };
  for (const Case c : {Case{"LogsAndConfig", true}, Case{"Bare", false}}) {
    SCOPED_TRACE(c.name);
    TearDown();
    ASSERT_NO_FATAL_FAILURE(SetUp());
    for (const char* folder : {"Host", "Host\\bin", "Host\\plugins", "Host\\plugins\\dev"}) {
      MakeFolder(folder);
    }
    CopyBuilt("plugin_host.exe", "Host\\bin\\host.exe");
    CopyBuilt("devicecode.dll", "Host\\plugins\\dev\\devicecode.dll");
    WriteAll(root_ + "Host\\plugins\\dev\\plugin.ini", "[Common]\r\nLogLevel=100\r\n");
    if (c.logsAndConfig) {
      MakeFolder("Host\\plugins\\Logs");
      MakeFolder("Host\\Config");
      WriteAll(root_ + "Host\\Config\\OrvenOption.ini", "[Common]\r\nLogLevel=600\r\n");
    }
    const std::string host = root_ + "Host\\bin\\host.exe";
    const std::string library = root_ + "Host\\plugins\\dev\\devicecode.dll";
    const auto before = ListTree(root_);

    const nlohmann::json report = Report({"--host", host, "--library", library});
    ASSERT_TRUE(report.is_object());
    const nlohmann::json& log = report["log"];
    EXPECT_EQ(log["host"], host);
    EXPECT_EQ(log["library"], library);
    const std::string category = log["categoryName"];
    EXPECT_EQ(category.substr(category.find("]->")), "]->host.exe->devicecode.dll");
    EXPECT_EQ(log["baseFolder"], root_ + "Host\\plugins\\dev\\");
    EXPECT_EQ(log["logFileName"], "host.log");
    const std::string pluginIni = root_ + "Host\\plugins\\dev\\plugin.ini";
    if (c.logsAndConfig) {
      // Found by steps up from the library's folder, which stay in the path.
      const std::string dev = root_ + "Host\\plugins\\dev\\";
      const std::string logFolder = dev + "..\\Logs\\" + Today() + "\\";
      EXPECT_EQ(log["logFolder"], logFolder);
      EXPECT_EQ(log["configFolder"], dev + "..\\..\\Config\\");
      EXPECT_EQ(log["iniFilesRead"],
                nlohmann::json({dev + "..\\..\\Config\\OrvenOption.ini", pluginIni}));
      EXPECT_EQ(log["combinedLogLevel"], 600);
      EXPECT_EQ(log["requestLinesWritten"], true);
      EXPECT_EQ(log["logFiles"][0], logFolder + "host.log");
      EXPECT_EQ(log["foldersToCreate"], nlohmann::json({logFolder}));
    } else {
      // No Logs folder: beside the library. (The option file may be found
      // in the temporary folder, which other tests share.)
      EXPECT_EQ(log["logFolder"], root_ + "Host\\plugins\\dev\\");
      EXPECT_EQ(log["iniFilesRead"].back(), pluginIni);
      EXPECT_EQ(log["foldersToCreate"], nlohmann::json::array());
    }

    const ToolRun text = Run({"--explain", "--host", host, "--library", library});
    EXPECT_EQ(text.status, 0u) << text.err;
    EXPECT_NE(text.out.find("  library            " + library + "\n"), std::string::npos)
        << text.out;
    EXPECT_EQ(ListTree(root_), before);
  }
}

// A path byte that is not UTF-8 (an ANSI code page's letter) is escaped in
// the text, and U+FFFD in the JSON, as on Linux.
TEST_F(ToolTest, PathBytesOutsideUtf8AreEscaped) {
  if (::GetACP() != 1252) GTEST_SKIP() << "needs the ANSI code page 1252, not " << ::GetACP();
  const std::string host = root_ + "caf\xE9 host.exe";
  ASSERT_TRUE(::CopyFileA((ExecutableFolder() + "plugin_host.exe").c_str(), host.c_str(), TRUE));
  const ToolRun text = Run({"--explain", "--host", host});
  EXPECT_EQ(text.status, 0u) << text.err;
  EXPECT_NE(text.out.find("  host               " + root_ + "caf\\xE9 host.exe\n"),
            std::string::npos)
      << text.out;
  EXPECT_EQ(text.out.find('\xE9'), std::string::npos);
  const nlohmann::json report = Report({"--host", host});
  ASSERT_TRUE(report.is_object());
  EXPECT_EQ(report["log"]["host"], root_ + "caf\uFFFD host.exe");
}

}  // namespace
