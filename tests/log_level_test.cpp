// The option and plug-in log levels and their combination, over the fake.
#include "log/log_level.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/fake/fake_platform.h"

namespace {

using platform::fake::AddFile;
using platform::fake::AddFolder;
using platform::fake::State;

constexpr char kConfig[] = "C:\\Host\\Config\\";
constexpr char kTemp[] = "C:\\Temp\\";
constexpr char kPluginIni[] = "C:\\Host\\plugins\\dev\\plugin.ini";

struct Case {
  const char* name;
  const char* configFile;  // OrvenOption.ini in the config folder (null: none)
  const char* tempFile;    // OrvenOption.ini in the temporary folder
  const char* pluginFile;  // plugin.ini beside the library
  std::function<void(State&)> arrange;
  std::uint32_t option;
  std::uint32_t plugin;
  std::uint32_t combined;
};

TEST(LogLevelTest, OptionPluginAndCombinedLevels) {
  const auto none = [](State&) {};
  const std::string longName(300, 'x');
  const Case cases[] = {
      {"NoFiles", nullptr, nullptr, nullptr, none, 500, 400, 500},
      {"Plugin600", nullptr, nullptr, "[Common]\nLogLevel=600\n", none, 500, 600, 600},
      {"Option300TakesThePluginDefault", "[Common]\nLogLevel=300\n", nullptr, nullptr, none, 300,
       400, 400},
      {"Option700Plugin600", "[Common]\nLogLevel=700\n", nullptr, "[Common]\nLogLevel=600\n", none,
       700, 600, 700},
      {"BothZero", "[Common]\nLogLevel=0\n", nullptr, "[Common]\nLogLevel=0\n", none, 0, 0, 0},
      {"OptionOnlyInTemp", nullptr, "[Common]\nLogLevel=700\n", nullptr, none, 700, 400, 700},
      {"ConfigCopyWithoutKeyHidesTempCopy", "[Common]\n", "[Common]\nLogLevel=700\n", nullptr, none,
       500, 400, 500},
      {"FolderNamedOrvenOptionIniHidesTempCopy", nullptr, "[Common]\nLogLevel=700\n", nullptr,
       [](State&) { AddFolder("C:\\Host\\Config\\OrvenOption.ini\\"); }, 500, 400, 500},
      {"ComparedUnsignedOptionWins", "[Common]\nLogLevel=4294967295\n", nullptr,
       "[Common]\nLogLevel=600\n", none, 4294967295u, 600, 4294967295u},
      {"ComparedUnsignedPluginWins", "[Common]\nLogLevel=600\n", nullptr, "[Common]\nLogLevel=-1\n",
       none, 600, 4294967295u, 4294967295u},
      {"LibraryModuleNotFound", nullptr, nullptr, "[Common]\nLogLevel=600\n",
       [](State& s) { s.ownModule = nullptr; }, 500, 400, 500},
      // Without a library path there is no folder to look in: a plugin.ini at
      // the root is not read.
      {"LibraryPathFails", nullptr, nullptr, "[Common]\nLogLevel=600\n",
       [](State& s) {
         s.ownModulePath.clear();
         AddFile("\\plugin.ini", "[Common]\nLogLevel=700\n");
       },
       500, 400, 500},
      {"LibraryPathTooLong", nullptr, nullptr, nullptr,
       [&](State& s) {
         s.ownModulePath = "C:\\" + longName + "\\lib.dll";
         AddFile("C:\\" + longName.substr(0, 255) + "\\plugin.ini", "[Common]\nLogLevel=700\n");
       },
       500, 400, 500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::fake::Reset();
    AddFolder(kConfig);
    AddFolder(kTemp);
    AddFolder("C:\\Host\\plugins\\dev\\");
    if (c.configFile != nullptr) AddFile(std::string(kConfig) + "OrvenOption.ini", c.configFile);
    if (c.tempFile != nullptr) AddFile(std::string(kTemp) + "OrvenOption.ini", c.tempFile);
    if (c.pluginFile != nullptr) AddFile(kPluginIni, c.pluginFile);
    c.arrange(platform::fake::Get());

    EXPECT_EQ(devicecode::ReadOptionLogLevel(kConfig, kTemp), c.option);
    EXPECT_EQ(devicecode::ReadPluginLogLevel(), c.plugin);
    EXPECT_EQ(devicecode::GetCombinedLogLevel(kConfig, kTemp), c.combined);
  }
}

TEST(LogLevelTest, MissingFilesAreNotRead) {
  platform::fake::Reset();
  EXPECT_EQ(devicecode::GetCombinedLogLevel(kConfig, kTemp), 500u);
  EXPECT_EQ(platform::fake::Get().profileReads, 0u);
}

}  // namespace
