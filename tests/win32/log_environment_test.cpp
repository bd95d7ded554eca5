// The log environment and the level readers in a real folder tree: this
// executable is the host, and it loads the code under test from a DLL copied
// into the tree with LoadLibraryA, so that the library's own module, its path
// and the host's are the real ones.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "win32_test_files.h"

namespace {

using namespace testing_support;

constexpr char kProbe[] = "log_probe.dll";
constexpr char kHostName[] = "win32_log_test.exe";

struct Environment {
  std::string categoryName, logFolder, configFolder, tempFolder, logFileName;
};

// root\Host\plugins\dev\log_probe.dll, as in a host's plug-in folder; the
// tests add Logs and Config folders around it.
class LogTreeTest : public testing::Test {
 protected:
  void SetUp() override {
    static int count = 0;
    root_ = LongTempFolder() + "devicecode log tree " + std::to_string(::GetCurrentProcessId()) +
            "-" + std::to_string(++count) + "\\";
    library_ = root_ + "Host\\plugins\\dev\\";
    for (const char* folder : {"", "Host\\", "Host\\plugins\\", "Host\\plugins\\dev\\"}) {
      ASSERT_TRUE(::CreateDirectoryA((root_ + folder).c_str(), nullptr)) << root_ + folder;
    }
    ASSERT_TRUE(
        ::CopyFileA((ExecutableFolder() + kProbe).c_str(), (library_ + kProbe).c_str(), TRUE));
  }
  void TearDown() override {
    if (module_ != nullptr) ::FreeLibrary(module_);
    RemoveTree(root_);
  }
  void MakeFolder(const std::string& relative) {
    ASSERT_TRUE(::CreateDirectoryA((root_ + relative).c_str(), nullptr)) << relative;
  }
  void WriteFile(const std::string& path, const std::string& content) { WriteAll(path, content); }
  void Load() {
    module_ = ::LoadLibraryA((library_ + kProbe).c_str());
    ASSERT_NE(module_, nullptr) << ::GetLastError();
  }
  template <typename Function>
  Function Find(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
  }
  Environment Discover() {
    char fields[5][1024] = {};
    auto discover = Find<void (*)(char(*)[1024])>("ProbeDiscover");
    if (discover == nullptr) {
      ADD_FAILURE() << "no ProbeDiscover";
      return {};
    }
    discover(fields);
    return {fields[0], fields[1], fields[2], fields[3], fields[4]};
  }
  std::string root_;
  std::string library_;
  HMODULE module_ = nullptr;
};

TEST_F(LogTreeTest, LogsOneLevelUpConfigTwoLevelsUp) {
  MakeFolder("Host\\plugins\\Logs");
  MakeFolder("Host\\Config");
  ASSERT_NO_FATAL_FAILURE(Load());

  // The code in the DLL finds the DLL, not the host executable.
  auto ownModule = Find<void* (*)()>("ProbeOwnModule");
  ASSERT_NE(ownModule, nullptr);
  EXPECT_EQ(ownModule(), static_cast<void*>(module_));
  EXPECT_NE(ownModule(), static_cast<void*>(::GetModuleHandleA(nullptr)));

  const Environment e = Discover();
  EXPECT_EQ(e.categoryName, CategoryPrefix(::GetCurrentProcessId()) + kHostName + "->" + kProbe);
  EXPECT_EQ(e.logFileName, "win32_log_test.log");
  EXPECT_EQ(e.tempFolder, LongTempFolder());
  EXPECT_EQ(e.logFolder, library_ + "..\\Logs\\" + Today() + "\\");
  EXPECT_EQ(e.configFolder, library_ + "..\\..\\Config\\");
  // The day's folder is made, through the "..\" in its path.
  EXPECT_TRUE(IsFolder(root_ + "Host\\plugins\\Logs\\" + Today()));
}

TEST_F(LogTreeTest, WhereTheFoldersAreFound) {
  struct Case {
    const char* name;
    std::vector<std::string> folders;  // made under the root
    std::vector<std::string> files;    // made under the root
    std::string logFolder;             // after the library's folder
    std::string configFolder;          // after the library's folder
  };
  const std::string day = Today() + "\\";
  const Case cases[] = {
      {"BesideTheLibrary",
       {"Host\\plugins\\dev\\Logs", "Host\\plugins\\dev\\Config"},
       {},
       "Logs\\" + day,
       "Config\\"},
      // Only folders count: entries that are files are passed over.
      {"FilesAreNoFolders",
       {"Host\\plugins\\Logs", "Host\\plugins\\Config"},
       {"Host\\plugins\\dev\\Logs", "Host\\plugins\\dev\\Config"},
       "..\\Logs\\" + day,
       "..\\Config\\"},
      // Three levels up is too far: the library's folder stays, nothing is
      // made.
      {"ThreeLevelsUpIsTooFar", {"Logs", "Config"}, {}, "", ""},
      // Config is searched from the library's folder, not from where Logs
      // was found.
      {"ConfigFromTheBaseFolder",
       {"Host\\Logs", "Host\\plugins\\dev\\Config", "Host\\Config"},
       {},
       "..\\..\\Logs\\" + day,
       "Config\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    module_ = nullptr;
    SetUp();
    for (const auto& folder : c.folders) MakeFolder(folder);
    for (const auto& file : c.files) WriteFile(root_ + file, "not a folder");
    ASSERT_NO_FATAL_FAILURE(Load());
    const Environment e = Discover();
    EXPECT_EQ(e.logFolder, library_ + c.logFolder);
    EXPECT_EQ(e.configFolder, library_ + c.configFolder);
    if (c.logFolder.empty()) {
      EXPECT_FALSE(IsFolder(root_ + "Logs\\" + Today()));
    }
  }
}

TEST_F(LogTreeTest, LevelReadersOverRealFiles) {
  ASSERT_NO_FATAL_FAILURE(Load());
  auto option = Find<std::uint32_t (*)(const char*, const char*)>("ProbeOptionLevel");
  auto plugin = Find<std::uint32_t (*)()>("ProbePluginLevel");
  ASSERT_NE(option, nullptr);
  ASSERT_NE(plugin, nullptr);
  const std::string config = root_ + "Host\\Config\\";
  const std::string temp = root_ + "Temp\\";
  MakeFolder("Host\\Config");
  MakeFolder("Temp");

  // Nothing anywhere: the two defaults.
  EXPECT_EQ(option(config.c_str(), temp.c_str()), 500u);
  EXPECT_EQ(plugin(), 400u);

  // plugin.ini beside the DLL, found through the DLL's own path.
  WriteFile(library_ + "plugin.ini", "[Common]\r\nLogLevel=600\r\n");
  EXPECT_EQ(plugin(), 600u);

  // Only the first option file that exists is read: one in the temporary
  // folder counts while Config has none, and no longer once Config has one
  // without the key.
  WriteFile(temp + "OrvenOption.ini", "[Common]\r\nLogLevel=700\r\n");
  EXPECT_EQ(option(config.c_str(), temp.c_str()), 700u);
  WriteFile(config + "OrvenOption.ini", "[Other]\r\nLogLevel=800\r\n");
  EXPECT_EQ(option(config.c_str(), temp.c_str()), 500u);

  // A folder named like the option file counts as present.
  const std::string other = root_ + "Other\\";
  MakeFolder("Other");
  MakeFolder("Other\\OrvenOption.ini");
  EXPECT_EQ(option(other.c_str(), temp.c_str()), 500u);
}

}  // namespace
